// The word-index, text, property and library searches.
#include "bmod/ruvaserv/client/uzsession_search.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/chapter_titles.h"
#include "common/docmodel/content_type.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {
namespace {

// The daemon compares at most this many bitmap words.
constexpr int kBitmapWordsMax = 32;
constexpr int kClientFailure = 500;
// A QXSRCH hit's member names a folder page when it begins with this.
constexpr char kFolderPagePrefix = 'h';

struct Msg {
    int index;
    const char* tag;
};

// A command's failure messages, each with code 500.
struct ReplyMessages {
    Msg noLine;
    Msg shortLine;
    Msg noMemory;
    Msg badEntry;  // an entry the command cannot read (QXDT only)
};

constexpr ReplyMessages kQxMessages{{416, "uzsession/27"}, {417, "uzsession/28"}, {418, "uzsession/29"}, {}};
constexpr ReplyMessages kQxdtMessages{
    {404, "uzsession/22"}, {405, "uzsession/23"}, {406, "uzsession/24"}, {407, "uzsession/25"}};
constexpr ReplyMessages kSrchMessages{
    {425, "uzsession/40"}, {428, "uzsession/41"}, {429, "uzsession/42"}, {}};
constexpr ReplyMessages kPuSrchMessages{
    {408, "uzsession/30"}, {409, "uzsession/31"}, {410, "uzsession/32"}, {}};
constexpr ReplyMessages kMsrchMessages{{458, "uzsession/68"}, {459, "uzsession/69"}, {1, "uzsession/70"}, {}};

// A private copy of a reply line's text, cut into words as the daemon's
// getNextToken would; records copy what they keep.
class Words {
public:
    explicit Words(std::string_view text) : buf_(text), cursor_(buf_.data()) {}
    Words(const Words&) = delete;
    Words& operator=(const Words&) = delete;

