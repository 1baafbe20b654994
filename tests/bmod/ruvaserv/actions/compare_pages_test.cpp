// The comparison's pages over a scripted server: which library the
// selection page shows as new, what its forms and swap carry, the waiting
// page's query, and the compare marker by AC.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::Fields;

constexpr time_t kOlder = 1599998400;  // 2020-09-13 12:00 UTC: the same date from -11 to +11 hours
constexpr time_t kNewer = 1699963200;  // 2023-11-14 12:00 UTC

// A library line of MLLIST at the given level and time.
std::string libraryLine(const std::string& name, unsigned hash, const std::string& comment, time_t ctime,
                        int level = 0) {
    std::string line = test::dbLine(name, hash, comment);
    line.replace(line.find(std::to_string(test::kLibTime)), 10, std::to_string(ctime));
    line.replace(line.find("DB     0"), 8, "DB     " + std::to_string(level));
    return line;
}

// The text after "var <name> = " up to the end of its statement.
std::string scriptValue(const std::string& page, const std::string& name) {
    const std::string key = "var " + name + " = ";
    const size_t at = page.find(key);
    if (at == std::string::npos) return "<" + name + " missing>";
    return page.substr(at + key.size(), page.find(";\n", at) - at - key.size());
}

// The value attribute of the hidden field name in the send form.
std::string sendValue(const std::string& page, const std::string& name) {
    const size_t form = page.find("<form name=\"send\"");
    const std::string key = "name=\"" + name + "\" value=\"";
    const size_t at = form == std::string::npos ? form : page.find(key, form);
    if (at == std::string::npos) return "<" + name + " missing>";
    return page.substr(at + key.size(), page.find('"', at + key.size()) - at - key.size());
}

struct SelectCase {
    const char* name;
    Fields fields;
    time_t idTime;
    time_t icTime;
    const char* newTitle;
    const char* oldTitle;
    const char* newHash;
};

TEST(CompareSelect, NewLibraryByTimeUnlessTheOrderIsFixed) {
    const SelectCase cases[] = {
        {"IC newer", {{"ID", "11"}, {"IC", "22"}}, kOlder, kNewer, "Second", "First", "22"},
        {"IC older", {{"ID", "11"}, {"IC", "22"}}, kNewer, kOlder, "First", "Second", "11"},
        {"equal times: IC new", {{"ID", "11"}, {"IC", "22"}}, kNewer, kNewer, "Second", "First", "22"},
        {"OP=NOTIME keeps ID new",
         {{"ID", "11"}, {"IC", "22"}, {"OP", "NOTIME"}},
         kOlder,
         kNewer,
         "First",
         "Second",
         "11"},
        {"OP=notime as the swap sends it",
         {{"ID", "11"}, {"IC", "22"}, {"OP", "notime"}},
         kOlder,
         kNewer,
         "First",
         "Second",
         "11"},
    };
    for (const SelectCase& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg(
            {.replies = {test::verLine(),
                         test::mlReply(libraryLine("first.kvo", 11, "First [EN/FIR1234567R1A]", c.idTime)),
                         test::mlReply(libraryLine("second.kvo", 22, "Second [EN/SEC1234567R2A]", c.icTime))},
             .fields = c.fields,
             .env = {{"TZ", "UTC"}}});
        ASSERT_TRUE(cg.ok());
        cg->kivoServName = "/docs.example/cgi-bin/kivoserv";
        ASSERT_EQ(cg.handler().entry("COMPSEL"), 1) << cg.handler().getError() << cg->getError();
        const std::string page = cg.page();
        const size_t newRow = page.find("<tr><td>" + std::string(c.newTitle) + "</td>");
        const size_t oldRow = page.find("<tr><td>" + std::string(c.oldTitle) + "</td>");
        const size_t between = page.find("compared to old library");
        EXPECT_LT(newRow, between);
        EXPECT_LT(between, oldRow);
        EXPECT_NE(oldRow, std::string::npos);
        const std::string oldHash = std::string(c.newHash) == "11" ? "22" : "11";
        EXPECT_EQ(sendValue(page, "ID"), c.newHash);
        EXPECT_EQ(sendValue(page, "IC"), oldHash);
        EXPECT_EQ(sendValue(page, "AC"), "COMPMSG");
        EXPECT_EQ(scriptValue(page, "compareSwapQuery"),
                  "'ID=" + oldHash + "&IC=" + c.newHash + "&OP=notime'");
        EXPECT_EQ(page.find("name=\"UZ\""), std::string::npos);
        EXPECT_NE(
            page.find("<form name=\"send\" action=\"http://docs.example/cgi-bin/kivoserv\" method=\"get\">"),
            std::string::npos);
        EXPECT_EQ(test::checkPageScripts(page), 1);
        EXPECT_EQ(cg.sent(), "VER\nMLLIST 11\nMLLIST 22\n");
    }
}

