// TOOLBAR: the page of the toolbar frame kivotbar, with the search form,
// the buttons and the hidden forms the main page's script submits.
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/listing_reply.h"
#include "common/cookie.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr size_t kToolbarBufSize = 18000;
constexpr int kSuggestionCount = 10;  // CT of the search-hint request

// Toolbar images by number (TBIMG).
enum ToolbarIconNumber : int {
    LOGO_NEW = 8,
    A_SPACE = 25,
    SEPARATOR = 26,
    ANNOT_NEW = 59,
    MOVE_ICON = 126,
    BACK_ICON = 127,
    BOOKMARK_NEW = 128,
    HELP_NEW = 129,
    PRINT_NEW = 130,
    PDF_NEW = 131,
    SEARCH_NEW = 132,
    SEARCH_HIT = 134,
};

// The number in the program revision after its leading letters: 19 for
// "R19K".
int cookieVersion() {
    const char* at = kSystemRevision;
    while (std::isalpha(static_cast<unsigned char>(*at))) ++at;
    return std::atoi(at);
}

// The search-hint program sits beside this one: every "kivoserv" of our
// address, in any case, names it instead.
std::string hintAddress(const CgiHandler& cg) {
    std::string address = cg.urlProto + cg.kivoServName;
    constexpr std::string_view kOwn = "kivoserv";
    for (size_t at = 0; at + kOwn.size() <= address.size();) {
        if (strncasecmp(address.c_str() + at, kOwn.data(), kOwn.size()) == 0) {
            address.replace(at, kOwn.size(), "kivohint");
            at += kOwn.size();
        } else {
            ++at;
        }
    }
    return address;
}

// A display switch cookie: "0" or "1" as set, anything else "1".
const char* cookieSwitch(const char* name) {
    const std::optional<std::string> value = getcookieforpn(name);
    return value && *value == "0" ? "0" : "1";
}

class ToolbarPage {
public:
    explicit ToolbarPage(CgiHandler& cg) : cg_(cg) {}

    bool head();
    bool searchForm();
    bool buttons();
    bool hiddenForms();

private:
    bool write(std::string_view text) { return cg_.docWriteBuf(text) != 0; }
    bool icon(int number, int width, int height, const char* extra);
    bool button(const char* id, int number, const std::string& title);
    bool separator() { return write("<td>") && icon(SEPARATOR, 12, 22, "") && write("</td>\n"); }
    bool languageList();
    bool logoCell();
    bool uzField() {
        return !(cg_.flags & kCgiAllowUzOnUrl) ||
               write("<input type=\"hidden\" name=\"UZ\" value=\"<!--@@uzaddr-->\" />\n");
    }

    CgiHandler& cg_;
};

bool ToolbarPage::head() {
    bool ok = write("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n") && write(kXhtmlStartTag) &&
              write("\n<head>\n");
    if (ok && cg_.charEnc && !cg_.charEncoding.empty())
        ok = cg_.docPrintf("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=%s\" />\n",
                           escapeHtmlKeepEntities(cg_.charEncoding, true));
    const bool privacy = !cg_.privacyStatus.empty() && !cg_.privacyURL.empty();
    const std::string domain = cg_.httpdHost.starts_with('/') ? cg_.httpdHost.substr(1) : cg_.httpdHost;
    const int version = cookieVersion();
    return ok &&
           cg_.docPrintf("<title>%s</title>\n<script type=\"text/javascript\">\n<!--\n", "KIVO toolbar") &&
           cg_.docPrintf("var kvCookieVersion = %d;\nvar kvWhatsNewCookie = 'KIVO_%d_WHATSNEW';\n", version,
                         version) &&
           cg_.docPrintf("var kvCookieDomain = '%s';\nvar kvHintAddress = '%s';\nvar kvHintCount = %d;\n",
                         escapeScriptString(domain), escapeScriptString(hintAddress(cg_)),
                         kSuggestionCount) &&
           cg_.docPrintf(
               "var kvPrivacyMode = '%s';\nvar kvPrivacyAddress = '%s';\nvar kvPrivacyStatus = '%s';\n",
               privacy ? "Extranet" : "NO_NEED_OF_AJAX_CALL", escapeScriptString(cg_.privacyURL),
               escapeScriptString(privacy ? cg_.privacyStatus : "NO_NEED_OF_AJAX_CALL")) &&
           write(toolbarScriptFile()) && write("//-->\n</script>\n<style type=\"text/css\">\n") &&
           write(toolbarStyleFile()) && write("</style>\n</head>\n");
}

bool ToolbarPage::searchForm() {
    return write("<body onkeydown=\"return handleKeyMovement(event);\">\n<!--@@noprnt-->") &&
           write(
               "<form method='get' name=\"lib\" action=\"qzl:/kivo\" target=\"kivodoc\" "
               "onSubmit='javascript:return top.checkSearch();' autocomplete='off'>\n") &&
           write("<input type=\"hidden\" name=\"li\" value=\"\" />\n");
}

