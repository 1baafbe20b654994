// The copy pass of post-processing: pages in, exact bytes out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/page_scan.h"
#include "common/net_util.h"
#include "common/text_view.h"
#include "tests/bmod/ruvaserv/cgi/recording_annotation.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::annotationScript;
using test::CapturedRequest;
using test::kGreeting;
using test::PeerScript;
using test::ScriptedPeer;
using test::verLine;

constexpr char kDocFile[] = "1551-ABC10101Uen.A.html";
constexpr char kScriptAddress[] = "/127.0.0.1:8080/cgi-bin/kivoserv";

// The page in a heap block of exactly its size: ASan reports any read at or
// past docSize. Without flag 0x2 freeDocBuf frees it.
void heapPage(CgiHandler& cg, std::string_view text) {
    cg.freeDocBuf();
    cg.docBuf = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
    ASSERT_NE(cg.docBuf, nullptr);
    std::memcpy(cg.docBuf, text.data(), text.size());
    cg.docSize = text.size();
    cg.docbufSize = text.size();
}

class PostProcess : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = setResolver(&noNames_);
        env_.set("RUVA_ADDR", std::nullopt);
        env_.set("QUERY_STRING", std::string("AC=LINK&FN=") + kDocFile);
        annotationScript() = test::AnnotationScript();
        req_->kivoServName = kScriptAddress;
    }
    void TearDown() override { setResolver(previous_); }

    // A document page request without ID, so no command is sent.
    void documentFields() {
        req_.field("AC", "LINK");
        req_.field("FN", kDocFile);
    }

    void page(std::string_view text) { heapPage(*req_, text); }

    // The output of a pass that must succeed.
    std::string run() {
        EXPECT_EQ(req_->postProcessFile(), 1) << req_->getError();
        return req_->dstBuf ? std::string(req_->dstBuf, req_->dstOffs) : std::string();
    }

    test::NoNames noNames_;
    Resolver* previous_ = nullptr;
    test::EnvGuard env_;
    CapturedRequest req_;
};

// The page with bytes 128-138 as the pass writes them.
std::string mapped(std::string_view text) {
    static const char kMap[] = "|+\\\\--+-+//";
    std::string out;
    for (const char c : text) {
        const unsigned char b = static_cast<unsigned char>(c);
        out += b >= 128 && b <= 138 ? kMap[b - 128] : c;
    }
    return out;
}

TEST_F(PostProcess, NonTextPageIsSentAsItIs) {
    documentFields();
    std::string pdf = "%PDF-1.4\n<a href=\"http:/kivo?FN=x\">\x85";
    pdf += '>';  // the last byte, which must survive
    for (const char* mime : {"application/pdf", "image/gif"}) {
        SCOPED_TRACE(mime);
        req_->mimeType = mime;
        page(pdf);
        EXPECT_EQ(req_->postProcessFile(), 1);
        EXPECT_EQ(req_->dstBuf, nullptr);
        EXPECT_EQ(std::string(req_->docBuf, req_->docSize), pdf);
    }
    for (const char* mime : {"text/plain", "image/svg+xml", ""}) {
        SCOPED_TRACE(mime);
        req_->mimeType = mime;
        page("a\x85");
        EXPECT_EQ(run(), "a-");
        EXPECT_EQ(std::string(req_->docBuf, req_->docSize), "a\x85");
    }
}

