// What the command-server tests share: a server as start-up leaves it, a
// loopback listener, and a client that reads reply lines with a time limit.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "bmod/unzipd/server/network_server.h"
#include "common/version.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"

namespace ruva::test {

inline constexpr const char* kTestComment = "Kivo Browser";

// The identity the greeting and VER carry.
inline std::string serverIdentity(const std::string& comment = kTestComment) {
    return std::string(kDaemonProgName) + " \"" + kDaemonArticle + "\" " + kSystemRevision + " \"" + comment + "\"";
}

inline std::unique_ptr<NetworkServer> testServer(UzdMain* uzd, uint16_t flags) {
    auto ns = newNetworkServer(uzd, 0, flags);
    if (!ns) return ns;
    ns->ProgName = kDaemonProgName;
    ns->Article = kDaemonArticle;
    ns->Revision = kSystemRevision;
    ns->addServerComment(kTestComment);
    return ns;
}

// A listening TCP socket on 127.0.0.1 and a free port; -1 on failure.
inline int loopbackListener(int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

inline int connectLoopback(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One line without its LF, waiting at most 5 s for each byte; "<EOF>" at
// end of stream, "<TIMEOUT>" when nothing came.
inline std::string readLine(int fd) {
    std::string line;
    for (;;) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) return "<TIMEOUT>";
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0) return line.empty() ? "<EOF>" : line;
        if (c == '\n') return line;
        line += c;
    }
}

inline bool sendText(int fd, const std::string& text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// A session of a debug-mode server without listening sockets, on a
// socketpair: the server runs handleConnection on a thread, the test is
// the client on sv[1].
class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ns = testServer(&uzd, kNsDebug | kNsNoUdp);
        ASSERT_TRUE(ns);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        ns->newtcpfd = sv[0];
        std::snprintf(ns->cAddrStr, sizeof ns->cAddrStr, "127.0.0.1");
    }
    void TearDown() override { endSession(); }
    void endSession() {
        if (server.joinable()) {
            shutdown(sv[1], SHUT_RDWR);
            server.join();
        }
        if (sv[1] >= 0) close(sv[1]);
        if (ns && ns->newtcpfd >= 0) close(ns->newtcpfd);
        sv[0] = sv[1] = -1;
    }
    // Ends the session, if any, and opens a new socketpair for the next.
    void newSession() {
        endSession();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        ns->newtcpfd = sv[0];
        ns->flags &= static_cast<uint16_t>(~kNsQuit);
    }
    void start() {
        server = std::thread([this] { result = ns->handleConnection(); });
    }
    // Starts the session and reads the greeting.
    void startAndGreet() {
        start();
        EXPECT_EQ(readLine(sv[1]), "200 UZD " + serverIdentity());
    }
    // The first reply line to one command line.
    std::string ask(const std::string& line) {
        EXPECT_TRUE(sendText(sv[1], line));
        return readLine(sv[1]);
    }
    int finish() {
        server.join();
        return result;
    }

    LogCapture log;
    UzdMain uzd;
    std::unique_ptr<NetworkServer> ns;
    int sv[2] = {-1, -1};
    std::thread server;
    int result = -1;
};

}  // namespace ruva::test
