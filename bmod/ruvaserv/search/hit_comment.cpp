#include "bmod/ruvaserv/search/hit_comment.h"

namespace ruva {

HitComment readHitComment(std::string_view) {
    return {};
}

}  // namespace ruva
