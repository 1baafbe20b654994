#include "common/docmodel/docno.h"

#include <cstring>
#include <initializer_list>
#include <string_view>

#include "common/text.h"
#include "common/text_clean.h"

namespace ruva {

namespace {

constexpr std::string_view kRefusedInNumber = "_@${[]}?!#=`^~";

std::string cut(std::string_view text, size_t max) {
    return std::string(text.substr(0, max));
}

void assignType(std::optional<std::string>& out, std::optional<std::string_view> type) {
    if (type)
        out.emplace(*type);
    else
        out.reset();
}

// The fields of a split name, as views into it.
struct Fields {
    std::string_view docno;
    std::string_view rev;
    std::optional<std::string_view> ftype;
};

enum class Split { kNoField, kNoRev, kOk };

// Fields are the non-empty runs between dots, so leading and repeated dots
// are skipped; only two dots right after the number say "empty revision".
Split splitFields(const char* fname, Fields& out) {
    if (!fname) return Split::kNoField;
    const std::string_view name(fname, strnlen(fname, kDocnoNameMax));
    size_t pos = 0;
    auto nextField = [&](std::string_view& field) {
        while (pos < name.size() && name[pos] == '.') ++pos;
        if (pos == name.size()) return false;
        size_t end = name.find('.', pos);
        if (end == std::string_view::npos) end = name.size();
        field = name.substr(pos, end - pos);
        pos = end;
        return true;
    };
    std::string_view field;
    if (!nextField(field)) return Split::kNoField;
    out.docno = field.substr(0, kDocnoFieldMax);
    if (name.substr(pos, 2) != "..") {
        if (!nextField(field)) return Split::kNoRev;
        out.rev = field.substr(0, kDocnoRevMax);
    }
    if (nextField(field)) out.ftype = field.substr(0, kDocnoTypeMax);
    return Split::kOk;
}

// The parts of a number; all but rev are views into stem, the number
// without spaces and controls. Names are split per listed row, so nothing
// here allocates.
struct Parts {
    Parts() = default;
    Parts(const Parts&) = delete;
    Parts& operator=(const Parts&) = delete;

