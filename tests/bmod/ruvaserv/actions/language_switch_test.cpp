// CHNGLANG over a scripted server: which libraries and documents are
// asked for, the values the switch page hands its script, and the failures;
// then the page's script run in node against stub frames.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/actions/error_argument.h"
#include "bmod/ruvaserv/actions/kivohandler.h"
#include "bmod/ruvaserv/actions/library_identity.h"
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

class LanguageSwitch : public test::ScriptedServerTest {};

const std::string kInvalid = "511 Invalid database '[X]'\n";
const std::string kCurrent = test::mlReply(test::dbLine("guide.kvo", 12, "Guide [EN/ABC 101 01]"));
const std::string kSwedish = test::mlReply(test::dbLine("guide_sv.kvo", 21, "Guide & more [SV/ABC 101 01]"));
const std::string kNoKivo2 = test::contvReply("21", {});
const std::string kDocument = "1551-ABC10101Uen.A.html";
const std::string kSwedishDoc = test::contvReply("21", {{100, "1551-abc10101usv.a.html"}});

std::string mllistOf(const std::string& identifier) {
    return "MLLIST \"[" + identifier + "]\"\n";
}

// The switch page's one assignment; "" when the page has none.
std::string switchValues(const std::string& page) {
    const size_t at = page.find("var kvLangSwitch = ");
    if (at == std::string::npos) return "";
    return page.substr(at, page.find('\n', at) - at);
}

std::string values(const std::string& pd, const std::string& hash, const std::string& title, int kivo2,
                   const std::string& query) {
    return "var kvLangSwitch = {pd: '" + pd + "', hashId: '" + hash + "', title: '" + title +
           "', kivo2: " + std::to_string(kivo2) + ", plusCoded: 0, query: '" + query + "'};";
}

struct SwitchRun {
    int result = -1;
    std::string page;
    std::string error;  // cg's, else the handler's
    std::string sent;
    std::string server;  // address:port
};

SwitchRun runSwitch(const test::Fields& fields, const std::vector<std::string>& replies,
                    BrowserType browser = BROWSER_UNKNOWN) {
    ScriptedPeer peer({test::replyScript(replies)});
    SwitchRun run;
    if (!peer.ok()) return run;
    {
        CapturedRequest cg;
        run.server = "127.0.0.1:" + std::to_string(peer.port());
        cg->docServAddr = run.server;
        cg->browserType = browser;
        for (const auto& [name, value] : fields) cg.field(name.c_str(), value.c_str());
        auto kh = newKivoHandler(cg.get());
        run.result = kh->entry("CHNGLANG");
        if (cg->docBuf) run.page.assign(cg->docBuf, cg->docSize);
        run.error = cg->getError().empty() ? kh->getError() : cg->getError();
    }
    peer.stop();
    run.sent = test::beforeQuit(peer.received(0));
    return run;
}

