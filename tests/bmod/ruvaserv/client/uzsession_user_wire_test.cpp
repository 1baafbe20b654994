// USER, RMFILE and UPDFILE over a scripted peer: the bytes each puts on the
// wire, what each makes of the answer, and that a refused call sends none.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/client/uzsession.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using std::chrono::milliseconds;
using Env = std::optional<std::string>;

constexpr const char* kGreeting = "200 UZD ruvadaemon \"DOCSRV 1\" R19K \"\"\n";

// The greeting, one command (a line, or bytes bytes) answered with reply,
// then QUIT answered when the session is deleted.
test::PeerScript answering(const std::string& reply, size_t bytes = 0) {
    test::PeerScript script;
    script.send(kGreeting);
    if (bytes) {
        script.awaitBytes(bytes);
    } else {
        script.awaitLine();
    }
    return script.send(reply).awaitLine().send("200-See you later.\n").close();
}

void aimAt(UzSession& s, const test::ScriptedPeer& peer) {
    s.iaddr = htonl(INADDR_LOOPBACK);
    s.port = peer.port();
}

struct UserCase {
    const char* name;
    Env portal;     // HTTP_MYR_TQB_PORTAL_NAME
    Env authUser;   // AUTH_USER
    Env groupUser;  // HTTP_KIVO_GROUP_USER
    const char* authEnv;
    const char* libState;
    bool useAuth;
    bool profile;       // UserP(1, "sys a", useAuth)
    const char* reply;  // "" when nothing may be sent
    const char* wantLine;
    bool wantResponse;
    const char* wantError;  // the beginning of getError when null
};

const UserCase kUserCases[] = {
    {"portal header, profile set", "x 63 0", "bob", "grp", "AUTH_USER", "", false, true,
     "200-User profile successfuly set\n", "USER \"x 63 0\" 1 \"sys a\"\n", true, ""},
    {"portal header, no LDAP", "x 63 0", "bob", "grp", "AUTH_USER", "", false, false,
     "500-LDAP support not compiled into this version\n", "USER \"x 63 0\"\n", false,
     "UNKNOWN_ERROR (LDAP support not compiled into this version)"},
    {"authEnv, no access", std::nullopt, "bob", "grp", "AUTH_USER", "", false, false, "589 Denied\n",
     "USER bob\n", false, "NO_ACCESS"},
    {"useAuth, Publish, 550", std::nullopt, "bob", "grp", "AUTH_USER", "Publish", true, false, "550 Failed\n",
     "USER root\n", false, "The document server reported a system error."},
    {"useAuth, not Publish, 589", std::nullopt, "bob", "grp", "AUTH_USER", "Test", true, true, "589 Denied\n",
     "USER grp 1 \"sys a\"\n", false, "You have no access to this library."},
    {"anonymous behind REMOTE_USER", std::nullopt, std::nullopt, std::nullopt, "REMOTE_USER", "", false,
     false, "500-LDAP support not compiled into this version\n", "USER \"\"\n", false, "UNKNOWN_ERROR (LDAP"},
    {"login missing", std::nullopt, std::nullopt, "grp", "AUTH_USER", "", false, false, "", "", false,
     "LOGIN_MISSING"},
    {"no group user", std::nullopt, "bob", std::nullopt, "AUTH_USER", "Test", true, false, "", "", false,
     "You have no access to this library, as no user group was given for you."},
};

TEST(UserWire, SendsTheChosenNameAndReadsOneLine) {
    for (const UserCase& c : kUserCases) {
        SCOPED_TRACE(c.name);
        test::EnvGuard env;
        env.set("HTTP_MYR_TQB_PORTAL_NAME", c.portal);
        env.set("AUTH_USER", c.authUser);
        env.set("REMOTE_USER", std::nullopt);
        env.set("HTTP_KIVO_GROUP_USER", c.groupUser);
        test::ScriptedPeer peer({answering(c.reply)});
        ASSERT_TRUE(peer.ok());
        {
            UzSession s;
            aimAt(s, peer);
            s.authEnv = c.authEnv;
            s.libState = c.libState;
            s.superUserName = "root";
            s.supportAddress = "https://help.example/kivo";
            std::unique_ptr<UzResponse> r = c.profile ? s.UserP(1, "sys a", c.useAuth) : s.User(c.useAuth);
            if (c.wantResponse) {
                ASSERT_NE(r, nullptr) << s.getError();
                EXPECT_EQ(r->type, RT_USER);
                EXPECT_EQ(r->resultCode, 200);
                ASSERT_NE(r->user(), nullptr);
                EXPECT_FALSE(r->user()->filled());
            } else {
                EXPECT_EQ(r, nullptr);
                EXPECT_TRUE(s.getError().starts_with(c.wantError)) << s.getError();
            }
        }
        peer.stop();
        if (*c.reply) {
            EXPECT_EQ(peer.received(0), std::string(c.wantLine) + "QUIT\n");
        } else {
            EXPECT_EQ(peer.connections(), 0u);
        }
    }
}

using namespace std::string_view_literals;

const std::vector<std::string_view> kTenStrings = {"Note", "2024-05-01",       "12:00",  "alice", "3", "",
                                                   "x\ty", "line 1\r\nline 2", "a\0b"sv, "end"};

std::string tenStringsBlock() {
    std::string block;
    for (std::string_view text : kTenStrings) block.append(text).push_back('\0');
    return block;
}