    // The next word, or null at the end.
    const char* next() { return getNextToken(&cursor_); }
    // The next word into a field, or into a record's key, which an entry
    // line sets only when it has the word; false, out untouched, at the end.
    template <class Field>
    bool next(Field& out) {
        const char* w = next();
        if (!w) return false;
        out = w;
        return true;
    }
    // The uncut text from the cursor on.
    std::string_view rest() const { return cursor_; }
    // Moves the cursor n characters on within the rest.
    void skip(size_t n) { cursor_ += std::min(n, std::strlen(cursor_)); }

private:
    std::string buf_;
    char* cursor_;
};

unsigned long toUnsigned(const char* word) {
    return word ? std::strtoul(word, nullptr, 10) : 0;
}

long toLong(const char* word) {
    return word ? std::strtol(word, nullptr, 10) : 0;
}

bool sameCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

SearchLineStep fail(UzResponse& r, Msg m) {
    r.resultCode = kClientFailure;
    r.resultMessage = getMsgStr(m.index, m.tag);
    r.clientMessage = true;
    return SearchLineStep::kFailed;
}

// The shared classification; parse(line, record) reads an entry into a
// fresh record and gives false for one the command cannot read.
template <class Entry, class Parse>
SearchLineStep applyLine(UzResponse& r, const UzLine& line, const ReplyMessages& m, Parse parse) {
    switch (line.kind) {
        case UzLineKind::kNone:
            return fail(r, m.noLine);
        case UzLineKind::kShort:
            return fail(r, m.shortLine);
        case UzLineKind::kHeader:
            return SearchLineStep::kMore;
        case UzLineKind::kEnd:
        case UzLineKind::kError:
            r.resultCode = line.code;
            r.resultMessage = line.text;
            return line.kind == UzLineKind::kEnd ? SearchLineStep::kEnd : SearchLineStep::kError;
        case UzLineKind::kEntry:
            break;
    }
    r.resultCode = line.code;
    Entry parsed;
    if (!parse(line, parsed)) return fail(r, m.badEntry);
    if (!parsed.filled()) return SearchLineStep::kMore;
    Entry* slot = r.nextEntry<Entry>();
    if (!slot) return fail(r, m.noMemory);
    *slot = std::move(parsed);
    return SearchLineStep::kMore;
}

void addTo(std::unique_ptr<StringList>& list, std::string_view text) {
    if (!list) list = newStringList();
    if (list) list->addBuffer(text.data(), text.size());
}

// Where a topic-title hit's tokens end in rest ("[...] comment"): the last
// ']' before the comment. A quoted comment may hold ']' itself, so when the
// line ends in '"' the search stops at the comment's opening quote, found
// backwards past each \".
size_t topicTokensEnd(std::string_view rest) {
    size_t limit = rest.size();
    if (rest.size() >= 2 && rest.back() == '"') {
        for (size_t i = rest.size() - 1; i-- > 1;) {
            if (rest[i] == '"' && rest[i - 1] != '\\') {
                limit = i;
                break;
            }
        }
    }
    const size_t close = rest.substr(0, limit).rfind(']');
    return close == std::string_view::npos ? limit : close;
}

// The bracketed tokens of a hit, w standing on the '['; leaves w behind
// them, on the comment.
void readHitTokens(UzQxSearchEntry& e, Words& w, std::string_view index) {
    const std::string rest(w.rest());
    if (sameCaseBlind(index, "ctw.qxx") || index == "topictitle.qxx") {
        const bool ctw = index != "topictitle.qxx";
        size_t close = ctw ? rest.find(']') : topicTokensEnd(rest);
        if (close == std::string::npos) close = rest.size();
        const std::string_view tokens = std::string_view(rest).substr(1, close - 1);
        if (ctw) {
            addTo(e.keywords, tokens);
        } else {
            addTo(e.topics, sortTopicTitle(tokens));
        }
        w.skip(close + 1);
        return;
    }
    w.skip(1);
    while (const char* word = w.next()) {
        std::string_view token(word);
        if (token == "]") break;
        const bool last = !token.empty() && token.back() == ']';
        if (last) token.remove_suffix(1);
        addTo(e.keywords, token);
        addTo(e.topics, token);
        if (last) break;
    }
}

// A hit: "lib" hashid "member" doctype score [tokens] comment.
void readHit(UzQxSearchEntry& e, Words& w, std::string_view index) {
    e.hit = 1;
    if (!w.next(e.database)) return;
    w.next(e.ID);
    w.next(e.filename);
    if (const char* type = w.next()) getDocTypeFromName(type, &e.docType, &e.subType);
    e.score = static_cast<int>(toLong(w.next()));
    const std::string_view rest = w.rest();
    if (rest.empty() || rest.front() != '[') {
        w.next(e.comment);
        return;
    }
    // A member named 'h...' carries a title: the rest less its first and
    // last two characters; a rest shorter than 4 holds none.
    if (!e.filename.empty() && e.filename.front() == kFolderPagePrefix && rest.size() >= 4)
        e.folTitle = std::string(rest.substr(2, rest.size() - 4));
    readHitTokens(e, w, index);
    w.next(e.comment);
}

bool parseQxSearch(const UzLine& line, UzQxSearchEntry& e, std::string_view index) {
    Words w(line.text);
    if (line.code != kQxTooManyHits && line.code != kQxNoHits) {
        readHit(e, w, index);
        return true;
    }
    e.hit = 0;
    e.actualHits = 0;
    w.next();  // the folder's description
    if (!w.next(e.database)) return true;
    w.next(e.ID);
    if (line.code == kQxTooManyHits) e.actualHits = static_cast<unsigned>(toUnsigned(w.next()));
    return true;
}

bool parseQxSgs(const UzLine& line, UzQxSearchSgsEntry& e) {
    Words w(line.text);
    // A collection line names no library (""), and still is an entry.
    if (!w.next(e.database)) return true;
    w.next(e.suggestions);
    return true;
}

bool parseQxdt(const UzLine& line, UzQxdtEntry& e) {
    Words w(line.text);
    const char* type = w.next();
    if (!type) return false;
    if (type[0] == 'N') {
        e.entryType = QXDT_ENTRY_NODE;
        NodeEntry& n = e.eu.ne;
        n.nodenum = toUnsigned(w.next());
        n.childnum = toUnsigned(w.next());
        n.parentnum = toUnsigned(w.next());
        n.level = toUnsigned(w.next());
        n.docind = static_cast<int>(toLong(w.next()));
        w.next(n.title);
        return true;
    }
    if (type[0] == 'D') {
        e.entryType = QXDT_ENTRY_DOC;
        w.next(e.eu.de.comment);
        w.next(e.eu.de.fname);
        return true;
    }
    return false;
}

bool parseSrch(const UzLine& line, UzSearchEntry& e) {
    Words w(line.text);
    if (!w.next(e.database)) return true;
    w.next(e.filename);
    e.offset = toUnsigned(w.next());
    w.next(e.context);
    w.next(e.hexContext);
    return true;
}

bool parsePuSrch(const UzLine& line, UzPuSrchEntry& e) {
    Words w(line.text);
    if (!w.next(e.database)) return true;
    w.next(e.filename);
    w.next(e.extension);
    for (std::string& field : e.puLine) {
        if (!w.next(field)) break;
    }
    return true;
}

bool parseMetaSearch(const UzLine& line, UzMetaSearchEntry& e) {
    Words w(line.text);
    if (!w.next(e.database)) return true;
    w.next(e.ID);
    w.next(e.comment);
    e.ctime = static_cast<time_t>(toLong(w.next()));
    w.next(e.systemPath);
    e.size = toUnsigned(w.next());
    w.next(e.LibState);
    return true;
}

// The entries of a list word: its quotes removed when it begins with '"',
// then split as the daemon splits words.
std::vector<std::string> listEntries(std::string_view list) {
    std::string inner(list);
    if (!inner.empty() && inner.front() == '"') {
        char* cursor = inner.data();
        const char* word = getNextToken(&cursor);
        inner = word ? word : "";
    }
    std::vector<std::string> entries;
    char* cursor = inner.data();
    while (const char* word = getNextToken(&cursor)) entries.emplace_back(word);
    return entries;
}

// Reads the reply into r up to its final line. A reply cut short
// disconnects, so that its rest is never read as the next reply.
template <class Apply>
void readReply(UzSession& s, UzResponse& r, time_t wait, Apply apply) {
    for (;;) {
        const int n = s.getPeerCommand(wait);
        const UzLine line = n < 0 ? UzLine{} : s.classifyLine(n);
        const SearchLineStep step = apply(r, line);
        if (step == SearchLineStep::kMore) continue;
        if (step == SearchLineStep::kFailed) s.disconnect();
        return;
    }
}

// The response of a command whose line went out; when none can be made the
// reply is left unread, so the session disconnects.
std::unique_ptr<UzResponse> responseFor(UzSession& s, ResponseType type, Msg noMemory) {
    auto r = allocResponse(type);
    if (!r) {
        s.setError(msgFormat(noMemory.index, noMemory.tag));
        s.disconnect();
    }
    return r;
}

// QXSRCH lines are read with the search flag set, so that a wait running
// out gives kSearchTimedOut; the flag never outlives the operation.
class SearchReadScope {
public:
    explicit SearchReadScope(UzSession& s) : s_(s) {}
    ~SearchReadScope() { s_.searchRead = false; }
    SearchReadScope(const SearchReadScope&) = delete;
    SearchReadScope& operator=(const SearchReadScope&) = delete;

private:
    UzSession& s_;
};

}  // namespace

