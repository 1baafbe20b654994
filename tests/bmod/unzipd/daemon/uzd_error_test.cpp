#include "bmod/unzipd/daemon/uzd_error.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/unzip.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using Capture = test::LogCapture;

TEST(LogError, LineCarriesPidTimeAndLevelName) {
    Capture cap;
    logError(kLogErr, "Registered a corrupt ZIP file '%s'", "/x/bad.kvo");
    ASSERT_EQ(cap.lines.size(), 1u);
    // "[pid] yyyy-mm-dd hh:mm:ss Err.: text\n"
    int pid = 0, y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0, used = 0;
    ASSERT_EQ(std::sscanf(cap.lines[0].c_str(), "[%d] %4d-%2d-%2d %2d:%2d:%2d %n", &pid, &y, &mo, &d, &h,
                          &mi, &se, &used),
              7)
        << cap.lines[0];
    EXPECT_EQ(pid, getpid());
    EXPECT_EQ(cap.lines[0].substr(static_cast<size_t>(used)),
              "Err.: Registered a corrupt ZIP file '/x/bad.kvo'\n");
}

TEST(LogError, LevelNames) {
    const char* expected[] = {"Emrg", "Alrt", "Crit", "Err.", "Warn", "Note", "Info", "Dbg."};
    for (int i = 0; i < 8; ++i) EXPECT_STREQ(logLevelName(i), expected[i]);
    EXPECT_STREQ(logLevelName(8), "?");
    EXPECT_STREQ(logLevelName(-1), "?");
}

TEST(LogError, TextIsCutAt503AndPercentPassesUnchanged) {
    Capture cap;
    std::string longText(2000, 'x');
    logError(kLogInfo, "%s", longText.c_str());
    logError(kLogInfo, "%s", "100% done");
    ASSERT_EQ(cap.lines.size(), 2u);
    auto text = [](const std::string& line) { return line.substr(line.find(": ") + 2); };
    EXPECT_EQ(text(cap.lines[0]), std::string(503, 'x') + "\n");
    EXPECT_EQ(text(cap.lines[1]), "100% done\n");
}

}  // namespace
}  // namespace ruva

namespace ruva {
namespace {

using test::LogCapture;

// A main object with a log object (no system log) as the process's current
// one, for the filter and the log object's cut.
struct CurrentMain {
    UzdMain main;
    explicit CurrentMain(bool withLog, int level = kLogDebug) {
        if (withLog) main.error = newUzdError("ruvadaemon", 0);
        main.logLevel = level;
        setCurrentMain(&main);
    }
    ~CurrentMain() {
        flags = 0;
        setCurrentMain(nullptr);
    }
};

std::string textOf(const std::string& line) {
    return LogCapture::tail(line).substr(6);
}

TEST(LogError, LevelNameToPri) {
    struct Case {
        const char* name;
        int pri;
    } cases[] = {{"Alert", 1}, {"Crit", 2},  {"Emergency", 0}, {"Error", 3}, {"E", 6},  {"Info", 6},
                 {"Notice", 5}, {"Warn", 4}, {"Debug", 7},     {"xyz", 7},   {"", 7},   {"eRR", 3},
                 {nullptr, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
        EXPECT_EQ(UzdError::levelNameToPri(c.name), c.pri);
    }
}

TEST(LogError, LinesOfEveryLevelMatchTheLogFormat) {
    test::TempDir dir;
    std::string lines;
    {
        LogCapture log;
        for (int level = 0; level < 8; ++level) logError(level, "plain %d", level);
        CurrentMain current(true);
        for (int level = 0; level < 8; ++level) logError(level, "object %d", level);
        lines = log.all();
        ASSERT_EQ(log.lines.size(), 16u);
    }
    test::writeFile(dir.file("lines"), lines);
    int status = -1;
    std::string bad = test::capture(
        "python3 -c \"import re,sys\n"
        "for l in open(sys.argv[1]).read().splitlines():\n"
        "    if not re.fullmatch(r'\\[\\d+\\] \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
        "(Emrg|Alrt|Crit|Err\\.|Warn|Note|Info|Dbg\\.): .*', l): print(l)\" " +
            dir.file("lines"),
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(bad, "");
}

TEST(LogError, ConfiguredLevelDropsLaterLevels) {
    LogCapture log;
    CurrentMain current(true, kLogWarning);
    logError(kLogNotice, "dropped");
    logError(kLogWarning, "kept");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(textOf(log.lines[0]), "kept");
    EXPECT_STREQ(current.main.error->getLastError(), "kept");
    // A level the configuration sets later holds at once.
    current.main.logLevel = kLogNotice;
    logError(kLogNotice, "kept after the level changed");
    logError(kLogInfo, "dropped after the level changed");
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(textOf(log.lines[1]), "kept after the level changed");
    // Without a log object the filter still holds.
    current.main.error.reset();
    setCurrentMain(&current.main);
    logError(kLogInfo, "dropped too");
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(LogError, CutsAndPercentSigns) {
    std::string longText(600, 'x');
    {
        LogCapture log;
        CurrentMain current(true);
        logError(kLogNotice, "%s", longText.c_str());
        logError(kLogNotice, "%s", "100%s done %d");
        ASSERT_EQ(log.lines.size(), 2u);
        EXPECT_EQ(textOf(log.lines[0]), std::string(487, 'x'));
        EXPECT_EQ(textOf(log.lines[1]), "100%s done %d");
    }
    LogCapture log;
    logError(kLogNotice, "%s", longText.c_str());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(textOf(log.lines[0]), std::string(503, 'x'));
}

TEST(LogError, ReconfigurationWithoutLogObjectDropsLines) {
    LogCapture log;
    setReconfiguring(true);
    logError(kLogErr, "between two main objects");
    EXPECT_TRUE(log.lines.empty());
    {
        CurrentMain current(true);
        setReconfiguring(true);
        logError(kLogErr, "with a log object");
    }
    EXPECT_EQ(log.lines.size(), 1u);
    // A reconfiguration that failed leaves no main object; once it is over,
    // lines go to standard error again.
    setReconfiguring(true);
    logError(kLogErr, "dropped");
    setReconfiguring(false);
    logError(kLogErr, "after the reconfiguration");
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(textOf(log.lines[1]), "after the reconfiguration");
}

TEST(LogError, UnzipWarningsBecomeLogLines) {
    LogCapture log;
    CurrentMain current(true);
    auto unzip = newUnzip(0);
    ASSERT_TRUE(unzip);
    unzip->warn(kLogWarning, "member %s: %d%%", "a.htm", 50);
    setUnzipLogSink(nullptr, nullptr);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(LogCapture::tail(log.lines[0]), "Warn: member a.htm: 50%");
}

}  // namespace
}  // namespace ruva
