// The error page, the head and tail of simple pages, the request's fields
// carried on in links and forms, the toolbar and the context-menu script.
#include <cstdlib>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/js/context_menu_script.h"
#include "common/html_escape.h"
#include "common/html_header.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

// Post-processing and the frames' scripts find the message between these.
constexpr std::string_view kErrorMark = "<!--@error-->\n";
constexpr std::string_view kErrorEndMark = "<!--@/error-->\n";

constexpr std::string_view kXhtmlStart =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\r\n"
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">";

constexpr std::string_view kEucJpMeta =
    "<meta http-equiv=\"Content-type\" content=\"text/html; charset=euc-jp\">\n";

// One rule a line, as the page shows them.
// clang-format off
constexpr std::string_view kErrorPageStyle =
    "<style type='text/css'>\n"
    "<!--\n"
    "  a:link, a:active, a:visited { color:#004499;text-decoration: none }\n"
    "  a:hover{color:#6699CC;text-decoration:none}\n"
    "  body{background-color:#ffffff;color:#000000;font-family:helvetica,arial,sans-serif}\n"
    "  th{background-color:#e5e5e5;color:#333333;font-family:helvetica,arial,sans-serif;font-weight:normal;text-align:left;vertical-align:middle}\n"
    "  p{color:#333333;font-family:helvetica,arial,sans-serif}\n"
    "  td{color:#000000;font-family:helvetica,arial,sans-serif;vertical-align:top;white-space:nowrap}\n"
    "  input{vertical-align:middle}\n"
    "  img{border-width:0;vertical-align:middle}\n"
    "  .b0{background-color:#e5e5e5}\n"
    "  .b1{background-color:#f5f5f5}\n"
    "  .b2{background-color:#fffff5}\n"
    "  .cs{ font-size:8pt}\n"
    "  .c1{ color:#333333; font-size:x-small}\n"
    "  .c2{ color:#666666}\n"
    "  .c3{ color:#333333}\n"
    "  .c4{ color:#cc3333}\n"
    "  .c5{ color:#004499}\n"
    "  .c6{color:#333333;font-size:80%;padding-left:2px;padding-right:2px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px; vertical-align:middle;text-align:center}\n"
    "  .c7{color:#666666;font-size:80%;padding-left:0px;padding-right:6px;white-space:nowrap;text-align:right}\n"
    "  .c8{color:#333333;font-size:75%;padding-left:4px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px;vertical-align:middle}\n"
    "  .c9{font-size:80%;padding-left:4px;padding-right:2px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px;vertical-align:middle}\n"
    "  .c10{color:#666666;font-size:80%;padding-left:4px;padding-right:4px;white-space:nowrap;text-align:left}\n"
    "  .c11{color:#333333; font-size:80%;padding-left:4px;padding-right:4px;white-space:nowrap;border: solid 0 #ffffff;border-top-width:2px}\n"
    "  .c12{padding-bottom:4px; vertical-align:middle; height:16px;width:16px;}\n"
    "  .c13{color:#333333;font-size:80%;padding-left:0px;padding-right:0px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px}\n"
    "  .c14{color:#666666;font-size:80%;padding-left:50px;padding-right:4px;white-space:nowrap}\n"
    "  .c15{color:#666666;font-size:80%;padding-left:0px;padding-right:6px;white-space:nowrap;text-align:left}\n"
    "  .c16{white-space:nowrap;text-align:left; vertical-align:middle;}\n"
    "  .c17{color:#333333; font-size:x-small;vertical-align:middle;}\n"
    "  .c18{border:1px double #aca899;}\n"
    ".app{font-size:9px;color:#A8A8A8;text-align:left;xxmargin-left:75px;xxmargin-top:-5px;padding-top:6px;}\n"
    "  .hr{color:#999999;}\n"
    "-->\n"
    "</style>\n";
// clang-format on

constexpr std::string_view kErrorBodyOnLoad =
    " onLoad=\"if(self.name=='kivodoc'){ if(top.kivotbar) top.kivotbar.enableBut('b3'); "
    "if(top.kivomain){top.kivomain.togBnew(top.kivomain.prevFolderID);top.dynamicToolBar();} }\">\n";

constexpr std::string_view kBackButton = "<input type=button value=\"Back\" onClick=\"history.go(-1);\">\n";

// An entity is at most this long ("&#1114111;"); a '&' further back is text.
constexpr size_t kEntityMax = 10;

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

