// The descriptor line of a hit (TITLE:, ENGTITLE:, SUBTITLE:, CTW:, EXTN:),
// read once so that the sort and the rows see the same title.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

inline constexpr std::size_t kHitCommentMax = 1024;  // of the line, read as a copy
inline constexpr std::size_t kHitTitleMax = 1024;    // a title's characters
inline constexpr std::size_t kHitCatchwordMax = 80;  // a catchword's characters
inline constexpr std::size_t kHitExtnMax = 5;        // an extension's characters

struct HitComment {
    std::string title;     // TITLE:, "" when absent
    std::string engTitle;  // ENGTITLE:
    std::string subTitle;  // SUBTITLE:
    std::string ctw;       // CTW:, cut to kHitCatchwordMax
    std::string extn;      // EXTN:
};

// Each keyword takes the token after it (quoted tokens lose their quotes),
// the last occurrence winning; a keyword as the last token sets nothing. The
// line is cut to kHitCommentMax bytes first and never modified; the title
// keeps its '|' path and gets no catchword, which callers add.
HitComment readHitComment(std::string_view comment);

}  // namespace ruva
