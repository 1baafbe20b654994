// The fixed texts page post-processing writes into pages. Formats stay here
// as literals, so the formatter checks their conversions at compile time;
// the long menus and style blocks are in cgihandler_postprocess_texts.cpp.
#pragma once

#include <string>
#include <string_view>

namespace ruva {

// The frame page of an exported sheet, compared before the body (57 bytes
// with kExportSheetSrc), and its replacement with the document frame's
// onload: button "b6" state (0: disabled) and the handler's folder.
inline constexpr char kExportSheetFrameset[] = "<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\"";
inline constexpr char kExportSheetSrc[] = " SRC=\"";
inline constexpr char kExportSheetOnloadFormat[] =
    "<html><FRAMESET onload=\"if(self.name=='kivodoc'){if(%d && top && top.kivotbar) "
    "top.kivotbar.enableBut('b6'); else top.kivotbar.disableBut('b6'); "
    "top.dynamicToolBar();if(!top.OvrlyDisplyed)top.kivomain.togBnew(%d); }\" rows='*,0'>  "
    "<FRAME NAME=\"KIVOEXEL\"";

// Anchors: the title's, and the chapters' outside and inside deleted text.
inline constexpr char kTitleAnchor[] = "<a name=\"_H\"></a>";
inline constexpr char kChapterAnchorFormat[] = "<a name=\"_C%d\"></a>";
inline constexpr char kDeletedChapterAnchorFormat[] = "<a name=\"_DC%d\"></a>";

// IX FILTER_LIBTIT: the library's identity and title after "</title>".
inline constexpr char kLibIdMetaFormat[] = "\n<META NAME=LIBID CONTENT=\"%s\">";
inline constexpr char kLibTitMetaFormat[] = "\n<META NAME=LIBTIT CONTENT=\"%s\">";

// Lines of the document-TOC script: the title node, or its "No Title"
// form, and a chapter node (child, parent, title, number).
inline constexpr char kDocTitleNodeFormat[] = "  dfT=cNDoc(\"&nbsp;%s\", \"#TOP\",0xFFFF);";
inline constexpr char kDocNoTitleNode[] = "  dfT=cNDoc(\"&nbsp;No Title\", \"#TOP\",0xFFFF);";
inline constexpr char kChapterNodeFormat[] = "\n  %s = aNDoc(%s, cNDoc(\"%s\", \"#CHAPTER%s\", 1));";

// The document-TOC script after "</html>": head, the collected lines, then
// "}", the page address, the viewer's doc-toc functions, the "b6" line with
// notes, and the end.
inline constexpr char kDocTocHead[] =
    "\n<SCRIPT type=\"text/javascript\" language=\"JavaScript\">\nvar nextNodeIdDoc = 0;\nvar dfT = 0;\n"
    "var DocViewTreeStatus = 0;\n var prevChapterID = 0;\nfunction generateDTOCTree()\n{\n";
inline constexpr char kDocTocPageUrlFormat[] = "}\nvar kvoPageUrl = \"%s\";\n";
inline constexpr char kDocTocEnd[] = "\n</SCRIPT>\n";

// The body tag (bodyPostProcess). A tag without attributes gets the
// default look.
inline constexpr char kBodyDefaultAttrs[] = "bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\"";
// The context-menu attribute and the mouse-down call that goes with it:
// the page's own menu, the frame set's, or none.
inline constexpr char kBodyContextArea[] = "id=\"context-area\"";
inline constexpr char kBodyContextAreaCall[] = "if(typeof whichElement=='function')whichElement(event);";
inline constexpr char kBodyCmenuDoc[] = "id=\"cmenu-doc\"";
inline constexpr char kBodyCmenuDocCall[] = "if(top.whichElement)top.whichElement(event);";
// The document frame's handlers; every call into another frame is tested
// first, so a page opened on its own raises no error. Numbers: curId, then
// folder (twice: the tree and the overlay).
inline constexpr char kBodyOnloadFormat[] =
    " onload=\"if(self.name=='kivodoc'||self.name=='content'){"
    "if(top.kivotbar&&top.kivotbar.enableBut)top.kivotbar.enableBut('b3');"
    "if(top.setPD)top.setPD(%d);if(top.dynamicToolBar)top.dynamicToolBar();"
    "if(top.kivomain&&top.kivomain.togBnew)top.kivomain.togBnew(%d);self.focus();"
    "if(typeof parent.parent.hideOvrly!='undefined')parent.parent.hideOvrly=%d;";
// Only older browsers have a toolbar that shows the PDF button's state.
inline constexpr char kBodyOnloadPdfButton[] =
    "if(top.kivotbar&&top.kivotbar.disableBut){var p=0,l=document.links;"
    "for(var i=0;i<l.length;i++)if(/\\.pdf(&|#|$)/i.test(l[i].href))p=1;"
    "if(p)top.kivotbar.enableBut('b4');else top.kivotbar.disableBut('b4');}";
inline constexpr char kBodyOnloadNoMenuButton[] =
    "if(top.kivotbar&&top.kivotbar.disableBut)top.kivotbar.disableBut('b6');";
inline constexpr char kBodyOnloadEnd[] = "}\"";
// AC info: the tree follows only while it shows the library.
inline constexpr char kBodyInfoOnloadFormat[] =
    " onload=\"if(self.name=='kivodoc'){"
    "if(top.kivotbar&&top.kivotbar.enableBut)top.kivotbar.enableBut('b3');"
    "if(top.setPD)top.setPD(%d);if(top.dynamicToolBar)top.dynamicToolBar();"
    "if(top.kivomain&&top.kivomain.togBnew&&top.kivomain.currentTOCType=='LTOC')top.kivomain.togBnew(%d);}\"";
inline constexpr char kBodyMouseDownStart[] = " onmousedown=\"";
inline constexpr char kBodyMouseDownEnd[] = "\"";
inline constexpr char kBodyOnscroll[] =
    " onscroll=\"if(self.name=='kivodoc'||self.name=='content'){try{"
    "var f=top.document.getElementById('CRS_Negative_feedback');"
    "if(f&&f.style.display!='none')f.style.display='none';}catch(e){}}\"";
// A search-result page (TI or CW): older browsers, without FN; the others.
inline constexpr char kBodySearchOld[] = " id=\"srchBody\" onmousedown=\"if(top.whichElement)top.whichElement(event)\"";
inline constexpr char kBodySearch[] =
    " id=\"srchBody\" onmousedown=\"if(self.name=='kivodoc'&&top.whichElement)top.whichElement(event)\"";

// The collection tree script, inside the page's first script: the head,
// the root node (title and identity, or "No Title" without a title), a
// library's node (variable, title, identity), then kCollectionTreeEnd and
// the viewer's collection functions.
inline constexpr char kCollectionTreeHead[] =
    "\nvar nextNodeIdCol = 0;\nvar cfT = 0;\nvar ColViewTreeStatus = 0;\nfunction generateCollectionTree()\n{\n";
inline constexpr char kCollectionRootFormat[] = "  cfT=cNCol(\"%s\", \"%s\",0xFFFF);";
inline constexpr char kCollectionNoTitleRootFormat[] = "  cfT=cNCol(\"%s\", \"kivodoc\",0xFFFF);";
inline constexpr char kCollectionNodeFormat[] = "\n  %s = aNCol(cfT, cNCol(\"%s\", \"%s\", 1));";
inline constexpr char kCollectionVariableFormat[] = "C%d";
inline constexpr char kCollectionTreeEnd[] = "\n}\n";

// The main page's tree scripts start with the notes state (0 or 1) and the
// address of the toolbar images without their number (the script address
// and the revision).
inline constexpr char kTocTreeHeadFormat[] = "\nvar NotesEnabled=%d; var currentTOCType = 'LTOC';\n";
inline constexpr char kTocImageBaseFormat[] = "var kvoImgBase = \"%s?VR=%s&AC=TBIMG&IM=\";\n";

// "</head>": the include of the context-menu script (protocol, script
// address, query); its query (revision, BL, INFO).
inline constexpr char kMenuScriptIncludeFormat[] =
    "<script type=\"text/javascript\" language=\"JavaScript\" src=\"%s%s%s\"></script>\n";
inline constexpr char kMenuScriptQueryFormat[] = "?VR=%s&amp;AC=JSNOTESINLINE&amp;BL=%d&amp;INFO=%d";

// "</body>": the key handler script of the document frame (isMOM), the
// "b6" line (0: disabled), the reset lines for AC info and others.
inline constexpr char kKeyHandlerFormat[] =
    "if(self.name=='kivodoc') { top.enableCustContextMenu = true;\nvar isContextMenuActive = false;\n"
    "var isMOM=%d;\n";
inline constexpr char kButtonB6Format[] =
    "if(%d && top && top.kivotbar) top.kivotbar.enableBut(\"b6\"); else top.kivotbar.disableBut(\"b6\");\n";
inline constexpr char kKeyHandlerInfoReset[] = "top.resetFlags=0;top.flag_info=0;\ntop.flag_CopyToClip = 0;\n}\n";
inline constexpr char kKeyHandlerReset[] = "top.resetFlags=1;\n}\n";
inline constexpr char kScriptEnd[] = "</script>\n";
// The "new-menu" script's head, menu disabled or enabled (isMOM).
inline constexpr char kNewMenuDisabledFormat[] =
    "enableCustContextMenu = false;\nvar isContextMenuActive = false;\nvar isMOM=%d;\n";
inline constexpr char kNewMenuEnabledFormat[] =
    "enableCustContextMenu = true;\nvar isContextMenuActive = false;\nvar isMOM=%d;\n";

// The opening tag of the scripts the pass writes itself.
inline constexpr char kScriptStart[] = "<script type=\"text/javascript\" language=\"JavaScript\">\n";

// The context-menu style block of "</head>": the menus stay hidden until
// the context-menu script shows one.
std::string_view contextMenuStyle();

// The document frame's context menu ("<ul class='context-menu'
// id='menu_Doc'>..."); its entries call the script of the frame set (top).
// With notes: its five notes entries, each scriptAddress and the query
// with idValue, which the caller has made fit for a query (see
// notesIdValue); creating and listing notes shown, the library entries
// hidden.
std::string documentContextMenu(bool withNotes, std::string_view scriptAddress, std::string_view idValue);

// The ID value of the notes entries: up to its first blank, quotes dropped
// (also the "&#34;" and "&#39;" a stored field holds for them),
// URL-encoded for a script (so '&' and '+' cannot add fields).
std::string notesIdValue(std::string_view id);

// The "new-menu" context menu of document pages, whose own script include
// defines the menu functions.
std::string_view newContextMenu();

// The toolbar page: the script that gets the annotation button images
// holds this word, and they go in before it; the annotation button cell
// goes before the last cell whose start matches kToolbarButtonCell.
inline constexpr char kToolbarScriptWord[] = "zmainchg";
inline constexpr char kToolbarButtonCell[] = "<td width=\"3";  // of "<td width=\"34\"", 12 compared
inline constexpr char kToolbarCellStart[] = "<td ";

// The main page of a library's viewer. Every text spliced into its
// renderTree lands inside a double-quoted script string: no '"', '\\' or
// line end in them.
inline constexpr char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";
// togB's body runs for the library tree only; the viewer's main-togb-tail
// closes it.
inline constexpr char kTogBHead[] = "{\nif(currentTOCType == \"LTOC\") {\n";
inline constexpr char kDocCloseLine[] = "doc.close();\n";
// Before the tree's "bgcolor=": the library menu's area.
inline constexpr char kTreeBodyAttributes[] =
    " id ='context-menuLib' onmousedown='if(top.whichElementTree)top.whichElementTree(event)' ";
// Before the tree's first table: the overlay and suggestion layers, then the
// TOC toolbar (a statement of renderTree, not a string).
inline constexpr char kTreeLayers[] =
    "doc.write(\"<div id='ovrlyLayer' style='display:none'></div><div id='suggest'></div>\");\n"
    "if(typeof generateTOCToolbar=='function')generateTOCToolbar(doc);\n";
// After the tree style's "-->": the suggestion layer.
inline constexpr char kTreeSuggestStyle[] =
    "#suggest{position:absolute;z-index:900;display:none;background-color:#FFFFFF;border:1px solid #999999;"
    "font-family:Arial,Helvetica,sans-serif;font-size:12px;}"
    "#suggest div{padding:1px 4px;cursor:pointer;white-space:nowrap;}"
    "#suggest div.sel{background-color:#004499;color:#FFFFFF;}";
// The main frame set and its tree frame (script address, then "ID=" with
// the library's value, DB= or LI=).
inline constexpr char kMainFrameset[] = "<FRAMESET cols=\"311,*\"";
inline constexpr char kTreeFrameFormat[] =
    "<FRAME scrolling='NO' id='treeframe' src='%s%s?AC=TREEFRAME&amp;%s&amp;FN=kivotree.html'";
inline constexpr char kTreeFrameNoLibraryFormat[] =
    "<FRAME scrolling='NO' id='treeframe' src='%s%s?AC=TREEFRAME&amp;FN=kivotree.html'";

// The tree style's image rules (TOC toolbar images 135, 136, 140, 142,
// 143) and the library menu's hiding, for imageBase, the address of this
// front end's TBIMG images up to "IM=", which the caller has made fit for
// a CSS url in a script string.
std::string treeImageStyle(std::string_view imageBase);

// The library tree's context menu ("<ul class='context-menu' id='menu_Lib'>"),
// before the tree's "</BODY>"; its entries act on the main page (parent).
std::string_view libraryContextMenu();

}  // namespace ruva