TEST(CompareSelect, PageShowsDatesReferencesAndEscapedTitles) {
    ActionRequest cg(
        {.replies = {test::verLine(),
                     test::mlReply(libraryLine("a.kvo", 5, "A <b>&</b> 'q' [EN/<i>1234567R1A]", kOlder)),
                     test::mlReply(libraryLine("b.kvo", 7, "B [EN/B1234567R2A]", kNewer))},
         .fields = {{"ID", "5"}, {"IC", "7"}},
         .env = {{"TZ", "UTC"}}});
    ASSERT_TRUE(cg.ok());
    cg->flags |= kCgiAllowUzOnUrl;
    ASSERT_EQ(cg.handler().entry("COMPSEL"), 1) << cg.handler().getError();
    const std::string page = cg.page();
    EXPECT_NE(page.find("<tr><td>B</td><td>EN/B1234567R2A</td><td>2023-11-14</td></tr>\n"
                        "<tr><th colspan=\"3\">compared to old library</th></tr>\n"
                        "<tr><td>A &lt;b&gt;&amp;&lt;/b&gt; 'q'</td><td>EN/&lt;i&gt;1234567R1A</td>"
                        "<td>2020-09-13</td></tr>\n"),
              std::string::npos)
        << page;
    const std::string address = "127.0.0.1:" + std::to_string(cg.peer().port());
    EXPECT_EQ(sendValue(page, "UZ"), address);
    EXPECT_EQ(scriptValue(page, "compareSwapQuery"), "'ID=5&IC=7&OP=notime&UZ=" + address + "'");
    EXPECT_NE(page.find("<title>Compare Libraries: Select</title>"), std::string::npos);
    EXPECT_NE(page.find("<option value=\"15517\">Function Specification (155 17)</option>"),
              std::string::npos);
    EXPECT_NE(page.find("body { font-family: helvetica, arial, sans-serif }"), std::string::npos);
    EXPECT_TRUE(page.ends_with("</form>\n</body></html>\n"));
    EXPECT_EQ(cg->flags & kCgiBodyHandlers, 0u);
}

