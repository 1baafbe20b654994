// The parent loop's states. Each case runs in a forked child, which may
// change its signal dispositions and reap what it forks.
#include "bmod/unzipd/server/network_server.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/bmod/unzipd/server/server_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::connectLoopback;
using test::inChild;
using test::readLine;

// A server in the loop's shape: listening on a loopback port, no UDP.
std::unique_ptr<NetworkServer> loopServer(UzdMain* uzd, uint16_t flags, int* port) {
    auto ns = test::testServer(uzd, flags | kNsNoUdp);
    if (ns) ns->tcpfd = test::loopbackListener(port);
    return ns;
}

// A child that has ended but is not reaped yet, so the loop finds it at
// its first turn.
pid_t deadChild(int status) {
    pid_t pid = fork();
    if (pid == 0) _exit(status);
    siginfo_t info;
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    return pid;
}

// Connects, reads the greeting of a session process (the loop is past its
// set-up then), sends sig to the server's process and ends.
pid_t signalFromASession(int port, int sig) {
    pid_t server = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    int fd = connectLoopback(port);
    std::string greeting = fd >= 0 ? readLine(fd) : "";
    kill(server, sig);
    _exit(greeting.rfind("200 UZD ", 0) == 0 ? 0 : 1);
}

// One more loop with a SIGTERM after 300 ms: NS_QUIT unless an order that
// was taken is seen again.
NsState loopUntilTerm(NetworkServer& ns) {
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(getpid(), SIGTERM);
    });
    NsState s = ns.networkServer();
    stopper.join();
    return s;
}

