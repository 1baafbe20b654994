#include "bmod/ruvaserv/search/document_lookup.h"

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/library_name.h"
#include "bmod/ruvaserv/search/search_actions.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "bmod/ruvaserv/search/search_type.h"
#include "common/docmodel/class_ref_readers.h"
#include "common/html_escape.h"
#include "common/patterns.h"
#include "common/quoting.h"
#include "common/text.h"

namespace ruva {
namespace {

// The longest DO taken as a class number.
constexpr size_t kClassNumberMax = 12;

bool sameLatin1(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (ltoupper(static_cast<unsigned char>(a[i])) != ltoupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// The value of a field that is present and not empty.
const std::string* filledField(const CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList->findValue(name);
    return v && !v->value.empty() ? &v->value : nullptr;
}

}  // namespace

std::optional<std::string> lookupClassPattern(std::string_view DO) {
    if (!DO.empty() && isAsciiDigit(static_cast<unsigned char>(DO.front())) && DO.size() <= kClassNumberMax)
        return "*" + std::string(DO) + "-*";
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> kClassWords{{
        {"OPI", "*15431-*"},
        {"COD", "*19082-*"},
        {"POD", "*19083-*"},
        {"ADI", "*15542-*"},
        {"AI", "*15518-*"},
        {"DESC", "*1551-*"},
        {"MAN", "*19080-*"},
    }};
    for (const auto& [word, pattern] : kClassWords)
        if (sameLatin1(DO, word)) return std::string(pattern);
    return std::nullopt;
}

int hasExtension(std::string_view filename, std::string_view ext) {
    if (ext.empty()) return 1;
    // A dot in a folder name is no extension of the member.
    const size_t slash = filename.find_last_of('/');
    const size_t dot = filename.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return 0;
    return sameLatin1(filename.substr(dot + 1), ext) ? 1 : 0;
}

int SearchActions::getKivoDocument(KivoHandler& handler) {
    if (!cg) return 0;
    return getKivoDocument(handler, DocumentLookup{getLibraryName(*cg), false});
}

namespace {

// Message 83 as the page: the file (already fit for the page) and either
// the request's error or the library the lookup was given.
void writeNotFound(CgiHandler& cg, const DocumentLookup& lookup, const std::string& shownFile) {
    cg.outputError(cg.msg(83, "SearchActions/1"), shownFile, lookup.libraryIn83 ? lookup.library : cg.getError());
    cg.flags |= kCgiResponseDone;
}

// The first hit the lookup counts, and their number in found: hits outside
// the class pattern are dropped (their name emptied, as the loop drops
// them), hits without library or of another extension are not counted.
UzQxSearchEntry* countedHits(UzResponse& reply, const std::optional<std::string>& classPattern,
                             std::string_view wantedExt, unsigned& found) {
    UzQxSearchEntry* first = nullptr;
    for (UzQxSearchEntry* e = reply.qxsrch(); e; e = e->next.get()) {
        if (!e->filled() || e->filename.empty()) continue;
        // A dropped hit keeps its place with an empty name, as the loop's do.
        if (classPattern && !matchPattern(classPattern->c_str(), e->filename.c_str(), 1)) {
            e->filename.clear();
            continue;
        }
        if (e->database->empty() || !hasExtension(e->filename, wantedExt)) continue;
        if (!found++) first = e;
    }
    return first;
}

}  // namespace

std::unique_ptr<UzResponse> SearchActions::lookupReply(SearchFunctions& sf, const DocumentLookup& lookup) {
    std::unique_ptr<UzResponse> reply;
    if (const std::string* cw = filledField(*cg, "CW")) {
        if (cw->size() > kSearchFieldMax) {
            setError(cg->msg(97, "SearchFunctions/2"));
            return nullptr;
        }
        reply = sf.makeRuvxSearch("ctw.qxx", *cw, lookup.library);
        if (!reply) {
            errmsg = sf.getError();
            return nullptr;
        }
        sd->searchType = OST_CTW;
        sd->searchPat = *cw;
    } else if (const std::string* ti = filledField(*cg, "TI")) {
        if (ti->size() > kSearchFieldMax) {
            setError(cg->msg(97, "SearchFunctions/2"));
            return nullptr;
        }
        // Quoting cannot fail on a string; it can only grow past the limit.
        const std::string quoted = quoteString(ti->c_str());
        if (quoted.size() > kSearchFieldMax) {
            setError(cg->msg(97, "SearchFunctions/2"));
            return nullptr;
        }
        reply = sf.makeRuvxSearch("title.qxx", quoted, lookup.library);
        if (!reply) {
            errmsg = sf.getError();
            return nullptr;
        }
        sd->searchPat = quoted;
        sd->searchType = OST_TITLE;
    } else {
        setError(cg->msg(85, "SearchActions/3"));
        return nullptr;
    }
    return reply;
}

int SearchActions::getKivoDocument(KivoHandler& handler, const DocumentLookup& lookup) {
    if (!cg || !cg->valueList) return 0;
    if (const std::string* fn = filledField(*cg, "FN")) {
        const std::string asked = *fn;
        // A chapter is reached by sending the browser to the file with the
        // chapter as its fragment, so the browser scrolls there itself.
        if (cg->valueList->findValue("CH")) return cg->locationDbFile("", "", asked, "");
        std::string file = asked;
        // The value list has made FN safe for the page already.
        if (!cg->retrieveFile(lookup.library, file)) writeNotFound(*cg, lookup, asked);
        return 1;
    }

    const std::string* ex = filledField(*cg, "EX");
    const std::string wantedExt = ex ? *ex : std::string();

    std::unique_ptr<SearchFunctions> sf = newSearchFunctions(*sd, *cg);
    if (!sf) {
        setError(cg->msg(0, "SearchActions/5"), "SearchFunctions");
        return 0;
    }
    std::unique_ptr<UzResponse> reply = lookupReply(*sf, lookup);
    if (!reply) return 0;

    std::optional<std::string> classPattern;
    if (const Value* DO = cg->valueList->findValue("DO")) classPattern = lookupClassPattern(DO->value);

    unsigned found = 0;
    UzQxSearchEntry* first = countedHits(*reply, classPattern, wantedExt, found);

    if (found != 1) {
        // Several hits give the results page, none its no-match page.
        std::unique_ptr<SearchResultFmt> fmt = newSearchResultFmt(*sd, *cg, SRSO_DEFAULT);
        if (!fmt) {
            setError(cg->msg(0, "SearchActions/5"), "SearchResultFmt");
            return 0;
        }
        sd->searchScope = OSS_DATABASE;
        const int shown = fmt->presentSearchResult(handler, reply.get(), sd->isExternSearch, std::nullopt);
        if (shown <= 0) {
            errmsg = fmt->getError();
            return 0;
        }
        // 3001 (the hits were cut) is a page written all the same.
        return 1;
    }

    if (cg->valueList->findValue("CH")) return cg->locationDbFile("", first->ID, first->filename, "");
    // By hash id where there is one: a base name is a pattern to the server
    // and may answer from a same-named library elsewhere.
    const std::string& library = first->ID.empty() ? *first->database : first->ID;
    std::string file = first->filename;
    if (!cg->retrieveFile(library, file)) writeNotFound(*cg, lookup, escapeHtmlKeepEntities(first->filename, false));
    return 1;
}

std::optional<std::string> SearchActions::getDecimalClassAction() {
    if (!cg) return std::nullopt;
    cg->freeDocBuf();
    std::string file = "dec-classes.xml";
    if (!retrieveFile(file)) {
        // A library without its own classes gets the built-in list; that is
        // no error of this request.
        cg->setError(nullptr);
        return std::nullopt;
    }
    const size_t size = cg->docbufSize ? std::min(cg->docSize, cg->docbufSize - 1) : 0;
    std::string list = parseDecimalClass(std::string_view(cg->docBuf ? cg->docBuf : "", cg->docBuf ? size : 0));
    cg->freeDocBuf();
    if (list.empty()) return std::nullopt;
    return list;
}

}  // namespace ruva
