// The main page's instant-search block: the values written before
// js/instant_search.js, for tests that read them.
#pragma once

#include <string>

namespace ruva {

// The block's opening line; the main page closes the element.
inline constexpr const char* kInstantScriptOpen = "<script type=\"text/javascript\" language=\"JavaScript\">\n<!--\n";

// "var dTypnm = {...};" and the fallback rows of dTypnmflbk, as the block
// writes them.
std::string instantDoctypeTables();

}  // namespace ruva
