// Reading and dispatching a session's command lines.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "bmod/unzipd/daemon/uzd_error.h"
#include "bmod/unzipd/server/network_server.h"
#include "common/text.h"
#include "common/tokens.h"

namespace ruva {
namespace {

using CommandHandler = int (*)(NetworkServer* ns, char* args);

// A reply that could not be written ends the session.
int written(NetworkServer* ns, bool ok) {
    if (ok) return 1;
    logError(kLogErr, "Write error on client socket %s", ns->cAddrStr);
    return 0;
}

int answerVer(NetworkServer* ns, char*) {
    return written(ns, ns->reply->line(kReplyOk, kReplyEntry, "Version: %s", ns->identityText().c_str()));
}

int answerQuit(NetworkServer* ns, char*) {
    ns->flags |= kNsQuit;
    return written(ns, ns->reply->line(kReplyOk, kReplyHeader, "See you later."));
}

struct Command {
    const char* word;  // upper case
    CommandHandler handler;
};

const Command kCommands[] = {
    {"QUIT", answerQuit},
    {"VER", answerVer},
};

long long monotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

int NetworkServer::parseCommand(char* line) {
    reply->beginReply();
    char* cursor = line;
    char* word = getNextToken(&cursor);
    if (word == nullptr) return written(this, reply->line(kReplySyntax, kReplyEntry, "Missing command. Try HELP"));
    lstrupr(word);
    for (const Command& c : kCommands)
        if (std::strcmp(word, c.word) == 0) return c.handler(this, cursor);
    return written(this, reply->line(kReplySyntax, kReplyEntry, "Unknown command <%s>. Try HELP.", word));
}

// 1 when input waits, 0 after idleTimeout seconds without any, -1 when a
// quit was requested or the wait failed. Signals resume the wait with the
// time left.
int NetworkServer::waitForCommand() {
    long long deadline = monotonicMs() + static_cast<long long>(idleTimeout) * 1000;
    for (;;) {
        long long left = deadline - monotonicMs();
        if (left <= 0) return 0;
        struct pollfd p = {newtcpfd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left > 3600000 ? 3600000 : left));
        if (r > 0) return 1;
        if (r == 0) continue;
        if (errno != EINTR) {
            logError(kLogDebug, "Socket read failed from %s, %s", cAddrStr, std::strerror(errno));
            return -1;
        }
        if (quitRequested()) return -1;
    }
}

int NetworkServer::getClientCommand(char* buffer, size_t limit) {
    buffer[0] = '\0';
    restData.clear();
    if (reply) reply->flush();
    size_t got = 0;
    while (got < limit) {
        int w = waitForCommand();
        if (w < 0) return -1;
        if (w == 0) {
            logError(kLogInfo, "Client timeout, closing connection");
            if (flags & kNsDebug) {
                flags |= kNsQuit;
                return -1;
            }
            ::_exit(0);
        }
        ssize_t n = ::recv(newtcpfd, buffer + got, limit - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) {
            logError(kLogDebug, "Client closed connection, %s", cAddrStr);
            return -1;
        }
        if (n < 0) {
            logError(kLogDebug, "Socket read failed from %s, %s", cAddrStr, std::strerror(errno));
            return -1;
        }
        char* end = buffer + got + n;
        for (char* p = buffer + got; p < end; ++p) {
            if (*p != '\r' && *p != '\n') continue;
            *p = '\0';
            restData.assign(p + 1, end);
            return static_cast<int>(p - buffer);
        }
        got += static_cast<size_t>(n);
    }
    // A line as long as the buffer is taken as it is; nothing past it is read.
    buffer[got] = '\0';
    return static_cast<int>(got);
}

}  // namespace ruva
