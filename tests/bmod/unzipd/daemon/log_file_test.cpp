#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bmod/unzipd/daemon/uzd_main.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::LogCapture;

// A main object whose configuration is text.
std::unique_ptr<UzdMain> mainWith(test::TempDir& dir, const std::string& text) {
    auto m = std::make_unique<UzdMain>();
    m->config = test::configFromText(dir.file("ruvadaemon.conf"), text);
    EXPECT_EQ(m->config->readConfig(), 34);
    return m;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

TEST(LogFile, SplitPath) {
    struct Case {
        const char* path;
        const char* folder;
        const char* base;
        const char* ext;
        int ok;
    } cases[] = {
        {"/var/log/ruvadaemon.log", "/var/log/", "ruvadaemon", ".log", 1},
        {"ruvadaemon.log", "", "ruvadaemon", ".log", 1},
        {"T/log.d/ruvadaemon", "T/log.d/", "ruvadaemon", "", 1},
        {"C:\\logs\\r.a.txt", "C:\\logs\\", "r.a", ".txt", 1},
        {"/a/.hidden", "/a/", "", ".hidden", 1},
        {"/a/x.123456789", "/a/", "x", ".123456789", 0},
        {"/a/x.12345678", "/a/", "x", ".12345678", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::string folder, base, ext;
        EXPECT_EQ(UzdMain::splitPath(c.path, &folder, &base, &ext), c.ok);
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(base, c.base);
        EXPECT_EQ(ext, c.ext);
    }
    std::string folder, base, ext;
    EXPECT_EQ(UzdMain::splitPath(("/a/" + std::string(99, 'b') + ".log").c_str(), &folder, &base, &ext), 1);
    EXPECT_EQ(UzdMain::splitPath(("/a/" + std::string(100, 'b') + ".log").c_str(), &folder, &base, &ext), 0);
}

TEST(LogFile, RotationShiftsTheBackups) {
    test::TempDir dir;
    auto m = mainWith(dir, "MaxLogSize 1\nMaxLogBackups 2\n");
    std::string log = dir.file("ruvadaemon.log");
    test::writeFile(log, std::string(1048576, 'L'));
    test::writeFile(dir.file("ruvadaemon.1.log"), "one");
    EXPECT_EQ(m->rotateLog(log.c_str()), 1);
    EXPECT_FALSE(exists(log));
    EXPECT_EQ(test::readFile(dir.file("ruvadaemon.1.log")).size(), 1048576u);
    EXPECT_EQ(test::readFile(dir.file("ruvadaemon.2.log")), "one");

    // One byte short of the size: nothing moves.
    test::writeFile(log, std::string(1048575, 'L'));
    EXPECT_EQ(m->rotateLog(log.c_str()), 1);
    EXPECT_TRUE(exists(log));
    EXPECT_EQ(test::readFile(dir.file("ruvadaemon.2.log")), "one");
}

TEST(LogFile, DotInTheFolderIsNoExtension) {
    test::TempDir dir;
    auto m = mainWith(dir, "MaxLogSize 1\n");
    ASSERT_EQ(mkdir(dir.file("log.d").c_str(), 0755), 0);
    std::string log = dir.file("log.d/ruvadaemon");
    test::writeFile(log, std::string(1048576, 'L'));
    EXPECT_EQ(m->rotateLog(log.c_str()), 1);
    EXPECT_TRUE(exists(dir.file("log.d/ruvadaemon.1")));
    EXPECT_FALSE(exists(log));
}

TEST(LogFile, NoRotationWithoutSizeOrWithTooLongAName) {
    test::TempDir dir;
    auto never = mainWith(dir, "MaxLogSize 0\n");
    std::string log = dir.file("ruvadaemon.log");
    test::writeFile(log, std::string(2 * 1048576, 'L'));
    EXPECT_EQ(never->rotateLog(log.c_str()), 1);
    EXPECT_TRUE(exists(log));
    EXPECT_FALSE(exists(dir.file("ruvadaemon.1.log")));

    auto m = mainWith(dir, "MaxLogSize 1\n");
    std::string longLog = dir.file(std::string(100, 'b') + ".log");
    test::writeFile(longLog, std::string(1048576, 'L'));
    LogCapture capture;
    EXPECT_EQ(m->rotateLog(longLog.c_str()), 0);
    EXPECT_TRUE(exists(longLog));
    EXPECT_TRUE(capture.has("Warn: Log file name too long for rotation: " + longLog)) << capture.all();
}

// Runs body in a child with HOME=dir/home: setLogPath redirects 1 and 2.
int inChildWithHome(test::TempDir& dir, const std::function<int()>& body) {
    return test::inChild([&] {
        if (setenv("HOME", dir.file("home").c_str(), 1) != 0) return 90;
        return body();
    });
}

TEST(LogFile, ConfiguredLogIsRotatedOpenedAndTakesOverStdoutAndStderr) {
    test::TempDir dir;
    std::string log = dir.file("ruvadaemon.log");
    test::writeFile(log, std::string(1048576, 'L'));
    test::writeFile(dir.file("ruvadaemon.1.log"), "one");
    auto m = mainWith(dir, "MaxLogSize 1\nMaxLogBackups 2\nLogFile " + log + "\n");
    int status = inChildWithHome(dir, [&] {
        if (m->setLogPath(log.c_str()) != 1) return 1;
        if (m->logFileName != log) return 2;
        std::printf("out\n");
        std::fflush(stdout);
        std::fprintf(stderr, "err\n");
        logError(kLogErr, "a line");
        // Another holder of the file appends too: nothing is overwritten.
        int other = open(log.c_str(), O_WRONLY | O_APPEND);
        if (write(other, "x\n", 2) != 2) return 3;
        std::fprintf(stderr, "last\n");
        return 0;
    });
    ASSERT_EQ(status, 0);
    std::string text = test::readFile(log);
    EXPECT_EQ(text.substr(0, 8), "out\nerr\n");
    EXPECT_NE(text.find("Err.: a line\nx\nlast\n"), std::string::npos) << text;
    EXPECT_EQ(test::readFile(dir.file("ruvadaemon.1.log")).size(), 1048576u);
    EXPECT_EQ(test::readFile(dir.file("ruvadaemon.2.log")), "one");
}

TEST(LogFile, ExistingLogIsNeverCut) {
    test::TempDir dir;
    std::string log = dir.file("ruvadaemon.log");
    test::writeFile(log, "earlier\n");
    auto m = mainWith(dir, "");
    ASSERT_EQ(inChildWithHome(dir, [&] {
                  if (m->setLogPath(log.c_str()) != 1) return 1;
                  std::fprintf(stderr, "later\n");
                  return 0;
              }),
              0);
    EXPECT_EQ(test::readFile(log), "earlier\nlater\n");
}

TEST(LogFile, UnusableLogFallsBackToHomeTmp) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("home").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("home/tmp").c_str(), 0755), 0);
    std::string bad = dir.file("missing/x.log");
    std::string fallback = dir.file("home/tmp/ruvadaemon.log");
    auto m = mainWith(dir, "LogFile " + bad + "\n");
    ASSERT_EQ(inChildWithHome(dir, [&] {
                  if (m->setLogPath(bad.c_str()) != 1) return 1;
                  if (m->logFileName != fallback) return 2;
                  if (m->config->findEntry("LogFile")->first()->s != fallback) return 3;
                  std::printf("to stdout\n");
                  std::fflush(stdout);
                  std::fprintf(stderr, "to stderr\n");
                  return 0;
              }),
              0);
    // The messages went to the old standard error; the file has what came after.
    EXPECT_EQ(test::readFile(fallback), "to stdout\nto stderr\n");
}

