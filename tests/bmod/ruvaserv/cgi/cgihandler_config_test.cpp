#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <strings.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::EnvGuard;
using test::TempDir;

using Env = std::vector<std::pair<const char*, const char*>>;

// Answers every address with one name, or with none.
class OneNameResolver : public Resolver {
public:
    explicit OneNameResolver(const char* name) : name_(name) {}
    bool addressOf(const std::string&, in_addr_t*) override { return false; }
    bool namesOf(in_addr_t, std::string* name, std::vector<std::string>*) override {
        if (!name_) return false;
        *name = name_;
        return true;
    }

private:
    const char* name_;
};

// A request object that reads a configuration file written by the test, with
// TMPDIR in a fresh folder. Address look-ups find no name.
class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        tmpdir = dir.file("tmpdir");
        ASSERT_EQ(mkdir(tmpdir.c_str(), 0700), 0);
        env.set("TMPDIR", tmpdir);
        previousResolver = setResolver(&noNames);
    }
    void TearDown() override { setResolver(previousResolver); }

    // The own-host variables are vars alone.
    std::unique_ptr<CgiHandler> read(const std::string& text, const Env& vars = {}) {
        for (const char* name : {"HTTP_HOST", "SERVER_NAME", "SERVER_PORT"}) env.set(name, {});
        for (const auto& [name, value] : vars) env.set(name, value);
        std::string path = dir.file("kivo.conf");
        test::writeFile(path, text);
        auto cg = newCgiHandler(kKivoservFlags, environ);
        EXPECT_EQ(cg->readConfigFile(path.c_str()), 1);
        return cg;
    }

    TempDir dir;
    EnvGuard env;
    std::string tmpdir;
    OneNameResolver noNames{nullptr};
    Resolver* previousResolver = nullptr;
};

bool has(const CgiHandler& cg, size_t bit) {
    return (cg.flags & bit) != 0;
}

std::string language(const CgiHandler& cg, const char* code) {
    const Value* v = cg.langList->findValue(code);
    return v ? v->value : "<none>";
}

