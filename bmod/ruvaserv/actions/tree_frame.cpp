// TREEFRAME: the tree frame page with the library's document filters.
#include "bmod/ruvaserv/actions/tree_frame.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/version.h"

namespace ruva {

namespace {

static_assert(kDwfScriptMinDistance >= kDwfScriptSkip, "the script's start must lie before its end key");
static_assert(kDwfStyleMinDistance >= kDwfStyleSkip + kDwfStyleTail, "the style must not end before it starts");

constexpr size_t kTreePageBufSize = 262144;
constexpr const char* kFiltersMember = "dwfilters.js";
// A library comment holding this has document filters.
constexpr std::string_view kFilterMark = "CAT:";

constexpr char kTreeStyle[] =
    "body { margin: 0; padding: 0; background-color: #FFFFFF; font-family: Arial, Helvetica, sans-serif;"
    " font-size: 12px; }\n"
    "#treetoolbar { height: 32px; border-bottom: 1px solid #CCCCCC; }\n"
    "#suggest { position: absolute; z-index: 900; display: none; background-color: #FFFFFF;"
    " border: 1px solid #999999; }\n"
    "ul.context-menu { display: none; position: absolute; z-index: 1000; margin: 0; padding: 2px 0;"
    " list-style: none; background-color: #F4F4F4; border: 1px solid #999999; }\n"
    "ul.context-menu li a { display: block; padding: 3px 14px; color: #000000; text-decoration: none; }\n"
    "ul.context-menu li.cm-info { padding: 3px 14px; color: #777777; white-space: nowrap; }\n";

constexpr char kOverlayStyle[] =
    "#bgoverlay { display: none; position: fixed; top: 0; left: 0; z-index: 800; background-color: #808080;"
    " opacity: 0.5; }\n"
    "#filters { display: none; position: fixed; top: 36px; left: 8px; right: 8px; z-index: 850;"
    " background-color: #FFFFFF; border: 1px solid #999999; padding: 6px; }\n"
    "#filters img { border: 0; vertical-align: middle; }\n";

// Older browsers place the layer themselves (no fixed positions, no
// opacity).
constexpr char kOldOverlayStyle[] =
    "<STYLE type='text/css'><!--\n"
    "#bgoverlay { display: none; position: absolute; top: 0; left: 0; z-index: 800;"
    " background-color: #808080; filter: alpha(opacity=50); }\n"
    "#filters { display: none; position: absolute; top: 36px; left: 8px; width: 280px; z-index: 850;"
    " background-color: #FFFFFF; border: 1px solid #999999; padding: 6px; }\n"
    "--></STYLE>";

constexpr char kTreeBody[] =
    "<body bgcolor=\"#FFFFFF\" onkeydown=\"return kvTreeKey(event);\" onresize=\"kvTreeResize();\""
    " onload=\"kvTreeLoad();\" onmousedown=\"return kvTreeMouse(event);\" onclick=\"return kvTreeClick(event);\">\n";

constexpr char kChapterMenu[] =
    "<ul class='context-menu' id='menu_Chap'>\n"
    "<li><a href=\"#\" onmousedown=\"if(top.openLinkNewWin)top.openLinkNewWin(); return false;\">"
    "Open in New Window</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"if(top.openBookmark)top.openBookmark(); return false;\">"
    "Bookmark this Link</a></li>\n"
    "<li class='cm-info'>&lt;CTRL + Right-Click&gt; to open browser menu</li>\n"
    "</ul>\n";

// The start of a key's value and its end before the end key; none when a
// key is missing, the end key comes before the key or nearer than
// minDistance.
std::optional<std::string_view> keyedValue(std::string_view file, std::string_view key, std::string_view endKey,
                                           size_t minDistance, size_t skip, size_t tail) {
    const size_t at = file.find(key);
    if (at == std::string_view::npos) return std::nullopt;
    const size_t end = file.find(endKey, at + key.size());
    if (end == std::string_view::npos || end - at < minDistance) return std::nullopt;
    return file.substr(at + skip, end - tail - (at + skip));
}

bool isScriptPunctuation(char c) {
    return c == ';' || c == '{' || c == '}' || c == '(' || c == ')';
}

std::string unescapeFilterScript(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const std::string_view rest = text.substr(i);
        const char next = rest.size() > 1 ? rest[1] : '\0';
        if (rest.starts_with("\\n\\")) {
            i += 3;
        } else if (rest[0] == 'n' && next == '\\') {
            ++i;
        } else if (rest[0] == '\\' && (next == '"' || next == '\'')) {
            ++i;
        } else if (rest[0] == '\\' && i > 0 && isScriptPunctuation(text[i - 1])) {
            ++i;
        } else {
            out += rest[0];
            ++i;
        }
    }
    // The value's closing quote and whatever follows it go.
    const size_t brace = out.rfind('}');
    out.resize(brace == std::string::npos ? 0 : brace + 1);
    return out;
}

std::string unescapeFilterStyle(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i > 0 && text[i - 1] == '}') continue;
        out += text[i];
    }
    return out;
}

