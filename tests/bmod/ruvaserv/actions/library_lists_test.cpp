// The listdb and cmplistdb markers over a scripted server: display names,
// the three orders, the bytes of a row, the messages written into the page
// or left in the request, sessions to other servers, and pages whose list
// outgrows the pass's first output buffer.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_lists.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/client/uzclient.h"
#include "common/string_format.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::ActionSetup;
using test::PeerScript;
using test::ScriptedPeer;

// Dates are written in local time; the tests read them in UTC.
class UtcZone {
public:
    UtcZone() {
        env_.emplace();
        env_->set("TZ", "UTC");
        tzset();
    }
    ~UtcZone() {
        env_.reset();
        tzset();
    }

private:
    std::optional<test::EnvGuard> env_;
};

class LibraryLists : public test::ScriptedServerTest {
private:
    UtcZone utc_;
};

struct Lib {
    std::string name;
    std::string comment;  // as the daemon quotes it
    time_t ctime;
};

// A LIST reply as the daemon writes it: the name padded inside its quotes.
std::string listOf(const std::vector<Lib>& libs) {
    std::string lines;
    for (const Lib& lib : libs) {
        lines += format("300 \"%13s\" %8lu %5u %10lu \"%s\"\n", lib.name.c_str(), 1234ul, 3u,
                        static_cast<unsigned long>(lib.ctime), lib.comment.c_str());
    }
    return test::listReply(lines);
}

// The page text through the copy pass, with the request's handler
// registered.
std::string served(ActionRequest& r, const std::string& page) {
    r.handler();
    r->kivoServName = "/h/cgi-bin/kivoserv";
    test::setHeapPage(*r, page);
    return r.postProcessed();
}

// The display names of the rows' second links, in page order.
std::vector<std::string> rowNames(const std::string& page) {
    static const std::string cell = "<td align=\"left\">\n<a href=\"";
    std::vector<std::string> names;
    for (size_t at = page.find(cell); at != std::string::npos; at = page.find(cell, at)) {
        const size_t text = page.find("\">", at + cell.size());
        const size_t end = page.find("</a>", text);
        if (text == std::string::npos || end == std::string::npos) break;
        names.push_back(page.substr(text + 2, end - text - 2));
        at = end;
    }
    return names;
}

TEST(LibraryListNames, DisplayNameCutsTheExtension) {
    const std::string sixty(60, 'a');
    struct {
        std::string name;
        std::string shown;
    } const cases[] = {
        {"lib.kvo", "lib"}, {"a.zi", "a"},       {".kvo", ".kvo"},         {".zi", ".zi"},
        {".z", ".z"},       {"a.b.kvo", "a.b"},  {"lib", "lib"},           {"", ""},
        {sixty + ".kvo", sixty},  // cut to 63 first: the dot is then third from the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(databaseDisplayName(c.name), c.shown);
    }
}

