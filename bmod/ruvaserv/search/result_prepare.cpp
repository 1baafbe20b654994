#include "bmod/ruvaserv/search/result_prepare.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/search/library_ids.h"
#include "bmod/ruvaserv/search/search_result_fmt.h"
#include "common/docmodel/docno.h"
#include "common/eucjp.h"
#include "common/patterns.h"
#include "common/string_list.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/url_code.h"

namespace ruva {

namespace {

// Distinct file names a full-text count remembers; beyond, repeats count.
constexpr size_t kCountedNamesMax = 3000;
// A DO value of digits longer than this is no document class.
constexpr size_t kDocClassDigitsMax = 12;

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return out;
}

// The key that tells two hits of one document apart from others: the
// library compared case-blind, the file name as the index spells it.
std::string documentKey(const UzQxSearchEntry& e) {
    std::string key = lowered(e.ID);
    key += '\0';
    key += e.filename;
    return key;
}

bool isDocumentHit(const UzQxSearchEntry& e) { return e.hit == 1 && !e.filename.empty(); }

bool isEmptyEntry(const UzQxSearchEntry& e) { return e.actualHits == 0 && (e.hit == 0 || e.filename.empty()); }

// The request fields this half reads, once.
struct Fields {
    const char* ST = nullptr;
    const char* OD = nullptr;
    const char* BA = nullptr;
    bool fullText = true;  // ST absent counts as full text
};

const char* fieldValue(CgiHandler& cg, const char* name) {
    const Value* v = cg.valueList->findValue(name);
    return v ? v->value.c_str() : nullptr;
}

bool hasValue(const char* value) { return value && *value; }

// EX restricts to one extension; a name without '.' has none.
bool passesExtension(const UzQxSearchEntry& e, const char* ex) {
    if (!hasValue(ex) || e.filename.empty()) return true;
    const size_t dot = e.filename.rfind('.');
    return dot != std::string::npos && equalsCaseBlind(std::string_view(e.filename).substr(dot + 1), ex);
}

// The DO filter's member-name pattern; "" for no filter.
std::string docClassPattern(const char* DO) {
    if (!hasValue(DO)) return "";
    if (isAsciiDigit(static_cast<unsigned char>(DO[0])) && std::strlen(DO) <= kDocClassDigitsMax)
        return std::string("*") + DO + "-*";
    static const struct {
        const char* word;
        const char* pattern;
    } kClasses[] = {{"OPI", "*15431-*"}, {"COD", "*19082-*"}, {"POD", "*19083-*"}, {"ADI", "*15542-*"},
                    {"AI", "*15518-*"},  {"DESC", "*1551-*"},  {"MAN", "*19080-*"}};
    for (const auto& c : kClasses) {
        if (equalsCaseBlind(DO, c.word)) return c.pattern;
    }
    return "";
}

// ids in the page's library order: by title (case-blind, stable), the
// untitled after the titled in their order.
void orderByLibraryTitle(std::vector<std::string>& ids, const LibraryTable& titles) {
    auto titled = [&](const std::string& id) {
        const std::string* t = titles.titleOf(id);
        return t && !t->empty();
    };
    const auto untitled = std::stable_partition(ids.begin(), ids.end(), titled);
    std::stable_sort(ids.begin(), untitled, [&](const std::string& a, const std::string& b) {
        return uqxSortCallbackLibs(a, b, titles) < 0;
    });
}

// A part of the option string: name and the value coded for a script, or
// "" when the coding passes its limit (a cut value would search for
// something else).
std::string optionPart(const char* name, const char* value, size_t limit) {
    const size_t length = std::strlen(value);
    std::string coded = urlEncode(URLMODE_ENCODE_SCRIPT, value, length * 3 + 3);
    if (coded.size() > limit) return "";
    return std::string(name) + coded;
}

bool isJapanese(const char* text) { return hasValue(text) && isEUCenc(text); }

// STB, OD, the AND flag, the LIBIDS list and MLIDS; 0 with message 477
// for more libraries than a page may list.
int readListFields(SearchResultFmt& sr, PreparedResults& out) {
    CgiHandler& cg = sr.cg;
    const char* STB = fieldValue(cg, "STB");
    out.isStb = STB && equalsCaseBlind(STB, "2");
    const char* OD = fieldValue(cg, "OD");
    out.isSorted = OD && std::strcmp(OD, "0") != 0;
    out.fIgnoreSearchType = sr.sd.srchTypeBoolOperation == STYPE_AND;

    const char* LIBIDS = fieldValue(cg, "LIBIDS");
    const char* PROFILE = fieldValue(cg, "PROFILE");
    if (LIBIDS && equalsCaseBlind(LIBIDS, "*.kvo")) {
        out.showFilterColumn = 0;
    } else if (LIBIDS && PROFILE && std::strcmp(PROFILE, "0") == 0) {
        out.libIds = splitLibraryIds(LIBIDS);
        if (out.libIds.size() > kMaxResultLibraries) {
            sr.setError(cg.msg(477, "SearchResultFmt/mem1"));
            return 0;
        }
        LibraryTable titles;
        for (const std::string& id : out.libIds) {
            std::string title;
            LibraryTable::Row row{id, std::nullopt};
            if (getLibraryname(cg, sr.lookups, id, title)) row.title = std::move(title);
            titles.rows.push_back(std::move(row));
        }
        orderByLibraryTitle(out.libIds, titles);
    }

    if (const char* MLIDS = fieldValue(cg, "MLIDS"); hasValue(MLIDS)) {
        // Stored as the request stores fields; the search loop reads it back
        // the same way.
        const std::string id = std::string("\"") + MLIDS + " \"";
        cg.valueList->addValue("ID", id.c_str());
        cg.valueList->removeValue(cg.valueList->findValue("MLIDS"));
        out.hasMlids = true;
    }
    return 1;
}

// One walk over the hits, which at tens of thousands no longer sit in the
// cache: the match count, the page's libraries and each hit's library run.
class LibraryWalk {
public:
    explicit LibraryWalk(size_t hits) { runOfHit_.reserve(hits); }

