// The index search loop: one QXSRCH per chosen search type and server,
// the hits marked, filtered and given contexts, all joined into one reply.
#include <cctype>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/server_reply.h"
#include "bmod/ruvaserv/client/uzresponse.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "bmod/ruvaserv/search/index_patterns.h"
#include "bmod/ruvaserv/search/library_ids.h"
#include "bmod/ruvaserv/search/search_functions.h"
#include "common/docmodel/comment_tokens.h"
#include "common/eucjp.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr int kCodeOk = 200;
constexpr int kCodeBeingUpdated = 577;
constexpr int kCodeRemoved = 578;

constexpr int kMaxSearchHits = 500;
constexpr int kNoHitLimit = 0;
// A search field longer than this fails before any command: the patterns
// are prepared in 1024-byte buffers.
constexpr size_t kPatternMax = 1023;
constexpr size_t kContextWordCopyMax = 255;
constexpr size_t kContextWords = 4;

constexpr char kAllLibraries[] = "*.kvo";
constexpr char kNoBitmap[] = "null";
constexpr char kFulltextIndex[] = "fulltext.qxx";
constexpr char kCtwIndex[] = "ctw.qxx";
constexpr char kTitleIndex[] = "title.qxx";
constexpr char kTopicTitleIndex[] = "topictitle.qxx";
constexpr char kDocnoIndex[] = "docno.qxx";
constexpr char kFolderIndex[] = "folder.qxx";
// The daemon wants a token text with SRCH; it does not read it.
constexpr char kSrchTokens[] = "text string for bodytext that will never be used";

// The order the types are searched in; OST_TITLE is visited twice.
constexpr KivoSearchType kTypeOrder[] = {OST_2AI,      OST_ADI,        OST_POD,   OST_COD,
                                         OST_MAN,      OST_OPI,        OST_CTW,   OST_TITLE,
                                         OST_FOLTITLE, OST_TOPICTITLE, OST_DOCNO, OST_BODYTEXT};
// Fields whose patterns the loop prepares.
constexpr const char* kPatternFields[] = {"PA", "PAT", "PAC", "PAD", "ORPA"};

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

bool hasHits(const UzResponse& r) {
    for (const UzQxSearchEntry* e = r.qxsrch(); e && e->filled(); e = e->next.get()) {
        if (!e->filename.empty() || e->actualHits != 0) return true;
    }
    return false;
}

bool isPdf(std::string_view name) {
    return name.size() >= 4 && startsCaseBlindAt(name, name.size() - 4, ".pdf");
}

// A bitmap goes on the command line inside the quoted list: only hex
// digits and '|' may, or the list's words shift.
std::string usableBitmap(const std::optional<std::string>& value) {
    if (!value) return kNoBitmap;
    const size_t begin = value->find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return kNoBitmap;
    const size_t end = value->find_last_not_of(" \t\r\n");
    std::string bitmap = value->substr(begin, end + 1 - begin);
    for (const char c : bitmap) {
        if (c != '|' && !std::isxdigit(static_cast<unsigned char>(c))) return kNoBitmap;
    }
    return bitmap;
}

// The catchword alternatives of a prepared catchword pattern: its
// '|'-separated pieces without quotes, upper-cased, trimmed.
std::vector<std::string> catchwordAlternatives(std::string_view pattern) {
    std::vector<std::string> alternatives;
    size_t from = 0;
    while (from <= pattern.size()) {
        size_t bar = pattern.find('|', from);
        if (bar == std::string_view::npos) bar = pattern.size();
        std::string piece;
        for (const char c : pattern.substr(from, bar - from)) {
            if (c != '"') piece += c;
        }
        lstrupr(piece.data());
        const size_t begin = piece.find_first_not_of(' ');
        if (begin != std::string::npos)
            alternatives.push_back(piece.substr(begin, piece.find_last_not_of(' ') + 1 - begin));
        from = bar + 1;
    }
    return alternatives;
}

