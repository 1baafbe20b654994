// A loopback TCP server that plays a fixed script on each connection it
// accepts: the replies a real server never gives on demand (lines cut
// anywhere, stalls, resets, announcements it does not keep), for testing a
// client. It records every byte each connection received.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ruva::test {

// What one connection does, step by step. Reading is the default: while a
// step sends, waits or awaits, whatever the client writes is read and
// recorded, so a client that writes much never blocks against a peer that
// writes too. Steps after close() or reset() are not played; the script
// also ends when the client closes. A script that runs out without closing
// goes on reading, never answering, until the client closes or the peer
// stops.
class PeerScript {
public:
    // The bytes in one send(2) (more only when the socket takes fewer).
    PeerScript& send(std::string bytes);
    // Each byte its own send, gap apart.
    PeerScript& trickle(const std::string& bytes, std::chrono::milliseconds gap);
    // Writes nothing for the time, still reading.
    PeerScript& delay(std::chrono::milliseconds time);
    // Neither reads nor writes for the time: the client's writes back up.
    PeerScript& readNothing(std::chrono::milliseconds time);
    // Reads until the client has sent one more line ('\n') / n more bytes
    // beyond what earlier awaits took.
    PeerScript& awaitLine();
    PeerScript& awaitBytes(size_t n);
    // Neither reads nor writes until the client closes or the peer stops.
    PeerScript& silence();
    // Closes the connection (FIN) / resets it (RST: SO_LINGER 0).
    PeerScript& close();
    PeerScript& reset();

    enum class Kind { kSend, kDelay, kReadNothing, kAwaitLine, kAwaitBytes, kSilence, kClose, kReset };
    struct Step {
        Kind kind;
        std::string bytes;
        std::chrono::milliseconds time{0};
        size_t count = 0;
    };
    const std::vector<Step>& steps() const { return steps_; }

private:
    std::vector<Step> steps_;
};

// Listens on 127.0.0.1 at a free port and serves on threads of its own:
// the k-th connection accepted (from 0) plays scripts[k]; a connection
// beyond the last script is closed at once. Every end of a connection
// (script, client, stop) first reads what has arrived, so received() holds
// all the client wrote before that end.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<PeerScript> scripts = {});
    // stop()
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // False when the listener could not be set up (the test has failed).
    bool ok() const { return listenFd_ >= 0; }
    // Host order.
    unsigned port() const { return port_; }

    // Appends the script of the next connection: for peers whose replies
    // name each other's ports, known only once every peer listens. A
    // connection takes the script there is when it is accepted.
    void addScript(PeerScript script);

    // Ends every connection and joins every thread; later calls do nothing.
    void stop();

    // Connections accepted so far.
    size_t connections() const;
    // The bytes connection k received so far, all of them after stop();
    // "" for a connection that never came.
    std::string received(size_t k) const;
    // Wait until connection k has received n bytes in all / holds a '\n';
    // false when limit passes first.
    bool waitBytes(size_t k, size_t n, std::chrono::milliseconds limit) const;
    bool waitLine(size_t k, std::chrono::milliseconds limit) const;

private:
    struct Connection;
    enum class Flow { kGoOn, kEnded, kStopped };

    void acceptLoop();
    void play(Connection* c, const PeerScript& script);
    Flow step(Connection* c, const PeerScript::Step& s);
    Flow sendAll(Connection* c, const std::string& bytes);
    Flow readFor(Connection* c, std::chrono::milliseconds time);
    Flow awaitReceived(Connection* c, bool line, size_t n);
    Flow holdStill(Connection* c, std::chrono::milliseconds time, bool untilClientCloses);
    // poll(2) on the connection and the stop pipe: fd's revents, 0 at the
    // time-out, -1 when the peer stops.
    int waitOn(int fd, short events, int timeoutMs) const;
    bool readAvailable(Connection* c);
    void finish(Connection* c, bool reset);

    std::vector<PeerScript> scripts_;  // under mu_
    int listenFd_ = -1;
    int wake_[2] = {-1, -1};
    unsigned port_ = 0;
    std::thread acceptor_;
    mutable std::mutex mu_;
    mutable std::condition_variable arrived_;
    std::vector<std::unique_ptr<Connection>> conns_;
    bool stopped_ = false;
};

// A listener with backlog 0 that never accepts, its one queue place taken
// by a connection of its own: a further connect stays pending (its SYN is
// dropped) until the client gives up.
class PendingListener {
public:
    PendingListener();
    ~PendingListener();
    PendingListener(const PendingListener&) = delete;
    PendingListener& operator=(const PendingListener&) = delete;

    bool ok() const { return fillFd_ >= 0; }
    unsigned port() const { return port_; }

private:
    int listenFd_ = -1;
    int fillFd_ = -1;
    unsigned port_ = 0;
};

// A loopback port where nothing listens, so a connect is refused. The port
// stays bound (without listen) while the object lives, so no other program
// takes it meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    bool ok() const { return fd_ >= 0; }
    unsigned port() const { return port_; }

private:
    int fd_ = -1;
    unsigned port_ = 0;
};

}  // namespace ruva::test