    // Document hits and the summaries' uncounted hits; a full-text search
    // counts a file name once however many libraries or types found it.
    // The page's libraries with their titles go in first-appearance order;
    // 0 with message 477 past kMaxResultLibraries.
    int walk(SearchResultFmt& sr, PreparedResults& out, bool fullText) {
        LibraryTable& libraries = sr.libraries;
        libraries.rows.clear();
        std::unordered_set<std::string> seen;
        // Hits of one library mostly come together: the last library's run
        // is reused without lowering its id again.
        const std::string* lastId = nullptr;
        size_t lastRun = 0;
        for (const UzQxSearchEntry* e : out.hits) {
            out.docMatchCount += e->actualHits;
            if (isDocumentHit(*e) && !(fullText && seen.count(e->filename))) {
                if (fullText && seen.size() < kCountedNamesMax) seen.insert(e->filename);
                ++out.docMatchCount;
            }
            if (!lastId || *lastId != e->ID) {
                const auto [it, added] = runOf_.try_emplace(lowered(e->ID), runSizes_.size());
                if (added) {
                    runSizes_.push_back(0);
                    if (!e->ID.empty() && !listLibrary(sr, *e)) return 0;
                }
                lastId = &e->ID;
                lastRun = it->second;
            }
            if (isEmptyEntry(*e)) {
                runOfHit_.push_back(kNoRun);
            } else {
                runOfHit_.push_back(lastRun);
                ++runSizes_[lastRun];
            }
        }
        out.libSearchCount =
            static_cast<std::int64_t>(out.libIds.empty() ? libraries.rows.size() : out.libIds.size());
        return 1;
    }

    // Libraries in the order of their first entry, each library's entries
    // in reply order; empty entries (349 lines, dropped hits) go.
    void group(PreparedResults& out) {
        std::vector<size_t> next(runSizes_.size());
        size_t total = 0;
        for (size_t r = 0; r < runSizes_.size(); ++r) {
            next[r] = total;
            total += runSizes_[r];
        }
        std::vector<UzQxSearchEntry*> grouped(total);
        for (size_t i = 0; i < out.hits.size(); ++i) {
            if (runOfHit_[i] != kNoRun) grouped[next[runOfHit_[i]]++] = out.hits[i];
        }
        out.hits = std::move(grouped);
    }

    // The grouped runs' lengths, empty runs left out.
    std::vector<size_t> runLengths() const {
        std::vector<size_t> lengths;
        for (const size_t n : runSizes_) {
            if (n) lengths.push_back(n);
        }
        return lengths;
    }

private:
    static int listLibrary(SearchResultFmt& sr, const UzQxSearchEntry& e) {
        LibraryTable& libraries = sr.libraries;
        if (libraries.rows.size() == kMaxResultLibraries) {
            sr.setError(sr.cg.msg(477, "SearchResultFmt/mem1"));
            return 0;
        }
        LibraryTable::Row row{e.ID, std::nullopt};
        std::string title;
        if (getLibraryname(sr.cg, sr.lookups, e.ID, title)) row.title = std::move(title);
        libraries.rows.push_back(std::move(row));
        return 1;
    }

    // An empty entry's run: it is left out of the groups.
    static constexpr size_t kNoRun = SIZE_MAX;