TEST_F(LanguageSwitch, TargetLibraryByLanguageCode) {
    const std::string svPd = "00|21|guide_sv.kvo|";
    const std::string swDoc = "&NF=1551-ABC10101Usv.A.html&SW=1";
    const std::string unprefixed = test::mlReply(test::dbLine("guide_x.kvo", 30, "Guide [ABC 101 01]"));
    const std::string arabic = test::mlReply(test::dbLine("guide_ae.kvo", 40, "Guide AE [AE/ABC 101 01]"));
    const std::string kivo2 = test::contvReply("30", {{10, "kivo2.html"}});
    const std::string untranslated = test::contvReply("30", {{100, "1551-abc10101.a.html"}});
    const std::string currentSv = test::mlReply(test::dbLine("guide_sv.kvo", 21, "Guide [SV/ABC 101 01]"));
    struct Case {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;  // after the greeting and VER
        std::string sent;                  // after VER
        std::string values;                // "" on failure
        std::string error;
    };
    const Case cases[] = {
        {"sv: the SV library and its document",
         {{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}},
         {kCurrent, kSwedish, kNoKivo2, kSwedishDoc},
         "MLLIST 12\n" + mllistOf("SV/ABC10101") + "CONTV 21 kivo2.html\nCONTV 21 1551-ABC10101U*.A.html\n",
         values(svPd, "21", "Guide & more", 0, swDoc),
         ""},
        {"names as listings give them keep their case",
         {{"ID", "12"}, {"FN", "1551-abc10101uen.a.html"}, {"LU", "SV"}},
         {kCurrent, kSwedish, kNoKivo2, kSwedishDoc},
         "MLLIST 12\n" + mllistOf("SV/ABC10101") + "CONTV 21 kivo2.html\nCONTV 21 1551-abc10101u*.a.html\n",
         values(svPd, "21", "Guide & more", 0, "&NF=1551-abc10101usv.a.html&SW=1"),
         ""},
        {"en: AE after EN",
         {{"ID", "21"}, {"FN", "1551-ABC10101Usv.A.html"}, {"LU", "en"}},
         {currentSv, kInvalid, arabic, test::contvReply("40", {}),
          test::contvReply("40", {{100, "1551-abc10101uae.a.html"}})},
         "MLLIST 21\n" + mllistOf("EN/ABC10101") + mllistOf("AE/ABC10101") +
             "CONTV 40 kivo2.html\nCONTV 40 1551-ABC10101U*.A.html\n",
         values("00|40|guide_ae.kvo|", "40", "Guide AE", 0, "&NF=1551-ABC10101Uae.A.html&SW=1"),
         ""},
        {"en: then no prefix; kivo2.html of the target, a name without code as listed",
         {{"ID", "21"}, {"FN", "1551-ABC10101Usv.A.html"}, {"LU", "en"}},
         {currentSv, kInvalid, kInvalid, unprefixed, kivo2, untranslated},
         "MLLIST 21\n" + mllistOf("EN/ABC10101") + mllistOf("AE/ABC10101") + mllistOf("ABC10101") +
             "CONTV 30 kivo2.html\nCONTV 30 1551-ABC10101U*.A.html\n",
         values("00|30|guide_x.kvo|", "30", "Guide", 1, "&NF=1551-abc10101.a.html&SW=1"),
         ""},
        {"en: all three fail",
         {{"ID", "21"}, {"FN", kDocument}, {"LU", "en"}},
         {currentSv, kInvalid, kInvalid, kInvalid},
         "MLLIST 21\n" + mllistOf("EN/ABC10101") + mllistOf("AE/ABC10101") + mllistOf("ABC10101"),
         "",
         formatChecked(msgFormat(94, "kivohandler/101"), "EN/ABC10101")},
        {"de: no fallback",
         {{"ID", "12"}, {"FN", kDocument}, {"LU", "de"}},
         {kCurrent, kInvalid},
         "MLLIST 12\n" + mllistOf("DE/ABC10101"),
         "",
         formatChecked(msgFormat(94, "kivohandler/84"), "DE/ABC10101")},
        {"a comment without an identifier",
         {{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}},
         {test::mlReply(test::dbLine("guide.kvo", 12, "Guide"))},
         "MLLIST 12\n",
         "",
         formatChecked(msgFormat(95, "kivohandler/83"), "SV")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> replies = {test::verLine()};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        const SwitchRun run = runSwitch(c.fields, replies);
        EXPECT_EQ(run.result, c.values.empty() ? 0 : 1);
        EXPECT_EQ(switchValues(run.page), c.values);
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.sent, "VER\n" + c.sent);
    }
}

TEST_F(LanguageSwitch, DocumentLookupFailures) {
    const std::string pattern = "1551-ABC10101U*.A.html";
    const std::string lastPattern = "\"[SV/ABC10101]\"";
    struct Case {
        const char* name;
        std::string reply;
        std::string error;
    };
    const Case cases[] = {
        {"being updated", "577 Library \"guide_sv.kvo\" is being updated.\n",
         formatChecked(msgFormat(7, "kivohandler/105"), "guide_sv.kvo")},
        {"removed", "578 Library \"guide_sv.kvo\" has been removed.\n",
         formatChecked(msgFormat(8, "kivohandler/106"), "guide_sv.kvo")},
        {"refused", kInvalid,
         formatChecked(msgFormat(93, "kivohandler/85"), pattern, errorArgument(lastPattern))},
        {"only empty members", test::contvReply("21", {{0, "1551-abc10101usv.a.html"}}),
         formatChecked(msgFormat(93, "kivohandler/86"), pattern, errorArgument(lastPattern))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SwitchRun run = runSwitch({{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}},
                                        {test::verLine(), kCurrent, kSwedish, kNoKivo2, c.reply});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.page, "");
    }
}

