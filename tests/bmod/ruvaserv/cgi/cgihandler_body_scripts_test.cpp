// The body tag's attributes and the generated tree scripts: exact bytes,
// and the scripts run in node where a browser would run them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "bmod/ruvaserv/cgi/viewer_script.h"
#include "common/net_util.h"
#include "common/text_view.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::kGreeting;
using test::PeerScript;
using test::ScriptedPeer;
using test::verLine;

constexpr char kScriptAddress[] = "/127.0.0.1:8080/cgi-bin/kivoserv";

bool haveNode() {
    return std::system("command -v node >/dev/null") == 0;
}

// Runs script in node; its standard output, "" and a failure when it threw.
std::string runNode(const std::string& script) {
    test::TempDir dir;
    EXPECT_TRUE(dir.ok());
    const std::string file = dir.file("run.js");
    test::writeFile(file, script);
    int status = -1;
    const std::string out = test::capture("node " + file + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out << "\n" << script;
    return out;
}

bool nodeChecks(const std::string& text, const std::string& name) {
    test::TempDir dir;
    const std::string file = dir.file(name + ".js");
    test::writeFile(file, text);
    return std::system(("node --check " + file).c_str()) == 0;
}

// Every <script> body of page passes node --check; their number.
int expectScriptsParse(const std::string& page) {
    int n = 0;
    for (size_t at = 0;;) {
        const size_t open = findCaseBlind(page, at, "<script");
        if (open == std::string::npos) break;
        const size_t body = page.find('>', open);
        const size_t close = body == std::string::npos ? body : findCaseBlind(page, body, "</script");
        if (close == std::string::npos) {
            ADD_FAILURE() << "unclosed script at " << open;
            break;
        }
        const std::string text = page.substr(body + 1, close - body - 1);
        EXPECT_TRUE(nodeChecks(text, "s" + std::to_string(n++))) << text;
        at = close;
    }
    return n;
}

class BodyScripts : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = setResolver(&noNames_);
        env_.set("RUVA_ADDR", std::nullopt);
        env_.set("QUERY_STRING", "AC=LINK&FN=1551-ABC10101Uen.A.html");
        req_->kivoServName = kScriptAddress;
        req_->bodyAttrs = kBodyDefaultAttrs;  // as kivoserv sets it
    }
    void TearDown() override { setResolver(previous_); }

    // What bodyPostProcess appends for a page whose "<body" is followed by
    // rest.
    std::string body(const std::string& rest) {
        test::setHeapPage(*req_, "<body" + rest);
        EXPECT_TRUE(req_->allocDstBuf(65536));
        size_t so = 5;
        EXPECT_EQ(req_->bodyPostProcess(so), 1);
        EXPECT_EQ(so, 5u);
        return std::string(req_->dstBuf, req_->dstOffs);
    }

    test::NoNames noNames_;
    Resolver* previous_ = nullptr;
    test::EnvGuard env_;
    CapturedRequest req_;
};

