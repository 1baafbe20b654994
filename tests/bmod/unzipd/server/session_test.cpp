// A session of a debug-mode server without listening sockets, on a
// socketpair: the server runs handleConnection on a thread, the test is
// the client.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "tests/bmod/unzipd/server/server_fixture.h"

namespace ruva {
namespace {

using test::readLine;
using test::sendText;

class Session : public test::SessionFixture {};

TEST_F(Session, GreetingCommandsAndQuit) {
    start();
    EXPECT_EQ(readLine(sv[1]), "200 UZD " + test::serverIdentity());
    EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
    EXPECT_EQ(ask("ver\r\n"), "200 Version: " + test::serverIdentity());
    EXPECT_EQ(ask("\n"), "400 Missing command. Try HELP");
    EXPECT_EQ(ask("   \t \r"), "400 Missing command. Try HELP");
    EXPECT_EQ(ask("frob Some Args\n"), "400 Unknown command <FROB>. Try HELP.");
    EXPECT_EQ(ask("QUIT\n"), "200-See you later.");
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(ns->flags & kNsQuit);
    EXPECT_EQ(ns->newtcpfd, -1);
    EXPECT_TRUE(log.has("Info: New tcp session from 127.0.0.1")) << log.all();
    EXPECT_TRUE(log.has("Info: Ending tcp session from 127.0.0.1")) << log.all();
}

TEST_F(Session, CommentControlsAreBlanksInGreetingAndVer) {
    ns->serverComment = "two\nlines\tand\r";
    start();
    EXPECT_EQ(readLine(sv[1]), "200 UZD " + test::serverIdentity("two lines and "));
    EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity("two lines and "));
    ns->serverComment.clear();
    ns->ProgName.clear();
    EXPECT_EQ(ask("VER\n"), std::string("200 Version: unknown \"") + kDaemonArticle + "\" " + kSystemRevision + " \"\"");
    EXPECT_EQ(ask("QUIT\n"), "200-See you later.");
    EXPECT_EQ(finish(), 1);
}

TEST_F(Session, ClientClosingEndsTheSession) {
    start();
    EXPECT_EQ(readLine(sv[1]), "200 UZD " + test::serverIdentity());
    shutdown(sv[1], SHUT_WR);
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    EXPECT_EQ(finish(), 1);
}

TEST_F(Session, IdleClientTimesOutInDebugMode) {
    ns->idleTimeout = 1;
    start();
    EXPECT_EQ(readLine(sv[1]), "200 UZD " + test::serverIdentity());
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(ns->flags & kNsQuit);
    EXPECT_TRUE(log.has("Info: Client timeout, closing connection")) << log.all();
}

TEST_F(Session, LineReachingTheLimitIsRefusedAndRestDataKept) {
    char buf[64];
    ASSERT_TRUE(sendText(sv[1], "ABCDEFGHIJ"));
    EXPECT_EQ(ns->getClientCommand(buf, 8), -1);
    ASSERT_TRUE(sendText(sv[1], "\nVER\nrest"));
    EXPECT_EQ(ns->getClientCommand(buf, sizeof buf - 1), 2);
    EXPECT_STREQ(buf, "IJ");
    EXPECT_EQ(ns->restData, "VER\nrest");
}

}  // namespace
}  // namespace ruva
