// GET sends whole library files, RETR unpacks members straight to the
// client, each after its "300-Length" framing line.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/server/generated_pages.h"
#include "bmod/unzipd/zip/unzip.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/comment_tokens.h"
#include "common/docmodel/docno.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr size_t kGetBlock = 65536;
constexpr const char* kSubMainPage = "kvo_ml_sub_main_page";

// Sends one library after its framing line. false when the session must end
// or the reply has ended.
bool sendLibrary(NetworkServer* ns, ZipStructure* zs, unsigned char* block) {
    int fd = openCheckedLibrary(ns, zs);
    if (fd < 0) return false;
    std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { ::close(*f); });
    if (!ns->reply->line(kReplyData, kReplyHeader, "Length %lu \"%s\"", zs->fileSize, zs->zipBasename)) return false;
    unsigned long left = zs->fileSize;
    while (left > 0) {
        size_t want = left < kGetBlock ? left : kGetBlock;
        ssize_t n = ::read(fd, block, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // After the framing line only the connection's end can tell the
            // client: any text would be read as library bytes.
            logError(kLogErr, "Read failed, %s", n < 0 ? std::strerror(errno) : "file ended early");
            ns->flags |= kNsQuit;
            return false;
        }
        if (!ns->reply->raw(block, static_cast<size_t>(n))) {
            logError(kLogErr, "Write to client failed, %s", std::strerror(errno));
            return false;
        }
        left -= static_cast<unsigned long>(n);
    }
    return true;
}

}  // namespace

int handleGetCommand(NetworkServer* ns, char* args) {
    const char* dbpat = getNextToken(&args);
    if (dbpat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyEntry, "Syntax error in GET command. Try HELP GET");
        return replyResult(ns);
    }
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kGetBlock]);
    if (!block) {
        ns->reply->line(kReplyFailed, kReplyHeader, "Out of memory in ruvadaemon");
        return replyResult(ns);
    }
    LibrarySelection sel;
    if (!selectLibraries(ns, dbpat, &sel)) return replyResult(ns);
    if (sel.byNode) {
        if (folderWithoutLibraries(ns, sel, '\'')) return replyResult(ns);
        if (isRmdUpdtFile(ns, sel.libraries.front())) return replyResult(ns);
        for (ZipStructure* zs : sel.libraries)
            if (!sendLibrary(ns, zs, block.get())) return (ns->flags & kNsQuit) ? 0 : replyResult(ns);
    } else {
        ZipList* zl = sessionCatalogue(ns);
        for (ZipStructure* zs = zl ? zl->findZipStructure(dbpat, nullptr) : nullptr; zs;
             zs = zl->findZipStructure(dbpat, zs)) {
            if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
            if (!sendLibrary(ns, zs, block.get())) return (ns->flags & kNsQuit) ? 0 : replyResult(ns);
        }
    }
    ns->reply->line(kReplyOk, kReplyHeader, "GET executed.");
    return replyResult(ns);
}

