// Discovery over real sockets: the known-server walk against loopback
// servers, and a broadcast answered by a real daemon (run by
// uzclient_discovery_test.py, which names it in the environment).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bmod/ruvaserv/client/uzclient.h"
#include "common/fd_io.h"
#include "tests/bmod/ruvaserv/client/uzclient_support.h"

namespace ruva {
namespace {

using test::addr;
using test::InterfaceScope;

// A well-known port whose answer port (+ 10) is free for discovery's bind.
unsigned wellKnownPortWithFreeAnswerPort() {
    Fd s(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    socklen_t len = sizeof sin;
    if (bind(s.get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) return 0;
    getsockname(s.get(), reinterpret_cast<sockaddr*>(&sin), &len);
    return ntohs(sin.sin_port) - kDiscoveryPortOffset;
}

// Loopback servers that greet, answer SLIST with the servers they are told
// to name, answer QUIT and close; they count connections and SLISTs.
class SlistServers {
public:
    explicit SlistServers(size_t count) : servers_(count) {
        for (Server& s : servers_) {
            s.listener.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            sockaddr_in sin{};
            sin.sin_family = AF_INET;
            sin.sin_addr.s_addr = addr("127.0.0.1");
            socklen_t len = sizeof sin;
            bind(s.listener.get(), reinterpret_cast<sockaddr*>(&sin), sizeof sin);
            listen(s.listener.get(), 8);
            getsockname(s.listener.get(), reinterpret_cast<sockaddr*>(&sin), &len);
            s.port = ntohs(sin.sin_port);
        }
        EXPECT_EQ(pipe(wake_), 0);
    }
    ~SlistServers() {
        if (thread_.joinable()) {
            if (write(wake_[1], "x", 1) != 1) ADD_FAILURE() << "cannot stop the servers";
            thread_.join();
        }
        close(wake_[0]);
        close(wake_[1]);
    }
    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void names(size_t i, std::vector<size_t> others) { servers_[i].names = std::move(others); }
    unsigned port(size_t i) const { return servers_[i].port; }
    std::string address(size_t i) const { return "127.0.0.1:" + std::to_string(port(i)); }
    int connections(size_t i) const { return servers_[i].connections; }
    int slists(size_t i) const { return servers_[i].slists; }

private:
    struct Server {
        Fd listener;
        unsigned port = 0;
        std::vector<size_t> names;
        std::atomic<int> connections{0};
        std::atomic<int> slists{0};
    };
    struct Connection {
        size_t server;
        std::string pending;
    };

    // The reply to one line; false when the connection ends after it.
    bool answer(Server& s, int fd, const std::string& line) {
        std::string word = line.substr(0, line.find(' '));
        std::string reply;
        bool keep = true;
        if (word == "SLIST") {
            s.slists++;
            reply = "300-Address \"Comment\"\n";
            for (size_t other : s.names)
                reply += "300 " + address(other) + " \"server " + std::to_string(other) + "\"\n";
            reply += "200-SLIST executed.\n";
        } else if (word == "QUIT") {
            reply = "200-See you later.\n";
            keep = false;
        } else {
            reply = "400 Unknown command <" + word + ">. Try HELP.\n";
        }
        writeAll(fd, reply.data(), reply.size());
        return keep;
    }

    void accept(size_t index) {
        int fd = ::accept4(servers_[index].listener.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        servers_[index].connections++;
        std::string greeting =
            "200 UZD ruvadaemon \"DOCSRV 1\" R19K \"greeting " + std::to_string(index) + "\"\n";
        writeAll(fd, greeting.data(), greeting.size());
        open_[fd] = {index, ""};
    }

    void serve(int fd) {
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        Connection& c = open_[fd];
        bool keep = n > 0;
        if (keep) c.pending.append(buf, static_cast<size_t>(n));
        size_t end;
        while (keep && (end = c.pending.find('\n')) != std::string::npos) {
            std::string line = c.pending.substr(0, end);
            c.pending.erase(0, end + 1);
            keep = answer(servers_[c.server], fd, line);
        }
        if (!keep) {
            close(fd);
            open_.erase(fd);
        }
    }

    void run() {
        for (;;) {
            std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
            for (const Server& s : servers_) fds.push_back({s.listener.get(), POLLIN, 0});
            for (const auto& [fd, c] : open_) fds.push_back({fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), -1) < 0) continue;
            if (fds[0].revents) break;
            for (size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                if (i <= servers_.size()) {
                    accept(i - 1);
                } else {
                    serve(fds[i].fd);
                }
            }
        }
        for (const auto& [fd, c] : open_) close(fd);
    }

    std::vector<Server> servers_;
    std::map<int, Connection> open_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

TEST(UzClientWire, KnownServersAreEachVisitedOnceAndTheCallersSessionStays) {
    InterfaceScope scope(test::noInterfaces);
    SlistServers servers(3);
    servers.names(0, {1, 2});
    servers.names(1, {0, 2});
    servers.names(2, {0, 1});
    servers.start();
    auto uzc = newUzClient("kivoserv", "DOCSRV 1", "R19K", 0);
    ASSERT_NE(uzc, nullptr);
    uzc->setWellKnownPort(wellKnownPortWithFreeAnswerPort());
    UzSession* own = uzc->newSession(nullptr, addr("127.0.0.1"), servers.port(0));
    ASSERT_NE(own, nullptr);
    auto before = own->slist();
    ASSERT_NE(before, nullptr);
    EXPECT_EQ(before->resultCode, 200);

    auto known = uzc->findKnownServers();
    ASSERT_NE(known, nullptr) << uzc->getError();
    EXPECT_EQ(known->resultCode, 200);
    test::expectKnownList(*known, {
                                      {servers.address(0), "greeting 0", kKnownByDiscovery | kKnownSlistRead},
                                      {servers.address(1), "server 1", kKnownSlistRead},
                                      {servers.address(2), "server 2", kKnownSlistRead},
                                  });

    // The caller's session is still listed and answers on its own
    // connection; the walk visited each server over one of its own.
    EXPECT_EQ(uzc->getNumSessions(), 1);
    EXPECT_EQ(uzc->getFirstSession(), own);
    auto after = own->slist();
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(after->resultCode, 200);
    EXPECT_EQ(servers.slists(0), 3);
    EXPECT_EQ(servers.connections(0), 2);
    for (size_t i : {1, 2}) {
        SCOPED_TRACE(i);
        EXPECT_EQ(servers.slists(i), 1);
        EXPECT_EQ(servers.connections(i), 1);
    }
}

// Run by uzclient_discovery_test.py against a daemon answering broadcasts
// on RUVA_DISCOVERY_PORT, announcing RUVA_DISCOVERY_ADDR.
TEST(UzClientDaemonWire, BroadcastFindsTheDaemon) {
    const char* port = std::getenv("RUVA_DISCOVERY_PORT");
    const char* announced = std::getenv("RUVA_DISCOVERY_ADDR");
    if (!port || !announced) GTEST_SKIP() << "needs a daemon (uzclient_discovery_test.py)";
    InterfaceScope scope(test::loopbackOnly);
    auto uzc = newUzClient("kivoserv", "DOCSRV 1", "R19K", 0);
    ASSERT_NE(uzc, nullptr);
    uzc->setWellKnownPort(static_cast<unsigned>(std::atoi(port)));
    uzc->setBroadcastTimeout(2);
    // The daemon answers twice: one session.
    EXPECT_EQ(uzc->newSessionsByBroadcast(), 1) << uzc->getError();
    UzSession* s = uzc->getFirstSession();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->iaddr, addr(announced));
    EXPECT_EQ(s->port, static_cast<unsigned>(std::atoi(port)));
    auto ver = s->ver();
    ASSERT_NE(ver, nullptr) << s->getError();
    EXPECT_EQ(ver->resultCode, 200);
}

}  // namespace
}  // namespace ruva
