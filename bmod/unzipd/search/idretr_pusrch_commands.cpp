// IDRETR sends the section around an element id of HTML members; PUSRCH
// scans members of packed fixed-column records and lists the records whose
// fields match.
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/search/member_search.h"
#include "bmod/unzipd/search/pattern_search.h"
#include "bmod/unzipd/search/search_commands.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/fulltext_helpers.h"
#include "common/log_levels.h"
#include "common/patterns.h"
#include "common/text.h"
#include "common/text_clean.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kIdretrBuffer = 1048576;
constexpr size_t kPusrchBuffer = 262144;
constexpr int kPuLineMax = 192;
constexpr int kPuFields = 8;
constexpr size_t kPuFieldMax = 16;
constexpr size_t kPuExtension = 117;

using Step = MemberStep;

struct IdretrRequest {
    Search* search = nullptr;
    const char* filepat = "";
    int dita = 0;
    bool byNode = false;
    bool refreshed = false;  // one refresh per command
};

// The section of the extracted member, written with its size.
Step sendSection(NetworkServer* ns, IdretrRequest& rq, ZipStructure* zs, const CentralHeader* ch, Unzip* uz) {
    // The extracted text is not NUL-ended; the string copy is.
    std::string text(reinterpret_cast<const char*>(uz->buf), uz->bufwritten);
    size_t start = memberBodyStart(text);
    std::string_view body(text.data() + start, text.size() - start);
    uint32_t hit = rq.search->idretrive(body.data(), body.size(), rq.dita);
    if (hit >= kSearchNoPattern) return Step::kNext;
    std::string section;
    userdoc(section, body, hit, rq.dita);
    if (section.empty()) return Step::kNext;
    if (!ns->reply->flush() || fdUDprintf(ns->newtcpfd, section.size(), zs->zipBasename, ch->fname, section) < 0)
        return Step::kEnded;
    return Step::kNext;
}

Step idretrLibrary(NetworkServer* ns, IdretrRequest& rq, ZipStructure* zs, Unzip* uz) {
    for (CentralHeader* ch = zs->findCentralHeader(rq.filepat, nullptr); ch;
         ch = rq.byNode ? zs->findCentralHeader(rq.filepat, ch) : nullptr) {
        if (uz->unzip(zs, ch, -1, -1)) return sendSection(ns, rq, zs, ch, uz);
        Step s = memberUnzipFailed(ns, &rq.refreshed, rq.byNode, zs, ch, "search", "IDRETR executed.");
        if (s != Step::kNext) return s;
    }
    return Step::kNext;
}

// ---- PUSRCH ----

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

void storeField(NetworkServer* ns, std::string_view text, int column) {
    size_t n = text.size() < kPuFieldMax ? text.size() : kPuFieldMax;
    std::memcpy(ns->tokBuf[ns->tokCnt], text.data(), n);
    ns->tokBuf[ns->tokCnt][n] = '\0';
    ns->tokOffs[ns->tokCnt] = column;
    ++ns->tokCnt;
}

}  // namespace

