#include "bmod/ruvaserv/client/uzsession_user.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/client/uzsession.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using Env = std::optional<std::string>;

struct NameCase {
    const char* name;
    Env portal;      // HTTP_MYR_TQB_PORTAL_NAME
    Env authUser;    // AUTH_USER, the variable a non-default authEnv names
    Env remoteUser;  // REMOTE_USER
    Env groupUser;   // HTTP_KIVO_GROUP_USER
    const char* authEnv;
    const char* libState;
    const char* superUser;
    bool useAuth;
    bool profile;  // UserP
    const char* wantName;
    int wantRefusal;
};

const NameCase kNameCases[] = {
    // The portal header wins whatever useAuth says.
    {"portal", "alice", "bob", "carl", "grp", "AUTH_USER", "Test", "root", false, false, "alice", 0},
    {"portal under useAuth", "alice", "bob", "carl", "grp", "AUTH_USER", "Test", "root", true, false, "alice",
     0},
    {"portal with blanks", "x 63 0", std::nullopt, std::nullopt, std::nullopt, "REMOTE_USER", "", "", false,
     true, "x 63 0", 0},
    // Set but empty: USER takes it (and finds no name), UserP looks further.
    {"empty portal, USER", "", "bob", std::nullopt, std::nullopt, "AUTH_USER", "", "", false, false, "", 419},
    {"empty portal, USER, REMOTE_USER", "", std::nullopt, "carl", std::nullopt, "REMOTE_USER", "", "", false,
     false, "", 0},
    {"empty portal, UserP", "", "bob", std::nullopt, std::nullopt, "AUTH_USER", "", "", false, true, "bob",
     0},
    {"authEnv", std::nullopt, "bob", "carl", "grp", "AUTH_USER", "Test", "root", false, false, "bob", 0},
    {"authEnv REMOTE_USER", std::nullopt, "bob", "carl", std::nullopt, "REMOTE_USER", "", "", false, false,
     "carl", 0},
    {"useAuth, not Publish", std::nullopt, "bob", "carl", "grp", "AUTH_USER", "Test", "root", true, false,
     "grp", 0},
    {"useAuth, empty state", std::nullopt, "bob", "carl", "grp", "AUTH_USER", "", "root", true, false, "grp",
     0},
    {"useAuth, no group user", std::nullopt, "bob", "carl", std::nullopt, "REMOTE_USER", "Test", "root", true,
     false, "", 470},
    {"useAuth, empty group user", std::nullopt, "bob", "carl", "", "REMOTE_USER", "Test", "root", true, true,
     "", 470},
    {"useAuth, Publish", std::nullopt, "bob", "carl", "grp", "AUTH_USER", "Publish", "root", true, false,
     "root", 0},
    {"Publish compares exactly", std::nullopt, "bob", "carl", "grp", "AUTH_USER", "publish", "root", true,
     false, "grp", 0},
    // No name anywhere: an empty quoted word only behind REMOTE_USER.
    {"nothing, REMOTE_USER", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "REMOTE_USER", "", "",
     false, false, "", 0},
    {"nothing, REMOTE_USER_X", std::nullopt, std::nullopt, std::nullopt, std::nullopt, "REMOTE_USER_X", "",
     "", false, false, "", 0},
    {"nothing, AUTH_USER", std::nullopt, std::nullopt, "carl", std::nullopt, "AUTH_USER", "", "", false,
     false, "", 419},
    {"empty authEnv value", std::nullopt, "", "carl", std::nullopt, "AUTH_USER", "", "", false, false, "",
     419},
    {"Publish without super-user", std::nullopt, "bob", std::nullopt, "grp", "AUTH_USER", "Publish", "", true,
     false, "", 419},
    {"Publish without super-user, REMOTE_USER", std::nullopt, "bob", "carl", "grp", "REMOTE_USER", "Publish",
     "", true, false, "", 0},
};