TEST_F(BodyScripts, BodyAttributesFollowThePageAndItsFrame) {
    const std::string onload = formatChecked(kBodyOnloadFormat, 12, 7, 7);
    const std::string area = std::string("id=\"context-area\"");
    const std::string cmenu = std::string("id=\"cmenu-doc\"");
    auto handlers = [&](std::string_view call, bool older = false, bool noMenu = false) {
        return onload + (older ? kBodyOnloadPdfButton : "") + (noMenu ? kBodyOnloadNoMenuButton : "") +
               kBodyOnloadEnd + " onmousedown=\"" + std::string(call) + "\"" + kBodyOnscroll;
    };
    struct Case {
        const char* name;
        std::string rest;
        const char* ac;
        const char* extraField;
        uint32_t options;
        bool contextMenuExist, flagMenuDocFrame, flc, disableMenu;
        BrowserType browser;
        std::string sent;
        bool wholePageKept;
    };
    const std::string defaults = std::string(" ") + kBodyDefaultAttrs;
    const Case cases[] = {
        {"own onload: no generated one", " ONLOAD=\"go()\">", "LINK", nullptr, 0, true, false, false, false,
         BROWSER_UNKNOWN, " " + area, false},
        {"replaceTopUrl counts as an onload", " class=x onclick=\"replaceTopUrl();\">", "LINK", nullptr, 0,
         false, false, false, false, BROWSER_UNKNOWN, "  ", true},
        {"no attributes: the default look", ">", "LINK", nullptr, 0, false, false, false, false,
         BROWSER_UNKNOWN, defaults + "  " + handlers(""), true},
        {"option 0x100: the default look only", ">", "LINK", nullptr, 0x100, true, true, false, false,
         BROWSER_UNKNOWN, defaults, true},
        {"option 0x100 with attributes: nothing", " id=a>", "LINK", nullptr, 0x100, true, true, false, false,
         BROWSER_UNKNOWN, "", true},
        {"the page's own context menu", " id=a>", "LINK", nullptr, 0, true, true, false, false,
         BROWSER_UNKNOWN, " " + area + handlers(kBodyContextAreaCall), true},
        {"the frame set's menu", " id=a>", "LINK", nullptr, 0, false, true, false, false, BROWSER_UNKNOWN,
         " " + cmenu + handlers(kBodyCmenuDocCall), true},
        {"no menu", " id=a>", "LINK", nullptr, 0, false, false, false, false, BROWSER_UNKNOWN,
         "  " + handlers(""), true},
        {"flash: no menu, b6 disabled", " id=a>", "LINK", nullptr, 0, true, true, true, true, BROWSER_UNKNOWN,
         "  " + handlers("", false, true), true},
        {"older browsers show the PDF button", " id=a>", "LINK", nullptr, 0, false, false, false, false,
         BROWSER_IE_6, "  " + handlers("", true), true},
        {"AC info: the frame set's menu, the tree only in LTOC", " id=a>", "info", nullptr, 0, true, false,
         false, false, BROWSER_UNKNOWN,
         " " + cmenu + formatChecked(kBodyInfoOnloadFormat, 12, 7) + " onmousedown=\"" + kBodyCmenuDocCall +
             "\"",
         true},
        {"a search page", " id=a>", "LINK", "TI", 0, false, false, false, false, BROWSER_UNKNOWN,
         "  " + handlers("") + kBodySearch, true},
        {"a search page in an older browser with FN", " id=a>", "LINK", "CW", 0, false, false, false, false,
         BROWSER_IE_5, "  " + handlers("", true), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        req_->valueList->clear();
        req_.field("AC", c.ac);
        req_.field("FN", "1551-ABC10101Uen.A.html");
        if (c.extraField) req_.field(c.extraField, "x");
        req_->flags = kKivoservFlags | kCgiWholePage;
        req_->options = c.options;
        req_->curId = 12;
        req_->folder = 7;
        req_->browserType = c.browser;
        req_->pageSwitches = PageSwitches{c.flagMenuDocFrame, c.disableMenu, c.contextMenuExist, c.flc};
        EXPECT_EQ(body(c.rest), c.sent);
        EXPECT_EQ((req_->flags & kCgiWholePage) != 0, c.wholePageKept);
    }
    // The search attributes of an older browser without FN; none without
    // the handler flag.
    req_->valueList->clear();
    req_.field("TI", "x");
    req_->browserType = BROWSER_NETSCAPE_6;
    req_->flags = kKivoservFlags & ~kCgiBodyHandlers;
    req_->pageSwitches = PageSwitches{};
    EXPECT_EQ(body(" id=a>"), std::string("  ") + kBodySearchOld);
}

TEST_F(BodyScripts, BodyAttributesAreReadNoFurtherThanTheirBound) {
    // An onload past 1024 characters is not the tag's, and a page ending
    // inside the tag is read to its end only.
    EXPECT_EQ(body(" " + std::string(1100, 'x') + " onload=\"a()\">").find(" onload=\"if(self.name"), 2u);
    EXPECT_EQ(body(" onload").find(" onload=\"if("), std::string::npos);
    EXPECT_EQ(body("").substr(0, 2), " " + std::string(kBodyDefaultAttrs).substr(0, 1));
    // Without bodyAttrs no default look.
    req_->bodyAttrs.clear();
    req_->options = kOptPlainFileLinks;
    EXPECT_EQ(body(">"), "");
}

// The handlers as a browser runs them: inside the frame set every call
// reaches its frame; a document opened on its own, even in a window named
// kivodoc, raises nothing.
TEST_F(BodyScripts, BodyHandlersCallOtherFramesOnlyWhenThere) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    req_.field("AC", "LINK");
    req_->curId = 12;
    req_->folder = 7;
    req_->pageSwitches = PageSwitches{true, true, false, false};
    for (BrowserType browser : {BROWSER_UNKNOWN, BROWSER_IE_6}) {
        SCOPED_TRACE(browser);
        req_->browserType = browser;
        const std::string attrs = body(" id=a>");
        std::string script =
            "var calls = [];\n"
            "function rec(n) { return function () { calls.push(n + '(' + [].join.call(arguments, ',') + "
            "')'); }; }\n"
            "var doc = { links: [{ href: 'http://h/kivoserv?FN=a.pdf' }] };\n";
        for (const std::string name : {"onload", "onmousedown", "onscroll"}) {
            const size_t at = attrs.find(" " + name + "=\"");
            ASSERT_NE(at, std::string::npos) << name;
            const size_t from = at + name.size() + 3;
            script += "function " + name + "(self, top, parent, document, event) {" +
                      attrs.substr(from, attrs.find('"', from) - from) + "}\n";
        }
        script +=
            "var me = { name: 'kivodoc', focus: rec('focus') };\n"
            "var alone = { name: 'kivodoc', focus: rec('focus'), document: { getElementById: function () {"
            " return null; } } };\nalone.parent = alone;\n"
            "onload(alone, alone, alone, doc, {}); onmousedown(alone, alone, alone, doc, {});"
            " onscroll(alone, alone, alone, doc, {});\n"
            "console.log('alone:' + calls.join(' '));\n"
            "calls = [];\n"
            "var overlay = { style: { display: 'block' } };\n"
            "var top = { kivotbar: { enableBut: rec('enableBut'), disableBut: rec('disableBut') },"
            " setPD: rec('setPD'), dynamicToolBar: rec('dynamicToolBar'), kivomain: { togBnew: "
            "rec('togBnew') },"
            " whichElement: rec('whichElement'), document: { getElementById: function () { return overlay; } "
            "} };\n"
            "var frames = { hideOvrly: 0 };\n"
            "onload(me, top, { parent: frames }, doc, {}); onmousedown(me, top, { parent: frames }, doc, "
            "'e');"
            " onscroll(me, top, { parent: frames }, doc, {});\n"
            "console.log('framed:' + calls.join(' ') + ' hideOvrly=' + frames.hideOvrly + ' overlay=' +"
            " overlay.style.display);\n";
        const std::string pdf = browser == BROWSER_IE_6 ? " enableBut(b4)" : "";
        EXPECT_EQ(runNode(script),
                  "alone:focus()\nframed:enableBut(b3) setPD(12) dynamicToolBar() togBnew(7) focus()" + pdf +
                      " whichElement(e) hideOvrly=7 overlay=none\n");
    }
}

