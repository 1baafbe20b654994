#include "bmod/unzipd/server/udp_discovery.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "bmod/unzipd/daemon/known_server.h"
#include "common/net_util.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/bmod/unzipd/server/server_fixture.h"

namespace ruva {
namespace {

// Every host name is 127.0.0.1, so no test asks outside DNS.
class LoopbackResolver : public Resolver {
public:
    bool addressOf(const std::string&, in_addr_t* addr) override {
        *addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    bool namesOf(in_addr_t, std::string*, std::vector<std::string>*) override { return false; }
};

// A UDP socket on 127.0.0.1 and a free port.
struct Udp {
    int fd = -1;
    unsigned port = 0;
    Udp() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port = ntohs(a.sin_port);
    }
    ~Udp() { close(fd); }
    void sendTo(unsigned to, const std::string& text) const {
        struct sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(to));
        EXPECT_EQ(sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
                  static_cast<ssize_t>(text.size()));
    }
    // The datagrams waiting now; loopback delivers within sendto.
    std::vector<std::string> pending() const {
        std::vector<std::string> got;
        char buf[2048];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) >= 0) got.emplace_back(buf, size_t(n));
        return got;
    }
    std::string at() const { return "127.0.0.1:" + std::to_string(port); }
};

TEST(PeerInfo, ReadsTheFields) {
    auto p = getPeerInfo("UZC 127.0.0.1:9239 kivoserv \"a\" R19K");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->peerId, "UZC");
    EXPECT_EQ(p->addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(p->port, 9239u);
    EXPECT_EQ(p->progName, "kivoserv");
    EXPECT_EQ(p->article, "a");
    EXPECT_EQ(p->revision, "R19K");
    EXPECT_FALSE(p->comment);

    p = getPeerInfo("UZD 127.0.0.1:7 ruvadaemon \"x\" R01A \"peer one\"");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->comment.value_or("<none>"), "peer one");

    p = getPeerInfo("UZd 10.0.0.1:65535");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->port, 65535u);
    EXPECT_TRUE(p->progName.empty());
    EXPECT_FALSE(p->comment);
}

TEST(PeerInfo, RefusesBrokenAddressesAndPorts) {
    const std::string many(65000, 'A');
    struct Case {
        std::string text;
        const char* reason;  // the level-5 line's text, without its <%s>; null: none
    } cases[] = {
        {"UZC", "Missing peer-ID in broadcast message"},
        {many, "Missing peer-ID in broadcast message"},
        {"UZC 127.0.0.1", "No inet addr in broadcast message"},
        {"UZC 127.0.0.1: kivoserv", "Missing port number in broadcast message"},
        {"UZC 127.0.0.1:0", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.1:x", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.1:70000", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.1:99999999999999999999", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.x:5", nullptr},
        {"UZC host:5", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        test::LogCapture log;
        EXPECT_FALSE(getPeerInfo(c.text.c_str()));
        std::string all = log.all();
        if (c.reason != nullptr) {
            EXPECT_NE(all.find(std::string("Note: ") + c.reason + " <"), std::string::npos) << all;
        }
        EXPECT_NE(all.find("Warn: Invalid iaddr/port specification received <"), std::string::npos) << all;
    }
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        oldResolver = setResolver(&resolver);
        uzd.cacheFileName = dir.file("ruvaknown.cache");
        ns = test::testServer(&uzd, 0);
        ASSERT_TRUE(ns);
        ns->udpfd = server.fd;
        ns->wellKnownPort = static_cast<int>(server.port);
        ASSERT_EQ(ns->setBroadcastResponse(), 1);
    }
    void TearDown() override {
        ns->udpfd = -1;  // the Udp member closes it
        setResolver(oldResolver);
    }
    // Sends text from the client socket and lets the server handle it.
    int deliver(const std::string& text) {
        client.sendTo(server.port, text);
        return ns->handleUdpConnection();
    }

    test::TempDir dir;
    LoopbackResolver resolver;
    Resolver* oldResolver = nullptr;
    test::LogCapture log;
    UzdMain uzd;
    Udp server;
    Udp client;
    Udp peer;  // where a peer daemon takes its answers
    std::unique_ptr<NetworkServer> ns;
};

