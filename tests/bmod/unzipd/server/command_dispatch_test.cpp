// Command words, HELP and the ways a command line can arrive, on a
// debug-mode session over a socketpair.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "tests/bmod/unzipd/server/server_fixture.h"

namespace ruva {
namespace {

using test::readLine;
using test::sendText;

class Dispatch : public test::SessionFixture {};

TEST_F(Dispatch, WordsInAnyCaseAnswerTheirFirstLine) {
    struct Case {
        const char* line;
        std::string first;
    };
    const Case cases[] = {
        {"ver", "200 Version: " + test::serverIdentity()},
        {"Ver", "200 Version: " + test::serverIdentity()},
        {"help", "200 Supported commands: BLOBTYPES CONT CONTV FSRCH FLABEL GET HELP INFO LANGLIST LIST MLLIST "
                 "MLNLIST MLSLIST MPSRCH MSRCH QXSRCH QXFSRCH QXSRCHSGS PUSRCH QUIT RETR SLIST SRCH IDRETR VER"},
        {"BLOB", "400 Unknown command <BLOB>. Try HELP."},
        {"frob Some Args", "400 Unknown command <FROB>. Try HELP."},
        {"qxsrch a b", "400 Syntax error in QXSRCH command. Try HELP QXSRCH"},
        {"QxFsrch a b c", "400 Syntax error in QXFSRCH command. Try HELP QXFSRCH"},
        {"qxsrchsgs a b c 1", "511 Suggestions are not supported for c file"},
        {"srch a b c", "400 Syntax error in SRCH command. Try HELP SRCH"},
        {"FSrch a b c", "400 Syntax error in FSRCH command. Try HELP FSRCH"},
        {"mpsrch a b c d e 99999", "500-MPSRCH failed."},
        {"idretr a b", "400 Syntax error in IDRETR command. Try HELP IDRETR"},
        {"pusrch a", "400 Syntax error in PUSRCH command. Try HELP PUSRCH"},
        {"", "400 Missing command. Try HELP"},
        {"   \t ", "400 Missing command. Try HELP"},
    };
    startAndGreet();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(ask(std::string(c.line) + "\n"), c.first);
    }
    EXPECT_EQ(ask("quit\n"), "200-See you later.");
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    EXPECT_EQ(finish(), 1);
    EXPECT_TRUE(log.has("Note: Invalid command <BLOB> received from 127.0.0.1")) << log.all();
}

TEST_F(Dispatch, FlabelWritesNothing) {
    startAndGreet();
    EXPECT_EQ(ask("FLABEL 12\nVER\n"), "200 Version: " + test::serverIdentity());
}

TEST_F(Dispatch, HelpTopics) {
    struct Case {
        const char* topic;
        const char* line;
    };
    const Case cases[] = {
        {"blobtypes", "200 BLOBTYPES -- List library types supported by the server"},
        {"CONT", "200 CONT dbpat/ID [filepat] -- List ZIP contents"},
        {"contv", "200 CONTV dbpat/ID   [filepat] -- Verbose list of ZIP contents"},
        {"FSRCH", "200 FSRCH pattern dbpat/ID filepat -- Search for text pattern in database file(s)"},
        {"FLABEL", "200 FLABEL HashID -- returns the LDAP ID for the folder"},
        {"GET", "200 GET dbpat/ID -- Retrieve whole ZIP database"},
        {"HELP", "200 HELP -- List all commands supported by the server"},
        {"INFO", "200 INFO -- Display general info and statistics about data on the server"},
        {"LANGLIST", "200 LANGLIST -- List language codes found in libraries on the server"},
        {"List", "200 LIST [dbpat] -- List available databases"},
        {"MLLIST", "200 MLLIST -- List available databases and multilevel nodes"},
        {"MLNLIST", "200 MLNLIST HashId UserId-- List available databases and multilevel nodes to those user has "
                    "upload access"},
        {"MLSLIST", "200 MLSLIST node/Productname/Path  path/name -- List available databases and multilevel "
                    "nodes in the selected node/Productname/Path"},
        {"MSRCH", "200 MSRCH pattern [ProductId] -- Search for all systems matching pattern"},
        {"MPSRCH", "200 MPSRCH pattern prod_id date_from date_to system -- Search for all systems matching search "
                   "conditions"},
        {"QXSRCH", "200 QXSRCH pattern dbpat/ID/\"dbpat1/ID1 dbpat2/ID2 .... dbpatn/IDn\" filepat -- Search for "
                   "pattern in RUVX index(es)"},
        {"QXFSRCH", "200 QXFSRCH pattern dbpat/ID/\"dbpat1/ID1 dbpat2/ID2 .... dbpatn/IDn\" filepat -- Search for "
                    "pattern in Fulltext RUVX index(es)"},
        {"QXSRCHSGS", "200 QXSRCHSGS pattern dbpat/ID fulltext_ruvx_filename maxHits -- Search for suggestions in "
                      "Fulltext RUVX index"},
        {"PUSRCH", "200 PUSRCH dbpat filepat [blk pfx caa ind1 ind2 mar rev adj] -- Search PU-index"},
        {"QUIT", "200 QUIT -- End session with server"},
        {"RETR", "200 RETR dbpat/ID filepat -- Uncompress and retrieve file(s) from database(s)"},
        {"RMFILE", "200 RMFILE dbpat filepat -- Remove a file from a zip database"},
        {"SLIST", "200 SLIST -- List addresses of other known servers"},
        {"SRCH", "200 SRCH pattern dbpat/ID filepat -- Search for text pattern in database file(s)"},
        {"updfile", "200 UPDFILE dbpat/ID filename filelength \\n data 200-UPDFILE END  -- Add/update a file in a "
                    "zip database"},
        {"IDRETR", "200 IDRETR pattern dbpat/ID -- extracting the section contents based on the input pattern in "
                   "the database file(s)"},
        {"VER", "200 VER -- Query server program version"},
        {"USER", "400 No such command <USER>"},
        {"blob", "400 No such command <BLOB>"},
    };
    startAndGreet();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.topic);
        EXPECT_EQ(ask(std::string("HELP ") + c.topic + "\n"), c.line);
    }
    // Each answer was one line: the next command is answered in step.
    EXPECT_EQ(ask("VER\n"), "200 Version: " + test::serverIdentity());
}

