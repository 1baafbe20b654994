#include "bmod/ruvaserv/cgi/kivoserv.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/kvo_srv_annot.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/html_header.h"

namespace ruva {

namespace {

constexpr const char kUserConfig[] = "kivo.conf";
constexpr const char kSystemConfig[] = "/usr/local/etc/kivo.conf";
// Fewer characters than this before the first '*' of an LI beginning "//"
// would make the pattern match too many libraries.
constexpr size_t kLiPatternMinLead = 10;

// A stored field value with its slashes back. The value list writes '/' as
// "&#47;" in every field but LI and a few others, and LI_Hidden is not among
// them, yet a library identity is known by its leading "//".
std::string withSlashes(const Value& field) {
    std::string text = field.value;
    for (size_t at = text.find("&#47;"); at != std::string::npos; at = text.find("&#47;", at + 1)) {
        text.replace(at, 5, "/");
    }
    return text;
}

// One response per request: an earlier writer (extractCgiField's message,
// an action that answered itself) may have set flag 0x8 already.
template <class... Args>
void report(CgiHandler& cg, const TableFormat& format, const Args&... args) {
    if (!(cg.flags & kCgiResponseDone)) cg.outputError(format, args...);
}

// Unless an answer is written already: post-processing, then the page.
void sendPage(CgiHandler& cg) {
    if (cg.flags & kCgiResponseDone) return;
    if (cg.postProcessFile()) {
        cg.output();
        return;
    }
    htmlDisplayError(cg.cgifile, formatChecked(cg.msg(108, "kivoserv/8"), cg.getError()));
    cg.flags |= kCgiResponseDone;
}

// 1 when the request may go on to its action; 0 after its error page.
int checkLibraryRules(CgiHandler& cg, KivoHandler& kh) {
    ValueList& fields = *cg.valueList;
    if (const Value* dt = fields.findValue("DT"); dt && strcasecmp(dt->value.c_str(), "QX") != 0) {
        report(cg, cg.msg(107, "kivoserv/7"), dt->value);
        return 0;
    }
    // A wild-card DB cannot select among the libraries of one identity.
    if (const Value* dbOriginal = fields.findValue("DB_Original")) {
        const Value* li = fields.findValue("LI");
        if (!li) {
            if (!fields.findValue("ID")) kh.getIDbyDbName();
            kh.getLIbyHiddenID();
            li = fields.findValue("LI_Hidden");
        }
        if (li && withSlashes(*li).starts_with("//") && dbOriginal->value.find('*') != std::string::npos) {
            report(cg, cg.msg(474, "kivoserv/9.1"), dbOriginal->value);
            return 0;
        }
    }
    if (const Value* liOriginal = fields.findValue("LI_Original")) {
        std::string pattern = withSlashes(*liOriginal);
        size_t star = pattern.find('*');
        if (pattern.starts_with("//") && star != std::string::npos && star < kLiPatternMinLead) {
            report(cg, cg.msg(475, "kivoserv/9.2"), liOriginal->value);
            return 0;
        }
    }
    return 1;
}

void runAction(CgiHandler& cg, KivoHandler& kh) {
    const Value* ac = cg.valueList->findValue("AC");
    // A copy: the action may change its own field.
    std::string action = ac ? ac->value : "LINK";
    if (kh.entry(action.c_str())) {
        kh.clear();
        sendPage(cg);
        return;
    }
    const std::string& why = kh.getError().empty() ? cg.getError() : kh.getError();
    if (!(cg.flags & kCgiResponseDone)) cg.outputError("%s\n", why);
    kh.clear();
}

void serveFields(CgiHandler& cg, KivoHandler& kh) {
    if (!cg.cgiEntry()) {
        report(cg, cg.msg(104, "kivoserv/4"), cg.getError());
        return;
    }
    // Images, the empty page and "no response" need no session.
    if (cg.handleGenericActions()) {
        if (cg.flags & kCgiResponseDone) return;
        if (cg.postProcessFile()) {
            cg.output();
        } else {
            report(cg, cg.msg(105, "kivoserv/5"), cg.getError());
        }
        return;
    }
    if (!cg.createDefaultSession()) {
        report(cg, cg.msg(106, "kivoserv/6"), cg.getError());
        return;
    }
    if (checkLibraryRules(cg, kh)) runAction(cg, kh);
}

}  // namespace

void htmlDisplayError(FILE* out, std::string_view message) {
    if (!out) return;
    std::string page = "Content-type: text/html\n\n";
    page += kXhtmlDoctype;
    page += kXhtmlStartTag;
    page += "\n<head>\n<title>" + getTextStr(2) + "</title>\n";
    page +=
        "<style type=\"text/css\">\n"
        "a:link, a:active, a:visited { color:#004499; text-decoration:none }\n"
        "body, td, th, p { font-family:helvetica, arial, sans-serif }\n"
        "</style>\n";
    page += "</head>\n<body onload=\"if(top.kivomain){top.kivomain.togBnew(0); top.dynamicToolBar();}\">\n";
    page += undoublePercents(makeHtmlMainHeader(getTextStr(2).c_str()));
    page += "<pre>\n\n</pre><p>";
    page += message;
    page += "</p>\n</body></html>\n";
    std::fwrite(page.data(), 1, page.size(), out);
    std::fflush(out);
}

const char* kivoConfigPath() {
    if (const char* named = std::getenv("KIVOSERVCONF")) return named;
    if (access(kUserConfig, R_OK) == 0) return kUserConfig;
    if (access(kSystemConfig, R_OK) == 0) return kSystemConfig;
    return nullptr;
}

void runKivoRequest(CgiHandler& cg) {
    cg.searchHighLight = "<font style=\"background-color:#ffeeaa\">";
    cg.searchNormal = "</font>";
    cg.bodyAttrs = "bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\"";
    // Before the fields: AllowUZonURL decides whether UZ is taken, and OP
    // replaces the options the file set.
    if (!cg.readConfigFile(kivoConfigPath())) {
        report(cg, cg.msg(102, "kivoserv/2"), cg.getError());
        return;
    }
    // Without UseAnnotation not even the toolbar page gets the button.
    if (cg.flags & kCgiUseAnnotation) cg.annotFactory = &newKvoSrvAnnot;
    std::unique_ptr<KivoHandler> kh = newKivoHandler(&cg);
    if (!kh) {
        report(cg, cg.msg(103, "kivoserv/3"));
        return;
    }
    serveFields(cg, *kh);
}

}  // namespace ruva