TEST(UserName, ComesFromTheFirstSourceThatApplies) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.name);
        test::EnvGuard env;
        env.set("HTTP_MYR_TQB_PORTAL_NAME", c.portal);
        env.set("AUTH_USER", c.authUser);
        env.set("REMOTE_USER", c.remoteUser);
        env.set("REMOTE_USER_X", std::nullopt);
        env.set("HTTP_KIVO_GROUP_USER", c.groupUser);
        UzSession s;
        s.authEnv = c.authEnv;
        s.libState = c.libState;
        s.superUserName = c.superUser;
        UserNameChoice got = chooseUserName(s, c.useAuth, c.profile);
        EXPECT_EQ(got.name, c.wantName);
        EXPECT_EQ(got.refusal, c.wantRefusal);
    }
}

constexpr const char* kLdap = "500-LDAP support not compiled into this version";
constexpr const char* kSupport = "https://help.example/kivo";

struct ReplyCase {
    const char* name;
    const char* line;
    bool useAuth;
    bool wantFailed;
    int wantCode;
    // The whole text, or with useAuth its beginning and end (the support
    // messages' wording is ours to change).
    const char* wantText;
    const char* wantEnd;
};

const ReplyCase kReplyCases[] = {
    {"profile set", "200-User profile successfuly set", false, false, 200, "User profile successfuly set",
     ""},
    {"profile set, useAuth", "200-User profile successfuly set", true, false, 200,
     "User profile successfuly set", ""},
    {"bare 200", "200", false, false, 200, "", ""},
    {"no access", "589 Denied", false, true, 589, "NO_ACCESS", ""},
    {"no access, useAuth", "589 Denied", true, true, 589, "You have no access to this library.",
     "support team.<br><br>https://help.example/kivo"},
    {"no LDAP", kLdap, false, true, 500, "UNKNOWN_ERROR (LDAP support not compiled into this version)", ""},
    {"no LDAP, useAuth", kLdap, true, true, 500, "The document server reported a system error.",
     "support team.<br><br>https://help.example/kivo (LDAP support not compiled into this version)"},
    {"profile exists", "500-User profile already exists", false, true, 500,
     "UNKNOWN_ERROR (User profile already exists)", ""},
    {"550, text escaped", "550 <b>'x'</b>", false, true, 550,
     "UNKNOWN_ERROR (&#60;b&#62;&#39;x&#39;&#60;&#47;b&#62;)", ""},
    {"500 without text", "500", false, true, 500, "UNKNOWN_ERROR", ""},
    {"short line", "50", false, true, 500, "UNKNOWN_ERROR", ""},
    {"empty line, useAuth", "", true, true, 500, "The document server reported a system error.",
     "support team.<br><br>https://help.example/kivo"},
    // Other codes are the caller's to judge.
    {"unknown command", "400 Unknown command <USER>. Try HELP.", false, false, 400,
     "Unknown command <USER>. Try HELP.", ""},
};

TEST(UserReply, RefusingCodesFailWithTheirMessage) {
    for (const ReplyCase& c : kReplyCases) {
        SCOPED_TRACE(c.name);
        UserReply got = readUserReply(c.line, c.useAuth, kSupport);
        EXPECT_EQ(got.failed, c.wantFailed);
        EXPECT_EQ(got.code, c.wantCode);
        if (*c.wantEnd) {
            EXPECT_TRUE(got.text.starts_with(c.wantText)) << got.text;
            EXPECT_TRUE(got.text.ends_with(c.wantEnd)) << got.text;
        } else {
            EXPECT_EQ(got.text, c.wantText);
        }
    }
}

TEST(UserReply, SupportMessagesWithoutAnAddressEndAsBefore) {
    UserReply got = readUserReply("589 Denied", true, "");
    EXPECT_TRUE(got.text.ends_with("please contact your KIVO support team.<br><br>")) << got.text;
}

using namespace std::string_view_literals;

struct UpdCase {
    const char* name;
    std::string library;
    std::string member;
    std::vector<std::string_view> strings;
    UpdRefusal want;
    const char* wantLine;
};

