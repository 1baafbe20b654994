#include "bmod/ruvaserv/search/library_ids.h"

namespace ruva {

std::vector<std::string> splitLibraryIds(std::string_view) {
    return {};
}

}  // namespace ruva
