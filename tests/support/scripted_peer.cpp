#include "tests/support/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace ruva::test {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// A TCP socket bound to 127.0.0.1 at a free port; -1 on failure.
int boundLoopback(unsigned* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ADD_FAILURE() << "loopback socket: " << std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

}  // namespace

PeerScript& PeerScript::send(std::string bytes) {
    steps_.push_back({Kind::kSend, std::move(bytes), {}, 0});
    return *this;
}

PeerScript& PeerScript::trickle(const std::string& bytes, std::chrono::milliseconds gap) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) delay(gap);
        send(bytes.substr(i, 1));
    }
    return *this;
}

PeerScript& PeerScript::delay(std::chrono::milliseconds time) {
    steps_.push_back({Kind::kDelay, {}, time, 0});
    return *this;
}

PeerScript& PeerScript::readNothing(std::chrono::milliseconds time) {
    steps_.push_back({Kind::kReadNothing, {}, time, 0});
    return *this;
}

PeerScript& PeerScript::awaitLine() {
    steps_.push_back({Kind::kAwaitLine, {}, {}, 0});
    return *this;
}

PeerScript& PeerScript::awaitBytes(size_t n) {
    steps_.push_back({Kind::kAwaitBytes, {}, {}, n});
    return *this;
}

PeerScript& PeerScript::silence() {
    steps_.push_back({Kind::kSilence, {}, {}, 0});
    return *this;
}

PeerScript& PeerScript::close() {
    steps_.push_back({Kind::kClose, {}, {}, 0});
    return *this;
}

PeerScript& PeerScript::reset() {
    steps_.push_back({Kind::kReset, {}, {}, 0});
    return *this;
}

struct ScriptedPeer::Connection {
    int fd = -1;
    std::string got;      // under mu_
    size_t consumed = 0;  // what the awaits took; the connection's thread only
    std::thread thread;
};

ScriptedPeer::ScriptedPeer(std::vector<PeerScript> scripts) : scripts_(std::move(scripts)) {
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return;
    }
    int fd = boundLoopback(&port_);
    if (fd < 0) return;
    if (listen(fd, 16) != 0) {
        ADD_FAILURE() << "listen: " << std::strerror(errno);
        ::close(fd);
        return;
    }
    listenFd_ = fd;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void ScriptedPeer::addScript(PeerScript script) {
    std::lock_guard<std::mutex> lock(mu_);
    scripts_.push_back(std::move(script));
}

ScriptedPeer::~ScriptedPeer() {
    stop();
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void ScriptedPeer::stop() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopped_) return;
        stopped_ = true;
    }
    // Never read: the pipe stays readable for every poll that watches it.
    if (wake_[1] >= 0) {
        char byte = 0;
        while (write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
    if (acceptor_.joinable()) acceptor_.join();
    // The acceptor has ended: the list no longer grows.
    for (auto& c : conns_)
        if (c->thread.joinable()) c->thread.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    listenFd_ = -1;
}

int ScriptedPeer::waitOn(int fd, short events, int timeoutMs) const {
    pollfd p[2] = {{fd, events, 0}, {wake_[0], POLLIN, 0}};
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int n = poll(p, 2, timeoutMs < 0 ? -1 : remainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || p[1].revents != 0) return -1;
        return n == 0 ? 0 : p[0].revents;
    }
}

void ScriptedPeer::acceptLoop() {
    for (;;) {
        if (waitOn(listenFd_, POLLIN, -1) <= 0) return;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) continue;
        // Each send a segment of its own, so chunks reach the client as cut.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        std::optional<PeerScript> script;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (conns_.size() < scripts_.size()) script = scripts_[conns_.size()];
            conns_.push_back(std::move(c));
            arrived_.notify_all();
        }
        if (script)
            raw->thread = std::thread([this, raw, s = std::move(*script)] { play(raw, s); });
        else
            finish(raw, false);
    }
}

void ScriptedPeer::play(Connection* c, const PeerScript& script) {
    for (const PeerScript::Step& s : script.steps()) {
        Flow f = step(c, s);
        if (c->fd < 0) return;
        if (f != Flow::kGoOn) {
            finish(c, false);
            return;
        }
    }
    while (readFor(c, std::chrono::milliseconds(-1)) == Flow::kGoOn) {
    }
    finish(c, false);
}

ScriptedPeer::Flow ScriptedPeer::step(Connection* c, const PeerScript::Step& s) {
    using Kind = PeerScript::Kind;
    switch (s.kind) {
    case Kind::kSend:
        return sendAll(c, s.bytes);
    case Kind::kDelay:
        return readFor(c, s.time);
    case Kind::kReadNothing:
        return holdStill(c, s.time, false);
    case Kind::kAwaitLine:
        return awaitReceived(c, true, 0);
    case Kind::kAwaitBytes:
        return awaitReceived(c, false, s.count);
    case Kind::kSilence:
        return holdStill(c, std::chrono::milliseconds(-1), true);
    case Kind::kClose:
    case Kind::kReset:
        finish(c, s.kind == Kind::kReset);
        return Flow::kEnded;
    }
    return Flow::kEnded;
}