TEST(LogFile, FallbackMessages) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("home").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.file("home/tmp").c_str(), 0755), 0);
    std::string bad = dir.file("missing/x.log");
    std::string messages = dir.file("messages");
    auto m = mainWith(dir, "");
    ASSERT_EQ(inChildWithHome(dir, [&] {
                  LogCapture log;
                  if (m->setLogPath(bad.c_str()) != 1) return 1;
                  test::writeFile(messages, log.all());
                  return 0;
              }),
              0);
    std::string text = test::readFile(messages);
    EXPECT_NE(text.find("Err.: Log file path or location specified in the configuration file \"" + bad +
                        "\" is not present or is not accessible\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Info: Default log file path is taken as \"" + dir.file("home/tmp/ruvadaemon.log") +
                        "\"\n"),
              std::string::npos)
        << text;
}

TEST(LogFile, NoHomeTmpMeansNoLog) {
    test::TempDir dir;
    ASSERT_EQ(mkdir(dir.file("home").c_str(), 0755), 0);
    auto m = mainWith(dir, "");
    ASSERT_EQ(inChildWithHome(dir, [&] {
                  if (m->setLogPath(nullptr) != 0) return 1;
                  return m->logFile == -1 ? 0 : 2;
              }),
              0);
}

}  // namespace
}  // namespace ruva
