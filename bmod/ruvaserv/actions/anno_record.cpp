#include "bmod/ruvaserv/actions/anno_record.h"

#include <algorithm>
#include <optional>

#include "common/crc32.h"
#include "common/eucjp.h"
#include "common/string_format.h"
#include "common/text.h"

namespace ruva {

namespace {

bool isHexDigit(unsigned char c) {
    return isAsciiDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

// isfnamestr over a view: a NUL would end the C string early and let the
// rest through unchecked.
bool plainName(std::string_view name) {
    return name.find('\0') == std::string_view::npos && isfnamestr(std::string(name).c_str(), 0);
}

bool startsAlnum(std::string_view name) {
    return !name.empty() && isAsciiAlnum(static_cast<unsigned char>(name.front()));
}

// The index just after the ';' of a character reference beginning at amp,
// none when no complete reference begins there.
std::optional<size_t> referenceEnd(std::string_view text, size_t amp) {
    size_t at = amp + 1;
    if (at >= text.size() || text[at] != '#') return std::nullopt;
    ++at;
    const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
    if (hex) ++at;
    const size_t digits = at;
    while (at < text.size() && (hex ? isHexDigit(static_cast<unsigned char>(text[at]))
                                    : isAsciiDigit(static_cast<unsigned char>(text[at])))) {
        ++at;
    }
    if (at == digits || at >= text.size() || text[at] != ';') return std::nullopt;
    return at + 1;
}

std::string cleaned(std::string_view field, bool keepLineEnds) {
    std::string out;
    out.reserve(field.size());
    for (char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        const bool lineEnd = c == '\r' || c == '\n' || c == '\t';
        if (byte == 0 || (isAsciiControl(byte) && !(keepLineEnds && lineEnd))) continue;
        out += c;
    }
    return out;
}

// The remaining component text of a chapter reference; none once run out.
using Component = std::optional<std::string_view>;

std::string_view leadingNumber(const Component& rest) {
    if (!rest) return {};
    size_t end = 0;
    while (end < rest->size() && isAsciiDigit(static_cast<unsigned char>((*rest)[end]))) ++end;
    std::string_view digits = rest->substr(0, end);
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    return digits;
}

Component pastNextDot(const Component& rest) {
    if (!rest) return std::nullopt;
    const size_t dot = rest->find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    return rest->substr(dot + 1);
}

}  // namespace

size_t annoTextCut(std::string_view text, bool eucJp) {
    if (text.size() <= kAnnoTextMax) return text.size();
    size_t cut = kAnnoTextMax;
    if (eucJp) {
        // Characters are found from the start; a trail byte looks like a
        // lead byte. The text runs past the cut, so eucsinc's look at the
        // next byte stays inside it.
        size_t at = 0;
        while (at < kAnnoTextMax) {
            const size_t next = static_cast<size_t>(eucsinc(text.data() + at) - text.data());
            if (next > kAnnoTextMax) break;
            at = next;
        }
        cut = at;
    }
    const size_t amp = text.rfind('&', cut == 0 ? 0 : cut - 1);
    if (amp != std::string_view::npos && amp < cut) {
        const std::optional<size_t> end = referenceEnd(text, amp);
        if (end && *end > cut) cut = amp;
    }
    return cut;
}

bool annoDocIsJapanese(std::string_view docname) {
    const std::string_view stem = docname.substr(0, docname.find('.'));
    return stem.size() > 3 && annoNamesEqual(stem.substr(stem.size() - 3), "Uja");
}

std::array<std::string, kAnnoFieldCount> annoRecordFields(const AnnoStruct& as, bool eucJp) {
    std::string text = cleaned(as.text, true);
    text.resize(annoTextCut(text, eucJp));
    return {cleaned(as.header, false),  cleaned(as.user, false),    std::move(text),
            cleaned(as.chapter, false), cleaned(as.date, false),    cleaned(as.time, false),
            cleaned(as.docrev, false),  cleaned(as.version, false), cleaned(as.type, false),
            cleaned(as.scope, false)};
}

std::string encodeAnnoRecord(const AnnoStruct& as, bool eucJp) {
    std::string bytes;
    for (const std::string& field : annoRecordFields(as, eucJp)) {
        bytes += field;
        bytes += '\0';
    }
    return bytes;
}

AnnoStruct decodeAnnoRecord(std::string_view bytes) {
    std::array<std::string_view, kAnnoFieldCount> fields{};
    for (size_t i = 0; i < kAnnoFieldCount && !bytes.empty(); ++i) {
        const size_t nul = bytes.find('\0');
        fields[i] = bytes.substr(0, nul);
        bytes.remove_prefix(nul == std::string_view::npos ? bytes.size() : nul + 1);
    }
    AnnoStruct as;
    as.header = fields[0];
    as.user = fields[1];
    as.text = fields[2];
    as.chapter = fields[3];
    as.date = fields[4];
    as.time = fields[5];
    as.docrev = fields[6];
    // Field 8 (version) and field 10 (scope) have one value only.
    as.type = fields[8];
    return as;
}

std::string annoVersion(uint32_t crc) {
    return format("%08x", static_cast<unsigned>(crc));
}

std::string annoVersionOf(std::string_view memberBytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(memberBytes.data());
    return annoVersion(crc32Update(0xFFFFFFFFu, data, memberBytes.size()) ^ 0xFFFFFFFFu);
}

int checkAnnoDocName(std::string_view fn) {
    if (fn.size() > kAnnoNameMax || !plainName(fn) || !startsAlnum(fn)) return kAnnoMsgBadName;
    const size_t first = fn.find('.');
    const size_t last = fn.rfind('.');
    const bool twoDots = first != std::string_view::npos && first != last && fn.find('.', first + 1) == last;
    if (!twoDots || first == 0 || last + 1 == fn.size()) return kAnnoMsgNotDocument;
    return 0;
}

int checkAnnoChapter(std::string_view docname, std::string_view an, bool numeric) {
    if (!plainName(an) || !startsAlnum(an)) return kAnnoMsgBadChapter;
    if (annoMemberName(docname, an).size() > kAnnoNameMax) return kAnnoMsgBadChapter;
    if (numeric) {
        const bool digitsAndDots = std::all_of(an.begin(), an.end(), [](char c) {
            return c == '.' || isAsciiDigit(static_cast<unsigned char>(c));
        });
        if (an.size() > kAnnoChapterMax || !digitsAndDots || !isAsciiDigit(static_cast<unsigned char>(an[0])))
            return kAnnoMsgBadChapter;
    }
    return 0;
}

bool annoMemberNameOk(std::string_view name) {
    return name.size() <= kAnnoNameMax && plainName(name) && startsAlnum(name);
}

std::string annoMemberName(std::string_view docname, std::string_view chapter) {
    const size_t dot = docname.rfind('.');
    if (dot == std::string_view::npos) return std::string(docname);
    return std::string(docname.substr(0, dot + 1)) + std::string(chapter);
}

std::string annoListPattern(std::string_view docname, bool allRevs) {
    std::string_view base = docname;
    if (allRevs) {
        const size_t dot = base.rfind('.');
        if (dot != std::string_view::npos) base = base.substr(0, dot);
    }
    const size_t dot = base.rfind('.');
    if (dot == std::string_view::npos) return std::string(base) + ".*";
    return std::string(base.substr(0, dot + 1)) + "*";
}

std::string annoChapterOf(std::string_view member) {
    const size_t first = member.find('.');
    const size_t second = first == std::string_view::npos ? first : member.find('.', first + 1);
    if (second == std::string_view::npos) return "0";
    return std::string(member.substr(second + 1));
}

bool annoNamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && annoRevCompare(a, b) == 0;
}

int annoRevCompare(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const unsigned char x = asciiUpper(static_cast<unsigned char>(a[i]));
        const unsigned char y = asciiUpper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

int chapcmp(std::string_view a, std::string_view b) {
    Component ra = a;
    Component rb = b;
    while (ra || rb) {
        // Digit runs compare by length, then bytes, once leading zeros are
        // gone: no run is too long for this.
        const std::string_view na = leadingNumber(ra);
        const std::string_view nb = leadingNumber(rb);
        if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
        if (const int c = na.compare(nb); c != 0) return c < 0 ? -1 : 1;
        ra = pastNextDot(ra);
        rb = pastNextDot(rb);
    }
    return 0;
}

}  // namespace ruva