TEST_F(PostProcess, PageWithoutConstructsComesOutWithTheByteMap) {
    documentFields();
    std::string every;
    for (int b = 1; b < 256; ++b)
        if (b != '<' && b != '>') every += static_cast<char>(b);
    every += "http:/other h/ q qz hTTp: /h3 /H2";
    struct Case {
        const char* name;
        std::string page;
        uint32_t options;
        std::string sent;
    } const cases[] = {
        {"every byte", every, 0, mapped(every)},
        {"0x85 is a dash, 127 and 139 stay", "a\x7f\x85\x8b", 0, "a\x7f-\x8b"},
        {"option 0x80 keeps the bytes", every, 0x80, every},
        {"a NUL ends the page", std::string("ab\0<h2>cd", 9), 0, "ab"},
        {"empty page", "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        req_->options = c.options;
        page(c.page);
        EXPECT_EQ(run(), c.sent);
        EXPECT_EQ(req_->dstBuf[req_->dstOffs], '\0');
    }
}

TEST_F(PostProcess, NoDocumentIsRefused) {
    EXPECT_EQ(req_->postProcessFile(), 0);
    EXPECT_EQ(req_->getError(), formatChecked(req_->msg(210, "cgihandler/12")));
}

// Chapter anchors: _C for marked headings outside deleted text, _DC with
// the count of all marked headings inside it.
TEST_F(PostProcess, MarkedHeadingsGetChapterAnchors) {
    documentFields();
    const std::string body =
        "<h2><span class=\"CHAPNUMBER\">1</span>One</h2>\n"
        "<h2 class=\"reference\">Ref</h2>\n"
        "<del class=\"atictdel\"><h3><span class=\"CHAPNUMBER\">1.1</span>Gone</h3>"
        "<del class=\"atictdel\">x</del><h3 class=\"glossary\">G</h3></del>\n"
        "<H2 CLASS=\"GLOSSARY\" id=\"g\">Two</H2>\n"
        "<h2>Plain</h2><h4 class=\"other\">n</h4>\n";
    const std::string anchored =
        "<h2><a name=\"_C1\"></a><span class=\"CHAPNUMBER\">1</span>One</h2>\n"
        "<h2 class=\"reference\"><a name=\"_C2\"></a>Ref</h2>\n"
        "<del class=\"atictdel\"><h3><a name=\"_DC3\"></a><span class=\"CHAPNUMBER\">1.1</span>Gone</h3>"
        "<del class=\"atictdel\">x</del><h3 class=\"glossary\"><a name=\"_DC4\"></a>G</h3></del>\n"
        "<H2 CLASS=\"GLOSSARY\" id=\"g\"><a name=\"_C3\"></a>Two</H2>\n"
        "<h2>Plain</h2><h4 class=\"other\">n</h4>\n";
    const std::string before = "<h2 class=\"reference\">Before</h2>";
    struct Case {
        const char* name;
        std::string page;
        std::string sent;
    } const cases[] = {
        {"after the body marker", before + "<!--@BODY-->\n" + body, before + "<!--@BODY-->\n" + anchored},
        {"without the marker none", before + body, before + body},
        {"a class without its tag's end", "<!--@BODY--><h2 class=\"reference\"", "<!--@BODY--><h2 class=\"reference\""},
        {"the span past the heading's end", "<!--@BODY--><h2>a</h2><span class=\"CHAPNUMBER\">",
         "<!--@BODY--><h2>a</h2><span class=\"CHAPNUMBER\">"},
        {"headings spelt in an attribute, a comment or a script are text",
         "<!--@BODY--><p title='<h2 class=\"reference\">'>a</p><!-- <h3 class=\"glossary\"> -->"
         "<script>s='<h2><span class=\"CHAPNUMBER\">9</span></h2>';</script><h2 class=\"reference\">R</h2>",
         "<!--@BODY--><p title='<h2 class=\"reference\">'>a</p><!-- <h3 class=\"glossary\"> -->"
         "<script>s='<h2><span class=\"CHAPNUMBER\">9</span></h2>';</script>"
         "<h2 class=\"reference\"><a name=\"_C1\"></a>R</h2>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        page(c.page);
        EXPECT_EQ(run(), c.sent);
    }
}

TEST_F(PostProcess, TitleAnchorFollowsTheFirstDocumentTitleOnly) {
    documentFields();
    page("<div class=\"DOCTITLE\" id=\"t\">A</div><div class=\"DOCTITLE\">B</div>");
    EXPECT_EQ(run(), "<div class=\"DOCTITLE\" id=\"t\"><a name=\"_H\"></a>A</div><div class=\"DOCTITLE\">B</div>");
    EXPECT_TRUE(req_->passState().hInserted);
    // One spelt in a script or an attribute value is text.
    const std::string spelt = "<script>d='<div class=\"DOCTITLE\">';</script><p title='<div class=\"DOCTITLE\">'>";
    page(spelt + "<div class=\"DOCTITLE\">A</div>");
    EXPECT_EQ(run(), spelt + "<div class=\"DOCTITLE\"><a name=\"_H\"></a>A</div>");
}


TEST_F(PostProcess, RulesRewriteWhatTheyRecognise) {
    const std::string kivo = std::string("http:/") + kScriptAddress;
    struct Case {
        const char* name;
        std::string page;
        std::string sent;
    } const cases[] = {
        {"a link in HTML", "<a href=\"HTTP:/kivo?FN=b.html\">", "<a href=\"HTTP:/" + std::string(kScriptAddress) +
                                                                  "?ID=12&amp;FN=b.html\">"},
        {"a link in a script", "<script>u=\"http:/kivo?FN=b.html\";</script>",
         "<script>u=\"" + kivo + "?ID=12&FN=b.html\";</script>"},
        {"qzl takes urlProto", "<a href='qzl:/kivo?FN=b.html'>", "<a href='" + kivo + "?ID=12&amp;FN=b.html'>"},
        {"another program", "<a href=\"http://example.com/\">", "<a href=\"http://example.com/\">"},
        {"a marker without a handler vanishes", "a<!--@@listdb x-->b", "ab"},
        {"the exported sheet's frameset",
         "<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\" SRC=\"s.html\">",
         "<html><FRAMESET onload=\"if(self.name=='kivodoc'){if(0 && top && top.kivotbar) "
         "top.kivotbar.enableBut('b6'); else top.kivotbar.disableBut('b6'); "
         "top.dynamicToolBar();if(!top.OvrlyDisplyed)top.kivomain.togBnew(7); }\" rows='*,0'>  "
         "<FRAME NAME=\"KIVOEXEL\" SRC=\"s.html\">"},
        {"a frameset that differs stays", "<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\" src=x>",
         "<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\" src=x>"},
        {"tags and bytes inside them", "<p class=\"\x85\">\x85</p>", "<p class=\"-\">-</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        req_->curId = 12;
        req_->folder = 7;
        req_.field("AC", "LINK");
        page(c.page);
        EXPECT_EQ(run(), c.sent);
    }
}

// Text is copied in blocks: a link, a mapped byte or a lone ':' or '/' at
// any place of a run, before, across and after a block's end, is taken as
// where it stands.
TEST_F(PostProcess, RunsFindLinksAndBytesAtEveryPlace) {
    const std::string address = std::string("http:/") + kScriptAddress + "?ID=12&amp;FN=b.html";
    struct Case {
        const char* name;
        std::string piece;
        std::string sent;
    } const cases[] = {
        {"http", "HTTP:/kivo?FN=b.html", "HTTP:/" + std::string(kScriptAddress) + "?ID=12&amp;FN=b.html"},
        {"qzl", "qZl:/kivo?FN=b.html", address},
        {"a link after a letter", "xhttp:/kivo?FN=b.html", "x" + address},
        {"a link after a colon", "a:qzl:/kivo?FN=b.html", "a:" + address},
        {"a scheme without its slash", "http:x qzl: h:/ ttp:/", "http:x qzl: h:/ ttp:/"},
        {"mapped bytes", "\x80\x8a\x8b:\x85/", "|/\x8b:-/"},
    };
    const std::string filler = "abcdefgh:/ijk\x85mnopqrstuvwxyz0123456789ABCDEFGHIJ";
    for (const Case& c : cases) {
        for (size_t n = 0; n <= 40; ++n) {
            SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(n) + " bytes");
            req_->curId = 12;
            req_.field("AC", "LINK");
            const std::string before = filler.substr(0, n);
            page(before + c.piece + " tail\x81");
            EXPECT_EQ(run(), mapped(before) + c.sent + " tail+");
        }
    }
}

// A second pass on the same request starts afresh, whether its page is
// shorter than the first or not text.
TEST_F(PostProcess, AnotherPassOnTheSameRequestStartsAfresh) {
    documentFields();
    page(std::string(100000, 'x'));
    EXPECT_EQ(run().size(), 100000u);
    page("ab\x85");
    EXPECT_EQ(run(), "ab-");
    EXPECT_EQ(req_->dstBuf[req_->dstOffs], '\0');
    req_->mimeType = "application/pdf";
    page("%PDF");
    EXPECT_EQ(req_->postProcessFile(), 1);
    EXPECT_EQ(req_->dstBuf, nullptr);
}

// Every <script> body of the page passes node --check.
void expectScriptsParse(const std::string& page) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    int n = 0;
    for (size_t at = 0;;) {
        const size_t open = findCaseBlind(page, at, "<script");
        if (open == std::string::npos) break;
        const size_t body = page.find('>', open);
        ASSERT_NE(body, std::string::npos);
        const size_t close = findCaseBlind(page, body, "</script");
        ASSERT_NE(close, std::string::npos);
        const std::string file = dir.file("s" + std::to_string(n++) + ".js");
        test::writeFile(file, page.substr(body + 1, close - body - 1));
        EXPECT_EQ(std::system(("node --check " + file).c_str()), 0) << page.substr(body + 1, close - body - 1);
        at = close;
    }
    EXPECT_GT(n, 0);
}

TEST_F(PostProcess, DocumentTocScriptCarriesEscapedTitles) {
    ASSERT_EQ(std::system("command -v node >/dev/null"), 0) << "node is needed: scripts/setup installs nodejs";
    documentFields();
    page("<html><title>a \"b\" \\c</title>\n<!--@BODY-->\n"
         "<h2><a name=\"CHAPTER1\">x\");window.__x=1;//</a></h2>\n"
         "<h3><a name=\"CHAPTER1.1\">Sub</a></h3>\n"
         "<h3><a name=\"CHAPTER2.3\">Orphan</a></h3>\n"
         "<h3><a name=\"CHAPTER3\"></a></h3>\n"
         "<a name=\"CHAPTER4\">outside a heading</a>\n"
         "</html>");
    const std::string out = run();
    EXPECT_EQ(req_->passState().sDTOCJavaScript,
              "  dfT=cNDoc(\"&nbsp;a \\\"b\\\" \\\\c\", \"#TOP\",0xFFFF);"
              "\n  dfT1 = aNDoc(dfT, cNDoc(\"x\\\");window.__x=1;//\", \"#CHAPTER1\", 1));"
              "\n  dfT1_1 = aNDoc(dfT1, cNDoc(\"Sub\", \"#CHAPTER1.1\", 1));"
              "\n  dfT2_3 = aNDoc(dfT, cNDoc(\"Orphan\", \"#CHAPTER2.3\", 1));"
              "\n  dfT3 = aNDoc(dfT, cNDoc(\"No Title\", \"#CHAPTER3\", 1));");
    const size_t end = out.find("</html>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_TRUE(out.substr(end + 7).starts_with("\n<SCRIPT type=\"text/javascript\" language=\"JavaScript\">"));
    EXPECT_NE(out.find("}\nvar kvoPageUrl = \"http://127.0.0.1:8080/cgi-bin/kivoserv?AC=LINK&FN=1551-ABC10101Uen.A."
                       "html\";\n"),
              std::string::npos);
    EXPECT_TRUE(out.ends_with("\n</SCRIPT>\n"));
    expectScriptsParse(out);

    // A page without a title, and one that is no document page.
    page("<title></title></html>");
    expectScriptsParse(run());
    EXPECT_EQ(req_->passState().sDTOCJavaScript, "  dfT=cNDoc(\"&nbsp;No Title\", \"#TOP\",0xFFFF);");
    req_.field("FN", "kvo_ml_sub_main_page");
    page("<title>t</title></html>");
    EXPECT_EQ(run(), "<title>t</title></html>");
}

