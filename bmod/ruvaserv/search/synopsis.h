// The synopsis under a hit: its context text cut and trimmed, the search
// words highlighted. The result is HTML: the text is escaped
// (escapeHtmlKeepEntities) and only the highlight markup added.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ruva {

inline constexpr std::string_view kHighlightOpen = "<span class=\"ch\">";
inline constexpr std::string_view kHighlightClose = "</span>";

// A context word: the word as searched (cut at its first wildcard) and its
// kept copy (the whole word, at most 255 characters).
struct ContextWord {
    std::string word;
    std::string copy;
};

struct SynopsisMode {
    int isKwd = 2;              // 1 keyword hit, 0 catchword hit, 2 other: only 2 highlights
    bool phrase = false;        // the whole context is the text
    bool japaneseText = false;  // leading characters are not skipped
};

// The text as makeSynopsis writes it (cut, trimmed, with "..." where it
// goes on) and, for isKwd 2, each case-blind occurrence of the first four
// words highlighted: a plain word standing between delimiters, a word cut
// at a wildcard (word differs from copy) by its longest literal piece
// widened to the whole word around it that its copy fits (both
// lower-cased). Occurrences inside a tag or an entity of the text as it
// came stay plain, as do ones overlapping an earlier highlight. The text is
// escaped with escapeSynopsisText around the markup.
std::string makeSynopsis(std::string_view context, const std::vector<ContextWord>& words, SynopsisMode mode);

// Text made fit for a page, entities kept: escapeHtmlKeepEntities (not
// single-quoted), and an '&' that begins no entity ("&name;", "&#digits;",
// "&#xhex;") written "&amp;". Applied twice it changes nothing more.
std::string escapeSynopsisText(std::string_view text);

}  // namespace ruva
