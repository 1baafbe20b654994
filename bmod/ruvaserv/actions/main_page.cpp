// The library's frameset page with the script the other frames call.
// The functions live in js/main_page.js; this unit writes the values they
// read, each escaped for the string it lands in, so that no library title,
// field or address can end a string or the script element.

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_identity.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/html_escape.h"
#include "common/text_view.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr time_t kMainPageExpiryMax = 300;
constexpr size_t kMainPageBufSize = 280000;
constexpr size_t kLibIdMax = 100;
constexpr size_t kTitleMax = 80;
// The texts the client functions show, by number.
constexpr int kScriptTexts[] = {18, 19, 20, 22, 23, 24, 25, 26, 27, 28, 29, 151, 154};
// The fields setExpiryDate takes, in its order.
constexpr const char* kFilterFields[] = {"FS", "FB", "FC", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"};

std::string js(std::string_view text) { return escapeScriptString(text); }

void removeField(CgiHandler& cg, const char* name) {
    if (Value* v = cg.valueList->findValue(name)) cg.valueList->removeValue(v);
}

// What setLowerFrame does once the frames stand: nothing ("none"), the
// sub-library start ("subMain"), or the follow-up request ("ext", or
// "oldLib" for a first-edition library).
struct LowerFrame {
    std::string mode = "none";
    std::string xf;
    std::string oldLibUrl;
};

// The collection and library values of the script.
struct PageValues {
    std::string title;
    std::string libraryRef;
    std::string entryId;
    std::string documentId;
    std::string pairs;
    std::string colLibId;
    std::string colLibTitle;
    bool sdi = false;
    int mark = 0;
    LowerFrame lower;
};

// The follow-up request's fields, rewritten by the entry word; false when
// the word asks for none.
bool rewriteFollowUp(CgiHandler& cg, const std::string& documentId) {
    ValueList& fields = *cg.valueList;
    const std::string ac = valueOf(*cg.valueList, "AC");
    if (startsCaseBlindAt(ac, 0, "LINKEXT")) {
        fields.addValue("AC", "CHNGLANG");
        fields.addValue("EXT", "TRUE");
        fields.addValue("LU", "en");
    } else if (startsCaseBlindAt(ac, 0, "SEARCHEXT")) {
        fields.addValue("AC", "CHNGLANG");
        fields.addValue("EXT", "TRUE");
        fields.addValue("SCH", "TRUE");
        fields.addValue("LU", "en");
        fields.addValue("ID", documentId.c_str());
        cg.options |= kOptExternSearch;
        fields.addValue("OP", formatChecked("%x", static_cast<unsigned>(cg.options)).c_str());
    } else if (startsCaseBlindAt(ac, 0, "COMPMEXT")) {
        fields.addValue("AC", "COMPMSG");
    } else if (startsCaseBlindAt(ac, 0, "COMPEXT")) {
        const bool id = hasFilledValue(*cg.valueList, "ID"), ic = hasFilledValue(*cg.valueList, "IC");
        const bool db = hasFilledValue(*cg.valueList, "DB"), dc = hasFilledValue(*cg.valueList, "DC");
        if ((id && ic) || (db && dc)) {
            fields.addValue("AC", "COMPEXE");
            return true;
        }
        if (db) {
            removeField(cg, "DB");
        } else if (dc) {
            removeField(cg, "DC");
        } else {
            removeField(cg, "ID");
            removeField(cg, "IC");
        }
        fields.addValue("AC", "COMPSEL");
    } else {
        return false;
    }
    return true;
}

// setLowerFrame's mode and values for mode 0.
LowerFrame lowerFrame(CgiHandler& cg, const std::string& documentId) {
    LowerFrame lower;
    const bool oldLib = startsCaseBlindAt(valueOf(*cg.valueList, "FN"), 0, "kivomain.html");
    const std::string id = valueOf(*cg.valueList, "ID");
    const std::string db = valueOf(*cg.valueList, "DB");
    if (!rewriteFollowUp(cg, documentId)) {
        lower.mode = "subMain";
        return lower;
    }
    const std::string query = cg.buildURLstring(kUrlScriptQuery, {"IM"});
    if (query.empty()) return lower;
    // Its leading "&amp;" goes: the rest is the document frame's query.
    lower.xf = query.substr(std::min<size_t>(5, query.size()));
    lower.mode = oldLib ? "oldLib" : "ext";
    // Coded, so that a value cannot add fields of its own.
    if (oldLib) {
        lower.oldLibUrl = "qzl:/kivo?id=" + urlEncode(URLMODE_ENCODE_SCRIPT, id.c_str(), kUrlStringMax) +
                          "&FN=kivomain.html&AC=DOCNOTREE&BC=OLDLIB&DB=" +
                          urlEncode(URLMODE_ENCODE_SCRIPT, db.c_str(), kUrlStringMax);
    }
    return lower;
}

// The help library's name, when the server has one.
void findHelp(CgiHandler& cg) {
    cg.helpCount = 0;
    std::unique_ptr<UzResponse> reply = cg.sess ? cg.sess->mllist("kivo_help.khx") : nullptr;
    const UzMlListEntry* entry = reply && reply->resultCode == 200 ? reply->mllist() : nullptr;
    if (entry && entry->filled() && !entry->database->empty()) {
        cg.helpCount = 1;
        cg.helpID = entry->database->substr(0, kHelpIdMax);
    }
}

// The personal documents page of the second edition.
std::string personalDocsUrl(const CgiHandler& cg) {
    if (!cg.isZopaUrl.empty()) return cg.isZopaUrl + "?ST=MYDOCS";
    const char* host = std::getenv("HTTP_HOST");
    const char* script = std::getenv("SCRIPT_NAME");
    const std::string name = script ? script : "";
    // A name shorter than the program's leaves no directory to keep.
    const std::string dir = name.size() >= 8 ? name.substr(0, name.size() - 8) : std::string();
    return cg.urlProto + "/" + (host ? host : "") + dir + "zopa?ST=MYDOCS";
}

// The collection's members and pairs, and the mark that allJSFunctions
// gets: 1 only for a collection named by SL.
void collectionValues(KivoHandler& kh, PageValues& pv) {
    CgiHandler& cg = *kh.cg;
    const std::string sl = valueOf(*cg.valueList, "SL");
    if (!sl.empty()) {
        cg.libraryId = sl;
        std::string title;
        std::optional<std::string> name = kh.getDBfromLI(title, "[" + sl + "]");
        cg.libraryTitle = title;
        bool members = false;
        if (name && cg.sess) {
            if (std::optional<std::string> file = cg.sess->getFileData(*name, "library-references.xml")) {
                std::vector<std::string> list = parseLibRefFile(*file);
                if (!list.empty()) {
                    cg.subLibrary = std::move(list);
                    cg.libCount = static_cast<int>(cg.subLibrary.size());
                    kh.createIDLIPair(pv.pairs);
                    members = true;
                }
            }
        }
        cg.collectionHashId = kh.getHashId(sl, nullptr);
        if (members && !pv.pairs.empty()) pv.pairs += formatChecked("|%d-", cg.collectionHashId) + sl;
        cg.isCollection = 1;
        kh.isCollection = 1;
        pv.mark = 1;
    } else {
        int mark = 0;
        kh.getSolutionFromServer(mark, pv.pairs);
        if (cg.isCollection != 1) {
            cg.isCollection = mark;
            kh.isCollection = 1;
        }
    }
    // Missing members and references leave the page without them.
    kh.clear();
}

// The collection's own reference and title, both from its entry.
void collectionIdentity(KivoHandler& kh, PageValues& pv) {
    if (kh.cg->isCollection != 1) return;
    const std::string hash = formatChecked("%d", kh.cg->collectionHashId);
    pv.colLibId = kh.getLifromID(hash).value_or("");
    if (!pv.colLibId.empty()) kh.getDBfromLI(pv.colLibTitle, hash);
    kh.clear();
}

// The assignments the script file reads, after allJSFunctions' part.
std::string scriptValues(const KivoHandler& kh, const PageValues& pv) {
    const CgiHandler& cg = *kh.cg;
    std::string s = "var idlilist = '" + js(pv.pairs) + "';\n\n";
    s += pv.sdi ? "var libInfType = 'SDI';\n\n" : "var libInfType = 'ZUL';\n\n";
    s += "var libId = '" + js(withoutBlanks(pv.libraryRef, kLibIdMax)) + "';\n\n";
    s += "var colLibId = '" + js(pv.colLibId) + "';\n\nvar colLibTitle = '" + js(pv.colLibTitle) + "';\n\n";
    s += formatChecked("var basicUrl = \"qzl:/kivo?VR=%s&AC=tbimg&IM=\";\n\n", kSystemRevision);
    // As the instant-search block names them: the toolbar asks for both.
    s += "var pd = '" + js(pv.entryId) + "';\nvar hashID = '" + js(pv.documentId) + "';\n";
    s += "var helpID = '" + js(cg.helpID) + "';\n";
    s += formatChecked("var helpCount = %d;\nvar isCollection = %d;\n", cg.helpCount, cg.isCollection);
    s += "var kvLowerMode = '" + pv.lower.mode + "';\n";
    s += "var kvXF = '" + js(pv.lower.xf) + "';\n";
    s += "var kvOldLibUrl = '" + js(pv.lower.oldLibUrl) + "';\n";
    s += "var kvScriptUrl = '" + js(cg.urlProto + cg.kivoServName) + "';\n";
    // Post-processing writes the root id here; empty until it does.
    s += "var kvRootId = \"<!--@@rootid-->\";\n";
    s += formatChecked("var kvBrowser = %d;\nvar kvIE11 = %d;\n", static_cast<int>(cg.browserType),
                       cg.isBrowserIE11);
    s += "var kvPersonalDocsUrl = '" + js(personalDocsUrl(cg)) + "';\n";
    s += formatChecked("var kvCookieDays = %d;\n", cg.catCookieExpire);
    s += "var kvFilterValues = ";
    if (kh.isCatEnabled) {
        s += "[";
        const char* sep = "";
        for (const char* name : kFilterFields) {
            s += std::string(sep) + "'" + js(valueOf(*cg.valueList, name)) + "'";
            sep = ", ";
        }
        s += "];\n";
    } else {
        s += "null;\n";
    }
    s += "var kvTexts = {";
    const char* sep = "";
    for (int n : kScriptTexts) {
        s += formatChecked("%s%d: '", sep, n) + js(getTextStr(n)) + "'";
        sep = ", ";
    }
    return s + "};\n\n";
}

// The side scripts, the head's end and the frameset.
std::string pageEnd(const KivoHandler& kh, int mode) {
    const CgiHandler& cg = *kh.cg;
    const std::string program = escapeHtmlKeepEntities(cg.urlProto + cg.kivoServName, true);
    std::string s;
    for (const char* word : {"JSNOTESINLINE", "JSCMENU"}) {
        s += formatChecked("<script type=\"text/javascript\" src=\"%s?VR=%s&amp;AC=%s\"></script>\n", program,
                           kSystemRevision, word);
    }
    if (kh.isCatEnabled) {
        s += "<script type=\"text/javascript\" src=\"qzl:/kivo?ac=LINK&amp;FN=dwfilters.js\"></script>\n"
             "<script type=\"text/javascript\">\nkvApplyFilters();\n</script>\n";
    }
    s += "</head>\n<frameset rows='32,*' frameborder='1' framespacing='1' border='1' bordercolor='#cccccc'>\n";
    s += formatChecked("<frame src=\"qzl:/kivo?ac=toolbar&amp;VR=%s&amp;TB=%d\" name=\"kivotbar\" "
                       "scrolling=\"no\" noresize=\"noresize\" />\n",
                       kSystemRevision, 0);
    const std::string link = mode == 3 ? cg.buildURLstring(kUrlScriptQuery, {"IM"}) : std::string();
    const std::string main = link.empty() ? "qzl:/kivo?ac=BLANK&amp;BG=FFFFFF" : "qzl:/kivo?ac=LINK" + link;
    s += "<frame src=\"" + escapeHtmlKeepEntities(main, true) + "\" name=\"kivomain\" ";
    return s + "/>\n</frameset>\n</html>\n";
}

}  // namespace

