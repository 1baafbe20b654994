#include "bmod/unzipd/daemon/uzd_error.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace ruva {
namespace {

struct Capture {
    std::vector<std::string> lines;
    Capture() { setLogLineSink([](void* c, const std::string& l) { static_cast<Capture*>(c)->lines.push_back(l); }, this); }
    ~Capture() { setLogLineSink(nullptr, nullptr); }
};

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
