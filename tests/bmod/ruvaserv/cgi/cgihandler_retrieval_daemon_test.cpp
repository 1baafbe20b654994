// Member retrieval against a real daemon. Run by
// cgihandler_retrieval_daemon_test.py, which starts the daemon at RUVA_PORT
// over its library guide.kvo and writes each member's bytes, as python's
// zipfile reads them, and the daemon's own wait page into RUVA_MEMBERS.
// Without RUVA_PORT every case is skipped.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RetrievalDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> port = test::envValue("RUVA_PORT");
        if (!port) GTEST_SKIP() << "needs a daemon (cgihandler_retrieval_daemon_test.py)";
        server = "127.0.0.1:" + *port;
        members = test::envValue("RUVA_MEMBERS").value_or("");
        env.set("RUVA_ADDR", std::nullopt);
        env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
    }

    test::EnvGuard env;
    std::string server;
    std::string members;
};

struct Case {
    const char* name;
    std::string file;
    const char* ac;  // AC field, null for none
    std::string expected;  // file under RUVA_MEMBERS holding the bytes served
    std::string mimeType;
    std::string mimeFilename;
    std::string fileAfter;  // the caller's string afterwards
};

TEST_F(RetrievalDaemon, MembersByNamePatternAndPdfMode) {
    const Case cases[] = {
        // The listed name holds '[': RETR must still fetch that very member.
        {"a wildcard lists fig[1].gif first", "fig*.gif", nullptr, "fig[1].gif", "image/gif", "fig[1].gif",
         "fig*.gif"},
        {"a bracket in the file is a pattern", "fig[1].gif", nullptr, "fig1.gif", "image/gif", "fig1.gif",
         "fig[1].gif"},
        {".fdp is asked and served as the PDF", "a.fdp", nullptr, "a.pdf", "application/pdf", "a.pdf", "a.pdf"},
        // The wait page is longer than the listed PDF: all of it arrives.
        {".pdf is the wait page", "a.pdf", nullptr, "wait.html", "text/html", "a.htm", "a.pdf"},
        {".pdf with AC=IMAGE is the PDF", "a.pdf", "IMAGE", "a.pdf", "application/pdf", "a.pdf", "a.pdf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string expected = fileBytes(members + "/" + c.expected);
        ASSERT_FALSE(expected.empty());
        CapturedRequest cg;
        cg->docServAddr = server;
        if (c.ac) cg.field("AC", c.ac);
        std::string file = c.file;
        bool missing = true;
        ASSERT_EQ(cg->retrieveFile("guide.kvo", file, &missing), 1) << cg->getError();
        EXPECT_FALSE(missing);
        EXPECT_EQ(file, c.fileAfter);
        ASSERT_NE(cg->docBuf, nullptr);
        EXPECT_EQ(std::string(cg->docBuf, cg->docSize), expected);
        EXPECT_EQ(cg->mimeType, c.mimeType);
        EXPECT_EQ(cg->mimeFilename, c.mimeFilename);
    }
}

}  // namespace
}  // namespace ruva