// A request whose session meets a scripted server: greeting, VER, then the
// given reply.
class PostProcessServer : public PostProcess {
protected:
    std::string runWith(const std::string& reply, std::string_view text) {
        ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send(verLine()).awaitLine().send(reply).close()});
        EXPECT_TRUE(peer.ok());
        req_->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        page(text);
        const std::string out = run();
        EXPECT_EQ(req_->getError(), "");
        // A fresh request state for the next call: no session, no fields.
        req_->clear();
        req_->flags = kKivoservFlags;
        req_->kivoServName = kScriptAddress;
        peer.stop();
        received_ = peer.connections() ? peer.received(0) : "";
        return out;
    }
    std::string received_;
};

TEST_F(PostProcessServer, LibraryTitleFilterWritesEscapedMetaLines) {
    documentFields();
    req_.field("IX", "FILTER_LIBTIT");
    req_.field("LI", "EN/DOCLIB1 R1A");
    const std::string reply = std::string(test::kMlHeader) + test::kFolderLine +
                              "300   DB     0 \"guide.kvo\"  \"00|4711|guide.kvo|\" \t      984     3 1796961933 "
                              "\"T\\\"><script> [EN/DOCLIB1 R1A]\" FALSE\n" +
                              test::kMlEnd;
    EXPECT_EQ(runWith(reply, "<title>x</title><p>"),
              "<title>x</title>\n<META NAME=LIBID CONTENT=\"EN&#47;DOCLIB1 R1A\">"
              "\n<META NAME=LIBTIT CONTENT=\"T&#34;&#62;&#60;script&#62;\"><p>");
    EXPECT_NE(received_.find("\nMLLIST \"[EN/DOCLIB1 R1A]\"\n"), std::string::npos) << received_;

    // A refused listing writes nothing.
    documentFields();
    req_.field("IX", "FILTER_LIBTIT");
    req_.field("DB", "guide.kvo");
    EXPECT_EQ(runWith("511 No such library\n", "<title>x</title>"), "<title>x</title>");
    EXPECT_NE(received_.find("\nMLLIST \"guide.kvo\"\n"), std::string::npos) << received_;
}

