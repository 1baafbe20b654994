// CONREF: the fragment's exact bytes and the IDRETR line sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;

const std::string kSection = "<div id=\"topic_mount\">\n<p>Mount the unit.</p>\n</div>";

std::string idretrReply(const std::string& section) {
    return "300-Size Database Filename Context\n300 " + std::to_string(section.size()) +
           " \"dita.kvo\" \"topic.html\"  " + section + "\n200-IDRETR executed.\n";
}
const std::string kNoTopic = "300-Size Database Filename Context\n200-IDRETR executed.\n";

const std::string kSheetEnd = "\" rel=\"stylesheet\" type=\"text/css\"";
const std::string kFailedBody =
    "><body style=\"color:#181818;font-size:10pt;font-family:'Vandrove Sorna',Arial,Helvetica,sans-serif;\">"
    "<p>Failed to retrieve the requested topic content.</p><p>Possible causes:<ul>"
    "<li>Referenced topic is no longer part of the document</li>"
    "<li>Document is no longer present in the latest library version</li></ul></p>";
const std::string kBase = "http://docs.example/cgi-bin/kivoserv?LI=//123&FN=";

struct TopicCase {
    const char* name;
    std::optional<std::string> host = "docs.example";
    std::optional<std::string> script = "/cgi-bin/kivoserv";
    std::string cs = "DITA";
    std::string ch = "topic_mount";
    std::vector<std::string> replies = {test::verLine(), idretrReply(kSection)};
    std::string page;
    std::string sent = "VER\nIDRETR \"topic_mount\" 12 topic.html DITA\n";
};

const TopicCase kTopicCases[] = {
    {.name = "DITA with its sheet",
     .page = " <link href=\"" + kBase + "dita_myr.css" + kSheetEnd + " />" + kSection},
    {.name = "myr with its sheet",
     .cs = "myr",
     .page = " <link href=\"" + kBase + "CVL.css" + kSheetEnd + " />" + kSection,
     .sent = "VER\nIDRETR \"topic_mount\" 12 topic.html myr\n"},
    {.name = "trimmed and case-blind",
     .cs = " Dita\t",
     .ch = "  topic_mount ",
     .page = " <link href=\"" + kBase + "dita_myr.css" + kSheetEnd + " />" + kSection,
     .sent = "VER\nIDRETR \"topic_mount\" 12 topic.html Dita\n"},
    {.name = "DITA without SCRIPT_NAME", .script = std::nullopt, .page = kSection},
    {.name = "myr without HTTP_HOST",
     .host = std::nullopt,
     .cs = "myr",
     .page = kSection,
     .sent = "VER\nIDRETR \"topic_mount\" 12 topic.html myr\n"},
    // Another set is asked for as MYR and shown without a sheet.
    {.name = "xyz", .cs = "xyz", .page = kSection, .sent = "VER\nIDRETR \"topic_mount\" 12 topic.html MYR\n"},
    {.name = "short topic id",
     .ch = "topic",
     .replies = {test::verLine()},
     .page = "<link href=\"" + kBase + "CVL.css" + kSheetEnd + kFailedBody,
     .sent = "VER\n"},
    {.name = "no content set",
     .cs = "",
     .replies = {test::verLine()},
     .page = "<link href=\"" + kBase + "CVL.css" + kSheetEnd + kFailedBody,
     .sent = "VER\n"},
    {.name = "topic not found",
     .replies = {test::verLine(), kNoTopic},
     .page = "<link href=\"" + kBase + "CVL.css" + kSheetEnd + kFailedBody},
    {.name = "not found without the environment",
     .host = std::nullopt,
     .replies = {test::verLine(), kNoTopic},
     .page = "<link href=\"" + kSheetEnd + kFailedBody},
    // The host comes from outside and stays inside the attribute.
    {.name = "hostile host",
     .host = "a\"><b",
     .page = " <link href=\"http://a&quot;&gt;&lt;b/cgi-bin/kivoserv?LI=//123&FN=dita_myr.css" + kSheetEnd +
             " />" + kSection},
};

TEST(TopicContent, FragmentBytesAndTheLineSent) {
    for (const TopicCase& c : kTopicCases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies,
                          .fields = {{"ID", "12"}, {"FN", "topic.html"}, {"CH", c.ch}, {"CS", c.cs}},
                          .env = {{"HTTP_HOST", c.host}, {"SCRIPT_NAME", c.script}}});
        ASSERT_TRUE(cg.ok());
        KivoHandler& kh = cg.handler();
        EXPECT_EQ(kh.entry("CONREF"), 1);
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.page(), c.page);
        EXPECT_EQ(cg->curId, 12);
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

TEST(TopicContent, ServerDownGivesMessage33) {
    ActionRequest cg({test::PeerScript().close()},
                     {.fields = {{"ID", "12"}, {"FN", "topic.html"}, {"CH", "topic_mount"}, {"CS", "DITA"}}});
    ASSERT_TRUE(cg.ok());
    KivoHandler& kh = cg.handler();
    EXPECT_EQ(kh.entry("conref"), 0);
    ASSERT_NE(cg->getError(), "");
    EXPECT_EQ(kh.getError(), formatChecked(msgFormat(33, "kivohandler/2"), cg->getError()));
    EXPECT_EQ(cg.written(), "");
}

// LI names the library: it becomes ID and curId before the topic is asked
// for.
TEST(TopicContent, ReferenceIsResolvedFirst) {
    ActionRequest cg(
        {.replies = {test::verLine(), test::mlReply(test::dbLine("dita.kvo", 12, "Dita [EN/D1]")),
                     idretrReply(kSection)},
         .fields = {{"LI", "EN/D1"}, {"FN", "topic.html"}, {"CH", "topic_mount"}, {"CS", "xyz"}},
         .env = {{"HTTP_HOST", std::nullopt}}});
    ASSERT_TRUE(cg.ok());
    EXPECT_EQ(cg.handler().entry("CONREF"), 1);
    EXPECT_EQ(cg.page(), kSection);
    EXPECT_EQ(cg->curId, 12);
    EXPECT_EQ(cg.value("CS"), "MYR");
    EXPECT_EQ(cg.sent(), "VER\nMLLIST \"[EN/D1]\"\nIDRETR \"topic_mount\" 12 topic.html MYR\n");
}

// SUB_MAIN without ID: the generated page of node 9999.
TEST(TopicContent, SubMainAsksForTheNodesPage) {
    const std::string page = "<html><body>Folder</body></html>\n";
    ActionRequest cg({.replies = {test::verLine(), test::mlReply(test::folderLine(9999)),
                                  test::contvReply("9999", {{page.size(), "kvo_ml_sub_main_page"}}),
                                  test::retrReply("kvo_ml_sub_main_page", page, 9999)}});
    ASSERT_TRUE(cg.ok());
    KivoHandler& kh = cg.handler();
    kh.entry("SUB_MAIN");
    const std::string sent = cg.sent();
    EXPECT_TRUE(
        sent.starts_with("VER\nMLLIST 9999\nCONTV 9999 kvo_ml_sub_main_page\nRETR 9999 kvo_ml_sub_main_page"))
        << sent;
}

}  // namespace
}  // namespace ruva