TEST_F(Dispatch, LineEndsAndPiecesAreAnsweredAlike) {
    const std::string ver = "200 Version: " + test::serverIdentity();
    startAndGreet();
    for (const char* end : {"\n", "\r", "\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        EXPECT_EQ(ask(std::string("VER") + end), ver);
        // One byte per send.
        std::string line = std::string("ver") + end;
        for (char c : line) ASSERT_TRUE(sendText(sv[1], std::string(1, c)));
        EXPECT_EQ(readLine(sv[1]), ver);
    }
    // The LF of a CR LF split across reads is no empty command.
    EXPECT_EQ(ask("VER\r"), ver);
    EXPECT_EQ(ask("\nVER\n"), ver);
    // Two commands in one write: both answered, in order.
    EXPECT_EQ(ask("VER\nHELP HELP\n"), ver);
    EXPECT_EQ(readLine(sv[1]), "200 HELP -- List all commands supported by the server");
    EXPECT_EQ(ask("HELP QUIT\n"), "200 QUIT -- End session with server");
    // Longest line with its line end: answered.
    EXPECT_EQ(ask("VER" + std::string(131140, ' ') + "\n"), ver);
}

// Waits until the session has taken every byte sent so far, so that the
// next send comes in a read of its own.
void waitTaken(int serverFd) {
    for (int i = 0; i < 5000; ++i) {
        int queued = 0;
        if (ioctl(serverFd, FIONREAD, &queued) != 0 || queued == 0) return;
        usleep(1000);
    }
}

TEST_F(Dispatch, CommandsCutAnywhereAreAllAnsweredInOrder) {
    const std::string text = "VER\nHELP QUIT\nQUIT\n";
    for (size_t cut = 1; cut < text.size(); ++cut) {
        SCOPED_TRACE(cut);
        newSession();
        startAndGreet();
        ASSERT_TRUE(sendText(sv[1], text.substr(0, cut)));
        waitTaken(sv[0]);
        ASSERT_TRUE(sendText(sv[1], text.substr(cut)));
        EXPECT_EQ(readLine(sv[1]), "200 Version: " + test::serverIdentity());
        EXPECT_EQ(readLine(sv[1]), "200 QUIT -- End session with server");
        EXPECT_EQ(readLine(sv[1]), "200-See you later.");
        EXPECT_EQ(readLine(sv[1]), "<EOF>");
        EXPECT_EQ(finish(), 1);
    }
}

TEST_F(Dispatch, LineWithoutEndAtTheLimitEndsTheSession) {
    startAndGreet();
    ASSERT_TRUE(sendText(sv[1], "VER" + std::string(131141, ' ')));
    EXPECT_EQ(readLine(sv[1]), "400 Missing command. Try HELP");
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    finish();
}

// The bytes a command leaves unread count towards the next line's limit.
TEST_F(Dispatch, LimitCountsTheBytesSentWithThePreviousCommand) {
    const std::string ver = "200 Version: " + test::serverIdentity();
    startAndGreet();
    EXPECT_EQ(ask("VER\nVER" + std::string(131140, ' ') + "\n"), ver);
    EXPECT_EQ(readLine(sv[1]), ver);
    EXPECT_EQ(ask("VER\nVER" + std::string(131141, ' ')), ver);
    EXPECT_EQ(readLine(sv[1]), "400 Missing command. Try HELP");
    EXPECT_EQ(readLine(sv[1]), "<EOF>");
    finish();
}

TEST_F(Dispatch, GetFilterEndsTheSessionWithoutReply) {
    for (const char* line : {"GET abc\n", "get ab12\n", "GET x.KVO\n"}) {
        SCOPED_TRACE(line);
        newSession();
        startAndGreet();
        ASSERT_TRUE(sendText(sv[1], line));
        EXPECT_EQ(readLine(sv[1]), "<EOF>");
        EXPECT_EQ(finish(), 0);
    }
}

TEST_F(Dispatch, GetFilterPassesNumbersLibraryNamesAndPatterns) {
    startAndGreet();
    EXPECT_EQ(ask("GET 12\n"), "511 Invalid ID 12");
    EXPECT_EQ(ask("GET x.kvo\n"), "200-GET executed.");
    EXPECT_EQ(ask("GET *\n"), "200-GET executed.");
    EXPECT_EQ(ask("GET\n"), "400 Syntax error in GET command. Try HELP GET");
}

}  // namespace
}  // namespace ruva
