// The session transport over real sockets: a socketpair for the line
// reader and raw reads, a loopback listener played by a thread for
// connecting, greetings, the proxy fallback and sending.
#include "bmod/ruvaserv/client/uzsession.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/fd_io.h"

namespace ruva {
namespace {

using namespace std::chrono_literals;

const in_addr_t kLoopback = htonl(INADDR_LOOPBACK);

std::string msg(int index, const char* tag) {
    return formatChecked(msgFormat(index, tag));
}
std::string msg(int index, const char* tag, const char* arg) {
    return formatChecked(msgFormat(index, tag), arg);
}

// Restores the production waits when a test has shortened them.
class WaitsGuard {
public:
    explicit WaitsGuard(const UzWaits& waits) { setUzWaits(waits); }
    ~WaitsGuard() { setUzWaits(UzWaits{}); }
};

// ---- the peer's side: plain blocking sockets

void put(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

// Up to n bytes, waiting at most 5 s for each piece; fewer at end of stream.
std::string take(int fd, size_t n) {
    std::string got;
    std::vector<char> buffer(65536);
    while (got.size() < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) break;
        ssize_t r = ::recv(fd, buffer.data(), std::min(buffer.size(), n - got.size()), 0);
        if (r <= 0) break;
        got.append(buffer.data(), static_cast<size_t>(r));
    }
    return got;
}

// One line with its '\n' (what came before the end of stream without one),
// leaving what follows it unread.
std::string takeLine(int fd) {
    std::string line;
    std::vector<char> buffer(65536);
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return line;
        ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_PEEK);
        if (n <= 0) return line;
        auto end = std::find(buffer.begin(), buffer.begin() + n, '\n');
        size_t want = static_cast<size_t>(end - buffer.begin()) + (end != buffer.begin() + n ? 1 : 0);
        line += take(fd, want);
        if (!line.empty() && line.back() == '\n') return line;
    }
}

// Ends the connection with a reset instead of an orderly close.
void resetClose(Fd& fd) {
    linger hard{1, 0};
    setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    fd.reset();
}

// A loopback listener; the connections it takes are blocking.
class Listener {
public:
    explicit Listener(int backlog = 8) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = kLoopback;
        socklen_t length = sizeof a;
        EXPECT_EQ(::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd_.get(), backlog), 0);
        EXPECT_EQ(getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &length), 0);
        port_ = ntohs(a.sin_port);
    }
    unsigned port() const { return port_; }
    // The next connection, or none within waitMs.
    Fd accept(int waitMs = 5000) const {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0) return Fd();
        return Fd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }
    bool hasPending() const {
        pollfd p{fd_.get(), POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }
    void close() { fd_.reset(); }

private:
    Fd fd_;
    unsigned port_ = 0;
};

// A port nothing listens on.
unsigned closedPort() {
    Listener l;
    unsigned port = l.port();
    l.close();
    return port;
}

// Backlog 0 holds one connection, which this makes; the next one's SYN
// goes unanswered and its connect stays pending.
Fd fill(const Listener& backlogZero) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = kLoopback;
    a.sin_port = htons(static_cast<uint16_t>(backlogZero.port()));
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) fd.reset();
    return fd;
}

constexpr std::string_view kGreeting = "200 UZD ruvadaemon \"\" R19K \"\"\n";

std::unique_ptr<UzSession> sessionAt(unsigned port, time_t commandTimeout = 5) {
    auto s = std::make_unique<UzSession>();
    s->iaddr = kLoopback;
    s->port = port;
    s->commandTimeout = commandTimeout;
    return s;
}

// A connected session over a socketpair; peer is the server's end. The
// peer goes first, so the session's QUIT finds it closed.
struct Paired {
    std::unique_ptr<UzSession> session = std::make_unique<UzSession>();
    Fd peer;

    Paired() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        session->sockfd = fds[0];
        session->flags |= kSessConnected;
        session->commandTimeout = 5;
        peer.reset(fds[1]);
    }
    std::string line() {
        int n = session->getPeerCommand(0);
        return n < 0 ? "<" + std::to_string(n) + ">"
                     : std::string(session->getResultPrintout(), static_cast<size_t>(n));
    }
};

// Writes each chunk with a pause between, so that reads see them apart.
std::thread writeChunks(int fd, std::vector<std::string> chunks, bool closeAfter) {
    return std::thread([fd, chunks = std::move(chunks), closeAfter] {
        for (const std::string& c : chunks) {
            put(fd, c);
            std::this_thread::sleep_for(1ms);
        }
        if (closeAfter) ::shutdown(fd, SHUT_WR);
    });
}

// ---- reading lines

enum class Tail { kOpen, kClosedMidLine, kClosedByServer };

struct LineCase {
    const char* name;
    std::vector<std::string> chunks;
    bool closeAfter;
    std::vector<std::string> lines;
    Tail tail;
};

std::vector<std::string> bytewise(std::string_view text) {
    std::vector<std::string> out;
    for (char c : text) out.emplace_back(1, c);
    return out;
}

