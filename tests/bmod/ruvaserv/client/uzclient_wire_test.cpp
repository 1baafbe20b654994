// Discovery over real sockets: a broadcast answered by a real daemon (run
// by uzclient_discovery_test.py, which names it in the environment).
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bmod/ruvaserv/client/uzclient.h"
#include "common/fd_io.h"
#include "tests/bmod/ruvaserv/client/uzclient_support.h"

namespace ruva {
namespace {

using test::addr;
using test::InterfaceScope;

// Run by uzclient_discovery_test.py against a daemon answering broadcasts
// on RUVA_DISCOVERY_PORT, announcing RUVA_DISCOVERY_ADDR.
TEST(UzClientDaemonWire, BroadcastFindsTheDaemon) {
    const char* port = std::getenv("RUVA_DISCOVERY_PORT");
    const char* announced = std::getenv("RUVA_DISCOVERY_ADDR");
    if (!port || !announced) GTEST_SKIP() << "needs a daemon (uzclient_discovery_test.py)";
    InterfaceScope scope(test::loopbackOnly);
    auto uzc = newUzClient("kivoserv", "DOCSRV 1", "R19K", 0);
    ASSERT_NE(uzc, nullptr);
    uzc->setWellKnownPort(static_cast<unsigned>(std::atoi(port)));
    uzc->setBroadcastTimeout(2);
    // The daemon answers twice: one session.
    EXPECT_EQ(uzc->newSessionsByBroadcast(), 1) << uzc->getError();
    UzSession* s = uzc->getFirstSession();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->iaddr, addr(announced));
    EXPECT_EQ(s->port, static_cast<unsigned>(std::atoi(port)));
    auto ver = s->ver();
    ASSERT_NE(ver, nullptr) << s->getError();
    EXPECT_EQ(ver->resultCode, 200);
}

}  // namespace
}  // namespace ruva
