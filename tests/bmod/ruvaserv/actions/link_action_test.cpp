// LINK through the dispatcher over a scripted server: the lines sent, the
// result, and where the reason of a failure is kept.
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

const std::string kPage = "<html><body>a</body></html>\n";

class LinkAction : public test::ScriptedServerTest {};

TEST_F(LinkAction, LinkFetchesTheDocumentOfFn) {
    const std::string guide = test::mlReply(test::dbLine("guide.kvo", 4242, "Guide"));
    const std::string contvA = test::contvReply("4242", {{100, "a.html"}});
    const std::string retrA = test::retrReply("a.html", kPage);
    struct {
        const char* name;
        const char* word;
        std::vector<std::pair<const char*, const char*>> fields;
        std::vector<std::string> replies;
        std::string sent;
        int result;
        std::string handlerError;  // "@cg": kept in the request instead
    } const cases[] = {
        {"ID and FN", "LINK", {{"ID", "12"}, {"FN", "a.html"}}, {test::verLine(), guide, contvA, retrA},
         "VER\nMLLIST 12\nCONTV 12 a.html\nRETR 4242 a.html\n", 1, ""},
        {"any case of the word", "link", {{"ID", "12"}, {"FN", "a.html"}}, {test::verLine(), guide, contvA, retrA},
         "VER\nMLLIST 12\nCONTV 12 a.html\nRETR 4242 a.html\n", 1, ""},
        {"DB gives the library's ID first", "Link", {{"DB", "guide.kvo"}, {"FN", "a.html"}},
         {test::verLine(), guide, guide, contvA, retrA},
         "VER\nMLLIST \"guide.kvo\"\nMLLIST 4242\nCONTV 4242 a.html\nRETR 4242 a.html\n", 1, ""},
        {"no library field: nothing is sent", "LINK", {{"FN", "a.html"}}, {}, "", 0,
         formatChecked(msgFormat(13, "kivohandler/NOID1"))},
        {"no FN: the library's main page is not built", "LINK", {{"ID", "12"}}, {test::verLine()}, "VER\n", 0,
         formatChecked(msgFormat(10, "kivohandler/2"), "LINK")},
        {"a refused version ends the action", "LINK", {{"ID", "12"}, {"FN", "a.html"}},
         {"500 Unknown command\n"}, "VER\n", 0, "@cg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->options = 0x41;
            for (const auto& [name, value] : c.fields) cg.field(name, value);
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->entry(c.word), c.result);
            EXPECT_EQ(cg->options, 0x1u);
            if (c.handlerError == "@cg") {
                EXPECT_EQ(kh->getError(), "");
                ASSERT_NE(cg->sess, nullptr);
                EXPECT_EQ(cg->getError(), formatChecked(cg->msg(204, "cgihandler/6"), cg->sess->getServerAddr(),
                                                        cg->sess->getError()));
            } else {
                EXPECT_EQ(kh->getError(), c.handlerError);
            }
            if (c.result) {
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), kPage);
            }
            EXPECT_EQ(cg.written(), "");
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

// A member that cannot be fetched is answered by the request's error page,
// which is the whole answer.
TEST_F(LinkAction, MissingDocumentIsAnsweredWithItsErrorPage) {
    ScriptedPeer peer({test::replyScript({test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide")),
                                          test::contvReply("12", {})})});
    ASSERT_TRUE(peer.ok());
    {
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg.field("ID", "12");
        cg.field("FN", "b.html");
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry("LINK"), 1);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(test::errorMessageOf(cg.written()),
                  formatChecked(cg->msg(83, "SearchActions/1"), "b.html", cg->getError()));
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)), "VER\nMLLIST 12\nCONTV 12 b.html\n");
}

}  // namespace
}  // namespace ruva
