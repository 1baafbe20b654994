#include "bmod/ruvaserv/search/search_result_fmt.h"

#include <new>

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {

namespace {

SearchResultFmtFactory installedFactory = nullptr;

}  // namespace

int SearchResultFmt::presentSearchResult(KivoHandler&, UzResponse*, unsigned, const std::optional<std::string>&) {
    // The results page is not built yet: answered as an unfinished action.
    setError(msgFormat(10, "kivohandler/2"), "SEARCH");
    return 0;
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
