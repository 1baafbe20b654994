#include "bmod/unzipd/server/network_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "bmod/unzipd/daemon/known_server.h"
#include "bmod/unzipd/daemon/user_profile.h"
#include "bmod/unzipd/log/log_call.h"
#include "bmod/unzipd/search/qxsrch_commands.h"
#include "bmod/unzipd/search/ruvx.h"
#include "bmod/unzipd/zip/zip_reader.h"
#include "common/docmodel/content_type.h"
#include "int_interfaces/pipe_handler.h"

namespace ruva {
namespace {

constexpr int kScannerPipeDeaths = 2;  // deaths after which pipes are given up
constexpr int kOrderWaitDefault = 120;  // a ParentWaitTime of 0
constexpr size_t kHitCommentMax = 1022;  // characters of a member comment on a hit line

// The server the handlers reach; a plain pointer store is atomic here.
NetworkServer* volatile currentServer = nullptr;
volatile sig_atomic_t quitRequest = 0;
// Scanner deaths over the daemon's life, across reconfigurations.
int scannerDeaths = 0;

void quitHandler(int) { quitRequest = 1; }

// A hang-up between two server loops, during a reconfiguration or a
// refresh, is held for the next loop: with the default disposition a
// second SIGHUP would end the daemon mid-reconfiguration.
volatile sig_atomic_t heldReconfig = 0;

void hupHandler(int) {
    heldReconfig = 1;
    NetworkServer* s = currentServer;
    if (s != nullptr) s->reconfigRequested = 1;
}

// Orders that reach the parent between two server loops, while it refreshes
// or restarts the scanner, wait here: the next loop acts on them at once
// instead of losing them (a session that wrote a library just then would
// otherwise leave the catalogue stale until the next change).
volatile sig_atomic_t heldUpdate = 0;
volatile sig_atomic_t heldScanner = 0;

// The parent wakes its waiting sessions with kill(0, SIGUSR1), which
// reaches the parent too: its own signal is not an order.
bool selfSent(const siginfo_t* info) { return info != nullptr && info->si_pid == ::getpid(); }

void usr1Handler(int, siginfo_t* info, void*) {
    if (selfSent(info)) return;
    heldUpdate = 1;
    NetworkServer* s = currentServer;
    if (s == nullptr) return;
    s->updateOrdered = 1;
    s->updatePending = 1;
}

void usr2Handler(int, siginfo_t* info, void*) {
    if (selfSent(info)) return;
    heldUpdate = 1;
    heldScanner = 1;
    NetworkServer* s = currentServer;
    if (s == nullptr) return;
    s->updateOrdered = 1;
    s->updatePending = 1;
    s->scannerOrdered = 1;
}

// Without SA_RESTART: poll and sleep return on a signal, so the loop sees
// the request at once.
void setHandler(int sig, void (*handler)(int)) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(sig, &sa, nullptr);
}

void setHandler(int sig, void (*action)(int, siginfo_t*, void*)) {
    struct sigaction sa = {};
    sa.sa_sigaction = action;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO;
    sigaction(sig, &sa, nullptr);
}

// Accept errors after which the connection stays queued: the TCP socket
// sits out one turn instead of spinning the loop and flooding the log.
bool isResourceShortage(int e) { return e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM; }
// Only these mean the listening socket itself is broken.
bool isSocketBroken(int e) { return e == EBADF || e == EINVAL || e == ENOTSOCK; }

}  // namespace

NetworkServer::NetworkServer() = default;

NetworkServer::~NetworkServer() {
    closeSockets();
    cleanupNetworkServer();
}

std::unique_ptr<NetworkServer> newNetworkServer(UzdMain* uzd, int port, uint16_t flags) {
    std::unique_ptr<NetworkServer> ns(new (std::nothrow) NetworkServer());
    if (ns) ns->ks = newKnownServer(0);
    if (!ns || !ns->ks) {
        logError(kLogErr, "No memory for NetworkServer");
        return nullptr;
    }
    ns->uzd = uzd;
    ns->flags = flags;
    ns->startTime = ::time(nullptr);
    ns->wellKnownPort = port != 0 ? port : kDefaultWellKnownPort;
    return ns;
}