int scanPuLine(NetworkServer* ns, const char* line) {
    std::string_view l(line);
    ns->tokCnt = 0;
    ns->resToken[0] = '\0';
    ns->resTokOffs = -1;
    if (l.size() < 120 || !std::isalpha(static_cast<unsigned char>(l[0]))) return 0;
    for (size_t i = kPuExtension; i < kPuExtension + 3; ++i)
        if (isBlank(l[i])) return 0;
    std::memcpy(ns->extension, l.data() + kPuExtension, 3);
    ns->extension[3] = '\0';
    size_t pos = 0;
    while (ns->tokCnt < kPuFields && pos < l.size()) {
        if (isBlank(l[pos])) {
            ++pos;
            continue;
        }
        if (l[pos] == '/' && (ns->tokCnt == 1 || pos + 1 >= l.size() || isBlank(l[pos + 1]))) {
            storeField(ns, ns->resToken, ns->resTokOffs >= 0 ? ns->resTokOffs : static_cast<int>(pos));
            ++pos;
            if (pos < l.size() && l[pos] == '-' && ns->tokCnt < kPuFields) {
                while (pos < l.size() && l[pos] == '-') ++pos;
                storeField(ns, "", static_cast<int>(pos));
            }
            continue;
        }
        if (!isAlnum(l[pos])) {
            storeField(ns, "", static_cast<int>(pos));
            ++pos;
            continue;
        }
        size_t s = pos;
        while (pos < l.size() && isAlnum(l[pos])) ++pos;
        std::string_view run = l.substr(s, pos - s);
        int col = static_cast<int>(s);
        switch (ns->tokCnt) {
        case 1:
            if (s == kPuExtension) {
                // A short record: only the first field.
                for (int i = 1; i < kPuFields; ++i) ns->tokBuf[i][0] = '\0';
                ns->tokCnt = kPuFields;
                return 1;
            }
            if (pos >= l.size() || l[pos] != '/') {
                size_t n = run.size() < kPuFieldMax ? run.size() : kPuFieldMax;
                std::memcpy(ns->resToken, run.data(), n);
                ns->resToken[n] = '\0';
                ns->resTokOffs = col;
                continue;
            }
            break;
        case 2:
            if (run.size() > 5 && std::isdigit(static_cast<unsigned char>(run.back()))) {
                size_t letters = 0;
                while (letters < run.size() && std::isalpha(static_cast<unsigned char>(run[letters]))) ++letters;
                storeField(ns, run.substr(0, letters), col);
                storeField(ns, run.substr(letters), col + static_cast<int>(letters));
                continue;
            }
            break;
        case 3:
        case 4:
            if (!std::isdigit(static_cast<unsigned char>(run[0]))) return 0;
            break;
        case 5:
            if (run[0] == 'R' && col > ns->tokOffs[4] + 7) {
                storeField(ns, "", ns->tokOffs[4] + static_cast<int>(std::strlen(ns->tokBuf[4])));
                if (ns->tokCnt >= kPuFields) continue;
            }
            break;
        default:
            break;
        }
        storeField(ns, run, col);
    }
    return ns->tokCnt == kPuFields ? 1 : 0;
}

namespace {

struct PuRequest {
    const char* values[kPuFields] = {};
    bool patterns = false;
    unsigned long libraries = 0, members = 0, records = 0;
    bool refreshed = false;
};

bool recordMatches(const NetworkServer* ns, const PuRequest& rq) {
    for (int i = 0; i < kPuFields; ++i) {
        const char* v = rq.values[i];
        if (v == nullptr || *v == '\0') continue;
        if (rq.patterns ? !matchPattern(v, ns->tokBuf[i], 1) : strcasecmp(v, ns->tokBuf[i]) != 0) return false;
    }
    return true;
}

// The packed lines of the extracted member, each NUL-ended but the last.
bool scanMember(NetworkServer* ns, PuRequest& rq, ZipStructure* zs, const CentralHeader* ch, Unzip* uz) {
    const char* data = reinterpret_cast<const char*>(uz->buf);
    size_t size = uz->bufwritten;
    char expanded[kPuLineMax];
    std::string packed;
    for (size_t pos = 0; pos < size;) {
        const void* nul = std::memchr(data + pos, '\0', size - pos);
        size_t end = nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : size;
        packed.assign(data + pos, end - pos);
        pos = end + 1;
        if (!unpackLine(expanded, packed.c_str(), kPuLineMax)) break;
        if (!scanPuLine(ns, expanded)) continue;
        ++rq.records;
        if (!recordMatches(ns, rq)) continue;
        if (!ns->reply->line(kReplyData, kReplyEntry,
                             "\"%s\" \"%s\" %s \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" \"%s\" ",
                             zs->zipBasename, ReplyWriter::plainField(ch->fname).c_str(), ns->extension,
                             ns->tokBuf[0], ns->tokBuf[1], ns->tokBuf[2], ns->tokBuf[3], ns->tokBuf[4],
                             ns->tokBuf[5], ns->tokBuf[6], ns->tokBuf[7]))
            return false;
    }
    return true;
}

std::string puFinal(const PuRequest& rq) {
    char text[160];
    std::snprintf(text, sizeof text, "PUSRCH executed. Databases, files and lines inspected: %lu %lu %lu",
                  rq.libraries, rq.members, rq.records);
    return text;
}

Step puWalk(NetworkServer* ns, PuRequest& rq, ZipList* zl, const char* libraries, const char* filepat, Unzip* uz) {
    rq.libraries = rq.members = rq.records = 0;
    for (ZipStructure* zs = zl->findZipStructure(libraries, nullptr); zs; zs = zl->findZipStructure(libraries, zs)) {
        ++rq.libraries;
        for (CentralHeader* ch = zs->findCentralHeader(filepat, nullptr); ch; ch = zs->findCentralHeader(filepat, ch)) {
            if (!uz->unzip(zs, ch, -1, -1)) {
                Step s = memberUnzipFailed(ns, &rq.refreshed, false, zs, ch, "pusrch", puFinal(rq));
                if (s != Step::kNext) return s;
                continue;
            }
            ++rq.members;
            if (!scanMember(ns, rq, zs, ch, uz)) return Step::kEnded;
        }
    }
    return Step::kNext;
}

}  // namespace

