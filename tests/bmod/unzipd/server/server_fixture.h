// What the command-server tests share: a server as start-up leaves it, a
// loopback listener, and a client that reads reply lines with a time limit.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "bmod/unzipd/server/network_server.h"
#include "common/version.h"

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

}  // namespace ruva::test
