// The order of search hits: within a library by OD and BA (grouped by
// search type for the search action), and the libraries by title.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

struct LibraryTable;
struct UzQxSearchEntry;

// Bytes of a library's comment line that decide its place in library order.
inline constexpr std::size_t kLibraryOrderTitleMax = 499;

// What the comparisons read besides the hits and the formatter's sort
// order: the request's OD and BA as sortSearchResults last read them.
struct HitSortSettings {
    int desOrder = 0;            // 1: descending
    int searchtypeNeeded = 1;    // 0: no grouping by search type; kept while OD is empty
    std::string base = "TITLE";  // "TITLE", "IDENTITY" or "TYPE" (any other keeps input order)
};

// A hit's keys, computed once before the sort.
struct HitSortKey {
    bool hasFileName = false;   // entries without one come after all others
    bool folder = false;        // the file name starts with 'h'
    std::string prefix;         // document number prefix ("9" of "9_..."), "" for none
    int prefixNumber = 0;       // atoi of the prefix
    int docType = 0;            // decimalClassToQoxDoctype of the decimal class
    std::string_view typeName;  // "Folder" or getQoxDoctypeString of docType (constant text)
    std::string title;          // the shown title: "<catchword>: " and the text after the last '|'
    int isKwd = 0;
    unsigned long searchType = 0;
    std::string_view fileName;         // entry's, valid while it lives
    UzQxSearchEntry* entry = nullptr;  // not owned
};

// The keys of hit; they refer to it. A file name that does not split into
// document number parts has no prefix and the type of the missing class.
HitSortKey makeHitSortKey(UzQxSearchEntry& hit);

// Negative, 0 or positive as a before b. Entries without file name compare
// 0 among themselves and after all others in both directions; under
// SRSO_SRCHTYPE with searchtypeNeeded the search-type grouping decides
// first and is never reversed; then settings.base (case-blind; another value
// compares 0), reversed by desOrder except where a folder's or a type's tie
// is ordered by title. A total order over any keys, so a stable sort by it
// is well defined.
int uqxSortCallback(const HitSortKey& a, const HitSortKey& b, SearchResultSortOrder order,
                    const HitSortSettings& settings);

// Two library identities by their titles in libs (ASCII case-blind, the
// first kLibraryOrderTitleMax bytes); equal identities (case-blind), or
// either without title or with an empty one, compare 0. An order only
// among titled libraries, since an unknown title equals everything.
int uqxSortCallbackLibs(std::string_view a, std::string_view b, const LibraryTable& libs);

// Reads OD and BA into settings (OD empty leaves searchtypeNeeded), then
// orders hits stably: libSort 0 by uqxSortCallback; libSort 1 the libraries
// (identities case-blind) with a title by it as uqxSortCallbackLibs compares,
// equal titles in their order, then those without in their order, each
// library's hits kept together in their order. Lists of 0 or 1 entries
// stay as they are; hits holds no null. False when memory is short (hits
// untouched).
bool sortSearchResults(std::vector<UzQxSearchEntry*>& hits, int libSort, const char* OD, const char* BA,
                       SearchResultSortOrder order, HitSortSettings& settings, const LibraryTable& libs);

}  // namespace ruva
