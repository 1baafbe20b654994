// The request's default session against a scripted server: the version
// check, the once-per-request VER, USER under UseLDAP, the hash id of a
// library identity and the help library of the search error page.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/net_util.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ClosedPort;
using test::dbLine;
using test::EnvGuard;
using test::kGreeting;
using test::kMlEnd;
using test::kMlHeader;
using test::PeerScript;
using test::ScriptedPeer;
using test::verLine;

// The client's view of a server: no names for addresses, no RUVA_ADDR.
class RequestSessionWire : public ::testing::Test {
protected:
    void SetUp() override {
        previous = setResolver(&noNames);
        env.set("RUVA_ADDR", std::nullopt);
        env.set("HTTP_MYR_TQB_PORTAL_NAME", std::nullopt);
    }
    void TearDown() override { setResolver(previous); }

    static void pointAt(CapturedRequest& cg, unsigned port) {
        cg->docServAddr = "127.0.0.1:" + std::to_string(port);
    }
    static size_t lines(const std::string& received, const std::string& line) {
        size_t n = 0;
        for (size_t at = received.find(line); at != std::string::npos; at = received.find(line, at + 1)) {
            if (at == 0 || received[at - 1] == '\n') ++n;
        }
        return n;
    }
    // What the peer got before the QUIT a deleted session may still send
    // while the peer closes.
    static std::string beforeQuit(std::string received) {
        if (received.ends_with("QUIT\n")) received.resize(received.size() - 5);
        return received;
    }

    test::NoNames noNames;
    Resolver* previous = nullptr;
    EnvGuard env;
};

// Each case answers VER the same way twice: a refused server must be asked
// again, an accepted one never.
TEST_F(RequestSessionWire, VersionIsCheckedOncePerRequest) {
    struct Case {
        const char* name;
        std::string revision;
        std::string comment;
        int result;
    };
    const Case cases[] = {
        {"R10B is too old", "R10B", "Kivo Browser", 0},
        {"lower case is read too", "r10b", "Kivo Browser", 0},
        {"an older major", "R9Z", "Kivo Browser", 0},
        {"a preliminary R10B", "P10B3", "Kivo Browser", 0},
        {"R10C passes", "R10C", "Kivo Browser", 1},
        {"R11A passes", "R11A", "Kivo Browser", 1},
        {"the daemon's own", "R19K", "Kivo Browser", 1},
        {"an unreadable revision passes", "unknown", "Kivo Browser", 1},
        {"an empty comment names the server", "R19K", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ver = verLine(c.revision, c.comment);
        ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send(ver).awaitLine().send(ver).close()});
        ASSERT_TRUE(peer.ok());
        const std::string server = "127.0.0.1:" + std::to_string(peer.port());
        {
            CapturedRequest cg;
            pointAt(cg, peer.port());
            ASSERT_EQ(cg->createDefaultSession(), 1);
            EXPECT_EQ(cg->establishDefaultSession(), c.result);
            EXPECT_EQ(cg->servRev, c.revision);
            EXPECT_EQ(cg->servProg, "ruvadaemon");
            EXPECT_EQ(cg->servArticle, "DOCSRV 1");
            if (c.result) {
                EXPECT_EQ(cg->getError(), "");
                EXPECT_EQ(cg->servId, c.comment.empty() ? "[" + server + "]" : c.comment);
            } else {
                EXPECT_EQ(cg->getError(), formatChecked(cg->msg(205, "cgihandler/7"), "R10C", c.revision));
                EXPECT_EQ(cg->servId, "");
            }
            EXPECT_EQ(cg->establishDefaultSession(), c.result);
        }
        peer.stop();
        EXPECT_EQ(lines(peer.received(0), "VER\n"), c.result ? 1u : 2u) << peer.received(0);
        EXPECT_EQ(peer.connections(), 1u);
    }
}

