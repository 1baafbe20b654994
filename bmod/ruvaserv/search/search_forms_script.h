// The browser side of the search forms: js/search_forms.js, compiled in,
// whose sections ("//@section <name>" lines) the form pages carry.
#pragma once

#include <string_view>

namespace ruva {

// The whole file, static data.
std::string_view searchFormsScriptFile();

// The text of section name (scriptSection of viewer_script.h); "" for a
// section the file does not hold.
std::string_view searchFormsScript(std::string_view section);

}  // namespace ruva