namespace {

enum class RetrStep { kNext, kEnded, kRestart, kStop, kCloseSession };

struct RetrRequest {
    const char* dbpat;
    const char* filepat;  // as the client sent it
    std::string pattern;  // ".fdp" turned into ".pdf" for a wait page
    bool waitPage = false;
    bool byNode = false;
    unsigned sent = 0;
};

// The text the log wrote last: the reason an extraction failed.
const char* lastLogText(const Unzip* uz) {
    if (UZD != nullptr && UZD->error && *UZD->error->getLastError()) return UZD->error->getLastError();
    return *uz->getError() ? uz->getError() : "unknown error";
}

// Title, sub-title, number and revision of the wait page: by node number
// from the HTML sibling of a "._." name, else from the PDF member's own
// comment and the requested name; by pattern the page's defaults.
WaitPageText waitPageText(ZipStructure* zs, const RetrRequest& rq, const CentralHeader* pdf) {
    WaitPageText t;
    if (!rq.byNode) return t;
    const char* comment = pdf->comment;
    std::string numbered = rq.filepat;
    size_t sib = rq.pattern.find("._.");
    if (sib != std::string::npos) {
        numbered = rq.pattern.substr(0, sib) + ".html";
        const CentralHeader* html = zs->findCentralHeader(numbered.c_str(), nullptr);
        comment = html ? html->comment : nullptr;
    }
    if (comment != nullptr) {
        std::string subtitle;
        if (auto title = extractDocTitlefrmZipComment(comment, subtitle)) t.title = *title;
        t.subtitle = subtitle;
    }
    filenameToDocno(numbered.c_str(), &t.docno, &t.rev, nullptr);
    return t;
}

RetrStep retrWaitPage(NetworkServer* ns, ZipStructure* zs, RetrRequest& rq, const CentralHeader* pdf) {
    int fd = openCheckedLibrary(ns, zs);
    if (fd < 0) return RetrStep::kEnded;
    LocalHeader* lh = zs->readLocalHeader(pdf, fd);
    zs->closeZipFile(fd);
    if (lh == nullptr) {
        ns->reply->line(kReplyFailed, kReplyHeader, "Failed to read Local Header of file \"%s\" in database \"%s\"",
                        rq.filepat, rq.dbpat);
        return RetrStep::kEnded;
    }
    unsigned long crc = lh->crc;
    zs->freeLocalHeader(lh);
    if (!sendPDFWrapper(ns, pdf, zs->zipBasename, waitPageText(zs, rq, pdf))) return RetrStep::kEnded;
    ++rq.sent;
    ns->reply->line(kReplyData, kReplyHeader, "CRC 0x%lx", crc);
    return RetrStep::kStop;
}

// One member: framing line, the bytes, the CRC line.
RetrStep retrMember(NetworkServer* ns, ZipStructure* zs, const CentralHeader* ch, LocalHeader* lh, int fd,
                    RetrRequest& rq) {
    Unzip* uz = sessionCatalogue(ns)->unzip.get();
    // A member the extractor refuses before its first byte gets no framing.
    if (!uz->checkMember(zs, ch, lh, fd)) {
        ns->reply->line(kReplyFailed, kReplyHeader, "Failed, %s", uz->getError());
        return RetrStep::kEnded;
    }
    unsigned long size = static_cast<unsigned long>(lh->ucSize);
    if (!ns->reply->line(kReplyData, kReplyHeader, "Length %lu \"%s\" \"%s\" \"%d\"", size, zs->zipBasename,
                         ReplyWriter::plainField(ch->fname).c_str(), ch->folder) ||
        !ns->reply->flush())
        return RetrStep::kEnded;
    ++rq.sent;
    uz->fdwritten = 0;
    int ok = uz->unzip(zs, ch, fd, ns->newtcpfd);
    if (uz->fdwritten < size) {
        // The client waits for n bytes: only the connection's end can tell
        // it that they will not come.
        logError(kLogErr, "RETR of %s in %s sent %lu of %lu bytes", ch->fname, zs->zipName, uz->fdwritten, size);
        return RetrStep::kCloseSession;
    }
    if (ok) {
        ns->reply->line(kReplyData, kReplyHeader, "CRC 0x%lx", lh->crc);
        return RetrStep::kNext;
    }
    // All bytes went but the count or CRC check failed: the client reads
    // this line in the CRC's place and the next member follows.
    ns->reply->line(kReplyFailed, kReplyHeader, "Failed, %s", lastLogText(uz));
    ns->reply->beginReply();
    return RetrStep::kNext;
}

RetrStep retrLibrary(NetworkServer* ns, ZipStructure* zs, RetrRequest& rq, bool mayRetry) {
    if (rq.waitPage) {
        const CentralHeader* pdf = zs->findCentralHeader(rq.pattern.c_str(), nullptr);
        if (pdf != nullptr) return retrWaitPage(ns, zs, rq, pdf);
    }
    int fd = -1;
    RetrStep step = RetrStep::kNext;
    for (CentralHeader* ch = zs->findCentralHeader(rq.pattern.c_str(), nullptr); ch && step == RetrStep::kNext;
         ch = zs->findCentralHeader(rq.pattern.c_str(), ch)) {
        if (fd < 0 && (fd = openCheckedLibrary(ns, zs)) < 0) return RetrStep::kEnded;
        LocalHeader* lh = zs->readLocalHeader(ch, fd);
        if (lh == nullptr) {
            zs->closeZipFile(fd);
            fd = -1;
            std::string path = zs->zipName;
            // One refresh per library; by node number the next member follows,
            // by pattern the command starts again.
            if (mayRetry && ns->orderParentUpdate(path.c_str())) {
                if (!rq.byNode) return RetrStep::kRestart;
                mayRetry = false;
                continue;
            }
            if (!isRmdUpdtFile(ns, zs))
                ns->reply->line(kReplyFailed, kReplyHeader,
                                "Failed to read Local Header of file \"%s\" in database \"%s\"", rq.filepat, rq.dbpat);
            return RetrStep::kEnded;
        }
        step = retrMember(ns, zs, ch, lh, fd, rq);
        zs->freeLocalHeader(lh);
    }
    zs->closeZipFile(fd);
    return step;
}

int retrEnd(NetworkServer* ns, RetrStep step, const RetrRequest& rq, unsigned checked) {
    if (step == RetrStep::kCloseSession) return 0;
    if (step != RetrStep::kEnded) {
        if (rq.sent > 0)
            ns->reply->line(kReplyOk, kReplyHeader, "RETR executed.");
        else
            ns->reply->line(kReplySyntax, kReplyHeader, "File \"%s\" not found in database \"%s\", %u database(s) checked",
                            rq.filepat, rq.dbpat, checked);
    }
    return replyResult(ns);
}

}  // namespace