bool isFilteringBitmap(std::optional<std::string_view> bitmap) {
    if (!bitmap || *bitmap == "null") return false;
    int bars = 0;
    for (const char c : *bitmap) {
        if (c == '|' && ++bars == kBitmapWordsMax) return false;
        if (c != '0' && std::isxdigit(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

std::vector<QxSearchStep> planQxSearch(std::string_view libraries, std::optional<std::string_view> bitmaps,
                                       int count) {
    const std::vector<std::string> libs = listEntries(libraries);
    const std::vector<std::string> maps = bitmaps ? listEntries(*bitmaps) : std::vector<std::string>{};
    std::vector<QxSearchStep> steps;
    for (size_t i = 0; i < libs.size(); ++i) {
        if (i > 0 && ((count > 0 && static_cast<int>(i) >= count) || (bitmaps && i >= maps.size()))) break;
        QxSearchStep step;
        step.library = libs[i];
        if (i < maps.size()) step.bitmap = maps[i];
        step.filters = isFilteringBitmap(step.bitmap);
        steps.push_back(std::move(step));
    }
    return steps;
}

std::vector<UzArg> qxsrchArgs(std::string_view pattern, const QxSearchStep& step, std::string_view index,
                              std::string_view maxHits) {
    std::vector<UzArg> args{
        {pattern, UzArgKind::kPattern}, {step.library, UzArgKind::kLibrary}, {index, UzArgKind::kFreeText}};
    if (step.filters && step.bitmap) {
        args.push_back({"0", UzArgKind::kRaw});
        args.push_back({*step.bitmap, UzArgKind::kFreeText});
    } else {
        args.push_back({maxHits, UzArgKind::kRaw});
    }
    return args;
}

std::vector<UzArg> pusrchArgs(std::string_view library, std::string_view members,
                              std::span<const std::string_view> fields) {
    constexpr size_t kPuFieldsSent = 8;
    std::vector<UzArg> args{{library, UzArgKind::kLibrary}, {members, UzArgKind::kFreeText}};
    for (size_t i = 0; i < fields.size() && i < kPuFieldsSent; ++i)
        args.push_back({fields[i], UzArgKind::kField});
    return args;
}

bool productIdAbsent(std::optional<std::string_view> productId) {
    if (!productId || *productId == "(null)") return true;
    return std::strtol(std::string(*productId).c_str(), nullptr, 10) == 1;
}

std::vector<UzArg> msrchArgs(std::string_view pattern, std::optional<std::string_view> productId) {
    std::vector<UzArg> args{{pattern, UzArgKind::kPattern}};
    if (!productIdAbsent(productId)) args.push_back({*productId, UzArgKind::kFreeText});
    return args;
}

std::vector<UzArg> mpsrchArgs(std::string_view name, std::string_view prodid, std::string_view from,
                              std::string_view to, std::string_view system,
                              std::optional<std::string_view> productId) {
    std::vector<UzArg> args{{name, UzArgKind::kFreeText},
                            {prodid, UzArgKind::kFreeText},
                            {from, UzArgKind::kFreeText},
                            {to, UzArgKind::kFreeText},
                            {system, UzArgKind::kFreeText}};
    if (!productIdAbsent(productId)) args.push_back({*productId, UzArgKind::kFreeText});
    return args;
}

SearchLineStep applyQxSearchLine(UzResponse& r, const UzLine& line, std::string_view index,
                                 std::string_view servname) {
    return applyLine<UzQxSearchEntry>(r, line, kQxMessages, [&](const UzLine& l, UzQxSearchEntry& e) {
        e.servname = servname;
        return parseQxSearch(l, e, index);
    });
}

SearchLineStep applyQxSgsLine(UzResponse& r, const UzLine& line) {
    return applyLine<UzQxSearchSgsEntry>(r, line, kQxMessages, parseQxSgs);
}

SearchLineStep applyQxdtLine(UzResponse& r, const UzLine& line) {
    return applyLine<UzQxdtEntry>(r, line, kQxdtMessages, parseQxdt);
}

SearchLineStep applySrchLine(UzResponse& r, const UzLine& line) {
    return applyLine<UzSearchEntry>(r, line, kSrchMessages, parseSrch);
}

SearchLineStep applyPuSrchLine(UzResponse& r, const UzLine& line) {
    return applyLine<UzPuSrchEntry>(r, line, kPuSrchMessages, parsePuSrch);
}

SearchLineStep applyMetaSearchLine(UzResponse& r, const UzLine& line) {
    return applyLine<UzMetaSearchEntry>(r, line, kMsrchMessages, parseMetaSearch);
}

std::unique_ptr<UzResponse> UzSession::qxsrch(std::string_view pattern, std::string_view libraries,
                                              std::string_view index, int maxHits,
                                              std::optional<std::string_view> bitmaps, int count) {
    const SearchReadScope scope(*this);
    const std::string maxHitsWord = std::to_string(maxHits);
    const std::string servname = getServerAddr();
    auto r = allocResponse(RT_QXSRCH);
    if (!r) {
        setError(msgFormat(kQxMessages.noMemory.index, kQxMessages.noMemory.tag));
        return nullptr;
    }
    for (const QxSearchStep& step : planQxSearch(libraries, bitmaps, count)) {
        if (step.filters && isLibFiltered) *isLibFiltered = 1;
        if (!sendCommand("QXSRCH", qxsrchArgs(pattern, step, index, maxHitsWord))) return nullptr;
        SearchLineStep done = SearchLineStep::kMore;
        while (done == SearchLineStep::kMore) {
            searchRead = true;
            const int n = getPeerCommand(uzWaits().qxsrch.count());
            if (n == kSearchTimedOut) {
                r->srchtimedout = 1;
                done = fail(*r, kQxMessages.noLine);
                break;
            }
            done = applyQxSearchLine(*r, n < 0 ? UzLine{} : classifyLine(n), index, servname);
        }
        if (done == SearchLineStep::kFailed) disconnect();
        if (done != SearchLineStep::kEnd) break;
    }
    return r;
}

std::unique_ptr<UzResponse> UzSession::qxsrchsgs(std::string_view pattern, std::string_view library,
                                                 std::string_view index, int maxHits) {
    const std::string hits = std::to_string(maxHits);
    if (!sendCommand("QXSRCHSGS", {{pattern, UzArgKind::kPattern},
                                   {library, UzArgKind::kLibrary},
                                   {index, UzArgKind::kFreeText},
                                   {hits, UzArgKind::kRaw}}))
        return nullptr;
    auto r = responseFor(*this, RT_QXSRCHSGS, kQxMessages.noMemory);
    if (r) readReply(*this, *r, uzWaits().qxsrch.count(), applyQxSgsLine);
    return r;
}

std::unique_ptr<UzResponse> UzSession::qxdt(std::string_view pattern, std::string_view library,
                                            std::string_view member) {
    if (!sendCommand(
            "QXDT",
            {{pattern, UzArgKind::kRaw}, {library, UzArgKind::kLibrary}, {member, UzArgKind::kFreeText}}))
        return nullptr;
    auto r = responseFor(*this, RT_QXDT, kQxdtMessages.noMemory);
    if (r) readReply(*this, *r, uzWaits().qxsrch.count(), applyQxdtLine);
    return r;
}

std::unique_ptr<UzResponse> UzSession::srch(std::string_view pattern, std::string_view library,
                                            std::string_view members, int chkTags, std::string_view tokens) {
    const std::string tags = std::to_string(chkTags);
    if (!sendCommand("SRCH", {{pattern, UzArgKind::kPattern},
                              {library, UzArgKind::kLibrary},
                              {members, UzArgKind::kFreeText},
                              {tags, UzArgKind::kRaw},
                              {tokens, UzArgKind::kFreeText}}))
        return nullptr;
    auto r = responseFor(*this, RT_SRCH, kSrchMessages.noMemory);
    if (r) readReply(*this, *r, uzWaits().srch.count(), applySrchLine);
    return r;
}

std::unique_ptr<UzResponse> UzSession::pusrch(std::string_view library, std::string_view members,
                                              std::span<const std::string_view> fields) {
    if (!sendCommand("PUSRCH", pusrchArgs(library, members, fields))) return nullptr;
    auto r = responseFor(*this, RT_PUSRCH, kPuSrchMessages.noMemory);
    if (r) readReply(*this, *r, uzWaits().pusrch.count(), applyPuSrchLine);
    return r;
}

std::unique_ptr<UzResponse> UzSession::msrch(std::string_view pattern,
                                             std::optional<std::string_view> productId) {
    return handleMsrchCommand("MSRCH", msrchArgs(pattern, productId));
}

std::unique_ptr<UzResponse> UzSession::mpsrch(std::string_view name, std::string_view prodid,
                                              std::string_view from, std::string_view to,
                                              std::string_view system,
                                              std::optional<std::string_view> productId) {
    return handleMsrchCommand("MPSRCH", mpsrchArgs(name, prodid, from, to, system, productId));
}

std::unique_ptr<UzResponse> UzSession::handleMsrchCommand(std::string_view word,
                                                          std::span<const UzArg> args) {
    if (!sendCommand(word, args)) return nullptr;
    auto r = responseFor(*this, RT_MSRCH, kMsrchMessages.noMemory);
    // 0: the session's commandTimeout.
    if (r) readReply(*this, *r, 0, applyMetaSearchLine);
    return r;
}

}  // namespace ruva
