// The search arguments of SEARCH and SEARCHEXT: library lists, collections
// and the defaults taken from cookies, left in the request's fields.
#include <strings.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "common/cookie.h"
#include "common/docmodel/comment_tokens.h"
#include "common/quoting.h"

namespace ruva {

namespace {

// The identifier list of LL or TLL, separators included.
constexpr size_t kLibIdsMax = 255;

void defaultField(ValueList& fields, const char* name, const char* value) {
    if (!hasFilledValue(fields, name)) fields.addValue(name, value);
}

// SYPA, the pattern of the search page's own form, wins over PA.
void takeFormPattern(ValueList& fields) {
    const std::string sypa = valueOf(fields, "SYPA");
    if (!sypa.empty()) fields.addValue("PA", sypa.c_str());
}

// A lone "*" would list every document of every library.
bool wildcardOnly(KivoHandler& kh, const char* tag) {
    const Value* pa = kh.cg->valueList->findValue("PA");
    if (!pa || pa->value != "*") return false;
    kh.setError(msgFormat(100, tag));
    return true;
}

// A search object for SEARCH and SEARCHEXT's search road (option 0x40
// cleared first); null with message 0.
std::unique_ptr<SearchActions> makeSearch(KivoHandler& kh) {
    kh.cg->options &= ~kOptBit40;
    std::unique_ptr<SearchActions> sa = newSearchActions(kh.cg);
    if (!sa) kh.setError(msgFormat(0, "kivohandler/82"), "SearchActions");
    return sa;
}

// The main page's external mark travels in the options until the search
// takes it.
void takeExternalMark(CgiHandler& cg, SearchActions& sa) {
    if (!(cg.options & kOptExternSearch)) return;
    cg.options &= ~kOptExternSearch;
    sa.sd->isExternSearch = 1;
}

// MT and SP keep "0" or "1"; else the cookie's, when it is one of them
// (it reaches the page's scripts), else "1".
void switchDefault(ValueList& fields, const char* name, const std::optional<std::string>& cookie) {
    const std::string value = valueOf(fields, name);
    if (fields.findValue(name) && (value == "0" || value == "1")) return;
    fields.addValue(name, cookie && (*cookie == "0" || *cookie == "1") ? cookie->c_str() : "1");
}

// The pattern of a library list search goes to the field its type reads;
// true when one was copied.
bool copyPatternByType(ValueList& fields) {
    const std::string st = valueOf(fields, "ST");
    const std::string pa = valueOf(fields, "PA");
    if (st.empty() || pa.empty()) return false;
    const char* target = nullptr;
    if (strcasecmp(st.c_str(), "TITLE") == 0) target = "PAT";
    if (strcasecmp(st.c_str(), "DOCNO") == 0) target = "PAD";
    if (strcasecmp(st.c_str(), "CATCHWORD") == 0) target = "PAC";
    if (!target) return false;
    fields.addValue(target, pa.c_str());
    return true;
}

// ID from the library a field names, when it is known.
void setIdOf(KivoHandler& kh, const std::string& reference) {
    std::string hash;
    if (kh.getHashId(reference, &hash)) kh.cg->valueList->addValue("ID", hash.c_str());
}

// SEARCHEXT with a library list LL: the identifier list, then the main
// page of a collection SL or the search at once.
int libraryListSearch(KivoHandler& kh) {
    using SearchOperation = KivoHandler::SearchOperation;
    ValueList& fields = *kh.cg->valueList;
    KivoHandler::presentLL = 1;
    if (copyPatternByType(fields)) fields.removeValue(fields.findValue("PA"));
    std::string libIds;
    if (!kh.buildLibIds(valueOf(fields, "LL"), libIds)) {
        kh.setError(msgFormat(233, "kivohandler/109"));
        return 0;
    }
    fields.removeValue(fields.findValue("LL"));
    fields.addValue("LIBIDS", ("\"" + libIds + "\"").c_str());
    fields.addValue("LLF", "yes");
    if (fields.findValue("SL") && KivoHandler::isValSL == 1) {
        setIdOf(kh, valueOf(fields, "SL"));
        fields.addValue("ST", "ADVSEARCH");
        fields.addValue("MLIDS", libIds.c_str());
        if (!kh.resolveLibrary("kivohandler/NOID4")) return 0;
        return kh.mainPageAction(0);
    }
    fields.addValue("AC", "SEARCH");
    fields.addValue("ST", "DOCSEARCH");
    std::unique_ptr<SearchActions> sa = makeSearch(kh);
    if (!sa) return 0;
    takeExternalMark(*kh.cg, *sa);
    if (!kh.resolveLibrary("kivohandler/NOID3")) return 0;
    return kh.runSearchOperation(*sa, SearchOperation::kSearch);
}

}  // namespace

int KivoHandler::searchArguments() {
    ValueList& fields = *cg->valueList;
    takeFormPattern(fields);
    if (!resolveLibrary("kivohandler/NOID2")) return 0;
    if (wildcardOnly(*this, "kivohandler/PA*/1")) return 0;
    std::unique_ptr<SearchActions> sa = makeSearch(*this);
    if (!sa) return 0;
    isValSL = 0;
    takeExternalMark(*cg, *sa);
    defaultField(fields, "BA", "TITLE");
    defaultField(fields, "OD", "0");
    if (strcasecmp(valueOf(fields, "STB").c_str(), "2") == 0 && !listSearch(false)) return 0;
    return runSearchOperation(*sa, SearchOperation::kSearch);
}

int KivoHandler::externalSearchArguments() {
    ValueList& fields = *cg->valueList;
    takeFormPattern(fields);
    isValSL = 0;
    if (wildcardOnly(*this, "kivohandler/PA*/2")) return 0;
    defaultField(fields, "BA", "TITLE");
    defaultField(fields, "OD", "0");
    switchDefault(fields, "MT", getcookieforpn("showAllTitles"));
    switchDefault(fields, "SP", getcookieforpn("showContext"));
    if (strcasecmp(valueOf(fields, "STB").c_str(), "2") == 0) {
        if (!listSearch(true)) return 0;
    } else {
        collectionCheck("SL");
        if (hasFilledValue(fields, "LL")) return libraryListSearch(*this);
    }
    if (!resolveLibrary("kivohandler/NOID5")) return 0;
    return mainPageAction(0);
}

int KivoHandler::collectionCheck(const char* field) {
    ValueList& fields = *cg->valueList;
    if (!cg->establishDefaultSession()) {
        // The request goes on; the text explains a later failure.
        setError("%s", cg->getError());
    } else if (const std::string value = valueOf(fields, field); !value.empty()) {
        const std::string bracketed = "[" + value + "]";
        std::unique_ptr<UzResponse> reply = cg->sess->mllist(quoteString(bracketed.c_str()));
        if (reply && reply->resultCode == 200) {
            const UzMlListEntry* first = reply->mllist();
            isValSL = first && first->filled() && ruva::isCollection(first->comment) ? 1 : 0;
        }
    }
    if (!isValSL) fields.removeValue(fields.findValue(field));
    return isValSL;
}

int KivoHandler::listSearch(bool external) {
    ValueList& fields = *cg->valueList;
    collectionCheck("TSL");
    if (hasFilledValue(fields, "TLL")) {
        presentLL = 1;
        const std::string pa = valueOf(fields, "PA");
        if (hasFilledValue(fields, "ST") && !pa.empty()) {
            for (const char* name : {"PAT", "PAD", "PAC"}) fields.addValue(name, pa.c_str());
        }
    }
    std::string libIds;
    if (!buildLibIds(valueOf(fields, "TLL"), libIds)) {
        setError(msgFormat(233, "kivohandler/369"));
        return 0;
    }
    if (external) fields.addValue("LLF", "yes");
    fields.removeValue(fields.findValue("TLL"));
    const std::string tsl = valueOf(fields, "TSL");
    if (!tsl.empty() && isValSL == 1) {
        setIdOf(*this, tsl);
        fields.addValue("ST", "ADVSEARCH");
        fields.addValue("MLIDS", libIds.c_str());
        fields.addValue("LD", "0");
        fields.addValue("SL", tsl.c_str());
        if (external) fields.addValue("STB", "2");
    }
    return 1;
}

int KivoHandler::buildLibIds(const std::string& references, std::string& libIds) {
    libIds.clear();
    size_t at = 0;
    while (at < references.size()) {
        const size_t end = std::min(references.find(' ', at), references.size());
        const std::string token = references.substr(at, end - at);
        at = end + 1;
        if (token.empty()) continue;
        std::string hash;
        if (!getHashId(token, &hash)) {
            // Unknown libraries are left out; the list speaks for the rest.
            clear();
            continue;
        }
        // Whole ids only; the ones after the first that does not fit are
        // not asked for.
        if (libIds.size() + hash.size() + 1 > kLibIdsMax) break;
        libIds += hash + " ";
    }
    return libIds.empty() ? 0 : 1;
}

}  // namespace ruva
