// Requests against a scripted document server: a fixture whose server
// addresses read as dotted numbers and that no RUVA_ADDR redirects, and the
// script of a server that greets, then answers one reply per line received.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva::test {

class ScriptedServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = setResolver(&noNames_);
        env_.set("RUVA_ADDR", std::nullopt);
    }
    void TearDown() override { setResolver(previous_); }

private:
    NoNames noNames_;
    Resolver* previous_ = nullptr;
    EnvGuard env_;
};

// The greeting, then each reply after one more line, then the close.
inline PeerScript replyScript(const std::vector<std::string>& replies) {
    PeerScript script;
    script.send(kGreeting);
    for (const std::string& reply : replies) script.awaitLine().send(reply);
    return script.close();
}

}  // namespace ruva::test
