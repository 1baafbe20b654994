// The document of FN over a scripted server: the lines sent, the result and
// what the request holds or wrote afterwards.
#include "bmod/ruvaserv/search/search_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
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

class SearchActionsRoad : public test::ScriptedServerTest {};

TEST_F(SearchActionsRoad, DocumentOfFnIsFetchedFromTheRequestsLibrary) {
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::vector<std::string> replies;
        std::string sent;
        int result;
        std::string page;          // docBuf afterwards, when fetched
        const char* shownFile;     // message 83's file name; null: no error page
        bool nothingToFind = false;  // message 85 in the search object
    } const cases[] = {
        {"FN in the library of ID", {{"ID", "12"}, {"FN", "a.html"}},
         {test::mlReply(test::dbLine("guide.kvo", 4242, "Guide")), test::contvReply("4242", {{100, "a.html"}}),
          test::retrReply("a.html", kPage)},
         "MLLIST 12\nCONTV 12 a.html\nRETR 4242 a.html\n", 1, kPage, nullptr},
        {"FN in the library of DB, extension added", {{"DB", "guide"}, {"FN", "a.html"}},
         {test::listReply(test::listLine("guide.kvo")), test::contvReply("guide.kvo", {{100, "a.html"}}),
          test::retrReply("a.html", kPage)},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 1, kPage,
         nullptr},
        {"FN in every library", {{"FN", "a.html"}},
         {test::listReply(test::listLine("guide.kvo")), test::contvReply("guide.kvo", {{100, "a.html"}}),
          test::retrReply("a.html", kPage)},
         "LIST \"*.kvo\"\nCONTV \"*.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 1, kPage, nullptr},
        // The field as stored: the value list has taken the markup out.
        {"a member the library lacks: the error page names FN", {{"ID", "12"}, {"FN", "<b>.html"}},
         {test::mlReply(test::dbLine("guide.kvo", 12, "Guide")), test::contvReply("12", {})},
         "MLLIST 12\nCONTV 12 \" b .html\"\n", 1, "", " b .html"},
        {"no FN, CW or TI: nothing to look up", {{"ID", "12"}}, {}, "", 0, "", nullptr, true},
        {"an empty FN counts as none", {{"ID", "12"}, {"FN", ""}}, {}, "", 0, "", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            for (const auto& [name, value] : c.fields) cg.field(name, value);
            ASSERT_EQ(cg->createDefaultSession(), 1);
            auto kh = newKivoHandler(cg.get());
            auto sa = newSearchActions(cg.get());
            ASSERT_NE(sa, nullptr);
            EXPECT_EQ(sa->getKivoDocument(*kh), c.result);
            EXPECT_EQ(sa->getError(), c.nothingToFind ? getMsgStr(85, "SearchActions/3") : "");
            const std::string written = cg.written();
            if (c.shownFile) {
                EXPECT_TRUE(cg->flags & kCgiResponseDone);
                EXPECT_EQ(test::errorMessageOf(written),
                          formatChecked(cg->msg(83, "SearchActions/1"), c.shownFile, cg->getError()));
                EXPECT_NE(cg->getError(), "");
            } else {
                EXPECT_EQ(written, "");
                EXPECT_FALSE(cg->flags & kCgiResponseDone);
            }
            if (!c.page.empty()) {
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), c.page);
            }
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

// A chapter is not fetched: the browser is sent to the file's own address
// with the chapter as fragment, and no command goes to the server.
TEST_F(SearchActionsRoad, FileWithChapterRedirectsToItsLocation) {
    struct {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::string location;
    } const cases[] = {
        {"library by ID, a file name needing codes", {{"ID", "12"}, {"FN", "a+b&c.html"}, {"CH", "2.3"}},
         "Location: http://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&FN=a%2Bb%26c.html&AC=LINK#2.3\n\n"},
        {"library by DB", {{"DB", "guide.kvo"}, {"FN", "a.html"}, {"CH", "2.3"}},
         "Location: http://127.0.0.1:8080/cgi-bin/kivoserv?DB=guide.kvo&FN=a.html&AC=LINK#2.3\n\n"},
        {"an empty chapter gives no fragment", {{"ID", "12"}, {"FN", "a.html"}, {"CH", ""}},
         "Location: http://127.0.0.1:8080/cgi-bin/kivoserv?ID=12&FN=a.html&AC=LINK\n\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript({})});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
            for (const auto& [name, value] : c.fields) cg.field(name, value);
            ASSERT_EQ(cg->createDefaultSession(), 1);
            auto kh = newKivoHandler(cg.get());
            auto sa = newSearchActions(cg.get());
            ASSERT_NE(sa, nullptr);
            EXPECT_EQ(sa->getKivoDocument(*kh), 1);
            EXPECT_EQ(cg.written(), c.location);
            EXPECT_TRUE(cg->flags & kCgiResponseDone);
            EXPECT_EQ(cg->docSize, 0u);
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), "");
    }
}

}  // namespace
}  // namespace ruva
