// The request road of kivoserv and its generic answers, through the writers
// of the response and the error page.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/toolbar_icons.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kivoserv.h"
#include "common/html_escape.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

constexpr time_t kNow = 1700000000;
time_t fixedClock() {
    return kNow;
}

class FixedClock {
public:
    FixedClock() { setResponseClock(&fixedClock); }
    ~FixedClock() { setResponseClock(nullptr); }
};

std::string imageBytes(int number) {
    const ToolbarIcon& icon = kToolbarIcons[number - 1];
    return std::string(reinterpret_cast<const char*>(icon.bits), icon.bcount);
}

std::string imageHead(int number) {
    return "Expires: " + CgiHandler::createHttpTime(kNow + kLongExpirePeriod).value_or("?") +
           "\nContent-type: image/gif\nContent-length: " + std::to_string(kToolbarIcons[number - 1].bcount) +
           "\n\n";
}

std::string blankPage(const char* colour) {
    return std::string(kXhtmlDoctype) + kXhtmlStartTag + "<head><title></title></head><body bgcolor=\"#" +
           colour + "\"></body></html>\n";
}

std::string message(int index, const char* tag, const std::string& argument) {
    return formatChecked(msgFormat(index, tag), argument);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

TEST(KivoservEntry, ToolbarImageIsServedWithItsHeaders) {
    FixedClock clock;
    struct {
        const char* im;
        size_t extraFlags;
        int image;
    } const cases[] = {
        {"5", 0, 5}, {"1", 0, 1}, {"153", 0, 153}, {"15,14", 0, 14}, {"117", kCgiHeadRequest, 117},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.im);
        CapturedRequest cg;
        cg.field("AC", "tbimg");
        cg.field("IM", c.im);
        cg->flags |= c.extraFlags;
        cg->options = 0x41;
        EXPECT_EQ(cg->handleGenericActions(), 1);
        std::string want = imageHead(c.image);
        if (!(c.extraFlags & kCgiHeadRequest)) want += imageBytes(c.image);
        EXPECT_EQ(cg.written(), want);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(cg->options, 0x1u);
    }
}