std::vector<LineCase> lineCases() {
    const std::string full(kReplyLineMax, 'a');
    const std::string longest(kReplyLineMax - 1, 'b');
    return {
        {"one byte per send",
         bytewise("300 \"x\" y\n200-SRCH executed.\n"),
         false,
         {"300 \"x\" y", "200-SRCH executed."},
         Tail::kOpen},
        {"two lines per write", {"300 a\n200-b\n"}, false, {"300 a", "200-b"}, Tail::kOpen},
        {"LF", {"x\n"}, false, {"x"}, Tail::kOpen},
        {"CR", {"x\ry\r"}, false, {"x", "y"}, Tail::kOpen},
        {"CR LF is one line end", {"x\r\ny\r\n", "z\n"}, false, {"x", "y", "z"}, Tail::kOpen},
        {"CR LF split between reads", {"x\r", "\ny\n"}, false, {"x", "y"}, Tail::kOpen},
        {"CR CR LF", {"x\r\r\ny\n"}, false, {"x", "", "y"}, Tail::kOpen},
        {"LF CR", {"x\n\ry\n"}, false, {"x", "", "y"}, Tail::kOpen},
        {"empty line", {"\n"}, false, {""}, Tail::kOpen},
        {"131143 characters", {longest + "\n"}, false, {longest}, Tail::kOpen},
        {"131144 characters and LF", {full + "\n", "b\n"}, false, {full, "b"}, Tail::kOpen},
        {"131144 characters and CR LF apart", {full, "\r", "\nb\n"}, false, {full, "b"}, Tail::kOpen},
        {"131145 characters come in pieces", {full, "b\n"}, false, {full, "b"}, Tail::kOpen},
        {"longer lines come in pieces", {full + full + "tail\n"}, false, {full, full, "tail"}, Tail::kOpen},
        {"pieces of the full length", {full + full + "\n\n"}, false, {full, full, ""}, Tail::kOpen},
        {"200", {"200\n"}, false, {"200"}, Tail::kOpen},
        {"20", {"20\n"}, false, {"20"}, Tail::kOpen},
        {"end of stream mid-line", {"300 par", "tial"}, true, {"300 partial"}, Tail::kClosedMidLine},
        {"end of stream after a line", {"200 x\n"}, true, {"200 x"}, Tail::kClosedByServer},
        {"end of stream at once", {}, true, {}, Tail::kClosedByServer},
    };
}

TEST(UzSessionLines, ReadsEachLineWhateverTheReadsBring) {
    for (const LineCase& c : lineCases()) {
        SCOPED_TRACE(c.name);
        Paired p;
        std::thread writer = writeChunks(p.peer.get(), c.chunks, c.closeAfter);
        for (const std::string& expected : c.lines) EXPECT_EQ(p.line(), expected);
        writer.join();
        switch (c.tail) {
            case Tail::kOpen:
                EXPECT_TRUE(p.session->flags & kSessConnected);
                EXPECT_EQ(p.session->restCnt, 0u);
                break;
            case Tail::kClosedMidLine:
                EXPECT_FALSE(p.session->flags & kSessConnected);
                EXPECT_EQ(p.line(), "<-1>");
                EXPECT_EQ(p.session->getError(), msg(453, "uzsession/62"));
                break;
            case Tail::kClosedByServer:
                EXPECT_EQ(p.line(), "<-1>");
                EXPECT_EQ(p.session->getError(), msg(454, "uzsession/63", "connection closed by server"));
                EXPECT_FALSE(p.session->flags & kSessConnected);
                EXPECT_EQ(p.session->sockfd, -1);
                break;
        }
    }
}

TEST(UzSessionLines, TimeOutDisconnects) {
    Paired p;
    EXPECT_EQ(p.session->getPeerCommand(1), -1);
    EXPECT_EQ(p.session->getError(), msg(454, "uzsession/63", strerror(ETIMEDOUT)));
    EXPECT_FALSE(p.session->flags & kSessConnected);
}

TEST(UzSessionLines, SearchTimeOutHasItsOwnStatus) {
    Paired p;
    put(p.peer.get(), "300 \"a");  // half a hit line, then silence
    p.session->searchRead = true;
    EXPECT_EQ(p.session->getPeerCommand(1), kSearchTimedOut);
    EXPECT_FALSE(p.session->searchRead);
    // Whatever the server still sends belongs to the abandoned reply.
    EXPECT_FALSE(p.session->flags & kSessConnected);
}

TEST(UzSessionLines, NotConnectedFailsAtOnce) {
    UzSession s;
    char c = 0;
    EXPECT_EQ(s.getPeerCommand(0), -1);
    EXPECT_EQ(s.getError(), msg(453, "uzsession/62"));
    EXPECT_EQ(s.readSocket(&c, 1), -1);
    EXPECT_EQ(s.readPayload(&c, 1), -1);
}

// ---- raw data after a length line

struct PayloadCase {
    const char* name;
    std::vector<std::string> chunks;
    std::string header;
    std::string payload;
    std::string after;
};

