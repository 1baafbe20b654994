#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "bmod/unzipd/catalogue/filesys_scanner.h"
#include "bmod/unzipd/catalogue/zip_list.h"
#include "bmod/unzipd/daemon/uzd_main.h"
#include "bmod/unzipd/zip/folder_index.h"
#include "bmod/unzipd/zip/zip_pool.h"
#include "tests/bmod/unzipd/catalogue/catalogue_fixture.h"
#include "tests/bmod/unzipd/daemon/daemon_fixture.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::LogCapture;

std::vector<std::string> listOf(const StringList* list) {
    std::vector<std::string> out;
    for (const String* s = list != nullptr ? list->first : nullptr; s != nullptr; s = s->next) out.push_back(s->value);
    return out;
}

// HOME set for one test; restored afterwards.
class HomeFor {
public:
    explicit HomeFor(const char* home) {
        if (const char* old = getenv("HOME")) old_ = old;
        if (home != nullptr)
            setenv("HOME", home, 1);
        else
            unsetenv("HOME");
    }
    ~HomeFor() {
        if (old_)
            setenv("HOME", old_->c_str(), 1);
        else
            unsetenv("HOME");
    }

private:
    std::optional<std::string> old_;
};

// A main object over a fresh catalogue, configured by text; HOME is T/home
// (without tmp, so that no default log file takes over standard error).
class Apply : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(T.file("home").c_str(), 0755), 0);
        home_.emplace(T.file("home").c_str());
    }
    void TearDown() override { setZipUpdateMutexKey(kDefaultZipUpdateMutexKey); }

    // Unless a test is about the pools, they are made small: linking 280000
    // member records takes seconds in the sanitizer build. The test's own
    // lines come first, so their values win.
    static std::string withSmallPools(const std::string& text) {
        return text + "\nMaxCentralHeaders 64\nNamePoolSize 64K\n";
    }
    std::unique_ptr<UzdMain> mainWith(const std::string& text, bool smallPools = true) {
        auto m = std::make_unique<UzdMain>();
        m->config = test::configFromText(T.file("ruvadaemon.conf"), smallPools ? withSmallPools(text) : text);
        EXPECT_EQ(m->config->readConfig(), 34);
        m->zipList = test::cat::newTestZipList();
        m->error = newUzdError("ruvadaemon", 0);
        EXPECT_TRUE(m->zipList && m->error);
        return m;
    }
    std::string dir(const std::string& name) {
        std::string p = T.file(name);
        EXPECT_EQ(mkdir(p.c_str(), 0755), 0) << p;
        return p;
    }
    static FilesysScanner& scanner(UzdMain& m) { return *m.zipList->filesysScanner; }

    test::TempDir T;
    test::SetRemover languageSet_{test::cat::languageKey()};
    std::optional<HomeFor> home_;
};

