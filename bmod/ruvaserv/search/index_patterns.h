// Per search type: its index, the field its pattern comes from, and the
// preparation of that pattern for the index.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/search/search_data.h"

namespace ruva {

class SearchFunctions;

struct IndexOfType {
    KivoSearchType type;
    const char* index;      // "title.qxx", ...
    const char* field;      // the pattern field of an ordinary search
    const char* formField;  // of a search from a form (isAdvanced 1)
    const char* classNo;    // the class a class-bound hit's file name holds, else null
};

// The row of one type bit; null for a bit without an index.
const IndexOfType* indexOfType(KivoSearchType type);

// The fields the preparation reads besides the pattern.
struct IndexPatternRequest {
    std::string ST;                   // upper-cased
    std::string DO;                   // "" when absent
    std::optional<std::string> ORPA;  // catchword rule 3
    bool external = false;            // SC "External": no completion
    bool hasLLF = false;              // title.qxx: no rewrite
};

// PA normalised as the loop's step 3 does: runs of one repeated blank,
// "*", "+", "-" or "|" as one, leading junk and a trailing operator dropped.
// "" when nothing is left; the field then keeps its value.
std::string normaliseSearchField(std::string_view pa);

// The pattern (separated and phrase-prepared) made ready for index in place:
// fulltext.qxx, docno.qxx, title.qxx, topictitle.qxx or folder.qxx. Also
// kept in the SearchData's pattern of that index; the request's fields are
// the caller's to store. shown gets the pattern to show where the index has
// one (folder.qxx; docno.qxx when ST is DOCNO), else none. Sets
// sf.cleanupPhrase for the full-text group only. A pattern or step result
// of 1024 characters or more: message 97. 1, or 0 with sf's error set.
int prepareIndexPattern(SearchFunctions& sf, std::string_view index, const IndexPatternRequest& request,
                        std::string& pattern, std::optional<std::string>& shown);

// The catchword rules, with sf.kwd_check set for their duration; may clear
// sf.sd.isPhraseSearch. The result is also kept as sf.sd.searchPatCtw.
// 1, or 0 with sf's error set.
int prepareCatchwordPattern(SearchFunctions& sf, const IndexPatternRequest& request, std::string& pattern);

}  // namespace ruva
