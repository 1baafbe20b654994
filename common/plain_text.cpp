#include "common/plain_text.h"

#include <array>
#include <cstring>

#include "common/hit_snippet.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

constexpr std::string_view kBodyMark = "<!--@BODY-->";
constexpr std::string_view kHtmlEnd = "</html>";
constexpr std::string_view kNbsp = "&nbsp;";
constexpr std::string_view kTitledBlock = "class=\"titled-block\">";

// What the copy loop has to look at; every other byte is copied as it is.
// Plain bytes and blanks come first: copyWords takes both. A NUL ends the
// text.
enum ByteKind : unsigned char { kPlain, kBlank, kTagOpen, kAmpersand, kEnd };

constexpr std::array<unsigned char, 256> kByteKind = [] {
    std::array<unsigned char, 256> kind{};
    kind['<'] = kTagOpen;
    kind['&'] = kAmpersand;
    kind[0] = kEnd;
    for (const unsigned char c : {' ', '\n', '\r', '\t'}) kind[c] = kBlank;
    return kind;
}();

// The Latin-1 upper case of every byte, so that the search compares by
// table instead of by call.
const std::array<unsigned char, 256>& upperTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> upper{};
        for (int c = 0; c < 256; ++c) upper[c] = static_cast<unsigned char>(ltoupper(c));
        return upper;
    }();
    return table;
}

bool isChapterNumberSpanAt(std::string_view html, size_t pos) {
    return startsCaseBlindAt(html, pos, "<span class=\"CHAPNUMBER\"") ||
           startsCaseBlindAt(html, pos, "<span class=CHAPNUMBER");
}

// A chapter-title span inside a titled block is the block's caption, not
// a heading.
bool isHeadingTitleSpanAt(std::string_view html, size_t pos) {
    return isChapterTitleSpanAt(html, pos) &&
           !(pos >= kTitledBlock.size() && html.substr(pos - kTitledBlock.size(), kTitledBlock.size()) == kTitledBlock);
}

// Records what the tag at pos does to the headings; at is the plain-text
// position reached.
void noteHeading(std::string_view html, size_t pos, size_t at, PlainTextHeadings headings,
                 std::vector<PlainTextTitle>& titles) {
    // Only "<span" and "</span></h" matter: most tags go at their second byte.
    const unsigned char second = pos + 1 < html.size() ? asciiLower(static_cast<unsigned char>(html[pos + 1])) : 0;
    if (second != 's' && second != '/') return;
    const bool open = !titles.empty() && titles.back().end == std::string::npos;
    if (isChapterTitleEndAt(html, pos)) {
        if (open) titles.back().end = at;
        return;
    }
    bool opens = false;
    if (headings == PlainTextHeadings::kChapterNumbers) {
        // A numbered heading's title span belongs to the number before it.
        opens = isChapterNumberSpanAt(html, pos) || (!open && isHeadingTitleSpanAt(html, pos));
    } else {
        opens = isHeadingTitleSpanAt(html, pos);
    }
    if (opens) titles.push_back({at, std::string::npos});
}

// The first position at or after from where phrase stands without regard
// to Latin-1 case, npos when none.
size_t findCaseBlindLatin1(std::string_view text, std::string_view phrase, size_t from) {
    if (phrase.empty()) return std::string_view::npos;
    const auto& upper = upperTable();
    const unsigned char first = static_cast<unsigned char>(phrase[0]);
    const unsigned char other = upper[first] != first ? upper[first] : static_cast<unsigned char>(ltolower(first));
    return findByFirstByte(text, from, phrase.size(), first, other, [&](size_t at) {
        for (size_t i = 1; i < phrase.size(); ++i)
            if (upper[static_cast<unsigned char>(text[at + i])] != upper[static_cast<unsigned char>(phrase[i])])
                return false;
        return true;
    });
}

