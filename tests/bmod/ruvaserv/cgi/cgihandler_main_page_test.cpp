// The viewer's frame pages through post-processing: the main page's script
// patched at its places, its frame set, the tree page's body, the query back
// to a search, and every script still parsing.
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
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

constexpr char kScriptAddress[] = "/127.0.0.1:8080/cgi-bin/kivoserv";
constexpr char kImageBase[] = "http://127.0.0.1:8080/cgi-bin/kivoserv?VR=R19K&AC=TBIMG&IM=";

// The library's frame pages; kivo2.html is kivo.html whose document frame
// shows the library's start page, as make_page_libraries.py makes it.
std::string framePage(const std::string& name) {
    const bool second = name == "kivo2.html";
    std::string text = test::readFile(std::string(RUVA_FRAME_PAGES_DIR) + "/" + (second ? "kivo.html" : name));
    EXPECT_FALSE(text.empty()) << name;
    const std::string document = "src=\"http:/kivo?FN=1551-ABC10101Uen.A.html\"";
    const size_t at = text.find(document);
    if (second && at != std::string::npos) text.replace(at, document.size(), "src=\"http:/kivo?FN=kivodoc.html\"");
    return text;
}

// The text between the first before and the after that follows it.
std::string between(const std::string& text, std::string_view before, std::string_view after) {
    const size_t from = text.find(before);
    if (from == std::string::npos) return "<" + std::string(before) + " missing>";
    const size_t start = from + before.size();
    const size_t end = text.find(after, start);
    if (end == std::string::npos) return "<" + std::string(after) + " missing>";
    return text.substr(start, end - start);
}

class MainPage : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = setResolver(&noNames_);
        env_.set("RUVA_ADDR", std::nullopt);
        env_.set("QUERY_STRING", "AC=LINK&FN=kivo.html");
        req_->kivoServName = kScriptAddress;
    }
    void TearDown() override { setResolver(previous_); }

    // A frame page request; without ID no command is sent.
    void fields(const char* fn) {
        req_.field("AC", "LINK");
        req_.field("FN", fn);
    }

    std::string run(std::string_view page) {
        test::setHeapPage(*req_, page);
        EXPECT_EQ(req_->postProcessFile(), 1) << req_->getError();
        return req_->dstBuf ? std::string(req_->dstBuf, req_->dstOffs) : std::string();
    }

    // What the main page's first "</script" gets before it: the tree and
    // sync scripts, as this request writes them.
    std::string treeScripts() {
        test::CapturedRequest other;
        other->kivoServName = req_->kivoServName;
        other->flags = req_->flags;
        EXPECT_EQ(other->allocDstBuf(1 << 20), 1);
        other->beginDstPass();
        EXPECT_EQ(other->insertTOCGenerateScript(), 1);
        EXPECT_EQ(other->insertAutoSyncScript(), 1);
        other->endDstPass();
        return std::string(other->dstBuf, other->dstOffs);
    }
    // text with the tree scripts before its first "</script".
    std::string withTreeScripts(std::string text) {
        const size_t close = text.find("</script");
        if (close != std::string::npos) text.insert(close, treeScripts());
        return text;
    }

    test::NoNames noNames_;
    Resolver* previous_ = nullptr;
    test::EnvGuard env_;
    test::CapturedRequest req_;
};

