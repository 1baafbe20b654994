#include <gtest/gtest.h>

#include <iostream>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "bmod/ruvaserv/cgi/postprocess_texts.h"
#include "tests/bmod/ruvaserv/cgi/recording_annotation.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace ruva {

struct PostProcessMenusProbe {
    static PassState& pass(CgiHandler& cg) { return cg.pass_; }
    static int headEnd(CgiHandler& cg) { return cg.insertHeadEnd(); }
    static int bodyEnd(CgiHandler& cg) { return cg.insertBodyEnd(); }
    static int toolbar(CgiHandler& cg, size_t& so) { return cg.toolbarPageRule(so); }
};

namespace {

using Probe = PostProcessMenusProbe;

constexpr char kScriptAddress[] = "http://127.0.0.1:8080/cgi-bin/kivoserv";

std::string include(int bl, int info) {
    return std::string("<script type=\"text/javascript\" language=\"JavaScript\" src=\"") + kScriptAddress +
           "?VR=R19K&amp;AC=JSNOTESINLINE&amp;BL=" + std::to_string(bl) + "&amp;INFO=" + std::to_string(info) +
           "\"></script>\n";
}

size_t count(std::string_view text, std::string_view word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) ++n;
    return n;
}

// Every text of the page between open and the next close.
std::vector<std::string> between(const std::string& page, const std::string& open, const std::string& close) {
    std::vector<std::string> texts;
    for (size_t at = page.find(open); at != std::string::npos; at = page.find(open, at + 1)) {
        const size_t start = at + open.size();
        const size_t end = page.find(close, start);
        if (end == std::string::npos) break;
        texts.push_back(page.substr(start, end - start));
    }
    return texts;
}

// The bodies of the page's own <script> elements.
std::vector<std::string> scriptBodies(const std::string& page) {
    return between(page, "<script type=\"text/javascript\" language=\"JavaScript\">", "</script>");
}

// The onmousedown handlers of the menu entries, as the browser compiles
// them: each a function.
std::vector<std::string> handlerBodies(const std::string& page) {
    std::vector<std::string> handlers;
    for (const std::string& body : between(page, "onmousedown=\"", "\""))
        handlers.push_back("function handler" + std::to_string(handlers.size()) + "(event) {" + body + "}");
    return handlers;
}

// node --check over the scripts, one file per call (a node start is the
// cost here); skipped without node.
void expectScriptsParse(const std::vector<std::string>& scripts) {
    if (scripts.empty()) return;
    if (test::runShell("command -v node >/dev/null 2>&1") != 0) {
        std::cerr << "node is not installed: scripts not checked\n";
        return;
    }
    std::string all;
    for (const std::string& script : scripts) all += script + "\n;\n";
    test::TempDir dir;
    test::writeFile(dir.file("page.js"), all);
    int status = -1;
    const std::string complaint = test::capture("node --check " + dir.file("page.js") + " 2>&1", &status);
    EXPECT_EQ(status, 0) << complaint << all;
}

class PostProcessMenus : public ::testing::Test {
protected:
    void SetUp() override {
        cg = newCgiHandler(kKivoservFlags, environ);
        ASSERT_NE(cg, nullptr);
        cg->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
        test::annotationScript() = test::AnnotationScript();
        ASSERT_EQ(cg->allocDstBuf(4096), 1);
        cg->beginDstPass();
    }
    void TearDown() override {
        cg->endDstPass();
        cg->freeDocBuf();
        cg->freeDstBuf();
    }

    void annotate() {
        Probe::pass(*cg).bAnnotated = true;
        Probe::pass(*cg).annot = test::newRecordingAnnotation("a.html", *cg);
    }
    void page(std::string_view text) { test::setHeapPage(*cg, text); }
    std::string out() const { return std::string(cg->dstBuf, cg->dstOffs); }

    std::unique_ptr<CgiHandler> cg;
};

struct HeadCase {
    const char* name;
    bool annotated;
    bool menuDocFrame;
    bool contextMenuExist;
    bool docLoaded;
    bool flc;
    bool disabled;
    const char* ac;  // nullptr: none
    bool useInfo;
    size_t styles;        // style blocks written
    const char* include;  // "BL,INFO" of the include, "" for none
};

