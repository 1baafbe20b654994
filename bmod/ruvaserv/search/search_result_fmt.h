// The result formatter: sorts, combines and shows the hits of a search.
// Tests put a recording formatter in its place through the factory.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

class CgiHandler;
class KivoHandler;
class UzResponse;

class SearchResultFmt : public SearchErrorText {
public:
    virtual ~SearchResultFmt() = default;
    SearchResultFmt(const SearchResultFmt&) = delete;
    SearchResultFmt& operator=(const SearchResultFmt&) = delete;

    // Drops the error text.
    void clear() { errmsg.clear(); }

    // The results page, or the no-match page when reply holds no hit, into
    // cg's buffers. A positive result when written (3001 included), 0 with
    // the error text set. SL goes to the page's links.
    virtual int presentSearchResult(KivoHandler& handler, UzResponse* reply, unsigned isExternSearch,
                                    const std::optional<std::string>& SL);

    SearchData& sd;  // not owned
    CgiHandler& cg;  // not owned
    SearchResultSortOrder srchSortOrder;

protected:
    SearchResultFmt(SearchData& data, CgiHandler& request, SearchResultSortOrder order)
        : sd(data), cg(request), srchSortOrder(order) {}
    friend std::unique_ptr<SearchResultFmt> defaultSearchResultFmt(SearchData&, CgiHandler&, SearchResultSortOrder);
};

using SearchResultFmtFactory = std::unique_ptr<SearchResultFmt> (*)(SearchData& sd, CgiHandler& cg,
                                                                    SearchResultSortOrder order);

// The formatter of this program: the installed factory's, else the
// default. Null when it cannot be made.
std::unique_ptr<SearchResultFmt> newSearchResultFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order);

// The default formatter, whatever factory is installed.
std::unique_ptr<SearchResultFmt> defaultSearchResultFmt(SearchData& sd, CgiHandler& cg, SearchResultSortOrder order);

// Makes factory the one newSearchResultFmt uses and returns the one it
// replaces (null stands for the default).
SearchResultFmtFactory setSearchResultFmtFactory(SearchResultFmtFactory factory);

}  // namespace ruva