TEST(UzSessionPayload, TakesTheSurplusThenTheSocketExactly) {
    const std::string withNul("ab\0cd\nef", 8);
    const PayloadCase cases[] = {
        {"payload in the header's read",
         {"300-Length 8\n" + withNul + "300-CRC 0x1\n"},
         "300-Length 8",
         withNul,
         "300-CRC 0x1"},
        {"payload split over reads",
         {"300-Length 8\nab", std::string("\0cd\n", 4), "ef300-CRC 0x1\n"},
         "300-Length 8",
         withNul,
         "300-CRC 0x1"},
        {"LF after a CR header is payload",
         {"300-Length 2\r\nX200-RETR executed.\r\n", "200 next\n"},
         "300-Length 2",
         "\nX",
         "200-RETR executed."},
    };
    for (const PayloadCase& c : cases) {
        SCOPED_TRACE(c.name);
        Paired p;
        std::thread writer = writeChunks(p.peer.get(), c.chunks, false);
        EXPECT_EQ(p.line(), c.header);
        std::string data;
        char buffer[3];
        while (data.size() < c.payload.size()) {
            ssize_t n =
                p.session->readPayload(buffer, std::min(sizeof buffer, c.payload.size() - data.size()));
            ASSERT_GT(n, 0);
            data.append(buffer, static_cast<size_t>(n));
        }
        EXPECT_EQ(data, c.payload);
        EXPECT_EQ(p.line(), c.after);
        writer.join();
    }
}

TEST(UzSessionPayload, ReadSocketGivesZeroForSilenceAndForTheEnd) {
    Paired p;
    p.session->commandTimeout = 1;
    char buffer[8];
    EXPECT_EQ(p.session->readSocket(buffer, sizeof buffer), 0);
    EXPECT_TRUE(p.session->flags & kSessConnected);
    ::shutdown(p.peer.get(), SHUT_WR);
    EXPECT_EQ(p.session->readSocket(buffer, sizeof buffer), 0);
    EXPECT_FALSE(p.session->flags & kSessConnected);
}

// ---- classification

TEST(UzSessionClassify, ClassifiesByFirstAndFourthCharacter) {
    struct Case {
        std::optional<std::string> line;  // none: no line
        UzLineKind kind;
        int code;
        std::string text;
    } const cases[] = {
        {std::nullopt, UzLineKind::kNone, 0, ""},
        {"", UzLineKind::kShort, 0, ""},
        {"20", UzLineKind::kShort, 20, ""},
        {"400 Unknown command <QXDT>. Try HELP.", UzLineKind::kError, 400,
         "Unknown command <QXDT>. Try HELP."},
        {"500-Failed, inflate error", UzLineKind::kError, 500, "Failed, inflate error"},
        {"577 Library \"b.kvo\" is being updated.", UzLineKind::kError, 577,
         "Library \"b.kvo\" is being updated."},
        {"abc", UzLineKind::kError, 0, ""},
        {"200-RETR executed.", UzLineKind::kEnd, 200, "RETR executed."},
        {"300-Length 5", UzLineKind::kHeader, 300, "Length 5"},
        {"310-Failed to unzip a b", UzLineKind::kHeader, 310, "Failed to unzip a b"},
        {"300 \"a\" b", UzLineKind::kEntry, 300, "\"a\" b"},
        {"200 EN", UzLineKind::kEntry, 200, "EN"},
        {"200", UzLineKind::kEntry, 200, ""},
        {"200 ", UzLineKind::kEntry, 200, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.value_or("(none)"));
        UzSession s;
        int length = -1;
        if (c.line) {
            std::memcpy(s.cmd.data(), c.line->c_str(), c.line->size() + 1);
            length = static_cast<int>(c.line->size());
        }
        UzLine l = s.classifyLine(length);
        EXPECT_EQ(l.kind, c.kind);
        EXPECT_EQ(l.code, c.code);
        EXPECT_EQ(l.text, c.text);
    }
    UzSession s;
    EXPECT_EQ(s.classifyLine(kSearchTimedOut).kind, UzLineKind::kNone);
}

// ---- connecting and the greeting

