#include "common/plain_text.h"

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

bool isBlank(char c) {
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

void addBlank(std::string& out) {
    if (out.empty() || out.back() != ' ') out += ' ';
}

}  // namespace

std::string htmlToPlainText(std::string_view html, std::vector<PlainTextTitle>* titles, PlainTextHeadings headings) {
    // The chapter-number headings are the phrase filter's; not built yet.
    (void)headings;
    html = html.substr(0, html.find('\0'));
    size_t from = findCaseBlind(html, 0, kBodyMark);
    if (from == std::string_view::npos) from = 0;
    size_t to = findCaseBlind(html, from, kHtmlEnd);
    if (to == std::string_view::npos) to = html.size();

    std::string out;
    out.reserve(to - from);
    bool afterTag = false;
    for (size_t p = from; p < to;) {
        const char c = html[p];
        if (c == '<') {
            if (titles) {
                bool opens = isChapterTitleSpanAt(html, p) &&
                             !(p >= kTitledBlock.size() && html.substr(p - kTitledBlock.size(), kTitledBlock.size()) == kTitledBlock);
                if (opens) titles->push_back({out.size(), std::string::npos});
                if (isChapterTitleEndAt(html, p) && !titles->empty() && titles->back().end == std::string::npos)
                    titles->back().end = out.size();
            }
            size_t close = html.find('>', p);
            p = close == std::string_view::npos || close >= to ? to : close + 1;
            afterTag = true;
            continue;
        }
        if (html.compare(p, kNbsp.size(), kNbsp) == 0) {
            addBlank(out);
            p += kNbsp.size();
        } else if (isBlank(c)) {
            addBlank(out);
            ++p;
        } else {
            if (afterTag && !out.empty() && !isDelimiter(out.back()) && !isDelimiter(c)) out += ' ';
            out += c;
            ++p;
        }
        afterTag = false;
    }
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
        size_t at = std::string_view::npos;
        for (size_t p = from; p + phrase.size() <= text.size(); ++p) {
            size_t i = 0;
            while (i < phrase.size() && ltoupper(static_cast<unsigned char>(text[p + i])) ==
                                            ltoupper(static_cast<unsigned char>(phrase[i])))
                ++i;
            if (i == phrase.size()) {
                at = p;
                break;
            }
        }
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
