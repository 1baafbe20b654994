// Member retrieval over a scripted server: the command lines sent for each
// argument and reply, the page it leaves, and the message of each failure.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/html_escape.h"
#include "common/net_util.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::kMlEnd;
using test::kMlHeader;
using test::ScriptedPeer;

using test::contvReply;
using test::folderLine;
using test::kLibTime;
using test::listLine;
using test::listReply;
using test::Member;
using test::mlReply;
using test::retrReply;

constexpr char kOldPage[] = "old page";

const std::string kPage = "<html><body>a</body></html>\n";
const std::string kBeingUpdated =
    "577 Library \"guide.kvo\" is being updated. Please perform this operation after some time.\n";
const std::string kRemoved = "578 Library \"guide.kvo\" has been removed.\n";
const std::string kListGuide = listReply(listLine("guide.kvo"));
const std::string kContvA = contvReply("guide.kvo", {{100, "a.html"}});

// The message a case expects, given the request after the call and the
// server's "address:port"; "@server" and "@session" (the session's error
// text) stand for what only the call knows.
using Expected = std::function<std::string(const CgiHandler&, const std::string&)>;

Expected message(int index, const char* tag, std::vector<std::string> args) {
    return [=](const CgiHandler& cg, const std::string& server) {
        std::vector<std::string> filled = args;
        for (std::string& a : filled) {
            if (a == "@server") a = server;
            if (a == "@session") a = cg.sess->getError();
        }
        switch (filled.size()) {
            case 1: return formatChecked(cg.msg(index, tag), filled[0]);
            case 2: return formatChecked(cg.msg(index, tag), filled[0], filled[1]);
            default: return formatChecked(cg.msg(index, tag), filled[0], filled[1], filled[2], filled[3]);
        }
    };
}


struct Case {
    const char* name;
    std::string library;
    std::string file;
    const char* ac;  // AC field, null for none
    std::vector<std::string> replies;  // one per command, in order
    std::string sent;                  // every line the server received
    int result;
    std::string data;  // docBuf's bytes on success
    time_t docCTime;
    std::string mimeType;
    std::string mimeFilename;
    std::string fileAfter;  // the caller's string afterwards
    Expected error;         // null: no error text
    bool missing = false;
    bool keepsOldPage = false;  // failed before the member was asked for
    int folder = 0;
};

class Retrieval : public test::ScriptedServerTest {};

