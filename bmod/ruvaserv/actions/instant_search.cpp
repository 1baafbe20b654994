// The instant-search block of the main page: the values the script reads,
// each escaped for the string it lands in, then js/instant_search.js.
#include "bmod/ruvaserv/actions/instant_search.h"

#include <string>
#include <string_view>
#include <utility>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/checked_format.h"
#include "bmod/ruvaserv/cgi/kvo_text.h"
#include "common/docmodel/qox_doctype.h"
#include "common/html_escape.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

constexpr int kMaxInstantResults = 25;
// The result page's images: script variable and toolbar image number.
constexpr std::pair<const char*, int> kResultImages[] = {{"space_img", 124}, {"hd_img", 99}, {"folder_img", 105},
                                                         {"html_img", 10},   {"pdf_img", 12}, {"excel_img", 118}};

std::string quoted(std::string_view text) { return "'" + escapeScriptString(text) + "'"; }

// A query value: coded first, with room for every byte tripled so that
// nothing is cut, then escaped for the string.
std::string queryValue(const std::string& value) {
    return urlEncode(URLMODE_ENCODE_SCRIPT, value.c_str(), 3 * value.size());
}

std::string var(std::string_view name, const std::string& value) {
    return "var " + std::string(name) + " = " + value + ";\n";
}

std::string var(std::string_view name, int value) { return var(name, std::to_string(value)); }

std::string typeRow(int value) {
    return "['" + formatChecked("%03d", value) + "', " + quoted(getQoxDoctypeString(value)) + "]";
}

}  // namespace

std::string instantDoctypeTables() {
    std::string s = "var dTypnm = {\n";
    const char* sep = "";
    for (const QoxDocTypeRow& row : qoxDoctypeTable()) {
        if (!isKnownClassRow(row)) continue;
        s += sep + quoted(row.decimalClass) + ": " + typeRow(row.value);
        sep = ",\n";
    }
    s += "\n};\n";
    // By leading digits, longest first; "" is a missing class.
    s += "var dTypnmFallbacks = [['006', " + typeRow(QOXDOC_006) + "], ['0', " + typeRow(QOXDOC_0) + "], ['1', " +
         typeRow(QOXDOC_1) + "], ['2', " + typeRow(QOXDOC_2) + "], ['3', " + typeRow(QOXDOC_3) + "]];\n";
    s += "var dTypnmNone = " + typeRow(QOXDOC_INST) + ";\n";
    s += "var dTypnmUnknown = " + typeRow(QOXDOC_UNKNOWN) + ";\n";
    return s;
}

int KivoHandler::allJSFunctions(const std::string& idString, const std::string& documentId, int isSubLibrary,
                                const std::string& title, int validSL, int presentLL, int blacklistedLib) {
    if (!cg || !cg->docWriteBuf(kInstantScriptOpen)) return 0;
    // The first of ID, LI and DB names the library; the dispatcher has
    // resolved a library reference in LI into ID by now.
    const ValueList& fields = *cg->valueList;
    const Value* named = nullptr;
    for (const char* name : {"ID", "LI", "DB"}) {
        if ((named = fields.findValue(name))) break;
    }
    if (!named) return 0;
    const std::string library = queryValue(named->value);
    const std::string server = cg->urlProto + cg->kivoServName;
    const std::string imageBase = server + "?VR=" + kSystemRevision + "&AC=TBIMG&IM=";
    std::string s = var("kvosrvURL", quoted(server));
    s += var("VR", quoted(kSystemRevision));
    s += var("isIE10", cg->isBrowserIE10) + var("isIE11", cg->isBrowserIE11);
    s += var("isCatEnabled", isCatEnabled ? 1 : 0);
    s += var("sllval", quoted(cg->libraryId));
    s += instantDoctypeTables();
    s += var("kvNotesSL", quoted(queryValue(cg->libraryId)));
    s += var("pd", quoted(idString)) + var("hashID", quoted(documentId));
    s += var("isCollection", cg->isCollection) + var("collectionLibID", cg->isCollection);
    s += var("isSubLibrary", isSubLibrary);
    s += var("colHashID", cg->collectionHashId);
    s += var("curLibtitle", quoted(title));
    s += var("helpCount", cg->helpCount) + var("helpID", quoted(cg->helpID));
    s += var("validSL", validSL) + var("isLL", presentLL);
    s += var("MAX_INSTANT_RESULTS", kMaxInstantResults);
    for (const auto& [name, number] : kResultImages) s += var(name, quoted(imageBase + std::to_string(number)));
    s += var("kvosrvURL2", quoted("?ID=" + library + "&ST=INSTANT"));
    s += var("privacyURL", quoted(cg->privacyURL)) + var("privacyStyle", quoted(cg->privacyStyle));
    const std::string noteli = server + "?AC=NOTELI&ID=" + library + "&FN=kivodoc.html&LIB=Yes";
    s += var("noteliURL", quoted(noteli)) + var("noteliExportURL", quoted(noteli + "&VS=1"));
    s += var("useNotes", (cg->flags & kCgiNotes) ? 1 : 0);
    s += var("blacklistedlib", blacklistedLib);
    // The title of the front end's error page: a member answered with it is missing.
    s += var("instantErrorTitle", quoted(getTextStr(2)));
    return cg->docWriteBuf(s) && cg->docWriteBuf(instantSearchScriptFile()) ? 1 : 0;
}

}  // namespace ruva
