// The kivomain query, the about and bookmark pages, and a library's start
// page over a scripted server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"

namespace ruva {
namespace {

using test::ActionRequest;

// The output buffer as the pass has it when the marker is met.
std::string kivoDocAfter(ActionRequest& cg, const std::string& before, int* result) {
    if (!cg->allocDstBuf(4096) || !cg->dstWriteBuf(before)) return "(no buffer)";
    *result = cg.handler().outputKivoDoc();
    return std::string(cg->dstBuf, cg->dstOffs).substr(before.size());
}

TEST(KivoDocMarker, WritesTheQueryOfTheMainFrameLink) {
    const test::Fields external = {{"AC", "SEARCHEXT"}, {"ID", "12"}, {"IM", "5"}, {"PA", "a b&c"}};
    const test::Fields chapter = {{"AC", "linkext"}, {"ID", "12"}, {"CH", "sec2"}, {"IM", "5"}, {"UZ", "x"}};
    struct {
        const char* name;
        test::Fields fields;
        std::string before;
        std::string written;
    } const cases[] = {
        {"SEARCHEXT searches, any case", external, "x", "&amp;AC=SEARCH&amp;ID=12&amp;PA=a+b%26c"},
        {"LINKEXT links, CH as the anchor", chapter, "x", "&amp;AC=LINK&amp;ID=12&amp;UZ=x#sec2"},
        {"LINKEXT without CH: no anchor", {{"AC", "LINKEXT"}, {"ID", "12"}}, "x", "&amp;AC=LINK&amp;ID=12"},
        {"the anchor is coded as a link value",
         {{"AC", "LINKEXT"}, {"ID", "12"}, {"CH", "a'b"}},
         "x",
         "&amp;AC=LINK&amp;ID=12#a%26%2339;b"},
        {"ID only: the main frame",
         {{"AC", "INFO"}, {"ID", "12"}, {"IM", "5"}, {"UZ", "1.2.3.4:9"}, {"DB", "a.kvo"}, {"FN", "d.html"}},
         "x",
         "&amp;AC=LINK&amp;ID=12&amp;FN=kivomain.html"},
        {"DB only, no AC yet", {{"DB", "a.kvo"}}, "x", "&amp;AC=LINK&amp;FN=kivomain.html"},
        {"an empty ID gives way to DB", {{"ID", ""}, {"DB", "a.kvo"}}, "x", "&amp;AC=LINK&amp;FN=kivomain.html"},
        {"neither ID nor DB: nothing", {{"AC", "INFO"}, {"FN", "d.html"}}, "x", ""},
        {"after '?' the first field stands alone", {{"ID", "12"}}, "qzl:/kivo?", "ID=12&amp;AC=LINK&amp;FN=kivomain.html"},
        {"after '&' too", {{"ID", "12"}}, "a&", "ID=12&amp;AC=LINK&amp;FN=kivomain.html"},
        {"after \"&amp;\" the join stays", {{"ID", "12"}}, "a&amp;",
         "&amp;ID=12&amp;AC=LINK&amp;FN=kivomain.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = c.fields});
        ASSERT_TRUE(cg.ok());
        const test::Fields before = cg.fields();
        int result = -1;
        EXPECT_EQ(kivoDocAfter(cg, c.before, &result), c.written);
        EXPECT_EQ(result, 1);
        // A second marker later in the page, and the Expires rules of FN,
        // see the request as it came.
        EXPECT_EQ(cg.fields(), before);
    }
}

TEST(AboutPage, ShowsTheProgramAndItsIdentity) {
    ActionRequest cg;
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().outputAbout(), 1);
    const std::string page = cg.page();
    for (const char* part : {"<title>About KIVOserv</title>", "<h1 align=\"center\">KIVOserv Unix</h1>",
                             "Product Identity: KIVOserv KIVOSRV 1 R19K</strong>",
                             "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\""}) {
        EXPECT_NE(page.find(part), std::string::npos) << part;
    }
    EXPECT_TRUE(page.starts_with(kXhtmlDoctype));
    EXPECT_TRUE(page.ends_with("</div>\n</body></html>\n"));
    EXPECT_EQ(cg.handler().getError(), "");
}

TEST(BookmarkPage, CarriesTheScriptAndThePlacesItFills) {
    ActionRequest cg;
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().BookmarkAction(), 1);
    const std::string page = cg.page();
    EXPECT_NE(page.find("<title>Add Bookmark\n</title>"), std::string::npos);
    EXPECT_NE(page.find(bookmarkScriptFile()), std::string::npos);
    EXPECT_NE(page.find("<div id=\"bmHint\"></div>\n<div id=\"bmLink\"></div>\n"), std::string::npos);
    EXPECT_NE(page.find("value=\"   Close   \" onclick=\"window.close();\""), std::string::npos);
    EXPECT_EQ(test::checkPageScripts(page), 2);
    // The opener's text never goes through markup.
    EXPECT_EQ(bookmarkScriptFile().find("innerHTML"), std::string_view::npos);
    EXPECT_EQ(bookmarkScriptFile().find("document.write"), std::string_view::npos);
}

std::string contReply(const std::string& library, const std::vector<std::string>& members) {
    std::string reply = "300-Contents of Database " + library + "\n";
    for (const std::string& m : members) reply += "300 " + m + "\n";
    return reply + "200-CONT executed.\n";
}

TEST(DatabaseMainPage, NamesTheLibraryAndReportsEachRefusal) {
    const std::string updated =
        "577 Library \"a<b>.kvo\" is being updated. Please perform this operation after some time.\n";
    struct {
        const char* name;
        const char* value;
        std::vector<std::string> replies;
        std::string sent;  // the CONT line, "" for none
        std::string error;
    } const cases[] = {
        {"no value", nullptr, {}, "", formatChecked(msgFormat(56, "kivohandler/41"))},
        {"an empty value", "", {}, "", formatChecked(msgFormat(56, "kivohandler/41"))},
        {"being updated",
         "lib",
         {test::verLine(), updated},
         "CONT \"lib.kvo\" index.html\n",
         formatChecked(msgFormat(7, "kivohandler/103"), "a&lt;b&gt;.kvo")},
        {"removed",
         "123",
         {test::verLine(), "578 Library \"gone.kvo\" has been removed.\n"},
         "CONT 123 index.html\n",
         formatChecked(msgFormat(8, "kivohandler/104"), "gone.kvo")},
        {"no index.html",
         "a.b",
         {test::verLine(), "200-CONT executed.\n"},
         "CONT \"a.b\" index.html\n",
         formatChecked(msgFormat(58, "kivohandler/43"), "a.b")},
        {"refused, the name escaped",
         "x<y>",
         {test::verLine(), "511 Invalid ID\n"},
         "CONT \"x<y>.kvo\" index.html\n",
         formatChecked(msgFormat(57, "kivohandler/42"), "x&lt;y&gt;", "Invalid ID")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().outputDatabaseMainPage(c.value), 0);
        EXPECT_EQ(cg->getError(), c.error);
        const std::string sent = cg.sent();
        if (c.sent.empty()) {
            EXPECT_EQ(sent, "");
        } else {
            EXPECT_NE(sent.find(c.sent), std::string::npos) << sent;
        }
    }
}

TEST(DatabaseMainPage, FetchesTheListedStartPage) {
    const std::string page = "<html><body>start</body></html>\n";
    ActionRequest cg({.replies = {test::verLine(), contReply("lib.kvo", {"index.html"}),
                                  test::listReply(test::listLine("lib.kvo")),
                                  test::contvReply("lib.kvo", {{page.size(), "index.html"}}),
                                  test::retrReply("index.html", page)}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().outputDatabaseMainPage("lib"), 1) << cg->getError();
    EXPECT_EQ(cg.page(), page);
}

}  // namespace
}  // namespace ruva
