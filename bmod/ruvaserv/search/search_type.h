// From the request's search fields (ST, STB, SYPA, PA, PAT, PAC, PAD) to
// the search types to run, or to the message that refuses the request.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

class ValueList;

// What searchAction's steps 2 to 9 make of the fields.
struct SearchRequest {
    KivoSearchType searchType = OST_UNKNOWN;
    SearchTypeBooleanOperator srchTypeBoolOperation = STYPE_AND;
    SearchResultSortOrder sortOrder = SRSO_DEFAULT;
    uint32_t isAdvanced = 0;
    bool listSearch = false;         // STB "2"
    bool folderTitleSearch = false;  // PAT with a value and a list search or no other pattern
    std::optional<std::string> SL;   // the SL value, handed to the results page
};

// Reads the fields (SYPA stored as PA when given, ST upper-cased in place)
// and fills request. searchType keeps OST_UNKNOWN beside the chosen types.
// 1; 0 with message 21, 23 or 24 of messages (and its tag) in error.
int chooseSearchTypes(ValueList& fields, TextTable messages, SearchRequest& request, ErrorText& error);

// The longest search field (PA, PAT, PAC, PAD, ORPA, CW, TI) the pattern
// steps take: they work in a buffer of 1024 bytes. A longer one is refused
// with message 97 before anything is sent for it.
inline constexpr std::size_t kSearchFieldMax = 1023;

}  // namespace ruva
