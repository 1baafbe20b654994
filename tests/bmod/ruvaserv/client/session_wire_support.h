// Helpers of the client's wire tests: a session to a loopback peer, the
// first command line a scripted peer received, and waits restored when a
// test has changed them.
#pragma once

#include <arpa/inet.h>

#include <memory>
#include <string>

#include "bmod/ruvaserv/client/uzsession.h"
#include "tests/support/scripted_peer.h"

namespace ruva::test {

inline std::unique_ptr<UzSession> sessionTo(unsigned port, int commandTimeout = 2) {
    auto s = std::make_unique<UzSession>();
    s->iaddr = htonl(INADDR_LOOPBACK);
    s->port = port;
    s->commandTimeout = commandTimeout;
    return s;
}

inline std::unique_ptr<UzSession> sessionTo(const ScriptedPeer& peer) {
    return sessionTo(peer.port());
}

// The command line the peer got after the greeting.
inline std::string firstLine(const ScriptedPeer& peer) {
    const std::string got = peer.received(0);
    return got.substr(0, got.find('\n') + 1);
}

// The waits as they were when made come back when it goes.
class WaitsScope {
public:
    WaitsScope() : saved_(uzWaits()) {}
    ~WaitsScope() { setUzWaits(saved_); }
    WaitsScope(const WaitsScope&) = delete;
    WaitsScope& operator=(const WaitsScope&) = delete;

private:
    UzWaits saved_;
};

}  // namespace ruva::test
