// The libraries of a result page: MLLIST answers asked once per request,
// the title table and the filter cell.
#include "bmod/ruvaserv/search/library_titles.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

class LibraryMemoWire : public test::ScriptedServerTest {};

TEST_F(LibraryMemoWire, EachLibraryIsAskedOnceFailuresIncluded) {
    const std::string guide = "Guide [EN/DOCLIB1 R1A] STA:PRE";
    ScriptedPeer peer(
        {test::replyScript({test::mlReply(test::dbLine("guide.kvo", 12, guide)), "511 Invalid ID 40000\n",
                            test::mlReply(""), "511 Bad <b>name</b> \"x\"\n"})});
    ASSERT_TRUE(peer.ok());
    const std::string server = "127.0.0.1:" + std::to_string(peer.port());
    {
        CapturedRequest cg;
        cg->docServAddr = server;
        ASSERT_EQ(cg->createDefaultSession(), 1);
        LibraryMemo memo;
        std::string title = "untouched";

        EXPECT_EQ(getLibraryname(*cg, memo, "12", title), 1);
        EXPECT_EQ(title, guide);
        const LibraryAnswer& listed = memo.mllist(*cg, "12");
        EXPECT_EQ(listed.ok, 1);
        EXPECT_TRUE(listed.hasEntry);
        EXPECT_EQ(listed.comment, guide);

        title = "untouched";
        EXPECT_EQ(getLibraryname(*cg, memo, "40000", title), 0);
        EXPECT_EQ(title, "untouched");
        const LibraryAnswer& refused = memo.mllist(*cg, "40000");
        EXPECT_EQ(refused.ok, 0);
        EXPECT_EQ(refused.server, server);
        EXPECT_EQ(refused.resultMessage, "Invalid ID 40000");

        // 200 without a line: answered, but no title.
        EXPECT_EQ(getLibraryname(*cg, memo, "13", title), 0);
        const LibraryAnswer& unlisted = memo.mllist(*cg, "13");
        EXPECT_EQ(unlisted.ok, 1);
        EXPECT_FALSE(unlisted.hasEntry);

        // The server's text is made fit for the page that shows it.
        EXPECT_EQ(memo.mllist(*cg, "14").resultMessage, "Bad &lt;b&gt;name&lt;/b&gt; &quot;x&quot;");

        // Asked again everywhere on the page: answered from the memo.
        for (const char* id : {"12", "40000", "13", "14"}) getLibraryname(*cg, memo, id, title);
        EXPECT_EQ(memo.size(), 4u);
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)), "MLLIST 12\nMLLIST 40000\nMLLIST 13\nMLLIST 14\n");
}

TEST_F(LibraryMemoWire, NoReplyKeepsTheSessionsReason) {
    ScriptedPeer peer({test::replyScript({})});
    ASSERT_TRUE(peer.ok());
    CapturedRequest cg;
    cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
    ASSERT_EQ(cg->createDefaultSession(), 1);
    LibraryMemo memo;
    const LibraryAnswer& answer = memo.mllist(*cg, "12");
    EXPECT_EQ(answer.ok, 0);
    EXPECT_NE(answer.resultMessage, "");
    EXPECT_EQ(answer.server, "127.0.0.1:" + std::to_string(peer.port()));
}

// A handler whose library lookup answers from a table and counts the calls.
class CountingHandler : public KivoHandler {
public:
    explicit CountingHandler(CgiHandler* cg) : KivoHandler(cg) {}
    std::optional<std::string> getDBfromLI(std::string& title, std::string_view reference) override {
        ++calls;
        if (reference != "[EN/DOCLIB1 R1A]") return std::nullopt;
        title = "Guide";
        return "guide.kvo";
    }
    int calls = 0;
};