TEST_F(RequestSessionWire, ServerThatCannotBeUsedIsMessage204) {
    ClosedPort closed;
    ASSERT_TRUE(closed.ok());
    ScriptedPeer denied({PeerScript().send("500 Access denied.\n").close()});
    ScriptedPeer unknown(
        {PeerScript().send(kGreeting).awaitLine().send("400 Unknown command <VER>. Try HELP.\n").close()});
    ASSERT_TRUE(denied.ok());
    ASSERT_TRUE(unknown.ok());
    struct Case {
        const char* name;
        unsigned port;
        const char* reason;  // in the socket's report; null: any
    };
    const Case cases[] = {
        {"nothing listens", closed.port(), nullptr},
        {"the server refuses the session", denied.port(), "Access denied."},
        {"VER not answered 200", unknown.port(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedRequest cg;
        pointAt(cg, c.port);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(cg->establishDefaultSession(), 0);
        // A refusal is final: no connect wait is spent on it.
        EXPECT_LT(std::chrono::steady_clock::now() - start, uzWaits().connect);
        const std::string& error = cg->getError();
        EXPECT_TRUE(error.starts_with("Could not connect to the document server.")) << error;
        EXPECT_NE(error.find("ruvadaemon 127.0.0.1:" + std::to_string(c.port) + " (Socket reports: "),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("[cgihandler/6]"), std::string::npos);
        if (c.reason) {
            EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        }
        EXPECT_EQ(cg->servId, "");
    }
}

TEST_F(RequestSessionWire, UseLdapRegistersTheUserOrFails) {
    const std::string support = "http://support.example/?a=1&b=2";
    const std::string shown = "http:&#47;&#47;support.example&#47;?a=1&amp;b=2";
    const std::string link = "<a href=\"" + shown + "\">" + shown + "</a>";
    struct Case {
        const char* name;
        bool useAuth;
        // The user's name: without UseAUTH from the variable authEnv names,
        // with it (library state Publish) the super-user name.
        std::optional<std::string> authVariable;
        std::string superUser;
        std::optional<std::string> reply;  // to USER; none: USER must not be sent
        int result;
        std::string errorStart;
    };
    const Case cases[] = {
        {"the daemon has no LDAP", false, "bob", "", "500-LDAP support not compiled into this version\n", 0,
         "UNKNOWN_ERROR"},
        {"the user is known", false, "bob", "", "200-User profile successfuly set\n", 1, ""},
        {"UseAUTH: a system error", true, std::nullopt, "bob",
         "500-LDAP support not compiled into this version\n", 0,
         "A system error prevented checking your access"},
        {"UseAUTH: no access", true, std::nullopt, "bob", "589 No access\n", 0, "You have no access"},
        {"UseAUTH: no login", true, std::nullopt, "", std::nullopt, 0,
         "Your login information is missing or empty."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PeerScript script;
        script.send(kGreeting);
        for (int round = 0; round < 2; ++round) {
            script.awaitLine().send(verLine());
            if (c.reply) script.awaitLine().send(*c.reply);
        }
        ScriptedPeer peer({script.close()});
        ASSERT_TRUE(peer.ok());
        env.set("KV_TEST_AUTH", c.authVariable);
        {
            CapturedRequest cg;
            pointAt(cg, peer.port());
            cg->flags |= kCgiUseLdap | (c.useAuth ? kCgiUseAuth : 0);
            cg->authEnv = "KV_TEST_AUTH";
            cg->strLibState = "Publish";
            cg->superUserName = c.superUser;
            cg->extranetSupportURL = support;
            EXPECT_EQ(cg->establishDefaultSession(), c.result);
            EXPECT_TRUE(cg->getError().starts_with(c.errorStart)) << cg->getError();
            if (c.useAuth) {
                EXPECT_TRUE(cg->getError().ends_with(link + "<br><br>")) << cg->getError();
            }
            // A refused user is asked again, never let through.
            EXPECT_EQ(cg->establishDefaultSession(), c.result);
        }
        peer.stop();
        const std::string received = peer.received(0);
        EXPECT_EQ(lines(received, "USER bob\n"), !c.reply ? 0u : c.result ? 1u : 2u) << received;
    }
}

TEST_F(RequestSessionWire, HashIdOfALibraryIdentity) {
    struct Case {
        const char* name;
        std::string identity;
        std::string sent;
        std::string reply;
        int result;
        std::string hashID;
        std::string title;
        bool outputs = true;  // false: both left out
    };
    const Case cases[] = {
        {"found", "EN/DOCLIB1 R1A", "MLLIST \"[EN/DOCLIB1 R1A]\"\n",
         std::string(kMlHeader) + dbLine("   guide.kvo", 9140, "Getting started [EN/DOCLIB1 R1A] STA:REL") +
             kMlEnd,
         9140, "9140", "Getting started"},
        {"outputs left out", "EN/DOCLIB1 R1A", "MLLIST \"[EN/DOCLIB1 R1A]\"\n",
         std::string(kMlHeader) + dbLine("   guide.kvo", 9140, "Getting started [EN/DOCLIB1 R1A] STA:REL") +
             kMlEnd,
         9140, "kept", "kept", false},
        {"title escaped for the page", "EN/X", "MLLIST \"[EN/X]\"\n",
         std::string(kMlHeader) + dbLine("x.kvo", 7, "Tools & tips [EN/X]") + kMlEnd, 7, "7",
         "Tools &amp; tips"},
        {"a quote in the identity stays inside the word", "a\"b", "MLLIST \"[a\\\"b]\"\n",
         "511 Invalid database '[a\"b]'\n", 0, "kept", "kept"},
        {"no such library", "EN/NONE", "MLLIST \"[EN/NONE]\"\n", "511 Invalid database '[EN/NONE]'\n", 0,
         "kept", "kept"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(
            {PeerScript().send(kGreeting).awaitLine().send(verLine()).awaitLine().send(c.reply).close()});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            pointAt(cg, peer.port());
            std::string hashID = "kept";
            std::string title = "kept";
            EXPECT_EQ(
                cg->getHashIDfromLI(c.identity, c.outputs ? &hashID : nullptr, c.outputs ? &title : nullptr),
                c.result);
            EXPECT_EQ(hashID, c.hashID);
            EXPECT_EQ(title, c.title);
        }
        peer.stop();
        EXPECT_EQ(beforeQuit(peer.received(0)), "VER\n" + c.sent);
    }
}

TEST_F(RequestSessionWire, SearchErrorPageLinksTheLastHelpLibrary) {
    struct Case {
        const char* name;
        std::string reply;
        std::string helpID;
    };
    const Case cases[] = {
        {"the later of two",
         std::string(kMlHeader) + dbLine("a_kivo_help.khx", 1, "Help [EN/H1]") +
             dbLine("b_kivo_help.khx", 2, "Help [EN/H2]") + dbLine("guide.kvo", 3, "Guide [EN/G]") + kMlEnd,
         "b_kivo_help.khx"},
        {"a failed listing keeps the old one", "500-Failed to list libraries\n", "old.khx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send(c.reply).close()});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            pointAt(cg, peer.port());
            cg.field("ST", "fulltext");
            cg->helpID = "old.khx";
            ASSERT_EQ(cg->createDefaultSession(), 1);
            cg->outputError("%s", std::string("no hits"));
            EXPECT_EQ(cg->helpID, c.helpID);
            EXPECT_NE(cg.written().find("&DB=" + c.helpID + "&FN=help.html&CH=DBsearching"),
                      std::string::npos)
                << cg.written();
        }
        peer.stop();
        EXPECT_EQ(beforeQuit(peer.received(0)), "MLLIST\n");
    }
}

// The document frame of a library expires as the library's identity says:
// a preliminary one sooner. The server names it by its listing entry of ID.
TEST_F(RequestSessionWire, KivodocExpiryFollowsTheLibrarysIdentity) {
    struct Case {
        const char* name;
        std::string reply;
        time_t period;
    };
    const Case cases[] = {
        {"preliminary", std::string(kMlHeader) + dbLine("guide.kvo", 4, "Guide [EN/DOCLIB1 P1A]") + kMlEnd, 100},
        {"released", std::string(kMlHeader) + dbLine("guide.kvo", 4, "Guide [EN/DOCLIB1 R1A]") + kMlEnd, 200},
        {"unknown to the server", "511 Invalid database '4'\n", 200},
    };
    setResponseClock([] { return time_t{1700000000}; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(
            {PeerScript().send(kGreeting).awaitLine().send(verLine()).awaitLine().send(c.reply).close()});
        ASSERT_TRUE(peer.ok());
        std::string expires;
        {
            CapturedRequest cg;
            pointAt(cg, peer.port());
            cg->notesEnabled = true;
            cg->expiryPrelDoc = 100;
            cg->expiryRRelDoc = 200;
            cg.field("FN", "kivodoc.html");
            cg.field("ID", "4");
            expires = cg->createExpireHeader(c.period).value_or("?");
            ASSERT_EQ(cg->allocDocBuf(0), 1);
            ASSERT_EQ(cg->docWriteBuf("<p>x</p>"), 1);
            EXPECT_EQ(cg->output(), 1);
            EXPECT_NE(cg.written().find(expires), std::string::npos) << cg.written();
        }
        peer.stop();
        EXPECT_EQ(beforeQuit(peer.received(0)), "VER\nMLLIST 4\n");
    }
    setResponseClock(nullptr);
}

// With AllowUZonURL the program's own links name the request's server.
TEST_F(RequestSessionWire, ProgramUrlNamesTheServerOnlyWithAllowUzOnUrl) {
    for (bool allow : {false, true}) {
        SCOPED_TRACE(allow);
        ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send(verLine()).close()});
        ASSERT_TRUE(peer.ok());
        CapturedRequest cg;
        pointAt(cg, peer.port());
        cg->flags = allow ? (cg->flags | kCgiAllowUzOnUrl) : (cg->flags & ~kCgiAllowUzOnUrl);
        ASSERT_EQ(cg->establishDefaultSession(), 1);
        ASSERT_EQ(cg->allocDstBuf(4096), 1);
        cg->curDb = "guide.kvo";
        EXPECT_EQ(cg->dstWriteKvoURL(), 1);
        const std::string uz = allow ? "UZ=127.0.0.1:" + std::to_string(peer.port()) + "&amp;" : "";
        EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), cg->urlProto + cg->kivoServName + "?" + uz + "DB=guide.kvo&amp;");
    }
}

}  // namespace
}  // namespace ruva
