// The kivoserv program's command line and exit status, run as built, and
// its last-resort error page.
#include "bmod/ruvaserv/cgi/kivoserv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kivo_version.h"
#include "common/html_header.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

using test::runKivoserv;

const std::string kVersionLine =
    std::string("Version: kivoserv ") + kKivoservArticle + " " + kSystemRevision + "\n";

TEST(KivoservCommandLine, VersionOptionsPrintBothLines) {
    for (const char* option : {"--version", "-ver"}) {
        SCOPED_TRACE(option);
        test::ProgramRun run = runKivoserv({}, option);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out,
                  kVersionLine + "KIVO Server version: " + kKivoProductNumber + " " + kSystemRevision + "\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST(KivoservCommandLine, InstallExitsSilently) {
    test::ProgramRun run = runKivoserv({{"QUERY_STRING", "AC=EMPTY"}}, "--install");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(KivoservCommandLine, UnknownOptionPrintsOnlyVersionAndUsage) {
    for (const char* option : {"-x", "-dx", "-?", "-v -q"}) {
        SCOPED_TRACE(option);
        test::ProgramRun run = runKivoserv({{"QUERY_STRING", "AC=EMPTY"}}, option);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, kVersionLine + "Usage: " + RUVA_KIVOSERV + " [-dv] [file...]\n");
    }
}

TEST(KivoservCommandLine, EveryRequestExitsZero) {
    const struct {
        const char* name;
        test::Env env;
        const char* args;
    } cases[] = {
        {"no environment", {}, ""},
        {"debug and verbose, file arguments unused", {{"QUERY_STRING", "AC=EMPTY"}}, "-d -v file"},
        {"empty page", {{"QUERY_STRING", "AC=EMPTY"}}, ""},
        {"default action", {{"QUERY_STRING", ""}}, ""},
        {"unknown method", {{"REQUEST_METHOD", "PUT"}}, ""},
        {"POST without type", {{"REQUEST_METHOD", "POST"}}, ""},
        {"broken escapes", {{"QUERY_STRING", "%&%4&=x&%zz=%00&AC=%"}}, ""},
        {"image without number", {{"QUERY_STRING", "AC=TBIMG&IM=abc"}}, ""},
        {"no response", {{"QUERY_STRING", "AC=NORESP"}, {"GATEWAY_INTERFACE", "CGI/1.1"}}, ""},
        {"document type", {{"QUERY_STRING", "DT=XY"}}, ""},
        {"library patterns", {{"QUERY_STRING", "DB=lib*&LI=//EN/A*"}}, ""},
        {"unknown action", {{"QUERY_STRING", "AC=9x"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Env env = c.env;
        env.emplace_back("KIVOSERVCONF", "/dev/null");
        test::ProgramRun run = runKivoserv(env, c.args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
    }
}

TEST(KivoservErrorPage, MessageIsWrittenAsTextInAWholePage) {
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string message = "Cannot %s 100%% <b>now</b>";
    htmlDisplayError(file, message);
    htmlDisplayError(nullptr, message);
    std::string page(65536, '\0');
    std::rewind(file);
    page.resize(std::fread(page.data(), 1, page.size(), file));
    std::fclose(file);

    const std::string start = std::string("Content-type: text/html\n\n") + kXhtmlDoctype + kXhtmlStartTag +
                              "\n<head>\n<title>KIVO Error Message</title>\n";
    EXPECT_EQ(page.substr(0, start.size()), start);
    const std::string header = undoublePercents(makeHtmlMainHeader("KIVO Error Message"));
    const size_t at = page.find(header);
    ASSERT_NE(at, std::string::npos);
    // The header's doubled percents are undone; the message's are kept.
    EXPECT_EQ(page.find("%%"), page.find(message) + message.find("%%"));
    EXPECT_EQ(page.substr(at + header.size()), "<pre>\n\n</pre><p>" + message + "</p>\n</body></html>\n");
}

}  // namespace
}  // namespace ruva
