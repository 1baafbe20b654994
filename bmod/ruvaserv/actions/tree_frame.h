// The tree frame's document filters, taken from a library's dwfilters.js.
#pragma once

#include <string>
#include <string_view>

namespace ruva {

// The filter script and style sheet held in the text of dwfilters.js;
// false, both untouched, when a key is missing or out of order.
bool extractDwFilters(std::string_view file, std::string& script, std::string& style);

}  // namespace ruva
