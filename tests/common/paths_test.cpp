#include "common/paths.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::EnvGuard;
using test::TempDir;

namespace fs = std::filesystem;

void touch(const std::string& name) {
    FILE* fp = std::fopen(name.c_str(), "w");
    ASSERT_NE(fp, nullptr) << name;
    std::fclose(fp);
}

void makeDirs(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    ASSERT_FALSE(ec) << dir;
}

std::string pid() {
    return std::to_string(getpid());
}

std::string homeOfUser(const char* user) {
    struct passwd* pw = user ? getpwnam(user) : getpwuid(getuid());
    return pw ? pw->pw_dir : "";
}

std::vector<std::string> aaaaThroughAaaaz() {
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'z'; c++) names.push_back(std::string("aaaa") + c + ".tmp");
    return names;
}

// Changes the working directory for as long as it lives.
class CwdGuard {
public:
    explicit CwdGuard(const std::string& dir) {
        if (getcwd(old_, sizeof old_) && chdir(dir.c_str()) == 0) changed_ = true;
    }
    ~CwdGuard() {
        if (changed_ && chdir(old_) != 0) std::abort();
    }
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;
    bool ok() const { return changed_; }

private:
    char old_[4096];
    bool changed_ = false;
};

TEST(PathsLtempnam, NamesTable) {
    // present: names made in the chosen directory before the call.
    struct Case {
        const char* name;
        bool tmpdirSet;  // TMPDIR names the case's first directory
        bool dirArg;     // dir names the case's second directory
        bool dirIsFile;  // dir names a regular file instead
        const char* prefix;
        std::vector<std::string> present;  // suffixes after prefix+pid
        bool inTmpdir;                     // expected directory: first (TMPDIR) or second
        bool inCwd;                        // expected: no directory part at all
        std::string suffix;
    } cases[] = {
        {"TMPDIR wins over dir", true, true, false, "pre", {}, true, false, "aaaaa.tmp"},
        {"dir without TMPDIR", false, true, false, "pre", {}, false, false, "aaaaa.tmp"},
        {"dir that is a file: current directory", false, false, true, "pre", {}, false, true, "aaaaa.tmp"},
        {"no dir: current directory", false, false, false, "pre", {}, false, true, "aaaaa.tmp"},
        {"default prefix", false, true, false, nullptr, {}, false, false, "aaaaa.tmp"},
        {"first name taken", false, true, false, "p", {"aaaaa.tmp"}, false, false, "aaaab.tmp"},
        {"a carry into the fourth letter", false, true, false, "p", aaaaThroughAaaaz(), false, false,
         "aaaba.tmp"},
        {"current directory, first name taken",
         false,
         false,
         true,
         "p",
         {"aaaaa.tmp"},
         false,
         true,
         "aaaab.tmp"},
        {"a gap is used", false, true, false, "p", {"aaaab.tmp"}, false, false, "aaaaa.tmp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir first, second;
        ASSERT_TRUE(first.ok() && second.ok());
        EnvGuard env;
        env.set("TMPDIR", c.tmpdirSet ? std::optional<std::string>(first.path()) : std::nullopt);
        std::string dirArg;
        if (c.dirArg) dirArg = second.path();
        if (c.dirIsFile) {
            dirArg = second.file("plain");
            touch(dirArg);
        }
        const std::string prefix = c.prefix ? c.prefix : "tmp.";
        const std::string where = c.inTmpdir ? first.path() : second.path();
        for (const std::string& s : c.present) touch(where + "/" + prefix + pid() + s);

        // Names without a directory are looked up in the current one.
        CwdGuard cwd(where);
        ASSERT_TRUE(cwd.ok());
        std::string got = ltempnam(dirArg.empty() ? nullptr : dirArg.c_str(), c.prefix);
        std::string expected = (c.inCwd ? "" : where + "/") + prefix + pid() + c.suffix;
        EXPECT_EQ(got, expected);
        struct stat st;
        EXPECT_NE(lstat(got.c_str(), &st), 0) << "only named, never created";
    }
}

TEST(PathsLtempnam, TrailingSlashAndDanglingSymlink) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    EnvGuard env;
    env.set("TMPDIR", dir.path() + "/");
    const std::string first = dir.path() + "/x" + pid() + "aaaaa.tmp";
    ASSERT_EQ(ltempnam(nullptr, "x"), first);
    // A symlink to nowhere still occupies the name.
    ASSERT_EQ(symlink("/nonexistent/target", first.c_str()), 0);
    EXPECT_EQ(ltempnam(nullptr, "x"), dir.path() + "/x" + pid() + "aaaab.tmp");
}