// A catchword-index hit whose CTW: value matches an alternative is a
// catchword hit; one whose comment names its TITLE: first is not.
bool isCatchwordHit(const std::string& comment, const std::vector<std::string>& alternatives) {
    std::string text = comment;
    char* cursor = text.data();
    while (const char* token = getNextToken(&cursor)) {
        if (startsCaseBlindAt(token, 0, "TITLE:") && std::strlen(token) == 6) return false;
        if (!(startsCaseBlindAt(token, 0, "CTW:") && std::strlen(token) == 4)) continue;
        char* word = getNextToken(&cursor);
        if (!word) return false;
        lstrupr(word);
        for (const std::string& alternative : alternatives) {
            if (matchPattern(alternative.c_str(), word, 1)) return true;
        }
        return false;
    }
    return false;
}

// One visit of the type loop: the type its hits are marked with and its row.
struct Visit {
    KivoSearchType type = 0;
    const IndexOfType* row = nullptr;
};

// The libraries of one pass and their category bitmaps.
struct Libraries {
    std::string list;
    std::string bitmaps;
    int count = 0;
};

enum class Outcome { kNext, kStop, kFail };

class SearchLoop {
public:
    explicit SearchLoop(SearchFunctions& sf) : sf_(sf), sd_(sf.sd), cg_(sf.cg) {}

    int run(std::unique_ptr<UzResponse>& result, const UzKnownListEntry* knownServers);

private:
    std::string field(const char* name) const {
        const Value* v = cg_.valueList ? cg_.valueList->findValue(name) : nullptr;
        return v ? v->value : std::string();
    }
    bool present(const char* name) const { return cg_.valueList && cg_.valueList->findValue(name); }
    void store(const char* name, const std::string& value) {
        if (cg_.valueList) cg_.valueList->addValue(name, value.c_str());
    }

    int readRequest();
    Outcome pass(UzSession& session, std::unique_ptr<UzResponse>& result);
    std::string libraryList() const;
    Libraries libraries(UzSession& session) const;
    bool nextVisit(KivoSearchType& types, bool& titleSearched, Visit& visit) const;
    Outcome searchType(UzSession& session, const Visit& visit, const Libraries& libs,
                       std::unique_ptr<UzResponse>& result);
    int preparePattern(const Visit& visit, std::string& pattern);
    Outcome failedReply(UzSession& session, const UzResponse* r, const std::string& pattern,
                        const Libraries& libs, const char* index, bool haveHits);
    void markHits(UzResponse& r, const Visit& visit, const std::string& pattern) const;
    void chooseContextWords(const std::string& pattern);
    Outcome addContexts(UzSession& session, UzResponse& r, const Visit& visit);
    Outcome contextOf(UzSession& session, UzQxSearchEntry& e, const std::vector<ContextWord>& words);
    void join(std::unique_ptr<UzResponse>& result, std::unique_ptr<UzResponse> r) const;

    SearchFunctions& sf_;
    SearchData& sd_;
    CgiHandler& cg_;

    std::string ST_;
    std::string DO_;
    bool external_ = false;
    bool listSearch_ = false;
    bool combination_ = false;
    bool folderTitleSearch_ = false;
    bool libIdSearch_ = false;
    std::string paor_;                  // the raw pattern of the current type, for the context words
    std::optional<std::string> shown_;  // once set, the pattern the results page shows
};

int SearchLoop::readRequest() {
    for (const char* name : kPatternFields) {
        if (field(name).size() > kPatternMax) {
            sf_.setError(cg_.msg(97, "SearchFunctions/2"));
            return 0;
        }
    }
    external_ = field("SC").size() == 8 && startsCaseBlindAt(field("SC"), 0, "External");
    listSearch_ = field("STB") == "2";
    ST_ = field("ST");
    DO_ = field("DO");
    combination_ = contains(ST_, "ADVSEARCH") || contains(ST_, "DOCSEARCH");
    folderTitleSearch_ =
        (!field("PAT").empty() && field("PA").empty() && field("PAC").empty() && field("PAD").empty()) ||
        listSearch_;
    libIdSearch_ = !field("LIBIDS").empty();
    const std::string pa = field("PA");
    if (combination_ && (sd_.searchType & OST_BODYTEXT) && containsKanji(pa.c_str())) {
        sf_.setError(cg_.msg(99, "SearchFunctions/8"));
        return 0;
    }
    if (present("PA")) {
        const std::string normalised = normaliseSearchField(pa);
        if (!normalised.empty()) store("PA", normalised);
    }
    return 1;
}

