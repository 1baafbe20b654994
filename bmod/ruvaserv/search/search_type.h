// From the request's search fields (ST, STB, SYPA, PA, PAT, PAC, PAD) to
// the search types to run, or to the message that refuses the request.
#pragma once

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
// and fills request. 1; 0 with message 21, 23 or 24 (and its tag) in error.
int chooseSearchTypes(ValueList& fields, SearchRequest& request, ErrorText& error);

}  // namespace ruva
