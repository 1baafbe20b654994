#include "bmod/unzipd/daemon/uzd_main.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/daemon_start.h"
#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/daemon/zupd_mutex.h"
#include "bmod/unzipd/server/network_server.h"
#include "bmod/unzipd/zip/vpool.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/net_util.h"
#include "common/string_list.h"
#include "int_interfaces/pipe_handler.h"

namespace ruva {
namespace {

// Library bits forwardFlags sets; the writable and index-builder bits stay.
constexpr uint16_t kForwardedZipBits = kZipFoldNames | kZipVerbose | kCatalogueDebug;
constexpr size_t kSessionCountSize = 4;

}  // namespace

UzdMain::UzdMain() = default;

// del: the command server first (it reaps through the pipe handler), the
// catalogue, configuration and log, then the pipe handler.
UzdMain::~UzdMain() {
    networkServer.reset();
    zipList.reset();
    config.reset();
    error.reset();
    if (logFile >= 0) ::close(logFile);
    ph.reset();
}

std::unique_ptr<UzdMain> newUzdMain(const char* progName, const char* configName, uint16_t flags) {
    std::unique_ptr<UzdMain> u(new (std::nothrow) UzdMain());
    if (!u) {
        logError(kLogErr, "No memory");
        return nullptr;
    }
    u->error = newUzdError(progName, flags);
    if (!u->error) {
        logError(kLogErr, "Could not create UzdError");
        return nullptr;
    }
    u->error->openLog();
    u->config = newConfig(configName);
    if (!u->config) {
        logError(kLogErr, "NewConfig failed");
        return nullptr;
    }
    u->config->registerConfigTypes(uzdConfigRegister);
    if (!u->config->readConfig()) {
        u->error->logError(kLogErr, "Failed to read config file: %s", configName != nullptr ? configName : "");
        return nullptr;
    }
    u->zipList = newZipList(flags);
    if (!u->zipList) {
        logError(kLogErr, "NewZipList failed");
        return nullptr;
    }
    u->networkServer = newNetworkServer(u.get(), 0, static_cast<uint16_t>(flags & kNsDebug));
    if (!u->networkServer) {
        logError(kLogErr, "NewNetworkServer failed");
        return nullptr;
    }
    NetworkServer& ns = *u->networkServer;
    StringList local;
    bool localOk = getAllIpAddr(&local) > 0 && local.first != nullptr;
    for (String* s = local.first; s != nullptr; s = s->next)
        if (!ns.addAllowMask(StringList::getValue(s))) localOk = false;
    if (!localOk) logError(kLogWarning, "Failed to set default server Access");
    if (!u->applyConfig(flags) || !ns.applyServerConfig(u->serverConfig)) {
        logError(kLogErr, "applyConfig failed");
        return nullptr;
    }
    u->forwardFlags(u->zipList->flags);
    // The session count lives in the shared name pool, so sessions read the
    // parent's value; taken before any fork.
    void* count = u->zipList->zipPool ? u->zipList->zipPool->namePool->alloc(kSessionCountSize) : nullptr;
    if (count != nullptr) {
        std::memset(count, 0, kSessionCountSize);
        u->childCountP = static_cast<int*>(count);
        ns.childCountP = u->childCountP;
    }
    u->ph = newPipeHandler(0);
    if (!u->ph) {
        logError(kLogErr, "Cannot create PipeHandler object");
        return nullptr;
    }
    ns.ph = u->ph.get();
    ns.filesysPidP = &u->filesysPid;
    u->objectCreateTime = ::time(nullptr);
    return u;
}

void UzdMain::forwardFlags(uint16_t f) {
    if (networkServer) {
        if (f & kZipVerbose) networkServer->flags |= kNsVerbose;
        if (f & kCatalogueDebug) networkServer->flags |= kNsDebug;
    }
    if (!zipList) return;
    for (ZipStructure* zs = zipList->getFirstZipStructure(); zs != nullptr; zs = zs->getNext())
        zs->flags = static_cast<uint16_t>(zs->flags | (f & kForwardedZipBits));
}

int UzdMain::signalPeer(pid_t pid, int sig) {
    if (signalSink != nullptr) return signalSink(signalContext, pid, sig);
    return ::kill(pid, sig);
}

int parseFSstring(const char* line, std::string* name, int* hashID, int* mlID) {
    *hashID = -1;
    *mlID = -1;
    name->clear();
    const char* p = line != nullptr ? std::strstr(line, "FILE:|") : nullptr;
    if (p == nullptr) return 0;
    p += 6;
    const char* end = std::strchr(p, '|');
    if (end == nullptr || end == p) return 0;
    name->assign(p, static_cast<size_t>(end - p));
    auto number = [end](const char* key, int* out) {
        const char* q = std::strstr(end, key);
        if (q != nullptr) *out = std::atoi(q + std::strlen(key));
    };
    number("HASHID:|", hashID);
    number("MLID:|", mlID);
    return 1;
}

namespace {

bool pipeMode(const NetworkServer& ns) { return (ns.nflags & kNsScannerPipes) != 0; }

void stopScanner(UzdMain* u) {
    if (pipeMode(*u->networkServer))
        u->stopFilesysCheckPipe();
    else
        u->stopFilesysCheckThread();
}

// Acts on one state; false when the loop ends. *status the exit status.
bool actOnState(NsState state, int* status) {
    UzdMain* u = UZD;
    NetworkServer& ns = *u->networkServer;
    switch (state) {
    case NS_QUIT:
        if (!u->cacheFileName.empty()) ns.ks->write(u->cacheFileName.c_str());
        return false;
    case NS_RECONFIG: {
        // Taken before the configuration is read: a hang-up from here on
        // asks for one more reconfiguration when this one ends.
        ns.takeReconfigOrder();
        logError(kLogNotice, "Reconfigure starting");
        if (!u->cacheFileName.empty()) ns.ks->write(u->cacheFileName.c_str());
        setReconfiguring(true);
        UzdMain* fresh = Startup(u);
        if (fresh == nullptr) {
            setReconfiguring(false);
            *status = 1;
            return false;
        }
        setReconfiguring(false);
        logError(kLogNotice, "Reconfigure finished.");
        return true;
    }
    case NS_UPDATE: {
        bool pending = ns.updatePending != 0;
        bool byScanner = ns.scannerOrdered != 0;
        ns.takeUpdateOrders();
        int ok = 1;
        if (!pending) {
            logError(kLogNotice, "Updating by child request");
            int n = u->checkChangedZipFiles();
            logError(kLogNotice, "Update finished, %d changed databases", n);
        } else {
            int done = 0;
            if (byScanner && pipeMode(ns)) {
                done = u->updateCache();
                u->stopFilesysCheckPipe();
            }
            if (done != 1 && u->rescanFilesystem() < 0) ok = 0;
            if (ok && !u->centralServer.empty()) ns.informCentralServer(u->centralServer.c_str(), 0);
        }
        if (!ok) {
            logError(kLogNotice, "Cache refresh failed, aborting.");
            *status = 1;
            return false;
        }
        // Wakes the waiting sessions; the parent's handler passes over its
        // own signal.
        ::kill(0, SIGUSR1);
        return true;
    }
    case NS_FSRESTART:
        return true;
    default:
        logError(kLogErr, "Invalid return value %d from networkServer", static_cast<int>(state));
        *status = 1;
        return false;
    }
}

}  // namespace

int runMainLoop() {
    std::unique_ptr<ZupdMutex> mutex = newZupdMutex(UZD->config.get(), 1);
    if (!mutex) logError(kLogWarning, "Failed to create zip update mutex");
    int status = 0;
    for (;;) {
        UzdMain* u = UZD;
        NetworkServer& ns = *u->networkServer;
        if (pipeMode(ns)) {
            if (!u->startFilesysCheckPipe()) {
                logError(kLogErr, "Filesystem scan process failed to start, aborting, %s", u->ph->getError());
                status = 1;
                break;
            }
        } else if (!u->startFilesysCheckThread()) {
            logError(kLogErr, "Filesystem scan process failed to start, aborting");
            status = 1;
            break;
        }
        NsState state = ns.networkServer();
        // The server's reaper may have collected the scanner: the fault
        // handler must not signal a collected pid.
        setFaultScannerPid(u->filesysPid);
        // The scanner's lines are still to be read after its own order.
        bool keep = pipeMode(ns) && state == NS_UPDATE && ns.updatePending && ns.scannerOrdered;
        if (!keep) stopScanner(u);
        bool goOn = actOnState(state, &status);
        if (goOn && NetworkServer::quitRequested()) {
            // SIGTERM while acting on a state: stop as on NS_QUIT.
            goOn = actOnState(NS_QUIT, &status);
        }
        if (!goOn) break;
    }
    UzdMain* u = UZD;
    if (u != nullptr) stopScanner(u);
    if (mutex) mutex->del();
    mutex.reset();
    if (u != nullptr) {
        removePidFile(u);
        uninstallFaultHandler();
        if (!u->centralServer.empty()) u->networkServer->informCentralServer(u->centralServer.c_str(), 1);
        logError(kLogNotice, "%s about to terminate", kDaemonProgName);
        setCurrentMain(nullptr);
        delete u;
    }
    return status;
}

}  // namespace ruva