TEST(NetworkServerStates, SignalsBecomeStates) {
    struct Case {
        int sig;
        NsState state;
        bool scanner;
    } cases[] = {
        {SIGHUP, NS_RECONFIG, false},
        {SIGUSR1, NS_UPDATE, false},
        {SIGUSR2, NS_UPDATE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sig);
        int status = inChild([&c] {
            UzdMain uzd;
            int port = 0;
            auto ns = loopServer(&uzd, 0, &port);
            if (!ns || ns->tcpfd < 0) return 1;
            signalFromASession(port, c.sig);
            NsState s = ns->networkServer();
            if (s != c.state) return 10 + s;
            if (c.state == NS_UPDATE && (!ns->updatePending || ns->scannerOrdered != c.scanner)) return 3;
            if (ns->sessionCount != 1) return 4;
            // The hang-up handler outlives the loop: a second SIGHUP during
            // the reconfiguration must not end the daemon.
            struct sigaction sa;
            sigaction(SIGHUP, nullptr, &sa);
            if (sa.sa_handler == SIG_DFL || sa.sa_handler == SIG_IGN) return 5;
            return 0;
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(NetworkServerStates, SessionExitingThreeOrdersAnUpdate) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        ns->childCount = 1;
        deadChild(kSessionUpdateExit);
        if (ns->networkServer() != NS_UPDATE) return 2;
        if (ns->childCount != 0) return 3;
        if (ns->updatePending) return 4;  // by a child: checkChangedZipFiles, no rescan
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(NetworkServerStates, ScannerDeathRestartsAndThirdGivesUpPipes) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        pid_t filesysPid = 0;
        ns->filesysPidP = &filesysPid;
        ns->childCount = 2;
        for (int death = 1; death <= 3; ++death) {
            filesysPid = deadChild(0);
            if (ns->networkServer() != NS_FSRESTART) return 10 * death;
            if (filesysPid != 0) return 10 * death + 1;
            bool pipes = (ns->nflags & kNsScannerPipes) != 0;
            if (pipes != (death < 3)) return 10 * death + 2;
        }
        if (ns->childCount != 2) return 5;  // the scanner is no session
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// A quit asked for while the main loop refreshes (after the loop's
// clean-up) is not lost: the next call ends at once.
TEST(NetworkServerStates, TermAfterCleanupEndsTheNextLoop) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        deadChild(kSessionUpdateExit);
        if (ns->networkServer() != NS_UPDATE) return 2;
        kill(getpid(), SIGTERM);
        if (!NetworkServer::quitRequested()) return 3;
        if (ns->networkServer() != NS_QUIT) return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// A refresh order that comes while the parent refreshes (after the loop's
// clean-up) starts the next refresh at once; the parent's own wake-up
// broadcast reaches it too and is no order.
TEST(NetworkServerStates, OrderDuringRefreshIsHeldButOwnWakeUpIsNot) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        signalFromASession(port, SIGUSR1);
        if (ns->networkServer() != NS_UPDATE) return 2;
        ns->takeUpdateOrders();
        pid_t session = fork();
        if (session == 0) {
            kill(getppid(), SIGUSR1);
            _exit(0);
        }
        int st;
        while (waitpid(session, &st, 0) < 0 && errno == EINTR) {
        }
        if (ns->networkServer() != NS_UPDATE) return 3;
        if (!ns->updatePending || ns->scannerOrdered) return 4;
        ns->takeUpdateOrders();
        kill(getpid(), SIGUSR1);
        NsState s = loopUntilTerm(*ns);
        if (s != NS_QUIT) return 10 + s;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// A hang-up while the parent refreshes or reconfigures (after the loop's
// clean-up) starts one reconfiguration in the next loop; once taken, it is
// not seen again.
TEST(NetworkServerStates, HangUpBetweenLoopsIsHeld) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        deadChild(kSessionUpdateExit);
        if (ns->networkServer() != NS_UPDATE) return 2;
        ns->takeUpdateOrders();
        kill(getpid(), SIGHUP);
        kill(getpid(), SIGHUP);
        if (ns->networkServer() != NS_RECONFIG) return 3;
        ns->takeReconfigOrder();
        NsState s = loopUntilTerm(*ns);
        if (s != NS_QUIT) return 10 + s;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(NetworkServerStates, DebugModeServesOneSessionThenQuits) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, kNsDebug, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        std::string got;
        std::thread client([&got, port] {
            int fd = connectLoopback(port);
            got = readLine(fd) + "|";
            test::sendText(fd, "QUIT\n");
            got += readLine(fd) + "|";
            got += readLine(fd);
            close(fd);
        });
        NsState s = ns->networkServer();
        client.join();
        if (s != NS_QUIT) return 2;
        if (got != "200 UZD " + test::serverIdentity() + "|200-See you later.|<EOF>") return 3;
        if (ns->tcpfd != -1) return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(NetworkServerStates, SessionsRunInChildProcesses) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        std::string got;
        pid_t loop = getpid();
        std::thread client([&got, port, loop] {
            int fd = connectLoopback(port);
            got = readLine(fd) + "|";
            test::sendText(fd, "VER\n");
            got += readLine(fd) + "|";
            test::sendText(fd, "QUIT\n");
            got += readLine(fd) + "|";
            got += readLine(fd);
            close(fd);
            kill(loop, SIGTERM);
        });
        NsState s = ns->networkServer();
        client.join();
        if (s != NS_QUIT) return 2;
        std::string id = test::serverIdentity();
        if (got != "200 UZD " + id + "|200 Version: " + id + "|200-See you later.|<EOF>") return 3;
        if (ns->sessionCount != 1) return 4;
        if (ns->tcpfd < 0) return 5;  // only the debug mode gives its socket up
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(NetworkServerStates, MasksAndSessionCapRefuseBeforeTheGreeting) {
    int status = inChild([] {
        UzdMain uzd;
        int port = 0;
        auto ns = loopServer(&uzd, 0, &port);
        if (!ns || ns->tcpfd < 0) return 1;
        std::string got;
        std::thread client([&got, &ns, port] {
            int fd = connectLoopback(port);
            got = readLine(fd) + "|";
            got += readLine(fd) + "|";
            close(fd);
            ns->ipMasks.clear();
            fd = connectLoopback(port);
            got += readLine(fd) + "|";
            got += readLine(fd);
            close(fd);
            kill(getpid(), SIGTERM);
        });
        ns->addDenyMask("127.*");
        ns->maxSessions = 1;
        ns->childCount = 1;
        NsState s = ns->networkServer();
        client.join();
        if (s != NS_QUIT) return 2;
        if (got != "500 Access denied.|<EOF>|500 Access denied.|<EOF>") return 3;
        if (ns->sessionCount != 0) return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(NetworkServerStates, SessionWaitsForTheParentsRefresh) {
    static volatile sig_atomic_t ordered = 0;
    for (bool answer : {true, false}) {
        SCOPED_TRACE(answer);
        int status = inChild([answer] {
            ordered = 0;
            struct sigaction sa = {};
            sa.sa_handler = [](int) { ordered = 1; };
            sigaction(SIGUSR1, &sa, nullptr);
            pid_t session = fork();
            if (session == 0) {
                UzdMain uzd;
                auto ns = test::testServer(&uzd, kNsNoUdp);
                ns->waitOnParentUpdate = answer ? 8 : 1;
                _exit(ns->orderParentUpdateUSR1() == 1 ? 0 : 1);
            }
            for (int i = 0; i < 800 && !ordered; ++i) usleep(10000);
            if (!ordered) return 2;
            if (answer) kill(session, SIGUSR1);
            int st = 0;
            waitpid(session, &st, 0);
            if (!WIFEXITED(st) || WEXITSTATUS(st) != (answer ? 0 : 1)) return 3;
            return 0;
        });
        EXPECT_EQ(status, 0);
    }
}

TEST(NetworkServerMasks, InvalidAllowIsDroppedInvalidDenyRefused) {
    test::LogCapture log;
    UzdMain uzd;
    auto ns = newNetworkServer(&uzd, 0, kNsNoUdp);
    ASSERT_TRUE(ns);
    EXPECT_EQ(ns->addAllowMask("10.0.0.300"), 1);
    EXPECT_TRUE(ns->ipMasks.empty());
    EXPECT_TRUE(log.has("Warn: Invalid IP mask ignored: 10.0.0.300")) << log.all();
    EXPECT_EQ(ns->addDenyMask("10.1.2.256"), 0);
    EXPECT_TRUE(log.has("Err.: Invalid IP mask: 10.1.2.256")) << log.all();
    EXPECT_TRUE(ns->ipMasks.empty());

    ServerConfig cfg;
    cfg.ipMasks = {{true, "127.0.0.*"}, {false, "*"}};
    ASSERT_EQ(ns->applyServerConfig(cfg), 1);
    EXPECT_EQ(ns->checkIpMasks("127.0.0.2"), 1);
    EXPECT_EQ(ns->checkIpMasks("127.0.1.2"), 0);
    EXPECT_EQ(ns->checkIpMasks("not an address"), 0);
    cfg.ipMasks = {{false, "10.1.2.256"}};
    EXPECT_EQ(ns->applyServerConfig(cfg), 0);
}

// A port free for TCP and UDP on any address, as the daemon binds them;
// another test may take it meanwhile, so the caller retries.
int freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) close(fd);
    return port;
}

TEST(NetworkServerSockets, ListenOnAFreePortRefuseATakenOne) {
    test::LogCapture log;
    UzdMain uzd;
    auto ns = test::testServer(&uzd, 0);
    ASSERT_TRUE(ns);
    int ok = 0;
    for (int attempt = 0; attempt < 20 && !ok; ++attempt) {
        ns->wellKnownPort = freePort();
        ok = ns->listenSockets();
    }
    ASSERT_EQ(ok, 1) << log.all();
    EXPECT_GE(ns->tcpfd, 0);
    EXPECT_GE(ns->udpfd, 0);

    auto second = test::testServer(&uzd, 0);
    second->wellKnownPort = ns->wellKnownPort;
    EXPECT_EQ(second->listenSockets(), 0);
    EXPECT_EQ(second->tcpfd, -1);
    EXPECT_EQ(second->udpfd, -1);
    EXPECT_TRUE(log.has("Err.: Cannot bind tcp socket, Address already in use")) << log.all();

    ns->closeSockets();
    EXPECT_EQ(ns->tcpfd, -1);
    EXPECT_EQ(ns->udpfd, -1);
    // Without broadcasts there is no UDP socket.
    second->flags = kNsNoUdp;
    ASSERT_EQ(second->listenSockets(), 1) << log.all();
    EXPECT_GE(second->tcpfd, 0);
    EXPECT_EQ(second->udpfd, -1);
}

TEST(NetworkServerStates, NoSocketIsAFailure) {
    UzdMain uzd;
    auto ns = test::testServer(&uzd, 0);
    ASSERT_TRUE(ns);
    EXPECT_EQ(ns->networkServer(), NS_FAILURE);
    ns->flags = kNsNoUdp;
    EXPECT_EQ(ns->networkServer(), NS_FAILURE);
}

}  // namespace
}  // namespace ruva
