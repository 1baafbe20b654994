// The advanced and document search pages: forms whose script fills and
// submits a hidden query form. The server writes the markup and, before
// the compiled-in script, only assignments of escaped values.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_forms_script.h"
#include "common/cookie.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/docmodel/comment_tokens.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/url_code.h"
#include "common/version.h"

namespace ruva {

namespace {

// clang-format off
constexpr DecimalClassRow kBuiltInClasses[] = {
    {"15542", "Adaptation Direction (155 42)"},
    {"15518", "Application Information (155 18)"},
    {"19082", "Command Description (190 82)"},
    {"10922", "Correction Note (109 22)"},
    {"1551", "Description (1551)"},
    {"15517", "Function Specification (155 17)"},
    {"1531", "Installation Instruction (1531)"},
    {"15519", "Interwork Description (155 19)"},
    {"1546", "Job Procedure (1546)"},
    {"19080", "Manual Page (190 80)"},
    {"1538", "Method Description (1538)"},
    {"1543", "Operating Instructions (1543)"},
    {"15431", "Operational Instruction (154 31)"},
    {"19084", "Parameter Description (190 84)"},
    {"19083", "Printout Description (190 83)"},
    {"10921", "Product Revision Information (109 21)"},
    {"19602", "Table Description (196 02)"},
    {"1553", "User Guide (1553)"},
};
// clang-format on

constexpr size_t kAdvancedPageSize = 18432;
constexpr size_t kDocumentPageSize = 16384;
// A class list naming this class comes from a library of the ZUL kind.
constexpr std::string_view kColZulClass = "Command Description (190 82)";
constexpr const char* kHelpLibrary = "kivo_help.khx";
constexpr const char* kLibraryReferences = "library-references.xml";

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n";

constexpr std::string_view kFormStyle =
    "<style type=\"text/css\">\n"
    "  body, td, th, input, select { font-family: helvetica, arial, sans-serif; }\n"
    "  body { background-color: #ffffff; color: #333333; }\n"
    "  h2 { font-size: 120%; color: #004499; }\n"
    "  td { font-size: 80%; vertical-align: middle; padding: 2px 4px; }\n"
    "</style>\n";

std::string pageText(std::string_view text) {
    return escapeHtmlKeepEntities(text, false);
}

std::string scriptString(std::string_view text) {
    return "'" + escapeScriptString(text) + "'";
}

const Value* requestField(const CgiHandler& cg, const std::string& name) {
    return cg.valueList ? cg.valueList->findValue(name.c_str()) : nullptr;
}

// The stored value, "" when the field is absent.
std::string storedValue(const CgiHandler& cg, const char* name) {
    const Value* v = requestField(cg, name);
    return v ? v->value : "";
}

// MT and SP: the cookie when it says 0 or 1, else 1; any other text would
// be a search option nobody chose.
std::string cookieSwitch(const char* name) {
    std::optional<std::string> value = getcookieforpn(name);
    return value && (*value == "0" || *value == "1") ? *value : "1";
}

std::string hiddenField(std::string_view name, std::string_view value) {
    return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" + std::string(value) + "\" />\n";
}

// text shortened so that format filled with it stays within what a search
// object keeps: the straight cut there would take the message's own tag
// and leave its span open. The cut never splits a tag or an entity.
std::string fitted(const TableFormat& format, const std::string& text) {
    const size_t fixed = formatChecked(format, "").size();
    if (fixed + text.size() <= kSearchErrorMax) return text;
    const size_t room = fixed < kSearchErrorMax ? kSearchErrorMax - fixed : 0;
    std::string_view kept = std::string_view(text).substr(0, room);
    const size_t tag = kept.rfind('<');
    if (tag != std::string_view::npos && kept.find('>', tag) == std::string_view::npos) kept = kept.substr(0, tag);
    const size_t amp = kept.rfind('&');
    if (amp != std::string_view::npos && kept.find(';', amp) == std::string_view::npos) kept = kept.substr(0, amp);
    return std::string(kept);
}

std::string serverAddress(const CgiHandler& cg) {
    return cg.sess ? makeAddrString(cg.sess->iaddr, cg.sess->port) : cg.docServAddr;
}

// The help document of library db at topic, on the program's own address:
// a "qzl:/kivo" link would get the request's ID added, which wins over DB.
std::string helpAddress(const CgiHandler& cg, std::string_view db, std::string_view topic) {
    if (db.empty()) return "";
    return cg.urlProto + cg.kivoServName + "?VR=" + kSystemRevision + "&DB=" + encodeLinkValue(db) +
           "&FN=help.html&CH=" + std::string(topic);
}

std::string pageHead(const CgiHandler& cg, std::string_view title, std::string_view assignments,
                     std::string_view section) {
    std::string out(kXmlDeclaration);
    out += kXhtmlDoctype;
    out += kXhtmlStartTag;
    out += "\n<head>\n";
    if (cg.charEnc)
        out += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + pageText(cg.charEncoding) +
               "\" />\n";
    out += "<title>" + std::string(title) + "</title>\n";
    out += kFormStyle;
    out += "<script type=\"text/javascript\">\n//<![CDATA[\n";
    out += assignments;
    out += searchFormsScript("shared");
    out += searchFormsScript(section);
    out += "//]]>\n</script>\n</head>\n<body>\n";
    return out;
}

std::string textRow(std::string_view label, const char* name) {
    return "<tr><td>" + std::string(label) + "</td><td><input type=\"text\" name=\"" + name +
           "\" size=\"40\" /></td></tr>\n";
}

std::string operatorSelect(const char* name) {
    return std::string("<select name=\"") + name +
           "\"><option value=\"&amp;\">AND</option><option value=\"|\">OR</option>"
           "<option value=\" -\">NOT</option></select>";
}

// PA to PA4 with the operator between each and the next.
std::string bodyTextRows() {
    static const char* const kFields[] = {"PA", "PA2", "PA3", "PA4"};
    static const char* const kOperators[] = {"FS", "FS2", "FS3"};
    std::string out;
    for (size_t i = 0; i < 4; ++i) {
        out += std::string("<tr><td>") + (i == 0 ? "Body text" : "") + "</td><td><input type=\"text\" name=\"" +
               kFields[i] + "\" size=\"40\" /></td><td>";
        if (i < 3) out += operatorSelect(kOperators[i]);
        out += "</td></tr>\n";
    }
    return out;
}

std::string patternRows() {
    return textRow("Title", "PAT") + textRow("Catchword", "PAC") + textRow("Document number", "PAD");
}

// The library's own class list when it has one, else the built-in one.
std::string classRow(const std::optional<std::string>& parsed) {
    std::string out =
        "<tr><td>Document type</td><td><select name=\"ID\">\n"
        "            <option value=\"\">All Document Types</option>\n";
    if (parsed && !parsed->empty()) {
        out += *parsed;
    } else {
        for (const DecimalClassRow& row : kBuiltInClasses)
            out += formatChecked("            <option value=\"%s\">%s</option>\n", row.value, row.text);
    }
    return out + "</select></td></tr>\n";
}

std::string buttonRow(bool help) {
    std::string out =
        "<tr><td></td><td><input type=\"button\" value=\"Search\" onclick=\"sendForm();\" /> "
        "<input type=\"reset\" value=\"Clear\" />";
    if (help) out += " <input type=\"button\" value=\"Help\" onclick=\"openFormHelp();\" />";
    return out + "</td></tr>\n";
}

// The hidden fields every query form ends with.
std::string queryTail() {
    return hiddenField("OD", "0") + hiddenField("BA", "TITLE") + hiddenField("MT", cookieSwitch("showAllTitles")) +
           hiddenField("SP", cookieSwitch("showContext"));
}

std::string uzField(const CgiHandler& cg) {
    return (cg.flags & kCgiAllowUzOnUrl) ? hiddenField("UZ", "<!--@@uzaddr-->") : "";
}

// ---- the advanced page

struct CollectionMember {
    std::string hashId;
    std::string title;
};

struct Collection {
    bool present = false;
    std::string hashId;
    std::string title;
    std::string libraryId;
    std::vector<CollectionMember> members;  // those the server knows
};

// The library of ID when it is a collection, with its members. 0 with
// message 220 in sa when the server gave no reply.
int readCollection(CgiHandler& cg, SearchActions& sa, Collection& coll) {
    const Value* id = requestField(cg, "ID");
    if (!id || id->value.empty()) return 1;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(id->value);
    // A reply the client had to make up itself (the answer broke off) is
    // no answer from the server either.
    if (!reply || reply->clientMessage) {
        const std::string& reason =
            reply && cg.sess->getError().empty() ? reply->resultMessage : cg.sess->getError();
        sa.setError(cg.msg(220, "kivohandler/82"), serverAddress(cg), reason);
        return 0;
    }
    const UzMlListEntry* entry = reply->resultCode == 200 ? reply->mllist() : nullptr;
    if (!entry || !entry->filled() || !isCollection(entry->comment)) return 1;
    coll.present = true;
    extractLibTitleId(entry->comment, coll.title, coll.libraryId);
    std::string idText = entry->ID;
    coll.hashId = hashID(idText.data());
    std::optional<std::string> refs = cg.sess->getFileData(coll.hashId, kLibraryReferences);
    if (!refs) return 1;
    for (const std::string& ref : parseLibRefFile(*refs)) {
        std::string identity;
        std::string name;
        getLibIdNameFromLibRefString(ref.c_str(), identity, name);
        // A member the server does not know can be neither shown nor searched.
        CollectionMember member;
        if (cg.getHashIDfromLI(identity, &member.hashId, &member.title)) coll.members.push_back(member);
    }
    return 1;
}

// The help library as the main page finds it: the first entry of its
// listing; "" without one.
std::string advancedHelpLibrary(CgiHandler& cg) {
    if (!(cg.flags & kCgiUseHelp)) return "";
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(kHelpLibrary);
    const UzMlListEntry* entry = reply && reply->resultCode == 200 ? reply->mllist() : nullptr;
    return entry && entry->filled() ? *entry->database : "";
}

std::string removeBlanks(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t') out += c;
    return out;
}

std::string advancedAssignments(bool colZul, const Collection& coll, const std::string& help) {
    std::string out = formatChecked("var isColZul = %d;\nvar libraryIds = [];\n", colZul ? 1 : 0);
    if (coll.present) {
        size_t n = 0;
        out += formatChecked("libraryIds[%lu] = ", static_cast<unsigned long>(n++)) + scriptString(coll.hashId) + ";\n";
        for (const CollectionMember& m : coll.members)
            out += formatChecked("libraryIds[%lu] = ", static_cast<unsigned long>(n++)) + scriptString(m.hashId) +
                   ";\n";
    }
    out += "var collectionSL = " + scriptString(coll.present ? removeBlanks(coll.libraryId) : "") + ";\n";
    return out + "var helpURL = " + scriptString(help) + ";\n";
}

std::string libraryListRows(const Collection& coll) {
    if (!coll.present) return "";
    std::string out =
        "<tr><td>Search within</td><td>"
        "<input type=\"radio\" name=\"selectLib\" value=\"all\" checked=\"checked\" /> All libraries "
        "<input type=\"radio\" name=\"selectLib\" value=\"selected\" /> Selected libraries</td></tr>\n"
        "<tr><td></td><td><select name=\"libList\" multiple=\"multiple\" size=\"5\">\n";
    out += "<option value=\"" + pageText(coll.hashId) + "\">" + pageText(coll.title) + "</option>\n";
    for (const CollectionMember& m : coll.members)
        out += "<option value=\"" + pageText(m.hashId) + "\">" + pageText(m.title) + "</option>\n";
    return out + "</select></td></tr>\n";
}

std::string advancedBody(const CgiHandler& cg, const std::optional<std::string>& classes, const Collection& coll,
                         bool help) {
    std::string out = "<form name=\"conditions\" action=\"#\" onsubmit=\"return false;\">\n<h2>";
    out += coll.present ? "Search in Library Collection" : "Advanced Search";
    out += "</h2>\n<table>\n" + bodyTextRows() + patternRows() + classRow(classes) + libraryListRows(coll) +
           buttonRow(help) + "</table>\n</form>\n";
    out += "<form name=\"queryform\" method=\"get\" action=\"qzl:/kivo\" target=\"kivodoc\">\n";
    out += hiddenField("ST", "AdvSearch") + hiddenField("AC", "SEARCHMSG") + hiddenField("DO", "") +
           hiddenField("PA", "") + hiddenField("PAT", "") + hiddenField("PAC", "") + hiddenField("PAD", "") +
           hiddenField("DB", storedValue(cg, "DB")) + hiddenField("ID", storedValue(cg, "ID")) + queryTail();
    if (coll.present) out += hiddenField("SL", "");
    return out + uzField(cg) + "</form>\n</body>\n</html>\n";
}

// ---- the document page

struct LibraryListing {
    std::vector<const UzMlListEntry*> libraries;
    std::string helpLibrary;  // the last help library's database
};

LibraryListing readListing(const UzResponse& reply) {
    LibraryListing out;
    for (const UzMlListEntry* e = reply.mllist(); e && e->filled(); e = e->next.get()) {
        if (e->type == ML_NODE_TYPE_ZS) out.libraries.push_back(e);
        if (e->ID.find(kHelpLibrary) != std::string::npos) out.helpLibrary = *e->database;
    }
    return out;
}

// LIBCOUNT as a decimal number; anything else is 0. Never above limit, so
// a huge count walks no further than the server's libraries.
size_t libraryCount(const CgiHandler& cg, size_t limit) {
    const std::string text = storedValue(cg, "LIBCOUNT");
    size_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        n = n * 10 + static_cast<size_t>(c - '0');
        if (n > limit) return limit;
    }
    return n;
}

std::vector<std::string> selectedLibraries(const CgiHandler& cg, size_t count) {
    std::vector<std::string> ids;
    for (size_t i = 1; i <= count; ++i) {
        const Value* lib = requestField(cg, "LIB" + std::to_string(i));
        if (!lib) break;
        ids.push_back(lib->value);
    }
    return ids;
}

// The libraries of a search over all: PROFILE with its '|' as blanks (one
// trailing blank dropped when it had one '|'; quoted from two on), else
// PRID unless empty or "1", else every library.
std::string profileLibraries(const CgiHandler& cg) {
    std::string profile = storedValue(cg, "PROFILE");
    if (!profile.empty()) {
        size_t bars = 0;
        for (char& c : profile) {
            if (c != '|') continue;
            c = ' ';
            ++bars;
        }
        if (bars == 1 && profile.back() == ' ') profile.pop_back();
        return bars >= 2 ? "\"" + profile + "\"" : profile;
    }
    const std::string prid = storedValue(cg, "PRID");
    if (!prid.empty() && prid != "1") return prid;
    return "*.kvo";
}

std::string documentAssignments(const CgiHandler& cg, const std::vector<std::string>& ids, const std::string& help) {
    std::string libraries;
    if (ids.empty()) {
        libraries = profileLibraries(cg);
    } else {
        libraries = "\"";
        for (size_t i = 0; i < ids.size(); ++i) libraries += (i ? " " : "") + ids[i];
        libraries += "\"";
    }
    std::string out = formatChecked("var selectedLibraries = %d;\n", ids.empty() ? 0 : 1);
    out += "var searchLibraries = " + scriptString(libraries) + ";\n";
    out += "var helpURL = " + scriptString(help) + ";\n";
    const Value* prid = requestField(cg, "PRID");
    const std::string cookie =
        prid ? scriptString(urlEncode(URLMODE_ENCODE_SCRIPT, prid->value.c_str(), prid->value.size() * 3 + 1))
             : "null";
    return out + "var helpCookie = " + cookie + ";\n";
}

std::string libraryTitle(const LibraryListing& listing, const std::string& hashId) {
    for (const UzMlListEntry* e : listing.libraries) {
        std::string idText = e->ID;
        if (hashID(idText.data()) != hashId) continue;
        std::string title;
        std::string id;
        extractLibTitleId(e->comment, title, id);
        return title;
    }
    return "";
}

std::string documentBody(const CgiHandler& cg, const LibraryListing& listing, const std::vector<std::string>& ids,
                         std::string_view title, bool help) {
    std::string out = "<form name=\"conditions\" action=\"#\" onsubmit=\"return false;\">\n<h2>";
    out += std::string(title) + "</h2>\n";
    std::string items;
    for (const std::string& id : ids) {
        const std::string name = libraryTitle(listing, id);
        if (!name.empty()) items += "<li>" + pageText(name) + "</li>\n";
    }
    if (!items.empty()) out += "<ul>\n" + items + "</ul>\n";
    out += "<table>\n" + (ids.empty() ? std::string() : bodyTextRows()) + patternRows() + classRow(std::nullopt) +
           buttonRow(help) + "</table>\n</form>\n";
    out += "<form name=\"queryform\" method=\"get\" action=\"qzl:/kivo\">\n";
    out += hiddenField("ST", "DocSearch") + hiddenField("LIBIDS", "") + hiddenField("PROFILE", "") +
           hiddenField("AC", "SEARCHMSG") + hiddenField("DO", "");
    if (!ids.empty()) out += hiddenField("PA", "");
    out += hiddenField("PAT", "") + hiddenField("PAC", "") + hiddenField("PAD", "") + queryTail() +
           hiddenField("DB", storedValue(cg, "DB"));
    return out + uzField(cg) + "</form>\n</body>\n</html>\n";
}

}  // namespace