TEST_F(MainPage, ScriptIsPatchedAtItsPlaces) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "node is needed: scripts/setup installs nodejs";
    fields("kivo.html");
    req_.field("DB", "guide.kvo");
    const std::string out = run(framePage("kivo.html"));

    EXPECT_TRUE(out.starts_with(std::string(kXmlDeclaration) + "<html>\n<head>\n")) << out.substr(0, 80);
    // togB: the library tree's branch, braces in its strings not counted.
    EXPECT_EQ(between(out, "function togB(branchName)\n", "  var folder"),
              "{\nif(currentTOCType == \"LTOC\") {\n\n");
    EXPECT_EQ(between(out, "  folder.isOpen = !folder.isOpen;\n  renderTree();\n", "\n\n// The main page's init"),
              std::string(viewerScript("main-togb-tail")));
    // initializeTree: the viewer's, once; the library's own is gone.
    const std::string init(viewerScript("main-init-tree"));
    EXPECT_EQ(between(out, std::string(viewerScript("main-togb-tail")) + "\n\n", "\n\nfunction renderTree()"),
              init);
    EXPECT_EQ(out.find("generateTree();\n  renderTree();\n}"), std::string::npos);
    // renderTree's strings.
    const std::string style = treeImageStyle(kImageBase);
    EXPECT_NE(style.find(".tbExpand{background-image:url('" + std::string(kImageBase) + "142')"), std::string::npos);
    EXPECT_EQ(between(out, "doc.write(\"<STYLE type='text/css'>", "<!--\");"), style);
    EXPECT_EQ(between(out, "doc.write(\"--", "</STYLE>\");"), std::string(">") + kTreeSuggestStyle);
    EXPECT_EQ(between(out, "doc.write(\"<\\B\\O\\D\\Y ", "bgcolor=#FFFFFF"), kTreeBodyAttributes);
    EXPECT_NE(out.find(std::string("  ") + kTreeLayers + "doc.write(\"<TABLE border=0"), std::string::npos);
    EXPECT_NE(out.find("  doc.write(\"" + std::string(libraryContextMenu()) + "</BODY></HTML>\");\n  doc.close();\n;\n}"),
              std::string::npos);
    // renderNode collects its lines.
    const std::string renderNode =
        between(out, "function renderNode(node, doc, level)\n", treeScripts() + "</script>");
    EXPECT_EQ(renderNode.find("doc.write("), std::string::npos) << renderNode;
    EXPECT_NE(renderNode.find("  tree_content[++tco_i]=\"<TR><TD nowrap>\";\n"), std::string::npos);
    EXPECT_NE(renderNode.find("tree_content[++tco_i]=\"<a href='javascript:parent.togB(\" + node.id + \")'>\" + "
                              "(node.isOpen ? \"[-]\" : \"[+]\") + \"</a> \";"),
              std::string::npos)
        << renderNode;
    // The frame set and its tree frame; the document frame's link completed.
    EXPECT_NE(out.find("<FRAMESET cols=\"311,*\">\n<FRAME scrolling='NO' id='treeframe' "
                       "src='http://127.0.0.1:8080/cgi-bin/kivoserv?AC=TREEFRAME&amp;DB=guide.kvo&amp;"
                       "FN=kivotree.html' name=\"kivotree\" scrolling=\"auto\">\n"
                       "<frame name=\"kivodoc\" src=\"http://127.0.0.1:8080/cgi-bin/kivoserv?"),
              std::string::npos)
        << out.substr(out.find("</head>"));
    EXPECT_EQ(test::checkPageScripts(out), 1);
    // The page without SW keeps its document frame.
    EXPECT_NE(out.find("FN=1551-ABC10101Uen.A.html\">"), std::string::npos);
}

TEST_F(MainPage, TreePageBodyCallsTheViewersTreeSetUp) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "node is needed: scripts/setup installs nodejs";
    const std::string tag = "<\\B\\O\\D\\Y onload=\"parent.initializeTree()\">";
    struct Case {
        const char* fn;
        std::string page;
        std::string sent;  // what the page's tag becomes
    } const cases[] = {
        {"kivotree.html", tag + "x", "<\\B\\O\\D\\Y onload=\"parent.treeInitialize()\">x"},
        {"KIVOTREE.HTML", "<\\b\\o\\d\\y a=initializeTree b=initializeTree", "<\\b\\o\\d\\y a=treeInitialize b=treeInitialize"},
        {"kivo.html", tag, std::string(kXmlDeclaration) + tag},
        {"2.html", tag, tag},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fn);
        fields(c.fn);
        EXPECT_EQ(run(c.page), c.sent);
        req_->clear();
        req_->flags = kKivoservFlags;
        req_->kivoServName = kScriptAddress;
    }
    fields("kivotree.html");
    const std::string out = run(framePage("kivotree.html"));
    EXPECT_NE(out.find("document.write(\"<\\B\\O\\D\\Y bgcolor=#FFFFFF onload=\\\"parent.treeInitialize()\\\">\");"),
              std::string::npos)
        << out;
    EXPECT_EQ(test::checkPageScripts(out), 1);
}

