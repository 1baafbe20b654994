// The comparison's selection page, its waiting page and the compare marker.
#include <strings.h>

#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/body_tags.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "bmod/ruvaserv/output/htmloutput_styles.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/html_header.h"
#include "common/net_util.h"
#include "common/text_view.h"
#include "common/url_code.h"

namespace ruva {

namespace {

constexpr size_t kSelectBufSize = 16384;
constexpr size_t kMessageBufSize = 5000;
constexpr int kCompareWaitText = 90;

// The document types a comparison can be limited to, by decimal class.
constexpr std::string_view kDocumentTypeSelect =
    "<select name=\"DDC\">\n"
    "<option value=\"\" selected=\"selected\">All Document Types</option>\n"
    "<option value=\"15542\">Adaptation Direction (155 42)</option>\n"
    "<option value=\"15518\">Application Information (155 18)</option>\n"
    "<option value=\"19082\">Command Description (190 82)</option>\n"
    "<option value=\"10922\">Correction Note (109 22)</option>\n"
    "<option value=\"1551\">Description (1551)</option>\n"
    "<option value=\"15517\">Function Specification (155 17)</option>\n"
    "<option value=\"1531\">Installation Instruction (1531)</option>\n"
    "<option value=\"15519\">Interwork Description (155 19)</option>\n"
    "<option value=\"1546\">Job Procedure (1546)</option>\n"
    "<option value=\"19080\">Manual Page (190 80)</option>\n"
    "<option value=\"1538\">Method Description (1538)</option>\n"
    "<option value=\"1543\">Operation Directions (1543)</option>\n"
    "<option value=\"15431\">Operational Instruction (154 31)</option>\n"
    "<option value=\"19084\">Parameter Description (190 84)</option>\n"
    "<option value=\"19083\">Printout Description (190 83)</option>\n"
    "<option value=\"10921\">Product Revision Information (109 21)</option>\n"
    "<option value=\"19602\">Table Survey (196 02)</option>\n"
    "<option value=\"1553\">User Guide (1553)</option>\n"
    "</select>\n";

constexpr std::string_view kLargeLibraryNote =
    "<p>Note: For large libraries, this operation may take a few minutes.</p>\n";

// One library of the selection page, copied out of its reply.
struct ListedLibrary {
    std::string hash;
    std::string title;  // as extractLibTitleId gives it: '&' already escaped
    std::string reference;
    time_t ctime = 0;
};

enum class Listing { kFound, kNoReply, kNoLibrary };

// MLLIST of a hash id; the reply's first library at level 0 (levels count
// from the reply's first entry, so one in a sub-folder is found too).
Listing listLibrary(UzSession& sess, const std::string& id, ListedLibrary& out) {
    std::unique_ptr<UzResponse> reply = sess.mllist(id);
    if (!reply || reply->resultCode != 200) return Listing::kNoReply;
    for (const UzMlListEntry* e = reply->mllist(); e && e->filled(); e = e->next.get()) {
        if (e->type != ML_NODE_TYPE_ZS || e->level != 0) continue;
        // hashID cuts what it is given; the reply stays as it came.
        std::string idField = e->ID;
        out.hash = hashID(idField.data());
        extractLibTitleId(e->comment, out.title, out.reference);
        out.ctime = e->ctime;
        return Listing::kFound;
    }
    return Listing::kNoLibrary;
}

std::string sessionAddress(const CgiHandler& cg) {
    return cg.sess ? makeAddrString(cg.sess->iaddr, cg.sess->port) : cg.docServAddr;
}

// The script's own address for a form's action.
std::string formAction(const CgiHandler& cg) {
    return escapeHtmlKeepEntities(cg.urlProto + cg.kivoServName, false);
}

std::string hiddenField(const char* name, const std::string& value) {
    return formatChecked("<input type=\"hidden\" name=\"%s\" value=\"%s\" />\n", name,
                         escapeHtmlKeepEntities(value, false));
}

std::string uzHidden(const CgiHandler& cg) {
    return cg.flags & kCgiAllowUzOnUrl ? hiddenField("UZ", sessionAddress(cg)) : std::string();
}

std::string localDate(time_t t) {
    struct tm parts {};
    if (!localtime_r(&t, &parts)) return {};
    return formatChecked("%04u-%02u-%02u", static_cast<unsigned>(parts.tm_year + 1900),
                         static_cast<unsigned>(parts.tm_mon + 1), static_cast<unsigned>(parts.tm_mday));
}

std::string libraryRow(const ListedLibrary& lib) {
    return "<tr><td>" + escapeHtmlKeepEntities(lib.title, false) + "</td><td>" +
           escapeHtmlKeepEntities(lib.reference, false) + "</td><td>" + localDate(lib.ctime) + "</td></tr>\n";
}

// The selection page's head: its two scripts read the swap query written
// before them.
std::string selectHead(const CgiHandler& cg, const ListedLibrary& newLib, const ListedLibrary& oldLib) {
    std::string swap =
        "ID=" + encodeLinkValue(oldLib.hash) + "&IC=" + encodeLinkValue(newLib.hash) + "&OP=notime";
    if (cg.flags & kCgiAllowUzOnUrl) swap += "&UZ=" + encodeLinkValue(sessionAddress(cg));
    const std::string_view scripts = compareScriptFile();
    return std::string(kXhtmlDoctype) + kXhtmlStartTag +
           "\n<head>\n<title>Compare Libraries: Select</title>\n" +
           "<script type=\"text/javascript\">\n<!--\nvar compareSwapQuery = '" + escapeScriptString(swap) +
           "';\n" + std::string(scriptSection(scripts, "compInterface")) +
           std::string(scriptSection(scripts, "swapLibraries")) + "//-->\n</script>\n" +
           formatChecked(kPlainStyleSheet, "helvetica, arial, sans-serif");
}

std::string selectForm(const CgiHandler& cg, const ListedLibrary& newLib, const ListedLibrary& oldLib) {
    std::string form = "<form name=\"Selection\" action=\"" + formAction(cg) + "\" method=\"get\">\n";
    form += undoublePercents(makeHtmlMainHeader("Compare Libraries"));
    form +=
        "<table border=\"0\" cellpadding=\"2\">\n<tr><th colspan=\"3\">Changes in new library</th></tr>\n";
    form += libraryRow(newLib);
    form += "<tr><th colspan=\"3\">compared to old library</th></tr>\n";
    form += libraryRow(oldLib);
    form +=
        "</table>\n<p><input type=\"button\" value=\"Swap new &lt;-&gt; old\" onclick=\"swapLibraries();\" "
        "/>";
    form += "</p>\n<p>Document type: ";
    form += kDocumentTypeSelect;
    form +=
        "</p>\n<p><input type=\"checkbox\" name=\"codpod\" value=\"codpod\" />"
        "Command and Printout description (COD/POD) documents only,<br />\n"
        "list differences in syntax and parameter chapters.</p>\n";
    form += kLargeLibraryNote;
    form += "<p><input type=\"button\" value=\"  Execute  \" onclick=\"compInterface();\" /></p>\n</form>\n";
    return form;
}

// The form Execute submits: the new library always goes as ID.
std::string sendForm(const CgiHandler& cg, const ListedLibrary& newLib, const ListedLibrary& oldLib) {
    return "<form name=\"send\" action=\"" + formAction(cg) + "\" method=\"get\">\n" +
           hiddenField("AC", "COMPMSG") + uzHidden(cg) + hiddenField("ID", newLib.hash) +
           hiddenField("IC", oldLib.hash) + hiddenField("CP", "") + hiddenField("DDC", "") + "</form>\n";
}

// The whole selection page; the body tag is the edition's.
bool writeSelectPage(CgiHandler& cg, std::string_view bodyTag, const ListedLibrary& newLib,
                     const ListedLibrary& oldLib) {
    return cg.docWriteBuf(selectHead(cg, newLib, oldLib)) && cg.docWriteBuf(bodyTag) &&
           cg.docWriteBuf(selectForm(cg, newLib, oldLib)) && cg.docWriteBuf(sendForm(cg, newLib, oldLib)) &&
           cg.outputTail();
}

// Both fields of a pair with a value.
bool fieldPair(const ValueList& fields, const char* first, const char* second) {
    return !valueOf(fields, first).empty() && !valueOf(fields, second).empty();
}

// The query of the comparison the waiting page loads: each value
// link-encoded, so '&', '#' and '%' in a name cannot change the request.
std::string compareQuery(const CgiHandler& cg) {
    static constexpr const char* kByIds[] = {"ID", "IC", "CP", "DDC"};
    static constexpr const char* kByNames[] = {"DB", "DC", "CP", "DDC"};
    const ValueList& fields = *cg.valueList;
    std::string query;
    for (const char* name : fieldPair(fields, "ID", "IC") ? kByIds : kByNames) {
        const std::string value = valueOf(fields, name);
        if (value.empty()) continue;
        query.append("&").append(name).append("=").append(encodeLinkValue(value));
    }
    if (cg.flags & kCgiAllowUzOnUrl) query += "&UZ=" + encodeLinkValue(sessionAddress(cg));
    return query;
}

}  // namespace

int KivoHandler::outputCompareSelect() {
    if (!cg || !cg->establishDefaultSession()) return 0;
    const std::string id = valueOf(*cg->valueList, "ID");
    const std::string ic = valueOf(*cg->valueList, "IC");
    if (id.empty() || ic.empty()) {
        setError(msgFormat(13, "kivohandler/63.1"));
        return 0;
    }
    ListedLibrary byId, byIc;
    Listing first = listLibrary(*cg->sess, id, byId);
    Listing second = first == Listing::kNoReply ? first : listLibrary(*cg->sess, ic, byIc);
    if (first == Listing::kNoReply || second == Listing::kNoReply) {
        setError(msgFormat(92, "kivohandler/63.2"), sessionAddress(*cg), cg->sess->getError());
        return 0;
    }
    if (first != Listing::kFound || second != Listing::kFound) {
        setError(msgFormat(13, "kivohandler/63.3"));
        return 0;
    }
    // IC is the new library unless it is the older one or the caller fixed
    // the order.
    const bool keepOrder = strcasecmp(valueOf(*cg->valueList, "OP").c_str(), "NOTIME") == 0;
    const bool idIsNew = keepOrder || byIc.ctime < byId.ctime;
    const ListedLibrary& newLib = idIsNew ? byId : byIc;
    const ListedLibrary& oldLib = idIsNew ? byIc : byId;

    cg->freeDocBuf();
    if (!cg->allocDocBuf(kSelectBufSize)) {
        setError(msgFormat(78, "kivohandler/63.4"), static_cast<unsigned long>(kSelectBufSize));
        return 0;
    }
    cg->docSize = 0;
    if (!writeSelectPage(*cg, kToolbarBodyTag, newLib, oldLib)) {
        setError(msgFormat(78, "kivohandler/63.4"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    return 1;
}

int KivoHandler::outputCompareMessage() {
    if (!cg || !cg->valueList) return 0;
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kMessageBufSize)) {
        setError(msgFormat(81, "kivohandler/66"), static_cast<unsigned long>(kMessageBufSize));
        return 0;
    }
    cg->docSize = 0;
    if (!fieldPair(*cg->valueList, "ID", "IC") && !fieldPair(*cg->valueList, "DB", "DC")) {
        setError(msgFormat(82, "kivohandler/67"));
        return 0;
    }
    cg->flags &= ~kCgiBodyHandlers;
    const std::string page =
        std::string(kXhtmlDoctype) + kXhtmlStartTag +
        "\n<head>\n<title>Compare Libraries: Message</title>\n"
        "<style type=\"text/css\">\nbody{background-color:#fcfcfc;font-family:helvetica,arial,sans-serif}\n"
        "</style>\n<script type=\"text/javascript\">\n<!--\nvar compareQuery = '" +
        escapeScriptString(compareQuery(*cg)) + "';\n" +
        std::string(scriptSection(compareScriptFile(), "go_to_results")) + "//-->\n</script>\n</head>\n" +
        formatChecked(
            "<body onload=\"javascript:go_to_results();\">\n<br /><br /><center>\n"
            "<big>%s..<blink>.</blink></big>\n",
            getTextStr(kCompareWaitText));
    if (!cg->docWriteBuf(page)) {
        setError(msgFormat(81, "kivohandler/66"), static_cast<unsigned long>(page.size()));
        return 0;
    }
    return cg->outputTail();
}

namespace {

// The marker's button: the same page again, asked with COMPBUT, so that
// its marker writes the selection form.
int compareButton(CgiHandler& cg) {
    const std::string fn = valueOf(*cg.valueList, "FN");
    if (!cg.dstWriteBuf(
            "<form name=\"CompareButton\" action=\"\"><center>\n"
            "<input type=\"button\" value=\"  Compare libraries... \" onclick=\"location.href='") ||
        !cg.dstWriteKvoURL())
        return 0;
    if (!fn.empty() && !cg.dstWriteBuf("FN=" + encodeLinkValue(fn) + "&amp;")) return 0;
    return cg.dstWriteBuf("AC=COMPBUT';\" />\n" + uzHidden(cg));
}

// The marker's selection form; its lists come from the handler's
// outputListDb.
int selectionForm(KivoHandler& kh, const std::string& server, const std::string& pattern) {
    CgiHandler& cg = *kh.cg;
    const std::string head = "<script type=\"text/javascript\">\n<!--\n" +
                             std::string(scriptSection(compareScriptFile(), "testSelection")) +
                             "//-->\n</script>\n<form name=\"Selection\" action=\"" + formAction(cg) +
                             "\" method=\"get\" onsubmit=\"return testSelection()\"><center>\n";
    if (!cg.dstWriteBuf(head) || !cg.dstWriteBuf("<table border=\"0\" cellpadding=\"2\">\n"
                                                 "<tr><td>Changes in library</td><td><select name=\"DB\">\n"))
        return 0;
    // A list that fails leaves its reason in the page or the request: the
    // form is still closed.
    kh.outputListDb(server, pattern, 1);
    if (!cg.dstWriteBuf("</select></td></tr>\n<tr><td>compared to library</td><td><select name=\"DC\">\n"))
        return 0;
    kh.outputListDb(server, pattern, 1);
    return cg.dstWriteBuf("</select></td></tr>\n</table>\n" + std::string(kLargeLibraryNote) +
                          "<input type=\"submit\" value=\"  Execute  \" />\n" + hiddenField("AC", "COMPARE") +
                          uzHidden(cg));
}

}  // namespace

int KivoHandler::outputCompare(const std::string& server, const std::string& pattern) {
    if (!cg || !cg->valueList) return 0;
    const std::string ac = valueOf(*cg->valueList, "AC");
    int written = 1;
    if (ac.empty()) {
        written = compareButton(*cg);
    } else if (findCaseBlind(ac, 0, "COMPBUT") != std::string_view::npos) {
        written = selectionForm(*this, server, pattern);
    }
    // Every case closes with this, the last one without anything opened.
    return written && cg->dstWriteBuf("</center></form>\n") ? 1 : 0;
}

}  // namespace ruva