TEST(LibraryMemo, DatabaseOfAReferenceIsAskedOnce) {
    CapturedRequest cg;
    CountingHandler handler(cg.get());
    LibraryMemo memo;
    for (int i = 0; i < 3; ++i) {
        std::string title = "before";
        EXPECT_EQ(memo.dbFromLI(handler, "[EN/DOCLIB1 R1A]", title), "guide.kvo");
        EXPECT_EQ(title, "Guide");
        title = "before";
        EXPECT_EQ(memo.dbFromLI(handler, "[EN/NONE]", title), std::nullopt);
        EXPECT_EQ(title, "before");
    }
    EXPECT_EQ(handler.calls, 2);
}

TEST(LibraryTable, TitleOfTheFirstRowWithThatIdentity) {
    LibraryTable table;
    table.rows = {{"12", "Guide [EN/A]"}, {"13", std::nullopt}, {"ab", "Lower"}, {"12", "Second"}};
    ASSERT_NE(table.titleOf("12"), nullptr);
    EXPECT_EQ(*table.titleOf("12"), "Guide [EN/A]");
    EXPECT_EQ(table.titleOf("13"), nullptr);
    ASSERT_NE(table.titleOf("AB"), nullptr);
    EXPECT_EQ(*table.titleOf("AB"), "Lower");
    EXPECT_EQ(table.titleOf("99"), nullptr);
    EXPECT_EQ(table.titleOf("1"), nullptr);
}

std::string filterCell(const char* title, int icon) {
    return std::string(
               "<td class=\"c3\" align=\"left\"><img class=\"m5\" border=\"0\" height=\"14\" width=\"14\" "
               "align=\"top\" title=\"") +
           title + "\" src=\"qzl:/kivo?VR=R19K&amp;AC=TBIMG&amp;IM=" + std::to_string(icon) + "\"/></td>\n";
}

TEST(ValidateLibrary, CellShowsWhetherTheBitmapFilters) {
    const std::string empty = "<td class=\"c3\" align=\"left\"></td>\n";
    const std::string unfiltered = filterCell("No filter selected for this library", 139);
    const std::string filteredCell = filterCell("This library is filtered", 140);
    std::string zeros32;  // 32 words: a digit after the 32nd bar is not read
    for (int i = 0; i < 32; ++i) zeros32 += "0|";
    const struct {
        const char* name;
        std::string comment;
        std::optional<std::string> cookie;
        std::string cell;
        bool filters;
    } cases[] = {
        {"no category mark", "Guide [EN/A R1A] STA:REL", std::nullopt, empty, false},
        {"mark without bitmap", "Guide [EN/A R1A] CAT: kvocat", std::nullopt, empty, false},
        {"zero bitmap", "Guide [EN/A R1A] CAT: kvocat,0|0STA:REL", std::nullopt, unfiltered, false},
        {"a one in the second word", "Guide [EN/A R1A] CAT: kvocat,0|1STA:REL", std::nullopt, filteredCell,
         true},
        {"hex letter", "Guide [EN/A R1A] CAT: kvocat,0|00fSTA:REL", std::nullopt, filteredCell, true},
        {"a one after the 32nd bar", "Guide [EN/A R1A] CAT: kvocat," + zeros32 + "1STA:REL", std::nullopt,
         unfiltered, false},
        {"the cookie over the default", "Guide [EN/A R1A] CAT: kvocat,0|0STA:REL", "kvocat=0|1", filteredCell,
         true},
        {"a filtering default under a zero cookie", "Guide [EN/A R1A] CAT: kvocat,0|1STA:REL", "kvocat=0|0",
         unfiltered, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::EnvGuard env;
        env.set("HTTP_COOKIE", c.cookie);
        bool filtered = false;
        EXPECT_EQ(validateLibrary(c.comment, "R19K", filtered), c.cell);
        EXPECT_EQ(filtered, c.filters);
        // Once set by one library, a later one does not clear it.
        filtered = true;
        validateLibrary(c.comment, "R19K", filtered);
        EXPECT_TRUE(filtered);
    }
}

}  // namespace
}  // namespace ruva
