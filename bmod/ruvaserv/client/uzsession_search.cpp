// The word-index, text, property and library searches.
#include "bmod/ruvaserv/client/uzsession_search.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr int kClientFailure = 500;

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

SearchLineStep fail(UzResponse& r, Msg m) {
    r.resultCode = kClientFailure;
    r.resultMessage = getMsgStr(m.index, m.tag);
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

}  // namespace

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

std::unique_ptr<UzResponse> UzSession::qxsrch(std::string_view, std::string_view, std::string_view, int,
                                              std::optional<std::string_view>, int) {
    return nullptr;  // not yet built
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