// A collection page's tree: one MLLIST per reference on the request's
// session; the daemon's titles for the libraries it holds.
class CollectionScript : public BodyScripts {
protected:
    // The script for references against a server answering replies in
    // turn; received_ gets what the server read.
    std::string collect(const std::vector<std::string>& replies) {
        PeerScript script;
        script.send(kGreeting).awaitLine().send(verLine());
        for (const std::string& reply : replies) script.awaitLine().send(reply);
        ScriptedPeer peer({script.close()});
        EXPECT_TRUE(peer.ok());
        req_->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        EXPECT_TRUE(req_->allocDstBuf(16));
        size_t so = 3;
        EXPECT_EQ(req_->insertCTOCGenerateScript(so), 1);
        EXPECT_EQ(so, 3u);
        req_->uzc->clear();
        req_->sess = nullptr;
        peer.stop();
        received_ = peer.connections() ? test::beforeQuit(peer.received(0)) : "";
        return std::string(req_->dstBuf, req_->dstOffs);
    }
    void references() {
        req_->libraryTitle = "My \"set\"";
        req_->libraryId = "EN/SET1 R1A";
        req_->subLibrary = {"EN/DOCLIB1|R1A|Guide", "ABC99|R1A|Gone", "EN/HOSTILE1|R1A|Hostile"};
        req_->libCount = 3;
    }
    std::string received_;
};

