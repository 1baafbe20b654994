// The context-menu functions sent with AC=JSCMENU, compiled in from
// context_menu.js at build time (embed_script.py).
#pragma once

#include <string_view>

namespace ruva {

// The whole script, static data.
std::string_view contextMenuScript();

}  // namespace ruva