TEST_F(Retrieval, CommandsRepliesAndOutcomes) {
    const std::string big(5000, 'x');
    const std::string subPage(465, 's');
    const std::string tooLong(256, 'n');
    const Case cases[] = {
        {"internal number: MLLIST, then the entry's library at RETR", "12", "a.html", nullptr,
         {mlReply(test::dbLine("guide.kvo", 4242, "Guide")), contvReply("4242", {{100, "a.html"}}),
          retrReply("a.html", kPage)},
         "MLLIST 12\nCONTV 12 a.html\nRETR 4242 a.html\n", 1, kPage, kLibTime, "text/html", "a.html", "a.html",
         nullptr},
        {"file name: LIST and CONTV quoted", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, retrReply("a.html", kPage)},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 1, kPage, kLibTime,
         "text/html", "a.html", "a.html", nullptr},
        {"a listed name holding [ is sent escaped", "12", "fig*.gif", nullptr,
         {mlReply(test::dbLine("guide.kvo", 12, "Guide")), contvReply("12", {{4, "fig[1].gif"}}),
          retrReply("fig[1].gif", "GIF8")},
         "MLLIST 12\nCONTV 12 fig*.gif\nRETR 12 fig\\[1].gif\n", 1, "GIF8", kLibTime, "image/gif", "fig[1].gif",
         "fig*.gif", nullptr},
        {"empty library", "", "a.html", nullptr, {}, "", 0, "", 0, "", "", "a.html",
         message(472, "cgihandler/22", {""}), false, true},
        {"line feed in the file", "12", "a.html\nQUIT", nullptr, {}, "", 0, "", 0, "", "", "a.html\nQUIT",
         message(227, "cgihandler/25", {"a.html\nQUIT", "12"}), false, true},
        {"carriage return in the file", "12", "a.html\r", nullptr, {}, "", 0, "", 0, "", "", "a.html\r",
         message(227, "cgihandler/25", {"a.html\r", "12"}), false, true},
        {"tab in the library", "gui\tde.kvo", "a.html", nullptr, {}, "", 0, "", 0, "", "", "a.html",
         message(227, "cgihandler/25", {"a.html", "gui\tde.kvo"}), false, true},
        {"577 at CONTV", "guide.kvo", "a.html", nullptr, {kListGuide, kBeingUpdated},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "", "a.html",
         message(7, "cgihandler/43", {"guide.kvo"}), false, true},
        {"578 at CONTV", "guide.kvo", "a.html", nullptr, {kListGuide, kRemoved},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "", "a.html",
         message(8, "cgihandler/44", {"guide.kvo"}), false, true},
        {"577 at RETR", "guide.kvo", "a.html", nullptr, {kListGuide, kContvA, kBeingUpdated},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html", message(7, "cgihandler/45", {"guide.kvo"})},
        {"578 at RETR names the library of its text", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, "578 Library \"<b>.kvo\" has been removed.\n"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html", message(8, "cgihandler/46", {"&#60;b&#62;.kvo"})},
        {"LIST without entries: missing", "x.kvo", "a.html", nullptr, {listReply("")}, "LIST \"x.kvo\"\n", 0, "",
         0, "", "", "a.html", message(473, "cgihandler/23", {"x.kvo"}), true, true},
        {"failed MLLIST", "12", "a.html", nullptr, {"511 Invalid database '12'\n"}, "MLLIST 12\n", 0, "", 0, "",
         "", "a.html", message(472, "cgihandler/22", {"12"}), false, true},
        {"CONTV without the member: missing", "guide.kvo", "b.html", nullptr,
         {kListGuide, contvReply("guide.kvo", {})}, "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" b.html\n", 0, "",
         kLibTime, "", "", "b.html", message(227, "cgihandler/25", {"b.html", "guide.kvo"}), true, true},
        {"only empty members: missing", "guide.kvo", "*.html", nullptr,
         {kListGuide, contvReply("guide.kvo", {{0, "a.html"}, {0, "b.html"}})},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" *.html\n", 0, "", kLibTime, "", "", "*.html",
         message(227, "cgihandler/25", {"*.html", "guide.kvo"}), true, true},
        {"a listed name over 255 characters", "guide.kvo", "n*", nullptr,
         {kListGuide, contvReply("guide.kvo", {{10, tooLong}})}, "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" n*\n",
         0, "", kLibTime, "", "", "n*", message(227, "cgihandler/25", {"n*", "guide.kvo"}), false, true},
        {"empty members are skipped", "guide.kvo", "*.html", nullptr,
         {kListGuide, contvReply("guide.kvo", {{0, "a.html"}, {28, "b.html"}}), retrReply("b.html", kPage)},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" *.html\nRETR \"guide.kvo\" b.html\n", 1, kPage, kLibTime,
         "text/html", "b.html", "*.html", nullptr},
        {"two libraries listed: no time", "guide*", "a.html", nullptr,
         {listReply(listLine("guide.kvo") + listLine("guide2.kvo", 1000)), kContvA, retrReply("a.html", kPage)},
         "LIST guide*\nCONTV guide* a.html\nRETR \"guide.kvo\" a.html\n", 1, kPage, 0, "text/html", "a.html",
         "a.html", nullptr},
        {"folders do not count as libraries", "3", "a.html", nullptr,
         {mlReply(folderLine(3) + test::dbLine("guide.kvo", 12, "Guide") + folderLine(4) + folderLine(5)),
          contvReply("12", {{100, "a.html"}}), retrReply("a.html", kPage)},
         "MLLIST 3\nCONTV 3 a.html\nRETR 12 a.html\n", 1, kPage, kLibTime, "text/html", "a.html", "a.html",
         nullptr},
        {"the RETR reply governs the size", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, retrReply("a.html", big)},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 1, big, kLibTime,
         "text/html", "a.html", "a.html", nullptr},
        {"generated sub-folder page", "7", "kvo_ml_sub_main_page", nullptr,
         {mlReply(folderLine(7)),
          "300-Length   Method  Size  Ratio   CRC-32  7\n"
          "300    4096   Stored   4096    0        -   kvo_ml_sub_main_page\n200-CONTV executed.\n",
          "300-Length 465 \"9999\" kvo_ml_sub_main_page\n" + subPage + "300-CRC 0x00000000\n200-RETR executed.\n"},
         "MLLIST 7\nCONTV 7 kvo_ml_sub_main_page\nRETR 7 kvo_ml_sub_main_page\n", 1, subPage, 0, "", "",
         "kvo_ml_sub_main_page", nullptr},
        {"RETR not found: the reply's text, escaped", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, "400-File \"a<b>.html\" not found in database \"guide.kvo\", 1 database(s) checked\n"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html",
         message(229, "cgihandler/27",
                 {"a.html", "guide.kvo", "@server",
                  htmlEscaped("File \"a<b>.html\" not found in database \"guide.kvo\", 1 database(s) checked")})},
        {"a failed unpack ending in 200", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA,
          "300-Length 5 \"guide.kvo\" \"a.html\" \"0\"\nab<p>500-Failed, inflate error\n200-RETR executed.\n"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html", message(229, "cgihandler/27", {"a.html", "guide.kvo", "@server", "Failed, inflate error"})},
        {"fewer bytes than announced, then close", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, "300-Length 5000 \"guide.kvo\" \"a.html\" \"0\"\nabc"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html",
         // The client's own message is HTML already: it must not be escaped again.
         message(229, "cgihandler/27",
                 {"a.html", "guide.kvo", "@server", formatChecked(msgFormat(460, "uzsession/61"))})},
        {"an announced length no memory holds", "guide.kvo", "a.html", nullptr,
         {kListGuide, kContvA, "300-Length 9000000000000000000 \"guide.kvo\" \"a.html\" \"0\"\nabc"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\nRETR \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "",
         "a.html",
         [](const CgiHandler& cg, const std::string&) {
             return formatChecked(cg.msg(228, "cgihandler/26"), 9000000000000000000ul, "a.html");
         }},
        {"CONTV refused: the session's text", "guide.kvo", "a.html", nullptr,
         {kListGuide, "511 Invalid database 'guide.kvo'\n"},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.html\n", 0, "", kLibTime, "", "", "a.html",
         message(226, "cgihandler/24", {"@server", "@session"}), false, true},
        {".fdp is asked as .pdf and served as the PDF", "guide.kvo", "a.fdp", nullptr,
         {kListGuide, contvReply("guide.kvo", {{5, "a.pdf"}}), retrReply("a.pdf", "%PDF-")},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.pdf\nRETR \"guide.kvo\" a.pdf\n", 1, "%PDF-", kLibTime,
         "application/pdf", "a.pdf", "a.pdf", nullptr},
        {".pdf fetches the frame page, served as HTML", "guide.kvo", "a.pdf", nullptr,
         {kListGuide, contvReply("guide.kvo", {{5, "a.pdf"}}), retrReply("a.fdp", kPage, 1, "wait.html")},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.pdf\nRETR \"guide.kvo\" a.fdp\n", 1, kPage, kLibTime,
         "text/html", "a.htm", "a.pdf", nullptr, false, false, 1},
        {".pdf with AC=IMAGE is the PDF", "guide.kvo", "a.pdf", "image",
         {kListGuide, contvReply("guide.kvo", {{5, "a.pdf"}}), retrReply("a.pdf", "%PDF-")},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a.pdf\nRETR \"guide.kvo\" a.pdf\n", 1, "%PDF-", kLibTime,
         "application/pdf", "a.pdf", "a.pdf", nullptr},
        {"a name without a dot has no MIME type", "guide.kvo", "readme", nullptr,
         {kListGuide, contvReply("guide.kvo", {{4, "readme"}}), retrReply("readme", "text")},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" readme\nRETR \"guide.kvo\" readme\n", 1, "text", kLibTime, "",
         "", "readme", nullptr},
        {"the file name loses control characters", "guide.kvo", "a*", nullptr,
         {kListGuide, contvReply("guide.kvo", {{4, "a\x01" "b.html"}}), retrReply("a\x01" "b.html", "page")},
         "LIST \"guide.kvo\"\nCONTV \"guide.kvo\" a*\nRETR \"guide.kvo\" a\x01" "b.html\n", 1, "page", kLibTime,
         "text/html", "ab.html", "a*", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        const std::string server = "127.0.0.1:" + std::to_string(peer.port());
        {
            CapturedRequest cg;
            cg->docServAddr = server;
            if (c.ac) cg.field("AC", c.ac);
            ASSERT_EQ(cg->createDefaultSession(), 1);
            ASSERT_EQ(cg->allocDocBuf(sizeof kOldPage - 1), 1);
            std::memcpy(cg->docBuf, kOldPage, sizeof kOldPage - 1);
            std::string file = c.file;
            bool missing = !c.missing;
            EXPECT_EQ(cg->retrieveFile(c.library, file, &missing), c.result);
            EXPECT_EQ(missing, c.missing);
            EXPECT_EQ(file, c.fileAfter);
            EXPECT_EQ(cg->docCTime, c.docCTime);
            EXPECT_EQ(cg->getError(), c.error ? c.error(*cg, server) : "");
            if (c.result) {
                EXPECT_EQ(cg->docSize, c.data.size());
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), c.data);
                EXPECT_EQ(cg->mimeType, c.mimeType);
                EXPECT_EQ(cg->mimeFilename, c.mimeFilename);
                EXPECT_EQ(cg->folder, c.folder);
            } else if (c.keepsOldPage) {
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), kOldPage);
            } else {
                EXPECT_EQ(cg->docBuf, nullptr);
            }
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

}  // namespace
}  // namespace ruva