const std::string kGuideReply = test::mlReply(test::dbLine("guide.kvo", 4711, "Guide [EN/DOCLIB1 R1A]"));
const std::string kHostileReply =
    test::mlReply(test::dbLine("hostile.kvo", 4712, "\\\"><script>window.__x=1</script> [EN/HOSTILE1 R1A]"));
const std::string kUnknownReply = "511 Invalid database '[ABC99R1A]'\n";

TEST_F(CollectionScript, KnownLibrariesGetTheServersTitlesAndMissingOnesOnlyWhenShown) {
    const std::string head = std::string(kCollectionTreeHead) +
                             "  cfT=cNCol(\"My \\\"set\\\"\", \"EN/SET1 R1A\",0xFFFF);" +
                             "\n  C0 = aNCol(cfT, cNCol(\"Guide\", \"EN/DOCLIB1R1A\", 1));";
    const std::string hostile =
        "\n  C2 = aNCol(cfT, cNCol(\"\\\"\\u003E\\u003Cscript\\u003Ewindow.__x=1\\u003C/script\\u003E\", "
        "\"EN/HOSTILE1R1A\", 1));";
    const std::string tail = std::string(kCollectionTreeEnd) + std::string(viewerScript("collection"));
    const std::string asked =
        "VER\nMLLIST \"[EN/DOCLIB1R1A]\"\nMLLIST \"[ABC99R1A]\"\nMLLIST \"[EN/HOSTILE1R1A]\"\n";
    for (const char* show : {"", "no", "Yes", "yes"}) {
        SCOPED_TRACE(show);
        references();
        req_->showMissingLibs = show;
        const bool shown = startsCaseBlindAt(show, 0, "yes");
        EXPECT_EQ(collect({kGuideReply, kUnknownReply, kHostileReply}),
                  head + (shown ? "\n  C1 = aNCol(cfT, cNCol(\"ABC99 R1A\", \"#ABC99R1A\", 1));" : "") +
                      hostile + tail);
        EXPECT_EQ(received_, asked);
        EXPECT_TRUE(req_->subLibrary.empty());
        EXPECT_EQ(req_->libCount, 0);
        EXPECT_EQ(req_->getError(), "");
    }
}

TEST_F(CollectionScript, RootFormsAndNoReferences) {
    // An identity without a title, and a reference that cannot be read (no
    // command for it).
    req_->libraryId = "EN/SET1 R1A";
    req_->subLibrary = {"", "ABC99|R1A|Gone"};
    req_->libCount = 2;
    req_->showMissingLibs = "Yes";
    EXPECT_EQ(collect({kUnknownReply}), std::string(kCollectionTreeHead) +
                                            "  cfT=cNCol(\"No Title\", \"kivodoc\",0xFFFF);" +
                                            "\n  C1 = aNCol(cfT, cNCol(\"ABC99 R1A\", \"#ABC99R1A\", 1));" +
                                            kCollectionTreeEnd + std::string(viewerScript("collection")));
    EXPECT_EQ(received_, "VER\nMLLIST \"[ABC99R1A]\"\n");
    EXPECT_EQ(req_->getError(), "");
    // No references: nothing at all, no session.
    req_->libraryId = "EN/SET1 R1A";
    EXPECT_EQ(collect({}), "");
    EXPECT_EQ(received_, "");
}