TEST_F(Apply, FixtureCatalogueGetsItsListsInOrder) {
    std::string n1 = dir("n1"), n2 = dir("n2"), lib = dir("lib"), w = dir("w");
    auto m = mainWith("NonRecursiveDir " + n1 + "\nLibraryPath " + lib + "/\nNonRecursiveDir " + n2 +
                      "\nWritableNonRecursiveDir " + w + "\nIncludePattern *.one\nIncludePattern *.two\n"
                      "ExcludePattern *.x\nUseSysLog no\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    FilesysScanner& s = scanner(*m);
    EXPECT_EQ(listOf(s.includePatterns.get()),
              (std::vector<std::string>{"*.khx", "*.ers", "*.one", "*.two", "*.[aA][nN][xX]"}));
    EXPECT_EQ(listOf(s.nonRecursiveDirs.get()), (std::vector<std::string>{n1, n2, lib}));
    EXPECT_EQ(listOf(s.writableNonRecursiveDirs.get()), std::vector<std::string>{w});
    EXPECT_EQ(listOf(s.excludePatterns.get()), std::vector<std::string>{"*.x"});
    EXPECT_TRUE(listOf(s.recursiveDirs.get()).empty());
    EXPECT_EQ(m->ruvaScanCount, 50);

    // Applying again starts from empty lists.
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(listOf(s.nonRecursiveDirs.get()), (std::vector<std::string>{n1, n2, lib}));
}

TEST_F(Apply, DefaultIncludePatternsWithoutFileValues) {
    auto m = mainWith("");
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(listOf(scanner(*m).includePatterns.get()),
              (std::vector<std::string>{"*.khx", "*.ers", "*.[kK][vV][oO]", "*.[aA][nN][xX]"}));
}

TEST_F(Apply, LibraryPathFileBecomesTheStructureFile) {
    std::string file = T.file("structure.conf");
    test::writeFile(file, "# none\n");
    auto m = mainWith("LibraryPath \"" + file + "\"\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_STREQ(m->zipList->getMlConfFile(), file.c_str());
    EXPECT_TRUE(listOf(scanner(*m).nonRecursiveDirs.get()).empty());
}

TEST_F(Apply, LibraryPathFallsBackToHomeLibraries) {
    std::string missing = T.file("nothing");
    {
        LogCapture log;
        auto m = mainWith("LibraryPath " + missing + "\n");
        ASSERT_EQ(m->applyConfig(0), 1);
        EXPECT_TRUE(log.has("Err.: Filesystem object specified by LibraryPath not found: " + missing +
                            ", No such file or directory"))
            << log.all();
        EXPECT_TRUE(listOf(scanner(*m).nonRecursiveDirs.get()).empty()) << "no home/libraries yet";
    }
    std::string libraries = dir("home/libraries");
    for (const char* text : {"", "LibraryPath /nonexistent/x\n"}) {
        SCOPED_TRACE(text);
        LogCapture log;
        auto m = mainWith(text);
        ASSERT_EQ(m->applyConfig(0), 1);
        EXPECT_EQ(listOf(scanner(*m).nonRecursiveDirs.get()), std::vector<std::string>{libraries});
        EXPECT_TRUE(log.has("Info: LibraryPath is taken as default location \"" + libraries + "\"")) << log.all();
    }
}

TEST_F(Apply, AnnotationDbMustBeADirectory) {
    std::string w = dir("w"), anno = dir("anno");
    std::string file = T.file("afile");
    test::writeFile(file, "x");
    struct Case {
        std::string line;
        std::vector<std::string> writable;
        std::string message;
    } cases[] = {
        {"", {w}, ""},
        {"AnnotationDb " + file + "\n", {w}, "Err.: Invalid value in AnnotationDb keyword: " + file},
        {"AnnotationDb \"" + anno + "/\"\n", {w, anno}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        LogCapture log;
        auto m = mainWith("WritableNonRecursiveDir " + w + "\n" + c.line);
        ASSERT_EQ(m->applyConfig(0), 1);
        EXPECT_EQ(listOf(scanner(*m).writableNonRecursiveDirs.get()), c.writable);
        if (!c.message.empty()) {
            EXPECT_TRUE(log.has(c.message)) << log.all();
        }
    }
}

TEST_F(Apply, PoolSizesReachTheCatalogue) {
    struct Case {
        const char* text;
        size_t structures;
    } cases[] = {{"", 700}, {"MaxDatabases 0\n", 700}, {"MaxDatabases 3\n", 3}, {"MaxDatabases 1K\n", 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto m = mainWith(c.text);
        ASSERT_EQ(m->applyConfig(0), 1);
        ASSERT_TRUE(m->zipList->zipPool);
        EXPECT_EQ(m->zipList->zipPool->zipStructurePool->nitems, c.structures);
        EXPECT_EQ(m->zipList->zipPool->centralHeaderPool->nitems, 64u);
        EXPECT_EQ(m->zipList->zipPool->namePoolSize, 65536u);
    }
    auto m = mainWith("MaxCentralHeaders 0\n", false);
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->zipList->zipPool->centralHeaderPool->nitems, 280000u);
    EXPECT_EQ(m->zipList->zipPool->namePoolSize, 9004800u);
}

TEST_F(Apply, PoolFailureFailsTheApply) {
    // Only the process that made the catalogue may make its pools.
    auto m = mainWith("MaxDatabases 3\n", false);
    std::string messages = T.file("messages");
    EXPECT_EQ(test::inChild([&] {
                  LogCapture log;
                  int r = m->applyConfig(0);
                  test::writeFile(messages, log.all());
                  return r;
              }),
              0);
    EXPECT_NE(test::readFile(messages).find(
                  "Err.: Pool allocation failure, 3 structures, 280000 headers, 9004800 namepoolsize\n"),
              std::string::npos)
        << test::readFile(messages);
}

TEST_F(Apply, WellKnownPortRangeAndUpdateMutexKey) {
    {
        LogCapture log;
        auto m = mainWith("WellKnownPort 70000\n");
        EXPECT_EQ(m->applyConfig(0), 0);
        EXPECT_TRUE(log.has("Err.: Invalid value in WellKnownPort keyword: 70000")) << log.all();
    }
    auto m = mainWith("WellKnownPort 12345\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->serverConfig.port, 12345);
    EXPECT_EQ(zipUpdateMutexKey(), 12345 + 9350000);
    auto zero = mainWith("WellKnownPort 0\n");
    ASSERT_EQ(zero->applyConfig(0), 1);
    EXPECT_EQ(zero->serverConfig.port, 9229);
    EXPECT_EQ(zipUpdateMutexKey(), 9359229);
}

TEST_F(Apply, OptionsAndConfigurationAreOred) {
    struct Case {
        uint16_t options;
        const char* text;
        uint16_t expected;
    } cases[] = {
        {0x01 | 0x08, "FoldNames no\nDebugMode no\n", 0x01 | 0x08 | 0x400},
        {0x04, "VerboseMode no\nFoldNames no\n", 0x04 | 0x400},
        {0, "", 0x01 | 0x400},
        {0, "FoldNames no\nVerboseMode yes\nDebugMode y\nDetectStructChange no\n", 0x04 | 0x08},
        {0x20, "FoldNames no\nDetectStructChange no\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto m = mainWith(c.text);
        ASSERT_EQ(m->applyConfig(c.options), 1);
        EXPECT_EQ(m->zipList->flags, c.expected);
    }
}

TEST_F(Apply, IpMasksInFileOrder) {
    LogCapture log;
    auto m = mainWith("IPMask \"Deny 10.0.0.1\"\nIPMask \"Xyz 1\"\nIPMask \"allow 10.0.0.0/8\"\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    ASSERT_EQ(m->serverConfig.ipMasks.size(), 2u);
    EXPECT_FALSE(m->serverConfig.ipMasks[0].allow);
    EXPECT_EQ(m->serverConfig.ipMasks[0].mask, "10.0.0.1");
    EXPECT_TRUE(m->serverConfig.ipMasks[1].allow);
    EXPECT_EQ(m->serverConfig.ipMasks[1].mask, "10.0.0.0/8");
    EXPECT_TRUE(log.has("Warn: Unknown IPmask keyword, ALLOW/DENY expected: Xyz 1")) << log.all();

    auto bad = mainWith("IPMask \"error\"\n");
    EXPECT_EQ(bad->applyConfig(0), 0);
    EXPECT_TRUE(log.has("Err.: Value for \"IPMask\" keyword should be enclosed in double quotes.\n Example: "
                        "IPMask \"Allow 172.16.59.123\""));
}

TEST_F(Apply, ServerAndLogSettings) {
    auto m = mainWith(
        "AnswerBroadcasts no\nServerComment \"Main site\"\nParentWaitTime 0\nCentralServer host:9229\n"
        "CacheFile c.cache\nEnforceIPMask no\nLogLevel Warn\nUseSysLog no\nSuperUserName root\n"
        "SuperUserName admin\nMaxLogSize 2\nMaxLogBackups 3\nMaxSessions 2\n");
    m->error->flags = kLogToSyslog;
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->serverConfig.flags, kServerNoBroadcasts);
    EXPECT_EQ(m->serverConfig.serverComment, "Main site");
    EXPECT_EQ(m->serverConfig.parentWaitTime, 120);
    EXPECT_EQ(m->centralServer, "host:9229");
    EXPECT_EQ(m->cacheFileName, "c.cache");
    EXPECT_EQ(m->enforceIPMask, 0);
    EXPECT_EQ(m->logLevel, kLogWarning);
    EXPECT_EQ(m->error->flags & kLogToSyslog, 0);
    EXPECT_EQ(listOf(m->zipList->superusers.get()), (std::vector<std::string>{"root", "admin"}));
    EXPECT_EQ(m->maxLogSize, 2);
    EXPECT_EQ(m->maxLogBackups, 3);
    EXPECT_EQ(m->serverConfig.maxSessions, 2);

    LogCapture log;
    auto d = mainWith("AnswerBroadcasts yes\nMaxSessions 0\n");
    ASSERT_EQ(d->applyConfig(0), 1);
    EXPECT_EQ(d->serverConfig.maxSessions, 256);
    EXPECT_TRUE(log.has("Warn: Invalid value in MaxSessions keyword: 0")) << log.all();
    EXPECT_EQ(d->serverConfig.flags, 0);
    EXPECT_EQ(d->serverConfig.parentWaitTime, 30);
    EXPECT_EQ(d->serverConfig.serverComment, "Kivo Browser");
    EXPECT_EQ(d->cacheFileName, "tmp/ruvaknown.cache");
    EXPECT_EQ(d->logLevel, kLogNotice);
}

TEST_F(Apply, AdminMailId) {
    LogCapture log;
    auto m = mainWith("AdminMailID a@b.c\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->AdminMailID, "a@b.c");
    auto bad = mainWith("AdminMailID a;b\n");
    ASSERT_EQ(bad->applyConfig(0), 1);
    EXPECT_EQ(bad->AdminMailID, "");
    EXPECT_TRUE(log.has("Err.: invalid AdminMailID"));
}

TEST_F(Apply, LibStatusPathNeedsAHome) {
    auto m = mainWith("LibStatusPath /x/status.txt\n");
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->libStatusFromPath, "/x/status.txt");
    EXPECT_EQ(m->libStatusToPath, T.file("home") + "/tmp/libraryStatus.txt");

    HomeFor noHome(nullptr);
    LogCapture log;
    ASSERT_EQ(m->applyConfig(0), 1);
    EXPECT_EQ(m->libStatusFromPath, "");
    EXPECT_EQ(m->libStatusToPath, "");
    EXPECT_TRUE(log.has("Warn: LibStatusPath ignored, no home directory"));
}

TEST_F(Apply, MissingCatalogueFails) {
    LogCapture log;
    auto m = mainWith("");
    m->zipList.reset();
    EXPECT_EQ(m->applyConfig(0), 0);
    EXPECT_TRUE(log.has("Err.: ApplyConfig, object hierarchy not initialized"));
}

bool groupsAre(const std::vector<gid_t>& want) {
    gid_t groups[64];
    int n = getgroups(64, groups);
    if (n < 0) return false;
    std::vector<gid_t> got(groups, groups + n);
    std::sort(got.begin(), got.end());
    return got == want;
}

// changeUser as root; each row in a child of its own, since the switch
// cannot be undone. The child's checks return a number naming the failed one.
class ChangeUser : public Apply {
protected:
    // Applies text in a child; body checks the result and the ids there.
    // The catalogue is made in the child: only the process that made it may
    // change it. The message file is opened before the switch.
    int applyInChild(const std::string& text, const std::function<int(UzdMain&, int)>& body,
                     const std::function<bool()>& before = nullptr) {
        std::string path = T.file("ruvadaemon.conf");
        test::writeFile(path, withSmallPools(text));
        std::string messages = T.file("messages");
        return test::inChild([&] {
            FILE* out = std::fopen(messages.c_str(), "w");
            auto m = std::make_unique<UzdMain>();
            m->config = newConfig(path.c_str());
            m->zipList = test::cat::newTestZipList();
            if (out == nullptr || !m->config || !m->zipList) return 99;
            m->config->registerConfigTypes(uzdConfigRegister);
            if (m->config->readConfig() != 34) return 98;
            if (before && !before()) return 97;
            LogCapture log;
            int r = m->applyConfig(0);
            std::fputs(log.all().c_str(), out);
            std::fclose(out);
            return body(*m, r);
        });
    }
    std::string messages() { return test::readFile(T.file("messages")); }

};

// As nobody, with the second apply of a reconfiguration finding the switch
// made.
int checkNobody(UzdMain& m, int r) {
    if (r != 1) return 1;
    if (getuid() != 65534 || geteuid() != 65534) return 2;
    if (getgid() != 65534 || getegid() != 65534) return 3;
    if (!groupsAre({65534})) return 4;
    if (m.userHome != "/nonexistent") return 5;
    if (m.libStatusToPath != "/nonexistent/tmp/libraryStatus.txt") return 6;
    if (m.applyConfig(0) != 1) return 7;
    return 0;
}

TEST_F(ChangeUser, NobodyDropsRootGroups) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    EXPECT_EQ(applyInChild("User nobody\nLibStatusPath /x\n", checkNobody), 0) << messages();
}

TEST_F(ChangeUser, NumericUserWithAnEntryIsThatUser) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    EXPECT_EQ(applyInChild("User 65534\nLibStatusPath /x\n", checkNobody), 0) << messages();
}

TEST_F(ChangeUser, GroupAlone) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    EXPECT_EQ(applyInChild("Group nogroup\n",
                           [](UzdMain&, int r) {
                               if (r != 1) return 1;
                               if (getgid() != 65534 || getegid() != 65534) return 2;
                               if (!groupsAre({65534})) return 3;
                               return getuid() == 0 ? 0 : 4;
                           }),
              0)
        << messages();
}

TEST_F(ChangeUser, NumericUserAndGroupWithoutEntries) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    EXPECT_EQ(applyInChild("User 123456\nGroup 123456\n",
                           [](UzdMain&, int r) {
                               if (r != 1) return 1;
                               if (getuid() != 123456 || geteuid() != 123456) return 2;
                               if (getgid() != 123456 || !groupsAre({123456})) return 3;
                               return 0;
                           }),
              0)
        << messages();
}

TEST_F(ChangeUser, FailsClosed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    struct Case {
        const char* text;
        const char* message;
    } cases[] = {
        {"User 123456\n", "Err.: Group required for user 123456"},
        {"User nosuchuser\n", "Err.: Unknown user 'nosuchuser'"},
        {"User 12abc\n", "Err.: Unknown user '12abc'"},
        {"User nobody\nGroup nosuchgroup\n", "Err.: Unknown group 'nosuchgroup'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(applyInChild(c.text, [](UzdMain&, int r) { return r == 0 && getuid() == 0 ? 0 : 1; }), 0);
        EXPECT_NE(messages().find(std::string(c.message) + "\n"), std::string::npos) << messages();
    }
    // Not root any more, yet configured for another user.
    EXPECT_EQ(applyInChild("User root\n", [](UzdMain&, int r) { return r; },
                           [] { return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0; }),
              0);
    EXPECT_NE(messages().find("Err.: setgid(0) failed, Operation not permitted\n"), std::string::npos)
        << messages();
}

}  // namespace
}  // namespace ruva
