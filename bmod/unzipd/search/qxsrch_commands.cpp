// QXSRCH, QXFSRCH and QXSRCHSGS. One walk serves all three; where their
// rules differ, the command's row of kRules says how.
#include "bmod/unzipd/search/qxsrch_commands.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/search/html_plain_text.h"
#include "bmod/unzipd/search/ruvx.h"
#include "bmod/unzipd/search/search_args.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/fulltext_helpers.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kPatternCheckMax = 254;  // characters of the pattern checked for illegal terms
constexpr size_t kMaxBitmapWords = 32;
constexpr size_t kMaxCollected = 101;     // QXFSRCH multi mode: hit lines at most
constexpr int kMaxSuggestions = 100;
constexpr size_t kPhraseBuffer = 0x100000;
constexpr const char* kFulltextIndex = "fulltext.qxx";
constexpr const char* kRootFallback = "-.kvo";

enum class Kind { kSrch, kFSrch, kSgs, kSgsCollection };
enum class Hidden { kPerFolder, kAlwaysSkip, kNone };

// What differs between the commands.
struct Rules {
    const char* name;
    Hidden hidden;
    const char* header;
};
constexpr Rules kRules[] = {
    {"QXSRCH", Hidden::kPerFolder, "Database Filename Hash DocType Score Tokens Comment"},
    {"QXFSRCH", Hidden::kAlwaysSkip, "Database Filename Hash DocType Score Tokens Comment"},
    {"QXSRCHSGS", Hidden::kNone, "Database Suggestions"},
};

// The QXFSRCH state of one command.
struct FsState {
    unsigned hashIdCount = 1;
    unsigned completedHashId = 0;
    bool isGotRes = false;
    std::vector<std::string> collFullSrch;  // multi mode: names printed
    bool multi = false;
};

struct Query {
    NetworkServer* ns;
    ZipList* zl;
    Unzip* uz;
    Kind kind;
    const char* pattern;
    const char* index;
    int maxHits = 0;
    const char* bitmap = nullptr;
    int isPhrase = 0;
    const char* phrase = nullptr;
    Unzip* phraseUz = nullptr;
    FsState* fs = nullptr;
    SuggestionCollection* col = nullptr;
};

// kNext: go on; kEndNode: this node's walk ends (310 written); kRestart:
// the parent refreshed the catalogue; kStop: the reply has ended or a
// write failed.
enum class Step { kNext, kEndNode, kRestart, kStop };
enum class OnRefresh { kNextMember, kRestart, kNextLibrary };

bool stopped(const NetworkServer* ns) { return ns->reply->ended() || ns->reply->failed(); }

bool hiddenLibrary(const ZipStructure* zs) {
    if (zs->libID && std::strncmp(zs->libID, "//", 2) == 0) return true;
    auto* node = static_cast<const MlZipStruct*>(zs->MlSub);
    return node && strncasecmp(node->descr, "__", 2) == 0;
}

const char* folderDescr(const ZipStructure* zs) {
    auto* node = static_cast<const MlZipStruct*>(zs->MlSub);
    return node ? node->descr : "";
}

