#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "common/url_code.h"

namespace ruva {

namespace {

// The body's mouse-down handler closes a menu on any press that is not the
// right button, before a click could reach the entry under the mouse: so
// entries act on the press themselves, and the close follows.
constexpr char kStyle[] =
    "<style type=\"text/css\">\n"
    "ul.context-menu { display: none; position: absolute; z-index: 1000; margin: 0; padding: 2px 0;"
    " list-style: none; min-width: 180px; background-color: #F4F4F4; border: 1px solid #999999;"
    " font-family: Arial, Helvetica, sans-serif; font-size: 12px; }\n"
    "ul.context-menu li { margin: 0; padding: 0; }\n"
    "ul.context-menu li a { display: block; padding: 3px 14px; color: #000000; text-decoration: none;"
    " white-space: nowrap; }\n"
    "ul.context-menu li a:hover { background-color: #004499; color: #FFFFFF; }\n"
    "ul.context-menu li.cm-separator { border-top: 1px solid #CCCCCC; margin: 2px 0; }\n"
    "ul.context-menu li.cm-info { padding: 3px 14px; color: #777777; white-space: nowrap; }\n"
    "</style>\n";

// Entries both menus share; the page address is kept without ID and DB
// (removeIDDB), which name the library by a number of this server run.
constexpr char kNavigationEntries[] =
    "<li><a href=\"#\" onmousedown=\"history.back(); return false;\">Back</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"history.forward(); return false;\">Forward</a></li>\n"
    "<li><a href=\"#\" onmousedown=\"window.print(); return false;\">Print</a></li>\n";

constexpr char kDocCopyLinkEntry[] =
    "<li><a href=\"#\" onmousedown=\"window.prompt('Link to this page:', top.removeIDDB(location.href));"
    " return false;\">Copy Link to this Page</a></li>\n";

constexpr char kNewCopyLinkEntry[] =
    "<li><a href=\"#\" onmousedown=\"window.prompt('Link to this page:', removeIDDB(location.href));"
    " return false;\">Copy Link to this Page</a></li>\n";

constexpr char kMenuEnd[] =
    "<li class='cm-separator'></li>\n"
    "<li class='cm-info'>&lt;CTRL + Right-Click&gt; to open browser menu</li>\n"
    "</ul>\n";

struct NotesEntry {
    const char* id;
    const char* display;  // creating and listing are shown, the library's hidden
    const char* label;
};

// One notes entry: opens its address in the notes window on the press.
std::string notesEntry(const NotesEntry& entry, std::string_view address) {
    std::string out = "<li id='";
    out += entry.id;
    out += "' style='display:";
    out += entry.display;
    out += "'><a href='";
    out += address;
    out += "' target='kivonotes' onmousedown=\"window.open(this.href, this.target); return false;\">";
    out += entry.label;
    out += "</a></li>\n";
    return out;
}

}  // namespace

std::string_view contextMenuStyle() { return kStyle; }

std::string notesIdValue(std::string_view id) {
    // Stored fields hold their quotes as "&#34;" and "&#39;".
    const std::string_view word = id.substr(0, id.find(' '));
    std::string kept;
    for (size_t i = 0; i < word.size(); ++i) {
        if (word.substr(i, 5) == "&#34;" || word.substr(i, 5) == "&#39;") {
            i += 4;
        } else if (word[i] != '"' && word[i] != '\'') {
            kept += word[i];
        }
    }
    return urlEncode(URLMODE_ENCODE_SCRIPT, kept.c_str(), 3 * kept.size() + 1);
}

std::string documentContextMenu(bool withNotes, std::string_view scriptAddress, std::string_view idValue) {
    std::string out = "<ul class='context-menu' id='menu_Doc'>\n";
    out += kNavigationEntries;
    out += kDocCopyLinkEntry;
    if (withNotes) {
        const std::string script(scriptAddress);
        const std::string id(idValue);
        const std::string list = script + "?AC=NOTELI&FN=kivodoc.html&ID=" + id;
        const std::string library = script + "?AC=NOTELI&ID=" + id + "&FN=kivodoc.html&LIB=Yes";
        out += "<li class='cm-separator'></li>\n";
        out += notesEntry({"cm-notecr", "inline", "Create Note"},
                          script + "?AC=NOTECR&FN=kivodoc.html&ID=" + id);
        out += notesEntry({"cm-noteli-lib", "none", "List Notes of this Library"}, library);
        out += notesEntry({"cm-noteexp-lib", "none", "Export Notes of this Library"}, library + "&VS=1");
        out += notesEntry({"cm-noteli", "inline", "List Notes of this Document"}, list);
        out += notesEntry({"cm-noteexp", "inline", "Export Notes of this Document"}, list + "&VS=1");
    }
    out += kMenuEnd;
    return out;
}

std::string_view newContextMenu() {
    static const std::string menu =
        std::string("<ul class='context-menu' id='new-menu'>\n") + kNavigationEntries + kNewCopyLinkEntry + kMenuEnd;
    return menu;
}

std::string treeImageStyle(std::string_view imageBase) {
    struct Rule {
        const char* selector;
        int image;
    };
    static constexpr Rule kRules[] = {{".tbLibTree", 135}, {".tbDocTree", 136}, {".tbColTree", 140},
                                      {".tbExpand", 142},  {".tbCollapse", 143}};
    const std::string base(imageBase);
    std::string out;
    for (const Rule& rule : kRules)
        out += std::string(rule.selector) + "{background-image:url('" + base + std::to_string(rule.image) +
               "');background-repeat:no-repeat;}";
    out += "ul.context-menu{display:none;position:absolute;z-index:1000;margin:0;padding:2px 0;list-style:none;"
           "background-color:#F4F4F4;border:1px solid #999999;}";
    return out;
}

std::string_view libraryContextMenu() {
    return "<ul class='context-menu' id='menu_Lib'>"
           "<li><a href='#' onmousedown='if(parent.expandAllFolders)parent.expandAllFolders(); return false;'>"
           "Expand All Folders</a></li>"
           "<li><a href='#' onmousedown='if(parent.collapseAllFolders)parent.collapseAllFolders(); return false;'>"
           "Collapse All Folders</a></li>"
           "</ul>";
}

}  // namespace ruva