TEST(UzSessionConnect, ReadsTheGreeting) {
    struct Case {
        const char* name;
        std::optional<std::string> greeting;  // none: the server stays silent; "": it closes
        bool responds;
        int code;
        std::string message;  // resultMessage, or getError when no response
        bool connected;
        std::optional<std::string> servName;
        std::string article, revision, comment;
        bool denied;
    } const cases[] = {
        {"words and quoted words", "200 UZD a \"b\" c \"d\"\n", true, 200, "UZD a \"b\" c \"d\"", true, "a",
         "b", "c", "d", false},
        {"CR LF and empty words", "200 UZD ruvadaemon \"\" R19K \"\"\r\n", true, 200,
         "UZD ruvadaemon \"\" R19K \"\"", true, "ruvadaemon", "", "R19K", "", false},
        {"UZD alone", "200 UZD\n", true, 200, "UZD", true, std::nullopt, "", "", "", false},
        {"not UZD", "200 XYZ ruvadaemon \"\" R19K \"\"\n", true, 500, msg(384, "uzsession/5"), false,
         std::nullopt, "", "", "", false},
        {"access denied", "500 Access denied.\n", true, 500, "Access denied.", false, std::nullopt, "", "",
         "", true},
        {"other refusal", "400 <b>busy</b>\n", true, 400, "<b>busy</b>", false, std::nullopt, "", "", "",
         true},
        {"short", "20\n", true, 500, msg(383, "uzsession/4"), false, std::nullopt, "", "", "", false},
        {"three characters are short too", "200\n", true, 500, msg(383, "uzsession/4"), false, std::nullopt,
         "", "", "", false},
        {"silence", std::nullopt, false, 0, msg(454, "uzsession/63", strerror(ETIMEDOUT)), false,
         std::nullopt, "", "", "", false},
        {"closed at once", "", false, 0, msg(454, "uzsession/63", "connection closed by server"), false,
         std::nullopt, "", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listener server;
        std::thread peer([&] {
            Fd conn = server.accept();
            if (c.greeting && c.greeting->empty()) return;
            if (c.greeting) put(conn.get(), *c.greeting);
            take(conn.get(), 1);  // until the session goes
        });
        auto s = sessionAt(server.port(), 1);
        std::unique_ptr<UzResponse> r = s->connect();
        ASSERT_EQ(r != nullptr, c.responds);
        if (r) {
            EXPECT_EQ(r->resultCode, c.code);
            EXPECT_EQ(r->resultMessage, c.message);
            EXPECT_EQ(r->connect()->servName, c.servName);
            EXPECT_EQ(r->connect()->article, c.article);
            EXPECT_EQ(r->connect()->revision, c.revision);
            EXPECT_EQ(r->connect()->comment, c.comment);
        } else {
            EXPECT_EQ(s->getError(), c.message);
        }
        EXPECT_EQ((s->flags & kSessConnected) != 0, c.connected);
        EXPECT_EQ((s->flags & kSessAccessDenied) != 0, c.denied);
        if (!c.connected) {
            EXPECT_EQ(s->sockfd, -1);
        }
        // A refusal reaches the error text too, escaped for the page.
        if (c.denied) {
            EXPECT_NE(s->getError().find(c.code == 500 ? "Access denied." : "&#60;b&#62;busy"),
                      std::string::npos);
            EXPECT_EQ(s->getError().find('<'), std::string::npos);
        }
        s->disconnect();
        peer.join();
    }
}

TEST(UzSessionConnect, RefusedWithoutProxyFailsAtOnceWithTheSystemError) {
    auto s = sessionAt(closedPort());
    EXPECT_EQ(s->connect(), nullptr);
    EXPECT_EQ(s->getError(), strerror(ECONNREFUSED));
    EXPECT_EQ(s->sockfd, -1);
}

TEST(UzSessionConnect, PendingConnectTimesOut) {
    WaitsGuard waits([] {
        UzWaits w;
        w.connect = 1s;
        return w;
    }());
    Listener full(0);
    Fd filler = fill(full);
    ASSERT_TRUE(filler.valid());
    auto s = sessionAt(full.port());
    EXPECT_EQ(s->connect(), nullptr);
    EXPECT_EQ(s->getError(), msg(382, "uzsession/3", s->getServerAddr().c_str()));
}

TEST(UzSessionConnect, ReconnectingDropsTheOldConnection) {
    Listener server;
    std::thread peer([&] {
        Fd first = server.accept();
        put(first.get(), kGreeting);
        Fd second = server.accept();
        put(second.get(), kGreeting);
        EXPECT_EQ(take(first.get(), 1), "");  // closed by the second connect
    });
    auto s = sessionAt(server.port());
    ASSERT_NE(s->connect(), nullptr);
    auto r = s->connect();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_TRUE(s->flags & kSessConnected);
    s->disconnect();
    s->disconnect();  // twice is harmless
    EXPECT_EQ(s->sockfd, -1);
    peer.join();
}

// ---- the telnet proxy

TEST(UzSessionProxy, CommandIsNoFormat) {
    struct Case {
        const char* command;
        const char* expected;
    } const cases[] = {
        {"connect %s %s\r\n", "connect 10.0.0.1 9229\r\n"},
        {"%n %d %s %s %x", "%n %d 10.0.0.1 9229 %x"},
        {"open %s:%s %s", "open 10.0.0.1:9229 %s"},
        {"100%% %s %%s %s", "100% 10.0.0.1 %s 9229"},
        {"%", "%"},
        {"no words", "no words"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatProxyCommand(c.command, "10.0.0.1", "9229"), c.expected) << c.command;
}

// The server port the injected connect refuses, with the errno to give.
std::atomic<unsigned> gUnreachablePort{0};
std::atomic<int> gUnreachableErrno{0};

int unreachableConnect(int fd, const sockaddr* addr, socklen_t length) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(addr);
    if (ntohs(in->sin_port) == gUnreachablePort) {
        errno = gUnreachableErrno;
        return -1;
    }
    return ::connect(fd, addr, length);
}

class ConnectGuard {
public:
    explicit ConnectGuard(UzConnectFunction f) : old_(setUzConnectFunction(f)) {}
    ~ConnectGuard() { setUzConnectFunction(old_); }

private:
    UzConnectFunction old_;
};

// Plays a telnet proxy and the server behind it: a line on connect, the
// command read and kept, a line of its own, then the server's greeting and
// one answer to VER.
struct ProxyPeer {
    Listener listener;
    std::string command;
    std::thread thread;

    explicit ProxyPeer(bool withCommand, int noiseLines = 1) {
        thread = std::thread([this, withCommand, noiseLines] {
            Fd conn = listener.accept();
            if (!conn.valid()) return;
            if (withCommand) {
                put(conn.get(), "Proxy ready\r\n");
                command = takeLine(conn.get());
                for (int i = 0; i < noiseLines; ++i) put(conn.get(), "Trying 127.0.0.1...\r\n");
            }
            put(conn.get(), "200 UZD proxied \"\" R19K \"\"\n");
            if (takeLine(conn.get()) == "VER\n") put(conn.get(), "200 Version: proxied \"\" R19K \"\"\n");
            take(conn.get(), 1);
        });
    }
    ~ProxyPeer() {
        if (thread.joinable()) thread.join();
    }
};

void allowProxy(UzSession& s, const ProxyPeer& proxy, const char* command) {
    s.flags |= kSessProxyAllowed;
    s.proxyIaddr = kLoopback;
    s.proxyPort = proxy.listener.port();
    s.proxyCmd = command;
}

TEST(UzSessionProxy, EachFallbackConditionReachesTheServerThroughTheProxy) {
    WaitsGuard waits([] {
        UzWaits w;
        w.connect = 1s;
        return w;
    }());
    enum class Way { kRefused, kSilent, kPending, kNetUnreachable, kHostUnreachable, kPlainForwarder };
    struct Case {
        const char* name;
        Way way;
    } const cases[] = {
        {"refused", Way::kRefused},
        {"silent server", Way::kSilent},
        {"pending connect", Way::kPending},
        {"network unreachable", Way::kNetUnreachable},
        {"host unreachable", Way::kHostUnreachable},
        {"plain forwarder", Way::kPlainForwarder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<Listener> server;
        Fd filler;
        ConnectGuard guard(unreachableConnect);
        unsigned serverPort = 0;
        gUnreachablePort = 0;
        switch (c.way) {
            case Way::kRefused:
            case Way::kPlainForwarder:
                serverPort = closedPort();
                break;
            case Way::kSilent:
                server.emplace();
                serverPort = server->port();
                break;
            case Way::kPending: {
                server.emplace(0);
                serverPort = server->port();
                filler = fill(*server);
                ASSERT_TRUE(filler.valid());
                break;
            }
            case Way::kNetUnreachable:
            case Way::kHostUnreachable:
                server.emplace();
                serverPort = server->port();
                gUnreachablePort = serverPort;
                gUnreachableErrno = c.way == Way::kNetUnreachable ? ENETUNREACH : EHOSTUNREACH;
                break;
        }
        const bool withCommand = c.way != Way::kPlainForwarder;
        ProxyPeer proxy(withCommand);
        auto s = sessionAt(serverPort, c.way == Way::kSilent ? 1 : 5);
        allowProxy(*s, proxy, withCommand ? "connect %s %s\r\n" : "");
        std::unique_ptr<UzResponse> r = s->connect();
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, 200);
        EXPECT_EQ(r->connect()->servName, "proxied");
        if (withCommand) {
            EXPECT_EQ(proxy.command, "connect 127.0.0.1 " + std::to_string(serverPort) + "\r\n");
        }
        EXPECT_FALSE(s->flags & kSessAccessDenied);
        // Only a direct greeting shows the proxy is no longer needed.
        EXPECT_TRUE(s->flags & kSessProxyAllowed);
        ASSERT_EQ(s->sendCommand("VER"), 1);
        EXPECT_GT(s->getPeerCommand(0), 0);
        EXPECT_STREQ(s->getResultPrintout(), "200 Version: proxied \"\" R19K \"\"");
        s->disconnect();
    }
}

TEST(UzSessionProxy, DirectGreetingEndsTheFallback) {
    Listener server;
    std::thread peer([&] {
        Fd conn = server.accept();
        put(conn.get(), kGreeting);
        take(conn.get(), 1);
    });
    auto s = sessionAt(server.port());
    s->flags |= kSessProxyAllowed;
    s->proxyIaddr = kLoopback;
    s->proxyPort = closedPort();
    auto r = s->connect();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_FALSE(s->flags & kSessProxyAllowed);
    s->disconnect();
    peer.join();
}

TEST(UzSessionProxy, GreetingMustComeWithinThirtyTwoLines) {
    for (int noise : {31, 32}) {
        SCOPED_TRACE(noise);
        ProxyPeer proxy(true, noise);
        auto s = sessionAt(closedPort());
        allowProxy(*s, proxy, "connect %s %s\r\n");
        std::unique_ptr<UzResponse> r = s->connect();
        if (noise == 31) {
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(r->resultCode, 200);
        } else {
            EXPECT_EQ(r, nullptr);
            EXPECT_EQ(s->getError(), msg(384, "uzsession/5"));
        }
        s->disconnect();
    }
}

// ---- building command lines

TEST(UzSessionSend, BuildsArgumentsByKind) {
    using K = UzArgKind;
    struct Case {
        const char* name;
        UzArg arg;
        int result;
        std::string line;
    } const cases[] = {
        {"raw", {"12 34", K::kRaw}, 0, "W 12 34\n"},
        {"raw may end in a backslash", {"x\\", K::kRaw}, 0, "W x\\\n"},
        {"free text plain", {"x.kvo", K::kFreeText}, 0, "W x.kvo\n"},
        {"free text with a blank", {"a b", K::kFreeText}, 0, "W \"a b\"\n"},
        {"free text with a quote", {"it's", K::kFreeText}, 0, "W \"it's\"\n"},
        {"free text with a double quote", {"a\"b", K::kFreeText}, 0, "W \"a\\\"b\"\n"},
        {"free text empty", {"", K::kFreeText}, 0, "W \"\"\n"},
        {"free text unquoted may end in a backslash", {"a\\", K::kFreeText}, 0, "W a\\\n"},
        {"library with a dot", {"x.kvo", K::kLibrary}, 0, "W \"x.kvo\"\n"},
        {"library pattern without a dot", {"g*", K::kLibrary}, 0, "W g*\n"},
        {"library id", {"1234", K::kLibrary}, 0, "W 1234\n"},
        {"library identity with a blank", {"[EN/DOCLIB1 R1A]", K::kLibrary}, 0, "W \"[EN/DOCLIB1 R1A]\"\n"},
        {"library already quoted", {"\"x.kvo\"", K::kLibrary}, 0, "W \"x.kvo\"\n"},
        {"library empty is left out", {"", K::kLibrary}, 0, "W\n"},
        {"pattern of letters", {"abc", K::kPattern}, 0, "W abc\n"},
        {"pattern with a blank", {"a b*", K::kPattern}, 0, "W \"a b*\"\n"},
        {"pattern empty", {"", K::kPattern}, 0, "W \"\"\n"},
        {"field", {"x", K::kField}, 0, "W \"x\"\n"},
        {"field with a double quote", {"a\"b", K::kField}, 0, "W \"a\\\"b\"\n"},
        {"field empty", {"", K::kField}, 0, "W \"\"\n"},
        {"CR", {"a\rb", K::kRaw}, 462, ""},
        {"LF", {"a\nb", K::kFreeText}, 462, ""},
        {"NUL", {std::string_view("a\0b", 3), K::kLibrary}, 462, ""},
        {"quoted free text ending in a backslash", {"a b\\", K::kFreeText}, 462, ""},
        {"field ending in a backslash", {"x\\", K::kField}, 462, ""},
        {"pattern ending in a backslash", {"x\\", K::kPattern}, 462, ""},
        {"library ending in a backslash", {"x.kvo\\", K::kLibrary}, 462, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        const UzArg args[] = {c.arg};
        EXPECT_EQ(buildCommandLine("W", args, &line), c.result);
        if (c.result == 0) {
            EXPECT_EQ(line, c.line);
        }
    }
}

TEST(UzSessionSend, LineLengthLimit) {
    std::string line;
    const std::string fits(kCommandLineMax - 2, 'x');
    const std::string over(kCommandLineMax - 1, 'x');
    const UzArg one[] = {{fits}};
    EXPECT_EQ(buildCommandLine("W", one, &line), 0);
    EXPECT_EQ(line, "W " + fits + "\n");
    const UzArg oneOver[] = {{over}};
    EXPECT_EQ(buildCommandLine("W", oneOver, &line), 456);
    const UzArg two[] = {{"a"}, {std::string_view(fits).substr(2)}};
    EXPECT_EQ(buildCommandLine("W", two, &line), 0);
    const UzArg twoOver[] = {{"ab"}, {std::string_view(fits).substr(2)}};
    EXPECT_EQ(buildCommandLine("W", twoOver, &line), 456);
}

// ---- sending over the wire

TEST(UzSessionSend, RefusedLinesSendNoByte) {
    const std::string longest(kCommandLineMax - 2, 'x');
    const std::string tooLong(kCommandLineMax - 1, 'x');
    Listener server;
    std::string first, second;
    std::thread peer([&] {
        Fd conn = server.accept();
        put(conn.get(), kGreeting);
        first = takeLine(conn.get());
        second = takeLine(conn.get());
        take(conn.get(), 1);
    });
    auto s = sessionAt(server.port());
    ASSERT_EQ(s->sendCommand("W", {UzArg{longest}}), 1);
    struct Refusal {
        UzArg arg;
        std::string error;
    } const refusals[] = {
        {{tooLong}, msg(456, "uzsession/65")},
        {{"a\rb"}, msg(462, "uzsession/72")},
        {{"a\nb", UzArgKind::kFreeText}, msg(462, "uzsession/72")},
        {{std::string_view("a\0b", 3), UzArgKind::kPattern}, msg(462, "uzsession/72")},
        {{"a b\\", UzArgKind::kFreeText}, msg(462, "uzsession/72")},
    };
    for (const Refusal& r : refusals) {
        EXPECT_EQ(s->sendCommand("W", {r.arg}), 0);
        EXPECT_EQ(s->getError(), r.error);
    }
    ASSERT_EQ(s->sendCommand("VER"), 1);
    s->disconnect();
    peer.join();
    EXPECT_EQ(first, "W " + longest + "\n");
    EXPECT_EQ(second, "VER\n");
}

std::string pattern(size_t size) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 31) % 251);
    return data;
}

