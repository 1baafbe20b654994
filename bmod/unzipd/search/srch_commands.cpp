// SRCH and FSRCH: the text of chosen library members searched directly,
// one reply line per hit with a context, and FSRCH's phrase synopsis.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/search/html_plain_text.h"
#include "bmod/unzipd/search/member_search.h"
#include "bmod/unzipd/search/pattern_search.h"
#include "bmod/unzipd/search/search_commands.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/fulltext_helpers.h"
#include "common/hit_snippet.h"
#include "common/log_levels.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kSearchBuffer = 1048576;
constexpr size_t kTitleMax = 823;
constexpr size_t kSentenceLook = 160;
constexpr size_t kSynopsisMax = 200;

using Step = MemberStep;

struct SrchRequest {
    const char* word;  // SRCH or FSRCH
    bool fsrch = false;
    Search* search = nullptr;
    int chkTags = 0;
    const char* tokens = "";
    const char* members = "";
    bool byNode = false;
    bool refreshed = false;  // one refresh per command
};

// FSRCH's context: doubled blanks once, no blank after 0x11, no "&nbsp;",
// the tail from the last blank on as "...". Control bytes other than the
// title separator become blanks here, since the context goes out raw.
// hitStart is where the hit word begins in ctx: the tail is cut only at a
// blank after that word, so the context never loses the hit itself.
std::string compactContext(const std::string& ctx, size_t hitStart) {
    std::string out;
    size_t hitOut = std::string::npos;
    for (size_t i = 0; i < ctx.size(); ++i) {
        if (hitOut == std::string::npos && i >= hitStart) hitOut = out.size();
        char c = ctx[i];
        if (c != kTitleSeparator && static_cast<unsigned char>(c) < 0x20) c = ' ';
        if (ctx.compare(i, 6, "&nbsp;") == 0) {
            i += 5;
            continue;
        }
        if (c == ' ' && i + 1 < ctx.size() && ctx[i + 1] == ' ') continue;
        if (c == ' ' && !out.empty() && out.back() == kTitleSeparator) continue;
        out += c;
    }
    if (hitOut == std::string::npos) return out;
    size_t word = out.find_first_not_of(' ', hitOut);
    size_t wordEnd = word == std::string::npos ? word : out.find(' ', word);
    size_t blank = out.rfind(' ');
    if (wordEnd == std::string::npos || blank == std::string::npos || blank < wordEnd) return out;
    // The closing quote stays.
    bool quoted = out.size() > 1 && out.back() == '"';
    out.erase(blank);
    out += quoted ? "...\"" : "...";
    return out;
}

std::string hitContext(const SrchRequest& rq, std::string_view body, size_t hit) {
    SnippetState state;
    std::string ctx;
    if (rq.chkTags != kSearchPlain) {
        hexStr(ctx, body.substr(hit), 1, 0, state);
        return rq.fsrch ? compactContext(ctx, 1) : ctx;  // after the opening quote
    }
    size_t isTitle = hitpos(body.substr(hit));
    size_t count = rq.fsrch ? backStrFT(ctx, body, hit, isTitle, state) : backStr(ctx, body, hit, isTitle, state);
    size_t hitStart = ctx.size();
    std::string tail;
    hexStr(tail, body.substr(hit), 0, count, state);
    if (!tail.empty()) ctx.append(tail, 1, std::string::npos);
    return rq.fsrch ? compactContext(ctx, hitStart) : ctx;
}

// Searches the extracted member; a hit writes its line. false when the
// line could not be written.
bool searchMember(NetworkServer* ns, SrchRequest& rq, ZipStructure* zs, const CentralHeader* ch, Unzip* uz) {
    // The extracted text is not NUL-ended; the string copy is.
    std::string text(reinterpret_cast<const char*>(uz->buf), uz->bufwritten);
    size_t start = memberBodyStart(text);
    std::string_view body(text.data() + start, text.size() - start);
    uint32_t hit = rq.search->search(body.data(), body.size(), rq.chkTags, rq.tokens);
    if (hit >= kSearchNoPattern) return true;
    std::string ctx = hitContext(rq, body, hit);
    return ns->reply->line(kReplyData, kReplyEntry, "\"%s\" \"%s\" %lu %s", zs->zipBasename,
                           ReplyWriter::plainField(ch->fname).c_str(), static_cast<unsigned long>(start + hit),
                           ctx.c_str());
}

std::string finalLine(const SrchRequest& rq) { return std::string(rq.word) + " executed."; }