    std::unordered_map<std::string, size_t> runOf_;
    std::vector<size_t> runSizes_;
    std::vector<size_t> runOfHit_;
};

// Each library's run by OD and BA; 0 with message 54.
int sortLibraryRuns(SearchResultFmt& sr, PreparedResults& out, const std::vector<size_t>& lengths, const char* OD,
                    const char* BA) {
    std::vector<UzQxSearchEntry*> run;
    size_t begin = 0;
    for (const size_t n : lengths) {
        run.assign(out.hits.begin() + begin, out.hits.begin() + begin + n);
        if (!sortSearchResults(run, 0, OD, BA, sr.srchSortOrder, sr.sortSettings, sr.libraries)) {
            sr.setError(sr.cg.msg(54, "SearchResultFmt/3"));
            return 0;
        }
        std::copy(run.begin(), run.end(), out.hits.begin() + begin);
        begin += n;
    }
    return 1;
}

void mergeDuplicates(PreparedResults& out) {
    // The first entry of a document stays and takes over from a later one
    // found by a higher search type.
    std::unordered_map<std::string, UzQxSearchEntry*> kept;
    kept.reserve(out.hits.size());
    size_t n = 0;
    for (UzQxSearchEntry* e : out.hits) {
        // Summaries have no file name: they are no document to merge.
        if (e->filename.empty()) {
            out.hits[n++] = e;
            continue;
        }
        const auto [it, added] = kept.try_emplace(documentKey(*e), e);
        if (added) {
            out.hits[n++] = e;
            continue;
        }
        --out.docMatchCount;
        UzQxSearchEntry& first = *it->second;
        if (e->searchType <= first.searchType) continue;
        first.searchType = e->searchType;
        first.isKwd = e->isKwd;
        const String* word = first.isKwd != 2 && e->keywords ? e->keywords->first : nullptr;
        if (word) {
            if (!first.keywords) first.keywords = newStringList();
            if (first.keywords && first.keywords->first)
                StringList::setValue(first.keywords->first, StringList::getValue(word));
            else if (first.keywords)
                first.keywords->add(StringList::getValue(word));
        }
        first.synopsis = e->synopsis;
    }
    out.hits.resize(n);
}

// A language part "UJA" is taken from the name in order, at most with
// blanks or controls between: a name without u, j, a in that order has
// none, and most names are not worth cutting into parts.
bool mayNameJapanese(std::string_view name) {
    static constexpr char kLetters[] = "uja";
    size_t matched = 0;
    for (const char c : name) {
        if (asciiLower(static_cast<unsigned char>(c)) == kLetters[matched] && ++matched == 3) return true;
    }
    return false;
}

// True for a Japanese page: a pattern in EUC-JP or a hit in Japanese.
// namesMayBeJapanese false: no hit's name holds "UJA".
bool pageLanguage(SearchResultFmt& sr, const PreparedResults& out, bool namesMayBeJapanese) {
    CgiHandler& cg = sr.cg;
    for (const char* name : {"PA", "PAOR", "PAT", "PAC", "PAD"}) {
        if (isJapanese(fieldValue(cg, name))) return true;
    }
    if (isJapanese(sr.sd.searchPat.c_str())) return true;
    if (!namesMayBeJapanese) return false;
    std::string lang;
    for (const UzQxSearchEntry* e : out.hits) {
        if (e->filename.empty() || !mayNameJapanese(e->filename)) continue;
        if (filenameToDocnoParts(e->filename.c_str(), nullptr, nullptr, nullptr, nullptr, &lang, nullptr) &&
            equalsCaseBlind(lang, "UJA"))
            return true;
    }
    return false;
}

// What a document link carries to the viewer: FT, PA and ST coded, and the
// match anchor for FT or a body-text search.
std::string matchOptions(SearchResultFmt& sr, const char* ST) {
    CgiHandler& cg = sr.cg;
    std::string options;
    bool anchor = false;
    if (const char* FT = fieldValue(cg, "FT"); hasValue(FT)) {
        options = optionPart("&FT=", FT, kOptionFtMax);
        anchor = true;
    }
    if (const char* PAOR = fieldValue(cg, "PAOR")) {
        const std::string pa = optionPart("&PA=", PAOR, kOptionPaorMax);
        options += pa;
        if (pa.size() > 4 && ST) options += optionPart("&ST=", ST, kOptionStMax);
        if (sr.sd.searchType & OST_BODYTEXT) anchor = true;
    }
    if (anchor) options += "#SearchMatch1";
    return options;
}

}  // namespace