TEST_F(LanguageSwitch, ListingOfTheCurrentLibraryRefused) {
    const SwitchRun run =
        runSwitch({{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}}, {test::verLine(), kInvalid});
    EXPECT_EQ(run.result, 0);
    CapturedRequest tables;
    EXPECT_EQ(run.error, notAvailableText(*tables, run.server, ""));
    EXPECT_EQ(run.sent, "VER\nMLLIST 12\n");
}

// External and search mode leave library or document as they are; the
// fields passed on keep their order and are coded for a script string.
TEST_F(LanguageSwitch, ExternalAndSearchModes) {
    const std::string kivo2 = test::contvReply("12", {{10, "kivo2.html"}});
    struct Case {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;
        std::string sent;
        std::string values;
        bool waiting;
    };
    const Case cases[] = {
        {"external: the library and FN as given, IX passed on",
         {{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}, {"EXT", "TRUE"}, {"IX", "a&b"}, {"WK", "w k"}},
         {kCurrent, kivo2},
         "MLLIST 12\nCONTV 12 kivo2.html\n",
         values("00|12|guide.kvo|", "12", "", 1, "&IX=a%26b&NF=" + kDocument + "&SW=1&WK=w+k"),
         false},
        {"search: the library switches, no document is looked for",
         {{"WK", "x"},      {"DB", "guide.kvo"},
          {"LU", "sv"},     {"SCH", "TRUE"},
          {"PA", "a b"},    {"IX", "7"},
          {"ORPA", "+&"},   {"CH", "c#1"},
          {"STB", "2"},     {"LLF", "l"},
          {"MLIDS", "1 2"}, {"SL", "s"},
          {"PAC", "c"},     {"PAD", "x');alert(1);//"},
          {"PAT", "t"},     {"LD", "d"},
          {"SP", "p"},      {"MT", "m"},
          {"OD", "o"},      {"BA", "b"},
          {"DO", "o#"},     {"ST", "DocSearch"}},
         {kCurrent, kSwedish, kNoKivo2},
         "MLLIST \"guide.kvo\"\n" + mllistOf("SV/ABC10101") + "CONTV 21 kivo2.html\n",
         values("00|21|guide_sv.kvo|", "21", "Guide & more", 0,
                "&ST=DocSearch&DO=o%23&BA=b&OD=o&MT=m&SP=p&LD=d&PAT=t&PAD=x%27);alert(1);//&PAC=c&PA=a+b&SL=s"
                "&MLIDS=1 2&LLF=l&NF=SEARCH&STB=2&HC=c%231&ORPA=%2B%26&SW=1&WK=x"),
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> replies = {test::verLine()};
        replies.insert(replies.end(), c.replies.begin(), c.replies.end());
        const SwitchRun run = runSwitch(c.fields, replies);
        EXPECT_EQ(run.result, 1);
        EXPECT_EQ(switchValues(run.page), c.values);
        EXPECT_EQ(run.sent, "VER\n" + c.sent);
        EXPECT_EQ(run.page.find("please stand by") != std::string::npos, c.waiting);
        EXPECT_TRUE(run.page.ends_with("<br /><br /><center>\n" +
                                       std::string(c.waiting ? "<big>Switching to another language, please "
                                                               "stand by for Results!</big>\n"
                                                             : "") +
                                       "</body></html>\n"));
        EXPECT_EQ(test::checkPageScripts(run.page), 1);
    }
}

// A missing field gives no text of the action's own, and nothing is sent.
TEST_F(LanguageSwitch, MissingFieldsLeaveTheGenericMessage) {
    const struct {
        const char* name;
        test::Fields fields;
    } cases[] = {
        {"no LU", {{"ID", "12"}, {"FN", kDocument}}},
        {"empty LU", {{"ID", "12"}, {"FN", kDocument}, {"LU", ""}}},
        {"no ID or DB", {{"FN", kDocument}, {"LU", "sv"}}},
        {"no FN", {{"ID", "12"}, {"LU", "sv"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SwitchRun run = runSwitch(c.fields, {test::verLine()});
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(run.error, formatChecked(msgFormat(476, "kivohandler/0"), "CHNGLANG"));
        EXPECT_EQ(run.sent, "");
    }
}

// The page's scripts in page_script_runner.js, the body's onload run, with
// the toolbar's newlib form naming the new library: the runner's JSON.
std::string runSwitchLib(const std::string& page, const std::string& moreOptions) {
    test::TempDir dir;
    const std::string file = dir.file("switch.html");
    test::writeFile(file, page);
    const std::string options =
        "{\"onload\": true, \"forms\": {\"newlib\": {\"ID\": \"21\", \"DB\": "
        "\"guide_sv.kvo\"}}, \"top\": {\"libId\": \"SV/ABC10101\"}, \"returns\": "
        "{\"top.library\": \"L\"}" +
        moreOptions + "}";
    return test::capture("node " RUVA_PAGE_SCRIPT_RUNNER " " + file + " '" + options + "' 2>&1");
}

// The runner's calls: library, setPD with the hash id, then the load.
std::string switchCalls(const std::string& hash, const std::string& url) {
    const std::string calls =
        R"("calls":[{"fn":"top.library","args":[]},{"fn":"top.setPD","args":[")" + hash + R"(","L"]})";
    if (url.empty()) return calls + "]";
    return calls + R"(,{"fn":"top.kivomain.location.replace","args":[")" + url + "\"]}]";
}

TEST_F(LanguageSwitch, SwitchLibLoadsTheOtherLibrary) {
    const test::Fields search = {{"ID", "12"},  {"LU", "en"},        {"SCH", "TRUE"},
                                 {"PA", "a b"}, {"ST", "DocSearch"}, {"PAD", "x');alert(1);//"}};
    const std::vector<std::string> english = {test::verLine(), kCurrent, kCurrent,
                                              test::contvReply("12", {})};
    const std::string searchUrl =
        "qzl:/kivo?FN=kivo.html&ID=21&DB=guide_sv.kvo&ST=DocSearch&PAD=x%27);alert(1);//";
    const std::string switched = R"("LIBSWITCH":"yes","ISSCHEXT":"no","LIBTYPE":"")";
    const std::string guide = R"("top":{"title":"Guide","pd":"00|12|guide.kvo|","libId":"SV/ABC10101"})";
    struct Case {
        const char* name;
        test::Fields fields;
        std::vector<std::string> replies;
        BrowserType browser;
        std::string options;
        std::vector<std::string> shown;  // in the runner's result
    };
    const Case cases[] = {
        {"a document in the other library",
         {{"ID", "12"}, {"FN", kDocument}, {"LU", "sv"}},
         {test::verLine(), kCurrent, kSwedish, test::contvReply("21", {{10, "kivo2.html"}}), kSwedishDoc},
         BROWSER_UNKNOWN,
         "",
         {switchCalls("21", "qzl:/kivo?FN=kivo2.html&ID=21&DB=guide_sv.kvo&NF=1551-ABC10101Usv.A.html&SW=1"),
          switched, R"("lib":{"li":"SV/ABC10101"})",
          R"("top":{"title":"Guide & more","pd":"00|21|guide_sv.kvo|","libId":"SV/ABC10101"})"}},
        {"a search, script text in a field stays data",
         search,
         english,
         BROWSER_UNKNOWN,
         "",
         {switchCalls("12", searchUrl + "&PA=a+b&NF=SEARCH&SW=1"), switched, guide}},
        {"Netscape 4 reads '+' as a blank",
         search,
         english,
         BROWSER_NETSCAPE_4,
         "",
         {switchCalls("12", searchUrl + "&PA=a%2Bb&NF=SEARCH&SW=1"), switched}},
        {"Netscape 6 does not",
         search,
         english,
         BROWSER_NETSCAPE_6,
         "",
         {switchCalls("12", searchUrl + "&PA=a+b&NF=SEARCH&SW=1")}},
        {"no frames to call",
         search,
         english,
         BROWSER_UNKNOWN,
         R"(, "globals": {"top.kivotbar": null, "top.kivomain": null})",
         {switchCalls("12", ""), guide}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SwitchRun run = runSwitch(c.fields, c.replies, c.browser);
        ASSERT_EQ(run.result, 1) << run.error;
        const std::string result = runSwitchLib(run.page, c.options);
        EXPECT_NE(result.find(R"("errors":[])"), std::string::npos) << result;
        for (const std::string& part : c.shown)
            EXPECT_NE(result.find(part), std::string::npos) << part << "\n" << result;
    }
}

}  // namespace
}  // namespace ruva
