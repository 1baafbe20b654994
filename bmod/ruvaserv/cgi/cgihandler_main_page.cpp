// The rules for the frame pages of a library's viewer: the main page
// ("kivo.html", "kivo2.html") and the tree page ("kivotree.html"), and the
// query back to a search that the main page's document frame may get.
//
// The shapes these rules rely on, as libraries write their frame pages (the
// test fixtures hold them):
//   main page  one script with "function togB(branchName)",
//              "function initializeTree()" and "function renderTree()",
//              each name followed by its body in braces; renderTree writes
//              the tree frame through "doc.write(" calls whose arguments are
//              double-quoted strings: one beginning "<STYLE" (its "-->"
//              after it), one beginning "<TABLE", the body tag's first
//              attribute "bgcolor=", then "</BODY>", and ends with
//              "doc.close()"; "function renderNode(" writes its lines with
//              "doc.write(" up to the next "function "; the page declares
//              tree_content and tco_i, and renderTree writes
//              tree_content.join("") after renderNode; the frame set with
//              "cols=" holds the tree frame "<frame src=\"kivotree.html\"
//              ...>" next and the document frame after it, whose address may
//              hold "FN=kivodoc.html".
//   tree page  its body tag written by a script as "<\B\O\D\Y ...>", so no
//              rule takes it for the body; its onload calls
//              parent.initializeTree().
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/cgi/postprocess_pass.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/html_escape.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kNone = std::string_view::npos;
constexpr size_t kSearchReturnMax = 1023;
constexpr std::string_view kSearchTarget = "FN=kivodoc.html";
constexpr std::string_view kDocWrite = "doc.write(";
constexpr std::string_view kDocClose = "doc.close()";
constexpr std::string_view kBodyEnd = "</BODY>";
constexpr std::string_view kTreeFrameFile = "kivotree.html";
constexpr std::string_view kEscapedBody = "<\\B\\O\\D\\Y";

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

// A field value for a query that lands in a page, a script string or a
// quoted attribute: '&' and '+' coded too, and the quote of either kind.
std::string queryValue(const std::string& value) {
    std::string out;
    for (const char c : urlEncode(URLMODE_ENCODE_SCRIPT, value.c_str(), 3 * value.size() + 1))
        out += c == '\'' ? std::string("%27") : std::string(1, c);
    return out;
}

// The end of the string literal that starts at quote (the byte after its
// closing quote), or limit when it does not close before.
size_t stringEnd(std::string_view text, size_t quote, size_t limit) {
    const char q = text[quote];
    for (size_t at = quote + 1; at < limit; ++at) {
        if (text[at] == '\\') {
            ++at;
        } else if (text[at] == q || text[at] == '\n') {
            return at + 1;
        }
    }
    return limit;
}

// The bracket that closes the one at open (close, counting nested open),
// before limit; brackets in string literals and comments do not count.
// npos when there is none.
size_t closingBracket(std::string_view text, size_t open, size_t limit, char openChar, char closeChar) {
    int depth = 0;
    for (size_t at = open; at < limit;) {
        const char c = text[at];
        if (c == '"' || c == '\'' || c == '`') {
            at = stringEnd(text, at, limit);
            continue;
        }
        if (c == '/' && at + 1 < limit && (text[at + 1] == '/' || text[at + 1] == '*')) {
            const bool line = text[at + 1] == '/';
            const size_t end = text.find(line ? "\n" : "*/", at + 2);
            at = end == kNone || end >= limit ? limit : end + (line ? 1 : 2);
            continue;
        }
        if (c == openChar) {
            ++depth;
        } else if (c == closeChar && --depth == 0) {
            return at;
        }
        ++at;
    }
    return kNone;
}

// A function of the page's script: where its head starts, the braces of
// its body (only blanks between head and body).
struct ScriptFunction {
    size_t head = kNone, open = kNone, close = kNone;
};

ScriptFunction findFunction(const PageScan& scan, std::string_view head) {
    const std::string_view text = scan.page();
    ScriptFunction f;
    f.head = scan.find(0, head);
    if (f.head == kNone) return f;
    size_t at = f.head + head.size();
    while (at < text.size() && isAsciiSpace(static_cast<unsigned char>(text[at]))) ++at;
    if (at >= text.size() || text[at] != '{') return f;
    f.open = at;
    f.close = closingBracket(text, at, text.size(), '{', '}');
    return f;
}