bool NetworkServer::quitRequested() { return quitRequest != 0; }
void NetworkServer::clearQuitRequest() { quitRequest = 0; }

void NetworkServer::takeUpdateOrders() {
    heldUpdate = 0;
    heldScanner = 0;
    updateOrdered = 0;
    updatePending = 0;
    scannerOrdered = 0;
}

void NetworkServer::takeReconfigOrder() {
    heldReconfig = 0;
    reconfigRequested = 0;
}

int NetworkServer::applyServerConfig(const ServerConfig& cfg) {
    wellKnownPort = cfg.port != 0 ? cfg.port : kDefaultWellKnownPort;
    flags = static_cast<uint16_t>((flags & ~kNsNoUdp) | ((cfg.flags & kServerNoBroadcasts) ? kNsNoUdp : 0));
    for (const ServerConfig::IpMask& m : cfg.ipMasks) {
        int ok = m.allow ? addAllowMask(m.mask.c_str()) : addDenyMask(m.mask.c_str());
        if (!ok) return 0;
    }
    serverComment.clear();
    addServerComment(cfg.serverComment.c_str());
    waitOnParentUpdate = cfg.parentWaitTime;
    maxSessions = cfg.maxSessions > 0 ? cfg.maxSessions : kDefaultMaxSessions;
    return 1;
}

int NetworkServer::addMask(const char* text, IpPermType type) {
    IpMask m;
    m.permType = type;
    if (parseIpMask(text, &m.addrMask)) {
        ipMasks.push_back(m);
        return 1;
    }
    if (type == IP_ALLOW) {
        logError(kLogWarning, "Invalid IP mask ignored: %s", text != nullptr ? text : "");
        return 1;
    }
    logError(kLogErr, "Invalid IP mask: %s", text != nullptr ? text : "");
    return 0;
}

int NetworkServer::addAllowMask(const char* text) { return addMask(text, IP_ALLOW); }
int NetworkServer::addDenyMask(const char* text) { return addMask(text, IP_DENY); }

int NetworkServer::checkIpMasks(const char* address) const {
    in_addr_t client = 0;
    if (address == nullptr || ::inet_pton(AF_INET, address, &client) != 1) return 0;
    bool enforce = uzd == nullptr || uzd->enforceIPMask != 0;
    return ruva::checkIpMasks(ipMasks, client, enforce);
}

void NetworkServer::closeSockets() {
    if (tcpfd >= 0) {
        ::shutdown(tcpfd, SHUT_RDWR);
        if (::close(tcpfd) != 0) logError(kLogWarning, "Close tcp failed, %s", std::strerror(errno));
        tcpfd = -1;
    }
    if (udpfd >= 0) {
        ::shutdown(udpfd, SHUT_RDWR);
        if (::close(udpfd) != 0) logError(kLogWarning, "Close udp failed, %s", std::strerror(errno));
        udpfd = -1;
    }
}

