#include "bmod/unzipd/daemon/daemon_start.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/server/network_server.h"
#include "common/net_util.h"
#include "common/version.h"

namespace ruva {

std::string cnfName;
int restartCount = 0;
const char* savedArgv0 = nullptr;

namespace {

constexpr int kSocketRetries = 15;  // 16 attempts in all
constexpr unsigned kSocketRetrySeconds = 60;
constexpr size_t kPidFileMax = 63;
constexpr int kRestartArgsMax = 8;

// The restart vector, built before any fault: kept arguments, "-F<digit>".
char* restartArgv[kRestartArgsMax + 2] = {};
char restartArg[4] = {};
// The handler ends with _exit(2) instead of restarting.
bool restartRefused = false;
bool restartPrepared = false;
volatile sig_atomic_t faultScannerPid = 0;
volatile sig_atomic_t faultEntered = 0;

// Async-signal-safe: only kill, close_range, _Fork, execvp, _exit, abort.
void faultHandler(int) {
    pid_t scanner = faultScannerPid;
    if (scanner > 0) ::kill(scanner, SIGINT);
    if (faultEntered || !restartPrepared) ::_exit(2);
    faultEntered = 1;
    ::close_range(3, ~0U, 0);
    if (restartRefused) ::_exit(2);
    pid_t pid = ::_Fork();
    if (pid == 0) {
        ::execvp(restartArgv[0], restartArgv);
        ::_exit(2);
    }
    ::abort();
}

void setDisposition(int sig, void (*handler)(int), int extra) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = extra;
    sigaction(sig, &sa, nullptr);
}

// Expired cache entries each get our announcement once and leave the list.
void expireKnownServers(UzdMain* u) {
    NetworkServer& ns = *u->networkServer;
    ns.ks->read(u->cacheFileName.c_str());
    while (KnownServEntry* e = ns.ks->expire()) {
        in_addr_t addr = e->iaddr;
        int port = e->port;
        std::string text = makeAddrString(addr, static_cast<unsigned>(port));
        logError(kLogNotice, "Expiring known server \"%s\"", text.c_str());
        ns.informCentralServer(text.c_str(), 0);
        ns.ks->remove(addr, port);
    }
}

int openSockets(UzdMain* u) {
    NetworkServer& ns = *u->networkServer;
    int retries = 0;
    while (!ns.listenSockets()) {
        if (++retries > kSocketRetries) {
            logError(kLogErr, "Failed to initialize server sockets, aborting");
            if (!u->centralServer.empty()) ns.informCentralServer(u->centralServer.c_str(), 1);
            return 0;
        }
        logError(kLogWarning, "Failed to initialize server sockets, retrying in 60 sec.");
        ::sleep(kSocketRetrySeconds);
    }
    if (retries > 0) logError(kLogInfo, "Server sockets initialized after %d retries", retries);
    return 1;
}

}  // namespace

void setFaultScannerPid(pid_t pid) { faultScannerPid = pid; }

void prepareFaultRestart(int argc, char** argv) {
    int kept = 0;
    char digit = '0';
    restartRefused = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "-F", 2) == 0) {
            digit = argv[i][2] != '\0' ? argv[i][2] : '0';
            continue;
        }
        if (kept == kRestartArgsMax) {
            restartRefused = true;
            continue;
        }
        restartArgv[kept++] = argv[i];
    }
    if (digit > '7') restartRefused = true;
    restartArg[0] = '-';
    restartArg[1] = 'F';
    restartArg[2] = static_cast<char>(digit + 1);
    restartArg[3] = '\0';
    restartArgv[kept] = restartArg;
    restartArgv[kept + 1] = nullptr;
    restartPrepared = kept > 0;
}

void installFaultHandler() {
    // SA_NODEFER: a fault inside the handler reaches it again and finds the
    // entered flag.
    setDisposition(SIGSEGV, faultHandler, SA_NODEFER);
    setDisposition(SIGBUS, faultHandler, SA_NODEFER);
    setDisposition(SIGUSR2, SIG_IGN, 0);
}