bool allDigits(const char* s) {
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

// Pieces between commas, empty ones kept: items and bitmaps pair by place.
std::vector<std::string> splitKeepEmpty(const std::string& text, char delimiter) {
    std::vector<std::string> out;
    size_t from = 0;
    for (;;) {
        size_t at = text.find(delimiter, from);
        out.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return out;
        from = at + 1;
    }
}

// "400 Illegal term" for a term "*", "?" or "!" among the first 254
// characters. true when the command may go on.
bool patternAccepted(NetworkServer* ns, const char* pattern) {
    std::string head(pattern, strnlen(pattern, kPatternCheckMax));
    char* cursor = head.data();
    for (char* t = getNextToken(&cursor); t; t = getNextToken(&cursor)) {
        if (std::strcmp(t, "*") == 0 || std::strcmp(t, "?") == 0 || std::strcmp(t, "!") == 0) {
            ns->reply->line(kReplySyntax, kReplyEntry, "Illegal term \"%s\" in pattern.", t);
            return false;
        }
    }
    return true;
}

bool noHitLine(const Query& q, const ZipStructure* zs, const Ruvx& rx, bool byNode) {
    if (q.maxHits > 0 && rx.numberOfHits() > q.maxHits)
        return q.ns->reply->line(kReplyTooManyHits, kReplyEntry, "\"%s\" \"%s\" %u %u",
                                 ReplyWriter::plainField(folderDescr(zs)).c_str(), zs->zipBasename,
                                 static_cast<unsigned>(zs->hashID), static_cast<unsigned>(rx.numberOfHits()));
    if (!byNode) return true;
    return q.ns->reply->line(kReplyNoHits, kReplyEntry, "\"%s\" \"%s\" %u",
                             ReplyWriter::plainField(folderDescr(zs)).c_str(), zs->zipBasename,
                             static_cast<unsigned>(zs->hashID));
}

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// QXFSRCH hit lines: the document number of each member name. In multi mode
// names are collected, a name met in an earlier item is skipped, and the
// lines stop at 101. A name that gives no number is skipped.
bool presentRuvxFScore(const Query& q, const RuvxSearchList* hits) {
    if (!hits) return true;
    FsState& fs = *q.fs;
    for (const RuvxSearchResult& hit : *hits) {
        if (fs.multi && fs.collFullSrch.size() >= kMaxCollected) break;
        if (!hit.filename) continue;
        std::optional<std::string> docno = filenameToDocnoFS(hit.filename->c_str());
        if (!docno) continue;
        if (fs.multi && fs.completedHashId > 1) {
            bool seen = false;
            for (const std::string& n : fs.collFullSrch) seen = seen || sameName(n, *hit.filename);
            if (seen) continue;
        }
        if (!q.ns->reply->line(kReplyData, kReplyEntry, "\"%s\"", ReplyWriter::plainField(*docno).c_str()))
            return false;
        if (fs.multi) fs.collFullSrch.push_back(*hit.filename);
    }
    return true;
}

bool searchIndex(const Query& q, ZipStructure* zs, Ruvx& rx, bool byNode) {
    NetworkServer* ns = q.ns;
    switch (q.kind) {
    case Kind::kSrch: {
        const RuvxSearchList* hits = rx.search(q.pattern, q.maxHits);
        if (!hits && !noHitLine(q, zs, rx, byNode)) return false;
        return ns->presentRuvxScore(zs, hits, q.bitmap);
    }
    case Kind::kFSrch: {
        // The phrase test reads members of this library with its own
        // Unzip: the catalogue's buffer holds the index being searched.
        PhraseTest test = [&](const std::string& name) {
            return getRawHtml(*q.phraseUz, zs, name.c_str(), q.phrase,
                              [ns](ZipStructure* lib, const CentralHeader*) {
                                  std::string path = lib->zipName;
                                  ns->reply->flush();
                                  ns->orderParentUpdate(path.c_str());
                              });
        };
        const RuvxSearchList* hits = rx.searchFS(q.pattern, q.maxHits, q.bitmap, zs, q.isPhrase, test);
        FsState& fs = *q.fs;
        if (byNode && !hits && fs.completedHashId == fs.hashIdCount && !fs.isGotRes) {
            if (!noHitLine(q, zs, rx, true)) return false;
        } else if (byNode || hits) {
            fs.isGotRes = true;
        }
        if (!byNode && !hits && q.maxHits > 0 && rx.numberOfHits() > q.maxHits && !noHitLine(q, zs, rx, false))
            return false;
        return presentRuvxFScore(q, hits);
    }
    case Kind::kSgs: {
        std::string list = rx.searchSugs(q.pattern, q.maxHits).value_or("");
        return ns->reply->line(kReplyData, kReplyEntry, byNode ? "\"%s\" \"%s\"" : "\"%s\" \"%s\" ", zs->zipBasename,
                               ReplyWriter::plainField(list).c_str());
    }
    case Kind::kSgsCollection:
        rx.searchSugsCol(q.pattern, q.maxHits, *q.col);
        return true;
    }
    return true;
}

// Every member of zs that matches the index name, unpacked and searched.
Step searchLibrary(const Query& q, ZipStructure* zs, bool byNode, OnRefresh onRefresh) {
    NetworkServer* ns = q.ns;
    for (CentralHeader* ch = zs->findCentralHeader(q.index, nullptr); ch; ch = zs->findCentralHeader(q.index, ch)) {
        if (!q.uz->unzip(zs, ch, -1, -1)) {
            std::string path = zs->zipName, name = ch->fname;
            ns->reply->flush();
            if (ns->orderParentUpdate(path.c_str())) {
                if (onRefresh == OnRefresh::kRestart) return Step::kRestart;
                if (onRefresh == OnRefresh::kNextLibrary) return Step::kNext;
                continue;
            }
            logError(kLogWarning, "Unzip of %s %s failed during search", path.c_str(), name.c_str());
            if (!isRmdUpdtFile(ns, zs))
                ns->reply->line(kReplyUnpackFailed, kReplyHeader, "Failed to unzip %s %s",
                                ReplyWriter::plainField(path).c_str(), ReplyWriter::plainField(name).c_str());
            return stopped(ns) ? Step::kStop : Step::kEndNode;
        }
        // The index lives in the Unzip buffer: the object must be gone
        // before the next extraction refills it.
        std::unique_ptr<Ruvx> rx = q.uz->buf ? newRuvx(q.uz->buf, q.uz->bufwritten, nullptr) : nullptr;
        if (!rx) {
            logError(kLogWarning, "Failed to create RUVX object from %s %s", zs->zipName, ch->fname);
            if (!ns->reply->line(kReplyUnpackFailed, kReplyHeader, "Failed to create RUVX object from %s %s",
                                 ReplyWriter::plainField(zs->zipName).c_str(),
                                 ReplyWriter::plainField(ch->fname).c_str()))
                return Step::kStop;
            continue;
        }
        if (!searchIndex(q, zs, *rx, byNode) || stopped(ns)) return Step::kStop;
    }
    return Step::kNext;
}

// A node by ID and, for a folder, its whole subtree depth first. In a
// collection the refusals write nothing and the item just counts as failed.
Step searchNode(const Query& q, unsigned id, bool showHidden) {
    NetworkServer* ns = q.ns;
    const bool quiet = q.kind == Kind::kSgsCollection;
    const MlHashTable* slot = q.zl && id <= kMaxNodeId ? &q.zl->block()->MlZipHash[id] : nullptr;
    if (!slot || !slot->MlNode) {
        if (quiet) return Step::kNext;
        ns->reply->line(kReplyInvalid, kReplyEntry, "Invalid ID %u", id);
        return Step::kStop;
    }
    if (slot->type != ML_NODE_TYPE_SUB && slot->type != ML_NODE_TYPE_ZS) {
        if (quiet) return Step::kNext;
        ns->reply->line(kReplyInvalid, kReplyEntry, "Unknown node type");
        return Step::kStop;
    }
    MlZipStruct* folder = slot->type == ML_NODE_TYPE_SUB ? static_cast<MlZipStruct*>(slot->MlNode) : nullptr;
    ZipStructure* first = folder ? folder->zs : static_cast<ZipStructure*>(slot->MlNode);
    // Only the node's first library is compared with the file on disk.
    if (first && isRmdUpdtFile(ns, first)) return Step::kStop;
    if (!folder) {
        Step s = searchLibrary(q, first, true, OnRefresh::kNextMember);
        return s == Step::kStop ? s : Step::kNext;
    }
    for (ZipStructure* zs = first; zs; zs = zs->MlNext) {
        if (!showHidden && hiddenLibrary(zs)) continue;
        Step s = searchLibrary(q, zs, true, OnRefresh::kNextMember);
        if (s == Step::kStop) return s;
        if (s == Step::kEndNode) return Step::kNext;
    }
    for (MlZipStruct* child = folder->child; child; child = child->next)
        if (searchNode(q, static_cast<unsigned>(child->ID), showHidden) == Step::kStop) return Step::kStop;
    return Step::kNext;
}

// Libraries whose names match libPattern, in catalogue order. A refreshed
// catalogue restarts the walk once; "-.kvo" falls back to the root when no
// library was visited.
Step searchPattern(const Query& q, const char* libPattern, bool skipHidden) {
    bool found = false, restarted = false;
    ZipList* zl = q.zl;
    for (ZipStructure* zs = zl ? zl->findZipStructure(libPattern, nullptr) : nullptr; zs;) {
        if (skipHidden && hiddenLibrary(zs)) {
            zs = zl->findZipStructure(libPattern, zs);
            continue;
        }
        found = true;
        Step s = searchLibrary(q, zs, false, restarted ? OnRefresh::kNextLibrary : OnRefresh::kRestart);
        if (s == Step::kStop || s == Step::kEndNode) return s == Step::kStop ? s : Step::kNext;
        if (s == Step::kRestart) {
            restarted = true;
            zs = zl->findZipStructure(libPattern, nullptr);
            continue;
        }
        zs = zl->findZipStructure(libPattern, zs);
    }
    if (!found && std::strcmp(libPattern, kRootFallback) == 0) return searchNode(q, 0, false);
    return Step::kNext;
}

// One selection; a non-digit one turns the rest of the command to patterns.
Step searchSelection(const Query& q, const char* selection, bool* patternMode, const Rules& rules) {
    if (!*patternMode && !allDigits(selection)) *patternMode = true;
    if (*patternMode) return searchPattern(q, selection, rules.hidden != Hidden::kNone);
    unsigned id = readNodeId(selection);
    bool showHidden = rules.hidden == Hidden::kNone;
    if (rules.hidden == Hidden::kPerFolder && id <= kMaxNodeId && q.zl) {
        const MlHashTable& slot = q.zl->block()->MlZipHash[id];
        showHidden = slot.MlNode && slot.type == ML_NODE_TYPE_SUB &&
                     strncasecmp(static_cast<MlZipStruct*>(slot.MlNode)->descr, "__", 2) == 0;
    }
    return searchNode(q, id, showHidden);
}

// Blank-separated selections of ids, each searched in turn.
Step searchSelections(const Query& q, const char* ids, bool* patternMode, const Rules& rules) {
    std::string copy = ids;
    char* cursor = copy.data();
    for (char* sel = getNextToken(&cursor); sel; sel = getNextToken(&cursor)) {
        if (!*sel) continue;
        if (searchSelection(q, sel, patternMode, rules) == Step::kStop) return Step::kStop;
    }
    return Step::kNext;
}

int finish(NetworkServer* ns, Unzip* uz, const char* command) {
    if (uz) uz->freeUnzipBuffer();
    if (!stopped(ns)) ns->reply->line(kReplyOk, kReplyHeader, "%s executed.", command);
    return replyResult(ns);
}

int syntaxError(NetworkServer* ns, const char* command) {
    ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in %s command. Try HELP %s", command, command);
    return replyResult(ns);
}

Unzip* catalogueUnzip(ZipList* zl) { return zl ? zl->unzip.get() : nullptr; }

}  // namespace

