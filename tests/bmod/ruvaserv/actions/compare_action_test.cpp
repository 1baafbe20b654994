// COMPEXE through the dispatcher over a scripted server: which pair of
// fields names the libraries, and how the comparison's failure reaches
// the handler's message.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

class CompareAction : public test::ScriptedServerTest {};

// The first library listed is refused, so each case shows by its one
// CONTV line which field the action took as the new library.
TEST_F(CompareAction, IdsComeBeforeNamesAndBothOfAPairAreNeeded) {
    const std::string removed = "578 Library \"new.kvo\" has been removed.\n";
    const std::string failed = formatChecked(msgFormat(15, "kivohandler/7"),
                                             formatChecked(msgFormat(8, "kvosrvcompare/21"), "new.kvo"));
    const std::string noIds = formatChecked(msgFormat(13, "kivohandler/5"));
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::string sent;
        std::string error;
    } const cases[] = {
        {"ID and IC are compared, DB and DC ignored",
         {{"DB", "a.kvo"}, {"DC", "b.kvo"}, {"ID", "12"}, {"IC", "13"}}, "VER\nCONTV 12 *_sd?.sgml\n", failed},
        {"ID without IC: DB and DC are compared", {{"ID", "12"}, {"DB", "a.kvo"}, {"DC", "b.kvo"}},
         "VER\nCONTV \"a.kvo\" *_sd?.sgml\n", failed},
        {"an empty IC without DB and DC", {{"ID", "12"}, {"IC", ""}}, "VER\n", noIds},
        {"an empty DC", {{"DB", "a.kvo"}, {"DC", ""}}, "VER\n", noIds},
        {"no library field", {}, "VER\n", noIds},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript({test::verLine(), removed})});
        ASSERT_TRUE(peer.ok());
        test::TempDir temp;
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->TempPath = temp.path() + "/";
            for (const auto& [name, value] : c.fields) cg.field(name, value);
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->entry("COMPEXE"), 0);
            EXPECT_EQ(kh->getError(), c.error);
            EXPECT_EQ(cg->mimeFilename, "");
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.received(0)), c.sent);
    }
}

TEST_F(CompareAction, NoSessionLeavesTheReasonInTheRequest) {
    ScriptedPeer peer({test::replyScript({"500 Unknown command\n"})});
    ASSERT_TRUE(peer.ok());
    CapturedRequest cg;
    cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
    cg.field("ID", "12");
    cg.field("IC", "13");
    auto kh = newKivoHandler(cg.get());
    EXPECT_EQ(kh->entry("compexe"), 0);
    EXPECT_EQ(kh->getError(), "");
    ASSERT_NE(cg->sess, nullptr);
    EXPECT_EQ(cg->getError(),
              formatChecked(cg->msg(204, "cgihandler/6"), cg->sess->getServerAddr(), cg->sess->getError()));
}

}  // namespace
}  // namespace ruva
