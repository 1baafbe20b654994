#include "bmod/ruvaserv/search/hit_comment.h"

#include <cstring>

#include "common/tokens.h"

namespace ruva {

HitComment readHitComment(std::string_view comment) {
    // getNextToken cuts in place, so it works on a copy of the first bytes.
    char line[kHitCommentMax + 1];
    const std::size_t len = comment.size() < kHitCommentMax ? comment.size() : kHitCommentMax;
    std::memcpy(line, comment.data(), len);
    line[len] = '\0';

    struct Field {
        const char* keyword;
        std::string HitComment::*value;
        std::size_t max;
    };
    static constexpr Field kFields[] = {
        {"TITLE:", &HitComment::title, kHitTitleMax},
        {"ENGTITLE:", &HitComment::engTitle, kHitTitleMax},
        {"SUBTITLE:", &HitComment::subTitle, kHitTitleMax},
        {"CTW:", &HitComment::ctw, kHitCatchwordMax},
        {"EXTN:", &HitComment::extn, kHitExtnMax},
    };

    HitComment out;
    char* cursor = line;
    while (const char* token = getNextToken(&cursor)) {
        const std::size_t length = std::strlen(token);
        if (length == 0 || token[length - 1] != ':') continue;  // no keyword: most tokens
        for (const Field& field : kFields) {
            if (std::strcmp(token, field.keyword) != 0) continue;
            if (const char* value = getNextToken(&cursor)) {
                (out.*field.value).assign(value, strnlen(value, field.max));
            }
            break;
        }
    }
    return out;
}

}  // namespace ruva