int NetworkServer::listenSockets() {
    auto fail = [this](const char* format) {
        logError(kLogErr, format, std::strerror(errno));
        closeSockets();
        return 0;
    };
    tcpfd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (tcpfd < 0) return fail("Cannot create tcp socket, %s");
    int on = 1;
    ::setsockopt(tcpfd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    saddr = {};
    saddr.sin_family = AF_INET;
    saddr.sin_addr.s_addr = htonl(INADDR_ANY);
    saddr.sin_port = htons(static_cast<uint16_t>(wellKnownPort));
    if (::bind(tcpfd, reinterpret_cast<sockaddr*>(&saddr), sizeof saddr) != 0 ||
        ::listen(tcpfd, kListenBacklog) != 0)
        return fail("Cannot bind tcp socket, %s");
    // A client that resets between poll and accept must not block the loop.
    ::fcntl(tcpfd, F_SETFL, ::fcntl(tcpfd, F_GETFL) | O_NONBLOCK);
    if (flags & kNsNoUdp) return 1;
    udpfd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (udpfd < 0) return fail("Cannot create udp socket, %s");
    sudp_addr = saddr;
    if (::bind(udpfd, reinterpret_cast<sockaddr*>(&sudp_addr), sizeof sudp_addr) != 0)
        return fail("Cannot bind udp socket, %s");
    return 1;
}

void NetworkServer::childReaped(pid_t pid) {
    if (filesysPidP != nullptr && *filesysPidP == pid)
        *filesysPidP = 0;
    else if (*childCountP > 0)
        --*childCountP;
    if (ph != nullptr) ph->childReaped(pid);
}

NsState NetworkServer::reapChildren() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        logError(kLogDebug, "NetworkServer detected a dead child");
        bool scanner = filesysPidP != nullptr && *filesysPidP == pid;
        childReaped(pid);
        if (scanner) {
            logError(kLogErr, "file scanner died %d restart count %d", static_cast<int>(pid), scannerDeaths);
            if (++scannerDeaths > kScannerPipeDeaths) {
                logError(kLogErr, "MAJOR PROBLEM in file scanner restarting FS without pipes");
                nflags &= static_cast<uint16_t>(~kNsScannerPipes);
            }
            return NS_FSRESTART;
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == kSessionUpdateExit) {
            cleanupNetworkServer();
            logError(kLogNotice, "NetworkServer returning due data mismatch in child");
            return NS_UPDATE;
        }
    }
    return NS_PERIODIC;
}

NsState NetworkServer::updateState(const char* how) {
    logError(kLogNotice, scannerOrdered ? "Update ordered by Filescanner process%s"
                                        : "Update ordered by child or external program%s",
             how);
    cleanupNetworkServer();
    return NS_UPDATE;
}

NsState NetworkServer::networkServer() {
    if (tcpfd < 0) {
        logError(kLogErr, "Internal, tcp socket not open");
        return NS_FAILURE;
    }
    if (!(flags & kNsNoUdp) && udpfd < 0) {
        logError(kLogErr, "Internal, udp socket not open");
        return NS_FAILURE;
    }
    currentServer = this;
    setHandler(SIGINT, quitHandler);
    setHandler(SIGTERM, quitHandler);
    setHandler(SIGHUP, hupHandler);
    setHandler(SIGUSR1, usr1Handler);
    setHandler(SIGUSR2, usr2Handler);
    setHandler(SIGPIPE, SIG_IGN);
    reconfigRequested = heldReconfig;
    updateOrdered = heldUpdate;
    updatePending = heldUpdate;
    scannerOrdered = heldScanner;
    flags &= static_cast<uint16_t>(~kNsQuit);

    bool sitOut = false;
    while (!quitRequest && !(flags & kNsQuit)) {
        NsState reaped = reapChildren();
        if (reaped != NS_PERIODIC) return reaped;
        if (updateOrdered && updatePending) return updateState(scannerOrdered ? " not in select" : " in select");
        if (reconfigRequested) {
            cleanupNetworkServer();
            logError(kLogDebug, "NetworkServer returning due to reconfiguration");
            return NS_RECONFIG;
        }
        writeKnownServersIfDue();

        struct pollfd pfd[2];
        nfds_t n = 0;
        int tcpAt = -1, udpAt = -1;
        if (!sitOut) {
            tcpAt = static_cast<int>(n);
            pfd[n++] = {tcpfd, POLLIN, 0};
        }
        if (!(flags & kNsNoUdp)) {
            udpAt = static_cast<int>(n);
            pfd[n++] = {udpfd, POLLIN, 0};
        }
        sitOut = false;
        int ready = ::poll(pfd, n, kSelectSeconds * 1000);
        if (ready < 0) {
            if (updateOrdered && updatePending) return updateState("");
            if (errno == EINTR) continue;
            logError(kLogErr, "select failed, %s", std::strerror(errno));
            cleanupNetworkServer();
            return NS_RECONFIG;
        }
        if (ready == 0) continue;
        if (udpAt >= 0 && pfd[udpAt].revents != 0) handleUdpConnection();
        if (tcpAt >= 0 && pfd[tcpAt].revents != 0) {
            NsState s = acceptClient(&sitOut);
            if (s != NS_PERIODIC) return s;
        }
    }
    cleanupNetworkServer();
    return NS_QUIT;
}