int KivoHandler::mainPageAction(int mode) {
    if (!cg) return 0;
    cg->expirePeriod = std::min(cg->expirePeriod, kMainPageExpiryMax);
    if (!cg->establishDefaultSession()) return 0;
    PageValues pv;
    if (!getLibTitleFromServer(pv.title, pv.libraryRef, pv.entryId)) return 0;
    if (mode == 0 || mode == 3) {
        // The type is asked of the library's hash id; a lookup that fails
        // costs only the type, not the page.
        const std::string before = cg->getError();
        std::string hash;
        if (!getHashId(pv.libraryRef, &hash)) {
            hash = hasFilledValue(*cg->valueList, "ID") ? valueOf(*cg->valueList, "ID")
                                                        : valueOf(*cg->valueList, "DB");
        }
        clear();
        cg->errmsg = before;
        pv.sdi = !hash.empty() && getLibraryType(hash);
    }
    if (!cg->allocDocBuf(kMainPageBufSize)) {
        cg->setError(cg->msg(38, "kivohandler/27"), static_cast<unsigned long>(cg->docbufSize));
        return 0;
    }
    cg->docSize = 0;
    findHelp(*cg);
    collectionValues(*this, pv);
    pv.documentId = hasFilledValue(*cg->valueList, "ID") ? valueOf(*cg->valueList, "ID") : "0";
    std::string title = pv.title.substr(0, kTitleMax);
    if (!cg->docPrintf("%s\n<head>\n<title>%s</title>\n", kXhtmlStartTag, escapeHtmlKeepEntities(title, true)))
        return 0;
    allJSFunctions(pv.entryId, pv.documentId, pv.mark, pv.title, isValSL, presentLL, 0);
    if (mode == 0) pv.lower = lowerFrame(*cg, pv.documentId);
    collectionIdentity(*this, pv);
    if (!cg->docWriteBuf(scriptValues(*this, pv)) || !cg->docWriteBuf(mainPageScriptFile()) ||
        !cg->docWriteBuf(scriptSection(annotEditScriptFile(), "open")) ||
        !cg->docWriteBuf("//-->\n</script>\n") || !cg->docWriteBuf(pageEnd(*this, mode))) {
        return 0;
    }
    return 1;
}

}  // namespace ruva
