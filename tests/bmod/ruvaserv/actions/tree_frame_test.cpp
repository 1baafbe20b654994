// TREEFRAME: the filters taken out of dwfilters.js, and the tree page with
// and without them over a scripted server.
#include "bmod/ruvaserv/actions/tree_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

// dwfilters.js with the given values, each line continued as libraries
// write them.
std::string dwfilters(const std::string& script, const std::string& style) {
    return "var dwf_js=\"" + script + "\";\nvar dwf_html=\"<div id=\\\"f\\\"></div>\";\nvar dwf_css=\"" + style +
           "\";\nvar dwf_cookie=\"kvocat\";\n";
}

const std::string kGoodFile = dwfilters(
    "function dwfApply(a){\\n\\\n  var s=\\\"x\\\";\\n\\\n  if (a) {\\\n    return (a);\\\n  }\\\n}",
    "#filters td{color:red;}\\\n#filters th{}");
const std::string kGoodScript = "function dwfApply(a){\n  var s=\"x\";\n  if (a) {\n    return (a);\n  }\n}";
const std::string kGoodStyle = "#filters td{color:red;}\n#filters th{}";

TEST(ExtractDwFilters, TakesScriptAndStyleOutOfTheirStrings) {
    std::string script, style;
    ASSERT_TRUE(extractDwFilters(kGoodFile, script, style));
    EXPECT_EQ(script, kGoodScript);
    EXPECT_EQ(style, kGoodStyle);
}

