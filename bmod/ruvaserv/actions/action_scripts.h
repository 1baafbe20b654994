// The browser side of the library pages: the files of js/, compiled in.
// Files with "//@section <name>" lines are read by scriptSection
// (bmod/ruvaserv/cgi/viewer_script.h).
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

// The comparison pages' scripts (sections).
std::string_view compareScriptFile();

// The search waiting page's script (sections).
std::string_view searchWaitScriptFile();

// The language switch page's switchLib.
std::string_view languageSwitchScriptFile();

// The bookmark window's script.
std::string_view bookmarkScriptFile();

// The in-line notes script with openLinkNewWin.
std::string_view notesInlineScriptFile();

// The tree frame's overlay, filter and key handlers (sections).
std::string_view treeFrameScriptFile();

// The annotation pages' scripts (sections); the main page and documents
// carry its openAnEd.
std::string_view annotEditScriptFile();

// The main page's instant search, after the values allJSFunctions writes.
std::string_view instantSearchScriptFile();

}  // namespace ruva
