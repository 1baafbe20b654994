// The search front end's per-request object: the dispatcher and the link
// action make one, call one operation and delete it.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "bmod/ruvaserv/search/document_lookup.h"
#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

class CgiHandler;
class KivoHandler;
class SearchFunctions;
class UzResponse;

// A document class of the search forms' select.
struct DecimalClassRow {
    const char* value;  // "15542"
    const char* text;   // "Adaptation Direction (155 42)"
};

// The 18 classes the forms offer when the library has no class list.
std::span<const DecimalClassRow> builtInDecimalClasses();

class SearchActions : public SearchErrorText {
public:
    SearchActions(const SearchActions&) = delete;
    SearchActions& operator=(const SearchActions&) = delete;

    // Drops the error text.
    void clear() { errmsg.clear(); }

    // getKivoDocument(handler, {getLibraryName(cg), false}).
    int getKivoDocument(KivoHandler& handler);

    // The document of FN (with CH: a redirection to it), else the lookup
    // by CW or TI in lookup.library. 1 when a page or document is in cg's
    // buffers, cg wrote its error page (flag 0x8), or nothing was found;
    // 0 with the error text set.
    int getKivoDocument(KivoHandler& handler, const DocumentLookup& lookup);

    // The request's fields made a search, run and shown through the result
    // formatter: 1 when the page is in cg's buffers; 0 with the error text.
    int searchAction(KivoHandler& handler);

    // cg's retrieveFile of fileName in the request's library
    // (getLibraryName); its result, the error text in cg.
    int retrieveFile(std::string& fileName);

    // The advanced search page (ADVSEARCH) into cg's document buffer: 1; 0
    // with the error text set (message 33 with the session down: nothing
    // written).
    int advsearchAction();

    // The document search page (DOCSEARCH) into cg's document buffer: 1; 0
    // with the error text set.
    int docsearchAction();

    // The option list of the library's dec-classes.xml (values escaped);
    // none when it cannot be read or parsed.
    std::optional<std::string> getDecimalClassAction();

    std::unique_ptr<SearchData> sd;  // owned
    CgiHandler* cg = nullptr;        // not owned

private:
    friend std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg);
    explicit SearchActions(CgiHandler* request) : cg(request) {}

    // The lookup's index search by CW, else by TI, in the lookup's library;
    // null with the error set.
    std::unique_ptr<UzResponse> lookupReply(SearchFunctions& sf, const DocumentLookup& lookup);
};

// With its SearchData. Null when it cannot be made.
std::unique_ptr<SearchActions> newSearchActions(CgiHandler* cg);

}  // namespace ruva
