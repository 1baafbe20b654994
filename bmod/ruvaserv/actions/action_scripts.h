// The browser side of the library pages: js/main_page.js, js/toolbar.js,
// js/toolbar.css and js/doc_frameset.js, compiled in.
#pragma once

#include <string_view>

namespace ruva {

// The main page's script, whole; static data.
std::string_view mainPageScriptFile();

// The toolbar frame's script, whole; static data.
std::string_view toolbarScriptFile();

// The toolbar frame's style sheet, whole; static data.
std::string_view toolbarStyleFile();

// The document frameset's script, whole; static data.
std::string_view docFramesetScriptFile();

}  // namespace ruva
