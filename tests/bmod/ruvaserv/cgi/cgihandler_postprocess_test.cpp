// The copy pass of post-processing: pages in, exact bytes out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
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

    // The page in a heap block of exactly its size: ASan reports any read
    // at or past docSize. Without flag 0x2 freeDocBuf frees it.
    void page(std::string_view text) {
        req_->freeDocBuf();
        req_->docBuf = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
        ASSERT_NE(req_->docBuf, nullptr);
        std::memcpy(req_->docBuf, text.data(), text.size());
        req_->docSize = text.size();
        req_->docbufSize = text.size();
    }

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
}

}  // namespace
}  // namespace ruva