// The front end's TBIMG address up to "IM=", for a CSS url('...') inside a
// double-quoted script string: quotes, brackets, '\', '<', '>' and control
// bytes percent-coded.
std::string treeImageBase(const CgiHandler& cg) {
    const std::string base = cg.urlProto + cg.kivoServName + "?VR=" + kSystemRevision + "&AC=TBIMG&IM=";
    std::string out;
    for (const unsigned char c : base) {
        if (c <= 0x20 || c == 0x7F || std::strchr("'\"()\\<>", c))
            out += formatChecked("%%%02X", static_cast<unsigned>(c));
        else
            out += static_cast<char>(c);
    }
    return out;
}

}  // namespace

// Set-up: the query back to the search, when SW asks for it. Every value is
// URL-coded; a part that would take the query past kSearchReturnMax
// characters is left out whole. CH comes before the fragment: after '#' it
// would reach no server.
void PostProcessPass::buildSearchReturn() {
    if (!has("SW")) return;
    std::string& link = ps_.searchReturn;
    link.clear();
    const auto add = [&link](const std::string& part) {
        if (link.size() + part.size() <= kSearchReturnMax) link += part;
    };
    const std::string nf = field("NF");
    if (has("NF") && !equalsCaseBlind(nf, "SEARCH")) add("FN=" + queryValue(nf));
    if (link.empty()) link = "AC=SEARCH";
    const auto value = [&](const char* name) {
        const std::string v = field(name);
        if (!v.empty()) add(std::string("&amp;") + name + "=" + queryValue(v));
    };
    value("ORPA");
    value("SL");
    if (field("LD") == "0") add("&amp;SW=1");
    for (const char* name : {"BA", "MT", "SP", "OD", "DO", "LLF", "PA", "PAT", "PAD", "PAC", "MLIDS", "IX", "STB",
                             "FB", "FC", "ST"})
        value(name);
    if (const std::string hc = field("HC"); !hc.empty()) add("&amp;CH=" + queryValue(hc));
    const std::string st = field("ST"), wk = field("WK");
    if (!field("PA").empty() &&
        (equalsCaseBlind(st, "ADVSEARCH") || equalsCaseBlind(st, "DOCSEARCH") || equalsCaseBlind(st, "FULLTEXT")))
        add("#SearchMatch1");
    else if (equalsCaseBlind(st, "catchword") && !wk.empty())
        add("#" + queryValue(wk));
}

// Set-up: renderNode collects its lines in tree_content instead of writing
// each: "doc.write(" up to the next "function " becomes
// "tree_content[++tco_i]=" and its argument, without the closing ')'. The
// page grows by 11 bytes a call, so it is built anew and becomes the
// document.
int PostProcessPass::rewriteRenderNode() {
    constexpr std::string_view kHead = "function renderNode(";
    const size_t start = scan_.find(0, kHead);
    if (start == kNone) return 1;
    const size_t found = scan_.find(start + kHead.size(), "function ");
    const size_t end = found == kNone ? size_ : found;
    std::string page;
    size_t copied = 0;
    for (size_t at = scan_.find(start, kDocWrite, end); at != kNone; at = scan_.find(at, kDocWrite, end)) {
        const size_t open = at + kDocWrite.size() - 1;
        const size_t close = closingBracket(page_, open, end, '(', ')');
        if (close == kNone) {
            at += kDocWrite.size();
            continue;
        }
        page.append(page_.substr(copied, at - copied));
        page += "tree_content[++tco_i]=";
        page.append(page_.substr(open + 1, close - open - 1));
        copied = at = close + 1;
    }
    if (copied == 0) return 1;
    page.append(page_.substr(copied));
    if (!cg_.allocDocBuf(page.size())) return 0;
    std::memcpy(cg_.docBuf, page.data(), page.size());
    cg_.docSize = page.size();
    scan_ = PageScan(cg_.docBuf, cg_.docSize);
    page_ = scan_.page();
    size_ = page_.size();
    return 1;
}