std::string SearchLoop::libraryList() const {
    std::string list;
    const std::string libids = field("LIBIDS");
    const std::string mlids = field("MLIDS");
    const std::string id = field("ID");
    const std::string db = field("DB");
    if (!libids.empty() && contains(ST_, "DOCSEARCH")) {
        list = libids;
    } else if (!mlids.empty() && contains(ST_, "ADVSEARCH")) {
        list = "\"" + mlids + " \"";
    } else if (sd_.searchScope == OSS_DATABASE && !id.empty()) {
        list = id;
    } else if (sd_.searchScope == OSS_DATABASE && !db.empty()) {
        list = db.find('.') == std::string::npos ? db + ".kvo" : db;
    } else {
        list = kAllLibraries;
    }
    // The value list stores a quote of ID as its entity.
    for (size_t at = list.find("&#34;"); at != std::string::npos; at = list.find("&#34;", at + 1))
        list.replace(at, 5, "\"");
    return list;
}

Libraries SearchLoop::libraries(UzSession& session) const {
    Libraries libs;
    libs.list = libraryList();
    if (libs.list == kAllLibraries) {
        libs.bitmaps = std::string("\"") + kNoBitmap + "\"";
        return libs;
    }
    std::vector<std::string> bitmaps;
    for (const std::string& id : splitLibraryIds(libs.list)) {
        ++libs.count;
        std::optional<std::string> bitmap;
        std::unique_ptr<UzResponse> ml = session.mllist(id);
        for (const UzMlListEntry* e = ml ? ml->mllist() : nullptr; e && e->filled(); e = e->next.get()) {
            if (e->type == ML_NODE_TYPE_SUB || e->level != 0) continue;
            if (contains(e->comment, "CAT:")) readCatValuefromCookie(e->comment, bitmap);
            break;
        }
        bitmaps.push_back(usableBitmap(bitmap));
    }
    libs.bitmaps = "\"";
    for (size_t i = 0; i < bitmaps.size(); ++i) libs.bitmaps += (i ? " " : "") + bitmaps[i];
    libs.bitmaps += "\"";
    return libs;
}

// The first visit of OST_TITLE searches titles and, outside a combination
// search that is no folder-title search, leaves the bit for a second visit
// that searches folder titles.
bool SearchLoop::nextVisit(KivoSearchType& types, bool& titleSearched, Visit& visit) const {
    for (const KivoSearchType type : kTypeOrder) {
        if (!(types & type)) continue;
        visit.type = type;
        if (type == OST_TITLE && !titleSearched) {
            titleSearched = true;
            if (combination_ && !folderTitleSearch_) types &= ~OST_TITLE;
        } else if (type == OST_TITLE) {
            visit.type = OST_FOLTITLE;
            types &= ~(OST_TITLE | OST_FOLTITLE);
        } else {
            types &= ~type;
        }
        visit.row = indexOfType(visit.type);
        return true;
    }
    return false;
}

int SearchLoop::preparePattern(const Visit& visit, std::string& pattern) {
    const std::string_view index = visit.row->index;
    IndexPatternRequest request;
    request.ST = ST_;
    request.DO = DO_;
    if (present("ORPA")) request.ORPA = field("ORPA");
    request.external = external_;
    request.hasLLF = present("LLF");
    if (index == kCtwIndex) {
        sf_.kwd_check = true;
        const int ok = prepareCatchwordPattern(sf_, request, pattern);
        sf_.kwd_check = false;
        if (!ok) return 0;
        store("PACW", pattern);
        sd_.searchPatCtw = pattern;
    } else {
        const bool fulltext = index == kFulltextIndex;
        sf_.cleanupPhrase = fulltext && sd_.isPhraseSearch;
        std::optional<std::string> shown;
        const int ok = prepareIndexPattern(sf_, index, request, pattern, shown);
        sf_.cleanupPhrase = false;
        if (!ok) return 0;
        if (shown) shown_ = std::move(shown);
        if (fulltext) {
            store("PA", pattern);
            sd_.searchPatBodyText = pattern;
        } else if (index == kDocnoIndex) {
            sd_.searchPatDocNo = pattern;
        } else if (index == kTopicTitleIndex) {
            sd_.searchPatTopicTitle = pattern;
        } else if (index == kTitleIndex) {
            sd_.searchPatTitle = pattern;
        } else if (index == kFolderIndex) {
            sd_.searchPatFolTitle = pattern;
        }
    }
    sd_.searchPat = shown_ ? *shown_ : pattern;
    return 1;
}

