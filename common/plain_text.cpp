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
enum ByteKind : unsigned char { kPlain, kTagOpen, kAmpersand, kBlank };

constexpr std::array<unsigned char, 256> kByteKind = [] {
    std::array<unsigned char, 256> kind{};
    kind['<'] = kTagOpen;
    kind['&'] = kAmpersand;
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

}  // namespace

std::string htmlToPlainText(std::string_view html, std::vector<PlainTextTitle>* titles, PlainTextHeadings headings) {
    html = html.substr(0, html.find('\0'));
    size_t from = findCaseBlind(html, 0, kBodyMark);
    if (from == std::string_view::npos) from = 0;
    size_t to = findCaseBlind(html, from, kHtmlEnd);
    if (to == std::string_view::npos) to = html.size();

    // Every byte written stands for at least one byte read (a blank for a
    // tag, an entity or a run), so the text fits in to - from.
    std::string out(to - from, '\0');
    char* const base = out.data();
    char* w = base;
    bool afterTag = false;
    for (size_t p = from; p < to;) {
        const char c = html[p];
        switch (kByteKind[static_cast<unsigned char>(c)]) {
            case kTagOpen: {
                if (titles) noteHeading(html, p, static_cast<size_t>(w - base), headings, *titles);
                const void* close = std::memchr(html.data() + p, '>', to - p);
                p = close ? static_cast<size_t>(static_cast<const char*>(close) - html.data()) + 1 : to;
                afterTag = true;
                continue;
            }
            case kBlank:
                if (w == base || w[-1] != ' ') *w++ = ' ';
                ++p;
                break;
            case kAmpersand:
                if (html.compare(p, kNbsp.size(), kNbsp) == 0) {
                    if (w == base || w[-1] != ' ') *w++ = ' ';
                    p += kNbsp.size();
                    break;
                }
                [[fallthrough]];
            default: {
                if (afterTag && w != base && !isDelimiter(static_cast<unsigned char>(w[-1])) &&
                    !isDelimiter(static_cast<unsigned char>(c)))
                    *w++ = ' ';
                *w++ = c;
                // The rest of a run of ordinary bytes goes in one copy.
                size_t end = ++p;
                while (end < to && kByteKind[static_cast<unsigned char>(html[end])] == kPlain) ++end;
                std::memcpy(w, html.data() + p, end - p);
                w += end - p;
                p = end;
                break;
            }
        }
        afterTag = false;
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