// Copies words and blanks from text[p] on to w, a run of blanks as one,
// up to the next '<' or '&' or size; returns where it stopped. The hot
// loop: w and last stay in registers here, and word ends, too frequent to
// predict, cost no branch (a blank after a blank is written, then written
// over).
size_t copyWords(const char* text, size_t p, size_t size, char*& out, char& lastOut) {
    char* w = out;
    char last = lastOut;
    for (; p < size; ++p) {
        const char c = text[p];
        const unsigned char kind = kByteKind[static_cast<unsigned char>(c)];
        if (kind > kBlank) break;
        const bool isBlank = kind == kBlank;
        const char put = isBlank ? ' ' : c;
        *w = put;
        w += !(isBlank && last == ' ');
        last = put;
    }
    out = w;
    lastOut = last;
    return p;
}

}  // namespace

std::string htmlToPlainText(std::string_view html, std::vector<PlainTextTitle>* titles, PlainTextHeadings headings) {
    // The copy stops at a NUL itself, so only a mark after one needs a look.
    size_t from = findCaseBlind(html, 0, kBodyMark);
    if (from == std::string_view::npos || std::memchr(html.data(), '\0', from)) from = 0;

    // Every byte written stands for at least one byte read (a blank for a
    // tag, an entity or a run), so the text fits in what follows from.
    std::string out(html.size() - from, '\0');
    char* const base = out.data();
    char* w = base;
    char last = '\0';  // the last byte written; no blank before the first
    const char* const text = html.data();
    const size_t size = html.size();
    // The text ends at the first "</html>" after from, wherever it stands:
    // every '<' is either a tag's start or inside a skipped tag, and both
    // are looked at.
    auto isEnd = [&](size_t at) {
        return at + 1 < size && text[at + 1] == '/' && startsCaseBlindAt(html, at, kHtmlEnd);
    };
    for (size_t p = from; p < size;) {
        p = copyWords(text, p, size, w, last);
        if (p >= size) break;
        const char c = text[p];
        const unsigned char kind = kByteKind[static_cast<unsigned char>(c)];
        if (kind == kEnd) break;
        if (kind == kAmpersand) {
            if (html.compare(p, kNbsp.size(), kNbsp) == 0) {
                if (last != ' ') *w++ = last = ' ';
                p += kNbsp.size();
            } else {
                *w++ = last = c;
                ++p;
            }
            continue;
        }
        if (isEnd(p)) break;
        if (titles) noteHeading(html, p, static_cast<size_t>(w - base), headings, *titles);
        // Tags are short: a byte loop beats a call.
        size_t q = p + 1;
        while (q < size && text[q] != '>') {
            if ((text[q] == '<' && isEnd(q)) || text[q] == '\0') {
                q = size;
                break;
            }
            ++q;
        }
        p = q < size ? q + 1 : size;
        // A word right after a tag stays apart from the word before it.
        if (p < size && kByteKind[static_cast<unsigned char>(text[p])] == kPlain && w != base &&
            !isDelimiter(static_cast<unsigned char>(last)) && !isDelimiter(static_cast<unsigned char>(text[p])))
            *w++ = last = ' ';
    }
    out.resize(static_cast<size_t>(w - base));
    // A title opened where a blank came next starts after that blank.
    if (titles)
        for (PlainTextTitle& t : *titles)
            while (t.start < out.size() && t.start < t.end && out[t.start] == ' ') ++t.start;
    return out;
}

size_t findPhrase(std::string_view text, std::string_view phrase, size_t* stoppedAt) {
    if (stoppedAt) *stoppedAt = 0;
    if (phrase.empty()) return std::string_view::npos;
    const bool openStart = isDelimiter(static_cast<unsigned char>(phrase.front()));
    const bool openEnd = isDelimiter(static_cast<unsigned char>(phrase.back()));
    for (size_t from = 0;;) {
        const size_t at = findCaseBlindLatin1(text, phrase, from);
        if (at == std::string_view::npos) return at;
        if (stoppedAt) *stoppedAt = at;
        const size_t after = at + phrase.size();
        bool before = openStart || at == 0 || isDelimiter(static_cast<unsigned char>(text[at - 1]));
        bool behind = openEnd || after >= text.size() || isDelimiter(static_cast<unsigned char>(text[after]));
        if (before && behind) return at;
        from = at + 1;
    }
}

}  // namespace ruva