Outcome SearchLoop::failedReply(UzSession& session, const UzResponse* r, const std::string& pattern,
                                const Libraries& libs, const char* index, bool haveHits) {
    if (r && r->srchtimedout) {
        sf_.setError(cg_.msg(libIdSearch_ ? 451 : 452, nullptr));
        return Outcome::kFail;
    }
    if (haveHits) return Outcome::kStop;
    sf_.setError(cg_.msg(86, "SearchFunctions/3"), pattern, session.getServerAddr(), htmlEscaped(libs.list),
                 std::string(index), replyReason(session, r));
    return Outcome::kFail;
}

// Marks every entry with the type searched (catchword hits by their CTW:
// value), then isKwd and isTopic.
void SearchLoop::markHits(UzResponse& r, const Visit& visit, const std::string& pattern) const {
    const std::string_view index = visit.row->index;
    const bool catchwords = index == kCtwIndex;
    const bool topics = index == kTopicTitleIndex;
    const std::vector<std::string> alternatives =
        catchwords ? catchwordAlternatives(pattern) : std::vector<std::string>{};
    for (UzQxSearchEntry* e = r.qxsrch(); e && e->filled(); e = e->next.get()) {
        if (catchwords) {
            e->searchType = isCatchwordHit(e->comment, alternatives) ? OST_CTW : OST_KEYWORD_LOGICAL;
        } else {
            e->searchType = visit.type;
        }
        e->isKwd = 2;
        e->isTopic = 2;
        if (e->searchType == OST_KEYWORD_LOGICAL) e->isKwd = 1;
        if (e->searchType == OST_CTW) e->isKwd = 0;
        if (topics) e->isTopic = 1;
    }
}

// sptok1 to sptok4 from the prepared pattern, or from the raw pattern's
// quoted text when it has one.
void SearchLoop::chooseContextWords(const std::string& pattern) {
    for (ContextWord& w : sf_.sptok) w = ContextWord{};
    std::string source = pattern;
    if (paor_.find('"') != std::string::npos) {
        const size_t end = paor_.find('"', 1);
        source = paor_.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    }
    if (sd_.isPhraseSearch) {
        sf_.sptok[0] = ContextWord{source, source.substr(0, kContextWordCopyMax)};
        return;
    }
    for (char& c : source) {
        if (c == '(' || c == ')') c = '&';
    }
    size_t n = 0;
    size_t from = 0;
    while (n < kContextWords && (from = source.find_first_not_of("&|!", from)) != std::string::npos) {
        const size_t end = std::min(source.find_first_of("&|!", from), source.size());
        const std::string piece = source.substr(from, end - from);
        from = end;
        sf_.sptok[n++] =
            ContextWord{piece.substr(0, piece.find_first_of("?*")), piece.substr(0, kContextWordCopyMax)};
    }
}

// The context of one hit by SRCH with each context word in turn until a
// reply has one; the hit is dropped when none gives a synopsis.
Outcome SearchLoop::contextOf(UzSession& session, UzQxSearchEntry& e, const std::vector<ContextWord>& words) {
    // By hash id: a base name is a pattern to the daemon.
    const std::string library = !e.ID.empty() ? e.ID : *e.database;
    std::unique_ptr<UzResponse> reply;
    for (size_t w = 0; w < kContextWords && !sf_.sptok[w].copy.empty(); ++w) {
        reply = session.srch(sf_.sptok[w].copy, library, e.filename, 0, kSrchTokens);
        if (reply && (reply->resultCode == kCodeBeingUpdated || reply->resultCode == kCodeRemoved)) {
            const bool removed = reply->resultCode == kCodeRemoved;
            sf_.setError(removed ? cg_.msg(8, "SearchFunctions/14") : cg_.msg(7, "SearchFunctions/13"),
                         htmlEscaped(libraryOfReply(reply->resultMessage)));
            return Outcome::kFail;
        }
        const UzSearchEntry* first = reply ? reply->srch() : nullptr;
        if (first && first->filled() && !first->context.empty()) break;
    }
    for (const UzSearchEntry* c = reply ? reply->srch() : nullptr; c && c->filled(); c = c->next.get()) {
        if (c->context.empty()) continue;
        bool holdsWord = sf_.japaneseText;
        for (const ContextWord& w : words) {
            holdsWord = holdsWord || ruva::strcasestr(c->context.c_str(), w.word.c_str());
        }
        if (!holdsWord) continue;
        e.synopsis = sf_.makeSynopsis(e.isKwd, c->context.c_str(), words).value_or("");
        return Outcome::kNext;
    }
    e.filename.clear();
    return Outcome::kNext;
}

