// Body tags shared by several pages.
#pragma once

#include <string_view>

namespace ruva {

// The about and comparison selection pages' body: it turns the toolbar's
// buttons on when the page is in the document frame. Every call into another
// frame is tested first: the page may be opened on its own. The second
// edition writes its own tag, so the page writers take the tag as a parameter.
inline constexpr std::string_view kToolbarBodyTag =
    "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\""
    " onload=\"if(self.name=='kivodoc'){"
    "if(top.kivotbar&&top.kivotbar.enableBut)top.kivotbar.enableBut('b3');"
    "if(top.kivomain&&top.kivomain.togBnew)top.kivomain.togBnew(0);"
    "if(top.dynamicToolBar)top.dynamicToolBar();}\">\n";

}  // namespace ruva
