// The library's frameset page: its script values, frames and the follow-up
// request of setLowerFrame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::Fields;
using test::scriptValue;

// The library look-ups answered from the test's own values, so that the
// server sees only VER and the help library's MLLIST.
class LookupStub : public KivoHandler {
public:
    explicit LookupStub(CgiHandler* request) : KivoHandler(request) {}

    std::string title = "Guide";
    std::string reference = "EN/ABC 1234567 R1A";
    std::string entryId = "20|12|guide.kvo|";
    bool found = true;
    int hash = 12;
    bool sdi = true;
    int collection = 0;
    std::string pairs;
    std::optional<std::string> colReference;
    std::string colTitle;
    std::vector<std::string> typeAsked;

    int getLibTitleFromServer(std::string& t, std::string& ref, std::string& id, bool) override {
        if (!found) {
            setError("no such library");
            return 0;
        }
        t = title;
        ref = reference;
        id = entryId;
        return 1;
    }
    int getHashId(const std::string&, std::string* text) override {
        if (!hash) {
            setError("not available");
            cg->setError("server gone");
            return 0;
        }
        if (text) *text = std::to_string(hash);
        return hash;
    }
    bool getLibraryType(std::string_view library) override {
        typeAsked.emplace_back(library);
        return sdi;
    }
    int getSolutionFromServer(int& mark, std::string& p) override {
        mark = collection;
        p = pairs;
        if (collection) cg->collectionHashId = 40;
        return 1;
    }
    std::optional<std::string> getLifromID(std::string_view) override { return colReference; }
    std::optional<std::string> getDBfromLI(std::string& t, std::string_view) override {
        t = colTitle;
        return std::nullopt;
    }
};

constexpr char kHelpMissing[] = "511 Invalid database 'kivo_help.khx'\n";

std::string helpListed() { return test::mlReply(test::dbLine("kivo_help.khx", 7, "Help [EN/HELP1 R1A]")); }

struct Page {
    std::string text;
    int result = 0;
    Fields fields;
    uint32_t options = 0;
    time_t expiry = 0;
    std::string sent;
    std::string error;
    std::vector<std::string> typeAsked;
};

struct PageSetup {
    Fields fields = {{"ID", "12"}};
    int mode = 0;
    std::function<void(LookupStub&)> stub = nullptr;
    std::string help = kHelpMissing;
    time_t expiry = 1800;
    uint32_t options = 0;
};

Page runMainPage(const PageSetup& setup) {
    ActionRequest cg({.replies = {test::verLine(), setup.help},
                      .fields = setup.fields,
                      .env = {{"HTTP_HOST", "docs.example"}, {"SCRIPT_NAME", "/cgi-bin/kivoserv"}}});
    Page page;
    if (!cg.ok()) return page;
    cg->expirePeriod = setup.expiry;
    cg->options = setup.options;
    cg->kivoServName = "/docs.example/cgi-bin/kivoserv";
    auto& kh = cg.useHandler<LookupStub>();
    if (setup.stub) setup.stub(kh);
    page.result = kh.mainPageAction(setup.mode);
    page.text = cg.page();
    page.fields = cg.fields();
    page.options = cg->options;
    page.expiry = cg->expirePeriod;
    page.error = kh.getError() + "|" + cg->getError();
    page.typeAsked = kh.typeAsked;
    page.sent = cg.sent();
    return page;
}