struct TreeFilters {
    std::string script;
    std::string style;
};

// The library's filters out of its dwfilters.js; false with the reason in
// cg's error text (fetch) or none (a file without the keys).
bool fetchFilters(CgiHandler& cg, const std::string& library, TreeFilters& filters) {
    std::string member = kFiltersMember;
    if (!cg.retrieveFile(library, member)) return false;
    const std::string_view file = cg.docBuf ? std::string_view(cg.docBuf, cg.docSize) : std::string_view();
    const bool found = extractDwFilters(file, filters.script, filters.style);
    // The frame is a page of its own: no file name to save it under, no
    // date of the filters' file.
    cg.mimeFilename.clear();
    cg.docCTime = 0;
    return found;
}

bool modernBrowser(const CgiHandler& cg) {
    const BrowserType type = cg.browserType;
    return (type != BROWSER_IE_6 && type != BROWSER_IE_5 && type != BROWSER_NETSCAPE_6) || cg.isBrowserIE10 ||
           cg.isBrowserIE11;
}

class TreePage {
public:
    explicit TreePage(CgiHandler& cg)
        : cg_(cg),
          imageBase_(cg.urlProto + cg.kivoServName + "?VR=" + kSystemRevision + "&AC=TBIMG&IM=") {}

    bool head(const TreeFilters* filters);
    bool body(const TreeFilters* filters);

private:
    bool write(std::string_view text) { return cg_.docWriteBuf(text) != 0; }
    std::string image(int number) const {
        return escapeHtmlKeepEntities(imageBase_ + std::to_string(number), true);
    }
    std::string overlayFunctions(const char* section) const {
        return "var kvTreeImgBase = '" + escapeScriptString(imageBase_) + "';\n" +
               std::string(scriptSection(treeFrameScriptFile(), section)) +
               std::string(scriptSection(treeFrameScriptFile(), "overlay-common"));
    }
    bool filterBlocks();

    CgiHandler& cg_;
    std::string imageBase_;
};

bool TreePage::head(const TreeFilters* filters) {
    bool ok = write(kXhtmlDoctype) && write(kXhtmlStartTag) &&
              write("\n<head>\n<title>KIVO Tree</title>\n<STYLE type='text/css'><!--\n") && write(kTreeStyle) &&
              (!filters || write(filters->style)) && write("--></STYLE>\n");
    if (ok && filters) {
        ok = modernBrowser(cg_)
                 ? cg_.docPrintf("<STYLE type='text/css'><!--\n%s--></STYLE>\n"
                                 "<script type='text/Javascript' language='Javascript'>\n%s\n%s\n</script>\n",
                                 kOverlayStyle, overlayFunctions("overlay"), filters->script)
                 : cg_.docPrintf("%s\n<script type='text/Javascript' language='Javascript'>\n%s\n%s\n</script>\n",
                                 kOldOverlayStyle, overlayFunctions("overlay-old"), filters->script);
    }
    return ok && write("<script type='text/Javascript' language='Javascript'>\n") &&
           write(scriptSection(treeFrameScriptFile(), "handlers")) && write("</script>\n</head>\n");
}