int SearchResultFmt::rmvDocsFromResults(std::vector<UzQxSearchEntry*>& hits, std::int64_t& docMatchCount) {
    // Keyed over the whole list: a document's entries need not stand
    // together once BA or the library order has moved them.
    struct Types {
        unsigned long seen = 0;
        unsigned count = 0;
        std::int64_t entries = 0;
    };
    std::unordered_map<std::string, Types> byDocument;
    byDocument.reserve(hits.size());
    auto keyOf = [](const UzQxSearchEntry& e, size_t index) {
        // An entry without a file name stands alone.
        return e.filename.empty() ? "\x01" + std::to_string(index) : documentKey(e);
    };
    for (size_t i = 0; i < hits.size(); ++i) {
        Types& t = byDocument[keyOf(*hits[i], i)];
        if (t.entries == 0 || (hits[i]->searchType & ~t.seen) != 0) ++t.count;
        t.seen |= hits[i]->searchType;
        ++t.entries;
    }
    size_t kept = 0;
    for (size_t i = 0; i < hits.size(); ++i) {
        const Types& t = byDocument[keyOf(*hits[i], i)];
        if (t.count < sd.sTypeCounter) {
            --docMatchCount;
            continue;
        }
        hits[kept++] = hits[i];
    }
    hits.resize(kept);
    return 1;
}

int SearchResultFmt::prepareResults(KivoHandler&, UzResponse* reply, PreparedResults& out) {
    Fields f;
    f.ST = fieldValue(cg, "ST");
    f.OD = fieldValue(cg, "OD");
    f.BA = fieldValue(cg, "BA");
    f.fullText = !f.ST || equalsCaseBlind(f.ST, "FULLTEXT");

    if (!readListFields(*this, out)) return 0;

    // The reply's entries, EX applied once so that every count below sees
    // the same hits.
    // Names are looked at here, in the reply's order, rather than in the
    // sorted order that strays over the memory.
    const char* EX = fieldValue(cg, "EX");
    bool namesMayBeJapanese = false;
    for (UzQxSearchEntry* e = reply ? reply->qxsrch() : nullptr; e; e = e->next.get()) {
        if (!e->filled() || !passesExtension(*e, EX)) continue;
        out.hits.push_back(e);
        if (!namesMayBeJapanese) namesMayBeJapanese = mayNameJapanese(e->filename);
    }

    const std::string docClass = docClassPattern(fieldValue(cg, "DO"));
    if (!docClass.empty()) {
        for (UzQxSearchEntry* e : out.hits) {
            if (!e->ID.empty() && !e->filename.empty() && !matchPattern(docClass.c_str(), e->filename.c_str(), 1))
                e->filename.clear();
        }
    }

    LibraryWalk libraryWalk(out.hits.size());
    if (!libraryWalk.walk(*this, out, f.fullText)) return 0;
    const bool grouped = out.docMatchCount > 0;
    if (grouped) {
        libraryWalk.group(out);
        if (!sortLibraryRuns(*this, out, libraryWalk.runLengths(), f.OD, f.BA)) return 0;
    }
    if (sd.srchTypeBoolOperation == STYPE_AND) rmvDocsFromResults(out.hits, out.docMatchCount);
    if (out.docMatchCount > 0 && out.libSearchCount > 1 && out.docMatchCount <= kLibraryOrderMax) {
        if (!sortSearchResults(out.hits, 1, f.OD, f.BA, srchSortOrder, sortSettings, libraries)) {
            setError(cg.msg(54, "SearchResultFmt/3"));
            return 0;
        }
    }
    if (out.docMatchCount < 0) out.docMatchCount = 0;
    if (!f.fullText && out.docMatchCount > 1) mergeDuplicates(out);

    if (out.docMatchCount > kResultCap) {
        if (out.isStb)
            out.maxResultsCrossed = sd.isAdvanced ? 0 : 1;
        else
            out.maxResultsCrossed = f.ST && equalsCaseBlind(f.ST, "DocSearch");
    }
    // Counted once the filters are done: a library the AND filter emptied
    // has no hits to show. Without it the grouped runs are the libraries
    // with hits, and merging keeps one entry of each library's documents.
    if (grouped && sd.srchTypeBoolOperation != STYPE_AND) {
        for (UzQxSearchEntry* e : out.hits) {
            if (isDocumentHit(*e) && !e->ID.empty()) {
                out.firstCounted = e;
                break;
            }
        }
        out.libHitCount = static_cast<std::int64_t>(libraryWalk.runLengths().size());
    } else {
        std::unordered_set<std::string> withHits;
        const std::string* lastId = nullptr;
        for (UzQxSearchEntry* e : out.hits) {
            if (!out.firstCounted && isDocumentHit(*e) && !e->ID.empty()) out.firstCounted = e;
            if (isEmptyEntry(*e) || (lastId && *lastId == e->ID)) continue;
            withHits.insert(lowered(e->ID));
            lastId = &e->ID;
        }
        out.libHitCount = static_cast<std::int64_t>(withHits.size());
    }
    out.langCode = pageLanguage(*this, out, namesMayBeJapanese) ? "UJA" : "";
    if (out.docMatchCount > 0) out.options = matchOptions(*this, f.ST);
    return 1;
}

}  // namespace ruva
