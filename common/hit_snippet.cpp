#include "common/hit_snippet.h"

#include <algorithm>

#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

constexpr std::string_view kTitleEnd = "</span></h";
constexpr std::string_view kBodyEnd = "<!--@/BODY-->";
constexpr std::string_view kNbsp = "&nbsp;";
// "</span></h2>": the title end with the rest of its heading tag.
constexpr size_t kTitleEndTag = 12;
constexpr size_t kHitWordLook = 50;
constexpr size_t kHitposSeparators = 150;
constexpr std::string_view kBlockTags[] = {"<p", "<li", "<tr", "<dt"};

bool isBlockStartAt(std::string_view html, size_t pos) {
    for (std::string_view tag : kBlockTags) {
        if (!startsCaseBlindAt(html, pos, tag)) continue;
        const size_t after = pos + tag.size();
        if (after < html.size() && (html[after] == '>' || isAsciiSpace(byteAt(html, after)))) return true;
    }
    return false;
}

size_t pastTitleEnd(std::string_view html, size_t titleEnd) {
    return std::min(titleEnd + kTitleEndTag, html.size());
}

// Start of the nearest title span that begins before `before`.
size_t titleSpanBefore(std::string_view html, size_t before) {
    for (size_t p = before; p-- > 0;) {
        if (html[p] == '<' && isChapterTitleSpanAt(html, p)) return p;
    }
    return std::string_view::npos;
}

size_t titleEndFrom(std::string_view html, size_t from) {
    for (size_t p = from; p < html.size(); ++p) {
        if (html[p] == '<' && isChapterTitleEndAt(html, p)) return p;
    }
    return std::string_view::npos;
}

