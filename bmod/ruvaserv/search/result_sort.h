// The order of search hits: within a library by OD and BA (grouped by
// search type for the search action), and the libraries by title.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

struct LibraryTable;
struct UzQxSearchEntry;

// What the comparisons read besides the hits and the formatter's sort
// order: the request's OD and BA as sortSearchResults last read them.
struct HitSortSettings {
    int desOrder = 0;          // 1: descending
    int searchtypeNeeded = 1;  // 0: no grouping by search type; kept while OD is empty
    std::string base = "TITLE";  // "TITLE", "IDENTITY" or "TYPE" (any other keeps input order)
};

// A hit's keys, computed once before the sort.
struct HitSortKey {
    bool hasFileName = false;  // entries without one come after all others
    bool folder = false;       // the file name starts with 'h'
    std::string prefix;        // document number prefix ("9_"), "" for none
    int prefixNumber = 0;      // atoi of the prefix
    int docType = 0;           // decimalClassToQoxDoctype of the decimal class
    std::string typeName;      // getQoxDoctypeString of docType
    std::string title;         // as readHitComment shows it, cut to 1,024
    int isKwd = 0;
    unsigned long searchType = 0;
    std::string fileName;
    UzQxSearchEntry* entry = nullptr;  // not owned
};

// The keys of hit.
HitSortKey makeHitSortKey(UzQxSearchEntry& hit);

// Negative, 0 or positive as a before b; grouping by search type only
// under SRSO_SRCHTYPE.
int uqxSortCallback(const HitSortKey& a, const HitSortKey& b, SearchResultSortOrder order,
                    const HitSortSettings& settings);

// Two library identities by their titles in libs (ASCII case-blind); equal
// identities, or either without title, compare 0.
int uqxSortCallbackLibs(std::string_view a, std::string_view b, const LibraryTable& libs);

// Reads OD and BA into settings (OD empty leaves searchtypeNeeded), then
// orders hits stably: libSort 0 by uqxSortCallback, libSort 1 by library
// title (libraries without title after, in first-appearance order), each
// library's hits kept together in their order. False when memory is short.
bool sortSearchResults(std::vector<UzQxSearchEntry*>& hits, int libSort, const char* OD, const char* BA,
                       SearchResultSortOrder order, HitSortSettings& settings, const LibraryTable& libs);

}  // namespace ruva