void NetworkServer::denyAccess(int fd) {
    ReplyWriter w(fd);
    w.line(kReplyFailed, kReplyEntry, "Access denied.");
    ::close(fd);
}

NsState NetworkServer::acceptClient(bool* sitOut) {
    struct sockaddr_in from = {};
    socklen_t len = sizeof from;
    int fd = ::accept(tcpfd, reinterpret_cast<sockaddr*>(&from), &len);
    if (fd < 0) {
        int e = errno;
        if (isSocketBroken(e)) {
            logError(kLogErr, "accept failed, %s", std::strerror(e));
            closeSockets();
            cleanupNetworkServer();
            return NS_RECONFIG;
        }
        // Resets, interruptions and shortages pass; the client may retry.
        logError(e == EAGAIN || e == EINTR ? kLogDebug : kLogWarning, "accept failed, %s", std::strerror(e));
        *sitOut = isResourceShortage(e);
        return NS_PERIODIC;
    }
    c_addr = from;
    if (::inet_ntop(AF_INET, &from.sin_addr, cAddrStr, sizeof cAddrStr) == nullptr) cAddrStr[0] = '\0';
    if (!ipMasks.empty() && !checkIpMasks(cAddrStr)) {
        denyAccess(fd);
        logError(kLogWarning, "Client denied based on address, %s", cAddrStr);
        return NS_PERIODIC;
    }
    if (flags & kNsDebug) {
        // The daemon serves this one session itself, then ends through the
        // main loop's clean-up.
        closeSockets();
        newtcpfd = fd;
        handleConnection();
        cleanupNetworkServer();
        return NS_QUIT;
    }
    if (*childCountP >= maxSessions) {
        denyAccess(fd);
        logError(kLogWarning, "Session limit %d reached, refusing %s", maxSessions, cAddrStr);
        return NS_PERIODIC;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        // A shortage of processes refuses this client, not the daemon.
        logError(kLogErr, "fork failed, %s", std::strerror(errno));
        ::close(fd);
        return NS_PERIODIC;
    }
    if (pid == 0) {
        parentPid_ = parent;
        newtcpfd = fd;
        runSessionChild();
    }
    ::close(fd);
    ++sessionCount;
    ++*childCountP;
    return NS_PERIODIC;
}

void NetworkServer::runSessionChild() {
    setHandler(SIGSEGV, SIG_DFL);
    setHandler(SIGBUS, SIG_DFL);
    setHandler(SIGUSR1, SIG_IGN);
    setHandler(SIGPIPE, SIG_IGN);
    // close, never shutdown: the parent still listens on these sockets.
    if (tcpfd >= 0) ::close(tcpfd);
    if (udpfd >= 0) ::close(udpfd);
    tcpfd = udpfd = -1;
    updateOrdered = 0;
    handleConnection();
    ::_exit(updateOrdered ? kSessionUpdateExit : 0);
}

void NetworkServer::cleanupNetworkServer() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) childReaped(pid);
    if (currentServer == this) currentServer = nullptr;
}

int NetworkServer::waitForParent() {
    if (reply) reply->flush();
    int steps = waitOnParentUpdate > 0 ? waitOnParentUpdate : kOrderWaitDefault;
    for (int i = 0; i < steps && !updateOrdered; ++i) ::sleep(1);
    setHandler(SIGUSR1, SIG_IGN);
    if (updateOrdered) {
        updateOrdered = 0;
        updatePending = 0;
        logError(kLogNotice, "Parent updated cache successfully");
        return 1;
    }
    logError(kLogNotice, "Parent failed to update cache in time");
    updatePending = 0;
    return 0;
}

