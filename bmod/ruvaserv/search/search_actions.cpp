#include "bmod/ruvaserv/search/search_actions.h"

#include <new>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/library_name.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "bmod/ruvaserv/search/search_type.h"

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

int SearchActions::searchAction(KivoHandler& handler) {
    if (!cg || !cg->valueList) return 0;
    // The session's own failure has set the request's error text.
    if (!cg->establishDefaultSession()) return 0;
    SearchRequest request;
    if (!chooseSearchTypes(*cg->valueList, cg->messages(), request, *this)) return 0;
    sd->srchTypeBoolOperation = request.srchTypeBoolOperation;
    sd->searchType = request.searchType;
    sd->isAdvanced = request.isAdvanced;
    sd->searchScope = OSS_DATABASE;

    std::unique_ptr<SearchFunctions> sf = newSearchFunctions(*sd, *cg);
    if (!sf) {
        setError(cg->msg(0, "SearchActions/5"), "SearchFunctions");
        return 0;
    }
    std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *cg, request.sortOrder);
    if (!fmt) {
        setError(cg->msg(0, "SearchActions/5"), "SearchResultFmt");
        return 0;
    }
    std::unique_ptr<UzResponse> reply;
    if (!sf->ruvxSearchLoop(reply, nullptr)) {
        errmsg = sf->getError();
        return 0;
    }
    cg->freeDocBuf();
    // The formatter may answer with a count (3001 and the like): any
    // positive result means the page was written.
    const int shown = fmt->presentSearchResult(handler, reply.get(), sd->isExternSearch, request.SL);
    if (shown <= 0) {
        errmsg = fmt->getError();
        return 0;
    }
    return 1;
}

}  // namespace ruva