std::span<const DecimalClassRow> builtInDecimalClasses() {
    return kBuiltInClasses;
}

int SearchActions::advsearchAction() {
    if (!cg || !cg->valueList) return 0;
    // Only the text: the request's main writes the one error page.
    if (!cg->establishDefaultSession()) {
        const TableFormat format = cg->msg(33, "SearchActions/7.1");
        setError(format, fitted(format, cg->getError()));
        return 0;
    }
    Collection coll;
    if (!readCollection(*cg, *this, coll)) return 0;

    std::optional<std::string> classes = getDecimalClassAction();
    // The class list is optional: its absence is no error, and the page is
    // no dec-classes.xml file with that file's date.
    if (!classes) cg->setError(nullptr);
    cg->mimeFilename.clear();
    cg->docCTime = 0;
    const bool colZul = classes && classes->find(kColZulClass) != std::string::npos;

    const size_t size = kAdvancedPageSize + (classes ? classes->size() : 0);
    if (!cg->allocDocBuf(size)) {
        setError(cg->msg(39, "SearchActions/8"), static_cast<unsigned long>(size));
        return 0;
    }
    cg->docSize = 0;
    cg->mimeType = "text/html";

    const std::string helpDb = advancedHelpLibrary(*cg);
    const std::string help = helpAddress(*cg, helpDb, "DBadvanced");
    std::string page = pageHead(*cg, "", advancedAssignments(colZul, coll, help), "advanced");
    page += advancedBody(*cg, classes, coll, !help.empty());
    if (!cg->docWriteBuf(page)) {
        setError(cg->msg(39, "SearchActions/8"), static_cast<unsigned long>(page.size()));
        return 0;
    }
    return 1;
}