TEST(CompareSelect, FailuresNameTheirPlace) {
    const std::string folderOnly = test::mlReply(test::folderLine(4));
    struct Case {
        const char* name;
        Fields fields;
        std::vector<std::string> replies;
        const char* tag;
        int message;
        const char* sent;
    } const cases[] = {
        {"no IC", {{"ID", "11"}}, {test::verLine()}, "kivohandler/63.1", 13, "VER\n"},
        {"empty ID", {{"ID", ""}, {"IC", "22"}}, {test::verLine()}, "kivohandler/63.1", 13, "VER\n"},
        {"ID above every hash id",
         {{"ID", "99999"}, {"IC", "22"}},
         {test::verLine(), "511 Invalid ID\n"},
         "kivohandler/63.2",
         92,
         "VER\nMLLIST 99999\n"},
        {"IC not listed",
         {{"ID", "11"}, {"IC", "99999"}},
         {test::verLine(), test::mlReply(libraryLine("a.kvo", 11, "A [EN/A1234567R1A]", kOlder)),
          "511 Invalid ID\n"},
         "kivohandler/63.2",
         92,
         "VER\nMLLIST 11\nMLLIST 99999\n"},
        {"no library in a reply",
         {{"ID", "11"}, {"IC", "12"}},
         {test::verLine(), test::mlReply(libraryLine("a.kvo", 11, "A [EN/A1234567R1A]", kOlder)), folderOnly},
         "kivohandler/63.3",
         13,
         "VER\nMLLIST 11\nMLLIST 12\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().entry("COMPSEL"), 0);
        const std::string expected =
            c.message == 92
                ? formatChecked(msgFormat(92, c.tag), "127.0.0.1:" + std::to_string(cg.peer().port()),
                                cg->sess->getError())
                : formatChecked(msgFormat(c.message, c.tag));
        EXPECT_EQ(cg.handler().getError(), expected);
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

// Levels count from the reply's first entry: a library two folders down
// is the first library at level 0.
TEST(CompareSelect, LibraryInASubFolderIsFound) {
    ActionRequest cg(
        {.replies = {test::verLine(),
                     test::mlReply(libraryLine("deep.kvo", 31, "Deep [EN/DEE1234567R1A]", kOlder, 2)),
                     test::mlReply(libraryLine("top.kvo", 32, "Top [EN/TOP1234567R1A]", kNewer))},
         .fields = {{"ID", "31"}, {"IC", "32"}}});
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().entry("COMPSEL"), 1) << cg.handler().getError();
    EXPECT_EQ(sendValue(cg.page(), "ID"), "32");
    EXPECT_EQ(sendValue(cg.page(), "IC"), "31");
}

TEST(CompareMessage, WaitingPageCarriesTheComparisonQuery) {
    struct Case {
        const char* name;
        Fields fields;
        bool allowUz;
        std::string query;  // the script literal's body
    } const cases[] = {
        {"ID and IC with CP and DDC",
         {{"ID", "5"}, {"IC", "7"}, {"CP", "codpod"}, {"DDC", "19082"}},
         false,
         "&ID=5&IC=7&CP=codpod&DDC=19082"},
        {"ID and IC win over DB and DC",
         {{"DB", "x.kvo"}, {"DC", "y.kvo"}, {"ID", "5"}, {"IC", "7"}},
         false,
         "&ID=5&IC=7"},
        {"DB and DC, empty CP left out",
         {{"DB", "a&b.kvo"}, {"DC", "c.kvo"}, {"CP", ""}},
         false,
         "&DB=a%26b.kvo&DC=c.kvo"},
        // Stored values come validated: the quote is "&#39;", the backslash
        // and '#' as typed; each is a value that comes back as it went.
        {"names with quote, backslash, blank and hash",
         {{"DB", "it's a\\b.kvo"}, {"DC", "c#d.kvo"}},
         false,
         "&DB=it%26%2339;s a%5Cb.kvo&DC=c%23d.kvo"},
        {"AllowUZonURL adds the server", {{"ID", "5"}, {"IC", "7"}}, true, "&ID=5&IC=7&UZ=<addr>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = {test::verLine()}, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        if (c.allowUz) cg->flags |= kCgiAllowUzOnUrl;
        ASSERT_EQ(cg.handler().entry("COMPMSG"), 1) << cg.handler().getError();
        const std::string page = cg.page();
        std::string query = c.query;
        if (const size_t at = query.find("<addr>"); at != std::string::npos)
            query.replace(at, 6, "127.0.0.1:" + std::to_string(cg.peer().port()));
        // Link-encoded values hold nothing a script literal would escape.
        EXPECT_EQ(scriptValue(page, "compareQuery"), "'" + query + "'");
        EXPECT_NE(
            page.find("<body onload=\"javascript:go_to_results();\">\n<br /><br /><center>\n"
                      "<big>Compare is now executing, please wait..<blink>.</blink></big>\n</body></html>\n"),
            std::string::npos);
        EXPECT_EQ(cg->flags & kCgiBodyHandlers, 0u);
        EXPECT_EQ(test::checkPageScripts(page), 1);
    }
}

TEST(CompareMessage, BothOfAPairAreNeeded) {
    const Fields cases[] = {{}, {{"ID", "5"}}, {{"ID", "5"}, {"IC", ""}}, {{"DB", "a.kvo"}, {"IC", "7"}}};
    for (const Fields& fields : cases) {
        ActionRequest cg({.replies = {test::verLine()}, .fields = fields});
        ASSERT_TRUE(cg.ok());
        EXPECT_EQ(cg.handler().entry("COMPEXT"), 0);
        EXPECT_EQ(cg.handler().getError(), formatChecked(msgFormat(82, "kivohandler/67")));
    }
}

// Lists the marker's arguments instead of asking a server.
class ListStub : public KivoHandler {
public:
    explicit ListStub(CgiHandler* cg) : KivoHandler(cg) {}
    int outputListDb(const std::string& server, const std::string& pattern, int listType) override {
        return cg->dstWriteBuf("<option value=\"" + server + "|" + pattern + "|" + std::to_string(listType) +
                               "\">x</option>\n");
    }
};

// The marker's output with the given fields, written in the pass.
std::string markerOutput(const Fields& fields, bool allowUz = false) {
    ActionRequest cg({.replies = {test::verLine()}, .fields = fields});
    if (!cg.ok()) return "<no request>";
    cg->kivoServName = "/h/cgi-bin/kivoserv";
    // As the request's input leaves them.
    cg->curId = std::atoi(valueOf(*cg->valueList, "ID").c_str());
    cg->curDb = valueOf(*cg->valueList, "DB");
    if (allowUz) {
        cg->flags |= kCgiAllowUzOnUrl;
        cg->establishDefaultSession();
    }
    auto& kh = cg.useHandler<ListStub>();
    if (!cg->allocDstBuf(64)) return "<no buffer>";
    cg->beginDstPass();
    const int result = kh.outputCompare("default", "*.kvo");
    cg->endDstPass();
    std::string out(cg->dstBuf, cg->dstOffs);
    if (allowUz) {
        const std::string address = "127.0.0.1:" + std::to_string(cg.peer().port());
        for (size_t at = out.find(address); at != std::string::npos; at = out.find(address))
            out.replace(at, address.size(), "<addr>");
    }
    return std::to_string(result) + "|" + out;
}

TEST(CompareMarker, ButtonFormOrNothingByAction) {
    const std::string button =
        "1|<form name=\"CompareButton\" action=\"\"><center>\n<input type=\"button\" value=\"  Compare "
        "libraries... \" onclick=\"location.href='http://h/cgi-bin/kivoserv?";
    EXPECT_EQ(markerOutput({{"ID", "12"}, {"FN", "compare.html"}}),
              button + "ID=12&amp;FN=compare.html&amp;AC=COMPBUT';\" />\n</center></form>\n");
    // A stored quote must not end the onclick string once the attribute is
    // read: names are link-encoded.
    EXPECT_EQ(markerOutput({{"DB", "x');alert(1);//.kvo"}, {"FN", "a'b#.html"}}),
              button +
                  "DB=x%26%2339;);alert(1);%26%2347;%26%2347;.kvo&amp;FN=a%26%2339;b%23.html&amp;AC=COMPBUT';"
                  "\" />\n"
                  "</center></form>\n");
    EXPECT_EQ(markerOutput({{"ID", "12"}}, true),
              button +
                  "UZ=<addr>&amp;ID=12&amp;AC=COMPBUT';\" />\n"
                  "<input type=\"hidden\" name=\"UZ\" value=\"<addr>\" />\n</center></form>\n");

    const std::string form = markerOutput({{"AC", "compbut"}, {"ID", "12"}});
    EXPECT_TRUE(form.starts_with("1|<script type=\"text/javascript\">\n<!--\n"));
    EXPECT_LT(form.find("function testSelection()"), form.find("<form"));
    EXPECT_NE(form.find("<form name=\"Selection\" action=\"http://h/cgi-bin/kivoserv\" method=\"get\" "
                        "onsubmit=\"return testSelection()\"><center>\n"),
              std::string::npos);
    EXPECT_NE(form.find("<select name=\"DB\">\n<option value=\"default|*.kvo|1\">x</option>\n</select>"),
              std::string::npos);
    EXPECT_NE(form.find("<select name=\"DC\">\n<option value=\"default|*.kvo|1\">x</option>\n</select>"),
              std::string::npos);
    EXPECT_TRUE(
        form.ends_with("<input type=\"submit\" value=\"  Execute  \" />\n"
                       "<input type=\"hidden\" name=\"AC\" value=\"COMPARE\" />\n</center></form>\n"));
    EXPECT_EQ(test::checkPageScripts(form), 1);

    EXPECT_EQ(markerOutput({{"AC", "LINK"}, {"ID", "12"}}), "1|</center></form>\n");
}

}  // namespace
}  // namespace ruva
