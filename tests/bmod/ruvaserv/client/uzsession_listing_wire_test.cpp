// The listing commands over a scripted peer: the lines they send, and that
// the session stays in step with the replies whatever way they end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzsession.h"
#include "common/tokens.h"
#include "tests/bmod/ruvaserv/client/session_wire_support.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using std::chrono::milliseconds;
using test::PeerScript;
using test::ScriptedPeer;

constexpr const char* kGreeting = "200 UZD ruvadaemon \"CXA 113 01\" R19K \"Test server\"\n";
constexpr const char* kVerReply = "200 Version: ruvadaemon \"CXA 113 01\" R19K \"Test server\"\n";

// A connection that greets, answers the first command line with reply and
// then closes.
PeerScript answering(const std::string& reply) {
    return PeerScript().send(kGreeting).awaitLine().send(reply).close();
}

// A connection that answers the first command with reply and a second one
// (VER) with its line.
PeerScript answeringThenVer(const std::string& reply) {
    return PeerScript().send(kGreeting).awaitLine().send(reply).awaitLine().send(kVerReply).close();
}

using test::firstLine;
using test::sessionTo;

TEST(UzSessionListingWire, LinesSent) {
    using Op = std::function<std::unique_ptr<UzResponse>(UzSession&)>;
    const struct {
        const char* name;
        Op op;
        const char* line;
    } cases[] = {
        {"library with a dot", [](UzSession& s) { return s.list("a.b"); }, "LIST \"a.b\"\n"},
        {"plain library", [](UzSession& s) { return s.list("guide"); }, "LIST guide\n"},
        {"all libraries", [](UzSession& s) { return s.list(""); }, "LIST\n"},
        {"library id", [](UzSession& s) { return s.mllist("[EN/DOCLIB1 R1A]"); }, "MLLIST \"[EN/DOCLIB1 R1A]\"\n"},
        {"node", [](UzSession& s) { return s.mllist("123"); }, "MLLIST 123\n"},
        {"upload folders, never quoted", [](UzSession& s) { return s.mlnlist("12.5", "u1"); }, "MLNLIST 12.5 u1\n"},
        {"folder by name", [](UzSession& s) { return s.mlslist("Product A", "name"); },
         "MLSLIST \"Product A\" name\n"},
        {"servers", [](UzSession& s) { return s.slist(); }, "SLIST\n"},
        {"contents, no pattern", [](UzSession& s) { return s.cont("g*.kvo"); }, "CONT \"g*.kvo\"\n"},
        {"contents by pattern", [](UzSession& s) { return s.contv("12", "*.html"); }, "CONTV 12 *.html\n"},
        {"help", [](UzSession& s) { return s.help(); }, "HELP\n"},
        {"help on a command", [](UzSession& s) { return s.help("USER"); }, "HELP USER\n"},
        {"info", [](UzSession& s) { return s.info(); }, "INFO\n"},
        {"languages", [](UzSession& s) { return s.langList(); }, "LANGLIST\n"},
        {"library kinds", [](UzSession& s) { return s.blobTypes(); }, "BLOBTYPES\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({answering("400 No.\n")});
        ASSERT_TRUE(peer.ok());
        auto s = sessionTo(peer);
        auto r = c.op(*s);
        ASSERT_NE(r, nullptr) << s->getError();
        EXPECT_EQ(r->resultCode, 400);
        s.reset();
        peer.stop();
        EXPECT_EQ(firstLine(peer), c.line);
    }
}

TEST(UzSessionListingWire, ChangedLibraryEndsContWithoutWaiting) {
    ScriptedPeer peer({answeringThenVer(
        "300-Contents of Database guide.kvo\n"
        "300 a.html\n"
        "577 Library \"reference.kvo\" is being updated. Please perform this operation after some time.\n")});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->cont("*.kvo");
    ASSERT_NE(r, nullptr) << s->getError();
    // Read as a member, the line left the reply waiting for more: 500.
    EXPECT_EQ(r->resultCode, 577);
    std::string message = r->resultMessage;
    char* cursor = message.data();
    getNextToken(&cursor);
    const char* library = getNextToken(&cursor);
    ASSERT_NE(library, nullptr);
    EXPECT_STREQ(library, "reference.kvo");
    ASSERT_TRUE(r->cont()->filled());
    EXPECT_EQ(r->cont()->filename, "a.html");
    EXPECT_EQ(r->cont()->next, nullptr);

    auto v = s->ver();
    ASSERT_NE(v, nullptr) << s->getError();
    EXPECT_EQ(v->resultCode, 200);
    EXPECT_EQ(peer.connections(), 1u);
}

TEST(UzSessionListingWire, BrokenReplyIsNeverReadAsTheNext) {
    // A short line in the middle: the rest of that reply must not answer VER.
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .send("300-Database     Size    Entries CTime \"Comment\"\n"
                                 "300 \"        a.kvo\"        1     1          1 \n"
                                 "20\n"
                                 "300 \"        b.kvo\"        2     2          2 \n"
                                 "200-LIST executed.\n")
                           .silence(),
                       answering(kVerReply)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->list("");
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(r->resultMessage, getMsgStr(396, "uzsession/17"));
    EXPECT_EQ(s->flags & kSessConnected, 0);

    auto v = s->ver();
    ASSERT_NE(v, nullptr) << s->getError();
    EXPECT_EQ(v->resultCode, 200);
    ASSERT_TRUE(v->connect()->filled());
    EXPECT_EQ(*v->connect()->servName, "ruvadaemon");
    EXPECT_EQ(peer.connections(), 2u);
}

TEST(UzSessionListingWire, RefusedUploadListEndsTheSession) {
    ScriptedPeer peer({answering("550-No folder with upload access available\n"), answering(kVerReply)});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->mlnlist("5", "0");
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 550);
    EXPECT_EQ(s->flags & kSessConnected, 0);
    auto v = s->ver();
    ASSERT_NE(v, nullptr) << s->getError();
    EXPECT_EQ(v->resultCode, 200);
}