TEST(UpdfileWire, LineBlockAndEndMarkerArriveWhole) {
    std::string block = tenStringsBlock();
    std::string wire = "UPDFILE annot.anx 1551-ABC10101Uen.A.3 " + std::to_string(block.size()) + "\n" +
                       block + "200-UPDFILE END\n";
    test::ScriptedPeer peer({answering("200-UPDFILE executed.\n", wire.size())});
    ASSERT_TRUE(peer.ok());
    {
        UzSession s;
        aimAt(s, peer);
        std::unique_ptr<UzResponse> r = s.updatafile("annot.anx", "1551-ABC10101Uen.A.3", kTenStrings);
        ASSERT_NE(r, nullptr) << s.getError();
        EXPECT_EQ(r->type, RT_UPDFILE);
        EXPECT_EQ(r->resultCode, 200);
        EXPECT_EQ(r->resultMessage, "UPDFILE executed.");
        EXPECT_TRUE(s.afterUpdate);
    }
    peer.stop();
    EXPECT_EQ(peer.received(0), wire + "QUIT\n");
}

// A connection lost after the upload went out: the block is never sent
// again, and no answer is awaited elsewhere.
TEST(UpdfileWire, LostConnectionIsNotRetried) {
    test::ScriptedPeer peer(
        {test::PeerScript().send(kGreeting).awaitLine().reset(), answering("200-UPDFILE executed.\n")});
    ASSERT_TRUE(peer.ok());
    {
        UzSession s;
        aimAt(s, peer);
        EXPECT_EQ(s.updatafile("annot.anx", "m", kTenStrings), nullptr);
        EXPECT_FALSE(s.getError().empty());
    }
    peer.stop();
    EXPECT_TRUE(peer.received(0).starts_with("UPDFILE annot.anx m "));
    EXPECT_EQ(peer.received(1).find("UPDFILE"), std::string::npos);
}

TEST(UpdfileWire, RefusedCallsSendNothing) {
    struct {
        const char* name;
        std::string library;
        std::string member;
        std::vector<std::string_view> strings;
        const char* wantError;
    } const cases[] = {
        {"member with a blank", "annot.anx", "a b", kTenStrings,
         "Cannot send command to server, invalid character"},
        {"member climbing out", "annot.anx", "../x", kTenStrings,
         "Cannot send command to server, invalid character"},
        {"member with a line feed", "annot.anx", "x\n", kTenStrings,
         "Cannot send command to server, invalid character"},
        {"empty member", "annot.anx", "", kTenStrings, "Cannot send command to server, invalid character"},
        {"no strings", "annot.anx", "m", {}, "Cannot send command to server, invalid character"},
        {"quoted library", "\"annot.anx\"", "m", kTenStrings,
         "Cannot send command to server, invalid character"},
        {"line too long",
         std::string(1011, 'a'),
         "m",
         {"x"},
         "Cannot send command to server, too long command."},
    };
    test::ScriptedPeer peer({answering("200-UPDFILE executed.\n")});
    ASSERT_TRUE(peer.ok());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UzSession s;
        aimAt(s, peer);
        EXPECT_EQ(s.updatafile(c.library, c.member, c.strings), nullptr);
        EXPECT_TRUE(s.getError().starts_with(c.wantError)) << s.getError();
    }
    peer.stop();
    EXPECT_EQ(peer.connections(), 0u);
}

TEST(RmfileWire, SendsLibraryAndMembersAndReadsOneLine) {
    struct {
        const char* reply;
        int wantCode;
        const char* wantText;
    } const cases[] = {
        {"200-RMFILE executed.\n", 200, "RMFILE executed."},
        {"520-Cannot perform ZIP updates, the update function is busy\n", 520,
         "Cannot perform ZIP updates, the update function is busy"},
        {"500-Cannot remove database, file does not exist 'annot.anx'\n", 500,
         "Cannot remove database, file does not exist 'annot.anx'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        test::ScriptedPeer peer({answering(c.reply)});
        ASSERT_TRUE(peer.ok());
        {
            UzSession s;
            aimAt(s, peer);
            std::unique_ptr<UzResponse> r = s.rmfile("annot.anx", "1551-abc10101uen.a.3");
            ASSERT_NE(r, nullptr) << s.getError();
            EXPECT_EQ(r->type, RT_UPDFILE);
            EXPECT_EQ(r->resultCode, c.wantCode);
            EXPECT_EQ(r->resultMessage, c.wantText);
            EXPECT_TRUE(s.afterUpdate);
        }
        peer.stop();
        EXPECT_EQ(peer.received(0), "RMFILE \"annot.anx\" 1551-abc10101uen.a.3\nQUIT\n");
    }
}

// Removal is not repeated on a new connection after the first was lost.
TEST(RmfileWire, LostConnectionIsNotRetried) {
    test::ScriptedPeer peer(
        {test::PeerScript().send(kGreeting).awaitLine().reset(), answering("200-RMFILE executed.\n")});
    ASSERT_TRUE(peer.ok());
    {
        UzSession s;
        aimAt(s, peer);
        EXPECT_EQ(s.rmfile("annot.anx", "m"), nullptr);
        EXPECT_FALSE(s.getError().empty());
    }
    peer.stop();
    EXPECT_EQ(peer.received(0), "RMFILE \"annot.anx\" m\n");
    EXPECT_EQ(peer.received(1).find("RMFILE"), std::string::npos);
}

}  // namespace
}  // namespace ruva
