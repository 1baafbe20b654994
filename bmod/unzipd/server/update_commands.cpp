// UPDFILE, RMFILE and USER. Library changes run under the update lock and
// end with a refresh order to the parent.
//
// An upload is received in full before the lock is taken, into a private
// folder beside the library whose names no include pattern matches, so no
// scan ever offers or catalogues a half-received file, and no client name
// ever becomes a path.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/user_profile.h"
#include "bmod/unzipd/daemon/zupd_mutex.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/server/command_handlers.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "bmod/unzipd/zip/zip_update.h"
#include "common/fd_io.h"
#include "common/tokens.h"

namespace ruva {
namespace {

constexpr int kLockWait = 15;               // seconds for the update lock
constexpr int kUploadReadWait = 15;         // seconds per read of upload data
constexpr int kUploadTotalWait = 300;       // seconds for the whole upload
constexpr long long kUploadMax = 0x7FFFFFFF;
constexpr size_t kUploadPiece = 65536;
constexpr char kUploadEnd[] = "200-UPDFILE END\n";
constexpr size_t kUploadEndSize = sizeof kUploadEnd - 1;

constexpr size_t kRestTraceMax = 200;  // longer rest data is not traced at all
// Data bytes a trace line shows, so that "] cnt=" and the count survive the
// log's cut.
constexpr size_t kDataTraceMax = kLogObjectTextMax - (sizeof "data=[] cnt=-2147483648" - 1);

// Upload bytes as log text: blank '@', LF '$', NUL '#', any other byte
// outside printable ASCII '.', so no byte can end or garble a log line.
std::string traceText(const char* data, size_t n) {
    std::string out(data, n);
    for (char& c : out) {
        switch (c) {
            case ' ':
                c = '@';
                break;
            case '\n':
                c = '$';
                break;
            case '\0':
                c = '#';
                break;
            default:
                if (c < '!' || c > '~') c = '.';
        }
    }
    return out;
}

long long nowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The bytes after an UPDFILE line: the session's rest data first, then
// the socket, each read waiting at most 15 s and all of them 300 s.
class UploadReader {
public:
    explicit UploadReader(NetworkServer* ns) : ns_(ns), deadline_(nowMs() + kUploadTotalWait * 1000LL) {
        const std::string& rest = ns_->restData;
        if (!(ns_->flags & kNsVerbose) || rest.empty()) return;
        if (rest.size() > kRestTraceMax)
            logError(kLogDebug, "Annotations: Too much data to trace");
        else
            logError(kLogDebug, "restdata=[%s] restcnt=%d", traceText(rest.data(), rest.size()).c_str(),
                     static_cast<int>(rest.size()));
    }

    // Up to n bytes; 0 at the end of input, a failed read or a deadline.
    size_t read(char* buf, size_t n) {
        // Taken bytes leave the rest data: what the end line leaves there
        // is the next command's.
        if (!ns_->restData.empty()) {
            size_t take = std::min(n, ns_->restData.size());
            std::memcpy(buf, ns_->restData.data(), take);
            ns_->restData.erase(0, take);
            return take;
        }
        for (;;) {
            long long left = deadline_ - nowMs();
            if (left <= 0) return 0;
            struct pollfd p = {ns_->newtcpfd, POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kUploadReadWait * 1000LL)));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return 0;
            ssize_t got = ::recv(ns_->newtcpfd, buf, n, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return 0;
            if (ns_->flags & kNsVerbose)
                logError(kLogDebug, "data=[%s] cnt=%d",
                         traceText(buf, std::min(static_cast<size_t>(got), kDataTraceMax)).c_str(),
                         static_cast<int>(got));
            // The LF of a CR LF whose CR ended the command line.
            if (ns_->skipLeadingLf) {
                ns_->skipLeadingLf = false;
                if (buf[0] == '\n') {
                    std::memmove(buf, buf + 1, static_cast<size_t>(got - 1));
                    if (--got == 0) continue;
                }
            }
            return static_cast<size_t>(got);
        }
    }

    // Exactly n bytes into out (discarded when out is -1). false when they
    // did not all come or a write to out failed.
    bool copy(unsigned long long n, int out) {
        std::unique_ptr<char[]> piece(new (std::nothrow) char[kUploadPiece]);
        if (!piece) return false;
        while (n > 0) {
            size_t got = read(piece.get(), static_cast<size_t>(std::min<unsigned long long>(n, kUploadPiece)));
            if (got == 0) return false;
            if (out >= 0 && !writeAll(out, piece.get(), got)) return false;
            n -= got;
        }
        return true;
    }

