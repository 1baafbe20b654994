// The scripted peer driven by plain sockets: a client test that trusts it
// must see exactly the bytes, pauses and endings its script names.
#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace ruva::test {
namespace {

using std::chrono::milliseconds;

sockaddr_in loopbackAt(unsigned port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// A blocking client whose reads give up after 5 s, so a peer that wrongly
// stays silent fails the test instead of hanging it. -1 with errno.
int connectTo(unsigned port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in a = loopbackAt(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        int e = errno;
        close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

// Reads until text ends with the bytes wanted, end of stream or an error.
std::string readUntil(int fd, const std::string& ending) {
    std::string got;
    char c;
    while (got.size() < ending.size() || got.compare(got.size() - ending.size(), ending.size(), ending) != 0) {
        if (recv(fd, &c, 1, 0) != 1) break;
        got += c;
    }
    return got;
}

bool readableWithin(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

TEST(ScriptedPeer, PlaysItsScriptAndRecordsWhatItRead) {
    ScriptedPeer peer({PeerScript()
                           .send("200 UZD x\n")
                           .awaitLine()
                           .send("300-a\n")
                           .trickle("200 b\n", milliseconds(1))
                           .awaitBytes(3)
                           .send("ok\n")
                           .close()});
    ASSERT_TRUE(peer.ok());
    EXPECT_FALSE(peer.waitLine(0, milliseconds(20)));
    int fd = connectTo(peer.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readUntil(fd, "\n"), "200 UZD x\n");
    ASSERT_EQ(send(fd, "VER", 3, 0), 3);
    EXPECT_TRUE(peer.waitBytes(0, 3, milliseconds(5000)));
    // No reply before the line is whole.
    EXPECT_FALSE(readableWithin(fd, 100));
    EXPECT_FALSE(peer.waitLine(0, milliseconds(0)));
    ASSERT_EQ(send(fd, "\n", 1, 0), 1);
    EXPECT_EQ(readUntil(fd, "200 b\n"), "300-a\n200 b\n");
    ASSERT_EQ(send(fd, "ab", 2, 0), 2);
    EXPECT_FALSE(readableWithin(fd, 100));
    ASSERT_EQ(send(fd, "c", 1, 0), 1);
    EXPECT_EQ(readUntil(fd, "<never>"), "ok\n");
    close(fd);
    peer.stop();
    EXPECT_EQ(peer.connections(), 1u);
    EXPECT_EQ(peer.received(0), "VER\nabc");
    EXPECT_EQ(peer.received(1), "");
}

TEST(ScriptedPeer, EndsAConnectionAsScripted) {
    struct Case {
        const char* name;
        PeerScript script;
        int recvResult;
        int recvErrno;
    };
    const Case cases[] = {
        {"close", PeerScript().send("bye\n").awaitLine().close(), 0, 0},
        {"reset", PeerScript().send("bye\n").awaitLine().reset(), -1, ECONNRESET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.script});
        int fd = connectTo(peer.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(readUntil(fd, "\n"), "bye\n");
        ASSERT_EQ(send(fd, "x\n", 2, 0), 2);
        char byte;
        errno = 0;
        EXPECT_EQ(recv(fd, &byte, 1, 0), c.recvResult);
        EXPECT_EQ(errno, c.recvErrno);
        close(fd);
        peer.stop();
        EXPECT_EQ(peer.received(0), "x\n");
    }
}

TEST(ScriptedPeer, EachConnectionPlaysTheNextScript) {
    ScriptedPeer peer({PeerScript().send("one\n").close()});
    // Added after the listener is up, as for peers naming each other's ports.
    peer.addScript(PeerScript().send("two\n").close());
    // The third has no script and is closed at once.
    for (const char* want : {"one\n", "two\n", ""}) {
        int fd = connectTo(peer.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(readUntil(fd, "<never>"), want);
        close(fd);
    }
    peer.stop();
    EXPECT_EQ(peer.connections(), 3u);
}

// Loopback takes some MB before a writer gets EAGAIN; 8 MiB is well past it.
TEST(ScriptedPeer, ReadNothingLetsTheClientsWritesBackUpThenTakesThemAll) {
    ScriptedPeer peer({PeerScript().readNothing(milliseconds(2000))});
    int fd = connectTo(peer.port());
    ASSERT_GE(fd, 0);
    std::string data(8 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 65536);
    ASSERT_EQ(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK), 0);
    size_t sent = 0;
    bool blocked = false;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
        if (!blocked) {
            blocked = true;
            EXPECT_LT(sent, data.size());
            EXPECT_EQ(peer.received(0), "");
        }
        pollfd p{fd, POLLOUT, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
    }
    EXPECT_TRUE(blocked);
    EXPECT_TRUE(peer.waitBytes(0, data.size(), milliseconds(8000)));
    close(fd);
    peer.stop();
    EXPECT_TRUE(peer.received(0) == data);
}

TEST(ScriptedPeer, SilenceNeitherAnswersNorReadsUntilTheClientCloses) {
    ScriptedPeer peer({PeerScript().send("hi\n").silence().send("never\n")});
    int fd = connectTo(peer.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readUntil(fd, "\n"), "hi\n");
    ASSERT_EQ(send(fd, "VER\n", 4, 0), 4);
    EXPECT_FALSE(readableWithin(fd, 100));
    EXPECT_EQ(peer.received(0), "");
    close(fd);
    // The client's end wakes it; it takes what had come and ends.
    EXPECT_TRUE(peer.waitBytes(0, 4, milliseconds(5000)));
    peer.stop();
    EXPECT_EQ(peer.received(0), "VER\n");
}

TEST(ScriptedPeer, StopEndsEveryWaitAndKeepsWhatArrived) {
    ScriptedPeer peer({PeerScript().awaitBytes(100), PeerScript().silence(), PeerScript().delay(milliseconds(60000))});
    int fds[3];
    for (int& fd : fds) {
        fd = connectTo(peer.port());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(send(fd, "a\n", 2, 0), 2);
    }
    ASSERT_TRUE(peer.waitBytes(0, 2, milliseconds(5000)));
    ASSERT_TRUE(peer.waitBytes(2, 2, milliseconds(5000)));
    peer.stop();
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(peer.received(k), "a\n") << k;
    for (int fd : fds) {
        EXPECT_EQ(readUntil(fd, "<never>"), "");
        close(fd);
    }
}

TEST(ScriptedPeer, PendingListenerNeverCompletesAConnect) {
    PendingListener pending;
    ASSERT_TRUE(pending.ok());
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopbackAt(pending.port());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), -1);
    EXPECT_EQ(errno, EINPROGRESS);
    pollfd p{fd, POLLOUT, 0};
    EXPECT_EQ(poll(&p, 1, 300), 0);
    close(fd);
}

TEST(ScriptedPeer, ClosedPortRefuses) {
    ClosedPort refused;
    ASSERT_TRUE(refused.ok());
    EXPECT_EQ(connectTo(refused.port()), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
}

}  // namespace
}  // namespace ruva::test