bool ToolbarPage::icon(int number, int width, int height, const char* extra) {
    return cg_.docPrintf(
        "<img src=\"qzl:/kivo?VR=%s&amp;AC=tbimg&amp;IM=%d\" width=\"%d\" height=\"%d\"%s />",
        kSystemRevision, number, width, height, extra);
}

bool ToolbarPage::button(const char* id, int number, const std::string& title) {
    const std::string extra = formatChecked(
        " id=\"%s\" class=\"tbBut\" title=\"%s\" alt=\"%s\" onmouseover=\"handleOnMouseOver('%s');\" "
        "onmouseout=\"handleOnMouseOut('%s');\" onmousedown=\"return handleOnMouseDown('%s');\"",
        id, title, title, id, id, id);
    return write("<td>") && icon(number, 23, 22, extra.c_str()) && write("</td>\n");
}

bool ToolbarPage::buttons() {
    const bool annotations = (cg_.flags & kCgiUseAnnotation) && !valueOf(*cg_.valueList, "TB").empty();
    bool ok = write("<table class=\"toolbar\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\"><tr>\n") &&
              write(
                  "<td><input type=\"text\" id=\"search_inp\" name=\"PA\" size=\"20\" value=\"\" "
                  "onfocus=\"emptySearchField();\" onblur=\"resetSearchBlur();\" "
                  "onkeyup=\"startSuggestions(event);\" /><div id=\"search_suggest\"></div></td>\n") &&
              write("<td>") &&
              icon(SEARCH_NEW, 12, 14,
                   " id=\"search_but\" class=\"tbBut\" title=\"Search\" alt=\"Search\" "
                   "onmousedown=\"return handleOnMouseDown('search_but');\"") &&
              write("</td>\n") && button("search_hit", SEARCH_HIT, getTextStr(149)) && separator() &&
              button("b1", BACK_ICON, "Back") && button("b2", MOVE_ICON, "Open in new tab") && separator() &&
              languageList() && button("b3", BOOKMARK_NEW, "Bookmark");
    if (ok && annotations) ok = button("annot", ANNOT_NEW, "Annotations");
    ok = ok && separator() && button("b4", PDF_NEW, "PDF");
    if (ok && (cg_.flags & kCgiUsePrint)) ok = button("b5", PRINT_NEW, "Print");
    ok = ok && separator();
    if (ok && (cg_.flags & kCgiUseHelp)) ok = button("b7", HELP_NEW, "Help");
    const int version = cookieVersion();
    return ok &&
           cg_.docPrintf(
               "<td><a href=\"#\" onclick=\"return openWhatsNew();\" title=\"See what's new in Kivo "
               "Browser version %d\"><span id=\"whatsnew\" class=\"whatsNew\">What's new</span></a></td>\n",
               version) &&
           logoCell() && write("</tr></table>\n");
}

// The daemon's language list, when codes are configured; "EN" alone, no
// code or no list gives no choice.
bool ToolbarPage::languageList() {
    if (!(cg_.flags & kCgiLanguageCodes) || !cg_.sess) return true;
    std::unique_ptr<UzResponse> reply = cg_.sess->langList();
    if (!reply || reply->resultCode != 200 || langListIsOnlyEn(reply->resultMessage)) return true;
    std::vector<std::string> codes;
    const std::string& text = reply->resultMessage;
    for (size_t at = 0; (at = text.find_first_not_of(" \t", at)) != std::string::npos;) {
        const size_t end = std::min(text.find_first_of(" \t", at), text.size());
        codes.push_back(text.substr(at, end - at));
        at = end;
    }
    if (codes.empty()) return true;
    bool ok = write(
        "<td><select name=\"LANGLIST\" onchange=\"top.switchDocLang();\">\n"
        "<option value=\"\" selected=\"selected\">Language:</option>\n");
    for (size_t i = 0; ok && i < codes.size(); ++i) {
        const Value* name = cg_.langList ? cg_.langList->findValue(codes[i].c_str()) : nullptr;
        ok = cg_.docPrintf("<option value=\"%s\">%s</option>\n", escapeHtmlKeepEntities(codes[i], true),
                           escapeHtmlKeepEntities(name ? name->value : codes[i], true));
    }
    return ok && write("</select></td>\n") && separator();
}

bool ToolbarPage::logoCell() {
    if (cg_.servicename.empty()) {
        return write("<td align=\"right\" width=\"100%\">") && icon(A_SPACE, 12, 1, "") &&
               icon(LOGO_NEW, 94, 22, " name=\"vandrove_logo\" alt=\"\"") && write("</td>\n");
    }
    return cg_.docPrintf("<td align=\"right\" width=\"100%%\"><span class=\"vandNew\">%s</span></td>\n",
                         escapeHtmlKeepEntities(cg_.servicename, true)) &&
           separator() && write("<td>") && icon(A_SPACE, 1, 1, "") &&
           icon(LOGO_NEW, 90, 22, " name=\"vandrove_logo\" alt=\"\"") && write("</td>\n");
}

