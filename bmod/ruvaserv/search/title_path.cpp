#include "bmod/ruvaserv/search/title_path.h"

namespace ruva {

std::optional<std::string> extractTitleFromPath(std::string_view) {
    return std::nullopt;
}

}  // namespace ruva