// The tree frame names the library by ID, else DB, else LI, URL-coded.
TEST_F(MainPage, TreeFrameNamesTheLibrary) {
    const std::string page = "<frameset cols=\"200,*\" border=3><frame name=t src=\"kivotree.html\" x=1>"
                             "<frame src=\"kivotree.html\"></frameset>";
    const std::string tail = " x=1><frame src=\"kivotree.html\"></frameset>";
    const std::string head = std::string(kXmlDeclaration) + "<FRAMESET cols=\"311,*\">" +
                             "<FRAME scrolling='NO' id='treeframe' src='http://127.0.0.1:8080/cgi-bin/kivoserv?"
                             "AC=TREEFRAME&amp;";
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> fields;
        std::string page;
        std::string sent;
    } const cases[] = {
        {"DB", {{"DB", "guide.kvo"}}, page, head + "DB=guide.kvo&amp;FN=kivotree.html'" + tail},
        // Fields are stored with their quotes as entities.
        {"DB before LI", {{"LI", "EN/X"}, {"DB", "a'b&c+d"}}, page, head + "DB=a%26%2339%3Bb%26c%2Bd&amp;FN=kivotree.html'" + tail},
        {"LI", {{"LI", "EN/DOCLIB1 R1A"}}, page, head + "LI=EN%2FDOCLIB1+R1A&amp;FN=kivotree.html'" + tail},
        {"no library", {}, page, head + "FN=kivotree.html'" + tail},
        {"rows are no tree", {{"DB", "g"}}, "<frameset rows=\"*,0\"><frame src=\"kivotree.html\">",
         std::string(kXmlDeclaration) + "<frameset rows=\"*,0\"><frame src=\"kivotree.html\">"},
        {"a frame of another file stays", {{"DB", "g"}}, "<frameset cols=\"1,*\"><frame src=\"a.html\"><frame src=kivotree.html>",
         std::string(kXmlDeclaration) + "<FRAMESET cols=\"311,*\"><frame src=\"a.html\"><frame src=kivotree.html>"},
        {"unclosed tag", {{"DB", "g"}}, "<frameset cols=1", std::string(kXmlDeclaration) + "<FRAMESET cols=\"311,*\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fields("kivo.html");
        for (const auto& [name, value] : c.fields) req_.field(name, value);
        EXPECT_EQ(run(c.page), c.sent);
        req_->clear();
        req_->flags = kKivoservFlags;
        req_->kivoServName = kScriptAddress;
    }
}

// With ID the page is asked about on the server (meeting minutes); the
// tree frame takes the ID.
TEST_F(MainPage, TreeFrameTakesTheId) {
    test::ScriptedPeer peer({test::PeerScript()
                                 .send(test::kGreeting)
                                 .awaitLine()
                                 .send(test::verLine())
                                 .awaitLine()
                                 .send("500-CONT failed.\n")
                                 .close()});
    ASSERT_TRUE(peer.ok());
    req_->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
    fields("kivo.html");
    req_.field("ID", "5");
    req_.field("DB", "guide.kvo");
    EXPECT_EQ(run("<frameset cols=\"*\"><frame src='kivotree.html'>"),
              std::string(kXmlDeclaration) +
                  "<FRAMESET cols=\"311,*\"><FRAME scrolling='NO' id='treeframe' src='http://127.0.0.1:8080/"
                  "cgi-bin/kivoserv?AC=TREEFRAME&amp;ID=5&amp;FN=kivotree.html'>");
}