void uninstallFaultHandler() {
    setDisposition(SIGSEGV, SIG_DFL, 0);
    setDisposition(SIGBUS, SIG_DFL, 0);
}

int writePidFile(UzdMain* uzd, const char* argv0) {
    if (argv0 == nullptr) return 0;
    const char* slash = std::strrchr(argv0, '/');
    const char* base = slash != nullptr ? slash + 1 : argv0;
    char name[kPidFileMax + 1];
    std::snprintf(name, sizeof name, "/tmp/%s.pid", base);
    uzd->pidfile = name;
    // No symlink followed, no FIFO waited on; truncated only once it is
    // known to be a regular file.
    int fd = ::open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return 0;
    }
    char text[24];
    int n = std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(::getpid()));
    bool ok = ::write(fd, text, static_cast<size_t>(n)) == n;
    ::close(fd);
    return ok ? 1 : 0;
}

void removePidFile(UzdMain* uzd) {
    if (uzd == nullptr || uzd->pidfile.empty()) return;
    int fd = ::open(uzd->pidfile.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    char text[24] = {};
    ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    char mine[24];
    std::snprintf(mine, sizeof mine, "%u\n", static_cast<unsigned>(::getpid()));
    if (n > 0 && std::strcmp(text, mine) == 0) ::unlink(uzd->pidfile.c_str());
}

UzdMain* Startup(UzdMain* old) {
    if (old != nullptr) {
        removePidFile(old);
        setCurrentMain(nullptr);
        delete old;
    }
    std::unique_ptr<UzdMain> made = newUzdMain(kDaemonProgName, cnfName.c_str(), static_cast<uint16_t>(flags & 0xFF));
    if (!made) {
        logError(kLogErr, "Initialization failed, aborting.");
        return nullptr;
    }
    UzdMain* u = made.release();
    setCurrentMain(u);
    NetworkServer& ns = *u->networkServer;
    ns.ProgName = kDaemonProgName;
    ns.Article = kDaemonArticle;
    ns.Revision = kSystemRevision;
    ns.setBroadcastResponse();
    if (restartCount > 0)
        logError(kLogWarning, "Restart %d after SEGV/BUS error", restartCount);
    else
        logError(kLogNotice, "%s %s initializing", kDaemonProgName, kSystemRevision);

    auto fail = [u]() -> UzdMain* {
        setCurrentMain(nullptr);
        delete u;
        return nullptr;
    };
    if (flags & kOptUnregister) {
        int status = 1;
        if (u->centralServer.empty()) {
            std::fprintf(stderr, "No CentralServer defined, cannot unregister. Ending.\n");
        } else if (ns.informCentralServer(u->centralServer.c_str(), 1)) {
            std::fprintf(stderr, "Unregister message sent to CentralServer \"%s\", ending.\n", u->centralServer.c_str());
            status = 0;
        } else {
            std::fprintf(stderr, "Failed to unregister from CentralServer \"%s\". Ending.\n", u->centralServer.c_str());
        }
        std::fflush(stderr);
        fail();
        std::exit(status);
    }

    logError(kLogInfo, "Starting filesystem scan");
    int found = u->zipList->scanFilesystem();
    if (found < 0) {
        logError(kLogErr, "Failed to scan file system, aborting");
        return fail();
    }
    if (found == 0)
        logError(kLogWarning, "Found no ZIP databases");
    else
        logError(kLogNotice, "Filesystem scan finished, found %lu databases", u->zipList->structureCount());
    u->rememberStructureTime();
    // An index run never touches a running daemon's port, cache, registration
    // or pid file.
    if (flags & kOptIndexRun) return u;
    if (!openSockets(u)) return fail();
    if (!u->cacheFileName.empty()) expireKnownServers(u);
    if (!u->centralServer.empty()) ns.informCentralServer(u->centralServer.c_str(), 0);
    writePidFile(u, savedArgv0);
    return u;
}

}  // namespace ruva