TEST_F(Discovery, BroadcastLineNamesThisDaemon) {
    std::string tail = ":" + std::to_string(server.port) + " " + test::serverIdentity() + "\n";
    EXPECT_EQ(ns->bResp.rfind("UZD ", 0), 0u) << ns->bResp;
    EXPECT_EQ(ns->bResp.substr(ns->bResp.size() - tail.size()), tail);
    // The host's loopback name is replaced by a real interface when there is one.
    EXPECT_EQ((ntohl(ns->localAddr) >> 24) == 127, !getIpAddr().has_value());
}

TEST_F(Discovery, ClientCallIsAnsweredTwice) {
    EXPECT_EQ(deliver("UZC " + client.at() + " kivoserv \"a\" R19K"), 1);
    EXPECT_EQ(client.pending(), (std::vector<std::string>{ns->bResp, ns->bResp}));
}

TEST_F(Discovery, DaemonAnnouncementIsListedWrittenAndAnswered) {
    std::string announce = "UZD " + peer.at() + " ruvadaemon \"x\" R01A \"peer one\"";
    EXPECT_EQ(deliver(announce), 1);
    std::string answer = ns->bResp;
    answer[2] = 'd';
    EXPECT_EQ(peer.pending(), (std::vector<std::string>{answer, answer}));
    // Logged without its line feed: no empty log line follows.
    EXPECT_TRUE(log.has("Dbg.: Sent: " + answer.substr(0, answer.size() - 1))) << log.all();
    EXPECT_EQ(ns->bResp.rfind("UZD ", 0), 0u);  // the answer was a copy
    ASSERT_EQ(ns->ks->entries.size(), 1u);
    const KnownServEntry& e = ns->ks->entries.front();
    std::string line = "16777343 " + std::to_string(peer.port) + " " + std::to_string(e.lastUpdate) + " \"peer one\"\n";
    std::string cache = test::readFile(uzd.cacheFileName);
    EXPECT_EQ(cache.rfind("# List of known servers, written by ruvadaemon.\n"
                          "# Automatically maintained, not designed for manual editing.\n"
                          "# iaddr(ulong) port(int) lastUpdate(time_t) comment(string)\n",
                          0),
              0u)
        << cache;
    EXPECT_NE(cache.find(line), std::string::npos) << cache;
    EXPECT_TRUE(log.has("Info: Added server " + peer.at() + ", \"peer one\"")) << log.all();

    // A client's call after it is still answered with the daemon's line.
    EXPECT_EQ(deliver("UZC " + client.at() + " kivoserv \"a\" R19K"), 1);
    EXPECT_EQ(client.pending(), (std::vector<std::string>{ns->bResp, ns->bResp}));

    // UZd refreshes without an answer; UZR removes.
    EXPECT_EQ(deliver("UZd " + peer.at() + " ruvadaemon \"x\" R01A \"peer one\""), 1);
    EXPECT_TRUE(peer.pending().empty());
    EXPECT_TRUE(log.has("Info: Updated server timestamp for " + peer.at())) << log.all();
    EXPECT_EQ(deliver("UZR " + peer.at()), 1);
    EXPECT_TRUE(ns->ks->entries.empty());
    EXPECT_TRUE(log.has("Info: Removed server " + peer.at())) << log.all();
}

TEST_F(Discovery, CommentControlsAreStoredAsBlanks) {
    EXPECT_EQ(deliver("UZD " + peer.at() + " ruvadaemon \"x\" R01A \"a\nb\""), 1);
    EXPECT_EQ(peer.pending().size(), 2u);
    ASSERT_EQ(ns->ks->entries.size(), 1u);
    EXPECT_EQ(ns->ks->entries.front().comment.value_or("<none>"), "a b");
    std::string cache = test::readFile(uzd.cacheFileName);
    EXPECT_NE(cache.find(" \"a b\"\n"), std::string::npos) << cache;
    EXPECT_EQ(std::count(cache.begin(), cache.end(), '\n'), 4);
}