    // The 16-byte end line, never a byte more.
    bool endLine() {
        char end[kUploadEndSize];
        size_t have = 0;
        while (have < kUploadEndSize) {
            size_t got = read(end + have, kUploadEndSize - have);
            if (got == 0) return false;
            have += got;
        }
        return std::memcmp(end, kUploadEnd, kUploadEndSize) == 0;
    }

private:
    NetworkServer* ns_;
    long long deadline_;
};

// Letters, digits and "-_+." only, and not "." or "..": a name that can be
// neither a path nor a pattern.
bool isPlainName(const char* name) {
    if (*name == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (const char* p = name; *p; ++p)
        if (!std::isalnum(static_cast<unsigned char>(*p)) && !std::strchr("-_+.", *p)) return false;
    return true;
}

// Strict decimal: digits only, at most kUploadMax; else -1.
long long uploadLength(const char* text) {
    long long v = 0;
    if (*text == '\0') return -1;
    for (const char* p = text; *p; ++p) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return -1;
        v = v * 10 + (*p - '0');
        if (v > kUploadMax) return -1;
    }
    return v;
}

std::string annotationFolder(const NetworkServer* ns) {
    if (ns->uzd == nullptr || !ns->uzd->config) return "";
    const ConfigEntry* e = ns->uzd->config->findEntry("AnnotationDb");
    const ConfigValue* v = e ? e->first() : nullptr;
    std::string dir = v ? v->s : "";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

bool scannerIncludes(const ZipList* zl, const std::string& path) {
    const FilesysScanner* fs = zl ? zl->filesysScanner.get() : nullptr;
    return fs && fs->includeFile(path.c_str(), fs->includePatterns.get(), fs->excludePatterns.get());
}

// Where an upload goes, or the refusal to answer once the data are drained.
struct UploadTarget {
    std::string library;  // full path
    bool isNew = false;
    bool fold = false;
    int refusalCode = 0;  // 0: none
    std::string refusal;
};

void refuse(UploadTarget* t, int code, std::string text) {
    t->refusalCode = code;
    t->refusal = std::move(text);
}

UploadTarget uploadTarget(NetworkServer* ns, const char* dbpat, const char* member) {
    UploadTarget t;
    ZipList* zl = sessionCatalogue(ns);
    ZipStructure* zs = nullptr;
    if (isNodeNumber(dbpat)) {
        unsigned long id = std::strtoul(dbpat, nullptr, 10);
        const MlHashTable* slot = zl && id < static_cast<unsigned long>(kMlHashSize) ? &zl->block()->MlZipHash[id] : nullptr;
        if (slot == nullptr || slot->MlNode == nullptr)
            refuse(&t, kReplyInvalid, "Invalid ID " + std::to_string(id > 0xFFFFFFFFul ? 0xFFFFFFFFul : id));
        else if (slot->type == ML_NODE_TYPE_SUB)
            refuse(&t, kReplyFailed, "ZIP file update not allowed by server");
        else if (slot->type != ML_NODE_TYPE_ZS)
            refuse(&t, kReplyUnknownNode, "Unknown node type");
        else
            zs = static_cast<ZipStructure*>(slot->MlNode);
        if (t.refusalCode) return t;
    } else if (zl != nullptr) {
        zs = zl->findZipStructure(dbpat, nullptr);
    }
    if (zs != nullptr) {
        t.library = zs->zipName;
        t.fold = zs->flags & kZipFoldNames;
        if (!(zs->flags & kZipWritableDir)) {
            logError(kLogErr, "ZIP database not in a writable directory '%s'", zs->zipName);
            refuse(&t, kReplyFailed, "ZIP database may not be modified '" + t.library + "'");
        }
    } else {
        std::string folder = annotationFolder(ns);
        if (folder.empty()) {
            logError(kLogErr, "Cannot update ZIP file, no WritableNonRecursiveDir defined");
            refuse(&t, kReplyFailed, "ZIP file update not allowed by server");
            return t;
        }
        t.library = folder + "/" + dbpat;
        t.isNew = true;
        t.fold = zl && (zl->flags & kZipFoldNames);
        // The raw argument becomes a path: only a plain library name may.
        if (!isPlainName(dbpat) || !scannerIncludes(zl, t.library)) {
            logError(kLogErr, "UPDFILE: new library name refused '%s'", dbpat);
            refuse(&t, kReplyFailed, "ZIP file update not allowed by server");
        }
    }
    if (!t.refusalCode && !isPlainName(member)) {
        logError(kLogErr, "Could not open temporary file, %s '%s'", "member name refused", member);
        refuse(&t, kReplyFailed, "Could not open temporary file");
    }
    return t;
}

// A private folder beside the library holding the file "upload"; both
// names must be ones the scanner never takes.
struct UploadFolder {
    std::string dir, file;
    ~UploadFolder() {
        if (!file.empty()) ::unlink(file.c_str());
        if (!dir.empty()) ::rmdir(dir.c_str());
    }
};

int openUpload(const ZipList* zl, const std::string& library, UploadFolder* up) {
    std::string folder = library.substr(0, library.rfind('/'));
    std::string templ = folder + "/._upd.XXXXXX";
    if (::mkdtemp(templ.data()) == nullptr) {
        logError(kLogErr, "Could not open temporary file, %s '%s'", std::strerror(errno), templ.c_str());
        return -1;
    }
    up->dir = templ;
    std::string file = templ + "/upload";
    if (scannerIncludes(zl, templ) || scannerIncludes(zl, file)) {
        logError(kLogErr, "Could not open temporary file, %s '%s'", "name taken by the include patterns", file.c_str());
        return -1;
    }
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        logError(kLogErr, "Could not open temporary file, %s '%s'", std::strerror(errno), file.c_str());
        return -1;
    }
    up->file = file;
    return fd;
}

// Lock, add, answer, refresh, unlock: the steps after a whole upload.
int storeUpload(NetworkServer* ns, const UploadTarget& t, const UploadFolder& up, const char* member) {
    ns->reply->flush();
    auto mutex = newZupdMutex(ns->uzd ? ns->uzd->config.get() : nullptr, 0);
    if (!mutex) {
        logError(kLogErr, "Cannot update ZIP, failed to create mutex");
        ns->reply->line(kReplyFailed, kReplyHeader, "Cannot update ZIP, failed to create mutex");
        return replyResult(ns);
    }
    if (mutex->lock(kLockWait) != 1) {
        logError(kLogErr, "Cannot update ZIP, failed to aquire mutex lock");
        ns->reply->line(kReplyBusy, kReplyHeader, "Cannot update ZIP, function locked by other user");
        return replyResult(ns);
    }
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(up.file.c_str(), 0666 & ~mask);
    auto zip = newZip(0);
    if (!zip) {
        ns->reply->line(kReplyFailed, kReplyHeader, "System error, failed to create zip object");
    } else if (zip->putFile(ZIP_ACTION_ADD, t.library.c_str(), up.file.c_str(), member, t.fold)) {
        ns->reply->line(kReplyOk, kReplyHeader, "UPDFILE executed.");
        if (t.isNew) ::chmod(t.library.c_str(), 0666);
    } else {
        logError(kLogErr, "UPDFILE: Failure during Zip, %s", zip->getError());
        ns->reply->line(kReplyFailed, kReplyHeader, "Failed to add file to ZIP database");
    }
    int result = replyResult(ns);
    ns->orderParentUpdateUSR1();
    mutex->unlock();
    return result;
}

}  // namespace

