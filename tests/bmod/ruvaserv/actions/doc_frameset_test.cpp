// DOCNOTREE: the document frameset's exact bytes per BC, and the messages
// of the fields a mode needs.
#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

std::string frameset(const std::string& treeColour, const std::string& address) {
    return "<html><script type=\"text/javascript\">\n<!--\n" + std::string(docFramesetScriptFile()) +
           "//-->\n</script>\n<frameset cols=\"0,*\" framespacing=\"0\" frameborder=\"0\" border=\"0\">"
           " <frame src='qzl:/kivo?AC=BLANK&amp;BG=" +
           treeColour + "' name='kivotree'  scrolling=\"no\" noresize=\"noresize\" />\n <frame src=\"" + address +
           "\" name=\"kivodoc\" noresize=\"noresize\" />\n</frameset>\n</html>";
}

TEST(DocFrameset, DocumentFrameAddressFollowsBc) {
    struct {
        const char* name;
        test::Fields fields;
        std::string treeColour;
        std::string address;
    } const cases[] = {
        {"SUB_MAIN with an id", {{"BC", "SUB_MAIN"}, {"ID", "9999"}}, "FFFFFF", "qzl:/kivo?ID=9999&amp;AC=SUB_MAIN"},
        {"SUB_MAIN without id", {{"BC", "SUB_MAIN"}}, "FFFFFF", "qzl:/kivo?AC=SUB_MAIN"},
        {"an empty id counts as none", {{"BC", "SUB_MAIN"}, {"ID", ""}}, "FFFFFF", "qzl:/kivo?AC=SUB_MAIN"},
        {"the mode word is case-sensitive", {{"BC", "extfunc"}, {"ID", "12"}, {"XF", "FN=a.html"}}, "FFFFFF",
         "qzl:/kivo?ID=12&amp;AC=extfunc"},
        {"oldlib is not OLDLIB", {{"BC", "oldlib"}}, "FFFFFF", "qzl:/kivo?AC=oldlib"},
        {"EXTFUNC takes the query as built, separators and all",
         {{"BC", "EXTFUNC"}, {"XF", "ID=12&amp;AC=CHNGLANG&amp;EXT=TRUE&amp;LU=en"}}, "FFFFFF",
         "qzl:/kivo?ID=12&amp;AC=CHNGLANG&amp;EXT=TRUE&amp;LU=en"},
        {"EXTFUNC keeps XF inside the attribute", {{"BC", "EXTFUNC"}, {"XF", "a\"><script>x"}}, "FFFFFF",
         "qzl:/kivo?a&#34;  script x"},
        {"OLDLIB names the first-edition page",
         {{"BC", "OLDLIB"}, {"ID", "12"}, {"DB", "guide.kvo"}, {"FN", "kivomain.html"}}, "006699",
         "qzl:/kivo?ID=12&amp;DB=guide.kvo&amp;FN=kivomain.html"},
        // A '&' or '+' in a value would add a field to the document request.
        {"values cannot add fields",
         {{"BC", "OLDLIB"}, {"ID", "1&AC=IMAGE"}, {"DB", "a+b.kvo"}, {"FN", "x y.html#top"}}, "006699",
         "qzl:/kivo?ID=1%26AC%3DIMAGE&amp;DB=a%2Bb.kvo&amp;FN=x+y.html%23top"},
        {"the mode word is coded too", {{"BC", "A&B=1"}, {"ID", "7"}}, "FFFFFF",
         "qzl:/kivo?ID=7&amp;AC=A%26B%3D1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.fields = c.fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().docNoTreeAction(), 1) << cg->getError();
        EXPECT_EQ(cg.page(), frameset(c.treeColour, c.address));
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), "");
    }
}

TEST(DocFrameset, MissingFieldsAreNamedInTheRequestsError) {
    const std::string noBc = formatChecked(msgFormat(45, "kivohandler/32"));
    const std::string noXf = formatChecked(msgFormat(46, "kivohandler/33"));
    const std::string noOldLib = formatChecked(msgFormat(47, "kivohandler/34"));
    struct {
        const char* name;
        test::Fields fields;
        std::string error;
    } const cases[] = {
        {"no BC", {{"ID", "12"}}, noBc},
        {"an empty BC", {{"BC", ""}, {"ID", "12"}}, noBc},
        {"EXTFUNC without XF", {{"BC", "EXTFUNC"}, {"ID", "12"}}, noXf},
        {"EXTFUNC with an empty XF", {{"BC", "EXTFUNC"}, {"XF", ""}}, noXf},
        {"OLDLIB without FN", {{"BC", "OLDLIB"}, {"ID", "12"}, {"DB", "a.kvo"}}, noOldLib},
        {"OLDLIB with an empty ID", {{"BC", "OLDLIB"}, {"ID", ""}, {"DB", "a.kvo"}, {"FN", "b.html"}}, noOldLib},
        {"OLDLIB without DB", {{"BC", "OLDLIB"}, {"ID", "12"}, {"FN", "b.html"}}, noOldLib},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.handler();
        EXPECT_EQ(kh.docNoTreeAction(), 0);
        EXPECT_EQ(cg->getError(), c.error);
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.written(), "");
    }
}

TEST(DocFrameset, ScriptParsesAfterPostProcessing) {
    test::ActionRequest cg({.fields = {{"BC", "EXTFUNC"}, {"ID", "12"}, {"XF", "ID=12&amp;AC=CHNGLANG"}}});
    ASSERT_TRUE(cg.ok());
    cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    ASSERT_EQ(cg.handler().docNoTreeAction(), 1);
    const std::string page = cg.postProcessed();
    EXPECT_EQ(test::checkPageScripts(page), 1);
    for (const char* name : {"function saveHref", "function handlePDFback(folderID)",
                             "function handlePDFforward(folderID)", "function togBnew(folderID)", "var flag = 1;"}) {
        EXPECT_NE(page.find(name), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace ruva
