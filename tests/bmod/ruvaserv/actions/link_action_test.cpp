// LINK through the dispatcher over a scripted server: the lines sent, the
// result, and where the reason of a failure is kept.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

const std::string kPage = "<html><body>a</body></html>\n";

class LinkAction : public test::ScriptedServerTest {};

TEST_F(LinkAction, LinkFetchesTheDocumentOfFn) {
    const std::string guide = test::mlReply(test::dbLine("guide.kvo", 4242, "Guide"));
    const std::string contvA = test::contvReply("4242", {{100, "a.html"}});
    const std::string retrA = test::retrReply("a.html", kPage);
    const std::vector<std::string> fetched = {test::verLine(), guide, contvA, retrA};
    const std::string fetchedSent = "VER\nMLLIST 12\nCONTV 12 a.html\nRETR 4242 a.html\n";
    struct {
        const char* name;
        const char* word;
        std::vector<std::pair<const char*, const char*>> fields;
        std::vector<std::string> replies;
        std::string sent;
        int result;
        std::string handlerError;  // "@cg": kept in the request instead
    } const cases[] = {
        {"ID and FN", "LINK", {{"ID", "12"}, {"FN", "a.html"}}, fetched, fetchedSent, 1, ""},
        {"any case of the word", "link", {{"ID", "12"}, {"FN", "a.html"}}, fetched, fetchedSent, 1, ""},
        {"DB gives the library's ID first",
         "Link",
         {{"DB", "guide.kvo"}, {"FN", "a.html"}},
         {test::verLine(), guide, guide, contvA, retrA},
         "VER\nMLLIST \"guide.kvo\"\nMLLIST 4242\nCONTV 4242 a.html\nRETR 4242 a.html\n",
         1,
         ""},
        {"no library field: nothing is sent",
         "LINK",
         {{"FN", "a.html"}},
         {},
         "",
         0,
         formatChecked(msgFormat(13, "kivohandler/NOID1"))},
        // The main page's own listing is refused: a closed connection
        // instead would leave it to chance whether the line arrives.
        {"no FN, the main page fails: the library is not here",
         "LINK",
         {{"ID", "12"}},
         {test::verLine(), guide, "511 Invalid ID 4242\n"},
         "VER\nMLLIST 12\nMLLIST 4242\n",
         0,
         formatChecked(msgFormat(20, "kivohandler/9"), "12")},
        {"a refused version ends the action",
         "LINK",
         {{"ID", "12"}, {"FN", "a.html"}},
         {"500 Unknown command\n"},
         "VER\n",
         0,
         "@cg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({test::replyScript(c.replies)});
        ASSERT_TRUE(peer.ok());
        {
            CapturedRequest cg;
            cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            cg->options = 0x41;
            for (const auto& [name, value] : c.fields) cg.field(name, value);
            auto kh = newKivoHandler(cg.get());
            EXPECT_EQ(kh->entry(c.word), c.result);
            EXPECT_EQ(cg->options, 0x1u);
            if (c.handlerError == "@cg") {
                EXPECT_EQ(kh->getError(), "");
                ASSERT_NE(cg->sess, nullptr);
                EXPECT_EQ(cg->getError(), formatChecked(cg->msg(204, "cgihandler/6"),
                                                        cg->sess->getServerAddr(), cg->sess->getError()));
            } else {
                EXPECT_EQ(kh->getError(), c.handlerError);
            }
            if (c.result) {
                ASSERT_NE(cg->docBuf, nullptr);
                EXPECT_EQ(std::string(cg->docBuf, cg->docSize), kPage);
            }
            EXPECT_EQ(cg.written(), "");
        }
        peer.stop();
        EXPECT_EQ(test::beforeQuit(peer.connections() ? peer.received(0) : ""), c.sent);
    }
}

// A member that cannot be fetched is answered by the request's error page,
// which is the whole answer.
TEST_F(LinkAction, MissingDocumentIsAnsweredWithItsErrorPage) {
    ScriptedPeer peer(
        {test::replyScript({test::verLine(), test::mlReply(test::dbLine("guide.kvo", 12, "Guide")),
                            test::contvReply("12", {})})});
    ASSERT_TRUE(peer.ok());
    {
        CapturedRequest cg;
        cg->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        cg.field("ID", "12");
        cg.field("FN", "b.html");
        auto kh = newKivoHandler(cg.get());
        EXPECT_EQ(kh->entry("LINK"), 1);
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        EXPECT_EQ(test::errorMessageOf(cg.written()),
                  formatChecked(cg->msg(83, "SearchActions/1"), "b.html", cg->getError()));
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)), "VER\nMLLIST 12\nCONTV 12 b.html\n");
}