int handleRetrCommand(NetworkServer* ns, char* args) {
    RetrRequest rq;
    rq.dbpat = getNextToken(&args);
    rq.filepat = getNextToken(&args);
    if (rq.dbpat == nullptr || rq.filepat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyHeader, "Syntax error in RETR command. Try HELP RETR");
        return replyResult(ns);
    }
    rq.pattern = rq.filepat;
    size_t fdp = rq.pattern.find(".fdp");
    if (fdp != std::string::npos) {
        rq.pattern.replace(fdp, 4, ".pdf");
        rq.waitPage = true;
    }
    LibrarySelection sel;
    if (!selectLibraries(ns, rq.dbpat, &sel)) return replyResult(ns);
    ZipList* zl = sessionCatalogue(ns);
    unsigned checked = 0;
    RetrStep step = RetrStep::kNext;
    if (sel.byNode) {
        rq.byNode = true;
        if (std::strcmp(rq.filepat, kSubMainPage) == 0) return PrintDefaultSubMain(ns);
        if (folderWithoutLibraries(ns, sel, '\'')) return replyResult(ns);
        if (isRmdUpdtFile(ns, sel.libraries.front())) return replyResult(ns);
        // Retried at most once per library: a refresh that does not mend
        // the header ends the reply.
        for (ZipStructure* zs : sel.libraries) {
            ++checked;
            step = retrLibrary(ns, zs, rq, true);
            if (step != RetrStep::kNext) break;
        }
        return retrEnd(ns, step, rq, checked);
    }
    // By pattern the command restarts once after a refresh.
    for (int round = 0; round < 2; ++round) {
        checked = 0;
        step = RetrStep::kNext;
        for (ZipStructure* zs = zl ? zl->findZipStructure(rq.dbpat, nullptr) : nullptr; zs;
             zs = zl->findZipStructure(rq.dbpat, zs)) {
            if (isRmdUpdtFile(ns, zs)) return replyResult(ns);
            ++checked;
            step = retrLibrary(ns, zs, rq, round == 0);
            if (step != RetrStep::kNext) break;
        }
        if (step != RetrStep::kRestart) break;
    }
    if (step == RetrStep::kRestart) step = RetrStep::kNext;
    return retrEnd(ns, step, rq, checked);
}

}  // namespace ruva