int filterSearchResult(const char* libraryBitmap, const char* docBitmap) {
    std::vector<std::string> lib = str_split(libraryBitmap ? libraryBitmap : "", '|');
    std::vector<std::string> doc = str_split(docBitmap ? docBitmap : "", '|');
    size_t n = lib.size() < kMaxBitmapWords ? lib.size() : kMaxBitmapWords;
    for (size_t i = 0; i < n; ++i) {
        unsigned long long l = std::strtoull(lib[i].c_str(), nullptr, 16);
        if (l == 0) continue;
        unsigned long long d = i < doc.size() ? std::strtoull(doc[i].c_str(), nullptr, 16) : 0;
        if (!doc.empty() && (l & d) != 0) continue;
        return 0;
    }
    return 1;
}

int handleQxSrchCommand(NetworkServer* ns, char* args) {
    const Rules& rules = kRules[0];
    const char* pattern = getNextToken(&args);
    const char* ids = getNextToken(&args);
    const char* index = getNextToken(&args);
    const char* maxHits = getNextToken(&args);
    const char* bitmap = getNextToken(&args);
    if (!pattern || !ids || !index) return syntaxError(ns, rules.name);
    if (!patternAccepted(ns, pattern)) return replyResult(ns);
    ZipList* zl = sessionCatalogue(ns);
    Query q{ns, zl, catalogueUnzip(zl), Kind::kSrch, pattern, index};
    q.maxHits = maxHits ? readHitCount(maxHits) : 0;
    q.bitmap = bitmap;
    if (!ns->reply->line(kReplyData, kReplyHeader, "%s", rules.header)) return replyResult(ns);
    bool patternMode = false;
    if (q.uz) searchSelections(q, ids, &patternMode, rules);
    return finish(ns, q.uz, rules.name);
}

