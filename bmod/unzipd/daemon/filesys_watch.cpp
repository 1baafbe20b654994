// The watcher child: compares the catalogue with the file system and tells
// the parent what changed, as pipe lines (pipe mode) or as a request for a
// full rescan (poll mode, after the scanner died three times).
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/daemon_start.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/server/network_server.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/comment_tokens.h"
#include "int_interfaces/pipe_handler.h"

namespace ruva {
namespace {

constexpr int kStatusLinesMax = 128;
constexpr size_t kStatusLineMax = 1023;
constexpr int kStopWaitSteps = 50;  // of 100 ms: the scanner gets 5 s to end
constexpr int kAckRecount = 2;      // "Waiting for kill order" turns before SIGUSR2 is sent again

volatile sig_atomic_t killOrder = 0;
volatile sig_atomic_t parentAck = 0;

void onKillOrder(int) { killOrder = 1; }
void onParentAck(int) { parentAck = 1; }

void setDisposition(int sig, void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
}

void sleepMs(long ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    ::nanosleep(&ts, nullptr);  // a signal ends it early
}

// The child leaves the listening sockets to the parent and ends with it.
void childCommon(UzdMain* u, pid_t parent) {
    setDisposition(SIGSEGV, SIG_DFL);
    setDisposition(SIGBUS, SIG_DFL);
    setDisposition(SIGINT, SIG_DFL);
    setDisposition(SIGTERM, SIG_DFL);
    // A stop order that came before the line above met the parent's quit
    // handler, which only notes it: obey it now instead of running on until
    // the parent's SIGKILL.
    if (NetworkServer::quitRequested()) ::_exit(0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(0);
    NetworkServer* ns = u->networkServer.get();
    if (ns != nullptr) {
        if (ns->tcpfd >= 0) ::close(ns->tcpfd);
        if (ns->udpfd >= 0) ::close(ns->udpfd);
        ns->tcpfd = ns->udpfd = -1;
    }
    u->watchParent = parent;
    killOrder = 0;
    parentAck = 0;
}

bool parentGone(pid_t parent) { return ::getppid() != parent || ::kill(parent, 0) != 0; }

// Sleeps ms in steps; false when the parent went away meanwhile.
bool pauseSteps(const UzdMain* u, long ms) {
    for (long done = 0; done < ms && !killOrder; done += u->timings.stepMs) {
        sleepMs(u->timings.stepMs < ms - done ? u->timings.stepMs : ms - done);
        if (parentGone(u->watchParent)) return false;
    }
    return true;
}

bool statFile(const char* path, struct stat* st) { return ::stat(path, st) == 0; }

// A path that would break the line format is never reported; the scan's
// rule, so that what the catalogue holds can be reported.
bool reportable(const char* path) {
    if (isListablePath(path)) return true;
    logUnlistablePath(path);
    return false;
}

bool isStructureWatched(const ZipList& zl) {
    const char* conf = zl.getMlConfFile();
    return (zl.flags & kCatalogueWatchStructure) && conf != nullptr && conf[0] != '\0' &&
           strcasecmp(conf, "default") != 0;
}

struct AddScan {
    UzdMain* u;
    int found;
};

// A new library, not in the catalogue and not a known corrupt file.
bool isNewLibrary(const ZipList& zl, const char* path, struct stat* st) {
    if (!isZipFile(path) || zl.findZipStructureByPath(path) != nullptr) return false;
    if (!statFile(path, st)) return false;
    for (const CorruptFile& c : zl.corruptFiles)
        if (c.path == path && c.size == static_cast<size_t>(st->st_size) && c.mtime == st->st_mtime) return false;
    return true;
}

int addLineCallback(void* clientData, const char* path) {
    auto* scan = static_cast<AddScan*>(clientData);
    ZipList& zl = *scan->u->zipList;
    struct stat st;
    if (!isNewLibrary(zl, path, &st) || !reportable(path)) return 0;
    MlZipStruct* node = zl.findMlNode(zl.getMlRoot(), path);
    char line[kCatalogueMaxPath + 64];
    std::snprintf(line, sizeof line, "AD-FILE:|%s|MLID:|%d|", path, node != nullptr ? node->ID : kNoMlNode);
    if (zl.addFileChangeInfoEntry(line, static_cast<size_t>(st.st_size), st.st_mtime, FS_AD_FILE)) {
        ++zl.changeCount;
        ++scan->found;
    }
    if (zl.changeCount > scan->u->ruvaScanCount) zl.filesysScanner->stop();
    return 1;
}

int pollScanCallback(void* clientData, const char* path) {
    auto* scan = static_cast<AddScan*>(clientData);
    ZipList& zl = *scan->u->zipList;
    struct stat before, after;
    if (!isNewLibrary(zl, path, &before)) return 0;
    // A file still being written is left for the next cycle.
    sleepMs(scan->u->timings.pollStableMs);
    if (!statFile(path, &after) || after.st_size != before.st_size || after.st_mtime != before.st_mtime) return 0;
    ++scan->found;
    zl.filesysScanner->stop();
    return 1;
}

int scanWith(UzdMain* u, FileCallback cb, AddScan* scan) {
    FilesysScanner& s = *u->zipList->filesysScanner;
    s.setCallback(cb);
    int n = s.scan(scan);
    s.setCallback(fileSysAddZipCallback);
    return n;
}

int scannerEntry(PipeHandler*, PipeHandlerEntry* entry) {
    auto* u = static_cast<UzdMain*>(entry->cdata1);
    childCommon(u, u->watchParent);
    return u->filesysScanProcess(STDOUT_FILENO);
}

// The library status file: moved (no shell) to its working place, read
// whole, then removed.
std::vector<std::string> readLibraryStatus(UzdMain* u) {
    std::vector<std::string> lines;
    const std::string& from = u->libStatusFromPath;
    const std::string& to = u->libStatusToPath;
    if (from.empty() || to.empty() || ::access(from.c_str(), W_OK) != 0) return lines;
    if (::rename(from.c_str(), to.c_str()) != 0) {
        bool moved = false;
        if (errno == EXDEV) {
            FILE* in = std::fopen(from.c_str(), "rb");
            FILE* out = in != nullptr ? std::fopen(to.c_str(), "wb") : nullptr;
            if (out != nullptr) {
                char buf[4096];
                size_t n;
                moved = true;
                while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
                    if (std::fwrite(buf, 1, n, out) != n) moved = false;
                if (std::fclose(out) != 0) moved = false;
            }
            if (in != nullptr) std::fclose(in);
            if (moved) ::unlink(from.c_str());
        }
        if (!moved) {
            logError(kLogWarning, "Could not move the LibraryStatus file to the current file path");
            return lines;
        }
    }
    FILE* f = std::fopen(to.c_str(), "r");
    if (f == nullptr) {
        logError(kLogWarning, "Could not open the libraryStatus file");
        return lines;
    }
    char buf[kStatusLineMax + 2];
    while (static_cast<int>(lines.size()) < kStatusLinesMax && std::fgets(buf, sizeof buf, f) != nullptr) {
        buf[std::strcspn(buf, "\r\n")] = '\0';
        if (buf[0] != '\0') lines.emplace_back(buf);
    }
    std::fclose(f);
    if (::unlink(to.c_str()) != 0)
        logError(kLogWarning, "Could not remove the LibraryStatus file from the current file path");
    return lines;
}

}  // namespace

int UzdMain::checkFullFilesystemChanges() {
    ZipList& zl = *zipList;
    std::vector<std::string> listed = readLibraryStatus(this);
    zl.flags &= static_cast<uint16_t>(~kCatalogueChangeSeen);
    // Room for a whole structure-file path: a cut line would name another
    // file; addFileChangeInfoEntry refuses lines too long to keep.
    char line[kMlPathMax + 64];
    if (isStructureWatched(zl)) {
        struct stat st;
        const char* conf = zl.getMlConfFile();
        if (!statFile(conf, &st)) {
            logError(kLogDebug, "Could not obtain information about system structure file %s", conf);
        } else if (st.st_mtime != mlConfTime) {
            std::snprintf(line, sizeof line, "FS-FILE:|%s|", conf);
            if (zl.addFileChangeInfoEntry(line, static_cast<size_t>(st.st_size), st.st_mtime, FS_FSCH_FILE))
                ++zl.changeCount;
            mlConfTime = st.st_mtime;
            return 1;
        }
    }
    for (ZipStructure* zs = zl.getFirstZipStructure(); zs != nullptr; zs = zs->getNext()) {
        const char* path = zs->zipName;
        if (path == nullptr || !reportable(path)) continue;
        struct stat st;
        bool added = false;
        if (!statFile(path, &st)) {
            std::snprintf(line, sizeof line, "RM-FILE:|%s|HASHID:|%d|", path, zs->hashID);
            added = zl.addFileChangeInfoEntry(line, 0, 0, FS_RM_FILE);
        } else {
            bool inStatus = false;
            for (const std::string& l : listed)
                if (l.compare(0, std::strlen(path), path) == 0) inStatus = true;
            if (inStatus || static_cast<unsigned long>(st.st_size) != zs->fileSize || st.st_mtime != zs->mTime) {
                // A library outside every node (a recursive or writable
                // folder) is catalogued all the same: it is refreshed too.
                MlZipStruct* node = zl.findMlNode(zl.getMlRoot(), path);
                std::snprintf(line, sizeof line, "CH-FILE:|%s|HASHID:|%d|MLID:|%d|", path, zs->hashID,
                              node != nullptr ? node->ID : kNoMlNode);
                added = zl.addFileChangeInfoEntry(line, static_cast<size_t>(st.st_size), st.st_mtime, FS_CH_FILE);
            }
        }
        if (added && ++zl.changeCount > ruvaScanCount) return 1;
    }
    AddScan scan{this, 0};
    scanWith(this, addLineCallback, &scan);
    if (zl.changeCount > 0) zl.flags |= kCatalogueChangeSeen;
    return zl.changeCount > 0 ? 1 : 0;
}

int UzdMain::writeDataToParent(int out) {
    ZipList& zl = *zipList;
    sleepMs(timings.stableMs);
    std::string name;
    int hashID, mlID;
    for (FileChangeInfo& e : zl.fileChangeInfos) {
        if (e.state != FS_CH_FILE && e.state != FS_AD_FILE && e.state != FS_FSCH_FILE) continue;
        parseFSstring(e.fspath.c_str(), &name, &hashID, &mlID);
        struct stat st;
        if (!statFile(name.c_str(), &st) || static_cast<size_t>(st.st_size) != e.size || st.st_mtime != e.mtime) {
            e.state = FS_STATCH_FILE;
            --zl.changeCount;
        }
    }
    int written = 0;
    for (const FileChangeInfo& e : zl.fileChangeInfos) {
        switch (e.state) {
        case FS_RM_FILE:
        case FS_CH_FILE:
        case FS_AD_FILE:
        case FS_FSCH_FILE: {
            std::string l = e.fspath + "\n";
            if (::write(out, l.data(), l.size()) == static_cast<ssize_t>(l.size())) ++written;
            break;
        }
        case FS_CORRUPT_FILE:
            logError(kLogNotice, "FS: CORRUPT file-%s", e.fspath.c_str());
            break;
        case FS_STATCH_FILE:
            logError(kLogNotice, "FS: UNSTABLE file-%s", e.fspath.c_str());
            break;
        case FS_INVALID:
            logError(kLogNotice, "FS: INVALID file-%s", e.fspath.c_str());
            break;
        default:
            logError(kLogNotice, "FS: INVALID DATA-%s", e.fspath.c_str());
            break;
        }
    }
    zl.freeFileChangeInfoList();
    int count = zl.changeCount;
    zl.changeCount = 0;
    if (written == 0) return 0;
    logError(kLogWarning, "FS: Total change count: %d", count);
    return 1;
}

int UzdMain::filesysScanProcess(int out) {
    setDisposition(SIGHUP, onKillOrder);
    setDisposition(SIGUSR1, onKillOrder);
    setDisposition(SIGUSR2, onParentAck);
    logError(kLogNotice, "Filesystem scan process started");
    ZipList& zl = *zipList;
    bool sent = false;
    int waiting = 0;
    bool resent = false;
    long pause = timings.cycleMs;
    while (!killOrder) {
        if (!sent && checkFullFilesystemChanges() == 1) {
            if (zl.changeCount >= ruvaScanCount) {
                zl.freeFileChangeInfoList();
                zl.changeCount = 0;
                logError(kLogErr, "FS: Change count exceeded limit sending full scan request");
                signalPeer(watchParent, SIGUSR1);
                sent = true;
            } else if (writeDataToParent(out)) {
                sleepMs(timings.stepMs);
                signalPeer(watchParent, SIGUSR2);
                sent = true;
            }
            if (sent) pause = timings.afterSignalMs;
        }
        if (!pauseSteps(this, pause)) {
            logError(kLogWarning, "Parent does not exist, exit file scanner");
            return 0;
        }
        if (sent && !killOrder) {
            logError(kLogWarning, "Waiting for kill order...");
            if (++waiting >= kAckRecount && !parentAck && !resent) {
                if (parentGone(watchParent)) {
                    logError(kLogWarning, "Parent does not exist, cannot order update exit file scanner");
                    return 0;
                }
                signalPeer(watchParent, SIGUSR2);
                resent = true;
                waiting = 0;
            }
        }
    }
    logError(kLogDebug, "Filesystem process noticed order to die");
    return 0;
}

int UzdMain::startFilesysCheckPipe() {
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t parent = ::getpid();
    // The child sets itself up from here; the handler reads watchParent.
    watchParent = parent;
    pe = ph->add(scannerEntry, this);
    if (pe == nullptr) return 0;
    if (pe->cpid <= 0) return 0;
    filesysPid = pe->cpid;
    setFaultScannerPid(filesysPid);
    ph->setWaitTime(0, 1);
    return 1;
}

namespace {

// SIGINT, then up to 5 s for it to end, then SIGKILL; never a pid that was
// already collected.
void stopChild(UzdMain* u) {
    pid_t pid = u->filesysPid;
    if (pid <= 0) return;
    ::kill(pid, SIGINT);
    int status;
    pid_t got = 0;
    for (int i = 0; i < kStopWaitSteps; ++i) {
        got = ::waitpid(pid, &status, WNOHANG);
        if (got != 0) break;
        sleepMs(100);
    }
    if (got == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    u->filesysPid = 0;
    setFaultScannerPid(0);
    if (u->ph) u->ph->childReaped(pid);
    logError(kLogDebug, "Filesystem scan process terminated successfully");
}

}  // namespace

void UzdMain::stopFilesysCheckPipe() {
    stopChild(this);
    if (pe != nullptr && ph) {
        if (ph->findEntry(pe)) ph->unlinkEntry(pe);
        pe = nullptr;
    }
    if (zipList) {
        zipList->freeFileChangeInfoList();
        zipList->changeCount = 0;
    }
}

void UzdMain::stopFilesysCheckThread() { stopChild(this); }

int UzdMain::checkFilesystemChanges() {
    ZipList& zl = *zipList;
    if (isStructureWatched(zl)) {
        struct stat st;
        if (statFile(zl.getMlConfFile(), &st) && st.st_mtime != mlConfTime) return 1;
    }
    for (ZipStructure* zs = zl.getFirstZipStructure(); zs != nullptr; zs = zs->getNext()) {
        struct stat st;
        if (!statFile(zs->zipName, &st) || static_cast<unsigned long>(st.st_size) != zs->fileSize ||
            st.st_mtime != zs->mTime)
            return 1;
    }
    AddScan scan{this, 0};
    scanWith(this, pollScanCallback, &scan);
    return scan.found > 0 ? 1 : 0;
}

int UzdMain::filesysPollProcess() {
    setDisposition(SIGHUP, SIG_IGN);
    setDisposition(SIGUSR1, onKillOrder);
    while (!killOrder) {
        if (!pauseSteps(this, timings.pollCycleMs)) return 0;
        if (killOrder) break;
        if (checkFilesystemChanges()) {
            logError(kLogDebug, "Filesystem scan process detected changes, informing parent");
            signalPeer(watchParent, SIGUSR1);
        }
    }
    return 0;
}

int UzdMain::startFilesysCheckThread() {
    logError(kLogDebug, "Starting the filesystem scan process");
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        logError(kLogErr, "Failed to fork filesystem scan process, %s", std::strerror(errno));
        return 0;
    }
    if (pid == 0) {
        childCommon(this, parent);
        ::_exit(filesysPollProcess());
    }
    filesysPid = pid;
    setFaultScannerPid(pid);
    return 1;
}

}  // namespace ruva
