#include "bmod/ruvaserv/search/search_actions.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/library_name.h"

namespace ruva {

std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg) {
    std::unique_ptr<SearchActions> sa(new (std::nothrow) SearchActions(cg));
    if (!sa) return nullptr;
    sa->sd = newSearchData();
    if (!sa->sd) return nullptr;
    return sa;
}

int SearchActions::retrieveFile(std::string& fileName) {
    if (!cg) return 0;
    return cg->retrieveFile(getLibraryName(*cg), fileName);
}

int SearchActions::searchAction(KivoHandler&) {
    return 0;
}

}  // namespace ruva