// A burst of announcements writes the cache once a second; what is left
// waits for the loop's next turn.
TEST_F(Discovery, CacheIsWrittenAtMostOnceASecond) {
    std::string line = "16777343 " + std::to_string(client.port) + " ";
    bool sameSecond = false;
    for (int attempt = 0; attempt < 5 && !sameSecond; ++attempt) {
        time_t t = time(nullptr);
        ns->ksWritten = t;
        EXPECT_EQ(deliver("UZd " + client.at()), 1);
        sameSecond = time(nullptr) == t;
    }
    ASSERT_TRUE(sameSecond);
    EXPECT_TRUE(ns->ksChanged);
    EXPECT_EQ(test::readFile(uzd.cacheFileName).find(line), std::string::npos);
    ns->ksWritten = 0;  // a second later
    ns->writeKnownServersIfDue();
    EXPECT_FALSE(ns->ksChanged);
    EXPECT_NE(test::readFile(uzd.cacheFileName).find(line), std::string::npos);
}

TEST_F(Discovery, ForeignOrBrokenDatagramsGetNoAnswer) {
    const std::string many(65000, 'A');
    const std::string p = std::to_string(client.port);
    struct Case {
        std::string text;
        const char* logged;
    } cases[] = {
        {"UZC 127.0.0.2:" + p + " kivoserv \"a\" R19K", "Invalid iaddr/port specification received"},
        {"UZD 127.0.0.2:" + p, "Invalid iaddr/port specification received"},
        {"UZC 127.0.0.1:1" + p, "Invalid iaddr/port specification received"},  // not the sender's port
        {"UZC 127.0.0.1" + p, "No inet addr in broadcast message"},
        {"UZC 127.0.0.1:0", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.1:x", "Invalid port number in broadcast message"},
        {"UZC 127.0.0.1:70000", "Invalid port number in broadcast message"},
        {"UZC", "Missing peer-ID in broadcast message"},
        {many, "Missing peer-ID in broadcast message"},
        {"XYZ " + client.at(), "Invalid peer-ID <XYZ> received in UDP message"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        log.lines.clear();
        EXPECT_EQ(deliver(c.text), 0);
        EXPECT_TRUE(client.pending().empty());
        EXPECT_NE(log.all().find(c.logged), std::string::npos) << log.all();
    }
    EXPECT_TRUE(ns->ks->entries.empty());

    log.lines.clear();
    EXPECT_EQ(deliver(""), 0);
    EXPECT_TRUE(client.pending().empty());
    EXPECT_TRUE(log.lines.empty()) << log.all();
}

TEST_F(Discovery, CentralServerGetsOneLineAndNoDescriptorLeaks) {
    auto openFds = [] {
        int n = 0;
        DIR* d = opendir("/proc/self/fd");
        while (d != nullptr && readdir(d) != nullptr) ++n;
        if (d != nullptr) closedir(d);
        return n;
    };
    Udp central;
    int before = openFds();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(ns->informCentralServer(central.at().c_str(), i % 2), 1);
        if (i % 100 == 0) central.pending();
    }
    EXPECT_EQ(openFds(), before);
    central.pending();

    ASSERT_EQ(ns->informCentralServer(central.at().c_str(), 0), 1);
    ASSERT_EQ(ns->informCentralServer(central.at().c_str(), 1), 1);
    std::string tail = ":" + std::to_string(server.port) + " " + test::serverIdentity() + "\n";
    std::vector<std::string> got = central.pending();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "UZD" + ns->bResp.substr(3));
    EXPECT_EQ(got[1], "UZR" + ns->bResp.substr(3));
    EXPECT_TRUE(log.has("Dbg.: Sent: " + got[1].substr(0, got[1].size() - 1))) << log.all();

    EXPECT_EQ(ns->informCentralServer("127.0.0.1", 0), 0);
    EXPECT_EQ(ns->informCentralServer(nullptr, 0), 0);
    EXPECT_TRUE(log.has("Warn: Could not interpret CentralServer address 127.0.0.1")) << log.all();
    EXPECT_EQ(openFds(), before);
}

}  // namespace
}  // namespace ruva