// The main page's edits, found before the pass starts: they lie in its own
// script, where the pass has no rule of its own to find them.
void PostProcessPass::planMainPage() {
    mainEdits_.clear();
    nextMainEdit_ = 0;
    mainEdits_.push_back({0, 0, kXmlDeclaration});
    planTogB();
    planInitializeTree();
    planRenderTree();
    planSearchLinks();
    std::stable_sort(mainEdits_.begin(), mainEdits_.end(),
                     [](const MainPageEdit& a, const MainPageEdit& b) { return a.at < b.at; });
    // An edit inside the bytes another drops (a search link inside the
    // replaced initializeTree) goes with them.
    size_t reach = 0;
    std::erase_if(mainEdits_, [&reach](const MainPageEdit& edit) {
        if (edit.at < reach) return true;
        reach = edit.at + edit.skip;
        return false;
    });
    mainAt_ = mainEdits_.empty() ? kNone : mainEdits_.front().at;
}

// togB works for the library tree only; the tail replaces its closing '}'.
void PostProcessPass::planTogB() {
    const ScriptFunction f = findFunction(scan_, "function togB(branchName)");
    if (f.close == kNone) return;
    mainEdits_.push_back({f.open, 1, kTogBHead});
    mainEdits_.push_back({f.close, 1, std::string(viewerScript("main-togb-tail"))});
}

void PostProcessPass::planInitializeTree() {
    const ScriptFunction f = findFunction(scan_, "function initializeTree()");
    if (f.close == kNone) return;
    mainEdits_.push_back({f.head, f.close + 1 - f.head, std::string(viewerScript("main-init-tree"))});
}

// renderTree up to its "doc.close()": the tree's style, layers, menu area
// and library menu go into the strings it writes.
void PostProcessPass::planRenderTree() {
    const ScriptFunction f = findFunction(scan_, "function renderTree()");
    if (f.close == kNone) return;
    const size_t open = f.open, close = f.close;
    const size_t closeCall = scan_.find(open, kDocClose, close);
    const size_t end = closeCall == kNone ? close : closeCall;
    bool styled = false, layered = false;
    for (size_t at = scan_.find(open, kDocWrite, end); at != kNone; at = scan_.find(at + 1, kDocWrite, end)) {
        size_t arg = at + kDocWrite.size();
        while (arg < end && isAsciiSpace(scan_.at(arg))) ++arg;
        if (arg >= end || page_[arg] != '"') continue;
        const size_t text = arg + 1, textEnd = stringEnd(page_, arg, end);
        if (!styled && scan_.startsAt(text, "<STYLE")) {
            const size_t gt = scan_.findByte(text, '>', textEnd);
            if (gt == kNone) continue;
            styled = true;
            mainEdits_.push_back({gt + 1, 0, treeImageStyle(escapeScriptString(treeImageBase(cg_)))});
            const size_t comment = scan_.find(gt, "-->", end);
            if (comment != kNone) mainEdits_.push_back({comment + 3, 0, kTreeSuggestStyle});
        } else if (!layered && scan_.startsAt(text, "<TABLE")) {
            layered = true;
            mainEdits_.push_back({at, 0, kTreeLayers});
        }
    }
    if (const size_t bgcolor = scan_.find(open, "bgcolor=", end); bgcolor != kNone)
        mainEdits_.push_back({bgcolor, 0, kTreeBodyAttributes});
    // The menu goes in with "</BODY>", which then meets no rule of the pass.
    if (const size_t bodyEnd = scan_.find(open, kBodyEnd, end); bodyEnd != kNone)
        mainEdits_.push_back({bodyEnd, kBodyEnd.size(),
                              std::string(libraryContextMenu()) + std::string(page_.substr(bodyEnd, kBodyEnd.size()))});
    if (closeCall != kNone) mainEdits_.push_back({closeCall, kDocClose.size(), kDocCloseLine});
}

void PostProcessPass::planSearchLinks() {
    if (!has("SW")) return;
    for (size_t at = scan_.find(0, kSearchTarget); at != kNone; at = scan_.find(at + 1, kSearchTarget))
        mainEdits_.push_back({at, kSearchTarget.size(), std::string(), true});
}