int handleQxSrchFSCommand(NetworkServer* ns, char* args) {
    const Rules& rules = kRules[1];
    const char* pattern = getNextToken(&args);
    const char* ids = getNextToken(&args);
    const char* maxHits = getNextToken(&args);
    const char* isPhrase = getNextToken(&args);
    int phraseMode = isPhrase ? std::atoi(isPhrase) : 0;
    char* phrase = phraseMode == 1 ? getNextToken(&args) : nullptr;
    const char* bitmaps = getNextToken(&args);
    if (!pattern || !ids || !maxHits || !isPhrase || (phraseMode == 1 && !phrase)) return syntaxError(ns, rules.name);
    if (!patternAccepted(ns, pattern)) return replyResult(ns);
    if (phrase)
        for (char* p = phrase; *p; ++p)
            if (*p == '\x11') *p = ' ';
    ZipList* zl = sessionCatalogue(ns);
    std::unique_ptr<Unzip> phraseUz;
    if (phraseMode == 1 && !(phraseUz = newUnzip(kPhraseBuffer))) {
        ns->reply->line(kReplyNoMemory, kReplyEntry, "No memory");
        return replyResult(ns);
    }
    FsState fs;
    Query q{ns, zl, catalogueUnzip(zl), Kind::kFSrch, pattern, kFulltextIndex};
    q.maxHits = readHitCount(maxHits);
    q.isPhrase = phraseMode;
    q.phrase = phrase;
    q.phraseUz = phraseUz.get();
    q.fs = &fs;
    bool patternMode = false;
    if (std::strchr(ids, ',') == nullptr) {
        fs.completedHashId = 1;
        q.bitmap = bitmaps;
        if (!ns->reply->line(kReplyData, kReplyHeader, "%s", rules.header)) return replyResult(ns);
        if (q.uz) searchSelections(q, ids, &patternMode, rules);
        return finish(ns, q.uz, rules.name);
    }
    fs.multi = true;
    std::vector<std::string> items = splitKeepEmpty(ids, ',');
    std::vector<std::string> maps = bitmaps ? splitKeepEmpty(bitmaps, ',') : std::vector<std::string>{};
    fs.hashIdCount = static_cast<unsigned>(items.size());
    for (size_t i = 0; i < items.size() && q.uz; ++i) {
        ++fs.completedHashId;
        if (fs.collFullSrch.size() >= kMaxCollected) break;
        if (!ns->reply->line(kReplyData, kReplyHeader, "%s", rules.header)) break;
        bool noMap = i >= maps.size() || maps[i].empty() || strcasecmp(maps[i].c_str(), "NULL") == 0;
        q.bitmap = noMap ? nullptr : maps[i].c_str();
        Step s = items[i].empty() ? Step::kNext : searchSelection(q, items[i].c_str(), &patternMode, rules);
        q.uz->freeUnzipBuffer();
        if (s == Step::kStop) break;
    }
    return finish(ns, q.uz, rules.name);
}