TEST_F(PostProcessServer, MeetingMinutesOptionComesFromTheMemberComment) {
    struct Case {
        const char* name;
        std::string comment;
        bool isMOM;
    } const cases[] = {
        {"OPT: M", "OPT: M", true},
        {"any case, M inside the value", "opt: xMy", true},
        {"another option", "OPT: A", false},
        {"M before OPT:", "M OPT:", false},
        {"no comment", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        documentFields();
        req_.field("ID", "12");
        std::string entry = "300 1551-abc10101uen.a.html";
        if (!c.comment.empty()) entry += " \"" + c.comment + "\"";
        const std::string out =
            runWith("300-Contents of Database 12\n" + entry + "\n200-CONT executed.\n", "<body><p>x</p></body>");
        EXPECT_EQ(req_->passState().isMOM, c.isMOM);
        EXPECT_NE(received_.find(std::string("\nCONT 12 ") + kDocFile + "\n"), std::string::npos) << received_;
        // The document page's menu script at the body's end carries it.
        const size_t at = out.find(c.isMOM ? "\nvar isMOM=1;\n" : "\nvar isMOM=0;\n");
        EXPECT_NE(at, std::string::npos) << out;
        EXPECT_EQ(out.rfind("var isMOM="), at + 1) << out;
    }
}

TEST_F(PostProcess, MeetingMinutesWithoutAServerStayClear) {
    documentFields();
    req_.field("ID", "12");
    test::ClosedPort closed;
    ASSERT_TRUE(closed.ok());
    req_->docServAddr = "127.0.0.1:" + std::to_string(closed.port());
    page("<p>x</p>");
    EXPECT_EQ(run(), "<p>x</p>");
    EXPECT_FALSE(req_->passState().isMOM);
    EXPECT_EQ(req_->getError(), "");
}

TEST_F(PostProcess, AnnotatedChaptersGetMarksAtTheirHeadingsEnd) {
    const std::string text = "<!--@BODY-->\n<h2><a name=\"CHAPTER1\">One</a></h2><p>\n"
                             "<h2><a name=\"CHAPTER2\">Two</a></h2><h2>Next</h2>\n";
    struct Case {
        const char* name;
        const char* an;
        const char* match;
        std::string sent;
        std::vector<std::string> calls;
    } const cases[] = {
        {"with AN: icon before the end, box after it", "CHAPTER1", "CHAPTER1",
         "<!--@BODY-->\n<h2><a name=\"CHAPTER1\">One</a>[insertAnnotGif]</h2>[insertAnnotationIfRequested]<p>\n"
         "<h2><a name=\"CHAPTER2\">Two</a></h2><h2>Next</h2>\n",
         {std::string("new(") + kDocFile + ")", "checkNameAttr( name=\"CHAPTER1\")", "insertAnnotGif(CHAPTER1)",
          std::string("insertAnnotationIfRequested(") + kDocFile + ",CHAPTER1)", "checkNameAttr( name=\"CHAPTER2\")"}},
        {"without AN only the icon", nullptr, "CHAPTER1",
         "<!--@BODY-->\n<h2><a name=\"CHAPTER1\">One</a>[insertAnnotGif]</h2><p>\n"
         "<h2><a name=\"CHAPTER2\">Two</a></h2><h2>Next</h2>\n",
         {std::string("new(") + kDocFile + ")", "checkNameAttr( name=\"CHAPTER1\")", "insertAnnotGif()",
          "checkNameAttr( name=\"CHAPTER2\")"}},
        {"a heading right behind gets none", nullptr, "CHAPTER2", text,
         {std::string("new(") + kDocFile + ")", "checkNameAttr( name=\"CHAPTER1\")",
          "checkNameAttr( name=\"CHAPTER2\")"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest req;
        req->kivoServName = kScriptAddress;
        req->annotFactory = &test::newRecordingAnnotation;
        req.field("AC", "LINK");
        req.field("FN", kDocFile);
        if (c.an) req.field("AN", c.an);
        annotationScript() = test::AnnotationScript();
        annotationScript().matchChapter = c.match;
        heapPage(*req, text);
        EXPECT_EQ(req->postProcessFile(), 1) << req->getError();
        EXPECT_EQ(std::string(req->dstBuf, req->dstOffs), c.sent);
        EXPECT_EQ(annotationScript().calls, c.calls);
    }
}

TEST_F(PostProcess, AnnotationInserterOutcomes) {
    struct Case {
        const char* name;
        bool factory;
        bool refuse;
        int status;
        size_t flags;
        const char* ac;
        int result;
        std::string error;
        size_t calls;
    } const cases[] = {
        {"ready", true, false, 0, kKivoservFlags, "LINK", 1, "", 3},
        {"no entries: no marks", true, false, -1, kKivoservFlags, "LINK", 1, "", 1},
        {"no factory: no marks", false, false, 0, kKivoservFlags, "LINK", 1, "", 0},
        {"UseAnnotation off", true, false, 0, kKivoservFlags & ~kCgiUseAnnotation, "LINK", 1, "", 0},
        {"another action", true, false, 0, kKivoservFlags, "INFO", 1, "", 0},
        {"not made", true, true, 0, kKivoservFlags, "LINK", 0, "Failed to create new annotation module.", 1},
        {"internal error", true, false, -2, kKivoservFlags, "LINK", 0,
         "Failed to create annotation module, internal error.", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest req;
        req->flags = c.flags;
        if (c.factory) req->annotFactory = &test::newRecordingAnnotation;
        req.field("AC", c.ac);
        req.field("FN", kDocFile);
        annotationScript() = test::AnnotationScript();
        annotationScript().status = c.status;
        annotationScript().refuse = c.refuse;
        annotationScript().matchChapter = "CHAPTER1";
        const std::string text = "<!--@BODY--><h2><a name=\"CHAPTER1\">One</a></h2>";
        heapPage(*req, text);
        EXPECT_EQ(req->postProcessFile(), c.result);
        EXPECT_EQ(req->getError().substr(0, c.error.size()), c.error);
        EXPECT_EQ(annotationScript().calls.size(), c.calls);
    }
}

// Each construct cut at every length, ending at the page's last byte of a
// block of exactly that size.
TEST_F(PostProcess, ConstructsCutAtThePagesEndReadNothingBeyond) {
    const char* const constructs[] = {
        "<!--@@listdb x", "http:/kivo?ID=1&FN=a.html", "qzl:/kivo?", "<h2 class=\"reference\"",
        "</h2>", "<div class=\"DOCTITLE\">", "<a name=\"CHAPTER1.2\">t</a>", "<a name=\"TITLE\">",
        "<title>x", "</title>", "</html>", "<del class=\"atictdel\">", "<span class=\"CHAPNUMBER\">",
        "<html><FRAMESET rows='*,0'>  <FRAME NAME=\"KIVOEXEL\" SRC=\"", "<body", "</script", "/h2",
        "<!--@BODY-->"};
    for (const char* construct : constructs) {
        const std::string whole = construct;
        for (size_t n = 1; n <= whole.size(); ++n) {
            SCOPED_TRACE(whole.substr(0, n));
            CapturedRequest req;
            req->kivoServName = kScriptAddress;
            req->annotFactory = &test::newRecordingAnnotation;
            annotationScript() = test::AnnotationScript();
            annotationScript().matchChapter = "CHAPTER";
            req.field("AC", "LINK");
            req.field("FN", kDocFile);
            req.field("AN", "CHAPTER1.2");
            const std::string text = "<!--@BODY--><h2>" + whole.substr(0, n);
            heapPage(*req, text);
            EXPECT_EQ(req->postProcessFile(), 1) << req->getError();
        }
    }
}

TEST(PageScan, FindStaysInsideThePageAndBeforeTheLimit) {
    const std::string text = "x<!--@body--> <h2 class=\"Reference\">";
    const PageScan scan(text.data(), text.size());
    constexpr size_t kNone = std::string_view::npos;
    struct Case {
        std::string_view word;
        size_t from, limit, found;
    } const cases[] = {
        {"<!--@BODY-->", 0, kNone, 1},     {"<!--@BODY-->", 2, kNone, kNone}, {"<!--@BODY-->", 0, 2, 1},
        {"<!--@BODY-->", 0, 1, kNone},     {"class=\"reference\"", 0, kNone, 18},
        {"class=\"reference\">", 0, kNone, 18}, {"class=\"reference\">x", 0, kNone, kNone},
        {"h2", 0, kNone, 15},              {"body", 0, 7, 6},                 {"body", 0, 6, kNone},
        {"", 3, kNone, 3},                 {"x", 40, kNone, kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + " from " + std::to_string(c.from));
        EXPECT_EQ(scan.find(c.from, c.word, c.limit), c.found);
    }
}

// Safety nets against paths quadratic in the page: each must finish well
// within the test's time limit.
TEST_F(PostProcess, MegabyteOfProgramLinks) {
    documentFields();
    req_->curId = 12;
    std::string text;
    const std::string link = "<a href=\"http:/kivo?AC=LINK&amp;FN=b.html\">b</a>";
    const std::string scripted = "<script>w(\"HTTP:/kivo?AC=LINK&FN=c.html\");</script>";
    for (int i = 0; text.size() < (1u << 20); ++i) {
        const std::string& piece = i % 5 == 4 ? scripted : link;
        text += piece + std::string(200 - piece.size(), 'x');
    }
    page(text);
    const std::string out = run();
    EXPECT_GT(out.size(), text.size());
}

TEST_F(PostProcess, MegabyteOfMarkedHeadings) {
    documentFields();
    std::string text = "<!--@BODY-->";
    int headings = 0;
    while (text.size() < (1u << 20)) {
        const std::string heading = "<h2 class=\"reference\">Chapter " + std::to_string(++headings) + "</h2>";
        text += heading + std::string(100 - heading.size(), 'y');
    }
    page(text);
    run();
    EXPECT_EQ(req_->passState().C_count, headings);
}

}  // namespace
}  // namespace ruva