// generateCollectionTree run as the page runs it: the daemon's titles, the
// missing library linkless with its target, nothing opened while building.
TEST_F(CollectionScript, CollectionTreeBuildsInNodeAndOpensOnlyOnClick) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    references();
    req_->showMissingLibs = "Yes";
    const std::string script = collect({kGuideReply, kUnknownReply, kHostileReply});
    const std::string out =
        runNode("var opened = [];\nvar top = { OpenSL: function (li) { opened.push(li); } };\n" + script +
                "generateCollectionTree();\n"
                "var parts = [cfT.text, cfT.children.length];\n"
                "cfT.children.forEach(function (n) { parts.push(n.text + '|' + n.target + '|' + (n.open ? "
                "'link' : 'none')); });\n"
                "parts.push('opened:' + opened.join(','));\n"
                "cfT.children[0].open();\nparts.push('opened:' + opened.join(','));\n"
                "console.log(parts.join('\\n'));\n");
    EXPECT_EQ(out,
              "My \"set\"\n3\nGuide||link\nABC99 R1A|#ABC99R1A|none\n\"><script>window.__x=1</script>||link\n"
              "opened:\nopened:EN/DOCLIB1R1A\n");
}

TEST_F(BodyScripts, TreeScriptsNeedTheScriptAddress) {
    for (const char* name : {"", kScriptAddress}) {
        SCOPED_TRACE(name);
        req_->kivoServName = name;
        for (size_t notes : {size_t{0}, kCgiNotes}) {
            req_->flags = kKivoservFlags | notes;
            ASSERT_TRUE(req_->allocDstBuf(16));
            EXPECT_EQ(req_->insertTOCGenerateScript(), 1);
            const std::string trees(req_->dstBuf, req_->dstOffs);
            ASSERT_TRUE(req_->allocDstBuf(16));
            EXPECT_EQ(req_->insertAutoSyncScript(), 1);
            const std::string sync(req_->dstBuf, req_->dstOffs);
            if (*name == '\0') {
                EXPECT_EQ(trees, "");
                EXPECT_EQ(sync, "");
                continue;
            }
            EXPECT_EQ(
                trees,
                std::string("\nvar NotesEnabled=") + (notes ? "1" : "0") +
                    "; var currentTOCType = 'LTOC';\n"
                    "var kvoImgBase = \"http://127.0.0.1:8080/cgi-bin/kivoserv?VR=R19K&AC=TBIMG&IM=\";\n" +
                    std::string(viewerScript("tree-render")) + std::string(viewerScript("generate-dtoc")) +
                    std::string(viewerScript("generate-ctoc")));
            EXPECT_EQ(sync, viewerScript("auto-sync"));
        }
    }
    EXPECT_EQ(req_->updateAutoSyncScript(), 1);
}

TEST(ViewerSections, EachSectionParsesAlone) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    // main-togb-tail is a fragment: it is checked inside the patched page.
    for (const char* name : {"doc-toc", "collection", "tree-render", "generate-dtoc", "generate-ctoc",
                             "auto-sync", "main-init-tree"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(nodeChecks(std::string(viewerScript(name)), name));
    }
}

// Pages through the whole pass: every script they end up with parses.
class PassScripts : public CollectionScript {
protected:
    std::string pass(const std::string& fn, const std::string& page) {
        req_.field("AC", "LINK");
        req_.field("FN", fn.c_str());
        test::setHeapPage(*req_, page);
        EXPECT_EQ(req_->postProcessFile(), 1) << req_->getError();
        return std::string(req_->dstBuf, req_->dstOffs);
    }
};

const char kDocumentPage[] =
    "<html><head><title>The \"guide\"</title>\n<script>var a = 1;</script></head>\n"
    "<body class=\"doc\">\n<!--@BODY-->\n<h2><a name=\"CHAPTER1\">Start</a></h2>\n"
    "<h3><a name=\"CHAPTER1.1\">x\");window.__x=1;//</a></h3>\n<h2><a name=\"CHAPTER2\">End</a></h2>\n"
    "</body>\n</html>";