TEST(PathsInitDirPath, CopiesAtMost255AndAppendsSlash) {
    const std::string x300(300, 'x');
    const std::string slashAt255 = std::string(254, 'x') + "/yyyy";
    struct Case {
        const char* name;
        const char* dir;
        std::string expected;
    } cases[] = {
        {"null", nullptr, ""},
        {"empty", "", ""},
        {"plain", "abc", "abc/"},
        {"ends in slash", "abc/", "abc/"},
        {"root", "/", "/"},
        {"dash", "-", "-"},
        {"begins with dash", "-abc", "-abc"},
        {"cut to 255, then slash", x300.c_str(), std::string(255, 'x') + "/"},
        {"cut ends in slash", slashAt255.c_str(), std::string(254, 'x') + "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char buf[300];
        std::fill(buf, buf + sizeof buf, '#');
        int len = initDirPath(buf, c.dir);
        EXPECT_EQ(std::string(buf), c.expected);
        EXPECT_EQ(len, static_cast<int>(c.expected.size()));
    }
}

TEST(PathsGetHomeDir, HomeWithTrailingSlash) {
    struct Case {
        std::optional<std::string> home;
        int result;
        std::string expected;
    } cases[] = {
        {"/h", 1, "/h/"},
        {"/h/", 1, "/h/"},
        {"", 0, ""},
        {std::nullopt, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.home.value_or("<unset>"));
        EnvGuard env;
        env.set("HOME", c.home);
        std::string buf = "junk";
        EXPECT_EQ(getHomeDir(buf), c.result);
        EXPECT_EQ(buf, c.expected);
    }
}

TEST(PathsExpandTilde, OnePassTable) {
    const std::string myHome = homeOfUser(nullptr);
    const std::string rootHome = homeOfUser("root");
    ASSERT_FALSE(myHome.empty());
    ASSERT_FALSE(rootHome.empty());
    const std::string v223(223, 'v');
    const std::string v224(224, 'w');
    struct Case {
        const char* src;
        std::string expected;
        int result;
    } cases[] = {
        {"plain/path", "plain/path", 0},
        {"", "", 0},
        {"~", myHome, 1},
        {"~/x", myHome + "/x", 1},
        {"~root/x", rootHome + "/x", 1},
        {"~ruva_no_such_user/x", "x", 1},
        {"~ruva_no_such_user", "", 1},
        {"a~/x", "a~/x", 0},
        {"$HOME/x", "/h/x", 1},
        {"${HOME}", "/h", 1},
        {"${HOME}x", "/hx", 1},
        {"$HOME x", "/h x", 1},
        {"$HOME\\x", "/h\\x", 1},
        {"$RUVA_T_NOPE/x", "./x", 1},
        {"$RUVA_T_NOPE x", " x", 1},
        {"$RUVA_T_NOPE", "", 1},
        {"a/${RUVA_T_NOPE}/b", "a/./b", 1},
        {"${HOME", "${HOME", 0},
        {"$RUVA_T_V223/x", v223 + "/x", 1},
        {"$RUVA_T_V224/x", "./x", 1},
        {"$RUVA_T_V224 x", " x", 1},
        {"\\$HOME", "$HOME", 0},
        {"\\\\", "\\", 0},
        {"a\\b", "a\\b", 0},
        {"trail\\", "trail\\", 0},
        {"$ruva_t_lower", "upper value", 1},
        {"$RUVA_T_Mixed", "as written", 1},
    };
    EnvGuard env;
    env.set("HOME", "/h");
    env.set("RUVA_T_NOPE", std::nullopt);
    env.set("RUVA_T_V223", v223);
    env.set("RUVA_T_V224", v224);
    env.set("ruva_t_lower", std::nullopt);
    env.set("RUVA_T_LOWER", "upper value");
    env.set("RUVA_T_Mixed", "as written");
    env.set("RUVA_T_MIXED", "upper case");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.src);
        std::string dst = "junk";
        EXPECT_EQ(expandTilde(dst, c.src), c.result);
        EXPECT_EQ(dst, c.expected);
    }
    std::string dst = "junk";
    EXPECT_EQ(expandTilde(dst, nullptr), 0);
    EXPECT_EQ(dst, "");
}

