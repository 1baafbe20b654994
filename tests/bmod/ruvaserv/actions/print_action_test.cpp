// PRINT in process: the print command's line, the filter's result and the
// print file's life.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bmod/ruvaserv/actions/print_command.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::RecordingKivoHandler;

constexpr char kInvalid[] = "invalid print command";
constexpr char kPsHeader[] = "Content-type: application/postscript\n\n";

TEST(PrintCommand, FillsPaperSizeAndFileOrRefuses) {
    const std::string longFile(1023 - std::string("f -pUS ").size(), 'x');
    struct Case {
        const char* name;
        std::string command;
        std::string paper;
        std::string file;
        std::optional<std::string> line;  // none: refused
    };
    const Case cases[] = {
        {"the default command", "ruvafilter -p%s -o - %s", "US", "/t/kivoA/page.html",
         "ruvafilter -pUS -o - /t/kivoA/page.html"},
        {"no paper size gives an empty one", "f -p%s %s", "", "/p", "f -p /p"},
        {"%% is one percent", "f 100%% -p%s %s%%", "A4", "/p", "f 100% -pA4 /p%"},
        {"fewer %s than arguments", "f %s", "A4", "/p", "f A4"},
        {"no directive at all", "cat", "A4", "/p", "cat"},
        {"seven letters and digits", "f %s %s", "Letter7", "/p", "f Letter7 /p"},
        {"a third %s", "x %s %s %s", "A4", "/p", std::nullopt},
        {"%n", "%n", "A4", "/p", std::nullopt},
        {"%d", "f %d %s", "A4", "/p", std::nullopt},
        {"a width", "f %5s %s", "A4", "/p", std::nullopt},
        {"a lone percent at the end", "f %s %s %", "A4", "/p", std::nullopt},
        {"eight characters of paper", "f %s %s", "Letter78", "/p", std::nullopt},
        {"paper with a shell character", "f %s %s", "A4;rm", "/p", std::nullopt},
        {"paper with a blank", "f %s %s", "A 4", "/p", std::nullopt},
        {"255-character command", "f %s %s" + std::string(248, 'c'), "", "/p",
         "f  /p" + std::string(248, 'c')},
        {"256-character command", "f %s %s" + std::string(249, 'c'), "", "/p", std::nullopt},
        {"1023-character line", "f -p%s %s", "US", longFile, "f -pUS " + longFile},
        {"1024-character line", "f -p%s %s", "US", longFile + "x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line = "untouched";
        std::string reason;
        const int made = formatPrintCommand(c.command, c.paper, c.file, line, reason);
        EXPECT_EQ(made, c.line ? 1 : 0);
        EXPECT_EQ(line, c.line.value_or("untouched"));
        if (!c.line) {
            EXPECT_EQ(reason, kInvalid);
        }
    }
}

TEST(PrintFilter, ResultsOfTheChild) {
    struct Case {
        const char* name;
        std::string line;
        size_t limit;
        PrintFilterEnd end;
        std::string output;  // checked for kOk
    };
    const Case cases[] = {
        {"output and exit 0", "printf 'PS\\n'", kPrintOutputMax, PrintFilterEnd::kOk, "PS\n"},
        {"exactly the bound", "head -c 1000 /dev/zero", 1000, PrintFilterEnd::kOk, std::string(1000, '\0')},
        {"one byte over the bound", "head -c 1001 /dev/zero", 1000, PrintFilterEnd::kTooMuch, ""},
        {"endless output", "yes", 4096, PrintFilterEnd::kTooMuch, ""},
        {"no output", "true", kPrintOutputMax, PrintFilterEnd::kNoOutput, ""},
        {"stdin is empty, not ours", "cat", kPrintOutputMax, PrintFilterEnd::kNoOutput, ""},
        {"100 bytes, then exit 1", "head -c 100 /dev/zero; exit 1", kPrintOutputMax, PrintFilterEnd::kFailed, ""},
        {"a signal", "printf x; kill -9 $$", kPrintOutputMax, PrintFilterEnd::kFailed, ""},
        {"a missing program", "/nonexistent/ruvafilter -p -o - /x", kPrintOutputMax, PrintFilterEnd::kFailed,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PrintFilterRun run;
        EXPECT_EQ(runPrintFilter(c.line, run, nullptr, c.limit), c.end == PrintFilterEnd::kOk ? 1 : 0);
        EXPECT_EQ(run.end, c.end);
        EXPECT_NE(run.status, -1);  // reaped on every path
        if (c.end == PrintFilterEnd::kOk) {
            EXPECT_EQ(run.output, c.output);
        }
    }
}

TEST(PrintFilter, GetsNoDescriptorOfOurs) {
    const int fd = open("/dev/null", O_RDONLY);  // without close-on-exec
    ASSERT_GE(fd, 0);
    const std::string probe = "if [ -e /proc/$$/fd/" + std::to_string(fd) + " ]; then echo open; else echo closed; fi";
    PrintFilterRun run;
    EXPECT_EQ(runPrintFilter(probe, run), 1);
    EXPECT_EQ(run.output, "closed\n");
    close(fd);
}

bool processGone(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        if (kill(pid, 0) != 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST(PrintFilter, StopKillsTheWholeGroup) {
    volatile std::sig_atomic_t stop = 1;
    PrintFilterRun run;
    EXPECT_EQ(runPrintFilter("echo started", run, &stop), 0);
    EXPECT_EQ(run.end, PrintFilterEnd::kStopped);
    EXPECT_EQ(run.status, -1);  // nothing was started

    stop = 0;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = 1;
    });
    const auto began = std::chrono::steady_clock::now();
    // The shell's child, a grandchild of ours, must go too.
    EXPECT_EQ(runPrintFilter("sleep 30 & echo $!; wait", run, &stop), 0);
    stopper.join();
    EXPECT_EQ(run.end, PrintFilterEnd::kStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    ASSERT_FALSE(run.output.empty());
    EXPECT_TRUE(processGone(static_cast<pid_t>(std::atoi(run.output.c_str()))));
}

// A private TempPath for one request; empty again when the action is done.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/print_action_testXXXXXX";
        if (mkdtemp(name)) path_ = name;
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    std::string slashed() const { return path_ + "/"; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

private:
    std::string path_;
};

// What kivoserv does with the result: an error page unless an answer was
// written. Gives the whole CGI output.
std::string finishedOutput(ActionRequest& cg, KivoHandler& kh, int result) {
    if (!result && !(cg->flags & kCgiResponseDone)) {
        const std::string why = kh.getError().empty() ? cg->getError() : kh.getError();
        cg->outputError("%s\n", why);
    }
    return cg.written();
}

size_t headerBlocks(const std::string& out) {
    size_t n = 0;
    for (size_t at = out.find("Content-type:"); at != std::string::npos; at = out.find("Content-type:", at + 1))
        ++n;
    return n;
}

// The page of a.html: bytes 0x80-0x8A stay as they are in print mode.
const std::string kPage = "<html><head><title>T</title></head><body><p>caf\x85 \x8a</p></body></html>\n";

// listed: the size CONTV gives (0: the page's).
std::vector<std::string> documentReplies(const std::string& page = kPage, size_t listed = 0) {
    return {test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide")),
            test::contvReply("12", {{listed ? listed : page.size(), "a.html"}}), test::retrReply("a.html", page),
            "500-CONT failed.\n"};
}
// CONT: post-processing asks whether the document is meeting minutes.
const char kDocumentSent[] = "VER\nMLLIST 12\nCONTV 12 a.html\nRETR 12 a.html\nCONT 12 a.html\n";

// Prints the paper size, the modes of directory and file, then the file.
constexpr char kRecordingCommand[] =
    "printf '%s|'; f=%s; stat -c '%%a|' ${f%%/*} $f | tr -d '\\n'; cat $f";

TEST(PrintAction, WritesTheFilterOutputOfThePrintModePage) {
    struct Case {
        const char* name;
        test::Fields fields;
        const char* action;       // the AC word entry gets
        std::string configured;   // PaperSize
        std::string paper;        // as the command got it
        std::string operations;   // as the recorder saw them
    };
    const test::Fields document = {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}};
    test::Fields withChapter = document;
    withChapter.emplace_back("CH", "sec2");
    const Case cases[] = {
        {"PRINT without PaperSize", document, "PRINT", "", "", "printAction"},
        {"PRINTA4", document, "PRINTA4", "", "A4", "locationPrint(PSIZE_A4) printAction"},
        {"PRINTUS, any case", document, "printus", "", "US", "locationPrint(PSIZE_US) printAction"},
        {"PaperSize Letter over PRINTA4", document, "PRINTA4", "Letter", "Letter",
         "locationPrint(PSIZE_A4) printAction"},
        {"PaperSize Letter over PRINTUS", document, "PRINTUS", "Letter", "Letter",
         "locationPrint(PSIZE_US) printAction"},
        {"a chapter does not redirect", withChapter, "PRINTA4", "", "A4", "locationPrint(PSIZE_A4) printAction"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        ActionRequest cg({.replies = documentReplies(), .fields = c.fields, .env = {{"KIVO_PRINTCOMMAND", std::nullopt}}});
        ASSERT_TRUE(cg.ok());
        cg->TempPath = tmp.slashed();
        cg->printCommand = kRecordingCommand;
        cg->paperSize = c.configured;
        auto& kh = cg.useHandler<RecordingKivoHandler>(true);
        const int result = kh.entry(c.action);
        EXPECT_EQ(result, 1) << kh.getError() << cg->getError();
        EXPECT_EQ(kh.operations(), c.operations);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        const std::string out = finishedOutput(cg, kh, result);
        ASSERT_TRUE(out.starts_with(std::string(kPsHeader) + c.paper + "|700|600|")) << out;
        EXPECT_EQ(headerBlocks(out), 1u);
        EXPECT_NE(out.find("caf\x85 \x8a"), std::string::npos) << out;
        EXPECT_EQ(out.find("Location:"), std::string::npos);
        EXPECT_FALSE(cg.value("CH"));
        EXPECT_TRUE(tmp.entries().empty());
        EXPECT_EQ(cg.sent(), kDocumentSent);
    }
}

TEST(PrintAction, EnvironmentCommandWinsOverTheConfiguredOne) {
    TempDir tmp;
    ActionRequest cg({.replies = documentReplies(),
                      .fields = {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}},
                      .env = {{"KIVO_PRINTCOMMAND", "printf 'env %s'"}}});
    ASSERT_TRUE(cg.ok());
    cg->TempPath = tmp.slashed();
    cg->printCommand = "printf configured";
    cg->paperSize = "US";
    auto& kh = cg.handler();
    EXPECT_EQ(kh.printAction(), 1);
    EXPECT_EQ(cg.written(), std::string(kPsHeader) + "env US");
}

TEST(PrintAction, FailingRowsLeaveOneHeaderBlockAndNoFile) {
    const std::string missing = "/nonexistent/print_dir/";
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        test::Fields fields;
        std::string command;
        std::optional<std::string> tempPath;  // none: the test's own directory
        std::string error;                    // start of the page's message
        std::string sent;
        int result = 0;
    };
    const Case cases[] = {
        {"no output", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "true", std::nullopt,
         "Postscript filter:<pre>true</pre>failed", kDocumentSent},
        {"100 bytes, then exit 1", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}},
         "head -c 100 /dev/zero; exit 1", std::nullopt, "Postscript filter:<pre>head -c 100", kDocumentSent},
        {"a missing program", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "/nonexistent/filter %s %s",
         std::nullopt, "Postscript filter:<pre>/nonexistent/filter", kDocumentSent},
        {"a third %s", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "x %s %s %s", std::nullopt,
         "Cannot execute <pre>x %s %s %s</pre> on Web server, reason:<pre>invalid print command</pre>",
         kDocumentSent},
        {"%n", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "%n", std::nullopt,
         "Cannot execute <pre>%n</pre>", kDocumentSent},
        {"a command shown escaped", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "<b>%d", std::nullopt,
         "Cannot execute <pre>&lt;b&gt;%d</pre>", kDocumentSent},
        {"no such TempPath", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "cat %s", missing,
         "Failed to generate a temporary filename.", kDocumentSent},
        {"a TempPath unfit for a shell line", documentReplies(), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "cat %s",
         "/tmp/a b;c/", "Failed to generate a temporary filename.", kDocumentSent},
        {"an empty member", documentReplies("", 10), {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}}, "cat %s", std::nullopt,
         "File not found in library, 'a.html'.", "VER\nMLLIST 12\nCONTV 12 a.html\nRETR 12 a.html\n"},
        {"nothing names a document", {test::verLine()}, {{"ID", "12"}}, "cat %s", std::nullopt, "", "VER\n"},
        // The lookup writes its own page: PRINT answered, nothing after it.
        {"an unknown member", {test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide")),
                               test::contvReply("12", {})},
         {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "b.html"}}, "cat %s", std::nullopt, "", "VER\nMLLIST 12\nCONTV 12 b.html\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        ActionRequest cg({.replies = c.replies, .fields = c.fields, .env = {{"KIVO_PRINTCOMMAND", std::nullopt}}});
        ASSERT_TRUE(cg.ok());
        cg->TempPath = c.tempPath.value_or(tmp.slashed());
        cg->printCommand = c.command;
        auto& kh = cg.handler();
        const int result = kh.printAction();
        EXPECT_EQ(result, c.result);
        const std::string out = finishedOutput(cg, kh, result);
        EXPECT_EQ(headerBlocks(out), 1u) << out;
        EXPECT_TRUE(out.starts_with("Content-type: text/html\n")) << out;
        EXPECT_NE(out.find(c.error), std::string::npos) << out;
        EXPECT_TRUE(tmp.entries().empty());
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

TEST(PrintAction, UseLdapLogsOnBeforeAnyOtherLine) {
    TempDir tmp;
    ActionRequest cg({.replies = {test::verLine(), "500-LDAP support not compiled into this version\n"},
                      .fields = {{"AC", "PRINT"}, {"ID", "12"}, {"FN", "a.html"}},
                      .env = {{"REMOTE_USER", "bob"}, {"KIVO_PRINTCOMMAND", std::nullopt}}});
    ASSERT_TRUE(cg.ok());
    cg->flags |= kCgiUseLdap;
    cg->TempPath = tmp.slashed();
    cg->printCommand = "cat %s";
    auto& kh = cg.useHandler<RecordingKivoHandler>(true);
    const int result = kh.locationPrint(PSIZE_A4);
    EXPECT_EQ(result, 0);
    const std::string out = finishedOutput(cg, kh, result);
    EXPECT_EQ(headerBlocks(out), 1u) << out;
    EXPECT_EQ(out.find("application/postscript"), std::string::npos);
    EXPECT_TRUE(tmp.entries().empty());
    EXPECT_EQ(cg.sent(), "VER\nUSER bob\n");
}

}  // namespace
}  // namespace ruva
