// The search operations over a real socket: the bytes each call sends, the
// search time-out and the session's state after a reply cut short.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "tests/bmod/ruvaserv/client/session_wire_support.h"

namespace ruva {
namespace {

// A bound on every wait of the peer, so that a broken client fails the test
// instead of hanging it.
constexpr int kPeerWaitMs = 10000;
constexpr const char* kGreeting = "200 UZD ruvadaemon \"x\" R19K \"\"\n";

struct Reply {
    std::string bytes;
    bool stall = false;  // after the bytes, nothing until the client closes
};

// A loopback server: greets each connection, answers each command line with
// the next reply of its script (QUIT with its own line) and records every
// byte it receives. It serves connections one after the other until the
// script is used up and the client has closed.
class LinePeer {
public:
    explicit LinePeer(std::vector<Reply> script) : script_(std::move(script)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(fd_, 4) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~LinePeer() {
        if (thread_.joinable()) thread_.join();
        if (fd_ >= 0) ::close(fd_);
    }
    LinePeer(const LinePeer&) = delete;
    LinePeer& operator=(const LinePeer&) = delete;

    unsigned port() const { return port_; }
    // Everything received, once the client has closed for good.
    std::string received() {
        if (thread_.joinable()) thread_.join();
        return got_;
    }

private:
    static bool readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, kPeerWaitMs) == 1;
    }
    static void write(int fd, const std::string& bytes) {
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }

    void run() {
        while (readable(fd_)) {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            write(c, kGreeting);
            serve(c);
            ::close(c);
            if (next_ == script_.size()) return;
        }
    }

    void serve(int c) {
        std::string pending;
        char buf[4096];
        for (;;) {
            if (!readable(c)) return;
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) return;
            got_.append(buf, n);
            pending.append(buf, n);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (line.rfind("QUIT", 0) == 0) {
                    write(c, "200-See you later.\n");
                    return;
                }
                if (next_ == script_.size()) {
                    write(c, "500 Not in the script\n");
                    continue;
                }
                const Reply& r = script_[next_++];
                write(c, r.bytes);
                if (r.stall) {
                    while (readable(c) && ::recv(c, buf, sizeof buf, 0) > 0) {
                    }
                    return;
                }
            }
        }
    }

    std::vector<Reply> script_;
    size_t next_ = 0;
    int fd_ = -1;
    unsigned port_ = 0;
    std::string got_;
    std::thread thread_;
};

class SearchWire : public ::testing::Test {
protected:
    static std::unique_ptr<UzSession> sessionTo(const LinePeer& peer) { return test::sessionTo(peer.port(), 10); }
};

const std::string kQxHeader = "300-Database Filename Hash DocType Score Tokens Comment\n";
const std::string kQxDone = "200-QXSRCH executed.\n";

TEST_F(SearchWire, FilteringBitmapSetsTheClientFlagForGood) {
    LinePeer peer({{kQxHeader + "300 \"a.kvo\" 12 \"x.html\" HTML 0 [safe] Safe\n" + kQxDone},
                   {kQxHeader + "349 \"F\" \"b.kvo\" 13\n" + kQxDone},
                   {kQxHeader + kQxDone}});
    {
        auto s = sessionTo(peer);
        int filtered = 0;
        s->isLibFiltered = &filtered;
        auto r = s->qxsrch("safe*", "12 13", "ctw.qxx", 50, "0|1 0|0", 0);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->resultCode, 200);
        EXPECT_EQ(filtered, 1);
        const UzQxSearchEntry* e = r->qxsrch();
        EXPECT_EQ(e->servname, "127.0.0.1:" + std::to_string(peer.port()));
        ASSERT_NE(e->next, nullptr);
        EXPECT_EQ(e->next->database, "b.kvo");
        // A later call with a plain bitmap leaves the flag as it was.
        r = s->qxsrch("safe*", "14", "ctw.qxx", 50, "0|0", 0);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(filtered, 1);
        EXPECT_FALSE(s->searchRead);
    }
    EXPECT_EQ(peer.received(),
              "QXSRCH \"safe*\" 12 ctw.qxx 0 0|1\n"
              "QXSRCH \"safe*\" 13 ctw.qxx 50\n"
              "QXSRCH \"safe*\" 14 ctw.qxx 50\n"
              "QUIT\n");
}

