// The main page's instant-search block: its answer without a library, its
// values against hostile fields, its document-type table, and the script
// itself in node.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/action_scripts.h"
#include "bmod/ruvaserv/actions/instant_search.h"
#include "common/docmodel/docno.h"
#include "common/docmodel/qox_doctype.h"
#include "common/html_escape.h"
#include "common/url_code.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::scriptValue;

struct Block {
    int result = -1;
    std::string text;
};

Block writeBlock(ActionRequest& cg, const std::string& title = "Guide") {
    Block block;
    if (!cg.ok() || !cg->allocDocBuf(280000)) return block;
    cg->docSize = 0;
    block.result = cg.handler().allJSFunctions("20|12|guide.kvo|", "12", 0, title, 0, 0, 0);
    block.text = cg.page();
    return block;
}

TEST(InstantSearchBlock, WithoutALibraryOnlyTheOpeningLine) {
    ActionRequest cg({.fields = {{"FN", "a.html"}, {"SL", "x"}}});
    const Block block = writeBlock(cg);
    EXPECT_EQ(block.result, 0);
    EXPECT_EQ(block.text, kInstantScriptOpen);
}

TEST(InstantSearchBlock, TheFirstOfIdLiAndDbNamesTheLibrary) {
    struct {
        const char* name;
        test::Fields fields;
        const char* want;
    } const cases[] = {
        {"ID", {{"DB", "d.kvo"}, {"LI", "EN/L1"}, {"ID", "12"}}, "'?ID=12&ST=INSTANT'"},
        {"LI before DB", {{"DB", "d.kvo"}, {"LI", "EN/L 1"}}, "'?ID=EN%2FL+1&ST=INSTANT'"},
        {"DB", {{"DB", "d&e.kvo"}}, "'?ID=d%26e.kvo&ST=INSTANT'"},
        {"empty ID is present", {{"ID", ""}, {"DB", "d.kvo"}}, "'?ID=&ST=INSTANT'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ActionRequest cg({.fields = c.fields});
        const Block block = writeBlock(cg);
        EXPECT_EQ(block.result, 1);
        EXPECT_TRUE(block.text.starts_with(kInstantScriptOpen));
        EXPECT_TRUE(block.text.ends_with(instantSearchScriptFile()));
        EXPECT_EQ(scriptValue(block.text, "kvosrvURL2"), c.want);
    }
}

// Each value stays inside its string: none ends the string, the line or the
// script element, and every query value arrives whole.
TEST(InstantSearchBlock, HostileValuesStayInTheirStrings) {
    const std::string title = "';</script><script>window.__x=1//";
    const std::string longId = "0';x='" + std::string(300, '&');
    ActionRequest cg({.fields = {{"ID", longId}, {"SL", "a\"b"}}, .env = {{"HTTP_HOST", "h'o\"st"}}});
    ASSERT_TRUE(cg.ok());
    cg->kivoServName = "/h'o\"st/cgi-bin/kivoserv";
    cg->libraryId = "a\"b'<";
    cg->helpID = "</script>";
    cg->privacyURL = "javascript:'x'";
    const Block block = writeBlock(cg, title);
    ASSERT_EQ(block.result, 1);
    const std::string values = block.text.substr(0, block.text.size() - instantSearchScriptFile().size());
    EXPECT_EQ(values.find("</"), std::string::npos);
    EXPECT_EQ(scriptValue(values, "curLibtitle"), "'" + escapeScriptString(title) + "'");
    // The field as stored (quotes as references), coded whole: nothing cut.
    const std::string stored = cg.value("ID").value_or("");
    const std::string coded = urlEncode(URLMODE_ENCODE_SCRIPT, stored.c_str(), 10 * stored.size());
    EXPECT_EQ(scriptValue(values, "kvosrvURL2"), "'?ID=" + coded + "&ST=INSTANT'");
    std::string amps;
    for (int i = 0; i < 300; ++i) amps += "%26";
    EXPECT_TRUE(coded.ends_with(amps)) << coded;
    EXPECT_EQ(scriptValue(values, "kvNotesSL"), "'a%22b%27%3C'");
    EXPECT_EQ(scriptValue(values, "instantErrorTitle"), "'KIVO Error Message'");
    EXPECT_EQ(scriptValue(values, "sllval"), "'a\\\"b\\u0027\\u003C'");
    EXPECT_NE(scriptValue(values, "kvosrvURL").find("h\\u0027o\\\"st"), std::string::npos)
        << scriptValue(values, "kvosrvURL");
    EXPECT_EQ(test::checkPageScripts(block.text + "//-->\n</script>\n"), 1);
}

TEST(InstantSearchBlock, DocumentTypesComeFromTheTypeTable) {
    const std::string tables = instantDoctypeTables();
    // One row per class: 'class': ['key', 'name'].
    std::istringstream lines(tables);
    std::string line;
    struct Row {
        std::string cls, key, name;
    };
    std::vector<Row> rows;
    while (std::getline(lines, line)) {
        const size_t mid = line.find("': ['");
        if (line.empty() || line[0] != '\'' || mid == std::string::npos || line.size() < mid + 12) continue;
        std::string name = line.substr(mid + 12);
        if (name.ends_with(",")) name.pop_back();
        if (line.compare(mid + 8, 4, "', '") != 0 || !name.ends_with("']")) continue;
        rows.push_back({line.substr(1, mid - 1), line.substr(mid + 5, 3), name.substr(0, name.size() - 2)});
    }
    ASSERT_EQ(rows.size(), 363u);
    size_t k = 0;
    for (const QoxDocTypeRow& type : qoxDoctypeTable()) {
        const std::string cls = type.decimalClass;
        if (cls.empty() || cls == "INST" || cls == "006" || cls == "0" || cls == "1" || cls == "2" || cls == "3") {
            EXPECT_FALSE(isKnownClassRow(type)) << cls;
            continue;
        }
        ASSERT_LT(k, rows.size());
        const Row& r = rows[k++];
        SCOPED_TRACE(cls);
        EXPECT_EQ(r.cls, cls);
        char key[8];
        std::snprintf(key, sizeof key, "%03d", type.value);
        EXPECT_EQ(r.key, key);
        // The rule the sort keys were once written by, row by row.
        const size_t n = k;
        const size_t ruled = n <= 293 ? n : n <= 309 ? n + 1 : n <= 360 ? n + 2 : 367 + (n - 361);
        EXPECT_EQ(static_cast<size_t>(type.value), ruled);
        EXPECT_EQ(r.name, escapeScriptString(getQoxDoctypeString(type.value)));
    }
    EXPECT_EQ(k, 363u);
    EXPECT_NE(tables.find("var dTypnmFallbacks = [['006', ['363', 'Administrative Document']], "
                          "['0', ['364', 'General Document']], ['1', ['294', 'Technical Document']], "
                          "['2', ['311', 'Commercial Document']], ['3', ['365', 'Financial Document']]];\n"
                          "var dTypnmNone = ['366', 'General Office Document'];\n"
                          "var dTypnmUnknown = ['000', 'ZUnknown'];\n"),
              std::string::npos)
        << tables.substr(tables.size() - 400);
}

// The harness's identifier table holds the names the C++ side makes.
TEST(InstantSearchScript, FileNameTableMatchesDocnoToFilename) {
    std::istringstream lines(test::readFile(RUVA_INSTANT_DOCID_TABLE));
    std::string line;
    int rows = 0;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        for (size_t from = 0;;) {
            const size_t bar = line.find(" | ", from);
            fields.push_back(line.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
            if (bar == std::string::npos) break;
            from = bar + 3;
        }
        ASSERT_EQ(fields.size(), 3u) << line;
        for (size_t at; (at = fields[0].find("\\t")) != std::string::npos;) fields[0].replace(at, 2, "\t");
        SCOPED_TRACE(line);
        const std::string want = fields[2] == "-" ? "" : fields[2];
        EXPECT_EQ(docnoToFilename(fields[0].c_str(), fields[1].c_str(), "html").value_or(""), want);
        ++rows;
    }
    EXPECT_GE(rows, 10);
}

TEST(InstantSearchScript, NodeHarness) {
    test::TempDir dir;
    const std::string script = dir.file("instant_search.js");
    test::writeFile(script, std::string(instantSearchScriptFile()));
    int status = -1;
    const std::string out = test::capture(std::string("node ") + RUVA_INSTANT_HARNESS + " " + script + " " +
                                              RUVA_INSTANT_DOCID_TABLE + " 2>&1",
                                          &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "ok\n");
}

}  // namespace
}  // namespace ruva