// Three libraries whose server order, title order and date order differ;
// an empty comment sorts and shows as the display name, and a name in
// upper case is listed by "*.kvo".
TEST_F(LibraryLists, EachSortWordGivesItsOrder) {
    const std::string reply = listOf({{"b.kvo", "Beta guide", 300},
                                      {"a.kvo", "", 100},
                                      {"UPPER.KVO", "charlie manual", 200},
                                      {"c.zi", "Not a kvo", 400}});
    struct {
        const char* marker;
        std::vector<std::string> names;
        const char* sent;
    } const cases[] = {
        {"<!--@@listdb-->", {"b", "a", "UPPER"}, "VER\nLIST \"*.kvo\"\n"},
        {"<!--@@listdb default @sort_dbname-->", {"b", "a", "UPPER"}, "VER\nLIST \"*.kvo\"\n"},
        {"<!--@@listdb default @sort_title-->", {"a", "b", "UPPER"}, "VER\nLIST \"*.kvo\"\n"},
        {"<!--@@listdb DEFAULT @sort_date-->", {"b", "UPPER", "a"}, "VER\nLIST \"*.kvo\"\n"},
        {"<!--@@listdb default @newest-->", {"b", "a", "UPPER"}, "VER\nLIST \"*.kvo\"\n"},
        {"<!--@@listdb default *-->", {"b", "a", "UPPER", "c"}, "VER\nLIST *\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.marker);
        ActionRequest r({.replies = {test::verLine(), reply}});
        ASSERT_TRUE(r.ok());
        const std::string page = served(r, c.marker);
        EXPECT_EQ(rowNames(page), c.names);
        EXPECT_NE(page.find(">a</a></b>"), std::string::npos) << "empty comment as link text";
        EXPECT_EQ(test::beforeQuit(r.sent()), c.sent);
    }
}

// Outside text stays text: the comment escaped (its '&' kept), the name
// link-encoded in the href and escaped as text; MP coded for a script.
TEST_F(LibraryLists, RowBytesWithAndWithoutTheServerInLinks) {
    const std::string reply =
        listOf({{"a&b#c.kvo", "A & B <img src=x onerror=\\\"window.__pwned=1\\\">", 365 * 86400}});
    for (const bool uz : {true, false}) {
        SCOPED_TRACE(uz ? "AllowUZonURL" : "without AllowUZonURL");
        ActionRequest r({.replies = {test::verLine(), reply}, .fields = {{"MP", "a b&c"}}});
        ASSERT_TRUE(r.ok());
        if (uz) r->flags |= kCgiAllowUzOnUrl;
        r->options = 0x20;
        const std::string page = served(r, "<p><!--@@listdb default *.kvo--></p>");
        const std::string link =
            "http://h/cgi-bin/kivoserv?" + (uz ? "uz=127.0.0.1:" + std::to_string(r.peer().port()) + "&amp;" : "") +
            "db=a%26b%23c.kvo&amp;fn=index.html";
        EXPECT_EQ(page, "<p><table width=\"100%\">\n<tr>\n<td><b>\n<a href=\"" + link +
                            "&MP=a+b%26c&amp;op=20\">A & B &lt;img src=x onerror=&quot;window.__pwned=1&quot;&gt;"
                            "</a></b></td>\n<td align=\"left\">\n<a href=\"" +
                            link + "&amp;op=20\">a&b#c</a></td>\n<td align=\"right\">\n[1971-01-01]</td>\n</tr>\n"
                            "</table>\n</p>");
    }
}

TEST_F(LibraryLists, CmplistdbWritesOptions) {
    ActionRequest r({.replies = {test::verLine(),
                                 listOf({{"x'y.kvo", "T <1>", 10}, {"plain.kvo", "", 20}, {"skip.zip", "", 30}})}});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(served(r, "<select><!--@@cmplistdb--></select>"),
              "<select><option value=\"x&#39;y.kvo\">T &lt;1&gt;</option>\n"
              "<option value=\"plain.kvo\">plain</option>\n</select>");
}

// Message 77 (nothing listed) and 72 (access denied) go into the page;
// the others stay in the request's error text and the marker writes
// nothing.
TEST_F(LibraryLists, FailuresWriteIntoThePageOrLeaveTheirText) {
    const std::string noMatch = formatChecked(msgFormat(77, "kivohandler/62"), "&lt;i&gt;*.zip", "Kivo Browser");
    const std::string denied = formatChecked(msgFormat(72, "kivohandler/57"));
    struct {
        const char* name;
        PeerScript script;
        const char* pattern;
        int result;
        std::string page;
        std::string error;
    } const cases[] = {
        {"nothing matches", test::replyScript({test::verLine(), listOf({{"a.kvo", "", 1}})}), "<i>*.zip", 1,
         noMatch, ""},
        {"LIST refused", test::replyScript({test::verLine(), "500 No <list>\n"}), "*.kvo", 0, "",
         formatChecked(msgFormat(76, "kivohandler/61"), "Kivo Browser", "No &#60;list&#62;")},
        {"greeting refused", PeerScript().send("500 Go away\n").close(), "*.kvo", 0, denied, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest r({c.script}, {});
        ASSERT_TRUE(r.ok());
        ASSERT_TRUE(r->allocDstBuf(4096));
        EXPECT_EQ(r.handler().outputListDb("default", c.pattern, 0), c.result);
        EXPECT_EQ(std::string(r->dstBuf, r->dstOffs), c.page);
        if (!c.error.empty()) {
            EXPECT_EQ(r->getError(), c.error);
        }
    }
}

TEST_F(LibraryLists, OtherServerIsAskedOverItsOwnSession) {
    ScriptedPeer other({test::replyScript({test::verLine("R19K", "Other <srv>"),
                                           listOf({{"far.kvo", "Far away", 5}})})});
    ASSERT_TRUE(other.ok());
    const std::string address = "127.0.0.1:" + std::to_string(other.port());
    ActionRequest r;
    ASSERT_TRUE(r.ok());
    r->flags |= kCgiAllowUzOnUrl;
    const std::string page = served(r, "<!--@@listdb " + address + " *.kvo-->");
    EXPECT_NE(page.find("?uz=" + address + "&amp;db=far.kvo&amp;"), std::string::npos) << page;
    EXPECT_EQ(rowNames(page), std::vector<std::string>{"far"});
    EXPECT_EQ(r->uzc->getNumSessions(), 0) << "the marker's session is deleted";
    EXPECT_EQ(r.sent(), "") << "the default server is not asked";
    other.stop();
    EXPECT_EQ(test::beforeQuit(other.received(0)), "VER\nLIST \"*.kvo\"\n");
}

// A server without a VER comment is named by its address in brackets.
TEST_F(LibraryLists, OtherServerWithoutCommentIsNamedByAddress) {
    ScriptedPeer other({test::replyScript({test::verLine("R19K", ""), test::listReply("")})});
    ASSERT_TRUE(other.ok());
    const std::string address = "127.0.0.1:" + std::to_string(other.port());
    ActionRequest r;
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(served(r, "<!--@@listdb " + address + " *.kvo-->"),
              formatChecked(msgFormat(77, "kivohandler/62"), "*.kvo", "[" + address + "]"));
}

TEST_F(LibraryLists, BadOrClosedServerLeavesNoSession) {
    ScriptedPeer closed;
    const std::string closedAddress = "127.0.0.1:" + std::to_string(closed.port());
    closed.stop();
    struct {
        std::string server;
        std::string error;
    } const cases[] = {
        {"bad", formatChecked(msgFormat(73, "kivohandler/58"), "bad")},
        {"<b>:1", formatChecked(msgFormat(73, "kivohandler/58"), "&lt;b&gt;:1")},
        {"127.0.0.1:99999", formatChecked(msgFormat(73, "kivohandler/58"), "127.0.0.1:99999")},
        {closedAddress, formatChecked(msgFormat(75, "kivohandler/60"), closedAddress, "")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        ActionRequest r;
        ASSERT_TRUE(r.ok());
        ASSERT_TRUE(r->allocDstBuf(4096));
        EXPECT_EQ(r.handler().outputListDb(c.server, "*.kvo", 0), 0);
        // The socket's reason differs by system: compare up to it.
        const std::string head = c.error.substr(0, c.error.find("Socket reports: ") + 16);
        EXPECT_EQ(r->getError().substr(0, head.size()), head);
        EXPECT_EQ(r->uzc->getNumSessions(), 0);
        EXPECT_EQ(r->dstOffs, 0u);
        EXPECT_EQ(r.sent(), "");
    }
}

// newSession hands back the default session for its own address: the
// marker uses it and leaves it alive.
TEST_F(LibraryLists, MarkerNamingTheDefaultServerKeepsItsSession) {
    ActionRequest r({.replies = {test::verLine(), test::verLine(), listOf({{"a.kvo", "A", 1}})}});
    ASSERT_TRUE(r.ok());
    ASSERT_TRUE(r->establishDefaultSession());
    UzSession* session = r->sess;
    const std::string address = "127.0.0.1:" + std::to_string(r.peer().port());
    EXPECT_EQ(rowNames(served(r, "<!--@@listdb " + address + "-->")), std::vector<std::string>{"a"});
    EXPECT_EQ(r->uzc->getFirstSession(), session);
    EXPECT_EQ(r->uzc->getNumSessions(), 1);
    EXPECT_TRUE(session->flags & kSessConnected);
    EXPECT_EQ(test::beforeQuit(r.sent()), "VER\nVER\nLIST \"*.kvo\"\n");
}

// One row with a 380-character comment is about 660 bytes: 60 of them
// pass the pass's first buffer several times over, and every row lands.
TEST_F(LibraryLists, LongListGrowsThePassBuffer) {
    std::vector<Lib> libs;
    for (int i = 0; i < 60; ++i) libs.push_back({format("long%02d.kvo", i), std::string(376, 'c') + format("%04d", i), i});
    ActionRequest r({.replies = {test::verLine(), listOf(libs)}});
    ASSERT_TRUE(r.ok());
    const std::string page = served(r, "<html><body><!--@@listdb--></body></html>");
    EXPECT_EQ(rowNames(page).size(), 60u);
    EXPECT_EQ(rowNames(page).back(), "long59");
    EXPECT_NE(page.find("0059</a></b>"), std::string::npos);
    EXPECT_NE(page.find("</table>\n</body>"), std::string::npos);
    EXPECT_GT(r->dstbufSize, 60u * 600u);
}

// sortListDb on its own: an unknown order is refused with the list as it
// was; ties keep the server's order.
TEST_F(LibraryLists, SortKeepsTiesAndRefusesUnknownOrders) {
    auto reply = allocResponse(RT_LIST);
    ASSERT_TRUE(reply);
    for (const Lib& lib : std::vector<Lib>{{"x1.kvo", "same", 1}, {"x2.kvo", "SAME", 2}, {"x3.kvo", "a", 2}}) {
        UzListEntry* e = reply->nextEntry<UzListEntry>();
        ASSERT_NE(e, nullptr);
        *e = UzListEntry{nullptr, lib.name, lib.comment, 0, 0, lib.ctime};
    }
    auto names = [&] {
        std::string all;
        for (const UzListEntry* e = reply->list(); e; e = e->next.get()) all += *e->database + " ";
        return all;
    };
    test::CapturedRequest cg;
    auto kh = newKivoHandler(cg.get());
    EXPECT_EQ(kh->sortListDb(*reply, 3), 0);
    EXPECT_EQ(cg->getError(), formatChecked(msgFormat(90, "kivohandler/75"), 3));
    EXPECT_EQ(names(), "x1.kvo x2.kvo x3.kvo ");
    EXPECT_EQ(kh->sortListDb(*reply, 1), 1);
    EXPECT_EQ(names(), "x3.kvo x1.kvo x2.kvo ");
    EXPECT_EQ(kh->sortListDb(*reply, 2), 1);
    EXPECT_EQ(names(), "x3.kvo x2.kvo x1.kvo ");
    // The list stays appendable after relinking.
    UzListEntry* appended = reply->nextEntry<UzListEntry>();
    ASSERT_NE(appended, nullptr);
    appended->database = "x4.kvo";
    EXPECT_EQ(names(), "x3.kvo x2.kvo x1.kvo x4.kvo ");
}

}  // namespace
}  // namespace ruva