int handleUpdFileCommand(NetworkServer* ns, char* args) {
    const char* dbpat = getNextToken(&args);
    const char* member = getNextToken(&args);
    const char* lengthText = getNextToken(&args);
    // Both refusals end the session: the data that follow cannot be framed.
    if (lengthText == nullptr) {
        ns->reply->line(kReplySyntax, kReplyHeader, "Syntax error in UPDFILE command. Try HELP UPDFILE");
        replyResult(ns);
        return 0;
    }
    long long length = uploadLength(lengthText);
    if (length <= 0) {
        logError(kLogErr, "File contains no data '%s'", member);
        ns->reply->line(kReplyFailed, kReplyHeader, "File contained no data '%s'", member);
        replyResult(ns);
        return 0;
    }
    UploadTarget t = uploadTarget(ns, dbpat, member);
    UploadFolder up;
    int fd = -1;
    if (!t.refusalCode && (fd = openUpload(sessionCatalogue(ns), t.library, &up)) < 0)
        refuse(&t, kReplyFailed, "Could not open temporary file");
    UploadReader in(ns);
    bool received = in.copy(static_cast<unsigned long long>(length), fd);
    if (fd >= 0 && ::close(fd) != 0) received = false;
    if (!received || !in.endLine()) {
        logError(kLogErr, "UPDFILE: Failed to read terminating command");
        ns->reply->line(kReplyFailed, kReplyHeader, "System error, failed to terminate UPDFILE");
        replyResult(ns);
        return 0;
    }
    if (t.refusalCode) {
        ns->reply->line(t.refusalCode, t.refusalCode == kReplyFailed ? kReplyHeader : kReplyEntry, "%s",
                        t.refusal.c_str());
        return replyResult(ns);
    }
    return storeUpload(ns, t, up, member);
}