// The query back to the search: fields in their order, each value
// URL-coded, CH before the fragment, a part past 1023 characters left out
// whole.
TEST_F(MainPage, SearchReturnLink) {
    using Fields = std::vector<std::pair<const char*, std::string>>;
    const std::string a1006(1006, 'a'), a1020(1020, 'a'), a1021(1021, 'a');
    struct Case {
        const char* name;
        Fields fields;
        std::string link;
    } const cases[] = {
        {"no SW", {{"PA", "x"}}, ""},
        {"SW alone", {{"SW", ""}}, "AC=SEARCH"},
        {"NF", {{"SW", "1"}, {"NF", "2.html"}}, "FN=2.html"},
        {"NF SEARCH", {{"SW", "1"}, {"NF", "search"}}, "AC=SEARCH"},
        {"every field in order",
         {{"SW", "1"}, {"ST", "ADVSEARCH"}, {"HC", "2.3"}, {"FC", "fc"}, {"FB", "fb"}, {"STB", "stb"}, {"IX", "ix"},
          {"MLIDS", "1,2"}, {"PAC", "c"}, {"PAD", "d"}, {"PAT", "t"}, {"PA", "two words"}, {"LLF", "l"}, {"DO", "o"},
          {"OD", "d"}, {"SP", "p"}, {"MT", "m"}, {"BA", "b"}, {"LD", "0"}, {"SL", "EN/X R1A"}, {"ORPA", "a+b&c"}},
         "AC=SEARCH&amp;ORPA=a%2Bb%26c&amp;SL=EN%2FX+R1A&amp;SW=1&amp;BA=b&amp;MT=m&amp;SP=p&amp;OD=d&amp;DO=o&amp;"
         "LLF=l&amp;PA=two+words&amp;PAT=t&amp;PAD=d&amp;PAC=c&amp;MLIDS=1,2&amp;IX=ix&amp;STB=stb&amp;FB=fb&amp;"
         "FC=fc&amp;ST=ADVSEARCH&amp;CH=2.3#SearchMatch1"},
        {"empty values and LD 1", {{"SW", "1"}, {"BA", ""}, {"LD", "1"}, {"PA", ""}, {"ST", "FULLTEXT"}},
         "AC=SEARCH&amp;ST=FULLTEXT"},
        {"script breakers coded", {{"SW", "1"}, {"ORPA", "a\\b\nc#d'e\"f"}}, "AC=SEARCH&amp;ORPA=a%5Cb%0Ac%23d%26%2339%3Be%26%2334%3Bf"},
        {"a pattern's quote", {{"SW", "1"}, {"PA", "it's"}}, "AC=SEARCH&amp;PA=it%27s"},
        {"catchword", {{"SW", "1"}, {"ST", "catchword"}, {"WK", "w k#"}}, "AC=SEARCH&amp;ST=catchword#w+k%23"},
        {"catchword without WK", {{"SW", "1"}, {"ST", "Catchword"}}, "AC=SEARCH&amp;ST=Catchword"},
        {"exactly 1023", {{"SW", "1"}, {"PA", a1006}, {"ST", "DOCSEARCH"}}, "AC=SEARCH&amp;PA=" + a1006},
        {"too long a part is left out whole", {{"SW", "1"}, {"PA", a1020}, {"ST", "DOCSEARCH"}},
         "AC=SEARCH&amp;ST=DOCSEARCH#SearchMatch1"},
        {"too long a file name", {{"SW", "1"}, {"NF", a1021}, {"BA", "b"}}, "AC=SEARCH&amp;BA=b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fields("2.html");
        for (const auto& [name, value] : c.fields) req_.field(name, value.c_str());
        run("<p>x</p>");
        EXPECT_EQ(req_->passState().searchReturn, c.link);
        EXPECT_LE(req_->passState().searchReturn.size(), 1023u);
        req_->clear();
        req_->flags = kKivoservFlags;
        req_->kivoServName = kScriptAddress;
    }
}

// The main page's document frame leads back to the search; in a script the
// fields are separated by '&' alone.
TEST_F(MainPage, SearchReturnReplacesTheDocumentFrame) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "node is needed: scripts/setup installs nodejs";
    fields("kivo2.html");
    req_.field("SW", "1");
    req_.field("PA", "two words");
    req_.field("ST", "ADVSEARCH");
    const std::string out = run(framePage("kivo2.html"));
    EXPECT_NE(out.find("<frame name=\"kivodoc\" src=\"http://127.0.0.1:8080/cgi-bin/kivoserv?AC=SEARCH&amp;"
                       "PA=two+words&amp;ST=ADVSEARCH#SearchMatch1\">"),
              std::string::npos)
        << out.substr(out.find("<FRAMESET"));
    EXPECT_EQ(test::checkPageScripts(out), 1);

    req_->clear();
    req_->flags = kKivoservFlags;
    req_->kivoServName = kScriptAddress;
    fields("kivo.html");
    req_.field("SW", "1");
    req_.field("PA", "x");
    req_.field("BA", "b");
    EXPECT_EQ(run("<script>var u = 'FN=kivodoc.html';</script><a href=\"?fn=KIVODOC.HTML\">"),
              std::string(kXmlDeclaration) + withTreeScripts("<script>var u = 'AC=SEARCH&BA=b&PA=x';</script>"
                                                             "<a href=\"?AC=SEARCH&amp;BA=b&amp;PA=x\">"));
}

