#include "bmod/ruvaserv/search/document_lookup.h"

namespace ruva {

std::optional<std::string> lookupClassPattern(std::string_view) {
    return std::nullopt;
}

int hasExtension(std::string_view, std::string_view) {
    return 0;
}

}  // namespace ruva