TEST_F(PostProcessMenus, HeadEndWritesStyleAndIncludeByPageKind) {
    const HeadCase cases[] = {
        {"plain page", false, false, false, false, false, false, nullptr, false, 0, ""},
        {"document frame", false, true, false, false, false, false, nullptr, false, 1, ""},
        {"menu page, document", false, false, true, true, false, false, nullptr, false, 1, "0,0"},
        {"menu page, no document", false, false, true, false, false, false, nullptr, false, 0, ""},
        {"frame and menu page", false, true, true, true, false, false, nullptr, false, 2, "0,0"},
        {"flash document", false, false, true, true, true, false, nullptr, false, 0, ""},
        {"flash document frame", false, true, true, true, true, false, nullptr, false, 1, ""},
        {"menu disabled", false, false, true, true, false, true, "LINK", false, 1, "1,0"},
        {"UseInfo", false, false, true, true, false, false, nullptr, true, 1, "0,1"},
        {"language change", false, false, true, true, false, false, "chngLang", false, 1, ""},
        // The annotation script comes first; the menu needs no document page
        // there, and flc does not count.
        {"annotated menu page", true, true, true, false, true, false, nullptr, false, 1, "0,0"},
        {"annotated, no menu", true, true, false, true, false, false, nullptr, false, 0, ""},
    };
    for (const HeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        if (c.annotated) annotate();
        cg->pageSwitches.Flag_MenuDocFrame = c.menuDocFrame;
        cg->pageSwitches.contextMenuExist = c.contextMenuExist;
        cg->pageSwitches.flc = c.flc;
        cg->pageSwitches.disableContxtMenu = c.disabled;
        Probe::pass(*cg).docLoaded = c.docLoaded;
        if (c.ac) cg->valueList->addValue("AC", c.ac);
        if (c.useInfo) cg->flags |= kCgiUseInfo;

        ASSERT_EQ(Probe::headEnd(*cg), 1);
        std::string got = out();
        const std::string style(contextMenuStyle());
        EXPECT_EQ(count(got, style), c.styles);
        EXPECT_EQ(got.rfind("[insertJavaScript]", 0) == 0, c.annotated);
        const std::string want =
            *c.include ? include(c.include[0] - '0', c.include[2] - '0') : std::string();
        EXPECT_EQ(count(got, "<script"), *c.include ? 1u : 0u);
        if (*c.include) {
            EXPECT_EQ(got.substr(got.size() - want.size()), want);
        }
        // Nothing but these pieces.
        size_t pieces = c.styles * style.size() + want.size() + (c.annotated ? 18 : 0);
        EXPECT_EQ(got.size(), pieces);
        TearDown();
    }
}

TEST_F(PostProcessMenus, StyleHidesMenusUntilTheScriptShowsThem) {
    const std::string style(contextMenuStyle());
    EXPECT_EQ(style.rfind("<style type=\"text/css\">\n", 0), 0u);
    EXPECT_NE(style.find("ul.context-menu { display: none;"), std::string::npos);
    EXPECT_EQ(style.substr(style.size() - 9), "</style>\n");
}

struct BodyCase {
    const char* name;
    bool notes;
    bool menuDocFrame;
    bool flc;
    bool disabled;
    const char* ac;
    bool isMOM;
    bool menuPage;  // contextMenuExist on a document page
    bool docMenu;
    bool notesEntries;
    const char* keyHandler;  // the key handler script's body, "" for none
    const char* newMenuScript;  // the new-menu script's body, "" for none
};

constexpr char kB6Line[] =
    "if(0 && top && top.kivotbar) top.kivotbar.enableBut(\"b6\"); else top.kivotbar.disableBut(\"b6\");\n";

