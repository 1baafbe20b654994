// JSNOTESINLINE and INSTANT: the notes script's switches and the empty
// instant result page.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

TEST(NotesScript, SwitchLinesFollowInfoAndBl) {
    struct {
        const char* name;
        test::Fields fields;
        std::string lines;
    } const cases[] = {
        {"INFO 1, BL 1",
         {{"INFO", "1"}, {"BL", "1"}},
         "var useInfo = true;\nvar enableCustContextMenu = false;\nvar isContextMenuActive = false;\n"},
        {"INFO 0, BL 0",
         {{"INFO", "0"}, {"BL", "0"}},
         "var useInfo = false;\nvar enableCustContextMenu = true;\nvar isContextMenuActive = false;\n"},
        {"neither", {}, "var useInfo = false;\nvar enableCustContextMenu = true;\nvar isContextMenuActive = false;\n"},
        {"only 1 is on",
         {{"INFO", "yes"}, {"BL", "11"}},
         "var useInfo = false;\nvar enableCustContextMenu = true;\nvar isContextMenuActive = false;\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = c.fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().writeJSFunctions(), 1);
        EXPECT_EQ(cg.page(), c.lines + std::string(notesInlineScriptFile()));
        EXPECT_EQ(cg.sent(), "");
    }
}

// The answer is text/javascript and so goes through the page pass: nothing
// in it may look like markup or a program address to it.
TEST(NotesScript, HoldsNothingThePagePassRewrites) {
    const std::string script = lower(std::string(notesInlineScriptFile()));
    EXPECT_TRUE(script.starts_with("// ")) << "comment first, then the variables";
    EXPECT_NE(script.find("\nvar cpylink_flag = 0;\n"), std::string::npos);
    for (const char* trigger :
         {"<body", "</head>", "<title", "<a ", "<!--@@", "<script", "</script", "http:/", "qzl:/"}) {
        EXPECT_EQ(script.find(trigger), std::string::npos) << trigger;
    }
    for (size_t at = script.find("<h"); at != std::string::npos; at = script.find("<h", at + 1)) {
        EXPECT_FALSE(at + 2 < script.size() && std::isdigit(static_cast<unsigned char>(script[at + 2]))) << at;
    }
    ActionRequest cg({.fields = {{"BL", "1"}}});
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().writeJSFunctions(), 1);
    EXPECT_EQ(test::checkPageScripts("<script>" + cg.page() + "</script>"), 1);
}

TEST(InstantPage, NeedsALibraryField) {
    for (const char* name : {"ID", "LI", "DB"}) {
        SCOPED_TRACE(name);
        ActionRequest cg({.fields = {{name, "x"}, {"PA", "wiring"}}});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().entry("INSTANT"), 1);
        const std::string page = cg.page();
        EXPECT_TRUE(page.starts_with("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n")) << page.substr(0, 80);
        EXPECT_NE(page.find("<title>Search Results</title>"), std::string::npos);
        EXPECT_NE(page.find("top.performSearch();"), std::string::npos);
        EXPECT_NE(page.find("<div id=\"search_list_is\"></div>"), std::string::npos);
        EXPECT_NE(page.find("<ul class='context-menu' id='doc-menu'>"), std::string::npos);
        EXPECT_NE(page.find("?VR=R19K&AC=TBIMG&IM=124"), std::string::npos);
        EXPECT_NE(page.find("?VR=R19K&AC=TBIMG&IM=99"), std::string::npos);
        EXPECT_TRUE(page.ends_with("</ul>\n</body></html>\n"));
        EXPECT_TRUE(cg->flags & kCgiNoSearchWords) << "the pass marks no hits";
        EXPECT_EQ(cg.sent(), "");
    }
    // Empty values count as none; the dispatcher's generic message answers.
    ActionRequest cg({.fields = {{"ID", ""}, {"PA", "wiring"}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().entry("INSTANT"), 0);
    EXPECT_EQ(cg.handler().getError(), formatChecked(msgFormat(476, "kivohandler/0"), std::string("INSTANT")));
    EXPECT_FALSE(cg->flags & kCgiNoSearchWords);
    EXPECT_EQ(cg.written(), "");
}

// The script address comes from the request's host: it stays inside the
// attribute.
TEST(InstantPage, ImageAddressStaysInItsAttribute) {
    ActionRequest cg({.fields = {{"ID", "12"}}});
    ASSERT_TRUE(cg.ok());
    cg->kivoServName = "/h\"x'<y>:80/cgi-bin/kivoserv";
    ASSERT_EQ(cg.handler().writeInstantResultsPage(), 1);
    EXPECT_NE(cg.page().find("src=\"http://h&quot;x&#39;&lt;y&gt;:80/cgi-bin/kivoserv?VR=R19K&AC=TBIMG&IM=124\""),
              std::string::npos);
}

}  // namespace
}  // namespace ruva