TEST_F(PassScripts, DocumentAndCollectionPagesCarryScriptsThatParse) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    const std::string document = pass("1551-ABC10101Uen.A.html", kDocumentPage);
    EXPECT_NE(document.find("<body id=\"context-area\" onload=\"if(self.name=='kivodoc'"), std::string::npos)
        << document;
    EXPECT_GE(expectScriptsParse(document), 2);

    // The document TOC as the document frame builds it.
    const size_t toc = document.find("\n<SCRIPT type=\"text/javascript\" language=\"JavaScript\">\n");
    ASSERT_NE(toc, std::string::npos);
    const size_t tocBody = document.find('\n', toc + 1) + 1;
    const std::string out = runNode(
        document.substr(tocBody, document.rfind("</SCRIPT>") - tocBody) +
        "generateDTOCTree();\nvar seen = [];\n"
        "(function walk(n, d) { seen.push(d + n.text + '|' + n.target); n.children.forEach(function (c) {"
        " walk(c, d + ' '); }); })(dfT, '');\nconsole.log(seen.join('\\n'));\n");
    EXPECT_EQ(
        out,
        "&nbsp;The \"guide\"|#TOP\n Start|#CHAPTER1\n  x\");window.__x=1;//|#CHAPTER1.1\n End|#CHAPTER2\n");

    // A collection page: the tree goes into its first script.
    req_->valueList->clear();
    req_->isCollection = 1;
    references();
    req_->showMissingLibs = "Yes";
    PeerScript script;
    script.send(kGreeting).awaitLine().send(verLine());
    for (const std::string& reply : {kGuideReply, kUnknownReply, kHostileReply})
        script.awaitLine().send(reply);
    ScriptedPeer peer({script.close()});
    ASSERT_TRUE(peer.ok());
    req_->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
    const std::string collection =
        pass("kvo_ml_sub_main_page",
             "<html><head><script>var b = 2;</script>\n<script>var c;</script></head>"
             "<body>\n<p>Libraries</p></body></html>");
    req_->uzc->clear();
    req_->sess = nullptr;
    peer.stop();
    const size_t tree = collection.find("function generateCollectionTree()");
    ASSERT_NE(tree, std::string::npos);
    EXPECT_LT(tree, collection.find("</script>"));
    EXPECT_EQ(collection.find("function generateCollectionTree()", tree + 1), std::string::npos);
    EXPECT_GE(expectScriptsParse(collection), 2);
}

// A search page (TI or CW in the request): its body handlers and the
// document's scripts still parse, also with a hostile title word.
TEST_F(PassScripts, SearchPagesCarryScriptsThatParse) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    for (const char* field : {"TI", "CW"}) {
        SCOPED_TRACE(field);
        req_->valueList->clear();
        req_.field(field, "x\");window.__x=1;//");
        const std::string page = pass("1551-ABC10101Uen.A.html", kDocumentPage);
        EXPECT_NE(page.find(kBodySearch), std::string::npos) << page;
        EXPECT_GE(expectScriptsParse(page), 2);
    }
}

// The main page's scripts: parsed, and run outside the frame set, where the
// sync functions find no tree and leave everything alone; the daemon's wait
// page may call handlePDFback at any time.
TEST_F(PassScripts, MainPageSyncFunctionsLeaveAMissingTreeAlone) {
    if (!haveNode()) GTEST_FAIL() << "node is needed: scripts/setup installs nodejs";
    const std::string main = pass("kivo.html",
                                  "<html><head><script>\nvar fT = 0;\n</script></head>\n"
                                  "<body>main</body></html>");
    EXPECT_NE(main.find("var NotesEnabled=0;"), std::string::npos);
    EXPECT_NE(main.find("function handlePDFback(folder)"), std::string::npos);
    EXPECT_GE(expectScriptsParse(main), 1);
    const size_t open = main.find("<script>") + 8;
    const std::string out = runNode(
        "var window = { frames: {} };\nvar top = { frames: {} };\n"
        "var document = { getElementById: function () { return null; } };\n" +
        main.substr(open, main.find("</script>") - open) +
        "console.log([handlePDFback(7), togBnew(7), treeRender(), handlePDFforward(3), treeInitialize(),"
        " generateDTOC(1), generateCTOC(1), keySearch('a'), prevFolderID].join(','));\n");
    EXPECT_EQ(out, "0,0,0,0,1,0,0,0,3\n");
}

}  // namespace
}  // namespace ruva