const std::vector<std::string_view> kTwo = {"ab", "c"};

const UpdCase kUpdCases[] = {
    {"plain", "annot.anx", "1551-ABC10101Uen.A.3", kTwo, UpdRefusal::kNone,
     "UPDFILE annot.anx 1551-ABC10101Uen.A.3 5\n"},
    {"library by ID", "12345", "m", kTwo, UpdRefusal::kNone, "UPDFILE 12345 m 5\n"},
    {"every character a member may hold", "annot.anx", "aZ09-_+.x..y", kTwo, UpdRefusal::kNone,
     "UPDFILE annot.anx aZ09-_+.x..y 5\n"},
    {"empty strings count their NULs",
     "annot.anx",
     "m",
     {"", ""},
     UpdRefusal::kNone,
     "UPDFILE annot.anx m 2\n"},
    {"a NUL inside a string counts",
     "annot.anx",
     "m",
     {"a\0b"sv},
     UpdRefusal::kNone,
     "UPDFILE annot.anx m 4\n"},
    {"member with a blank", "annot.anx", "a b", kTwo, UpdRefusal::kMember, ""},
    {"member climbing out", "annot.anx", "../x", kTwo, UpdRefusal::kMember, ""},
    {"member in a folder", "annot.anx", "a/b", kTwo, UpdRefusal::kMember, ""},
    {"member with a line feed", "annot.anx", "x\n", kTwo, UpdRefusal::kMember, ""},
    {"member with a NUL", "annot.anx", std::string("x\0y", 3), kTwo, UpdRefusal::kMember, ""},
    {"member with a high byte", "annot.anx", "caf\xc3\xa9", kTwo, UpdRefusal::kMember, ""},
    {"empty member", "annot.anx", "", kTwo, UpdRefusal::kMember, ""},
    {"member .", "annot.anx", ".", kTwo, UpdRefusal::kMember, ""},
    {"member ..", "annot.anx", "..", kTwo, UpdRefusal::kMember, ""},
    {"empty library", "", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library with a blank", "annot anx", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library with a tab", "annot\tanx", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library with a CR", "annot.anx\r", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library with a NUL", std::string("a\0b", 3), "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library quoted", "\"annot.anx\"", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"library with an apostrophe", "it's.anx", "m", kTwo, UpdRefusal::kLibrary, ""},
    {"no strings", "annot.anx", "m", {}, UpdRefusal::kNoStrings, ""},
    // "UPDFILE " + library + " m 5\n" is the library and 13 bytes.
    {"longest line", std::string(1010, 'a'), "m", {"x"}, UpdRefusal::kNone, ""},
    {"line one byte too long", std::string(1011, 'a'), "m", {"x"}, UpdRefusal::kLineTooLong, ""},
    {"member too long for the line", "l", std::string(1011, 'm'), {"x"}, UpdRefusal::kLineTooLong, ""},
};

TEST(Updfile, RefusesWhatCannotGoOutAsOneLine) {
    for (const UpdCase& c : kUpdCases) {
        SCOPED_TRACE(c.name);
        std::string line = "untouched";
        EXPECT_EQ(checkUpdfile(c.library, c.member, c.strings, line), c.want);
        if (c.want != UpdRefusal::kNone) {
            EXPECT_EQ(line, "untouched");
        } else if (*c.wantLine) {
            EXPECT_EQ(line, c.wantLine);
        } else {
            EXPECT_EQ(line.size(), kUpdLineMax);
        }
    }
}