TEST_F(ConfigFile, LinesSetTheirMembers) {
    const std::string longLine = "KivoProgName abc" + std::string(kConfigLineMax - 16, ' ') +
                                 std::string(200000 - kConfigLineMax - 12, ' ') + "TestMode Yes";
    const struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string home = pw->pw_dir;
    struct Case {
        const char* name;
        std::string file;
        std::function<void(const CgiHandler&)> check;
    };
    const Case cases[] = {
        {"useprint no", "useprint no\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUsePrint)); }},
        {"a value beginning No", "UsePrint Nope\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUsePrint)); }},
        {"a longer key token", "UsePrintX no\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUsePrint)); }},
        {"UsePrint off", "UsePrint OFF\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUsePrint)); }},
        {"UsePrint anything else", "UsePrint no\nUsePrint maybe\n",
         [](auto& cg) { EXPECT_TRUE(has(cg, kCgiUsePrint)); }},
        {"off-by-default on for Yes...", "AllowUZonURL yesplease\n",
         [](auto& cg) { EXPECT_TRUE(has(cg, kCgiAllowUzOnUrl)); }},
        {"off-by-default off for true", "AllowUZonURL true\n",
         [](auto& cg) { EXPECT_FALSE(has(cg, kCgiAllowUzOnUrl)); }},
        {"UseLDAP false", "UseLDAP false\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUseLdap)); }},
        {"UseLDAP maybe", "UseLDAP maybe\n", [](auto& cg) { EXPECT_TRUE(has(cg, kCgiUseLdap)); }},
        {"UseLDAP without a value", "UseLDAP\n", [](auto& cg) { EXPECT_FALSE(has(cg, kCgiUseLdap)); }},
        {"UseHelp 0, UseAnnotation no, UseInfo and UseAUTH yes",
         "UseHelp 0\nUseAnnotation no\nUseInfo yes\nUseAUTH Yes\n",
         [](auto& cg) {
             EXPECT_FALSE(has(cg, kCgiUseHelp));
             EXPECT_FALSE(has(cg, kCgiUseAnnotation));
             EXPECT_TRUE(has(cg, kCgiUseInfo));
             EXPECT_TRUE(has(cg, kCgiUseAuth));
         }},
        {"ExpiryPrelDocNotes before ExpiryPrelDoc", "ExpiryPrelDocNotes 60\n",
         [](auto& cg) {
             EXPECT_EQ(cg.expiryPrelDocNotes, 60);
             EXPECT_EQ(cg.expiryPrelDoc, 600);
         }},
        {"ExpiryPrelDoc alone", "ExpiryPrelDoc 60\n",
         [](auto& cg) {
             EXPECT_EQ(cg.expiryPrelDoc, 60);
             EXPECT_EQ(cg.expiryPrelDocNotes, 180);
         }},
        {"the sign of CommandTimeout dropped", "CommandTimeout -30\n",
         [](auto& cg) { EXPECT_EQ(cg.commandTimeout, 30); }},
        {"integers clamped to the member",
         "CatCookieExpire 99999999999\nFileTransferTimeLimit -99999999999999999999\nExpirePeriod 12abc\n"
         "ExpiryRRelDoc abc\n",
         [](auto& cg) {
             EXPECT_EQ(cg.catCookieExpire, INT_MAX);
             EXPECT_EQ(cg.FileTransferTimeLimit, INT_MAX);
             EXPECT_EQ(cg.bHardLimit, 1);
             EXPECT_EQ(cg.expirePeriod, 12);
             EXPECT_EQ(cg.expiryRRelDoc, 0);
         }},
        {"LanguageCodes with EN added",
         "LanguageCodes de=Deutsch; fr=Fran\xc3\xa7"
         "ais\n",
         [](auto& cg) {
             EXPECT_TRUE(has(cg, kCgiLanguageCodes));
             EXPECT_EQ(language(cg, "DE"), "Deutsch");
             EXPECT_EQ(language(cg, "FR"),
                       "Fran\xc3\xa7"
                       "ais");
             EXPECT_EQ(language(cg, "EN"), "English");
         }},
        {"LanguageCodes naming EN itself, pieces without '=' skipped",
         "LanguageCodes  en=Englisch;xx;=Nil; 9=Nine\n",
         [](auto& cg) {
             EXPECT_EQ(language(cg, "EN"), "Englisch");
             EXPECT_EQ(cg.langList->firstValue()->name, "EN");
             EXPECT_EQ(cg.langList->nextValue(cg.langList->firstValue()), nullptr);
         }},
        {"CR LF line ends", "UsePrint no\r\nLanguageCodes de=Deutsch\r\n",
         [](auto& cg) {
             EXPECT_FALSE(has(cg, kCgiUsePrint));
             EXPECT_EQ(language(cg, "DE"), "Deutsch");
         }},
        {"comment lines change nothing", "# UsePrint no\n#UsePrint no\n\n   \n",
         [](auto& cg) {
             EXPECT_TRUE(has(cg, kCgiUsePrint));
             EXPECT_EQ(language(cg, "EN"), "English");
         }},
        {"texts cut to their members",
         "KivoProgName " + std::string(40, 'k') +
             "\nNotesCat abcdefg\nLibstate 0123456789AB\n"
             "RuvaDaemon " +
             std::string(70, 'd') + "\nHttpdProto https://very-long-proto:/\n",
         [](auto& cg) {
             EXPECT_EQ(cg.kivoProgName, std::string(32, 'k'));
             EXPECT_EQ(cg.notes_category, "abcd");
             EXPECT_EQ(cg.strLibState, "012345678");
             EXPECT_EQ(cg.docServAddr, std::string(63, 'd'));
             EXPECT_EQ(cg.urlProto, "https://very-lo");
         }},
        {"Superusername on its first nine characters", "SuperuserX bob\n",
         [](auto& cg) { EXPECT_EQ(cg.superUserName, "bob"); }},
        {"CharEncoding alone", "CharEncoding\n",
         [](auto& cg) {
             EXPECT_EQ(cg.charEnc, 1);
             EXPECT_EQ(cg.charEncoding, "");
         }},
        {"an over-long line applies its first characters", longLine + "\nMyDoc No\n",
         [](auto& cg) {
             EXPECT_EQ(cg.kivoProgName, "abc");
             EXPECT_FALSE(has(cg, kCgiTestMode));
             EXPECT_EQ(cg.isUserDoc, "No");
         }},
        {"TestMode Yes, then another value", "TestMode yes\nTestMode no\n",
         [](auto& cg) { EXPECT_TRUE(has(cg, kCgiTestMode)); }},
        {"Frames off and its synonyms", "Frames False\n",
         [](auto& cg) { EXPECT_EQ(cg.options & kOptNoFrames, kOptNoFrames); }},
        {"Frames without a value clears", "Frames 0\nFrames\n",
         [](auto& cg) { EXPECT_EQ(cg.options & kOptNoFrames, 0u); }},
        {"Frames offline is no off", "Frames offline\n",
         [](auto& cg) { EXPECT_EQ(cg.options & kOptNoFrames, 0u); }},
        {"SearchHighLight with its closing mark",
         "SearchHighLight \"<b class='h'>\" </b>\nSearchHighLightX <i>\n",
         [](auto& cg) {
             EXPECT_EQ(cg.searchHighLight, "<i>");
             EXPECT_EQ(cg.searchNormal, "</b>");
         }},
        {"PrivacyURL sets the style, an empty PrivacyStatus nothing",
         "PrivacyURL https://p.example/\nPrivacyStatus \"\"\n",
         [](auto& cg) {
             EXPECT_EQ(cg.privacyURL, "https://p.example/");
             EXPECT_EQ(cg.privacyStyle, "inline");
             EXPECT_EQ(cg.privacyStatus, "");
         }},
        {"PrintCommand expands its '~'", "PrintCommand ~/bin/lp\n",
         [&home](auto& cg) { EXPECT_EQ(cg.printCommand, home + "/bin/lp"); }},
        {"quoted values, unknown and proxy keys",
         "Disclaimer \"<p>Read this</p>\"\nZOPAURL http://z\nUserEnv U\nTelnetProxy h:1\nNoSuchKey 1\n",
         [](auto& cg) {
             EXPECT_EQ(cg.disclaimer, "<p>Read this</p>");
             EXPECT_EQ(cg.isZopaUrl, "http://z");
             EXPECT_EQ(cg.userEnv, "U");
             EXPECT_EQ(cg.docServAddr, "localhost:9229");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto cg = read(c.file);
        EXPECT_EQ(cg->configName, dir.file("kivo.conf"));
        c.check(*cg);
    }
}

TEST_F(ConfigFile, NoFileLeavesTheDefaults) {
    auto cg = newCgiHandler(kKivoservFlags, environ);
    cg->docServAddr = "other:1";
    cg->expirePeriod = 5;
    cg->isUserDoc = "No";
    for (const char* path : {static_cast<const char*>(nullptr), "", "/no/such/kivo.conf"}) {
        SCOPED_TRACE(path ? path : "null");
        EXPECT_EQ(cg->readConfigFile(path), 1);
        EXPECT_EQ(cg->configName, "");
        EXPECT_EQ(cg->docServAddr, "localhost:9229");
        EXPECT_EQ(cg->expirePeriod, kDefaultExpirePeriod);
        EXPECT_EQ(cg->isUserDoc, "Yes");
        EXPECT_EQ(cg->flags, kKivoservFlags);
        EXPECT_EQ(cg->langList->firstValue(), nullptr);
        EXPECT_EQ(cg->getError(), "");
    }
}

// Each key is reached by its own name: none stands behind a key that is a
// prefix of it.
TEST(ConfigKeys, EveryKeyIsTheFirstMatchOfItsName) {
    ConfigKeys keys = kivoConfigKeys();
    EXPECT_EQ(keys.size(), 49u);
    for (const ConfigKey& key : keys) {
        SCOPED_TRACE(key.name);
        for (const ConfigKey& earlier : keys) {
            size_t n = earlier.matchLength ? earlier.matchLength : std::strlen(earlier.name);
            if (strncasecmp(key.name, earlier.name, n) == 0) {
                EXPECT_EQ(&earlier, &key) << "taken by " << earlier.name;
                break;
            }
        }
    }
}

TEST_F(ConfigFile, OwnHostAndPortComeFromTheEnvironment) {
    struct {
        const char* name;
        const char* file;
        Env env;
        const char* host;
        const char* port;
    } const cases[] = {
        {"HTTP_HOST wins over HttpdHost and HttpdPort",
         "HttpdHost other.example\nHttpdPort :9\n",
         {{"HTTP_HOST", " www.example.org:8080 "}, {"SERVER_NAME", "srv.example"}},
         "/www.example.org",
         ":8080"},
        {"HTTP_HOST with an IPv6 literal", "", {{"HTTP_HOST", "[::1]:8080"}}, "/[::1]", ":8080"},
        {"HTTP_HOST without a port", "", {{"HTTP_HOST", "[::1]"}, {"SERVER_PORT", "81"}}, "/[::1]", ""},
        {"SERVER_PORT 80 gives no port",
         "",
         {{"SERVER_NAME", "srv.example"}, {"SERVER_PORT", "80"}},
         "/srv.example",
         ""},
        {"HttpdHost empties the port without HTTP_HOST",
         "HttpdPort :81\nHttpdHost web.example\n",
         {{"HTTP_HOST", "  "}, {"SERVER_NAME", "srv.example"}, {"SERVER_PORT", "8081"}},
         "/web.example",
         ""},
        {"HttpdPort after HttpdHost",
         "HttpdHost web.example\nHttpdPort :81\n",
         {{"SERVER_NAME", "srv.example"}},
         "/web.example",
         ":81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto cg = read(c.file, c.env);
        EXPECT_EQ(cg->httpdHost, c.host);
        EXPECT_EQ(cg->httpdPort, c.port);
    }
}

TEST_F(ConfigFile, WithoutServerNameTheInterfaceAddressIsNamed) {
    std::optional<std::string> ip = getIpAddr();
    struct {
        const char* resolved;
        std::string host;
    } const cases[] = {
        {"web.example.org", ip ? "/web.example.org" : "/127.0.0.1"},
        {nullptr, ip ? "/" + *ip : "/127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resolved ? c.resolved : "no name");
        OneNameResolver resolver(c.resolved);
        setResolver(&resolver);
        auto cg = read("", {{"SERVER_PORT", "8081"}});
        setResolver(&noNames);
        EXPECT_EQ(cg->httpdHost, c.host);
        EXPECT_EQ(cg->httpdPort, ":8081");
    }
}

mode_t modeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool isDir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(ConfigFile, TemporaryDirectoryIsChosenWithoutChangingModes) {
    const std::string existing = dir.file("conf-tmp");
    const std::string plainFile = dir.file("plain");
    ASSERT_EQ(mkdir(existing.c_str(), 0700), 0);
    test::writeFile(plainFile, "x");
    const mode_t plainMode = modeOf(plainFile);
    const std::string longPath = dir.path() + "/" + std::string(300 - dir.path().size() - 1, 'p');
    struct {
        const char* name;
        std::string file;
        std::optional<std::string> tmpdir;  // TMPDIR; the fixture's folder when none
        std::string chosen;
    } const cases[] = {
        {"an existing TempPath", "TempPath " + existing + "\n", {}, existing + "/"},
        {"a missing TempPath is made", "TempPath " + dir.file("made") + "\n", {}, dir.file("made") + "/"},
        {"a regular file falls back to TMPDIR", "TempPath " + plainFile + "\n", {}, tmpdir + "/"},
        {"a TempPath longer than 255 characters", "TempPath " + longPath + "\n", {}, tmpdir + "/"},
        {"a TempPath without a value", "TempPath\n", {}, tmpdir + "/"},
        {"a TempPath that cannot be made", "TempPath " + dir.file("no/such") + "\n", {}, tmpdir + "/"},
        {"a missing TMPDIR is made", "", dir.file("made-tmpdir/"), dir.file("made-tmpdir/")},
        {"neither usable: /tmp/", "TempPath " + plainFile + "\n", plainFile, "/tmp/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EnvGuard rowEnv;
        // The choice is written back to TMPDIR: each row starts afresh.
        rowEnv.set("TMPDIR", c.tmpdir ? *c.tmpdir : tmpdir);
        auto cg = read(c.file);
        EXPECT_EQ(cg->TempPath, c.chosen);
        EXPECT_TRUE(isDir(c.chosen));
        const char* now = std::getenv("TMPDIR");
        EXPECT_EQ(now ? now : "", c.chosen);
        EXPECT_EQ(cg->getError(), "");
    }
    EXPECT_FALSE(isDir(longPath.substr(0, 255)));
    EXPECT_EQ(modeOf(existing), 0700u);
    EXPECT_EQ(modeOf(tmpdir), 0700u);
    EXPECT_EQ(modeOf(plainFile), plainMode);
}

// An existing directory the process may not use is passed over, never
// opened up by a mode change (as root every directory is usable).
TEST_F(ConfigFile, ClosedDirectoryKeepsItsMode) {
    const std::string closed = dir.file("closed");
    ASSERT_EQ(mkdir(closed.c_str(), 0500), 0);
    ASSERT_EQ(chmod(closed.c_str(), 0500), 0);
    auto cg = read("TempPath " + closed + "\n");
    EXPECT_EQ(cg->TempPath, geteuid() == 0 ? closed + "/" : tmpdir + "/");
    EXPECT_EQ(modeOf(closed), 0500u);
}

// /tmp is made read-only for a child alone, in a mount namespace of its
// own; where none can be had the test is skipped.
TEST(ConfigTempDir, NoUsableDirectoryLeavesMessage239) {
    constexpr int kNoNamespace = 77;
    int status = test::inChild([] {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return kNoNamespace;
        // Private first, so that nothing reaches the real /tmp.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kNoNamespace;
        if (mount("none", "/tmp", "tmpfs", MS_RDONLY, nullptr) != 0) return kNoNamespace;
        setenv("TMPDIR", "/tmp/kivo-missing", 1);
        setenv("SERVER_NAME", "srv.example", 1);
        unsetenv("HTTP_HOST");
        auto cg = newCgiHandler(kKivoservFlags, environ);
        if (cg->readConfigFile(nullptr) != 1) return 1;
        if (cg->TempPath != "/tmp/") return 2;
        const std::string& error = cg->getError();
        if (error.rfind(std::string("The directory for temporary files cannot be created, ") +
                            std::strerror(EROFS) + " '/tmp/'.<br><br>",
                        0) != 0 ||
            error.find("[cgihandler/36]") == std::string::npos)
            return 3;
        return std::string_view(std::getenv("TMPDIR")) == "/tmp/kivo-missing" ? 0 : 4;
    });
    if (status == kNoNamespace) GTEST_SKIP() << "no private mount namespace";
    EXPECT_EQ(status, 0);
}

TEST(ConfigFileSearch, EnvironmentThenWorkingDirectoryThenSystem) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string system =
        access("/usr/local/etc/kivo.conf", R_OK) == 0 ? "/usr/local/etc/kivo.conf" : "";
    struct {
        const char* name;
        const char* kivoservconf;
        bool localFile;
        std::string found;
    } const cases[] = {
        {"KIVOSERVCONF names it", "/no/such/file.conf", true, "/no/such/file.conf"},
        {"kivo.conf in the working directory", nullptr, true, "kivo.conf"},
        {"an empty KIVOSERVCONF is none", "", true, "kivo.conf"},
        {"the system file or none", nullptr, false, system},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The working directory changes only in the child.
        int status = test::inChild([&] {
            if (chdir(dir.path().c_str()) != 0) return 1;
            if (c.localFile) test::writeFile("kivo.conf", "UsePrint no\n");
            EnvGuard env;
            env.set("KIVOSERVCONF",
                    c.kivoservconf ? std::optional<std::string>(c.kivoservconf) : std::nullopt);
            return findConfigFile() == c.found ? 0 : 2;
        });
        EXPECT_EQ(status, 0);
        unlink(dir.file("kivo.conf").c_str());
    }
}

}  // namespace
}  // namespace ruva