int handleIDRETRCommand(NetworkServer* ns, char* args) {
    const char* pattern = getNextToken(&args);
    const char* libraries = getNextToken(&args);
    const char* filepat = getNextToken(&args);
    const char* mode = getNextToken(&args);
    if (mode == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in IDRETR command. Try HELP IDRETR");
        return replyResult(ns);
    }
    Search search(kSearchHtml);
    if (*pattern != '\0') search.setPattern(pattern, std::strlen(pattern));
    IdretrRequest rq;
    rq.search = &search;
    rq.filepat = filepat;
    rq.dita = strcasecmp(mode, "DITA") == 0 ? 1 : 0;
    ZipList* zl = sessionCatalogue(ns);
    ns->reply->line(kReplyData, kReplyHeader, "Size Database Filename Context");
    LibrarySelection sel;
    if (!selectLibraries(ns, libraries, &sel)) return replyResult(ns);
    if (zl == nullptr || !zl->unzip || !zl->unzip->allocUnzipBuffer(kIdretrBuffer, 1)) {
        ns->reply->line(kReplyOk, kReplyHeader, "IDRETR executed.");
        return replyResult(ns);
    }
    Unzip* uz = zl->unzip.get();
    Step step = Step::kNext;
    if (sel.byNode) {
        rq.byNode = true;
        if (folderWithoutLibraries(ns, sel, '\'')) return replyResult(ns);
        if (isRmdUpdtFile(ns, sel.libraries.front())) return replyResult(ns);
        for (ZipStructure* zs : sel.libraries)
            if ((step = idretrLibrary(ns, rq, zs, uz)) != Step::kNext) break;
    } else {
        do {
            step = Step::kNext;
            for (ZipStructure* zs = zl->findZipStructure(libraries, nullptr); zs;
                 zs = zl->findZipStructure(libraries, zs)) {
                if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
                if ((step = idretrLibrary(ns, rq, zs, uz)) != Step::kNext) break;
            }
        } while (step == Step::kRestart);
    }
    if (step != Step::kEnded) ns->reply->line(kReplyOk, kReplyHeader, "IDRETR executed.");
    return replyResult(ns);
}

int handlePuSrchCommand(NetworkServer* ns, char* args) {
    const char* libraries = getNextToken(&args);
    const char* filepat = getNextToken(&args);
    if (filepat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in PUSRCH command. Try HELP PUSRCH");
        return replyResult(ns);
    }
    PuRequest rq;
    for (int i = 0; i < kPuFields; ++i) {
        rq.values[i] = getNextToken(&args);
        if (isSearchPattern(rq.values[i])) rq.patterns = true;
    }
    ZipList* zl = sessionCatalogue(ns);
    ns->reply->line(kReplyData, kReplyHeader, "Database Index Ext Block Prefix Caa Ind1 Ind2 Marshal Rev Adj");
    Step step = Step::kNext;
    // Without a catalogue nothing is inspected.
    if (zl != nullptr && zl->unzip && zl->unzip->allocUnzipBuffer(kPusrchBuffer, 1)) do {
            step = puWalk(ns, rq, zl, libraries, filepat, zl->unzip.get());
        } while (step == Step::kRestart);
    if (step != Step::kEnded) ns->reply->line(kReplyOk, kReplyHeader, "%s", puFinal(rq).c_str());
    return replyResult(ns);
}

}  // namespace ruva