// Contexts for the full-text group when asked for; without them only the
// class-bound types' filter. A hit of a class-bound type must name its
// class in its file name.
Outcome SearchLoop::addContexts(UzSession& session, UzResponse& r, const Visit& visit) {
    const char* classNo = visit.row->classNo;
    const bool fulltext = std::string_view(visit.row->index) == kFulltextIndex;
    const bool contexts = fulltext && sf_.contextsWanted() && !sf_.sptok[0].copy.empty();
    std::vector<ContextWord> words;
    for (const ContextWord& w : sf_.sptok) {
        if (!w.word.empty()) words.push_back(w);
    }
    for (UzQxSearchEntry* e = r.qxsrch(); e && e->filled(); e = e->next.get()) {
        if (e->filename.empty()) continue;
        if (!contexts) {
            if (classNo && !contains(e->filename, classNo)) e->filename.clear();
            continue;
        }
        if (!e->database || e->database->empty() || isPdf(e->filename)) continue;
        if (classNo && !contains(e->filename, classNo)) {
            e->filename.clear();
        } else if (sd_.isPhraseSearch) {
            e->synopsis = sf_.makeSynopsis(e->isKwd, e->synopsis.c_str(), words).value_or("");
        } else if (contextOf(session, *e, words) == Outcome::kFail) {
            return Outcome::kFail;
        }
    }
    return Outcome::kNext;
}

// The first reply with hits is the result; later entries go to its end.
void SearchLoop::join(std::unique_ptr<UzResponse>& result, std::unique_ptr<UzResponse> r) const {
    const std::string server = cg_.sess ? cg_.sess->getServerAddr() : cg_.docServAddr;
    for (UzQxSearchEntry* e = r->qxsrch(); e && e->filled(); e = e->next.get()) {
        if (e->servname.empty()) e->servname = server;
    }
    if (!result) {
        result = std::move(r);
        return;
    }
    UzQxSearchEntry* last = result->qxsrch();
    while (last->next) last = last->next.get();
    last->next = std::move(std::get<std::unique_ptr<UzQxSearchEntry>>(r->res));
}

Outcome SearchLoop::searchType(UzSession& session, const Visit& visit, const Libraries& libs,
                               std::unique_ptr<UzResponse>& result) {
    const char* index = visit.row->index;
    const char* fieldName = sd_.isAdvanced == 1 ? visit.row->formField : visit.row->field;
    bool cut = false;
    std::string pattern = separateCharacters(field(fieldName).c_str(), &cut);
    if (cut) {
        sf_.setError(cg_.msg(97, "SearchFunctions/2"));
        return Outcome::kFail;
    }
    paor_ = pattern;
    store("PAOR", pattern);
    if (sf_.preparePhraseSearch(pattern) != 1) return Outcome::kFail;
    const std::string phrase = pattern;
    sf_.japaneseText = !pattern.empty();
    if (!preparePattern(visit, pattern)) return Outcome::kFail;

    const std::string_view indexName = index;
    const bool noLimit =
        sd_.isAdvanced == 1 || (!DO_.empty() && (indexName == kCtwIndex || indexName == kTitleIndex));
    ++sf_.searchCount;
    std::unique_ptr<UzResponse> r = session.qxsrch(
        pattern, libs.list, index, noLimit ? kNoHitLimit : kMaxSearchHits, libs.bitmaps, libs.count);
    const int code = r ? r->resultCode : 0;
    if (code == kCodeBeingUpdated || code == kCodeRemoved) {
        const bool removed = code == kCodeRemoved;
        sf_.setError(removed ? cg_.msg(8, "SearchFunctions/12") : cg_.msg(7, "SearchFunctions/11"),
                     htmlEscaped(libraryOfReply(r->resultMessage)));
        return Outcome::kFail;
    }
    if (code != kCodeOk) return failedReply(session, r.get(), pattern, libs, index, result != nullptr);
    if (!hasHits(*r)) return Outcome::kNext;

    markHits(*r, visit, pattern);
    if (sd_.isPhraseSearch && r->qxsrch()->actualHits == 0) {
        sf_.rmvDocsPhraseSearch(session, *r, phrase.c_str());
        if (!hasHits(*r)) return Outcome::kNext;
    }
    if (std::string_view(index) == kFulltextIndex) chooseContextWords(pattern);
    if (addContexts(session, *r, visit) == Outcome::kFail) {
        // What this type found stays with the reply the caller frees.
        join(result, std::move(r));
        return Outcome::kFail;
    }
    join(result, std::move(r));
    return Outcome::kNext;
}

