// The search waiting page: its body by search type, and a page the
// post-processing leaves alone however the search words read.
#include <gtest/gtest.h>

#include <string>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

TEST(SearchMessage, BodyBySearchType) {
    struct Case {
        const char* name;
        const char* word;
        const char* st;
        const char* horizon;
    } const cases[] = {
        {"document search", "SEARCHMSG", "DOCSEARCH", "<div id=\"horizon\" class=\"c51\">"},
        {"document search in any case", "SORTMSG", "DocSearch", "<div id=\"horizon\" class=\"c51\">"},
        {"library search", "SEARCHMSG", "AdvSearch", "<div id=\"horizon\" class=\"c50\">"},
        {"no ST", "sortmsg", nullptr, "<div id=\"horizon\" class=\"c50\">"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = {{"PA", "search results"}}});
        ASSERT_TRUE(cg.ok());
        if (c.st) cg.field("ST", c.st);
        // As kivoserv marks search words.
        cg->searchHighLight = "<font class=\"hit\">";
        cg->searchNormal = "</font>";
        ASSERT_EQ(cg.handler().entry(c.word), 1) << cg.handler().getError();
        const std::string page = cg.page();
        EXPECT_NE(page.find("<title>Search Libraries: Message</title>"), std::string::npos);
        EXPECT_NE(page.find(c.horizon), std::string::npos);
        EXPECT_EQ(page.find("id=\"search_head\"") != std::string::npos,
                  std::string(c.horizon).find("c50") != std::string::npos);
        EXPECT_NE(page.find("<body onload=\"intermediatepage();\">"), std::string::npos);
        EXPECT_TRUE(page.ends_with("</div>\n</body></html>\n"));
        EXPECT_EQ(cg->flags & kCgiBodyHandlers, 0u);
        EXPECT_EQ(test::checkPageScripts(page), 1);
        // The words "search" and "results" stay unmarked, in the script too.
        const std::string shown = cg.postProcessed();
        EXPECT_EQ(shown.find("<font class=\"hit\">"), std::string::npos) << shown;
        EXPECT_EQ(test::checkPageScripts(shown), 1);
        EXPECT_EQ(cg.sent(), "");
    }
}

}  // namespace
}  // namespace ruva
