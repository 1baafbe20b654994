// The waiting pages' scripts in node, on the pages as the operations write
// them: the address go_to_results loads, and the one go_to_search turns its
// own address into. Values that pass through come back as they went.
#include <gtest/gtest.h>

#include <string>

#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::Fields;

// What the page's scripts did (the runner's JSON answer).
std::string runPageScripts(const std::string& page, const std::string& options) {
    test::TempDir dir;
    const std::string pageFile = dir.file("page.html");
    const std::string optionsFile = dir.file("options.json");
    test::writeFile(pageFile, page);
    test::writeFile(optionsFile, options);
    int status = -1;
    const std::string out = test::capture(
        "node " RUVA_PAGE_SCRIPT_RUNNER " " + pageFile + " \"$(cat " + optionsFile + ")\" 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

// The strings of the JSON list after "key": ["a", "b"]; only the escapes a
// URL of ours can hold are read.
std::vector<std::string> jsonList(const std::string& json, const std::string& key) {
    std::vector<std::string> out;
    size_t at = json.find("\"" + key + "\":[");
    if (at == std::string::npos) return {"<" + key + " missing>"};
    at += key.size() + 4;
    while (at < json.size() && json[at] == '"') {
        std::string value;
        for (++at; at < json.size() && json[at] != '"'; ++at) {
            if (json[at] == '\\' && at + 1 < json.size()) ++at;
            value += json[at];
        }
        out.push_back(value);
        at += json[at + 1] == ',' ? 2 : 1;
    }
    return out;
}

// A JSON string of plain ASCII text.
std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The fields a request reads from the query of url, as it stores them.
Fields readBack(const std::string& url) {
    ActionRequest next;
    const std::string query = url.substr(url.find('?') + 1);
    EXPECT_EQ(next->parseCgiInput(query.c_str(), query.size(), '&'), 1);
    return next.fields();
}

TEST(WaitPageScripts, GoToResultsLoadsTheComparison) {
    struct Case {
        const char* name;
        Fields fields;
        bool allowUz;
        std::string url;
    } const cases[] = {
        {"ids with options",
         {{"ID", "5"}, {"IC", "7"}, {"CP", "codpod"}, {"DDC", "19082"}},
         false,
         "qzl:/kivo?AC=COMPEXE&ID=5&IC=7&CP=codpod&DDC=19082"},
        {"ids with the server",
         {{"ID", "5"}, {"IC", "7"}, {"CP", "codpod"}, {"DDC", "19082"}},
         true,
         "qzl:/kivo?AC=COMPEXE&ID=5&IC=7&CP=codpod&DDC=19082&UZ=<addr>"},
        {"names", {{"DB", "a&b.kvo"}, {"DC", "c.kvo"}}, false, "qzl:/kivo?AC=COMPEXE&DB=a%26b.kvo&DC=c.kvo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.replies = {test::verLine()}, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        std::string url = c.url;
        if (c.allowUz) {
            cg->flags |= kCgiAllowUzOnUrl;
            ASSERT_EQ(cg->establishDefaultSession(), 1);
            url.replace(url.find("<addr>"), 6, "127.0.0.1:" + std::to_string(cg.peer().port()));
        }
        ASSERT_EQ(cg.handler().entry("COMPMSG"), 1) << cg.handler().getError();
        const std::string answer = runPageScripts(cg.page(), "{\"onload\": true}");
        EXPECT_EQ(jsonList(answer, "replaced"), std::vector<std::string>{url}) << answer;
        EXPECT_NE(answer.find("\"errors\":[]"), std::string::npos) << answer;
    }
}

// Names holding a quote, a backslash, '&', a blank and '#' reach the next
// request as this one stored them.
TEST(WaitPageScripts, GoToResultsNamesRoundTrip) {
    const Fields names = {{"DB", "it's a\\b&c#d.kvo"}, {"DC", "x' \\#&y"}, {"CP", "codpod"}, {"DDC", "1551"}};
    ActionRequest cg({.fields = names});
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().entry("COMPEXT"), 1) << cg.handler().getError();
    const std::string answer = runPageScripts(cg.page(), "{\"onload\": true}");
    const std::vector<std::string> loaded = jsonList(answer, "replaced");
    ASSERT_EQ(loaded.size(), 1u) << answer;
    Fields expected = cg.fields();
    expected.insert(expected.begin(), {"AC", "COMPEXE"});
    EXPECT_EQ(readBack(loaded[0]), expected) << loaded[0];
}

TEST(WaitPageScripts, GoToSearchAsksForTheSearch) {
    const std::string base = "http://h/cgi-bin/kivoserv?";
    struct Case {
        std::string query;
        std::string turned;
    } const cases[] = {
        {"AC=SEARCHMSG&PA=a", "AC=SEARCH&PA=a"},
        {"ac=searchmsg&PA=a", "AC=SEARCH&PA=a"},
        {"ST=DocSearch&ac=SEARCHMSG", "ST=DocSearch&AC=SEARCH"},
        {"Ac=SortMsg&OD=1", "AC=SEARCH&OD=1"},
        {"xc=sortmsg&AC=SORTMSG", "xc=sortmsg&AC=SEARCH"},
        {"xac=searchmsg&PA=a", "xac=searchmsg&PA=a&AC=SEARCH"},
        {"AC=SEARCHMSGX", "AC=SEARCHMSGX&AC=SEARCH"},
        {"PA=a", "PA=a&AC=SEARCH"},
        {"AC=SEARCHMSG&PA=it%27s%20a%5Cb%26c%23d#top", "AC=SEARCH&PA=it%27s%20a%5Cb%26c%23d#top"},
    };
    ActionRequest cg;
    ASSERT_TRUE(cg.ok());
    ASSERT_EQ(cg.handler().entry("SEARCHMSG"), 1) << cg.handler().getError();
    const std::string page = cg.page();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        const std::string answer = runPageScripts(
            page, "{\"href\": " + jsonString(base + c.query) + ", \"calls\": [\"go_to_search()\"]}");
        EXPECT_EQ(jsonList(answer, "replaced"), std::vector<std::string>{base + c.turned}) << answer;
    }
    // The page itself starts it and fades its notice in.
    const std::string answer =
        runPageScripts(page, "{\"href\": \"" + base + "ac=searchmsg\", \"onload\": true, \"timers\": true}");
    EXPECT_EQ(jsonList(answer, "replaced"), std::vector<std::string>{base + "AC=SEARCH"}) << answer;
    // The runner runs an interval once: the fade's first step.
    EXPECT_NE(answer.find("{\"delay\":1000,\"ran\":true"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"style\":{\"opacity\":\"0.2\"}"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"errors\":[]"), std::string::npos) << answer;
}

}  // namespace
}  // namespace ruva
