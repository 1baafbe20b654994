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

// At most four words are used.
std::string makeSynopsis(std::string_view context, const std::vector<ContextWord>& words, SynopsisMode mode);

}  // namespace ruva
