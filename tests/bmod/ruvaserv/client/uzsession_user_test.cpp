#include "bmod/ruvaserv/client/uzsession_user.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
}  // namespace ruva
