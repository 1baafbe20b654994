// The listdb marker's sessions against the real daemon: a session made for
// another server is closed again on every path, and the default session
// outlives a marker that names its own address.
#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/client/uzclient.h"
#include "tests/bmod/ruvaserv/actions/action_pages_daemon.h"

namespace ruva::test {
namespace {

// outputListDb writes outside a pass: the output buffer is made first.
constexpr size_t kOutputRoom = 1 << 16;

TEST_F(ActionPagesDaemon, OtherServerSessionsLeaveNoDescriptor) {
    struct {
        std::string name;
        std::string server;
        int result;
    } const cases[] = {
        {"unreadable server", "bad", 0},
        {"closed port", "127.0.0.1:1", 0},
        {"the daemon, named from a request whose default server is elsewhere", address(), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = openDescriptors();
        {
            DaemonPageRequest r(configText("RuvaDaemon 127.0.0.1:1\n"), {});
            ASSERT_TRUE(r->allocDstBuf(kOutputRoom));
            // The request holds its CGI output file.
            const size_t inside = openDescriptors();
            EXPECT_EQ(r.handler().outputListDb(c.server, "*.kvo", 0), c.result) << r->getError();
            EXPECT_EQ(r->uzc->getNumSessions(), 0);
            EXPECT_EQ(r.output().find(">Plain lib [EN/LIB1234567R1A]</a>") != std::string::npos, c.result == 1)
                << r.output();
            EXPECT_EQ(openDescriptors(), inside);
        }
        EXPECT_EQ(openDescriptors(), before);
    }
}

TEST_F(ActionPagesDaemon, MarkerNamingTheDefaultAddressKeepsTheSession) {
    auto r = request({});
    ASSERT_EQ((*r)->establishDefaultSession(), 1) << (*r)->getError();
    ASSERT_TRUE((*r)->allocDstBuf(kOutputRoom));
    UzSession* session = (*r)->sess;
    const size_t before = openDescriptors();
    EXPECT_EQ(r->handler().outputListDb(address(), "lib.kvo", 0), 1) << (*r)->getError();
    EXPECT_NE(r->output().find(">lib</a>"), std::string::npos) << r->output();
    EXPECT_EQ((*r)->uzc->getFirstSession(), session);
    EXPECT_TRUE(session->flags & kSessConnected);
    EXPECT_EQ(openDescriptors(), before);
    // The same connection answers the next command.
    EXPECT_EQ(r->handler().outputListDb("default", "UPPER.KVO", 1), 1) << (*r)->getError();
    EXPECT_NE(r->output().find("<option value=\"UPPER.KVO\">"), std::string::npos) << r->output();
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace ruva::test