// The block's bound, counted without touching the strings: they lie in a
// reserved range that is never read.
TEST(Updfile, BlockAboveTwoGibibytesIsRefused) {
    constexpr size_t kHalf = 0x40000000;
    void* area = mmap(nullptr, kHalf, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    const char* base = static_cast<const char*>(area);
    std::string line;
    // (2^30 - 1) + 1 + (2^30 - 2) + 1 = 0x7FFFFFFF
    std::vector<std::string_view> largest = {{base, kHalf - 1}, {base, kHalf - 2}};
    EXPECT_EQ(checkUpdfile("annot.anx", "m", largest, line), UpdRefusal::kNone);
    EXPECT_EQ(line, "UPDFILE annot.anx m 2147483647\n");
    std::vector<std::string_view> over = {{base, kHalf - 1}, {base, kHalf - 1}};
    EXPECT_EQ(checkUpdfile("annot.anx", "m", over, line), UpdRefusal::kBlockTooLarge);
    std::vector<std::string_view> many(4, std::string_view(base, kHalf));
    EXPECT_EQ(checkUpdfile("annot.anx", "m", many, line), UpdRefusal::kBlockTooLarge);
    munmap(area, kHalf);
}

TEST(Updfile, BufferIsLineBlockAndEndMarker) {
    struct {
        const char* name;
        std::vector<std::string_view> strings;
        std::string_view wantBlock;
    } const cases[] = {
        {"two strings", kTwo, "ab\0c\0"sv},
        {"empty strings", {"", "", ""}, "\0\0\0"sv},
        {"NUL inside", {"a\0b"sv, "\r\n"}, "a\0b\0\r\n\0"sv},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string line;
        ASSERT_EQ(checkUpdfile("annot.anx", "m", c.strings, line), UpdRefusal::kNone);
        EXPECT_EQ(line, "UPDFILE annot.anx m " + std::to_string(c.wantBlock.size()) + "\n");
        std::string out;
        ASSERT_TRUE(updfileBuffer(line, c.strings, out));
        EXPECT_EQ(out, line + std::string(c.wantBlock) + "200-UPDFILE END\n");
    }
}

TEST(UpdateReply, OneLineMakesCodeAndText) {
    struct {
        const char* line;
        int wantCode;
        const char* wantText;
    } const cases[] = {
        {"200-UPDFILE executed.", 200, "UPDFILE executed."},
        {"200-RMFILE executed.", 200, "RMFILE executed."},
        {"520-Cannot update ZIP, function locked by other user", 520,
         "Cannot update ZIP, function locked by other user"},
        {"500-File contained no data 'm'", 500, "File contained no data 'm'"},
        {"200", 200, ""},
        {"20", 500, "Short reply from server.<br><br><span style='color:#D8D8D8'> [uzsession/73]</span>"},
        {"", 500, "Short reply from server.<br><br><span style='color:#D8D8D8'> [uzsession/73]</span>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::unique_ptr<UzResponse> r = allocResponse(RT_UPDFILE);
        ASSERT_NE(r, nullptr);
        fillUpdateResponse(*r, c.line);
        EXPECT_EQ(r->resultCode, c.wantCode);
        EXPECT_EQ(r->resultMessage, c.wantText);
    }
}

TEST(Getcookiepn, MatchesWholeCookieNames) {
    struct {
        Env cookie;
        const char* name;
        std::optional<std::string> want;
    } const cases[] = {
        {"xcat=1; cat=2", "cat", "2"}, {"cat=2;xcat=1", "xcat", "1"}, {"a=1; cat", "cat", std::nullopt},
        {"a=1", "cat", std::nullopt},  {"cat=", "cat", ""},           {std::nullopt, "cat", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cookie.value_or("(unset)"));
        test::EnvGuard env;
        env.set("HTTP_COOKIE", c.cookie);
        EXPECT_EQ(getcookiepn(c.name), c.want);
    }
}

TEST(StrReplace, ReplacesEveryCharacterInPlace) {
    struct {
        const char* text;
        char from;
        char to;
        const char* want;
    } const cases[] = {
        {"a.b.c", '.', '_', "a_b_c"},
        {"abc", '.', '_', "abc"},
        {"", '.', '_', ""},
        {"..", '.', ' ', "  "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(str_replace(text.data(), c.from, c.to), text.data());
        EXPECT_EQ(text, c.want);
    }
    EXPECT_EQ(str_replace(nullptr, '.', '_'), nullptr);
}

}  // namespace
}  // namespace ruva