TEST(MainPageAction, EntryPageHasTheFramesetAndTheScriptValues) {
    const Page page = runMainPage({.fields = {{"ID", "12"}, {"AC", "LINKEXT"}, {"FN", "a.html"}}, .help = helpListed()});
    ASSERT_EQ(page.result, 1) << page.error;
    EXPECT_EQ(page.sent, "VER\nMLLIST \"kivo_help.khx\"\n");
    EXPECT_EQ(page.typeAsked, std::vector<std::string>{"12"});
    // The instant-search block opens the script; the page's own values follow it.
    const std::string head =
        "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n<head>\n<title>Guide</title>\n"
        "<script type=\"text/javascript\" language=\"JavaScript\">\n<!--\nvar kvosrvURL = ";
    EXPECT_TRUE(page.text.starts_with(head)) << page.text.substr(0, head.size());
    EXPECT_NE(page.text.find(std::string(instantSearchScriptFile()) +
                             "var idlilist = '';\n\nvar libInfType = 'SDI';\n\nvar libId = 'EN/ABC1234567R1A';\n\n"),
              std::string::npos);
    EXPECT_NE(page.text.find("var basicUrl = \"qzl:/kivo?VR=R19K&AC=tbimg&IM=\";\n\n"), std::string::npos);
    EXPECT_EQ(scriptValue(page.text, "helpCount"), "1");
    EXPECT_EQ(scriptValue(page.text, "helpID"), "'kivo_help.khx'");
    EXPECT_EQ(scriptValue(page.text, "kvRootId"), "\"<!--@@rootid-->\"");
    EXPECT_EQ(scriptValue(page.text, "kvPersonalDocsUrl"), "'http://docs.example/cgi-bin/zopa?ST=MYDOCS'");
    EXPECT_NE(page.text.find(std::string(mainPageScriptFile()) +
                             std::string(scriptSection(annotEditScriptFile(), "open")) + "//-->\n</script>\n"),
              std::string::npos);
    EXPECT_TRUE(page.text.ends_with(
        "<script type=\"text/javascript\" src=\"http://docs.example/cgi-bin/kivoserv?VR=R19K&amp;AC=JSNOTESINLINE\">"
        "</script>\n"
        "<script type=\"text/javascript\" src=\"http://docs.example/cgi-bin/kivoserv?VR=R19K&amp;AC=JSCMENU\">"
        "</script>\n</head>\n"
        "<frameset rows='32,*' frameborder='1' framespacing='1' border='1' bordercolor='#cccccc'>\n"
        "<frame src=\"qzl:/kivo?ac=toolbar&amp;VR=R19K&amp;TB=0\" name=\"kivotbar\" scrolling=\"no\" "
        "noresize=\"noresize\" />\n"
        "<frame src=\"qzl:/kivo?ac=BLANK&amp;BG=FFFFFF\" name=\"kivomain\" />\n</frameset>\n</html>\n"));
    EXPECT_EQ(page.expiry, 300);
}

