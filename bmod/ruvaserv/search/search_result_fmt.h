// The result formatter: sorts, combines and shows the hits of a search.
// Tests put a recording formatter in its place through the factory.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/search/library_titles.h"
#include "bmod/ruvaserv/search/result_sort.h"
#include "bmod/ruvaserv/search/search_data.h"
#include "common/version.h"

namespace ruva {

class CgiHandler;
class KvoFormat;
class KivoHandler;
class UzResponse;
struct PreparedResults;
struct UzQxSearchEntry;

// What differs between the programs that write this page.
struct ResultsPageEdition {
    const char* revision = kSystemRevision;  // the image links' VR
    bool phraseNote = true;                  // the note for a phrase search of over 500 matches
};

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

    // setError and getError come from SearchErrorText (cut to its limit).

    // AND filter: removes from hits every (library, file name) whose
    // entries hold fewer distinct search types than sd.sTypeCounter, and
    // lowers docMatchCount by the documents removed. Returns 1.
    int rmvDocsFromResults(std::vector<UzQxSearchEntry*>& hits, std::int64_t& docMatchCount);

    // The no-match page into cg's document buffer: pastr the pattern
    // analysed for hints, patstr the match options. Returns 1, or 0 with
    // the error text set.
    int presentNoMatch(const std::string& pastr, const std::string& patstr);

    // The first half of presentSearchResult: the request fields read, the
    // hits of reply filtered, counted, grouped, sorted and merged into out.
    // 1, or 0 with the error text set.
    int prepareResults(KivoHandler& handler, UzResponse* reply, PreparedResults& out);

    // The page from out (its single-hit shortcuts, head, summary, library
    // table and notes); presentSearchResult's result.
    int writeResultsPage(KivoHandler& handler, PreparedResults& out, unsigned isExternSearch,
                         const std::optional<std::string>& SL);

    // The document rows with their group headings and the closing notes,
    // through fmt. 1, or 0 with the error text set (message 55).
    int writeResultRows(KivoHandler& handler, KvoFormat& fmt, PreparedResults& out,
                        const std::optional<std::string>& SL);

    SearchData& sd;  // not owned
    CgiHandler& cg;  // not owned
    SearchResultSortOrder srchSortOrder;
    HitSortSettings sortSettings;  // desOrder, searchtypeNeeded (1 at first), base
    LibraryTable libraries;        // the page's libraries with their titles
    LibraryMemo lookups;           // MLLIST and getDBfromLI answers of this request
    ResultsPageEdition edition;

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