    char stem[kDocnoPartMax];
    std::string_view prefix, decclass, ind, variant, lang, rev;
};

bool isLanguageChar(unsigned char c) {
    return isAsciiAlpha(c) || c == '?' || c == '*';
}

// '_' in a part of stem is written '/'.
void underscoresToSlashes(Parts& parts, std::string_view part) {
    if (part.empty()) return;
    char* p = parts.stem + (part.data() - parts.stem);
    for (size_t i = 0; i < part.size(); ++i) {
        if (p[i] == '_') p[i] = '/';
    }
}

bool parseParts(const char* fname, Parts& parts, Fields& fields) {
    if (splitFields(fname, fields) != Split::kOk) return false;
    parts.rev = fields.rev.substr(0, kDocnoPartMax);
    size_t n = 0;
    for (const char c : fields.docno) {
        if (n == kDocnoPartMax) break;
        if (!isAsciiSpace(c) && !isAsciiControl(c)) parts.stem[n++] = c;
    }
    std::string_view s(parts.stem, n);

    // Language: the last U or u after the first character starts it and ends
    // the stem; without one, the letters the stem begins with (stem kept).
    size_t u = s.size();
    while (u > 1 && s[u - 1] != 'U' && s[u - 1] != 'u') --u;
    if (u > 1) {
        const size_t start = u - 1;
        size_t end = start;
        while (end < s.size() && isLanguageChar(s[end])) ++end;
        parts.lang = s.substr(start, end - start);
        s = s.substr(0, start);
    } else {
        size_t end = 0;
        while (end < s.size() && isAsciiAlpha(s[end])) ++end;
        parts.lang = s.substr(0, end);
    }

    // Prefix: "1/", "12_" and the like; the number continues after it.
    const bool hasColon = s.find(':') != std::string_view::npos;
    const size_t slash = s.find('/');
    size_t p = 0;
    if (slash != std::string_view::npos && slash <= 4 && !hasColon) {
        parts.prefix = s.substr(0, slash);
        p = slash + 1;
    } else {
        for (size_t i = 0; i < 5 && i < s.size(); ++i) {
            if (i >= 1 && (s[i] == '/' || s[i] == '_')) {
                parts.prefix = s.substr(0, i);
                p = i + 1;
                break;
            }
            if (!isAsciiDigit(s[i]) && s[i] != '-') break;
        }
    }

    if (!hasColon && p < s.size() && isAsciiDigit(s[p])) {
        // A class of six digits or more is no class; the scan still passes six.
        size_t q = p;
        while (q < s.size() && q - p < 6 && isAsciiDigit(s[q])) ++q;
        if (q - p < 6) parts.decclass = s.substr(p, q - p);
        if (q < s.size() && (s[q] == '-' || (s[q] == '_' && !parts.decclass.empty()))) ++q;
        // The dash skipped after the class never starts a variant.
        const size_t dash = s.rfind('-');
        if (dash != std::string_view::npos && dash >= q) {
            parts.ind = s.substr(q, dash - q);
            parts.variant = s.substr(dash);
        } else {
            parts.ind = s.substr(q);
        }
    } else {
        size_t end = s.find(hasColon ? ':' : '-', p);
        end = end == std::string_view::npos ? s.size() : end + 1;
        parts.ind = s.substr(p, end - p);
    }
    underscoresToSlashes(parts, parts.ind);
    underscoresToSlashes(parts, parts.variant);
    return true;
}

// The display form before its cut, built on the stack. It holds the stem's
// at most 64 characters, a '/', a blank and a '-' at the class and at most two
// blanks per digit of the number: 200 bytes at most.
class DisplayText {
public:
    void put(char c) {
        if (size_ < sizeof text_) text_[size_++] = c;
    }
    void put(std::string_view s) {
        for (const char c : s) put(c);
    }
    void insertBlank(size_t at) {
        if (size_ == sizeof text_ || at > size_) return;
        std::memmove(text_ + at + 1, text_ + at, size_ - at);
        text_[at] = ' ';
        ++size_;
    }
    size_t size() const { return size_; }
    char back() const { return text_[size_ - 1]; }
    std::string_view view() const { return {text_, size_}; }

private:
    char text_[256];
    size_t size_ = 0;
};

void appendDisplayForm(std::string& out, const Parts& parts) {
    DisplayText text;
    if (!parts.prefix.empty()) {
        text.put(parts.prefix);
        text.put('/');
    }
    if (!parts.decclass.empty()) {
        if (parts.decclass.size() < 5) {
            text.put(parts.decclass);
        } else {
            text.put(parts.decclass.substr(0, 3));
            text.put(' ');
            text.put(parts.decclass.substr(3));
        }
        if (!parts.ind.starts_with('/') && text.back() != '-') text.put('-');
    }
    // Digits group from the end of their run: the fifth digit in a row puts a
    // blank before the fourth, once per run ("1234567" -> "123 4567").
    int run = 0;
    size_t fourth = 0;
    unsigned char prev = 0;
    for (const char ch : parts.ind) {
        const unsigned char c = ch;
        if (isAsciiDigit(c)) {
            if (isAsciiAlpha(prev)) text.put(' ');
            ++run;
            if (run == 4) fourth = text.size();
            if (run == 5) text.insertBlank(fourth);
        } else {
            run = 0;
        }
        text.put(static_cast<char>(c));
        prev = c;
    }
    text.put(parts.variant);
    if (!parts.lang.empty()) {
        text.put(' ');
        text.put(parts.lang);
    }
    out.append(text.view().substr(0, kDocnoDisplayMax));
}

// Appends text without its white space, through map.
template <typename Map>
void appendWithoutSpace(std::string& out, std::string_view text, Map map) {
    for (const char ch : text) {
        if (!isAsciiSpace(ch)) out += map(static_cast<unsigned char>(ch));
    }
}

bool isUpperAscii(unsigned char c) {
    return c >= 'A' && c <= 'Z';
}

// Case-blind match of word at text[pos].
bool matchesAt(std::string_view text, size_t pos, std::string_view word) {
    if (text.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (asciiUpper(text[pos + i]) != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

// Value after the first tag "<NAME" (then '>' or a blank) of the tag names
// or marker ":NAME" (then '.' or a blank), cut to max.
std::string taggedValue(std::string_view text, std::initializer_list<std::string_view> tagNames,
                        std::string_view markerName, size_t max) {
    const std::initializer_list<std::string_view> markerNames = {markerName};
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '<' && text[i] != ':') continue;
        const bool tag = text[i] == '<';
        for (const std::string_view name : tag ? tagNames : markerNames) {
            if (!matchesAt(text, i + 1, name)) continue;
            const size_t after = i + 1 + name.size();
            if (after >= text.size()) continue;
            const char next = text[after];
            size_t start;
            if (tag && (next == '>' || next == ' ')) {
                start = text.find('>', after);
                if (start == std::string_view::npos) return "";
                ++start;
            } else if (!tag && (next == '.' || next == ' ')) {
                start = after + 1;
            } else {
                continue;
            }
            while (start < text.size() && text[start] == ' ') ++start;
            size_t end = text.find_first_of(tag ? "<" : ":<", start);
            if (end == std::string_view::npos) end = text.size();
            std::string value = cut(text.substr(start, end - start), max);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            return value;
        }
    }
    return "";
}

}  // namespace

std::optional<std::string> docnoToFilename(const char* docno, const char* rev, const char* ftype) {
    if (!docno) return std::nullopt;
    while (isAsciiSpace(*docno)) ++docno;
    const std::string_view num(docno);
    if (num.empty() || num.find_first_of(kRefusedInNumber) != std::string_view::npos) return std::nullopt;
    if (num.find_first_of("0123456789") == std::string_view::npos) return std::nullopt;

    std::string name;
    for (size_t i = 0; i < num.size(); ++i) {
        const unsigned char c = num[i];
        if (c >= 0x80 || isAsciiSpace(c) || isAsciiControl(c)) continue;
        name += c == '/' ? '_' : static_cast<char>(c);
        // The language code is lower case in file names; "CUA" (U after a
        // capital) and a U right at the start are part of the number.
        if (c == 'U' && i >= 3 && !isUpperAscii(num[i - 1]) && i + 1 < num.size() &&
            isAsciiAlpha(num[i + 1])) {
            while (i + 1 < num.size() && isAsciiAlpha(num[i + 1])) name += asciiLower(num[++i]);
        }
    }

    name += '.';
    if (rev) {
        while (isAsciiSpace(*rev)) ++rev;
        appendWithoutSpace(name, rev, [](unsigned char c) { return static_cast<char>(c == '/' ? '_' : c); });
    }
    name += '.';
    if (ftype) {
        const size_t before = name.size();
        appendWithoutSpace(name, ftype, [](unsigned char c) { return static_cast<char>(ltolower(c)); });
        if (name.size() == before) name += '*';
    }
    return name;
}

int splitDocnoFilename(const char* fname, std::string* docno, std::string* rev,
                       std::optional<std::string>* ftype) {
    Fields fields;
    const Split result = splitFields(fname, fields);
    if (result == Split::kNoField) return 0;
    if (docno) *docno = fields.docno;
    if (rev) *rev = fields.rev;
    if (ftype) assignType(*ftype, fields.ftype);
    return result == Split::kOk ? 1 : 0;
}

int filenameToDocnoParts(const char* fname, std::string* prefix, std::string* decclass, std::string* ind,
                         std::string* variant, std::string* lang, std::string* rev) {
    for (std::string* out : {prefix, decclass, ind, variant, lang, rev}) {
        if (out) out->clear();
    }
    Parts parts;
    Fields fields;
    if (!parseParts(fname, parts, fields)) return 0;
    if (prefix) *prefix = parts.prefix;
    if (decclass) *decclass = parts.decclass;
    if (ind) *ind = parts.ind;
    if (variant) *variant = parts.variant;
    if (lang) *lang = parts.lang;
    if (rev) *rev = parts.rev;
    return 1;
}

int filenameToDocno(const char* fname, std::string* docno, std::string* rev,
                    std::optional<std::string>* ftype) {
    if (docno) docno->clear();
    if (rev) rev->clear();
    if (ftype) ftype->reset();
    Parts parts;
    Fields fields;
    if (!parseParts(fname, parts, fields)) return 0;
    if (docno) appendDisplayForm(*docno, parts);
    if (rev) {
        *rev = parts.rev;
        for (char& c : *rev) {
            if (c == '_') c = '/';
        }
    }
    if (ftype) assignType(*ftype, fields.ftype);
    return 1;
}

int docnoLooksInvalid(const char* docno) {
    if (!docno) return 1;
    int nonBlank = 0;
    int digitsInRow = 0;
    bool plausible = false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(docno); *p && nonBlank < 60; ++p) {
        const unsigned char c = *p;
        if (c == ' ') continue;
        if (!isAsciiAlnum(c) && c != '+' && c != '-' && c != '/') return 1;
        ++nonBlank;
        if (isAsciiDigit(c)) {
            ++digitsInRow;
            continue;
        }
        if (c == '-' && digitsInRow >= 4) plausible = true;
        digitsInRow = 0;
    }
    return plausible && nonBlank < 60 ? 0 : 1;
}

int docnoToArtRev(const char* docno, std::string& art, std::string& rev) {
    art.clear();
    rev.clear();
    if (!docno) return 0;
    art = docno;
    while (!art.empty() && isAsciiSpace(art.back())) art.pop_back();
    const size_t blank = art.rfind(' ');
    if (blank == std::string::npos) return 0;
    const std::string_view word = std::string_view(art).substr(blank + 1);
    const bool language = word.size() >= 2 && word[0] == 'U' && isAsciiAlpha(word[1]);
    if (!language && (isAsciiAlpha(word[0]) || word[0] == '*' || word[0] == '?')) {
        rev = word;
        art.resize(blank);
    }
    return rev.empty() ? 0 : 1;
}

int getDocnoRev(const char* text, size_t len, std::string& docno, std::string& rev) {
    docno.clear();
    rev.clear();
    if (!text) return 0;
    std::string plain;
    collectAscii(text, len, plain, len);
    docno = taggedValue(plain, {"DOC-NO", "DOCNO"}, "DOCNO", 32);
    rev = taggedValue(plain, {"REV"}, "REV", 8);
    return docno.empty() ? 0 : 1;
}

size_t collectAscii(const char* in, size_t inlen, std::string& out, size_t max) {
    out.clear();
    if (!in) return 0;
    for (size_t i = 0; i < inlen && out.size() < max; ++i) {
        const unsigned char c = in[i];
        if (!isAsciiControl(c) && c <= 'z') out += static_cast<char>(c);
    }
    return out.size();
}

}  // namespace ruva
