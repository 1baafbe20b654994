#include <strings.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/library_name.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/patterns.h"

namespace ruva {

namespace {

// The entry's library id between its first two bars; the daemon writes
// digits, so anything longer is no id of its.
constexpr size_t kLibraryIdMax = 255;

// The field's value when present and not empty.
const std::string* filledField(const CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList->findValue(name);
    return v && !v->value.empty() ? &v->value : nullptr;
}

// "version|hash|name|": the text after the first bar up to the next one or
// the end; none without a bar.
std::optional<std::string> entryLibraryId(std::string_view idField) {
    const size_t first = idField.find('|');
    if (first == std::string_view::npos) return std::nullopt;
    std::string_view id = idField.substr(first + 1);
    id = id.substr(0, id.find('|'));
    if (id.size() > kLibraryIdMax) return std::nullopt;
    return std::string(id);
}

// A wildcard FN: the member it matches as a redirect, else message 471 as
// the page, naming the library as far as the request names it. Always
// answered.
int wildcardDocument(KivoHandler& kh, const std::string& pattern) {
    CgiHandler& cg = *kh.cg;
    std::optional<std::string> library;
    std::optional<std::string> file;
    if (kh.getFullFilename(&library, &file)) {
        cg.locationDbFile("", *library, *file, "");
        return 1;
    }
    // Only the page needs the library's reference.
    std::optional<std::string> reference;
    if (const std::string* id = filledField(cg, "ID")) reference = kh.getLifromID(*id);
    std::string named;
    if (reference && !reference->empty()) {
        named = *reference;
    } else if (const std::string* db = filledField(cg, "DB")) {
        named = *db;
    } else {
        // Without a library the user would see an empty answer: name the
        // ID, or the libraries the pattern was tried in.
        named = getLibraryName(cg);
    }
    cg.outputError(cg.msg(471, kh.linkNotFoundTag()), errorArgument(pattern), errorArgument(named));
    return 1;
}

}  // namespace

const char* secondEditionStart(CgiHandler& cg, const std::string& key) {
    std::unique_ptr<UzResponse> listing = cg.sess->contv(key, "kivo2.html");
    const int code = listing ? listing->resultCode : 0;
    const UzContEntry* entry = listing ? listing->cont() : nullptr;
    const bool present =
        (code == 200 || code == 577 || code == 578) && entry && entry->filled() && !entry->filename.empty();
    return present ? "kivo2.html" : "kivo.html";
}

namespace {

// The library's main page after MLLIST of the key: the first library entry
// gives ID and DB. 0 when the key names no library or the page fails.
int libraryMainPage(KivoHandler& kh, const std::string& key) {
    CgiHandler& cg = *kh.cg;
    std::unique_ptr<UzResponse> reply = cg.sess->mllist(key);
    if (!reply || reply->resultCode != 200) return 0;
    const UzMlListEntry* entry = reply->mllist();
    while (entry && entry->filled() && entry->type != ML_NODE_TYPE_ZS) entry = entry->next.get();
    if (!entry || !entry->filled()) return 0;
    if (std::optional<std::string> id = entryLibraryId(entry->ID)) cg.valueList->addValue("ID", id->c_str());
    const std::string& database = *entry->database;
    const size_t start = database.find_first_not_of(" \t\r\n");
    if (start != std::string::npos) cg.valueList->addValue("DB", database.c_str() + start);
    const bool secondEdition = !entry->ID.empty() && entry->ID[0] == '2';
    reply.reset();
    if (secondEdition) {
        cg.valueList->addValue("FN", secondEditionStart(cg, key));
        return kh.mainPageAction(3);
    }
    cg.valueList->addValue("AC", "LINKEXT");
    cg.valueList->addValue("FN", "kivomain.html");
    return kh.mainPageAction(0);
}

// The library is not here: the text the service's users are told.
void notHere(KivoHandler& kh, const std::string& key) {
    const CgiHandler& cg = *kh.cg;
    int index = 20;
    if (cg.ProfileId.empty()) {
        if (strncasecmp(cg.useExtranet.c_str(), "Yes", 3) == 0) index = 18;
    } else if (strcasecmp(cg.servicename.c_str(), "Tessaport") == 0) {
        index = 17;
    } else if (strcasecmp(cg.servicename.c_str(), "MYR Store") == 0) {
        index = 19;
    }
    // A profile with another service is told too, not left an empty page.
    kh.setError(cg.msg(index, "kivohandler/9"), errorArgument(key));
}

}  // namespace

int KivoHandler::linkAction() {
    if (!cg || !cg->establishDefaultSession()) return 0;
    if (const std::string* fn = filledField(*cg, "FN"); fn && isSearchPattern(fn->c_str())) {
        const std::string pattern = *fn;
        return wildcardDocument(*this, pattern);
    }
    const int fetched = fetchLinkDocument();
    if (fetched < 0) return 0;
    if (fetched > 0) return 1;
    const std::string* id = filledField(*cg, "ID");
    const std::string* key = id ? id : filledField(*cg, "DB");
    if (!key) return cg->locationKivo("");
    // MLLIST and the main page change ID and DB.
    const std::string libraryKey = *key;
    if (libraryMainPage(*this, libraryKey)) return 1;
    // A page that answered itself is the answer, whatever it says.
    if (cg->flags & kCgiResponseDone) return 1;
    notHere(*this, libraryKey);
    return 0;
}

int KivoHandler::fetchLinkDocument() {
    std::unique_ptr<SearchActions> sa = cg ? newSearchActions(cg) : nullptr;
    if (!sa) {
        setError(msgFormat(0, "kivohandler/78"), "SearchActions");
        return -1;
    }
    // Not answered: the library's main page is tried instead, so the
    // search object's reason goes with it.
    return sa->getKivoDocument(*this) ? 1 : 0;
}

const char* KivoHandler::linkNotFoundTag() {
    return "kivohandler/93";
}

}  // namespace ruva
