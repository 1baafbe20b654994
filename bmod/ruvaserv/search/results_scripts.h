// The browser side of the result pages: js/results_page.js,
// js/loading_page.js and js/collection_search.js, compiled in.
#pragma once

#include <string_view>

namespace ruva {

// The results page's script, whole; static data.
std::string_view resultsPageScriptFile();

// The "Loading document" page's script, whole; static data.
std::string_view loadingPageScriptFile();

// The collection search scripts, whole; static data.
std::string_view collectionSearchScriptFile();

// Section name ("results" or "nomatch") of the collection search scripts;
// "" for a section the file does not hold.
std::string_view collectionSearchScript(std::string_view section);

}  // namespace ruva