TEST(UzSessionListingWire, VerNamesTheServer) {
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .send(kVerReply)
                           .awaitLine()
                           .send("200 Version: ruvadaemon \"CXA 113 01\" R19K \"\"\n")
                           .close()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->ver();
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(s->serverName, "Test server");
    EXPECT_EQ(r->connect()->revision, "R19K");
    r = s->ver();
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(s->serverName, " ");
}

TEST(UzSessionListingWire, QuitDisconnectsWhateverTheAnswer) {
    ScriptedPeer peer({PeerScript().send(kGreeting).awaitLine().send("500 Nope\n").silence()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    auto r = s->quit();
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(s->flags & kSessConnected, 0);
}

TEST(UzSessionListingWire, ContvWaitsLongerThanTheCommandTimeout) {
    // The daemon may refresh its catalogue before a CONTV line.
    const UzWaits saved = uzWaits();
    UzWaits waits = saved;
    waits.settle = std::chrono::seconds(4);
    setUzWaits(waits);
    ScriptedPeer peer({PeerScript()
                           .send(kGreeting)
                           .awaitLine()
                           .delay(milliseconds(2000))
                           .send("300-  Length       Method     Size Ratio CRC-32 guide.kvo\n"
                                 "300       12       Stored       12  0% 0000abcd a.txt\n"
                                 "200-CONTV executed.\n")
                           .close()});
    ASSERT_TRUE(peer.ok());
    auto s = sessionTo(peer);
    s->commandTimeout = 1;
    auto r = s->contv("guide.kvo");
    setUzWaits(saved);
    ASSERT_NE(r, nullptr) << s->getError();
    EXPECT_EQ(r->resultCode, 200);
    ASSERT_TRUE(r->cont()->filled());
    EXPECT_EQ(r->cont()->crc, 0xabcdu);
}

}  // namespace
}  // namespace ruva