ScriptedPeer::Flow ScriptedPeer::sendAll(Connection* c, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(c->fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Flow::kEnded;
        // A full socket: read meanwhile, so a client that writes too is never stuck.
        int r = waitOn(c->fd, POLLIN | POLLOUT, -1);
        if (r < 0) return Flow::kStopped;
        if ((r & POLLIN) && !readAvailable(c)) return Flow::kEnded;
        if ((r & (POLLERR | POLLHUP)) && !(r & POLLOUT)) return Flow::kEnded;
    }
    return Flow::kGoOn;
}

// Reads for the time (a negative time: until the client closes).
ScriptedPeer::Flow ScriptedPeer::readFor(Connection* c, std::chrono::milliseconds time) {
    const Clock::time_point deadline = Clock::now() + time;
    for (;;) {
        int left = time.count() < 0 ? -1 : remainingMs(deadline);
        if (left == 0) return Flow::kGoOn;
        int r = waitOn(c->fd, POLLIN, left);
        if (r < 0) return Flow::kStopped;
        if (r > 0 && !readAvailable(c)) return Flow::kEnded;
    }
}

ScriptedPeer::Flow ScriptedPeer::awaitReceived(Connection* c, bool line, size_t n) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (line) {
                size_t lf = c->got.find('\n', c->consumed);
                if (lf != std::string::npos) {
                    c->consumed = lf + 1;
                    return Flow::kGoOn;
                }
            } else if (c->got.size() >= c->consumed + n) {
                c->consumed += n;
                return Flow::kGoOn;
            }
        }
        int r = waitOn(c->fd, POLLIN, -1);
        if (r < 0) return Flow::kStopped;
        if (!readAvailable(c)) return Flow::kEnded;
    }
}

// Touches no data: only a stop, the end of the time or (when asked) the
// client's close ends the wait.
ScriptedPeer::Flow ScriptedPeer::holdStill(Connection* c, std::chrono::milliseconds time,
                                           bool untilClientCloses) {
    int r = waitOn(untilClientCloses ? c->fd : -1, untilClientCloses ? POLLRDHUP : 0,
                   static_cast<int>(time.count()));
    if (r < 0) return Flow::kStopped;
    return r > 0 ? Flow::kEnded : Flow::kGoOn;
}

// Everything readable now; false at the client's end or on an error.
bool ScriptedPeer::readAvailable(Connection* c) {
    char chunk[65536];
    for (;;) {
        ssize_t n = recv(c->fd, chunk, sizeof chunk, 0);
        if (n > 0) {
            std::lock_guard<std::mutex> lock(mu_);
            c->got.append(chunk, static_cast<size_t>(n));
            arrived_.notify_all();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void ScriptedPeer::finish(Connection* c, bool reset) {
    if (c->fd < 0) return;
    readAvailable(c);
    if (reset) {
        linger l{1, 0};
        setsockopt(c->fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(c->fd);
    c->fd = -1;
}

size_t ScriptedPeer::connections() const {
    std::lock_guard<std::mutex> lock(mu_);
    return conns_.size();
}

std::string ScriptedPeer::received(size_t k) const {
    std::lock_guard<std::mutex> lock(mu_);
    return k < conns_.size() ? conns_[k]->got : std::string();
}

bool ScriptedPeer::waitBytes(size_t k, size_t n, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mu_);
    return arrived_.wait_for(lock, limit, [&] { return k < conns_.size() && conns_[k]->got.size() >= n; });
}

bool ScriptedPeer::waitLine(size_t k, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mu_);
    return arrived_.wait_for(lock, limit,
                             [&] { return k < conns_.size() && conns_[k]->got.find('\n') != std::string::npos; });
}

PendingListener::PendingListener() {
    int fd = boundLoopback(&port_);
    if (fd < 0) return;
    listenFd_ = fd;
    if (listen(fd, 0) != 0) {
        ADD_FAILURE() << "listen: " << std::strerror(errno);
        return;
    }
    // The kernel completes this one into the queue, which is then full.
    int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    if (filler < 0 || connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "filling connect: " << std::strerror(errno);
        if (filler >= 0) ::close(filler);
        return;
    }
    fillFd_ = filler;
}

PendingListener::~PendingListener() {
    if (fillFd_ >= 0) ::close(fillFd_);
    if (listenFd_ >= 0) ::close(listenFd_);
}

ClosedPort::ClosedPort() { fd_ = boundLoopback(&port_); }

ClosedPort::~ClosedPort() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace ruva::test