int handleQxSrchSgsCommand(NetworkServer* ns, char* args) {
    const Rules& rules = kRules[2];
    const char* pattern = getNextToken(&args);
    const char* ids = getNextToken(&args);
    const char* index = getNextToken(&args);
    const char* maxHitsText = getNextToken(&args);
    if (!pattern || !ids || !index || !maxHitsText) return syntaxError(ns, rules.name);
    if (strcasecmp(index, kFulltextIndex) != 0) {
        ns->reply->line(kReplyInvalid, kReplyEntry, "Suggestions are not supported for %s file",
                        ReplyWriter::plainField(index).c_str());
        return replyResult(ns);
    }
    int maxHits = readHitCount(maxHitsText);
    if (maxHits < 1) {
        ns->reply->line(kReplyInvalid, kReplyEntry, "Suggestions are not provided for input value %d", maxHits);
        return replyResult(ns);
    }
    if (maxHits > kMaxSuggestions) maxHits = kMaxSuggestions;
    if (!patternAccepted(ns, pattern)) return replyResult(ns);
    ZipList* zl = sessionCatalogue(ns);
    Query q{ns, zl, catalogueUnzip(zl), Kind::kSgs, pattern, index};
    q.maxHits = maxHits;
    SuggestionCollection col;
    q.col = &col;
    if (!ns->reply->line(kReplyData, kReplyHeader, "%s", rules.header)) return replyResult(ns);
    bool patternMode = false, collection = false;
    std::string copy = ids;
    char* cursor = copy.data();
    for (char* sel = getNextToken(&cursor); sel && q.uz; sel = getNextToken(&cursor)) {
        if (!*sel) continue;
        if (std::strchr(sel, ',')) collection = true;
        if (!collection) {
            if (searchSelection(q, sel, &patternMode, rules) == Step::kStop) break;
            continue;
        }
        const std::string marker = std::string(",") + pattern + ",";
        col = SuggestionCollection{};
        q.kind = Kind::kSgsCollection;
        for (const std::string& item : splitKeepEmpty(sel, ',')) {
            if (item.empty()) continue;
            if (col.count > maxHits && strcasestr(col.list.c_str(), marker.c_str())) break;
            if (searchNode(q, readNodeId(item.c_str()), true) == Step::kStop) break;
        }
        if (stopped(ns) ||
            !ns->reply->line(kReplyData, kReplyEntry, "\"\" \"%s\"", ReplyWriter::plainField(col.list).c_str()))
            break;
    }
    return finish(ns, q.uz, rules.name);
}

}  // namespace ruva