// By node: members in order until one extracts, that one searched.
Step searchLibraryByNode(NetworkServer* ns, SrchRequest& rq, ZipStructure* zs, Unzip* uz) {
    for (CentralHeader* ch = zs->findCentralHeader(rq.members, nullptr); ch;
         ch = zs->findCentralHeader(rq.members, ch)) {
        if (uz->unzip(zs, ch, -1, -1)) return searchMember(ns, rq, zs, ch, uz) ? Step::kNext : Step::kEnded;
        Step s = memberUnzipFailed(ns, &rq.refreshed, rq.byNode, zs, ch, "search", finalLine(rq));
        if (s != Step::kNext) return s;
    }
    return Step::kNext;
}

// By pattern: the first matching member of each library.
Step searchLibraryByPattern(NetworkServer* ns, SrchRequest& rq, ZipStructure* zs, Unzip* uz) {
    CentralHeader* ch = zs->findCentralHeader(rq.members, nullptr);
    if (ch == nullptr) return Step::kNext;
    if (!uz->unzip(zs, ch, -1, -1))
        return memberUnzipFailed(ns, &rq.refreshed, rq.byNode, zs, ch, "search", finalLine(rq));
    return searchMember(ns, rq, zs, ch, uz) ? Step::kNext : Step::kEnded;
}

int runSearch(NetworkServer* ns, SrchRequest& rq, const char* pattern, const char* libraries) {
    Search search(kSearchHtml);
    if (*pattern != '\0') search.setPattern(pattern, std::strlen(pattern));
    rq.search = &search;
    ZipList* zl = sessionCatalogue(ns);
    ns->reply->line(kReplyData, kReplyHeader, "Database Filename Offset Context");
    LibrarySelection sel;
    if (!selectLibraries(ns, libraries, &sel)) return replyResult(ns);
    if (zl == nullptr || !zl->unzip || !zl->unzip->allocUnzipBuffer(kSearchBuffer, 1)) {
        ns->reply->line(kReplyOk, kReplyHeader, "%s executed.", rq.word);
        return replyResult(ns);
    }
    Unzip* uz = zl->unzip.get();
    Step step = Step::kNext;
    if (sel.byNode) {
        rq.byNode = true;
        if (folderWithoutLibraries(ns, sel, '\'')) return replyResult(ns);
        for (ZipStructure* zs : sel.libraries)
            if ((step = searchLibraryByNode(ns, rq, zs, uz)) != Step::kNext) break;
    } else {
        do {
            step = Step::kNext;
            for (ZipStructure* zs = zl->findZipStructure(libraries, nullptr); zs;
                 zs = zl->findZipStructure(libraries, zs)) {
                if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
                if ((step = searchLibraryByPattern(ns, rq, zs, uz)) != Step::kNext) break;
            }
        } while (step == Step::kRestart);
    }
    if (step != Step::kEnded) ns->reply->line(kReplyOk, kReplyHeader, "%s executed.", rq.word);
    return replyResult(ns);
}

// ---- FSRCH phrase mode ----

std::string withoutQuotes(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != '"') out += c;
    return out;
}

// The chapter title, its separator and the synopsis around plain[hit].
std::string phraseSynopsis(const std::string& plain, const std::vector<PlainTextTitle>& titles, size_t hit) {
    std::string out;
    size_t titleEnd = 0;
    for (size_t i = 0; i < titles.size(); ++i) {
        size_t from = titles[i].start;
        size_t to = i + 1 < titles.size() ? titles[i + 1].start : plain.size();
        if (hit < from || hit >= to) continue;
        size_t end = titles[i].end == std::string::npos ? plain.size() : titles[i].end;
        if (end - from <= kTitleMax) {
            out = withoutQuotes(std::string_view(plain).substr(from, end - from));
            out += kTitleSeparator;
            titleEnd = end;
        }
        break;
    }
    size_t floor = hit > kSentenceLook ? hit - kSentenceLook : 0;
    if (floor < titleEnd) floor = titleEnd;
    size_t start = floor;
    // The text's start and the title's end count as sentence starts.
    bool atSentence = floor == 0 || floor == titleEnd;
    if (hit < floor) hit = floor;
    for (size_t p = hit; p >= floor + 2 && p > 0; --p) {
        if (plain[p - 2] == '.' && plain[p - 1] == ' ') {
            start = p;
            atSentence = true;
            break;
        }
    }
    while (start < plain.size() && plain[start] == ' ') ++start;
    std::string piece = plain.substr(start, kSynopsisMax);
    if (!atSentence) {
        size_t blank = piece.find(' ');
        piece.erase(0, blank == std::string::npos ? piece.size() : blank + 1);
    }
    size_t blank = piece.rfind(' ');
    if (blank != std::string::npos) piece.erase(blank);
    if (!atSentence) out += "...";
    out += withoutQuotes(piece);
    out += "...";
    for (char& c : out)
        if (c != kTitleSeparator && static_cast<unsigned char>(c) < 0x20) c = ' ';
    return out;
}