int NetworkServer::orderParentUpdate(const char* zipName) {
    if (flags & kNsDebug) return 0;
    currentServer = this;
    updateOrdered = 0;
    updatePending = 0;
    // getppid alone would name the subreaper once the daemon is gone.
    pid_t parent = parentPid_ != 0 ? parentPid_ : ::getppid();
    if (::getppid() != parent || ::kill(parent, 0) != 0) {
        logError(kLogWarning, "Parent does not exist, cannot order update");
        return 0;
    }
    setHandler(SIGUSR1, usr1Handler);
    if (zipName != nullptr && *zipName != '\0') {
        // Non-blocking: a FIFO in the library's place must not hang the session.
        int fd = ::open(zipName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            logError(kLogWarning, "Child: File %s exists but could not be accessed successfully", zipName);
        } else {
            logError(kLogWarning, "Child: File %s does not exist, it has been removed ", zipName);
        }
    }
    // The scanner's cycle outlasts the default wait: ask the parent directly.
    ::kill(parent, SIGUSR1);
    logError(kLogNotice, "Ordering cache update in parent");
    return waitForParent();
}

int NetworkServer::orderParentUpdateUSR1() { return orderParentUpdate(nullptr); }

int NetworkServer::handleConnection() {
    // Without Nagle a small framed reply (line, data, CRC line) does not
    // wait for the client's delayed ACK. Not a TCP socket: nothing to do.
    int one = 1;
    ::setsockopt(newtcpfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    reply = std::make_unique<ReplyWriter>(newtcpfd);
    int ok = 0;
    if (!reply->line(kReplyOk, kReplyEntry, "UZD %s", identityText().c_str())) {
        logError(kLogErr, "Write error when presenting ourselves, %s", std::strerror(errno));
    } else {
        logError(kLogInfo, "New tcp session from %s", cAddrStr);
        fSuperUser = 0;
        // Not zeroed: getClientCommand ends every line it gives, and zeroing
        // 128 KiB in each new session costs a page fault per page.
        auto line = std::make_unique_for_overwrite<char[]>(kCommandLineMax + 1);
        ok = 1;
        while (getClientCommand(line.get(), kCommandLineMax) >= 0) {
            if (flags & kNsVerbose) logError(kLogDebug, "\"%s\" from %s", line.get(), cAddrStr);
            if (!parseCommand(line.get())) {
                ok = 0;
                break;
            }
            if ((flags & kNsQuit) || quitRequest) break;
        }
        logError(kLogInfo, "Ending tcp session from %s", cAddrStr);
    }
    ::shutdown(newtcpfd, SHUT_RDWR);
    ::close(newtcpfd);
    newtcpfd = -1;
    reply.reset();
    userp.reset();
    return ok;
}

std::string NetworkServer::identityText() const {
    auto known = [](const std::string& s) { return s.empty() ? std::string("unknown") : s; };
    return known(ProgName) + " \"" + known(Article) + "\" " + known(Revision) + " \"" +
           ReplyWriter::plainField(serverComment) + "\"";
}

int NetworkServer::presentRuvxScore(ZipStructure* zs, const std::vector<RuvxSearchResult>* hits, const char* bitmap) {
    if (hits == nullptr) return 1;
    for (const RuvxSearchResult& hit : *hits) {
        const char* name = hit.filename ? hit.filename->c_str() : "";
        const CentralHeader* ch = zs->findCentralHeader(name, nullptr);
        if (ch && bitmap && (!ch->bitmap || !*ch->bitmap || !filterSearchResult(bitmap, ch->bitmap))) continue;
        std::string comment;
        if (ch && ch->comment)
            comment = " " + ReplyWriter::quotedField(std::string_view(ch->comment).substr(0, kHitCommentMax));
        if (!reply->line(kReplyData, kReplyEntry, "\"%s\" %u \"%s\" %s 0 [%s]%s", zs->zipBasename,
                         static_cast<unsigned>(zs->hashID), ReplyWriter::plainField(name).c_str(),
                         getDocTypeName(hit.docType, hit.subType), ReplyWriter::plainField(hit.tokens).c_str(),
                         comment.c_str()))
            return 0;
    }
    return 1;
}

}  // namespace ruva