TEST(UzSessionSend, WaitsWhileThePeerReadsNothing) {
    const std::string data = pattern(8 << 20);
    Listener server;
    std::string got;
    std::thread peer([&] {
        Fd conn = server.accept();
        put(conn.get(), kGreeting);
        std::this_thread::sleep_for(2s);
        got = take(conn.get(), data.size());
    });
    auto s = sessionAt(server.port());
    EXPECT_EQ(s->sendCmdBuffer(data), 1) << s->getError();
    peer.join();
    EXPECT_TRUE(got == data) << got.size() << " bytes";
    s->disconnect();
}

TEST(UzSessionSend, PeerTakingNothingForCommandTimeoutFails) {
    Listener server;
    std::atomic<bool> done{false};
    std::thread peer([&] {
        Fd conn = server.accept();
        put(conn.get(), kGreeting);
        while (!done) std::this_thread::sleep_for(10ms);
    });
    auto s = sessionAt(server.port(), 1);
    EXPECT_EQ(s->sendCmdBuffer(pattern(64 << 20)), 0);
    EXPECT_EQ(s->getError(), msg(457, "uzsession/66", strerror(ETIMEDOUT)));
    EXPECT_FALSE(s->flags & kSessConnected);
    done = true;
    peer.join();
}

TEST(UzSessionSend, ResetMidSendReachesNoLaterConnection) {
    Listener server;
    std::string later;
    std::thread peer([&] {
        Fd first = server.accept();
        put(first.get(), kGreeting);
        take(first.get(), 65536);
        resetClose(first);
        Fd second = server.accept();
        put(second.get(), kGreeting);
        later = takeLine(second.get());
        put(second.get(), "200 Version: ruvadaemon \"\" R19K \"\"\n");
        take(second.get(), 1);
    });
    auto s = sessionAt(server.port());
    ASSERT_EQ(s->sendCommand("VER"), 1);  // connects before the upload
    EXPECT_EQ(s->sendCmdBuffer(pattern(8 << 20)), 0);
    EXPECT_TRUE(s->getError() == msg(457, "uzsession/66", strerror(EPIPE)) ||
                s->getError() == msg(457, "uzsession/66", strerror(ECONNRESET)))
        << s->getError();
    EXPECT_FALSE(s->flags & kSessConnected);
    ASSERT_EQ(s->sendCommand("VER"), 1);
    EXPECT_GT(s->getPeerCommand(0), 0);
    s->disconnect();
    peer.join();
    EXPECT_EQ(later, "VER\n");
}