// Where text[0, n) may end without leaving a tag or an entity open.
size_t markupSafeEnd(std::string_view text, size_t n) {
    std::string_view kept = text.substr(0, n);
    size_t tag = kept.rfind('<');
    if (tag != std::string_view::npos && kept.find('>', tag) == std::string_view::npos) n = tag;
    size_t amp = kept.substr(0, n).rfind('&');
    if (amp != std::string_view::npos && n - amp <= kEntityMax && kept.find(';', amp) >= n) n = amp;
    return n;
}

// At most max characters of a page text. A message's closing tag span is kept
// whole and the text before it is cut instead: a cut span would grey the rest
// of the page. No cut leaves a tag or an entity open.
std::string cutPageText(std::string_view text, size_t max) {
    if (text.size() <= max) return std::string(text);
    std::string_view tail;
    constexpr std::string_view kSpanEnd = "</span>";
    size_t span = text.rfind("<span");
    if (text.ends_with(kSpanEnd) && span != std::string_view::npos && text.size() - span <= max) {
        tail = text.substr(span);
        text = text.substr(0, span);
    }
    std::string out(text.substr(0, markupSafeEnd(text, std::min(text.size(), max - tail.size()))));
    out.append(tail);
    return out;
}

// The search kinds whose error page carries the help paragraph.
bool isSearchKind(const Value* st) {
    if (!st) return false;
    return equalsNoCase(st->value, "FULLTEXT") || equalsNoCase(st->value, "AdvSearch") ||
           equalsNoCase(st->value, "DocSearch");
}

// One field of buildURLstring; nullopt when the name or the value cannot be
// coded whole (never written raw).
std::optional<std::string> urlField(int kind, const Value& field) {
    if (kind == kUrlHiddenInputs) {
        // '&' of the value stays: stored values hold entities already.
        return "<input type=\"hidden\" name=\"" + htmlEscaped(field.name) + "\" value=\"" +
               validateQuotesAndChar(field.value.c_str(), true) + "\" />";
    }
    int mode = kind == kUrlScriptQuery ? URLMODE_ENCODE_SCRIPT : URLMODE_ENCODE;
    bool nameCut = false;
    bool valueCut = false;
    std::string name = urlEncode(mode, field.name.c_str(), kUrlStringMax, &nameCut);
    std::string value = urlEncode(mode, field.value.c_str(), kUrlStringMax, &valueCut);
    if (nameCut || valueCut) return std::nullopt;
    return (kind == kUrlScriptQuery ? "&amp;" : "/") + name + "=" + value;
}

// A long read as "%ld": optional white space and sign, then digits; end
// points past them. False without a digit.
bool readLong(const char* text, long* number, const char** end) {
    char* stop = nullptr;
    long n = std::strtol(text, &stop, 10);
    if (stop == text) return false;
    *number = n;  // out of range: strtol's clamp
    *end = stop;
    return true;
}

// helpID from the session's listing: the last library whose name holds
// "kivo_help.khx". Without a session or a 200 listing it keeps its value.
void findHelpLibrary(CgiHandler& cg) {
    if (!cg.sess) return;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist("");
    if (!reply || reply->resultCode != 200) return;
    for (const UzMlListEntry* entry = reply->mllist(); entry && entry->filled(); entry = entry->next.get()) {
        if (entry->database->find("kivo_help.khx") != std::string::npos)
            cg.helpID = entry->database->substr(0, kHelpIdMax);
    }
}

}  // namespace

void CgiHandler::writeErrorPage(std::string_view message) {
    if (!cgifile || (flags & kCgiResponseDone)) return;
    const Value* sl = valueList ? valueList->findValue("SL") : nullptr;
    const Value* st = valueList ? valueList->findValue("ST") : nullptr;
    FILE* f = cgifile;
    fputs("Content-type: text/html\n\n", f);
    flags |= kCgiResponseDone;
    if (flags & kCgiHeadRequest) return;

    std::string title = getTextStr(2);
    std::string page(kXhtmlStart);
    page.append("\n<head>\n<title>").append(title).append("</title>");
    if (charEnc) page.append("\n").append(kEucJpMeta);
    page.append(kErrorPageStyle);
    page.append("</head>\n<body ").append(bodyAttrs).append(kErrorBodyOnLoad);
    page.append(undoublePercents(makeHtmlMainHeader(title.c_str())));
    std::string text = cutPageText(message, kErrorMessageMax);
    if (!isSearchKind(st)) {
        page.append("<pre>\n\n</pre><p>\n").append(kErrorMark).append(text).append(kErrorEndMark);
        page.append("</p><div align= \"center\">\n");
        if (sl) page.append(kBackButton);
    } else {
        page.append(kErrorMark).append("<font class=\"c2\"><small>").append(text).append(kErrorEndMark);
        page.append("</small></font></p><div align= \"center\">\n");
        findHelpLibrary(*this);
        std::string script = htmlEscaped(escapeScriptString(urlProto + kivoServName));
        std::string help =
            htmlEscaped(escapeScriptString(urlEncode(URLMODE_ENCODE_SCRIPT, helpID.c_str(), kUrlStringMax)));
        const char* chapter = equalsNoCase(st->value, "DocSearch") ? "LBmultiple" : "DBsearching";
        page.append(formatChecked(
            "<p align= \"left\"><font class=\"c2\"><small><b>For more information about searching and "
            "search patterns, please refer to <a href=\"#\"onClick=\"window.open("
            "'%s?VR=%s&DB=%s&FN=help.html&CH=%s','KIVOHELP','titlebar =0,toolbar=0,menubar=0,location=0,"
            "status=0,scrollbars=1,resizable=1,WIDTH=800,HEIGHT=600,LEFT='+(screen.width-800-21)+',TOP=0')"
            "\">Help</a> pages.</b>",
            script, kSystemRevision, help, chapter));
        page.append("</small></font></p>");
    }
    page.append("</div></body></html>\n");
    fwrite(page.data(), 1, page.size(), f);
    fflush(f);
}

