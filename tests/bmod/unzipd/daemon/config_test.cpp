#include "bmod/unzipd/daemon/config.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/bmod/unzipd/daemon/daemon_fixture.h"

namespace ruva {
namespace {

using test::LogCapture;

std::unique_ptr<Config> daemonConfig(const std::string& path) {
    auto config = newConfig(path.c_str());
    EXPECT_EQ(config->registerConfigTypes(uzdConfigRegister), 34);
    return config;
}

// Reads text as a configuration file; the result of readConfig.
int readText(test::TempDir& dir, const std::string& text, std::unique_ptr<Config>* out) {
    *out = test::configFromText(dir.file("ruvadaemon.conf"), text);
    return (*out)->readConfig();
}

TEST(Config, RegistersTheThirtyFourKeysInApplyOrder) {
    struct Row {
        const char* name;
        ConfigType type;
        const char* def;  // null: no default; "#n" an int default, "?b" a bool
        bool repeatable;
    };
    const Row rows[] = {
        {"WellKnownPort", CFGTYPE_INT, "#9229", false},
        {"AnswerBroadcasts", CFGTYPE_BOOL, "?0", false},
        {"DetectStructChange", CFGTYPE_BOOL, "?1", false},
        {"IPMask", CFGTYPE_STR, nullptr, true},
        {"CentralServer", CFGTYPE_STR, nullptr, false},
        {"ServerComment", CFGTYPE_STR, "Kivo Browser", false},
        {"CacheFile", CFGTYPE_STR, "tmp/ruvaknown.cache", false},
        {"FoldNames", CFGTYPE_BOOL, "?1", false},
        {"LogLevel", CFGTYPE_STR, "Notice", false},
        {"LogFile", CFGTYPE_STR, nullptr, false},
        {"UseSysLog", CFGTYPE_BOOL, "?1", false},
        {"VerboseMode", CFGTYPE_BOOL, "?0", false},
        {"DebugMode", CFGTYPE_BOOL, "?0", false},
        {"RecursiveDir", CFGTYPE_STR, nullptr, true},
        {"NonRecursiveDir", CFGTYPE_STR, nullptr, true},
        {"WritableNonRecursiveDir", CFGTYPE_STR, nullptr, true},
        {"AnnotationDb", CFGTYPE_STR, nullptr, false},
        {"LibraryPath", CFGTYPE_STR, nullptr, false},
        {"IncludePattern", CFGTYPE_STR, "*.[kK][vV][oO]", true},
        {"IncludePattern", CFGTYPE_STR, "*.[aA][nN][xX]", true},
        {"ExcludePattern", CFGTYPE_STR, nullptr, true},
        {"EnforceIPMask", CFGTYPE_BOOL, "?1", false},
        {"SuperUserName", CFGTYPE_STR, nullptr, true},
        {"User", CFGTYPE_STR, nullptr, false},
        {"Group", CFGTYPE_STR, nullptr, false},
        {"ParentWaitTime", CFGTYPE_INT, "#30", false},
        {"LibStatusPath", CFGTYPE_STR, nullptr, false},
        {"AdminMailID", CFGTYPE_STR, nullptr, false},
        {"MaxLogSize", CFGTYPE_INT, "#0", false},
        {"MaxLogBackups", CFGTYPE_INT, "#1", false},
        {"MaxDatabases", CFGTYPE_INT, "#700", false},
        {"MaxCentralHeaders", CFGTYPE_INT, "#280000", false},
        {"NamePoolSize", CFGTYPE_INT, "#9004800", false},
        {"MaxSessions", CFGTYPE_INT, "#256", false},
    };
    auto config = daemonConfig("/nonexistent/ruvadaemon.conf");
    ASSERT_EQ(config->entries.size(), std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        const ConfigEntry& e = config->entries[i];
        SCOPED_TRACE(r.name);
        EXPECT_EQ(e.name, r.name);
        EXPECT_EQ(e.type, r.type);
        EXPECT_EQ((e.flags & kConfigRepeatable) != 0, r.repeatable);
        EXPECT_EQ((e.flags & kConfigHasDefault) != 0, r.def != nullptr);
        if (r.def == nullptr) continue;
        if (r.def[0] == '#' || r.def[0] == '?')
            EXPECT_EQ(e.defaultval.v, std::stoi(r.def + 1));
        else
            EXPECT_EQ(e.defaultval.s, r.def);
    }
}

TEST(Config, MissingFileGivesAllDefaultsAndAWarning) {
    LogCapture log;
    auto config = daemonConfig("/nonexistent/ruvadaemon.conf");
    EXPECT_EQ(config->readConfig(), 34);
    EXPECT_TRUE(log.has("Warn: configuration file /nonexistent/ruvadaemon.conf not found, using defaults"));
    EXPECT_EQ(config->findEntry("wellknownport")->first()->v, 9229);
    EXPECT_EQ(config->findEntry("CacheFile")->first()->s, "tmp/ruvaknown.cache");
    EXPECT_EQ(config->findEntry("LogFile")->first(), nullptr);
    // findEntry gives the first of two entries of a name.
    EXPECT_EQ(config->findEntry("IncludePattern"), &config->entries[18]);
}

TEST(Config, ValuesAreReadByType) {
    ASSERT_EQ(setenv("RUVA_CFG_T", "/some/dir", 1), 0);
    struct Case {
        const char* line;
        const char* key;
        int v;           // BOOL and INT
        const char* s;   // STR (null: look at v)
    } cases[] = {
        {"AnswerBroadcasts Yes", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts y", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts ON", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts on", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts 1", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts 7", "AnswerBroadcasts", 1, nullptr},
        {"AnswerBroadcasts true", "AnswerBroadcasts", 0, nullptr},
        {"AnswerBroadcasts no", "AnswerBroadcasts", 0, nullptr},
        {"AnswerBroadcasts 0", "AnswerBroadcasts", 0, nullptr},
        {"AnswerBroadcasts off", "AnswerBroadcasts", 0, nullptr},
        {"WellKnownPort 9229", "WellKnownPort", 9229, nullptr},
        {"WellKnownPort 1K", "WellKnownPort", 1024, nullptr},
        {"WellKnownPort 2m", "WellKnownPort", 2097152, nullptr},
        {"WellKnownPort 12abc", "WellKnownPort", 12, nullptr},
        {"WellKnownPort -5", "WellKnownPort", 0, nullptr},
        {"WellKnownPort K", "WellKnownPort", 0, nullptr},
        {"wellknownport 1", "WellKnownPort", 1, nullptr},
        {"LogFile $RUVA_CFG_T/x.log", "LogFile", 0, "/some/dir/x.log"},
        {"LogFile ${RUVA_CFG_T}/x.log", "LogFile", 0, "/some/dir/x.log"},
        {"LibraryPath \"/a b\"", "LibraryPath", 0, "/a b"},
        {"LibraryPath /a b", "LibraryPath", 0, "/a"},
        {"  CacheFile\tc.cache  ", "CacheFile", 0, "c.cache"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        test::TempDir dir;
        std::unique_ptr<Config> config;
        ASSERT_EQ(readText(dir, std::string(c.line) + "\n", &config), 34);
        const ConfigEntry* e = config->findEntry(c.key);
        ASSERT_EQ(e->val.size(), 1u);
        if (c.s != nullptr)
            EXPECT_EQ(e->val[0].s, c.s);
        else
            EXPECT_EQ(e->val[0].v, c.v);
    }
    unsetenv("RUVA_CFG_T");
}

TEST(Config, SkippedLinesAndTheirMessages) {
    struct Case {
        const char* name;
        std::string text;
        const char* message;  // null: none
    } cases[] = {
        {"comment", "# c\n", nullptr},
        {"blank", "\n   \n", nullptr},
        {"keyword alone", "CacheFile\n", nullptr},
        {"unknown keyword", "Frobnicate 1\n", "Warn: Unknown configuration keyword ignored: <Frobnicate>"},
        {"line of 255", "CacheFile " + std::string(245, 'x') + "\n", "Warn: Configuration line 1 too long, ignored"},
        {"third line too long", "\n# c\n" + std::string(300, 'x') + "\n",
         "Warn: Configuration line 3 too long, ignored"},
        {"1 MiB without a newline", std::string(1 << 20, 'y'), "Warn: Configuration line 1 too long, ignored"},
        {"port out of range", "WellKnownPort 99999999999\n",
         "Warn: Value out of range for keyword <WellKnownPort>: 99999999999"},
        {"size out of range after K", "MaxLogSize 3000000K\n",
         "Warn: Value out of range for keyword <MaxLogSize>: 3000000K"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        LogCapture log;
        std::unique_ptr<Config> config;
        ASSERT_EQ(readText(dir, c.text, &config), 34);
        if (c.message != nullptr)
            EXPECT_TRUE(log.has(c.message)) << log.all();
        else
            EXPECT_TRUE(log.lines.empty()) << log.all();
        // Every entry stands at its default.
        EXPECT_EQ(config->findEntry("CacheFile")->val[0].s, "tmp/ruvaknown.cache");
        EXPECT_EQ(config->findEntry("WellKnownPort")->val[0].v, 9229);
        EXPECT_EQ(config->findEntry("MaxLogSize")->val[0].v, 0);
    }
}

TEST(Config, LineOf254CharactersIsRead) {
    test::TempDir dir;
    std::string value(254 - 10, 'x');
    std::unique_ptr<Config> config;
    ASSERT_EQ(readText(dir, "CacheFile " + value + "\nMaxLogSize 5", &config), 34);
    EXPECT_EQ(config->findEntry("CacheFile")->val[0].s, value);
    EXPECT_EQ(config->findEntry("MaxLogSize")->val[0].v, 5) << "a last line without LF counts";
}

TEST(Config, NulEndsTheLinesText) {
    test::TempDir dir;
    std::unique_ptr<Config> config;
    std::string text = "CacheFile a.cache";
    text += '\0';
    text += "junk\nServerComment hello\n";
    ASSERT_EQ(readText(dir, text, &config), 34);
    EXPECT_EQ(config->findEntry("CacheFile")->val[0].s, "a.cache");
    EXPECT_EQ(config->findEntry("ServerComment")->val[0].s, "hello");
}

TEST(Config, RepeatedKeywords) {
    test::TempDir dir;
    LogCapture log;
    std::unique_ptr<Config> config;
    ASSERT_EQ(readText(dir, "CacheFile one\nCacheFile two\nIncludePattern *.a\nIncludePattern *.b\n", &config),
              34);
    EXPECT_EQ(config->findEntry("CacheFile")->val.size(), 1u);
    EXPECT_EQ(config->findEntry("CacheFile")->val[0].s, "one");
    EXPECT_TRUE(log.has("Warn: Multiple definitions for keyword not allowed: <CacheFile>"));
    // The file's patterns replace the first default; the second stays.
    const ConfigEntry& inc1 = config->entries[18];
    const ConfigEntry& inc2 = config->entries[19];
    ASSERT_EQ(inc1.val.size(), 2u);
    EXPECT_EQ(inc1.val[0].s, "*.a");
    EXPECT_EQ(inc1.val[1].s, "*.b");
    ASSERT_EQ(inc2.val.size(), 1u);
    EXPECT_EQ(inc2.val[0].s, "*.[aA][nN][xX]");
}

TEST(Config, IpMaskMustBeOneQuotedText) {
    struct Case {
        const char* line;
        bool ok;
    } cases[] = {
        {"IPMask \"Allow 1.2.3.4\"", true},
        {"IPMask \"Allow 1.2.3.4\"  \t", true},
        {"IPMask Allow 1.2.3.4", false},
        {"IPMask \"Al\"low\"", false},
        {"IPMask \"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        test::TempDir dir;
        LogCapture log;
        std::unique_ptr<Config> config;
        int n = readText(dir, std::string("CacheFile x\n") + c.line + "\n", &config);
        EXPECT_EQ(n, c.ok ? 34 : 0);
        if (c.ok) {
            ASSERT_EQ(config->findEntry("IPMask")->val.size(), 1u);
            EXPECT_EQ(config->findEntry("IPMask")->val[0].s, "Allow 1.2.3.4");
        } else {
            EXPECT_TRUE(log.has("Err.: Value for \"IPMask\" keyword should be enclosed in double quotes.\n "
                                "Example: IPMask \"Allow 172.16.59.123\""))
                << log.all();
        }
    }
}

TEST(Config, SelfReferringVariableEndsBounded) {
    ASSERT_EQ(setenv("SELF", "$SELF", 1), 0);
    test::TempDir dir;
    std::unique_ptr<Config> config;
    EXPECT_EQ(readText(dir, "LibraryPath \"$SELF\"\n", &config), 34);
    EXPECT_EQ(config->findEntry("LibraryPath")->val.size(), 1u);
    unsetenv("SELF");
}

TEST(Config, RereadingDropsEarlierValues) {
    test::TempDir dir;
    std::unique_ptr<Config> config;
    ASSERT_EQ(readText(dir, "RecursiveDir /a\n", &config), 34);
    test::writeFile(dir.file("ruvadaemon.conf"), "RecursiveDir /b\n");
    ASSERT_EQ(config->readConfig(), 34);
    ASSERT_EQ(config->findEntry("RecursiveDir")->val.size(), 1u);
    EXPECT_EQ(config->findEntry("RecursiveDir")->val[0].s, "/b");
}

}  // namespace
}  // namespace ruva
