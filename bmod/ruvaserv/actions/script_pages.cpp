// The in-line notes script and the empty instant-search result page.
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/html_escape.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kNotesScriptBufSize = 131072;
constexpr size_t kInstantPageBufSize = 1310720;
// Toolbar images of the result header.
constexpr int kSpacerIcon = 124;
constexpr int kFormatIcon = 99;

constexpr char kInstantStyle[] =
    "<style type=\"text/css\">\n"
    "body { margin: 0; font-family: Arial, Helvetica, sans-serif; font-size: 12px; }\n"
    "#search_head { position: fixed; top: 0; left: 0; right: 0; background-color: #FFFFFF; z-index: 10; }\n"
    "#search_head table { width: 100%; border-collapse: collapse; }\n"
    "#search_head th { text-align: left; font-size: 14px; padding: 4px; color: #004499; }\n"
    "#search_head td { background-color: #E4E4E4; font-weight: bold; padding: 2px 4px; }\n"
    "#search_list_is { margin-top: 56px; }\n"
    // The frame set's menu script shows the menu; the page pass gives this
    // page no menu style of its own.
    "ul.context-menu { display: none; position: absolute; z-index: 1000; margin: 0; padding: 2px 0;"
    " list-style: none; background-color: #F4F4F4; border: 1px solid #999999; }\n"
    "ul.context-menu li a { display: block; padding: 3px 14px; color: #000000; text-decoration: none; }\n"
    "ul.context-menu li.cm-separator { border-top: 1px solid #CCCCCC; margin: 2px 0; }\n"
    "ul.context-menu li.cm-info { padding: 3px 14px; color: #777777; white-space: nowrap; }\n"
    "</style>\n";

// The toolbar's buttons that make no sense on a result list; then the
// frame set's instant search fills it.
constexpr char kInstantBody[] =
    "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\""
    " onload=\"if(top.kivotbar&amp;&amp;top.kivotbar.disableBut){top.kivotbar.disableBut('b3');"
    "top.kivotbar.disableBut('annot');top.kivotbar.disableBut('search_hit');top.kivotbar.disableBut('b6');"
    "top.kivotbar.disableBut('b4');}if(typeof top.performSearch=='function')top.performSearch();\""
    " onmousedown=\"if(top.recordMenuLink)top.recordMenuLink(event);if(top.whichElement)top.whichElement(event);\">"
    "\n";

// The menu of a result link; its entries act on the link the notes script
// recorded in the frame set.
constexpr char kInstantMenu[] =
    "<ul class='context-menu' id='doc-menu'>\n"
    "<li><a href=\"#\" onmousedown=\"if(top.openLinkNewWin)top.openLinkNewWin(); return false;\">"
    "Open in New Window</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"if(top.openBookmark)top.openBookmark(); return false;\">"
    "Bookmark this Link</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"if(top.process_URL&amp;&amp;top.process_URL(1))"
    "window.prompt('Link:', top.extLink); return false;\">Copy this Link</a></li>\n"
    "<li class='cm-separator'></li>\n"
    "<li><a href=\"qzl:/kivo?AC=ADVSEARCH\" onmousedown=\"location.href=this.href; return false;\">"
    "Advanced Search</a></li>\n"
    "<li><a href=\"qzl:/kivo?AC=ADVSEARCH\" onmousedown=\"if(top.colLibId)location.href=this.href+'&amp;SL='"
    "+encodeURIComponent(top.colLibId); return false;\">Search in Collection</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"var t=window.prompt('Find in document:', '');"
    "if(t&amp;&amp;window.find)window.find(t); return false;\">Find in Document Frame</a></li>\n"
    "<li class='cm-separator'></li>\n"
    "<li class='cm-info'>&lt;CTRL + Right-Click&gt; to open browser menu</li>\n"
    "</ul>\n";

}  // namespace

int KivoHandler::writeJSFunctions() {
    if (!cg || !cg->allocDocBuf(kNotesScriptBufSize)) return 0;
    cg->docSize = 0;
    const bool info = valueOf(*cg->valueList, "INFO") == "1";
    const bool blocked = valueOf(*cg->valueList, "BL") == "1";
    return cg->docPrintf("var useInfo = %s;\n", info ? "true" : "false") &&
                   cg->docPrintf("var enableCustContextMenu = %s;\nvar isContextMenuActive = false;\n",
                                 blocked ? "false" : "true") &&
                   cg->docWriteBuf(notesInlineScriptFile())
               ? 1
               : 0;
}

int KivoHandler::writeInstantResultsPage() {
    if (!cg || !cg->allocDocBuf(kInstantPageBufSize)) return 0;
    cg->docSize = 0;
    ValueList& fields = *cg->valueList;
    if (!hasFilledValue(fields, "ID") && !hasFilledValue(fields, "LI") && !hasFilledValue(fields, "DB")) return 0;
    const std::string imageBase = cg->urlProto + cg->kivoServName + "?VR=" + kSystemRevision + "&AC=TBIMG&IM=";
    const std::string spacer = escapeHtmlKeepEntities(imageBase + std::to_string(kSpacerIcon), true);
    const std::string format = escapeHtmlKeepEntities(imageBase + std::to_string(kFormatIcon), true);
    const bool ok =
        cg->docWriteBuf("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n") && cg->docWriteBuf(kXhtmlDoctype) &&
        cg->docWriteBuf(kXhtmlStartTag) && cg->docWriteBuf("\n<head>\n<title>Search Results</title>\n") &&
        cg->docWriteBuf(kInstantStyle) && cg->docWriteBuf("</head>\n") && cg->docWriteBuf(kInstantBody) &&
        cg->docWriteBuf("<div id=\"search_head\">\n<table cellspacing=\"0\" cellpadding=\"0\">\n") &&
        cg->docPrintf("<tr><th colspan=\"3\"><img src=\"%s\" width=\"1\" height=\"1\" alt=\"\" />Search Results"
                      "</th></tr>\n",
                      spacer) &&
        cg->docPrintf("<tr><td><img src=\"%s\" width=\"16\" height=\"16\" alt=\"\" /> Title</td><td>Type</td>"
                      "<td>Identity</td></tr>\n</table>\n</div>\n",
                      format) &&
        cg->docWriteBuf("<div id=\"search_list_is\"></div>\n") && cg->docWriteBuf(kInstantMenu) &&
        cg->outputTail();
    if (!ok) return 0;
    // Nothing on this page is a hit: PA and FT name the search the frame set
    // runs.
    cg->flags |= kCgiNoSearchWords;
    return 1;
}

}  // namespace ruva