int handleRmFileCommand(NetworkServer* ns, char* args) {
    const char* dbpat = getNextToken(&args);
    const char* filepat = getNextToken(&args);
    if (filepat == nullptr) {
        ns->reply->line(kReplySyntax, kReplyHeader, "Syntax error in RMFILE command. Try HELP RMFILE");
        return replyResult(ns);
    }
    ns->reply->flush();
    auto mutex = newZupdMutex(ns->uzd ? ns->uzd->config.get() : nullptr, 0);
    if (!mutex) {
        logError(kLogErr, "Cannot perform ZIP updates, failed to create semaphore");
        ns->reply->line(kReplyFailed, kReplyHeader, "Cannot perform ZIP updates, failed to create semaphore");
        return replyResult(ns);
    }
    if (mutex->lock(kLockWait) != 1) {
        logError(kLogErr, "Cannot perform ZIP updates, failed to lock semaphore");
        ns->reply->line(kReplyBusy, kReplyHeader, "Cannot perform ZIP updates, the update function is busy");
        return replyResult(ns);
    }
    ZipList* zl = sessionCatalogue(ns);
    ZipStructure* zs = zl ? zl->findZipStructure(dbpat, nullptr) : nullptr;
    if (zs == nullptr) {
        logError(kLogErr, "RMFILE: Database does not exist. Cannot remove '%s'", dbpat);
        ns->reply->line(kReplyFailed, kReplyHeader, "Cannot remove database, file does not exist '%s'", dbpat);
    } else if (!(zs->flags & kZipWritableDir)) {
        logError(kLogErr, "RMFILE: Database is not in a writable directory, cannot remove '%s'", zs->zipName);
        ns->reply->line(kReplyFailed, kReplyHeader, "Database is not in a writable directory, cannot remove '%s'",
                        zs->zipName);
    } else {
        auto zip = newZip(0);
        if (!zip) {
            ns->reply->line(kReplyFailed, kReplyHeader, "System error. Could not create zip object");
        } else {
            // A pattern, never options: "-h" deletes members named so.
            std::string path = zs->zipName;
            if (zip->deleteMembers(path.c_str(), filepat, zs->flags & kZipFoldNames)) {
                ns->reply->line(kReplyOk, kReplyHeader, "RMFILE executed.");
            } else {
                logError(kLogErr, "Zip Error in RMFILE, %s.", zip->getError());
                ns->reply->line(kReplyFailed, kReplyHeader, "Zip Error in RMFILE, %s", zip->getError());
            }
            int result = replyResult(ns);
            ns->orderParentUpdateUSR1();
            mutex->unlock();
            return result;
        }
    }
    mutex->unlock();
    return replyResult(ns);
}

int handleUserCommand(NetworkServer* ns, char* args) {
    getNextToken(&args);  // the user name: kept by no one
    const char* types = getNextToken(&args);
    const char* systems = getNextToken(&args);
    if (types == nullptr) {
        ns->reply->line(kReplyFailed, kReplyHeader, "LDAP support not compiled into this version");
        return replyResult(ns);
    }
    if (ns->userp) {
        ns->reply->line(kReplyFailed, kReplyHeader, "User profile already exists");
        return replyResult(ns);
    }
    ns->userp = newUserProfile();
    if (ns->userp) {
        ns->userp->setBLOBTypes(types);
        ns->userp->setSystems(systems);  // none given: all systems
    }
    ns->reply->line(kReplyOk, kReplyHeader, "User profile successfuly set");
    return replyResult(ns);
}

}  // namespace ruva