TEST(PathsCompleteExpandTilde, RepeatsUntilNothingExpands) {
    const std::string myHome = homeOfUser(nullptr);
    ASSERT_FALSE(myHome.empty());
    const std::string a200(200, 'a');
    struct Case {
        const char* name;
        const char* src;
        std::string expected;
    } cases[] = {
        {"two-step chain", "$RUVA_T_A/z", "/b/a/z"},
        // Every pass adds one x: the result shows the number of passes.
        {"self-reference stops after 16 passes", "$RUVA_T_SELF", std::string(16, 'x') + "${RUVA_T_SELF}"},
        {"growth is cut to 1024 per pass", "$RUVA_T_GROW", std::string(1024, 'a')},
        // Pass 1 expands ~ and turns \$ into $; pass 2 then expands $HOME.
        {"escape handed on by an expanding pass", "~/\\$HOME", myHome + "//h"},
        {"escape alone stays", "\\$HOME", "$HOME"},
        {"nothing to expand", "plain", "plain"},
    };
    EnvGuard env;
    env.set("HOME", "/h");
    env.set("RUVA_T_A", "$RUVA_T_B/a");
    env.set("RUVA_T_B", "/b");
    env.set("RUVA_T_SELF", "x${RUVA_T_SELF}");
    env.set("RUVA_T_GROW", a200 + "${RUVA_T_GROW}");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string dst = "junk";
        completeExpandTilde(dst, c.src);
        EXPECT_EQ(dst, c.expected);
    }
    std::string dst = "junk";
    completeExpandTilde(dst, nullptr);
    EXPECT_EQ(dst, "");
}

TEST(PathsCompleteExpandTilde, LongSourceIsCutTo1024) {
    const std::string src(3000, 's');
    std::string dst;
    completeExpandTilde(dst, src.c_str());
    EXPECT_EQ(dst, std::string(1024, 's'));
}