// The link action itself, its main page only recorded (result as set).
class LinkRecorder : public test::RecordingKivoHandler {
public:
    using RecordingKivoHandler::RecordingKivoHandler;
    int linkAction() override { return KivoHandler::linkAction(); }
};

// A library line at a level with a version digit pair, as the daemon lists
// a library of a sub-folder or one with kvoversion.txt.
std::string libraryLine(const std::string& name, unsigned hash, const std::string& version, int level = 0) {
    std::string line = test::dbLine(name, hash, "Guide [EN/GUIDE1 R1A]");
    line.replace(line.find("\"00|"), 4, "\"" + version + "|");
    line.replace(line.find("DB     0"), 8, "DB     " + std::to_string(level));
    return line;
}

TEST(LinkLibrary, KeyLeadsToTheLibrarysMainPage) {
    const std::string v20 = test::mlReply(libraryLine("guide.kvo", 4242, "20"));
    const std::string v00 = test::mlReply(libraryLine("guide.kvo", 4242, "00"));
    const std::string kivo2 = test::contvReply("12", {{300, "kivo2.html"}});
    const std::string none = test::contvReply("12", {});
    const std::string bareId = test::dbLine("guide.kvo", 1, "Guide");
    // The operation and the fields at the main page's call.
    struct MainPageCall {
        const char* operations;
        const char* id;
        const char* db;
        const char* fn;
        const char* ac;
    };
    const MainPageCall second = {"mainPageAction(3)", "4242", "guide.kvo", "kivo2.html", nullptr};
    const MainPageCall secondBare = {"mainPageAction(3)", "4242", "guide.kvo", "kivo.html", nullptr};
    const MainPageCall first = {"mainPageAction(0)", "4242", "guide.kvo", "kivomain.html", "LINKEXT"};
    const std::string v20Sent = "VER\nMLLIST 12\nCONTV 12 kivo2.html\n";
    struct {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;
        std::string sent;
        MainPageCall call;
    } const cases[] = {
        {"version 2 with kivo2.html", {{"ID", "12"}}, {test::verLine(), v20, kivo2}, v20Sent, second},
        {"version 2 without it", {{"ID", "12"}}, {test::verLine(), v20, none}, v20Sent, secondBare},
        {"a library being updated still holds it",
         {{"ID", "12"}},
         {test::verLine(), v20,
          kivo2.substr(0, kivo2.rfind("200-")) + "577 \"guide.kvo\" is being updated.\n"},
         v20Sent,
         second},
        {"version 0: the external link",
         {{"ID", "12"}, {"AC", "LINK"}},
         {test::verLine(), v00},
         "VER\nMLLIST 12\n",
         first},
        {"DB when there is no ID",
         {{"DB", "guide.kvo"}, {"ID", ""}},
         {test::verLine(), v00},
         "VER\nMLLIST \"guide.kvo\"\n",
         first},
        {"a folder before the library; levels count from the first entry",
         {{"ID", "77"}},
         {test::verLine(), test::mlReply(test::folderLine(77) + libraryLine("guide.kvo", 4242, "00", 2))},
         "VER\nMLLIST 77\n",
         first},
        {"an ID field without bars keeps the ID",
         {{"ID", "12"}},
         {test::verLine(), test::mlReply(std::string(bareId).replace(bareId.find("\"00|1|"), 18, "\"00\""))},
         "VER\nMLLIST 12\n",
         {"mainPageAction(0)", "12", "guide.kvo", "kivomain.html", "LINKEXT"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<LinkRecorder>();
        EXPECT_EQ(kh.linkAction(), 1);
        EXPECT_EQ(kh.operations(), c.call.operations);
        ASSERT_EQ(kh.calls.size(), 1u);
        const test::RecordedCall& call = kh.calls[0];
        EXPECT_EQ(call.field("ID"), c.call.id);
        EXPECT_EQ(call.field("DB"), c.call.db);
        EXPECT_EQ(call.field("FN"), c.call.fn);
        EXPECT_EQ(call.field("AC"), c.call.ac ? std::optional<std::string>(c.call.ac) : std::nullopt);
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

// Every road that finds no library, or whose main page fails, ends in the
// not-here text for the key; a page that answered itself stands.
TEST(LinkLibrary, LibraryNotHere) {
    const std::string v00 = test::mlReply(libraryLine("guide.kvo", 4242, "00"));
    const std::string folderOnly = test::mlReply(test::folderLine(9));
    struct {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;
        std::string sent;
        std::string key;
        int mainPage = 1;             // the recorded main page's result
        bool mainPageWrites = false;  // it wrote its answer (flag 0x8)
        int result = 0;
    } const cases[] = {
        {"unknown ID", {{"ID", "9"}}, {test::verLine(), "511 Invalid ID 9\n"}, "VER\nMLLIST 9\n", "9"},
        {"a DB without extension is asked as it is",
         {{"DB", "guide"}},
         {test::verLine(), "511 Invalid database 'guide'\n"},
         "VER\nMLLIST guide\n",
         "guide"},
        {"only a folder", {{"ID", "9"}}, {test::verLine(), folderOnly}, "VER\nMLLIST 9\n", "9"},
        {"an empty listing", {{"ID", "9"}}, {test::verLine(), test::mlReply("")}, "VER\nMLLIST 9\n", "9"},
        // Whether MLLIST reached the closing server is a race: "" skips the check.
        {"the server closes", {{"ID", "9"}}, {test::verLine()}, "", "9"},
        {"the main page fails: its text is replaced",
         {{"ID", "12"}},
         {test::verLine(), v00},
         "VER\nMLLIST 12\n",
         "12",
         0},
        {"the main page failed after writing its answer",
         {{"ID", "12"}},
         {test::verLine(), v00},
         "VER\nMLLIST 12\n",
         "",
         0,
         true,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<LinkRecorder>();
        kh.result = c.mainPage;
        if (c.mainPageWrites) cg->flags |= kCgiResponseDone;
        if (!c.mainPage) kh.setError("%s", "main page");
        EXPECT_EQ(kh.linkAction(), c.result);
        if (c.result) {
            EXPECT_EQ(kh.getError(), "main page");
        } else {
            EXPECT_EQ(kh.getError(), formatChecked(cg->msg(20, "kivohandler/9"), c.key));
        }
        const std::string sent = cg.sent();
        if (!c.sent.empty()) {
            EXPECT_EQ(sent, c.sent);
        }
    }
}

// The text follows the service's settings; the key is shown escaped and
// cut, so the tag span always reaches the page whole.
TEST(LinkLibrary, NotHereTextBySettings) {
    const std::string longKey(3000, '7');
    struct {
        const char* name;
        const char* profileId;
        const char* useExtranet;
        const char* service;
        std::string key;
        int message;
        std::string shown;
    } const cases[] = {
        {"no profile, extranet", "", "yes please", "Tessaport", "9", 18, "9"},
        {"no profile, no extranet", "", "No", "Tessaport", "9", 20, "9"},
        {"no profile, nothing set", "", "", "", "9", 20, "9"},
        {"profile, Tessaport", "p1", "Yes", "TESSAPORT", "9", 17, "9"},
        {"profile, MYR Store", "p1", "Yes", "myr store", "9", 19, "9"},
        {"profile, another service", "p1", "Yes", "Kivo", "9", 20, "9"},
        // As the request keeps it: markup gone, quotes as references.
        {"a hostile key", "", "No", "", "a<b>\"'", 20, "a b &#34;&#39;"},
        {"a 3000-character key", "p1", "", "Tessaport", longKey, 17, std::string(200, '7') + "..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg(
            {.replies = {test::verLine(), "511 Invalid ID 9\n"}, .fields = {{"ID", c.key}}});
        ASSERT_TRUE(cg.ok());
        cg->ProfileId = c.profileId;
        cg->useExtranet = c.useExtranet;
        cg->servicename = c.service;
        auto& kh = cg.useHandler<LinkRecorder>();
        EXPECT_EQ(kh.linkAction(), 0);
        const std::string expected = formatChecked(cg->msg(c.message, "kivohandler/9"), c.shown);
        EXPECT_EQ(kh.getError(), expected);
        EXPECT_TRUE(kh.getError().ends_with("<span style='color:#D8D8D8'> [kivohandler/9]</span>"));
        EXPECT_LE(kh.getError().size(), kErrorMessageMax);
    }
}

// A wildcard FN is redirected to the one member it matches; else message
// 471 is the page, naming the library as well as the request names it.
TEST(LinkWildcard, RedirectOrNotFoundPage) {
    const std::string guide = test::mlReply(test::dbLine("guide.kvo", 12, "Guide [EN/GUIDE1 R1A]"));
    const std::string matched = test::contvReply("guide.kvo", {{900, "guide_sd1.sgml"}});
    const std::string nothing = test::contvReply("guide.kvo", {});
    // Listed for the member, then for the library's reference.
    const std::vector<std::string> unknown = {test::verLine(), "511 Invalid ID 99\n", "511 Invalid ID 99\n"};
    struct {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;
        std::string sent;
        std::string location;  // else the 471 page naming library
        std::string library;
    } const cases[] = {
        {"one match",
         {{"ID", "12"}, {"FN", "*_sd?.sgml"}},
         {test::verLine(), guide, matched},
         "VER\nMLLIST 12\nCONTV 12 *_sd?.sgml\n",
         "FN=guide_sd1.sgml",
         ""},
        {"no match: the library's reference",
         {{"ID", "12"}, {"FN", "*_sd?.sgml"}},
         {test::verLine(), guide, nothing, guide},
         "VER\nMLLIST 12\nCONTV 12 *_sd?.sgml\nMLLIST 12\n",
         "",
         "EN/GUIDE1 R1A"},
        {"unknown ID without DB: the ID",
         {{"ID", "99"}, {"FN", "a*"}},
         unknown,
         "VER\nMLLIST 99\nMLLIST 99\n",
         "",
         "99"},
        {"unknown ID with DB: the DB",
         {{"ID", "99"}, {"DB", "x.kvo"}, {"FN", "a?"}},
         unknown,
         "VER\nMLLIST 99\nMLLIST 99\n",
         "",
         "x.kvo"},
        {"DB only",
         {{"DB", "guide.kvo"}, {"FN", "[ab].html"}},
         {test::verLine(), guide, nothing},
         "VER\nMLLIST \"guide.kvo\"\nCONTV \"guide.kvo\" [ab].html\n",
         "",
         "guide.kvo"},
        {"no library: every library was tried",
         {{"FN", "*.html"}},
         {test::verLine(), guide, nothing},
         "VER\nMLLIST \"*.kvo\"\nCONTV \"*.kvo\" *.html\n",
         "",
         "*.kvo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<LinkRecorder>();
        EXPECT_EQ(kh.linkAction(), 1);
        EXPECT_EQ(kh.operations(), "");
        EXPECT_TRUE(cg->flags & kCgiResponseDone);
        const std::string written = cg.written();
        if (!c.location.empty()) {
            EXPECT_TRUE(written.starts_with("Location: ")) << written;
            EXPECT_NE(written.find(c.location), std::string::npos) << written;
            EXPECT_NE(written.find("AC=LINK"), std::string::npos) << written;
        } else {
            EXPECT_EQ(test::errorMessageOf(written),
                      formatChecked(cg->msg(471, "kivohandler/93"), cg.value("FN").value_or(""), c.library));
        }
        EXPECT_EQ(kh.getError(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

// Nothing to look up and no library named: the start page.
TEST(LinkLibrary, NoKeyGoesToTheStartPage) {
    test::ActionRequest cg({.replies = {test::verLine()}, .fields = {{"DB", ""}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<LinkRecorder>();
    EXPECT_EQ(kh.linkAction(), 1);
    EXPECT_EQ(cg.written(), "Location: " + cg->kivoName + "\n\n");
    EXPECT_EQ(kh.operations(), "");
    EXPECT_EQ(cg.sent(), "VER\n");
}

// The second edition's handler: its own lookup and no tag on 471; the
// link action follows their answers.
class OwnLookup : public LinkRecorder {
public:
    using LinkRecorder::LinkRecorder;
    int fetched = 0;
    int fetchLinkDocument() override {
        if (fetched < 0) setError("%s", "no object");
        return fetched;
    }
    const char* linkNotFoundTag() override { return nullptr; }
};

TEST(LinkLookup, ActionFollowsTheEditionsLookup) {
    struct {
        const char* name;
        int fetched;
        test::Fields fields;
        std::vector<std::string> replies;
        int result;
        std::string error;
        std::string page;  // the error page's message; "" when none
    } const cases[] = {
        {"no search object", -1, {{"ID", "12"}}, {test::verLine()}, 0, "no object", ""},
        {"answered", 1, {{"ID", "12"}}, {test::verLine()}, 1, "", ""},
        {"471 without tag",
         0,
         {{"ID", "9"}, {"FN", "*.html"}},
         {test::verLine(), "511 Invalid ID 9\n", "511 Invalid ID 9\n"},
         1,
         "",
         formatChecked(msgFormat(471, nullptr), "*.html", "9")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<OwnLookup>();
        kh.fetched = c.fetched;
        EXPECT_EQ(kh.linkAction(), c.result);
        EXPECT_EQ(kh.getError(), c.error);
        if (c.page.empty()) {
            EXPECT_EQ(cg.sent(), "VER\n");
        } else {
            EXPECT_EQ(test::errorMessageOf(cg.written()), c.page);
        }
    }
}

// The first-edition lookup: a catchword lookup that fails is not the
// answer; the library's main page is.
TEST(LinkLookup, FailedLookupFallsBackToTheMainPage) {
    test::ActionRequest cg({.replies = {test::verLine(), test::mlReply(libraryLine("guide.kvo", 4242, "00"))},
                            .fields = {{"ID", "12"}, {"CW", std::string(3000, 'c')}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<LinkRecorder>();
    EXPECT_EQ(kh.fetchLinkDocument(), 0);
    EXPECT_EQ(kh.getError(), "");
    EXPECT_EQ(kh.linkAction(), 1);
    EXPECT_EQ(kh.operations(), "mainPageAction(0)");
    EXPECT_EQ(cg.sent(), "VER\nMLLIST 12\n");
}

TEST(ErrorArgument, EscapedAndCut) {
    struct {
        const char* name;
        std::string text;
        std::string shown;
    } const cases[] = {
        {"plain", "guide.kvo", "guide.kvo"},
        {"markup and quotes; references kept", "<b>\"x'&#34;&amp;", "&lt;b&gt;&quot;x&#39;&#34;&amp;"},
        {"exactly the limit", std::string(200, 'a'), std::string(200, 'a')},
        {"one past", std::string(201, 'a'), std::string(200, 'a') + "..."},
        {"a reference across the cut goes whole", std::string(197, 'a') + "<b",
         std::string(197, 'a') + "..."},
        {"escaping makes it long", std::string(60, '"'),
         [] {
             std::string s;
             for (int i = 0; i < 33; ++i) s += "&quot;";
             return s + "...";
         }()},
        {"a UTF-8 letter across the cut goes whole", std::string(199, 'a') + "\xc3\xa9",
         std::string(199, 'a') + "..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(errorArgument(c.text), c.shown);
    }
}

}  // namespace
}  // namespace ruva