// The grey layer and the form the filter script fills, with the buttons
// that apply and close it.
bool TreePage::filterBlocks() {
    return write("<div id='bgoverlay' onclick='hideFilters();'></div>\n<div id='filters'>\n") &&
           cg_.docPrintf("<img src='%s' alt='' /> Filters\n<div id='dwfForm'></div>\n<div>", image(140)) &&
           cg_.docPrintf(
               "<a href='#' onclick='applyFilters(); return false;'><img src='%s' alt='Apply' title='Apply'"
               " onmouseover='hoverButton(this, 140, true);' onmouseout='hoverButton(this, 140, false);' /></a>\n",
               image(140)) &&
           cg_.docPrintf(
               "<a href='#' onclick='hideFilters(); return false;'><img src='%s' alt='Close' title='Close'"
               " onmouseover='hoverButton(this, 143, true);' onmouseout='hoverButton(this, 143, false);' /></a>\n",
               image(143)) &&
           write("</div>\n</div>\n");
}

bool TreePage::body(const TreeFilters* filters) {
    bool ok = write(kTreeBody) && (!filters || filterBlocks()) && write("<div id='suggest'></div>\n") &&
              write("<div id='treetoolbar'>");
    if (ok && filters) {
        ok = cg_.docPrintf(
            "<a href='#' onclick='showFilters(); return false;'><img id='filterbut' src='%s' alt='Filters'"
            " title='Filters' width='25' height='28' /></a>",
            image(136));
    }
    return ok && write("</div>\n") && write(kChapterMenu) && write("</body></html>\n");
}

}  // namespace

bool extractDwFilters(std::string_view file, std::string& script, std::string& style) {
    const std::optional<std::string_view> scriptText =
        keyedValue(file, kDwfScriptKey, kDwfScriptEndKey, kDwfScriptMinDistance, kDwfScriptSkip, 0);
    const std::optional<std::string_view> styleText = keyedValue(file, kDwfStyleKey, kDwfStyleEndKey,
                                                                 kDwfStyleMinDistance, kDwfStyleSkip, kDwfStyleTail);
    if (!scriptText || !styleText) return false;
    script = unescapeFilterScript(*scriptText);
    style = unescapeFilterStyle(*styleText);
    return true;
}

int KivoHandler::writeDummyTreeFrame() {
    if (!cg) return 0;
    const std::string library =
        hasFilledValue(*cg->valueList, "ID") ? valueOf(*cg->valueList, "ID") : valueOf(*cg->valueList, "DB");
    // No library: entry's generic message answers; a failed session leaves
    // its own text.
    if (library.empty() || !cg->establishDefaultSession()) return 0;
    std::unique_ptr<UzResponse> reply = cg->sess->mllist(library);
    if (!reply || reply->resultCode != 200) {
        setError(msgFormat(92, "kivohandler/97"), makeAddrString(cg->sess->iaddr, cg->sess->port),
                 cg->sess->getError());
        return 0;
    }
    const UzMlListEntry* entry = reply->mllist();
    while (entry && entry->filled() && entry->type != ML_NODE_TYPE_ZS) entry = entry->next.get();
    if (!entry || !entry->filled() || entry->comment.empty()) {
        setError(msgFormat(13, "kivohandler/96"));
        return 0;
    }
    const bool filtered = entry->comment.find(kFilterMark) != std::string::npos;
    reply.reset();
    TreeFilters filters;
    if (filtered && !fetchFilters(*cg, library, filters)) return 0;
    cg->freeDocBuf();
    cg->mimeType = "text/html";
    if (!cg->allocDocBuf(kTreePageBufSize)) return 0;
    cg->docSize = 0;
    TreePage page(*cg);
    return page.head(filtered ? &filters : nullptr) && page.body(filtered ? &filters : nullptr) ? 1 : 0;
}

}  // namespace ruva