TEST_F(PostProcessMenus, BodyEndWritesMenusAndTheirScripts) {
    const std::string keyHead =
        "\nif(self.name=='kivodoc') { top.enableCustContextMenu = true;\nvar isContextMenuActive = false;\n";
    const std::string key0 = keyHead + "var isMOM=0;\ntop.resetFlags=1;\n}\n";
    const std::string key1Notes = keyHead + "var isMOM=1;\n" + kB6Line + "top.resetFlags=1;\n}\n";
    const std::string keyInfo =
        keyHead + "var isMOM=0;\ntop.resetFlags=0;top.flag_info=0;\ntop.flag_CopyToClip = 0;\n}\n";
    const std::string newOn = "\nenableCustContextMenu = true;\nvar isContextMenuActive = false;\nvar isMOM=0;\n";
    const std::string newOff = "\nenableCustContextMenu = false;\nvar isContextMenuActive = false;\nvar isMOM=1;\n";
    const std::string newOnNotes = newOn + kB6Line;
    const BodyCase cases[] = {
        {"plain page", false, false, false, false, "LINK", false, false, false, false, "", ""},
        {"document frame", false, true, false, false, "LINK", false, false, true, false, key0.c_str(), ""},
        {"notes, menu enabled", true, true, false, false, "LINK", true, false, true, true, key1Notes.c_str(), ""},
        {"notes, menu disabled", true, true, false, true, "LINK", true, false, true, false, key1Notes.c_str(), ""},
        {"AC info", false, true, false, false, "Info", false, false, true, false, keyInfo.c_str(), ""},
        {"flash document frame", true, true, true, false, "LINK", false, false, false, false, "", ""},
        {"document page", false, false, false, false, "LINK", false, true, false, false, "", newOn.c_str()},
        {"document page, disabled", false, false, false, true, "LINK", true, true, false, false, "", newOff.c_str()},
        {"document page, notes", true, false, false, false, "LINK", false, true, false, false, "",
         newOnNotes.c_str()},
        {"both", false, true, false, false, "LINK", false, true, true, false, key0.c_str(), newOn.c_str()},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        cg->valueList->addValue("AC", c.ac);
        cg->valueList->addValue("ID", "12");
        if (c.notes) cg->flags |= kCgiNotes;
        cg->pageSwitches.Flag_MenuDocFrame = c.menuDocFrame;
        cg->pageSwitches.flc = c.flc;
        cg->pageSwitches.disableContxtMenu = c.disabled;
        cg->pageSwitches.contextMenuExist = c.menuPage;
        Probe::pass(*cg).docLoaded = c.menuPage;
        Probe::pass(*cg).isMOM = c.isMOM;

        ASSERT_EQ(Probe::bodyEnd(*cg), 1);
        const std::string got = out();
        EXPECT_EQ(count(got, "<ul class='context-menu' id='menu_Doc'>"), c.docMenu ? 1u : 0u);
        EXPECT_EQ(count(got, "AC=NOTE"), c.notesEntries ? 5u : 0u);
        EXPECT_EQ(count(got, "<ul class='context-menu' id='new-menu'>"), c.menuPage ? 1u : 0u);
        std::vector<std::string> want;
        if (*c.keyHandler) want.push_back(c.keyHandler);
        if (*c.newMenuScript) want.push_back(c.newMenuScript);
        const std::vector<std::string> scripts = scriptBodies(got);
        EXPECT_EQ(scripts, want);
        // Each menu comes before its script.
        if (c.docMenu) {
            EXPECT_LT(got.find("id='menu_Doc'"), got.find("top.enableCustContextMenu"));
        }
        if (c.menuPage) {
            EXPECT_LT(got.find("id='new-menu'"), got.rfind("enableCustContextMenu ="));
        }
        std::vector<std::string> checked = handlerBodies(got);
        checked.insert(checked.end(), scripts.begin(), scripts.end());
        expectScriptsParse(checked);
        TearDown();
    }
}

TEST_F(PostProcessMenus, NotesEntriesAddressTheDocumentAndLibraryNotes) {
    cg->flags |= kCgiNotes;
    cg->pageSwitches.Flag_MenuDocFrame = true;
    cg->valueList->addValue("ID", "12 rest");
    ASSERT_EQ(Probe::bodyEnd(*cg), 1);
    const std::string got = out();
    const std::string a = kScriptAddress;
    struct {
        const char* id;
        const char* display;
        std::string address;
    } const entries[] = {
        {"cm-notecr", "inline", a + "?AC=NOTECR&FN=kivodoc.html&ID=12"},
        {"cm-noteli-lib", "none", a + "?AC=NOTELI&ID=12&FN=kivodoc.html&LIB=Yes"},
        {"cm-noteexp-lib", "none", a + "?AC=NOTELI&ID=12&FN=kivodoc.html&LIB=Yes&VS=1"},
        {"cm-noteli", "inline", a + "?AC=NOTELI&FN=kivodoc.html&ID=12"},
        {"cm-noteexp", "inline", a + "?AC=NOTELI&FN=kivodoc.html&ID=12&VS=1"},
    };
    size_t last = 0;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.id);
        const std::string want = std::string("<li id='") + e.id + "' style='display:" + e.display +
                                 "'><a href='" + e.address + "' target='kivonotes'";
        const size_t at = got.find(want);
        ASSERT_NE(at, std::string::npos) << got;
        EXPECT_GT(at, last);
        last = at;
    }
}