// renderNode's writes become collected lines; each adds 11 bytes, so a
// long renderNode grows the page well past any fixed spare room, and the
// pass reads the grown page to its end.
TEST_F(MainPage, RenderNodeRewriteGrowsTheDocument) {
    std::string calls, collected;
    for (int n = 0; n < 40; ++n) {
        calls += "  doc.write(\"<td>(\" + f(" + std::to_string(n) + ") + \")</td>\");\n";
        collected += "  tree_content[++tco_i]=\"<td>(\" + f(" + std::to_string(n) + ") + \")</td>\";\n";
    }
    const std::string tail = "function next() { doc.write(\"x\"); }\n</script>";
    const std::string page = "<script>\nfunction renderNode(n, doc)\n{\n" + calls +
                             "  doc.write('\\')' /* ) */);\n  // doc.write(\n" + "}\n" + tail;
    const std::string rewritten = "<script>\nfunction renderNode(n, doc)\n{\n" + collected +
                                  "  tree_content[++tco_i]='\\')' /* ) */;\n  // doc.write(\n" + "}\n" + tail;
    fields("kivo2.html");
    EXPECT_EQ(run(page), kXmlDeclaration + withTreeScripts(rewritten));
    EXPECT_EQ(req_->docSize, rewritten.size());
    EXPECT_EQ(std::string(req_->docBuf, req_->docSize), rewritten);
    EXPECT_EQ(rewritten.size() - page.size(), 41u * 11);

    // Only the main page; and a call whose ')' lies past the next function
    // stays.
    req_->clear();
    req_->flags = kKivoservFlags;
    req_->kivoServName = kScriptAddress;
    fields("kivotree.html");
    EXPECT_EQ(run(page), page);
    req_->clear();
    req_->flags = kKivoservFlags;
    req_->kivoServName = kScriptAddress;
    fields("kivo.html");
    const std::string open = "function renderNode(){ doc.write(\"a\"\nfunction x(){ }\n)";
    EXPECT_EQ(run(open), kXmlDeclaration + open);
}

}  // namespace
}  // namespace ruva