// At each place the first rule that matches drops its bytes: continuation
// "\n\", an 'n' before a backslash, an escaped quote's backslash, a
// backslash after ';', '{', '}', '(' or ')'.
TEST(ExtractDwFilters, DropRulesApplyInOrder) {
    struct {
        const char* name;
        std::string value;
        std::string script;
    } const cases[] = {
        {"continuation", "f(){\\n\\\n}", "f(){\n}"},
        {"escaped double quote", "f(){s=\\\"a\\\";}", "f(){s=\"a\";}"},
        {"escaped single quote", "f(){s=\\'a\\';}", "f(){s='a';}"},
        {"backslash after punctuation", "f(\\\n){\\\na;\\\n}\\\n(\\\n)", "f(\n){\na;\n}"},
        {"backslash after a letter stays", "f(){a\\\n}", "f(){a\\\n}"},
        {"n before a backslash, then the quote's backslash", "f(){n\\\"}", "f(){\"}"},
        {"continuation wins over the backslash after ';'", "f(){a;\\n\\\n}", "f(){a;\n}"},
        {"ends after the last brace", "f(){} x=1;", "f(){}"},
        {"no brace leaves no script", "x=1;", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script, style;
        ASSERT_TRUE(extractDwFilters(dwfilters(c.value, "a{}"), script, style));
        EXPECT_EQ(script, c.script);
        EXPECT_EQ(style, "a{}");
    }
    std::string script, style;
    ASSERT_TRUE(extractDwFilters(dwfilters("f(){}", "a{}\\\nb{x:\\\"y\\\"}"), script, style));
    EXPECT_EQ(style, "a{}\nb{x:\\\"y\\\"}") << "the style drops only a backslash after '}'";
}

TEST(ExtractDwFilters, MissingReversedOrCloseKeysFail) {
    struct {
        const char* name;
        std::string file;
        bool found;
    } const cases[] = {
        {"script key missing", "var dwf_html=\"\";\nvar dwf_css=\"a{}\";\nvar dwf_cookie=\"c\";\n", false},
        {"script end key missing", "var dwf_js=\"f(){}\";\nvar dwf_css=\"a{}\";\nvar dwf_cookie=\"c\";\n", false},
        {"style key missing", "var dwf_js=\"f(){}\";\nvar dwf_html=\"\";\nvar dwf_cookie=\"c\";\n", false},
        {"style end key missing", "var dwf_js=\"f(){}\";\nvar dwf_html=\"\";\nvar dwf_css=\"a{}\";\n", false},
        {"script keys reversed",
         "var dwf_html=\"\";\nvar dwf_js=\"f(){}\";\nvar dwf_css=\"a{}\";\nvar dwf_cookie=\"c\";\n", false},
        {"style keys reversed",
         "var dwf_js=\"f(){}\";\nvar dwf_html=\"\";\nvar dwf_cookie=\"c\";\nvar dwf_css=\"a{}\";\n", false},
        {"script end key 14 on", "var dwf_js=\"\";var dwf_html=var dwf_css=\"\";\nvar dwf_cookie=", true},
        {"script end key 13 on", "var dwf_js=\";var dwf_html=var dwf_css=\"\";\nvar dwf_cookie=", false},
        {"style end key 15 on", "var dwf_js=\"\";var dwf_html=var dwf_css=\";\nvar dwf_cookie=", false},
        {"empty file", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string script = "kept", style = "kept";
        EXPECT_EQ(extractDwFilters(c.file, script, style), c.found);
        if (c.found) {
            EXPECT_EQ(script, "");
            EXPECT_EQ(style, "");
        } else {
            EXPECT_EQ(script, "kept");
            EXPECT_EQ(style, "kept");
        }
    }
}

// Every cut of a good file, each in a buffer of its own length, so that
// the sanitizer sees any read past it; only the whole file holds all keys.
TEST(ExtractDwFilters, TruncatedFilesAreReadWithinTheirLength) {
    const size_t complete = kGoodFile.find("var dwf_cookie=") + std::string("var dwf_cookie=").size();
    for (size_t n = 0; n <= kGoodFile.size(); ++n) {
        const std::vector<char> bytes(kGoodFile.begin(), kGoodFile.begin() + static_cast<std::ptrdiff_t>(n));
        std::string script, style;
        EXPECT_EQ(extractDwFilters(std::string_view(bytes.data(), bytes.size()), script, style), n >= complete)
            << n;
    }
}

const std::string kFilteredLibrary = test::mlReply(test::dbLine("cat.kvo", 4242, "Filtered [EN/CAT1 R1A] CAT:kvocat"));
const std::string kPlainLibrary = test::mlReply(test::dbLine("plain.kvo", 4243, "Plain [EN/PLAIN1 R1A]"));

std::vector<std::string> filteredReplies(const std::string& file) {
    return {test::verLine(), kFilteredLibrary, kFilteredLibrary,
            test::contvReply("4242", {{file.size(), "dwfilters.js"}}), test::retrReply("dwfilters.js", file)};
}

TEST(TreeFrame, FilteredLibraryGetsOverlayAndItsFilters) {
    ActionRequest cg({.replies = filteredReplies(kGoodFile), .fields = {{"ID", "4242"}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().writeDummyTreeFrame(), 1) << cg.handler().getError() << cg->getError();
    const std::string page = cg.page();
    EXPECT_NE(page.find("<title>KIVO Tree</title>"), std::string::npos);
    EXPECT_NE(page.find(kGoodStyle + "--></STYLE>\n"), std::string::npos);
    EXPECT_NE(page.find("\n" + kGoodScript + "\n</script>\n"), std::string::npos);
    EXPECT_NE(page.find("<div id='bgoverlay'"), std::string::npos);
    EXPECT_NE(page.find("<div id='filters'>"), std::string::npos);
    EXPECT_NE(page.find("position: fixed"), std::string::npos) << "the overlay of current browsers";
    EXPECT_TRUE(page.ends_with("&lt;CTRL + Right-Click&gt; to open browser menu</li>\n</ul>\n</body></html>\n"));
    EXPECT_EQ(test::checkPageScripts(page), 2);
    // A page of its own: not saved as dwfilters.js, not dated by it.
    EXPECT_EQ(cg->mimeType, "text/html");
    EXPECT_EQ(cg->mimeFilename, "");
    EXPECT_EQ(cg->docCTime, 0);
    EXPECT_EQ(cg.sent(), "VER\nMLLIST 4242\nMLLIST 4242\nCONTV 4242 dwfilters.js\nRETR 4242 dwfilters.js\n");
}

TEST(TreeFrame, OlderBrowsersGetTheirOwnOverlay) {
    struct {
        const char* name;
        BrowserType type;
        int ie11;
        bool old;
    } const cases[] = {
        {"IE 6", BROWSER_IE_6, 0, true},
        {"IE 5", BROWSER_IE_5, 0, true},
        {"Netscape 6", BROWSER_NETSCAPE_6, 0, true},
        {"IE 11 reads as IE 6", BROWSER_IE_6, 1, false},
        {"Firefox", BROWSER_FIREFOX_1, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = filteredReplies(kGoodFile), .fields = {{"ID", "4242"}}});
        ASSERT_TRUE(cg.ok());
        cg->browserType = c.type;
        cg->isBrowserIE11 = c.ie11;
        ASSERT_EQ(cg.handler().writeDummyTreeFrame(), 1);
        const std::string page = cg.page();
        EXPECT_EQ(page.find("filter: alpha(opacity=50)") != std::string::npos, c.old);
        EXPECT_EQ(page.find("position: fixed") != std::string::npos, !c.old);
        // The current overlay's scripts are checked above; one old one here.
        if (c.type == BROWSER_IE_6 && c.old) {
            EXPECT_EQ(test::checkPageScripts(page), 2);
        }
    }
}

// Without "CAT:" the filters are not asked for at all.
TEST(TreeFrame, PlainLibraryGetsNoFilterBlocks) {
    ActionRequest cg({.replies = {test::verLine(), kPlainLibrary}, .fields = {{"DB", "plain.kvo"}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().writeDummyTreeFrame(), 1);
    const std::string page = cg.page();
    EXPECT_EQ(page.find("bgoverlay"), std::string::npos);
    EXPECT_EQ(page.find("id='filters'"), std::string::npos);
    EXPECT_NE(page.find("<div id='suggest'></div>"), std::string::npos);
    EXPECT_EQ(test::checkPageScripts(page), 1);
    EXPECT_EQ(cg.sent(), "VER\nMLLIST \"plain.kvo\"\n");
}

TEST(TreeFrame, FailuresGiveOneAnswer) {
    const std::string generic = formatChecked(msgFormat(476, "kivohandler/0"), std::string("TREEFRAME"));
    struct {
        const char* name;
        std::vector<std::string> replies;
        test::Fields fields;
        std::string error;
        std::string sent;
    } const cases[] = {
        {"no library", {test::verLine()}, {{"FN", "kivotree.html"}}, generic, ""},
        {"not listed",
         {test::verLine(), "500 Unknown library\n"},
         {{"ID", "77"}},
         "@92",
         "VER\nMLLIST 77\n"},
        {"no comment",
         {test::verLine(), test::mlReply(test::dbLine("bare.kvo", 77, ""))},
         {{"ID", "77"}},
         formatChecked(msgFormat(13, "kivohandler/96")),
         "VER\nMLLIST 77\n"},
        {"filters without a style",
         filteredReplies("var dwf_js=\"f(){}\";\nvar dwf_html=\"\";\nvar dwf_cookie=\"c\";\n"),
         {{"ID", "4242"}},
         generic,
         "VER\nMLLIST 4242\nMLLIST 4242\nCONTV 4242 dwfilters.js\nRETR 4242 dwfilters.js\n"},
        {"filters with reversed keys",
         filteredReplies("var dwf_html=\"\";\nvar dwf_js=\"f(){}\";\nvar dwf_cookie=\"c\";\nvar dwf_css=\"a{}\";\n"),
         {{"ID", "4242"}},
         generic,
         "VER\nMLLIST 4242\nMLLIST 4242\nCONTV 4242 dwfilters.js\nRETR 4242 dwfilters.js\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        KivoHandler& kh = cg.handler();
        EXPECT_EQ(kh.entry("TREEFRAME"), 0);
        if (c.error == "@92") {
            EXPECT_TRUE(kh.getError().starts_with("Failed to list database on 127.0.0.1:")) << kh.getError();
            EXPECT_NE(kh.getError().find("kivohandler/97"), std::string::npos);
        } else {
            EXPECT_EQ(kh.getError(), c.error);
        }
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

}  // namespace
}  // namespace ruva