TEST(MainPageAction, ValuesByRequestAndLibrary) {
    struct Case {
        const char* name;
        PageSetup setup;
        const char* variable;
        std::string want;
    };
    const std::string longRef(150, 'x');
    const std::vector<Case> cases = {
        {"expiry 60 stays", {.expiry = 60}, nullptr, ""},
        {"no help library", {}, "helpCount", "0"},
        {"ZUL library", {.stub = [](LookupStub& s) { s.sdi = false; }}, "libInfType", "'ZUL'"},
        {"libId cut at 100", {.stub = [&](LookupStub& s) { s.reference = "a b" + longRef; }}, "libId",
         "'ab" + longRef.substr(0, 98) + "'"},
        {"quote in reference", {.stub = [](LookupStub& s) { s.reference = "a'b\\"; }}, "libId", "'a\\u0027b\\\\'"},
        {"collection pairs",
         {.stub = [](LookupStub& s) {
             s.collection = 1;
             s.pairs = "0-EN/GONE1 R1A|13-EN/ONE1 R1A|40-EN/COLL1R1A";
             s.colReference = "EN/COLL1 R1A";
             s.colTitle = "Collection";
         }},
         "idlilist", "'0-EN/GONE1 R1A|13-EN/ONE1 R1A|40-EN/COLL1R1A'"},
        {"collection title",
         {.stub = [](LookupStub& s) {
             s.collection = 1;
             s.colReference = "EN/COLL1 R1A";
             s.colTitle = "Coll </script>";
         }},
         "colLibTitle", "'Coll \\u003C/script\\u003E'"},
        {"not a collection", {.stub = [](LookupStub& s) { s.colReference = "EN/X"; }}, "colLibId", "''"},
        {"browser", {.stub = [](LookupStub& s) { s.cg->browserType = BROWSER_IE_6; }}, "kvBrowser", "16"},
        {"no filter script", {}, "kvFilterValues", "null"},
        {"filter values",
         {.fields = {{"ID", "12"}, {"FS", "\\"}, {"FB", "+1+"}, {"F9", "9"}},
          .stub = [](LookupStub& s) { s.isCatEnabled = 1; }},
         "kvFilterValues", "['\\\\', '+1+', '', '', '', '', '', '', '', '', '', '9']"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Page page = runMainPage(c.setup);
        ASSERT_EQ(page.result, 1) << page.error;
        if (c.variable) {
            EXPECT_EQ(scriptValue(page.text, c.variable), c.want);
        }
    }
    EXPECT_EQ(runMainPage({.expiry = 60}).expiry, 60);
}

TEST(MainPageAction, HostileTitleIsTextAndCutAt80) {
    const std::string hostile = "<img src=x onerror=window.__p=1> &amp; \"q\" 'a'" + std::string(100, 'z');
    const Page page = runMainPage({.stub = [&](LookupStub& s) { s.title = hostile; }});
    ASSERT_EQ(page.result, 1) << page.error;
    const std::string shown = "&lt;img src=x onerror=window.__p=1&gt; &amp; &quot;q&quot; &#39;a&#39;" +
                              std::string(80 - 46, 'z');
    EXPECT_NE(page.text.find("<title>" + shown + "</title>\n"), std::string::npos);
    EXPECT_EQ(page.text.find("<img"), std::string::npos);
}

TEST(MainPageAction, FailuresLeaveTheirText) {
    const Page missing = runMainPage({.stub = [](LookupStub& s) { s.found = false; }});
    EXPECT_EQ(missing.result, 0);
    EXPECT_EQ(missing.error, "no such library|");
    // A hash lookup that fails costs the page nothing, and no stale text.
    const Page noHash = runMainPage({.fields = {{"DB", "guide.kvo"}}, .stub = [](LookupStub& s) { s.hash = 0; }});
    EXPECT_EQ(noHash.result, 1);
    EXPECT_EQ(noHash.error, "|");
    EXPECT_EQ(noHash.typeAsked, std::vector<std::string>{"guide.kvo"});
}

TEST(MainPageAction, NoServerNoPage) {
    ActionRequest cg({.replies = {"500 go away\n"}, .fields = {{"ID", "12"}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<LookupStub>();
    EXPECT_EQ(kh.mainPageAction(0), 0);
    EXPECT_NE(cg->getError(), "");
    EXPECT_EQ(cg.written(), "");
}

// The follow-up request each entry word leaves for setLowerFrame.
TEST(MainPageAction, FollowUpRequestByEntryWord) {
    struct Case {
        const char* name;
        Fields fields;
        uint32_t options;
        const char* mode;
        Fields want;  // the fields afterwards, in list order
        std::string xf;
    };
    const std::vector<Case> cases = {
        {"LINKEXT", {{"AC", "LINKEXT"}, {"ID", "12"}, {"FN", "a.html"}}, 0, "ext",
         {{"AC", "CHNGLANG"}, {"ID", "12"}, {"FN", "a.html"}, {"EXT", "TRUE"}, {"LU", "en"}},
         "AC=CHNGLANG&amp;ID=12&amp;FN=a.html&amp;EXT=TRUE&amp;LU=en"},
        {"SEARCHEXT without OP", {{"AC", "searchext"}, {"ID", "12"}, {"PA", "a b"}}, 0, "ext",
         {{"AC", "CHNGLANG"}, {"ID", "12"}, {"PA", "a b"}, {"EXT", "TRUE"}, {"SCH", "TRUE"}, {"LU", "en"},
          {"OP", "200"}},
         "AC=CHNGLANG&amp;ID=12&amp;PA=a+b&amp;EXT=TRUE&amp;SCH=TRUE&amp;LU=en&amp;OP=200"},
        {"SEARCHEXT with OP", {{"AC", "SEARCHEXT"}, {"DB", "g.kvo"}, {"OP", "1"}}, 0x1, "ext",
         {{"AC", "CHNGLANG"}, {"DB", "g.kvo"}, {"OP", "201"}, {"EXT", "TRUE"}, {"SCH", "TRUE"}, {"LU", "en"},
          {"ID", "0"}},
         "AC=CHNGLANG&amp;DB=g.kvo&amp;OP=201&amp;EXT=TRUE&amp;SCH=TRUE&amp;LU=en&amp;ID=0"},
        {"COMPMEXT", {{"AC", "COMPMEXT"}, {"ID", "12"}}, 0, "ext", {{"AC", "COMPMSG"}, {"ID", "12"}},
         "AC=COMPMSG&amp;ID=12"},
        {"COMPEXT ID and IC", {{"AC", "COMPEXT"}, {"ID", "12"}, {"IC", "13"}}, 0, "ext",
         {{"AC", "COMPEXE"}, {"ID", "12"}, {"IC", "13"}}, "AC=COMPEXE&amp;ID=12&amp;IC=13"},
        {"COMPEXT DB and DC", {{"AC", "COMPEXT"}, {"DB", "a.kvo"}, {"DC", "b.kvo"}}, 0, "ext",
         {{"AC", "COMPEXE"}, {"DB", "a.kvo"}, {"DC", "b.kvo"}}, "AC=COMPEXE&amp;DB=a.kvo&amp;DC=b.kvo"},
        {"COMPEXT DB without DC", {{"AC", "COMPEXT"}, {"ID", "12"}, {"DB", "a.kvo"}}, 0, "ext",
         {{"AC", "COMPSEL"}, {"ID", "12"}}, "AC=COMPSEL&amp;ID=12"},
        {"COMPEXT ID and DC", {{"AC", "COMPEXT"}, {"ID", "12"}, {"DC", "b.kvo"}}, 0, "ext",
         {{"AC", "COMPSEL"}, {"ID", "12"}}, "AC=COMPSEL&amp;ID=12"},
        {"COMPEXT IC only", {{"AC", "COMPEXT"}, {"IC", "13"}}, 0, "ext", {{"AC", "COMPSEL"}}, "AC=COMPSEL"},
        {"first edition", {{"AC", "LINKEXT"}, {"ID", "12"}, {"DB", "old.kvo"}, {"FN", "KIVOMAIN.html"}}, 0,
         "oldLib", {{"AC", "CHNGLANG"}, {"ID", "12"}, {"DB", "old.kvo"}, {"FN", "KIVOMAIN.html"}, {"EXT", "TRUE"},
                    {"LU", "en"}},
         "AC=CHNGLANG&amp;ID=12&amp;DB=old.kvo&amp;FN=KIVOMAIN.html&amp;EXT=TRUE&amp;LU=en"},
        {"other word", {{"AC", "LINK"}, {"ID", "12"}}, 0, "subMain", {{"AC", "LINK"}, {"ID", "12"}}, ""},
        {"no AC", {{"ID", "12"}}, 0, "subMain", {{"ID", "12"}}, ""},
        {"hostile XF", {{"AC", "LINKEXT"}, {"ID", "12"}, {"a'b\"c", "\"><script>"}}, 0, "ext",
         {{"AC", "CHNGLANG"}, {"ID", "12"}, {"a'b\"c", "&#34;  script "}, {"EXT", "TRUE"}, {"LU", "en"}},
         "AC=CHNGLANG&amp;ID=12&amp;a%27b%22c=%26%2334%3B++script+&amp;EXT=TRUE&amp;LU=en"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Page page = runMainPage({.fields = c.fields, .options = c.options});
        ASSERT_EQ(page.result, 1) << page.error;
        EXPECT_EQ(page.fields, c.want);
        EXPECT_EQ(scriptValue(page.text, "kvLowerMode"), std::string("'") + c.mode + "'");
        EXPECT_EQ(scriptValue(page.text, "kvXF"), "'" + c.xf + "'");
    }
}

TEST(MainPageAction, FirstEditionLoadsTheOldLibraryPage) {
    const Page page =
        runMainPage({.fields = {{"AC", "LINKEXT"}, {"ID", "12"}, {"DB", "o'd&AC=IMAGE.kvo"}, {"FN", "kivomain.html"}}});
    ASSERT_EQ(page.result, 1) << page.error;
    EXPECT_EQ(scriptValue(page.text, "kvOldLibUrl"),
              "'qzl:/kivo?id=12&FN=kivomain.html&AC=DOCNOTREE&BC=OLDLIB&DB=o%26%2339%3Bd%26AC%3DIMAGE.kvo'");
}

TEST(MainPageAction, LibraryMainPageShowsTheRequestsLink) {
    const Page linked = runMainPage({.fields = {{"ID", "12"}, {"FN", "kivo2.html"}, {"IM", "3"}}, .mode = 3});
    ASSERT_EQ(linked.result, 1) << linked.error;
    EXPECT_NE(linked.text.find("<frame src=\"qzl:/kivo?ac=LINK&amp;ID=12&amp;FN=kivo2.html\" name=\"kivomain\" />"),
              std::string::npos);
    EXPECT_EQ(scriptValue(linked.text, "kvLowerMode"), "'none'");
    EXPECT_EQ(linked.fields, (Fields{{"ID", "12"}, {"FN", "kivo2.html"}, {"IM", "3"}}));
    // Nothing but IM: the blank main frame.
    const Page blank = runMainPage({.fields = {{"IM", "3"}}, .mode = 3});
    ASSERT_EQ(blank.result, 1) << blank.error;
    EXPECT_NE(blank.text.find("<frame src=\"qzl:/kivo?ac=BLANK&amp;BG=FFFFFF\" name=\"kivomain\" />"),
              std::string::npos);
}

TEST(MainPageAction, PersonalDocsAddress) {
    struct Case {
        const char* scriptName;
        const char* zopa;
        const char* want;
    };
    const Case cases[] = {
        {"/cgi-bin/kivoserv", "", "'http://h/cgi-bin/zopa?ST=MYDOCS'"},
        // Too short to hold the program's name: nothing of it is kept.
        {"/kivo", "", "'http://hzopa?ST=MYDOCS'"},
        {"/cgi-bin/kivoserv", "https://z.example/zopa", "'https://z.example/zopa?ST=MYDOCS'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scriptName);
        ActionRequest cg({.replies = {test::verLine(), kHelpMissing},
                          .fields = {{"ID", "12"}},
                          .env = {{"HTTP_HOST", "h"}, {"SCRIPT_NAME", c.scriptName}}});
        ASSERT_TRUE(cg.ok());
        cg->isZopaUrl = c.zopa;
        auto& kh = cg.useHandler<LookupStub>();
        ASSERT_EQ(kh.mainPageAction(0), 1);
        EXPECT_EQ(scriptValue(cg.page(), "kvPersonalDocsUrl"), c.want);
    }
}

TEST(MainPageAction, ScriptsParseAfterPostProcessing) {
    struct Case {
        const char* name;
        PageSetup setup;
    };
    const std::vector<Case> cases = {
        {"plain", {.fields = {{"ID", "12"}}}},
        {"hostile", {.fields = {{"ID", "12"}, {"AC", "LINKEXT"}, {"a'b\"c", "\"><script>"}, {"FS", "\\"},
                                {"FB", "+1+"}, {"FN", "</script>"}},
                     .stub = [](LookupStub& s) {
                         s.title = "<img src=x onerror=window.__p=1>";
                         s.reference = "a'b\\";
                         s.isCatEnabled = 1;
                         s.collection = 1;
                         s.colReference = "x'</script>";
                     }}},
        {"library page", {.fields = {{"ID", "12"}, {"FN", "kivo2.html"}}, .mode = 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = {test::verLine(), kHelpMissing}, .fields = c.setup.fields});
        ASSERT_TRUE(cg.ok());
        cg->kivoServName = "/h/cgi-bin/kivoserv";
        auto& kh = cg.useHandler<LookupStub>();
        if (c.setup.stub) c.setup.stub(kh);
        ASSERT_EQ(kh.mainPageAction(c.setup.mode), 1);
        ASSERT_EQ(cg->postProcessFile(), 1) << cg->getError();
        const std::string out(cg->dstBuf, cg->dstOffs);
        EXPECT_NE(out.find("var kvRootId = \"\";"), std::string::npos) << out;
        EXPECT_GE(test::checkPageScripts(out), 3);
    }
}

// The frames the main page's script talks to, as plain objects that
// record what is done to them; the page is top.
constexpr char kFrameStubs[] = R"(
globalThis.top = globalThis;
var done = [];
var field = function (v) { return { value: v }; };
top.location = { href: @TOP_HREF@, reload: function () { done.push('reload'); } };
top.kivotbar = { kvSearchPrompt: 'Search', document: { forms: {
  ext: { XF: field('') },
  lib: { PA: field(''), ID: field('0'), li: field('') },
  sdlinfo: { LIBSWITCH: field(@SWITCH@) },
  ssoldlib: { BC: field(''), ID: field(''), DB: field(''), FN: field(''),
              submit: function () { done.push('ssoldlib ' + this.BC.value + ' [' + this.ID.value + ']'); } } } } };
top.kivomain = @MAIN_LOCATION@ ? { location: { href: '' } } : {};
)";

// The page's first script run under the stubs, then probe; what probe logs.
std::string runPageScript(const std::string& page, const std::string& stubs, const std::string& probe) {
    const size_t open = page.find("<script type=\"text/javascript\" language=\"JavaScript\">\n");
    const size_t close = page.find("</script>", open);
    if (open == std::string::npos || close == std::string::npos) return "<no script>";
    const size_t body = page.find('\n', open) + 1;
    test::TempDir dir;
    const std::string file = dir.file("page.js");
    test::writeFile(file, stubs + page.substr(body, close - body) + probe);
    int status = -1;
    const std::string out = test::capture("node " + file + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

std::string withStubs(const char* topHref, const char* libSwitch, bool mainHasLocation) {
    std::string stubs = kFrameStubs;
    auto put = [&](const std::string& key, const std::string& value) { stubs.replace(stubs.find(key), key.size(), value); };
    put("@TOP_HREF@", std::string("'") + topHref + "'");
    put("@SWITCH@", std::string("'") + libSwitch + "'");
    put("@MAIN_LOCATION@", mainHasLocation ? "true" : "false");
    return stubs;
}

// setLowerFrame in a browser's terms: what the main frame loads.
TEST(MainPageAction, SetLowerFrameLoadsTheFollowUp) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "scripts/setup installs nodejs";
    struct Case {
        const char* name;
        Fields fields;
        BrowserType browser;
        const char* topHref;
        const char* libSwitch;
        bool mainHasLocation;
        std::string want;
    };
    const std::string ext = "http://h/cgi-bin/kivoserv?AC=DOCNOTREE&BC=EXTFUNC&XF=AC%3DCHNGLANG%26amp%3B";
    const std::vector<Case> cases = {
        {"LINKEXT", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_UNKNOWN, "http://h/k?AC=LINKEXT", "no", true,
         "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en main=" + ext +
             "ID%3D12%26amp%3BEXT%3DTRUE%26amp%3BLU%3Den done="},
        {"document search hit", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_UNKNOWN,
         "http://h/k?AC=LINKEXT&ST=DocSearch", "no", true,
         "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en#searchmatch1 main=" + ext +
             "ID%3D12%26amp%3BEXT%3DTRUE%26amp%3BLU%3Den%23searchmatch1 done="},
        {"catchword", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_UNKNOWN,
         "http://h/k?AC=LINKEXT&ST=CatchWord#kw:Wiring", "no", true,
         "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en&WK=Wiring main=" + ext +
             "ID%3D12%26amp%3BEXT%3DTRUE%26amp%3BLU%3Den%26WK%3DWiring done="},
        {"Netscape 4 plus", {{"AC", "LINKEXT"}, {"PA", "a b"}}, BROWSER_NETSCAPE_4, "http://h/k", "no", true,
         "XF=AC=CHNGLANG&amp;PA=a+b&amp;EXT=TRUE&amp;LU=en main=" + ext +
             "PA%3Da%2Bb%26amp%3BEXT%3DTRUE%26amp%3BLU%3Den done="},
        {"IE 6 while the library switches", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_IE_6, "http://h/k", "yes",
         true, "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en main= done="},
        {"IE 6 after the switch", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_IE_6, "http://h/k", "no", true,
         "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en main=" + ext +
             "ID%3D12%26amp%3BEXT%3DTRUE%26amp%3BLU%3Den done="},
        {"main frame gone", {{"AC", "LINKEXT"}, {"ID", "12"}}, BROWSER_UNKNOWN, "http://h/k", "no", false,
         "XF=AC=CHNGLANG&amp;ID=12&amp;EXT=TRUE&amp;LU=en main=undefined done=reload"},
        {"first edition", {{"AC", "LINKEXT"}, {"ID", "12"}, {"DB", "old.kvo"}, {"FN", "kivomain.html"}},
         BROWSER_UNKNOWN, "http://h/k", "no", true,
         "XF=AC=CHNGLANG&amp;ID=12&amp;DB=old.kvo&amp;FN=kivomain.html&amp;EXT=TRUE&amp;LU=en "
         "main=qzl:/kivo?id=12&FN=kivomain.html&AC=DOCNOTREE&BC=OLDLIB&DB=old.kvo done="},
        {"sub-library start", {{"ID", "12"}}, BROWSER_UNKNOWN, "http://h/k", "no", true,
         "XF= main= done=ssoldlib SUB_MAIN [<!--@@rootid-->]"},
    };
    const std::string probe =
        "\nsetLowerFrame();\nconsole.log('XF=' + top.kivotbar.document.forms.ext.XF.value + ' main=' +"
        " (top.kivomain.location ? top.kivomain.location.href : undefined) + ' done=' + done.join(','));\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Page page = runMainPage({.fields = c.fields, .stub = [&](LookupStub& s) {
                                           s.cg->browserType = c.browser;
                                           s.cg->kivoServName = "/h/cgi-bin/kivoserv";
                                       }});
        ASSERT_EQ(page.result, 1) << page.error;
        EXPECT_EQ(runPageScript(page.text, withStubs(c.topHref, c.libSwitch, c.mainHasLocation), probe),
                  c.want + "\n");
    }
}

TEST(MainPageAction, SearchCheckAndBrowserType) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "scripts/setup installs nodejs";
    const Page page = runMainPage({.stub = [](LookupStub& s) { s.cg->browserType = BROWSER_IE_6; }});
    ASSERT_EQ(page.result, 1) << page.error;
    const std::string probe = R"(
var seen = [];
['', '   ', 'Search', 'Search in this library', 'Search in this library collection', 'cable'].forEach(
    function (v) { top.kivotbar.document.forms.lib.PA.value = v; seen.push(checkSearch()); });
var b = new browserType();
console.log(seen.join(' ') + ' ' + browserType() + ' ' + b.isIE + ' ' + typeof top.code);
setPD(40);
console.log(top.kivotbar.document.forms.lib.ID.value);
)";
    EXPECT_EQ(runPageScript(page.text, withStubs("http://h/k", "no", true), probe),
              "false false false false false true 16 true undefined\n40\n");
}

}  // namespace
}  // namespace ruva