int SearchActions::docsearchAction() {
    if (!cg || !cg->valueList) return 0;
    if (!cg->establishDefaultSession()) return 0;
    cg->freeDocBuf();
    if (!cg->allocDocBuf(kDocumentPageSize)) {
        setError(cg->msg(39, "SearchActions/8"), static_cast<unsigned long>(kDocumentPageSize));
        return 0;
    }
    cg->docSize = 0;
    std::unique_ptr<UzResponse> reply = cg->sess->mllist("");
    if (!reply || reply->resultCode != 200) {
        setError(cg->msg(48, "SearchActions/9"), serverAddress(*cg), cg->sess->getError());
        return 0;
    }
    const LibraryListing listing = readListing(*reply);
    const std::vector<std::string> ids = selectedLibraries(*cg, libraryCount(*cg, listing.libraries.size()));
    const std::string_view title =
        ids.empty() ? "Search for documents in all libraries" : "Search for documents in selected libraries";
    const std::string help =
        (cg->flags & kCgiUseHelp) ? helpAddress(*cg, listing.helpLibrary, "LBmultiple") : std::string();

    std::string page = pageHead(*cg, title, documentAssignments(*cg, ids, help), "document");
    page += documentBody(*cg, listing, ids, title, !help.empty());
    if (!cg->docWriteBuf(page)) {
        setError(cg->msg(39, "SearchActions/8"), static_cast<unsigned long>(page.size()));
        return 0;
    }
    return 1;
}

}  // namespace ruva