Outcome SearchLoop::pass(UzSession& session, std::unique_ptr<UzResponse>& result) {
    const Libraries libs = libraries(session);
    KivoSearchType types = sd_.searchType & ~(OST_UNKNOWN | OST_COMBINED);
    sd_.sTypeCounter = 0;
    bool titleSearched = false;
    Visit visit;
    while (nextVisit(types, titleSearched, visit)) {
        ++sd_.sTypeCounter;
        if (!visit.row) continue;
        const Outcome outcome = searchType(session, visit, libs, result);
        if (outcome != Outcome::kNext) return outcome;
    }
    return Outcome::kNext;
}

int SearchLoop::run(std::unique_ptr<UzResponse>& result, const UzKnownListEntry* knownServers) {
    if (!readRequest()) return 0;
    sf_.searchCount = 0;
    sf_.searchSessions = 1;
    if (!cg_.sess && !cg_.createDefaultSession()) {
        sf_.setError("%s", cg_.getError());
        return 0;
    }
    if (pass(*cg_.sess, result) == Outcome::kFail) return 0;
    for (const UzKnownListEntry* k = knownServers; k && k->filled(); k = k->next.get()) {
        in_addr_t address = 0;
        unsigned port = 0;
        if (!extractAddrPort(*k->address, &address, &port) || !cg_.uzc) continue;
        // A session of its own, deleted after its pass, whatever the
        // client already holds for that address.
        std::unique_ptr<UzSession> session = cg_.uzc->allocSession(k->address->c_str(), 0, 0);
        if (!session) continue;
        ++sf_.searchSessions;
        if (pass(*session, result) == Outcome::kFail) return 0;
    }
    return 1;
}

}  // namespace

int SearchFunctions::ruvxSearchLoop(std::unique_ptr<UzResponse>& reply,
                                    const UzKnownListEntry* knownServers) {
    SearchLoop loop(*this);
    return loop.run(reply, knownServers);
}

std::unique_ptr<UzResponse> SearchFunctions::makeRuvxSearch(std::string_view index, std::string_view pattern,
                                                            std::string_view library) {
    std::string completed(pattern);
    if (!srchPattComplete(completed, 1)) return nullptr;
    if (!cg.sess && !cg.createDefaultSession()) {
        setError("%s", cg.getError());
        return nullptr;
    }
    UzSession& session = *cg.sess;
    std::unique_ptr<UzResponse> r =
        session.qxsrch(completed, library, index, kMaxSearchHits, std::nullopt, 1);
    const int code = r ? r->resultCode : 0;
    if (code == kCodeOk) return r;
    if (code == kCodeBeingUpdated || code == kCodeRemoved) {
        const bool removed = code == kCodeRemoved;
        setError(removed ? cg.msg(8, "SearchFunctions/10") : cg.msg(7, "SearchFunctions/9"),
                 htmlEscaped(libraryOfReply(r->resultMessage)));
        return nullptr;
    }
    setError(cg.msg(86, "SearchFunctions/7"), completed, session.getServerAddr(),
             htmlEscaped(std::string(library)), std::string(index), replyReason(session, r.get()));
    return nullptr;
}

}  // namespace ruva