// The edits placed at so_; those another rule stepped over are dropped. 1
// when an edit dropped page bytes (the step ends), 0 when the pass goes on
// at so_, -1 when a write failed.
int PostProcessPass::mainPageEdit() {
    while (nextMainEdit_ < mainEdits_.size() && mainEdits_[nextMainEdit_].at < so_) ++nextMainEdit_;
    bool skipped = false;
    if (nextMainEdit_ < mainEdits_.size() && mainEdits_[nextMainEdit_].at == so_) {
        if (const int moved = handOver()) return moved;
        while (!skipped && nextMainEdit_ < mainEdits_.size() && mainEdits_[nextMainEdit_].at == so_) {
            const MainPageEdit& edit = mainEdits_[nextMainEdit_++];
            std::string text = edit.text;
            if (edit.searchLink) {
                // Fields in a script are separated by '&' alone.
                text = ps_.searchReturn;
                for (size_t amp = 0; ps_.inScript && (amp = text.find("&amp;", amp)) != kNone; ++amp)
                    text.erase(amp + 1, 4);
            }
            if (!write(text)) return -1;
            so_ += edit.skip;
            skipped = edit.skip > 0;
        }
    }
    mainAt_ = nextMainEdit_ < mainEdits_.size() ? mainEdits_[nextMainEdit_].at : kNone;
    return skipped ? 1 : 0;
}

// The main frame set gets the tree's width; its tree frame is asked of this
// front end (TREEFRAME), for the library by ID, else DB, else LI. The old
// frame tag is dropped through its "kivotree.html" and the quote after it;
// its other attributes stay.
int PostProcessPass::mainFrameset() {
    if (!ps_.bKivoMain) return 0;
    const size_t gt = scan_.findByte(so_, '>');
    const size_t tagEnd = gt == kNone ? size_ : gt;
    if (scan_.startsAt(so_, "<frameset")) {
        if (scan_.find(so_, "cols=", tagEnd) == kNone) return 0;
        if (!write(kMainFrameset)) return -1;
        so_ = tagEnd;
        treeFramePending_ = true;
        return 1;
    }
    if (!treeFramePending_ || !scan_.startsAt(so_, "<frame") ||
        !(scan_.at(so_ + 6) == '>' || isAsciiSpace(scan_.at(so_ + 6))))
        return 0;
    treeFramePending_ = false;
    const size_t file = scan_.find(so_, kTreeFrameFile, tagEnd);
    if (file == kNone) return 0;
    std::string library;
    for (const char* name : {"ID", "DB", "LI"}) {
        if (const std::string v = field(name); !v.empty()) {
            library = std::string(name) + "=" + queryValue(v);
            break;
        }
    }
    const int ok = library.empty()
                       ? cg_.dstPrintf(kTreeFrameNoLibraryFormat, cg_.urlProto, cg_.kivoServName)
                       : cg_.dstPrintf(kTreeFrameFormat, cg_.urlProto, cg_.kivoServName, library);
    if (!ok) return -1;
    so_ = file + kTreeFrameFile.size();
    if (scan_.at(so_) == '"' || scan_.at(so_) == '\'') ++so_;
    return 1;
}

// The tree page's body tag, written by its script: its onload calls the
// tree set-up of the auto-sync functions instead of the library's own.
int PostProcessPass::treeBodyTag() {
    if (!ps_.bKivoTree || !scan_.startsAt(so_, kEscapedBody)) return 0;
    const size_t stop = page_.find_first_of(std::string_view(">\0", 2), so_);
    const size_t end = stop == kNone ? size_ : page_[stop] == '>' ? stop + 1 : stop;
    constexpr std::string_view kOld = "initializeTree", kNew = "treeInitialize";
    std::string tag(page_.substr(so_, end - so_));
    for (size_t at = 0; (at = tag.find(kOld, at)) != kNone; at += kNew.size()) tag.replace(at, kOld.size(), kNew);
    if (!write(tag)) return -1;
    so_ = end;
    ps_.inTag = false;
    return 1;
}

}  // namespace ruva
