#include "bmod/ruvaserv/search/pattern_display.h"

namespace ruva {

std::string filterPattern(std::string_view) {
    return {};
}

std::string dispSearchPattern(std::string_view) {
    return {};
}

}  // namespace ruva
