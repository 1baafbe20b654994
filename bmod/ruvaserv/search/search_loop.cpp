#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/search_functions.h"

namespace ruva {

int SearchFunctions::ruvxSearchLoop(std::unique_ptr<UzResponse>&, const UzKnownListEntry*) {
    return 0;
}

std::unique_ptr<UzResponse> SearchFunctions::makeRuvxSearch(std::string_view, std::string_view, std::string_view) {
    return nullptr;
}

}  // namespace ruva