TEST_F(SearchWire, CountTwoOfThreeLibrariesSendsTwoLines) {
    LinePeer peer({{kQxHeader + kQxDone}, {kQxHeader + kQxDone}});
    {
        auto s = sessionTo(peer);
        auto r = s->qxsrch("safe", "\"12 13 14\"", "title.qxx", 0, std::nullopt, 2);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->resultCode, 200);
        EXPECT_EQ(r->resultMessage, "QXSRCH executed.");
    }
    EXPECT_EQ(peer.received(), "QXSRCH safe 12 title.qxx 0\nQXSRCH safe 13 title.qxx 0\nQUIT\n");
}

TEST_F(SearchWire, StalledSearchTimesOutAndTheSessionRecovers) {
    test::WaitsScope guard;
    UzWaits waits = uzWaits();
    waits.qxsrch = std::chrono::seconds(1);
    setUzWaits(waits);
    LinePeer peer({{kQxHeader, true}, {"200 Version: ruvadaemon \"x\" R19K \"\"\n"}});
    auto s = sessionTo(peer);
    auto r = s->qxsrch("safe", "12", "ctw.qxx", 0, std::nullopt, 1);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->srchtimedout, 1);
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(r->resultMessage, getMsgStr(416, "uzsession/27"));
    EXPECT_EQ(s->flags & kSessConnected, 0);
    EXPECT_FALSE(s->searchRead);
    auto v = s->ver();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->resultCode, 200);
}

TEST_F(SearchWire, UnreadableQxdtEntryDisconnects) {
    LinePeer peer({{"300-Header\n300 X 1\n300 N 1 2 3 4 5 t\n200-QXDT executed.\n"},
                   {"200 Version: ruvadaemon \"x\" R19K \"\"\n"}});
    auto s = sessionTo(peer);
    auto r = s->qxdt("a*", "12", "ctw.qxx");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(r->resultMessage, getMsgStr(407, "uzsession/25"));
    EXPECT_EQ(s->flags & kSessConnected, 0);
    // The rest of that reply is never read as the next one.
    auto v = s->ver();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->resultCode, 200);
}

TEST_F(SearchWire, CommandLinesGoOutAsBuilt) {
    const std::string done = "200-executed.\n";
    LinePeer peer(
        {{"300-h\n300 \"guide.kvo\" \"a.pu\" ABC \"B1\" \"\" \"\" \"4\" \"5\" \"\" \"R1A\" \"8\" \n" + done},
         {done},
         {done},
         {done},
         {"400 Unknown command <QXDT>. Try HELP.\n"}});
    {
        auto s = sessionTo(peer);
        auto pu = s->pusrch("g*.kvo", "*.pu", {"12*", "A\"B"});
        ASSERT_NE(pu, nullptr);
        EXPECT_EQ(pu->pusrch()->puLine[6], "R1A");
        EXPECT_NE(s->msrch("guide", "1"), nullptr);
        EXPECT_NE(s->mpsrch("Guide*", "", "2020", "", "", "7"), nullptr);
        EXPECT_NE(s->srch("safe", "guide.kvo", "*.html", 0, "a b"), nullptr);
        auto dt = s->qxdt("a b", "12", "ctw.qxx");
        ASSERT_NE(dt, nullptr);
        EXPECT_EQ(dt->resultCode, 400);
        EXPECT_EQ(dt->resultMessage, "Unknown command <QXDT>. Try HELP.");
        // A field that would end in \" inside its quotes is refused unsent.
        EXPECT_EQ(s->pusrch("g*.kvo", "*.pu", {"a\\"}), nullptr);
        EXPECT_NE(s->getError().find("invalid character in argument"), std::string::npos);
    }
    EXPECT_EQ(peer.received(),
              "PUSRCH \"g*.kvo\" *.pu \"12*\" \"A\\\"B\"\n"
              "MSRCH guide\n"
              "MPSRCH Guide* \"\" 2020 \"\" \"\" 7\n"
              "SRCH safe \"guide.kvo\" *.html 0 \"a b\"\n"
              "QXDT a b 12 ctw.qxx\n"
              "QUIT\n");
}

}  // namespace
}  // namespace ruva
