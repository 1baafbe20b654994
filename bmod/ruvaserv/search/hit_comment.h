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

struct HitComment {
    std::string title;     // TITLE:, "" when absent
    std::string engTitle;  // ENGTITLE:
    std::string subTitle;  // SUBTITLE:
    std::string ctw;       // CTW:, cut to kHitCatchwordMax
    std::string extn;      // EXTN:
};

// Each keyword takes the token after it, the last occurrence winning; the
// line is cut to kHitCommentMax first and never modified.
HitComment readHitComment(std::string_view comment);

}  // namespace ruva