int phraseSearchContext(NetworkServer* ns, SrchRequest& rq, const char* libraries, std::string phrase) {
    if (!isNodeNumber(libraries)) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in FSRCH command. Try HELP FSRCH");
        return replyResult(ns);
    }
    LibrarySelection sel;
    if (!selectLibraries(ns, libraries, &sel)) return replyResult(ns);
    if (folderWithoutLibraries(ns, sel, '\'')) return replyResult(ns);
    // Clients send phrase blanks as 0x11.
    for (char& c : phrase)
        if (c == kTitleSeparator) c = ' ';
    ZipList* zl = sessionCatalogue(ns);
    Unzip* uz = zl && zl->unzip && zl->unzip->allocUnzipBuffer(kSearchBuffer, 1) ? zl->unzip.get() : nullptr;
    std::string text;
    ZipStructure* last = nullptr;
    for (ZipStructure* zs : sel.libraries) {
        if (uz == nullptr) break;
        for (CentralHeader* ch = zs->findCentralHeader(rq.members, nullptr); ch;
             ch = zs->findCentralHeader(rq.members, ch)) {
            if (uz->unzip(zs, ch, -1, -1)) {
                text.assign(reinterpret_cast<const char*>(uz->buf), uz->bufwritten);
                last = zs;
            } else if (!rq.refreshed) {
                rq.refreshed = true;
                ns->reply->flush();
                ns->orderParentUpdate(zs->zipName);
            }
        }
    }
    if (last != nullptr) {
        std::vector<PlainTextTitle> titles;
        std::string plain = htmlToPlainText(text, &titles);
        size_t stoppedAt = 0;
        size_t hit = findPhrase(plain, phrase, &stoppedAt);
        if (hit == std::string::npos) hit = stoppedAt;
        std::string synopsis = phraseSynopsis(plain, titles, hit);
        if (!ns->reply->line(kReplyData, kReplyEntry, "\"%s\" \"%s\" 1444 \"%s\"", last->zipBasename,
                             ReplyWriter::plainField(rq.members).c_str(), synopsis.c_str()))
            return replyResult(ns);
    }
    ns->reply->line(kReplyOk, kReplyHeader, "FSRCH executed.");
    return replyResult(ns);
}

}  // namespace

int handleSrchCommand(NetworkServer* ns, char* args) {
    const char* pattern = getNextToken(&args);
    const char* libraries = getNextToken(&args);
    const char* members = getNextToken(&args);
    const char* chkTags = getNextToken(&args);
    const char* tokens = getNextToken(&args);
    if (tokens == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in SRCH command. Try HELP SRCH");
        return replyResult(ns);
    }
    SrchRequest rq;
    rq.word = "SRCH";
    rq.chkTags = std::atoi(chkTags);
    rq.tokens = tokens;
    rq.members = members;
    return runSearch(ns, rq, pattern, libraries);
}

int handleFSrchCommand(NetworkServer* ns, char* args) {
    const char* pattern = getNextToken(&args);
    const char* libraries = getNextToken(&args);
    const char* members = getNextToken(&args);
    const char* isPhrase = getNextToken(&args);
    const char* chkTags = getNextToken(&args);
    const char* tokens = getNextToken(&args);
    if (tokens == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in FSRCH command. Try HELP FSRCH");
        return replyResult(ns);
    }
    SrchRequest rq;
    rq.word = "FSRCH";
    rq.fsrch = true;
    rq.chkTags = std::atoi(chkTags);
    rq.tokens = tokens;
    rq.members = members;
    int mode = std::atoi(isPhrase);
    if (mode == 2) return runSearch(ns, rq, pattern, libraries);
    if (mode == 1) return phraseSearchContext(ns, rq, libraries, pattern);
    ns->reply->line(kReplyOk, kReplyHeader, "FSRCH executed.");
    return replyResult(ns);
}

}  // namespace ruva