TEST(PathsCreatePath, CreatesDirectoriesUpToTheLastSlash) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    EnvGuard env;
    env.set("RUVA_T_BASE", dir.path());
    mode_t old = umask(0);
    int rc = createPath("$RUVA_T_BASE/a/b/c/file", 0);
    umask(old);
    ASSERT_EQ(rc, 1);
    struct stat st;
    ASSERT_EQ(stat(dir.file("a/b/c").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_FALSE(fs::exists(dir.file("a/b/c/file")));

    EXPECT_EQ(createPath((dir.path() + "/a/b/d/").c_str(), 0755), 1) << "existing parts are fine";
    EXPECT_TRUE(fs::is_directory(dir.file("a/b/d")));

    touch(dir.file("plain"));
    EXPECT_EQ(createPath((dir.path() + "/plain/x/y").c_str(), 0), 0);
    EXPECT_EQ(createPath(nullptr, 0), 0);
}

TEST(PathsFindExeInPath, FirstExecutableInTheList) {
    TempDir one, two;
    ASSERT_TRUE(one.ok() && two.ok());
    touch(one.file("prog"));  // not executable
    chmod(one.file("prog").c_str(), 0644);
    makeDirs(one.file("dirprog"));
    touch(two.file("prog"));
    chmod(two.file("prog").c_str(), 0755);
    touch(two.file("dirprog"));
    chmod(two.file("dirprog").c_str(), 0755);

    EnvGuard env;
    env.set("RUVA_T_PATH", "::" + one.path() + ":" + two.path() + ":");
    std::string out;
    EXPECT_EQ(findExeInPath("prog", "RUVA_T_PATH", &out), 1);
    EXPECT_EQ(out, two.file("prog"));
    EXPECT_EQ(findExeInPath("dirprog", "RUVA_T_PATH", &out), 1);
    EXPECT_EQ(out, two.file("dirprog"));
    EXPECT_EQ(findExeInPath("prog", "RUVA_T_PATH", nullptr), 1);
    EXPECT_EQ(findExeInPath("missing", "RUVA_T_PATH", &out), 0);
    env.set("RUVA_T_UNSET", std::nullopt);
    EXPECT_EQ(findExeInPath("prog", "RUVA_T_UNSET", &out), 0);

    env.set("PATH", one.path() + ":" + two.path());
    EXPECT_EQ(findExeInPath("prog", nullptr, &out), 1);
    EXPECT_EQ(out, two.file("prog"));
}

// As root every existing file is readable, so "not readable" is built from
// missing files.
TEST(PathsLibFileName, PrecedenceMatrix) {
    const std::string file = "ruva_libfile_test_" + pid() + ".cfg";
    ASSERT_FALSE(fs::exists("/usr/local/etc/" + file));

    // Directories of a case: which exist, which hold the file; "" unset.
    enum Var { kRuva, kHome, kPrerel, kWub, kVarCount };
    const char* names[kVarCount] = {"RUVAHOME", "HOME", "PRERELHOME", "WUBHOME"};
    enum State { kUnset, kEmpty, kMissingDir, kDirOnly, kWithFile };
    struct Case {
        const char* name;
        State state[kVarCount];
        int expectedVar;  // index into names, -1 /usr/local/etc or bare name
    } cases[] = {
        {"RUVAHOME exists, file missing", {kDirOnly, kWithFile, kWithFile, kWithFile}, kRuva},
        {"RUVAHOME missing: HOME's file", {kMissingDir, kWithFile, kWithFile, kWithFile}, kHome},
        {"RUVAHOME empty: HOME's file", {kEmpty, kWithFile, kWithFile, kWithFile}, kHome},
        {"HOME without the file: PRERELHOME", {kUnset, kDirOnly, kWithFile, kWithFile}, kPrerel},
        {"HOME unset: PRERELHOME", {kUnset, kUnset, kWithFile, kWithFile}, kPrerel},
        {"PRERELHOME empty: WUBHOME", {kUnset, kUnset, kEmpty, kWithFile}, kWub},
        {"PRERELHOME without the file: WUBHOME", {kUnset, kDirOnly, kDirOnly, kWithFile}, kWub},
        {"nothing holds it: bare name", {kUnset, kDirOnly, kDirOnly, kDirOnly}, -1},
        {"all unset: bare name", {kUnset, kUnset, kUnset, kUnset}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dirs[kVarCount];
        EnvGuard env;
        std::string value[kVarCount];
        for (int v = 0; v < kVarCount; v++) {
            ASSERT_TRUE(dirs[v].ok());
            const std::string sub = v == kRuva ? "" : v == kHome ? "/.wubtools/ruvatool" : "/lib/ruvatool";
            switch (c.state[v]) {
                case kUnset:
                    env.set(names[v], std::nullopt);
                    break;
                case kEmpty:
                    env.set(names[v], "");
                    break;
                case kMissingDir:
                    value[v] = dirs[v].file("missing");
                    env.set(names[v], value[v]);
                    break;
                case kDirOnly:
                case kWithFile:
                    value[v] = dirs[v].path();
                    makeDirs(value[v] + sub);
                    if (c.state[v] == kWithFile) touch(value[v] + sub + "/" + file);
                    env.set(names[v], value[v]);
                    break;
            }
        }
        std::string expected = file;
        if (c.expectedVar == kRuva) expected = value[kRuva] + "/" + file;
        if (c.expectedVar == kHome) expected = value[kHome] + "/.wubtools/ruvatool/" + file;
        if (c.expectedVar == kPrerel) expected = value[kPrerel] + "/lib/ruvatool/" + file;
        if (c.expectedVar == kWub) expected = value[kWub] + "/lib/ruvatool/" + file;
        EXPECT_EQ(libFileName(file.c_str()), expected);
    }
}

TEST(PathsLibFileName, DirectoryWhenNameIsNull) {
    const std::string localEtc = access("/usr/local/etc", R_OK) == 0 ? "/usr/local/etc" : "";
    TempDir ruva, home, prerel, wub;
    ASSERT_TRUE(ruva.ok() && home.ok() && prerel.ok() && wub.ok());
    makeDirs(prerel.path() + "/lib/ruvatool");
    makeDirs(wub.path() + "/lib/ruvatool");
    struct Case {
        const char* name;
        std::optional<std::string> ruvaHome, homeDir, prerelHome, wubHome;
        std::string expected;
    } cases[] = {
        {"RUVAHOME", ruva.path(), home.path(), prerel.path(), wub.path(), ruva.path()},
        {"HOME even when the directory is missing", ruva.file("missing"), home.path(), prerel.path(),
         wub.path(), home.path() + "/.wubtools/ruvatool"},
        {"PRERELHOME", std::nullopt, std::nullopt, prerel.path(), wub.path(),
         prerel.path() + "/lib/ruvatool"},
        {"WUBHOME", std::nullopt, std::nullopt, prerel.file("missing"), wub.path(),
         wub.path() + "/lib/ruvatool"},
        {"none of them", std::nullopt, std::nullopt, std::nullopt, wub.file("missing"), localEtc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EnvGuard env;
        env.set("RUVAHOME", c.ruvaHome);
        env.set("HOME", c.homeDir);
        env.set("PRERELHOME", c.prerelHome);
        env.set("WUBHOME", c.wubHome);
        EXPECT_EQ(libFileName(nullptr), c.expected);
    }
}

TEST(PathsOpenLibFile, OpensTheFileLibFileNameFinds) {
    TempDir ruva;
    ASSERT_TRUE(ruva.ok());
    FILE* fp = std::fopen(ruva.file("data.cfg").c_str(), "w");
    ASSERT_NE(fp, nullptr);
    std::fputs("content", fp);
    std::fclose(fp);
    EnvGuard env;
    env.set("RUVAHOME", ruva.path());
    fp = openLibFile("data.cfg", "r");
    ASSERT_NE(fp, nullptr);
    char buf[16] = {};
    EXPECT_NE(std::fgets(buf, sizeof buf, fp), nullptr);
    EXPECT_STREQ(buf, "content");
    std::fclose(fp);
    EXPECT_EQ(openLibFile("missing.cfg", "r"), nullptr);
}

}  // namespace
}  // namespace ruva
