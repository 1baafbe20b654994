#include "bmod/ruvaserv/search/title_path.h"

namespace ruva {

std::optional<std::string> extractTitleFromPath(std::string_view path) {
    const size_t bar = path.rfind('|');
    if (bar == std::string_view::npos) return std::nullopt;
    return std::string(path.substr(bar));
}

}  // namespace ruva