bool ToolbarPage::hiddenForms() {
    const std::string id = valueOf(*cg_.valueList, "ID");
    return write(
               "<input type=\"hidden\" name=\"AC\" value=\"SEARCHMSG\" />\n"
               "<input type=\"hidden\" name=\"ST\" value=\"FULLTEXT\" />\n"
               "<input type=\"hidden\" name=\"SYPA\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"ORPA\" value=\"\" />\n") &&
           cg_.docPrintf("<input type=\"hidden\" name=\"ID\" value=\"%s\" />\n",
                         id.empty() ? std::string("0") : escapeHtmlKeepEntities(id, true)) &&
           write(
               "<input type=\"hidden\" name=\"OD\" value=\"0\" />\n"
               "<input type=\"hidden\" name=\"BA\" value=\"TITLE\" />\n"
               "<input type=\"hidden\" name=\"STB\" value=\"1\" />\n"
               "<input type=\"hidden\" name=\"TLL\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"TSL\" value=\"\" />\n") &&
           uzField() &&
           cg_.docPrintf(
               "<input type=\"hidden\" name=\"MT\" value=\"%s\" />\n"
               "<input type=\"hidden\" name=\"SP\" value=\"%s\" />\n</form>\n",
               cookieSwitch("showAllTitles"), cookieSwitch("showContext")) &&
           write(
               "<form method='get' name=\"newlib\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
               "<input type=\"hidden\" name=\"FN\" value=\"kivo.html\" />\n"
               "<input type=\"hidden\" name=\"DB\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"ID\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"NF\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"IX\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"SW\" value=\"1\" />\n") &&
           uzField() &&
           write(
               "</form>\n<form method='get' name=\"ssoldlib\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
               "<input type=\"hidden\" name=\"AC\" value=\"DOCNOTREE\" />\n"
               "<input type=\"hidden\" name=\"BC\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"FN\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"DB\" value=\"\" />\n"
               "<input type=\"hidden\" name=\"ID\" value=\"\" />\n") &&
           uzField() &&
           write(
               "</form>\n<form method='get' name=\"ext\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
               "<input type=\"hidden\" name=\"AC\" value=\"DOCNOTREE\" />\n"
               "<input type=\"hidden\" name=\"BC\" value=\"EXTFUNC\" />\n"
               "<input type=\"hidden\" name=\"XF\" value=\"\" />\n") &&
           uzField() &&
           write(
               "</form>\n<form method='get' name=\"butpressed\" action=\"qzl:/kivo\" target=\"kivodoc\">\n"
               "<input type=\"hidden\" name=\"AC\" value=\"HELP\" />\n") &&
           uzField() &&
           write(
               "</form>\n<form method='get' name=\"sdlinfo\" action=\"qzl:/kivo\" target=\"kivomain\">\n"
               "<input type=\"hidden\" name=\"LIBSWITCH\" value=\"no\" />\n"
               "<input type=\"hidden\" name=\"ISSCHEXT\" value=\"no\" />\n"
               "<input type=\"hidden\" name=\"LIBTYPE\" value=\"new\" />\n"
               "<input type=\"hidden\" name=\"ISCH\" value=\"no\" />\n"
               "<input type=\"hidden\" name=\"ISPA\" value=\"no\" />\n</form>\n");
}

}  // namespace

int KivoHandler::toolbarAction() {
    if (!cg->establishDefaultSession()) return 0;
    cg->freeDocBuf();
    std::unique_ptr<UzResponse> info = cg->sess->info();
    if (!info || info->resultCode != 200) {
        cg->setError(cg->msg(40, "kivohandler/29"), makeAddrString(cg->sess->iaddr, cg->sess->port),
                     cg->sess->getError());
        freeResponse(std::move(info));
        return 0;
    }
    if (!cg->allocDocBuf(kToolbarBufSize)) {
        setError(msgFormat(41, "kivohandler/30"), static_cast<unsigned long>(kToolbarBufSize));
        return 0;
    }
    cg->docSize = 0;
    ToolbarPage page(*cg);
    const bool written =
        page.head() && page.searchForm() && page.buttons() && page.hiddenForms() &&
        cg->docWriteBuf(
            "<!--@@/noprnt--></body>\n<script type=\"text/javascript\">\n<!--\nsetupToolbar();\n"
            "if (typeof top.setPDbyTB == 'function') top.setPDbyTB();\n"
            "if (typeof top.setLowerFrame == 'function') top.setLowerFrame();\n"
            "if (typeof top.startTimer == 'function') top.startTimer();\n//-->\n</script>\n</html>\n");
    freeResponse(std::move(info));
    if (!written) {
        setError(msgFormat(41, "kivohandler/30"), static_cast<unsigned long>(kToolbarBufSize));
        return 0;
    }
    return 1;
}

}  // namespace ruva