TEST(KivoservEntry, ToolbarImageErrorsAnswerMessage200) {
    struct {
        const char* im;  // null: no IM field
        std::string cause;
    } const cases[] = {
        {"abc", formatChecked(msgFormat(237, "cgihandler/34"))},
        {nullptr, formatChecked(msgFormat(237, "cgihandler/34"))},
        {"0", formatChecked(msgFormat(208, "cgihandler/10"))},
        {"154", formatChecked(msgFormat(208, "cgihandler/10"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.im ? c.im : "no IM");
        CapturedRequest cg;
        cg.field("AC", "TBIMG");
        if (c.im) cg.field("IM", c.im);
        EXPECT_EQ(cg->handleGenericActions(), 1);
        const std::string page = cg.written();
        EXPECT_EQ(test::errorMessageOf(page), message(200, "cgihandler/2", c.cause));
        EXPECT_EQ(count(page, "<!--@error-->"), 1u);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
    }
}

// A stream that fails must not be reported as a served image, nor get an
// error page behind the header lines already sent.
TEST(KivoservEntry, ToolbarImageWriteFailureIsReported) {
    CapturedRequest cg;
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    cg->cgifile = full;
    cg.field("IM", "5");
    EXPECT_EQ(cg->tbimgAction(), 0);
    EXPECT_TRUE(cg->flags & kCgiResponseDone);
    EXPECT_NE(cg->getError(), "");
    cg->cgifile = nullptr;
    std::fclose(full);
}

TEST(KivoservEntry, NoResponseUnderCgi11IsStatus204) {
    CapturedRequest cg;
    cg.field("AC", "NORESP");
    cg->gatewayInterface = "CGI/1.1";
    cg->kivoServName = "/h/cgi-bin/kivoserv";
    EXPECT_EQ(cg->handleGenericActions(), 1);
    EXPECT_EQ(cg.written(), "Status: 204 No response\n\n");
}

TEST(KivoservEntry, BlankPageTakesItsColourFromBg) {
    struct {
        const char* bg;  // null: no BG field
        const char* colour;
    } const cases[] = {
        {"ff0000", "ff0000"},
        {nullptr, "000000"},
        {"", "000000"},
        {"ff0000ff", "ff0000"},
        // Stored as "&#34; b " (valuelist): cut to six, then escaped.
        {"\"<b>", "&amp;#34; "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bg ? c.bg : "no BG");
        CapturedRequest cg;
        if (c.bg) cg.field("BG", c.bg);
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry("blank"), 1);
        ASSERT_NE(cg->docBuf, nullptr);
        EXPECT_EQ(std::string(cg->docBuf, cg->docSize), blankPage(c.colour));
        EXPECT_FALSE(cg->flags & kCgiBodyHandlers);
    }
}

TEST(KivoservEntry, EnvironmentPageEscapesEveryEntry) {
    const int status = test::inChild([] {
        // Set after the start: the page reads the live environment.
        setenv("RUVA_PROBE", "<img src=x onerror=alert(1)>", 1);
        CapturedRequest cg;
        cg.field("AC", "env");
        cg->flags |= kCgiTestMode;
        if (cg->handleGenericActions() != 1) return 1;
        if (cg->flags & kCgiResponseDone) return 2;
        const std::string page(cg->docBuf, cg->docSize);
        if (page.find("<h1>Environment variables</h1>") == std::string::npos) return 3;
        if (page.find("RUVA_PROBE=&#60;img src=x onerror=alert(1)&#62;<br />\n") == std::string::npos)
            return 4;
        if (page.find("<img") != std::string::npos) return 5;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

// The flow writes an error page only while no answer is written.
TEST(KivoservEntry, FlowWritesOnePageAtMost) {
    for (bool answered : {false, true}) {
        SCOPED_TRACE(answered ? "answered before" : "fresh");
        const int status = test::inChild([answered] {
            setenv("KIVOSERVCONF", "/dev/null", 1);
            setenv("REQUEST_METHOD", "PUT", 1);
            CapturedRequest cg;
            if (answered) cg->flags |= kCgiResponseDone;
            runKivoRequest(*cg);
            const std::string page = cg.written();
            if (answered) return page.empty() ? 0 : 1;
            if (count(page, "<!--@error-->") != 1) return 2;
            const std::string cause = message(219, "cgihandler/21", "PUT");
            return test::errorMessageOf(page) == message(104, "kivoserv/4", cause) ? 0 : 3;
        });
        EXPECT_EQ(status, 0);
    }
}

// LINK runs its action: without a library field it stops at once; with one
// it asks the server, here a port where nothing listens.
TEST(KivoservEntry, RequestRoadAnswersWithOneErrorPage) {
    test::ClosedPort closed;
    ASSERT_TRUE(closed.ok());
    const std::string server = "127.0.0.1:" + std::to_string(closed.port());
    const std::string noLibrary = formatChecked(msgFormat(13, "kivohandler/NOID1")) + "\n";
    const std::string noServer =
        formatChecked(msgFormat(204, "cgihandler/6"), server, std::string("Connection refused")) + "\n";
    struct {
        const char* query;
        std::string message;
    } const cases[] = {
        {"", noLibrary},
        {"AC=link", noLibrary},
        {"AC=Link", noLibrary},
        {"AC=fxyz", message(10, "kivohandler/2", "FXYZ") + "\n"},
        {"AC=9x", message(10, "kivohandler/2", "9X") + "\n"},
        {"DT=XY", message(107, "kivoserv/7", "XY")},
        {"DT=", message(107, "kivoserv/7", "")},
        {"DT=qx", noLibrary},
        // LI_Original keeps LI's slashes, and the page shows them.
        {"LI=//EN/ABC*", message(475, "kivoserv/9.2", "//EN/ABC*")},
        {"LI=//EN/ AB*", message(475, "kivoserv/9.2", "//EN/AB*")},
        {"LI=//EN/ABCDEFGH*", noServer},
        {"DB=lib*&LI=//EN/ABCDEFGHIJ", message(474, "kivoserv/9.1", "lib*")},
        {"DB=lib*&LI=EN/ABC", noServer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        test::ProgramRun run = test::runKivoserv(
            {{"QUERY_STRING", c.query}, {"KIVOSERVCONF", "/dev/null"}, {"RUVA_ADDR", server}});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("Content-type: text/html\n\n", 0), 0u);
        EXPECT_EQ(count(run.out, "<!--@error-->"), 1u);
        EXPECT_EQ(test::errorMessageOf(run.out), c.message);
    }
}

TEST(KivoservEntry, BlankAndScriptAnswersAreSent) {
    struct {
        const char* query;
        const char* typeLine;
        const char* bodyPart;
    } const cases[] = {
        // The pass adds the context-menu attribute to the body tag.
        {"AC=blank&BG=ff0000", "Content-type: text/html\n", " bgcolor=\"#ff0000\"></body>"},
        {"AC=JSCMENU", "Content-type: text/javascript\n", "removeIDDB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        test::ProgramRun run = test::runKivoserv({{"QUERY_STRING", c.query}, {"KIVOSERVCONF", "/dev/null"}});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        auto [head, body] = test::splitResponse(run.out);
        EXPECT_NE(head.find(c.typeLine), std::string::npos);
        EXPECT_NE(body.find(c.bodyPart), std::string::npos);
    }
}

TEST(KivoservEntry, ImageByHeadIsTheHeaderBlockAlone) {
    test::ProgramRun run = test::runKivoserv(
        {{"REQUEST_METHOD", "HEAD"}, {"QUERY_STRING", "AC=TBIMG&IM=5"}, {"KIVOSERVCONF", "/dev/null"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Expires: ", 0), 0u);
    const std::string tail =
        "\nContent-type: image/gif\nContent-length: " + std::to_string(kToolbarIcons[4].bcount) + "\n\n";
    EXPECT_TRUE(run.out.ends_with(tail)) << run.out;
    EXPECT_EQ(count(run.out, "\n\n"), 1u);
}

}  // namespace
}  // namespace ruva