int CgiHandler::writeHead(std::string_view title) {
    if (!docBuf) {
        setError(msg(235, "cgihandler/32"));
        return 0;
    }
    std::string text = cutPageText(title, kHeadTitleMax);
    return docPrintf(
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n"
        "<head>\n<title>%s</title>\n</head>\n<body><h1>%s</h1>\n",
        text, text);
}

int CgiHandler::outputTail() {
    if (!docBuf) {
        setError(msg(236, "cgihandler/33"));
        return 0;
    }
    return docWriteBuf("</body></html>\n");
}

std::string CgiHandler::buildURLstring(int kind, std::initializer_list<std::string_view> excluded) const {
    if (!valueList || kind < kUrlScriptQuery || kind > kUrlHiddenInputs) return {};
    std::string out;
    for (const Value* v = valueList->firstValue(); v; v = valueList->nextValue(v)) {
        if (v->name.empty() || v->value.empty()) continue;
        bool skip = false;
        for (std::string_view name : excluded) skip = skip || equalsNoCase(v->name, name);
        if (skip) continue;
        // The text ends with the last whole field that fits: half a field
        // would hand a wrong value on.
        std::optional<std::string> field = urlField(kind, *v);
        if (!field || out.size() + field->size() > kUrlStringMax) break;
        out += *field;
    }
    return out;
}

int CgiHandler::initToolbar() {
    const Value* im = valueList ? valueList->findValue("IM") : nullptr;
    long active = 0;
    long inactive = 0;
    const char* rest = nullptr;
    if (!im || !readLong(im->value.c_str(), &active, &rest)) {
        setError(msg(237, "cgihandler/34"));
        return 0;
    }
    // The inactive set is optional: "5" and "5,x" leave it 0.
    if (*rest == ',' && !readLong(rest + 1, &inactive, &rest)) inactive = 0;
    if (!toolbar) toolbar = newToolbar();
    if (!toolbar) {
        setError(msg(238, "cgihandler/35"));
        return 0;
    }
    toolbar->setActiveIcons(active);
    toolbar->setInactiveIcons(inactive);
    return 1;
}

int CgiHandler::generateJSBGMenuFunctions() {
    if (!allocDocBuf(131072)) return 0;
    docSize = 0;
    docBuf[0] = '\0';
    bool isIE =
        (browserType >= BROWSER_IE_3 && browserType <= BROWSER_IE_6) || isBrowserIE10 || isBrowserIE11;
    int useInfo = (flags & kCgiUseInfo) ? 1 : 0;
    // Only values escaped for a string literal reach the script; the
    // functions themselves are fixed text.
    int ok = docPrintf(
        "var enableCustContextMenu = true;\n"
        "var isIEBrowser = %d;\n"
        "var isContextMenuActive = false;\n"
        "var notes_cat_inline = \"%s\";\n"
        "var flag_info = %d;\n"
        "var info_enabled = %d;\n"
        "var flag_CopyToClip = 0;\n"
        "var GR_flag_info = 0;\n"
        "var resetFlags = 0;\n"
        "var browser_clip = \"\";\n"
        "var kivoScriptURL = \"%s\";\n",
        isIE ? 1 : 0, escapeScriptString(notes_category), useInfo, useInfo,
        escapeScriptString(urlProto + kivoServName));
    return ok && docWriteBuf(contextMenuScript()) ? 1 : 0;
}

}  // namespace ruva