TEST_F(PostProcessMenus, NotesIdIsCutQuotesDroppedAndEncoded) {
    struct {
        const char* stored;
        const char* want;
    } const cases[] = {
        {"12", "12"},
        {"12 34", "12"},
        {"&#34;12 x&#34;", "12"},    // a quoted ID as the field list keeps it
        {"'7'", "7"},
        {"a&b+c", "a%26b%2Bc"},      // would add a field or a blank
        {"", ""},
        {" 12", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(notesIdValue(c.stored), c.want);
    }
    // The field list's own storage of a quoted value.
    cg->valueList->addValue("ID", "\"12\" x");
    EXPECT_EQ(notesIdValue(cg->valueList->findValue("ID")->value), "12");
}

TEST_F(PostProcessMenus, BodyEndMakesRoomBeforeTheMenus) {
    cg->pageSwitches.contextMenuExist = true;
    Probe::pass(*cg).docLoaded = true;
    ASSERT_EQ(cg->allocDstBuf(40960), 1);
    const size_t size = cg->dstbufSize;
    cg->dstOffs = size - 30720;  // exactly the room that is too little
    const size_t offs = cg->dstOffs;
    ASSERT_EQ(Probe::bodyEnd(*cg), 1);
    EXPECT_GE(cg->dstbufSize, offs + 131072);
    EXPECT_EQ(std::string_view(cg->dstBuf + offs, 39), "<ul class='context-menu' id='new-menu'>");
}

TEST_F(PostProcessMenus, ToolbarScriptGetsButtonImagesBeforeItsWord) {
    annotate();
    const std::string text =
        "<script language=\"JavaScript\">\n  b = new Image(34,34); b.src = \"qzl:/kivo?AC=TBIMG&IM=3\";\n"
        "  zmainchg = new Image(34,34);\n</script>";
    page(text);
    size_t so = 0;
    ASSERT_EQ(Probe::toolbar(*cg, so), 1);
    EXPECT_EQ(so, text.find("zmainchg"));
    EXPECT_TRUE(Probe::pass(*cg).inScript);
    // The program link in the copied part is completed as a script's.
    EXPECT_EQ(out(),
              "<script language=\"JavaScript\">\n  b = new Image(34,34); b.src = "
              "\"http://127.0.0.1:8080/cgi-bin/kivoserv?AC=TBIMG&IM=3\";\n  [insertButVariables]");
    EXPECT_EQ(test::annotationScript().calls.back(), "insertButVariables()");
}

TEST_F(PostProcessMenus, ToolbarRuleActsOnlyWhereItApplies) {
    struct {
        const char* name;
        const char* page;
        const char* at;  // where the rule is asked
        int result;
        const char* written;
    } const cases[] = {
        {"script without the word", "<script>a=1;</script>zmainchg", "<script", 0, ""},
        {"word past the script", "<script>a=1;</script><script>zmainchg</script>", "<script", 0, ""},
        {"unclosed script", "<SCRIPT>zmainchg", "<SCRIPT", 1, "<SCRIPT>[insertButVariables]"},
        {"a cell before the last", "<td width=\"34\">a</td><td width=\"34\">b</td>", "<td", 0, ""},
        {"the last cell", "<td width=\"20\">a</td><TD WIDTH=\"34\">b</td></tr>", "<TD", 1,
         "[insertButton]<TD WIDTH=\"3"},
        {"12 characters compared", "<td width=\"30\">b</td>", "<td", 1, "[insertButton]<td width=\"3"},
        {"another width", "<td width=\"20\">b</td>", "<td", 0, ""},
        {"cut page", "<td width=\"", "<td", 0, ""},
        {"other tag", "<table>", "<table", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        annotate();
        page(c.page);
        const std::string text = c.page;
        size_t so = text.find(c.at);
        const size_t before = so;
        EXPECT_EQ(Probe::toolbar(*cg, so), c.result);
        EXPECT_EQ(out(), c.written);
        if (c.result == 0) {
            EXPECT_EQ(so, before);
        }
        if (c.result == 1 && std::string_view(c.at).size() == 3) {
            EXPECT_EQ(so, before + 12);
        }
        TearDown();
    }
}

TEST_F(PostProcessMenus, ToolbarRuleNeedsAnInserter) {
    page("<td width=\"34\">b</td>");
    size_t so = 0;
    EXPECT_EQ(Probe::toolbar(*cg, so), 0);
    EXPECT_EQ(so, 0u);
    EXPECT_EQ(out(), "");
}

TEST_F(PostProcessMenus, DocTocScriptGrowsTheBufferOrWritesNothing) {
    cg->endDstPass();
    ASSERT_EQ(cg->allocDstBuf(100), 1);
    ASSERT_EQ(cg->dstWriteBuf("head"), 1);
    size_t so = 7;
    const std::string text(3 * cg->dstbufSize, 's');
    // Outside the pass too: the script grows the buffer for itself.
    ASSERT_EQ(cg->writeDocTOCJavaScript(text, so), 1);
    EXPECT_EQ(out(), "head" + text);
    EXPECT_EQ(so, 7u);
    EXPECT_EQ(cg->writeDocTOCJavaScript("", so), 1);
    EXPECT_EQ(out(), "head" + text);

    // A growth that cannot be had leaves the output as it was.
    static const char kByte = 'x';
    cg->beginDstPass();
    const size_t offs = cg->dstOffs;
    for (const size_t huge : {SIZE_MAX / 2, SIZE_MAX - 2}) {
        SCOPED_TRACE(huge);
        EXPECT_EQ(cg->writeDocTOCJavaScript(std::string_view(&kByte, huge), so), 0);
        EXPECT_EQ(cg->dstOffs, offs);
        EXPECT_EQ(cg->dstBuf[offs], '\0');
        EXPECT_TRUE(cg->dstPassFailed());
        EXPECT_NE(cg->getError().find("Failed to map"), std::string::npos) << cg->getError();
    }
}

// The inserts in their places, through the pass.
class PostProcessMenusInPass : public ::testing::Test {
protected:
    void SetUp() override {
        env_.set("QUERY_STRING", std::nullopt);
        test::annotationScript() = test::AnnotationScript();
        req_->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
    }
    std::string run(std::string_view page) {
        test::setHeapPage(*req_, page);
        EXPECT_EQ(req_->postProcessFile(), 1) << req_->getError();
        return req_->dstBuf ? std::string(req_->dstBuf, req_->dstOffs) : std::string();
    }

    test::EnvGuard env_;
    test::CapturedRequest req_;
};

TEST_F(PostProcessMenusInPass, DocumentPageGetsItsMenuBeforeHeadAndBodyEnd) {
    req_.field("AC", "LINK");
    req_.field("FN", "1551-ABC10101Uen.A.html");  // no ID: no command is sent
    const std::string got = run("<html><head><title>T</title></head><body><p>x</p></body></html>");
    // The pass starts a document page with its menu disabled.
    const std::string head = std::string(contextMenuStyle()) + include(1, 0) + "</head>";
    EXPECT_NE(got.find(head), std::string::npos) << got;
    const std::string body = std::string(newContextMenu()) + kScriptStart +
                             "enableCustContextMenu = false;\nvar isContextMenuActive = false;\nvar isMOM=0;\n"
                             "</script>\n</body>";
    EXPECT_NE(got.find(body), std::string::npos) << got;
    EXPECT_EQ(count(got, "<ul class='context-menu'"), 1u);
    std::vector<std::string> checked = handlerBodies(got);
    const std::vector<std::string> scripts = scriptBodies(got);
    checked.insert(checked.end(), scripts.begin(), scripts.end());
    expectScriptsParse(checked);
}

TEST_F(PostProcessMenusInPass, ToolbarPageGetsTheAnnotationButton) {
    req_->annotFactory = &test::newRecordingAnnotation;
    req_.field("FN", "kivotbar.html");
    const std::string got = run(
        "<html><head></head><body><script language=\"JavaScript\">\n  zmainchg = new Image(34,34);\n</script>"
        "<table><tr><td width=\"34\">a</td><td width=\"34\">b</td></tr></table></body></html>");
    EXPECT_NE(got.find("<script language=\"JavaScript\">\n  [insertButVariables]zmainchg = new Image(34,34);"),
              std::string::npos)
        << got;
    EXPECT_NE(got.find("<td width=\"34\">a</td>[insertButton]<td width=\"34\">b</td>"), std::string::npos) << got;
    EXPECT_EQ(count(got, "[insertBut"), 2u);
}

}  // namespace
}  // namespace ruva
