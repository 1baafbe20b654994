#include "bmod/ruvaserv/search/search_result_fmt.h"

#include <new>

#include "bmod/ruvaserv/search/result_prepare.h"

namespace ruva {

namespace {

SearchResultFmtFactory installedFactory = nullptr;

}  // namespace

int SearchResultFmt::presentSearchResult(KivoHandler& handler, UzResponse* reply, unsigned isExternSearch,
                                         const std::optional<std::string>& SL) {
    PreparedResults prepared;
    if (!prepareResults(handler, reply, prepared)) return 0;
    return writeResultsPage(handler, prepared, isExternSearch, SL);
}

std::unique_ptr<SearchResultFmt> defaultSearchResultFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return std::unique_ptr<SearchResultFmt>(new (std::nothrow) SearchResultFmt(sd, cg, order));
}

std::unique_ptr<SearchResultFmt> newSearchResultFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order) {
    return installedFactory ? installedFactory(sd, cg, order) : defaultSearchResultFmt(sd, cg, order);
}

SearchResultFmtFactory setSearchResultFmtFactory(SearchResultFmtFactory factory) {
    SearchResultFmtFactory previous = installedFactory;
    installedFactory = factory;
    return previous;
}

}  // namespace ruva