// A server that drops the first connection before answering: the command
// goes again, whole, on a new one, unless it changes a library or ends the
// session.
TEST(UzSessionSend, ConnectionLostBeforeTheReplyResendsOnce) {
    const std::string bigLine = "SRCH " + std::string(100000, 'p');
    struct Case {
        const char* name;
        std::string word;
        std::vector<UzArg> args;
        bool reset;    // reset instead of close
        int answered;  // connections that answer (0: none)
        bool resent;
    } const cases[] = {
        {"closed before VER's reply", "VER", {}, false, 2, true},
        {"reset before a long line's reply", "SRCH", {{std::string_view(bigLine).substr(5)}}, true, 2, true},
        {"only once", "VER", {}, false, 0, true},
        {"never RMFILE", "RMFILE", {{"annot.anx", UzArgKind::kLibrary}, {"x"}}, false, 2, false},
        {"never UPDFILE", "UPDFILE", {{"annot.anx", UzArgKind::kLibrary}, {"x"}, {"1"}}, false, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listener server;
        std::string expected;
        ASSERT_EQ(buildCommandLine(c.word, c.args, &expected), 0);
        std::vector<std::string> got;
        std::thread peer([&] {
            for (int i = 1; i <= 2; ++i) {
                Fd conn = server.accept(i == 1 ? 5000 : (c.resent ? 5000 : 300));
                if (!conn.valid()) return;
                put(conn.get(), kGreeting);
                got.push_back(takeLine(conn.get()));
                if (i == c.answered) {
                    put(conn.get(), "200 done\n");
                    take(conn.get(), 1);
                    return;
                }
                if (c.reset) resetClose(conn);
            }
        });
        auto s = sessionAt(server.port());
        ASSERT_EQ(s->sendCommand(c.word, c.args), 1);
        int length = s->getPeerCommand(0);
        if (c.resent && c.answered) {
            EXPECT_STREQ(s->getResultPrintout(), "200 done");
        } else {
            EXPECT_EQ(length, -1);
            EXPECT_FALSE(s->flags & kSessConnected);
        }
        s->disconnect();
        peer.join();
        EXPECT_EQ(got, std::vector<std::string>(c.resent ? 2 : 1, expected));
        EXPECT_FALSE(server.hasPending());
    }
}

// Before a command the connection is checked: closed by the server (its
// idle limit) or holding bytes no reply accounts for, it is replaced.
TEST(UzSessionSend, StaleConnectionIsReplacedBeforeACommand) {
    struct Case {
        const char* name;
        std::string greeting;
        std::string thenSend;  // after the greeting was read
        bool closeAfter;
        const char* word;
        bool replaced;
    } const cases[] = {
        {"fresh", std::string(kGreeting), "", false, "VER", false},
        {"LF owed by a CR greeting", "200 UZD a \"\" R19K \"\"\r", "\n", false, "VER", false},
        {"stray bytes", std::string(kGreeting), "stray\n", false, "VER", true},
        {"closed by the server", std::string(kGreeting), "", true, "VER", true},
        {"QUIT on a closed connection", std::string(kGreeting), "", true, "QUIT", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Listener server;
        std::atomic<bool> greeted{false};
        std::vector<std::string> got;
        std::thread peer([&] {
            Fd first = server.accept();
            put(first.get(), c.greeting);
            while (!greeted) std::this_thread::sleep_for(1ms);
            put(first.get(), c.thenSend);
            if (c.closeAfter) ::shutdown(first.get(), SHUT_WR);
            got.push_back(takeLine(first.get()));
            if (!c.replaced) return;
            Fd second = server.accept();
            put(second.get(), kGreeting);
            got.push_back(takeLine(second.get()));
        });
        auto s = sessionAt(server.port());
        auto r = s->connect();
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(r->resultCode, 200);
        greeted = true;
        // Let the peer's bytes or its close arrive first.
        pollfd p{s->sockfd, POLLIN, 0};
        if (!c.thenSend.empty() || c.closeAfter) ::poll(&p, 1, 5000);
        const bool quit = std::string_view(c.word) == "QUIT";
        EXPECT_EQ(s->sendCommand(c.word), quit ? 0 : 1);
        s->disconnect();
        peer.join();
        if (quit) {
            EXPECT_EQ(got, std::vector<std::string>{""});
            EXPECT_FALSE(server.hasPending());
        } else if (c.replaced) {
            EXPECT_EQ(got, (std::vector<std::string>{"", "VER\n"}));
        } else {
            EXPECT_EQ(got, std::vector<std::string>{"VER\n"});
        }
    }
}

// After UPDFILE or RMFILE the daemon refreshes its catalogue before it
// reads on, so the next reply's first line may wait longer.
TEST(UzSessionSend, FirstLineAfterAnUpdateWaitsLonger) {
    WaitsGuard waits([] {
        UzWaits w;
        w.afterUpdate = 3s;
        return w;
    }());
    struct Case {
        const char* first;
        bool secondAnswered;
    } const cases[] = {{"RMFILE", true}, {"LIST", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        Listener server;
        std::thread peer([&] {
            Fd conn = server.accept();
            put(conn.get(), kGreeting);
            takeLine(conn.get());
            put(conn.get(), "200-done\n");
            takeLine(conn.get());
            std::this_thread::sleep_for(2s);
            put(conn.get(), "200 Version: x \"\" R19K \"\"\n");
            take(conn.get(), 1);
        });
        auto s = sessionAt(server.port(), 1);
        ASSERT_EQ(s->sendCommand(c.first, {{"x"}, {"y"}}), 1);
        EXPECT_GT(s->getPeerCommand(0), 0);
        ASSERT_EQ(s->sendCommand("VER"), 1);
        EXPECT_EQ(s->getPeerCommand(0) > 0, c.secondAnswered);
        s->disconnect();
        peer.join();
    }
}

TEST(UzSessionDelete, SendsQuitAndWaitsAtMostTwoSeconds) {
    Listener server;
    std::string quit, after;
    std::thread peer([&] {
        Fd conn = server.accept();
        put(conn.get(), kGreeting);
        quit = takeLine(conn.get());  // never answered
        after = take(conn.get(), 1);  // the close
    });
    auto s = sessionAt(server.port(), 20);
    ASSERT_NE(s->connect(), nullptr);
    auto start = std::chrono::steady_clock::now();
    s.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
    peer.join();
    EXPECT_EQ(quit, "QUIT\n");
    EXPECT_EQ(after, "");
}

TEST(UzSessionAddress, DottedAddressAndPort) {
    struct Case {
        const char* address;
        unsigned port;
        const char* expected;
    } const cases[] = {
        {"10.1.2.3", 9229, "10.1.2.3:9229"},
        {"0.0.0.0", 9229, "Unknown"},
        {"127.0.0.1", 0, "Unknown"},
    };
    for (const Case& c : cases) {
        UzSession s;
        s.iaddr = inet_addr(c.address);
        s.port = c.port;
        EXPECT_EQ(s.getServerAddr(), c.expected) << c.address;
    }
}

}  // namespace
}  // namespace ruva