// The visible text of the title span at `span` up to its end (*end, npos
// when the title is not closed: then up to the text's end): tags skipped,
// separators and blank runs as one blank, none at either end, '"' escaped;
// at most kSnippetMax characters, an escape counted once.
std::string titleText(std::string_view html, size_t span, size_t* end) {
    *end = titleEndFrom(html, span);
    const size_t stop = *end == std::string_view::npos ? html.size() : *end;
    std::string out;
    size_t shown = 0;
    bool inTag = false;
    for (size_t p = span; p < stop && shown < kSnippetMax; ++p) {
        const unsigned char c = byteAt(html, p);
        if (c == '<') {
            if (startsAt(html, p, kBodyEnd)) break;
            inTag = true;
            continue;
        }
        if (inTag) {
            inTag = c != '>';
            continue;
        }
        const char ch = isSnippetVisible(c) ? static_cast<char>(c) : ' ';
        if (ch == ' ' && (out.empty() || out.back() == ' ')) continue;
        if (ch == '"') out += '\\';
        out += ch;
        ++shown;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

struct Collected {
    std::string text;  // reading order, quotes escaped
    bool cut = false;  // the budget ended it with text left
};

// Text of html[floor, from) read backwards, at most `budget` characters (\"
// counts two and is never split), tags skipped: reading backwards a '>'
// opens a tag and a '<' closes it. With atBoundaries the collection also
// ends at a '<' that starts a block or a title end.
Collected collectBack(std::string_view html, size_t from, size_t floor, size_t budget, bool atBoundaries) {
    Collected result;
    std::string reversed;
    bool inTag = false;
    for (size_t p = from; p-- > floor;) {
        const unsigned char c = byteAt(html, p);
        if (c == '>') {
            inTag = true;
            continue;
        }
        if (c == '<') {
            inTag = false;
            if (atBoundaries && (isBlockStartAt(html, p) || isChapterTitleEndAt(html, p))) break;
            continue;
        }
        if (inTag) continue;
        const char ch = isSnippetVisible(c) ? static_cast<char>(c) : ' ';
        if (ch == ' ' && !reversed.empty() && reversed.back() == ' ') continue;
        const size_t need = ch == '"' ? 2 : 1;
        if (reversed.size() + need > budget) {
            result.cut = true;
            break;
        }
        reversed += ch;
        if (ch == '"') reversed += '\\';
    }
    result.text.assign(reversed.rbegin(), reversed.rend());
    return result;
}

// A cut text without its first `drop` characters and the partial word after
// them: it starts at the next blank (kept), or, with none, after the drop
// and never between a backslash and its quote.
std::string fromWordStart(const std::string& text, size_t drop) {
    size_t from = std::min(drop, text.size());
    const size_t blank = text.find(' ', from);
    if (blank != std::string::npos) return text.substr(blank);
    if (from < text.size() && text[from] == '"') ++from;
    return text.substr(from);
}

}  // namespace

bool isChapterTitleSpanAt(std::string_view html, size_t pos) {
    return startsCaseBlindAt(html, pos, "<span class=\"CHAPTITLE\"") ||
           startsCaseBlindAt(html, pos, "<span class=CHAPTITLE");
}

bool isChapterTitleEndAt(std::string_view html, size_t pos) {
    return startsCaseBlindAt(html, pos, kTitleEnd);
}

size_t hitpos(std::string_view html) {
    html = upToNul(html);
    size_t separators = 0;
    // Stopping at the first decision gives what noting and scanning on
    // would: a title span opening first rules out any later note.
    for (size_t p = 0; p < html.size() && separators < kHitposSeparators; ++p) {
        const unsigned char c = byteAt(html, p);
        if (c == '<') {
            if (startsAt(html, p, kBodyEnd)) break;
            if (isChapterTitleSpanAt(html, p)) return 0;
            if (isChapterTitleEndAt(html, p)) return pastTitleEnd(html, p);
        } else if (!isSnippetVisible(c)) {
            ++separators;
        }
    }
    return 0;
}

size_t hexStr(std::string& dst, std::string_view html, int isKwd, size_t count, SnippetState& state) {
    html = upToNul(html);
    size_t max = isKwd ? kSnippetMax : kSnippetMax - std::min(count, kSnippetMax);
    size_t written = 0;  // characters after the opening quote or the ':'
    bool inTag = false, afterTag = false, titleOpen = false, kwdTitle = false;
    size_t restartedAt = 0;
    dst = "\"";
    for (size_t p = 0; p < html.size(); ++p) {
        const unsigned char c = byteAt(html, p);
        if (c == '<') {
            if (startsAt(html, p, kBodyEnd)) break;
            if (isChapterTitleSpanAt(html, p)) {
                titleOpen = true;
            } else if (isChapterTitleEndAt(html, p)) {
                if (isKwd && !kwdTitle) {
                    // The keyword's own title: the text after it gets the
                    // full length.
                    kwdTitle = true;
                    dst += ':';
                    written = 0;
                    max = kSnippetMax;
                } else if (!isKwd && !titleOpen && restartedAt == 0) {
                    // The hit lies in a title that backStr already wrote.
                    restartedAt = pastTitleEnd(html, p);
                    dst = "\"";
                    written = 0;
                }
            }
            inTag = true;
            continue;
        }
        if (inTag) {
            if (c == '>') {
                inTag = false;
                afterTag = true;
            }
            continue;
        }
        char ch = static_cast<char>(c);
        if (!isSnippetVisible(c)) {
            if (afterTag && dst.size() == 1) continue;
            ch = ' ';
        }
        if (ch == ' ' && !isKwd && dst.back() == ' ') continue;
        if (ch == '&' && state.spaceContext && startsAt(html, p, kNbsp)) {
            state.spaceContext = false;
            if (dst.back() != ' ') {
                if (written + 1 > max) break;
                dst += ' ';
                ++written;
            }
        }
        const size_t need = ch == '"' ? 2 : 1;
        if (written + need > max) break;
        if (ch == '"') dst += '\\';
        dst += ch;
        written += need;
    }
    // A backslash before the closing quote would escape it.
    while (dst.size() > 1 && dst.back() == '\\') dst.pop_back();
    dst += '"';
    state.spaceContext = false;
    if (restartedAt != 0) return restartedAt;
    return kwdTitle ? 1 : 0;
}

size_t hitWordLength(std::string_view html, size_t hitPos, bool* nbsp) {
    size_t word = 0;
    *nbsp = false;
    for (; hitPos + word < html.size() && word < kHitWordLook; ++word) {
        if (startsAt(html, hitPos + word, kNbsp)) {
            *nbsp = true;
            break;
        }
        const unsigned char c = byteAt(html, hitPos + word);
        if (c == ' ' || !isSnippetVisible(c)) break;
    }
    return word;
}

size_t backStr(std::string& dst, std::string_view html, size_t hitPos, size_t isTitle, SnippetState& state) {
    html = upToNul(html);
    hitPos = std::min(hitPos, html.size());
    dst = "\"";
    size_t titleEnd = std::string_view::npos;
    std::string title;
    const size_t span = titleSpanBefore(html, hitPos);
    if (span != std::string_view::npos) title = titleText(html, span, &titleEnd);
    const bool titleBeforeHit = titleEnd != std::string_view::npos && titleEnd + kTitleEnd.size() <= hitPos;

    if (isTitle != 0) {
        if (span == std::string_view::npos) return dst.size();
        if (!title.empty()) dst += title + ":";
        if (titleBeforeHit) {
            // The hit's heading is not this title: the text between them
            // follows, as much as fits, from a word on.
            const Collected between =
                collectBack(html, hitPos, titleEnd + kTitleEnd.size(), kSnippetMax, false);
            dst += " ...";
            dst += between.cut ? fromWordStart(between.text, 0) : between.text;
        }
    } else {
        bool nbsp = false;
        const size_t word = hitWordLength(html, hitPos, &nbsp);
        state.spaceContext = nbsp;

        if (!titleBeforeHit || title.empty())
            title.clear();
        else
            title += ':';
        // The title is reserved with the hit word, so that hexStr still has
        // room for the word after a title.
        const size_t reserved = word + 3 + title.size();
        const size_t budget = reserved < kSnippetMax ? kSnippetMax - reserved : 0;
        const Collected before = collectBack(html, hitPos, 0, budget, true);
        dst += title;
        if (before.cut) {
            dst += " ...";
            const size_t over = before.text.size() + 4 > budget ? before.text.size() + 4 - budget : 0;
            dst += fromWordStart(before.text, over);
        } else {
            dst += before.text;
        }
    }
    // The hit follows; a backslash here could escape a closing quote.
    if (dst.size() > 1 && dst.back() == '\\') dst.back() = ' ';
    return dst.size();
}

}  // namespace ruva
