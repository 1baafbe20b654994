// SEARCH and SEARCHEXT: the fields, cookies and replies in, the fields, the
// operation and the lines sent out.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "tests/bmod/ruvaserv/actions/action_test_support.h"

namespace ruva {
namespace {

using test::ActionRequest;
using test::RecordingKivoHandler;

std::string libraryReply(const std::string& name, unsigned hash, const std::string& comment) {
    return test::mlReply(test::dbLine(name, hash, comment));
}
const std::string kUnknown = "511 Invalid database 'x'\n";
const std::string kKnownA = libraryReply("a.kvo", 12, "A [EN/A1]");
const std::string kPlain = libraryReply("plain.kvo", 20, "Plain [EN/P1]");
const std::string kCollection = libraryReply("coll.kvo", 30, "Coll [EN/C1] +");
const std::string kNoMembers = test::contvReply("30", {});
// getHashId with a collection SL loads it first: its title, its listing
// and its reference file (here none).
const std::vector<std::string> kLoadCollection = {kCollection, kCollection, kNoMembers};
const std::string kCollectionLines = "MLLIST [EN/C1]\nMLLIST \"[EN/C1]\"\nCONTV 30 library-references.xml\n";

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct SearchCase {
    const char* name;
    const char* word;
    test::Fields fields;
    std::optional<std::string> cookies = {};
    std::vector<std::string> replies = {};
    uint32_t options = 0;
    int result = 1;
    std::string operation = "runSearchOperation(kSearch)";
    // At the operation (after entry when none ran): these values, and
    // none of the gone fields.
    test::Fields want = {};
    std::vector<const char*> gone = {};
    std::string error = "";
    std::string sent = "";
    int externSearch = 0;  // the search request's mark, when a search ran
};

const SearchCase kSearchCases[] = {
    {.name = "SYPA wins over PA",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "old"}, {"SYPA", "new"}},
     .want = {{"PA", "new"}, {"BA", "TITLE"}, {"OD", "0"}}},
    {.name = "BA and OD kept",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "x"}, {"BA", "TYPE"}, {"OD", "1"}},
     .want = {{"BA", "TYPE"}, {"OD", "1"}}},
    {.name = "PA * alone",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "*"}},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(100, "kivohandler/PA*/1"))},
    {.name = "PA ** passes",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "**"}},
     .want = {{"PA", "**"}}},
    {.name = "PA a* passes",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "a*"}},
     .want = {{"PA", "a*"}}},
    {.name = "SYPA * alone",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "x"}, {"SYPA", "*"}},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(100, "kivohandler/PA*/1"))},
    {.name = "external mark",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"PA", "x"}},
     .options = 0x240,
     .externSearch = 1},
    {.name = "SEARCHEXT PA * alone",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"PA", "*"}},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(100, "kivohandler/PA*/2"))},
    {.name = "SEARCHEXT defaults",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"PA", "x"}, {"MT", "2"}},
     .cookies = "showAllTitles=0; showContext=0",
     .replies = {test::verLine()},
     .options = 0x240,
     .operation = "mainPageAction(0)",
     .want = {{"MT", "0"}, {"SP", "0"}, {"BA", "TITLE"}, {"OD", "0"}},
     .sent = "VER\n"},
    {.name = "SEARCHEXT MT without cookie",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"MT", "2"}, {"SP", "0"}},
     .replies = {test::verLine()},
     .operation = "mainPageAction(0)",
     .want = {{"MT", "1"}, {"SP", "0"}},
     .sent = "VER\n"},
    // A cookie reaches the page's scripts: only "0" and "1" are taken.
    {.name = "SEARCHEXT hostile cookie",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}},
     .cookies = "showAllTitles=x; showContext=\"><svg onload=1>",
     .replies = {test::verLine()},
     .operation = "mainPageAction(0)",
     .want = {{"MT", "1"}, {"SP", "1"}},
     .sent = "VER\n"},
    {.name = "SEARCHEXT without library",
     .word = "SEARCHEXT",
     .fields = {{"PA", "x"}},
     .replies = {test::verLine()},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(13, "kivohandler/NOID5")),
     .sent = "VER\n"},
    // The unknown library leaves no text behind; the known one is listed.
    {.name = "LL one of two known",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"LL", "EN/A1 EN/B1"}, {"ST", "TITLE"}, {"PA", "x"}},
     .replies = {test::verLine(), kKnownA, kUnknown},
     .options = 0x240,
     .want = {{"LIBIDS", "\"12 \""}, {"LLF", "yes"}, {"PAT", "x"}, {"AC", "SEARCH"}, {"ST", "DOCSEARCH"}},
     .gone = {"PA", "LL", "PAD", "PAC", "MLIDS"},
     .sent = "VER\nMLLIST \"[EN/A1]\"\nMLLIST \"[EN/B1]\"\n",
     .externSearch = 1},
    {.name = "LL pattern by DOCNO",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"LL", "EN/A1"}, {"ST", "docno"}, {"PA", "x"}},
     .replies = {test::verLine(), kKnownA},
     .want = {{"PAD", "x"}},
     .gone = {"PA", "PAT"},
     .sent = "VER\nMLLIST \"[EN/A1]\"\n"},
    {.name = "LL pattern of another type stays",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"LL", "EN/A1"}, {"ST", "FULLTEXT"}, {"PA", "x"}},
     .replies = {test::verLine(), kKnownA},
     .want = {{"PA", "x"}},
     .gone = {"PAT", "PAD", "PAC"},
     .sent = "VER\nMLLIST \"[EN/A1]\"\n"},
    {.name = "LL none known",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"LL", "EN/B1 EN/D1"}},
     .replies = {test::verLine(), kUnknown, kUnknown},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(233, "kivohandler/109")),
     .sent = "VER\nMLLIST \"[EN/B1]\"\nMLLIST \"[EN/D1]\"\n"},
    {.name = "LL with a plain SL",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"LL", "EN/A1"}, {"SL", "EN/P1"}},
     .replies = {test::verLine(), kPlain, kKnownA},
     .want = {{"AC", "SEARCH"}, {"ST", "DOCSEARCH"}, {"LIBIDS", "\"12 \""}},
     .gone = {"SL"},
     .sent = "VER\nMLLIST \"[EN/P1]\"\nMLLIST \"[EN/A1]\"\n"},
    {.name = "LL with a collection SL",
     .word = "SEARCHEXT",
     .fields = {{"LL", "EN/A1"}, {"SL", "EN/C1"}},
     .replies =
         joined({{test::verLine(), kCollection}, kLoadCollection, {kKnownA}, kLoadCollection, {kCollection}}),
     .operation = "mainPageAction(0)",
     .want = {{"ID", "30"}, {"ST", "ADVSEARCH"}, {"MLIDS", "12 "}, {"LIBIDS", "\"12 \""}, {"SL", "EN/C1"}},
     .gone = {"LL"},
     .sent = "VER\nMLLIST \"[EN/C1]\"\n" + kCollectionLines + "MLLIST \"[EN/A1]\"\n" + kCollectionLines +
             "MLLIST \"[EN/C1]\"\n"},
    {.name = "SEARCH list with a collection TSL",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"STB", "2"}, {"TSL", "EN/C1"}, {"TLL", "EN/A1"}, {"ST", "TITLE"}, {"PA", "x"}},
     .replies = {test::verLine(), kCollection, kKnownA, kCollection},
     .want = {{"ID", "30"},
              {"ST", "ADVSEARCH"},
              {"MLIDS", "12 "},
              {"LD", "0"},
              {"SL", "EN/C1"},
              {"PA", "x"},
              {"PAT", "x"},
              {"PAD", "x"},
              {"PAC", "x"},
              {"STB", "2"}},
     .gone = {"TLL", "LIBIDS", "LLF"},
     .sent = "VER\nMLLIST \"[EN/C1]\"\nMLLIST \"[EN/A1]\"\nMLLIST \"[EN/C1]\"\n"},
    {.name = "SEARCHEXT list with a collection TSL",
     .word = "SEARCHEXT",
     .fields = {{"ID", "12"}, {"STB", "2"}, {"TSL", "EN/C1"}, {"TLL", "EN/A1"}},
     .replies = {test::verLine(), kCollection, kKnownA, kCollection},
     .operation = "mainPageAction(0)",
     .want = {{"ID", "30"},
              {"ST", "ADVSEARCH"},
              {"MLIDS", "12 "},
              {"LD", "0"},
              {"SL", "EN/C1"},
              {"STB", "2"},
              {"LLF", "yes"}},
     .gone = {"TLL", "LIBIDS"},
     .sent = "VER\nMLLIST \"[EN/C1]\"\nMLLIST \"[EN/A1]\"\nMLLIST \"[EN/C1]\"\n"},
    {.name = "list with a plain TSL",
     .word = "SEARCH",
     .fields = {{"ID", "12"}, {"STB", "2"}, {"TSL", "EN/P1"}, {"TLL", "EN/A1"}},
     .replies = {test::verLine(), kPlain, kKnownA},
     .want = {{"ID", "12"}},
     .gone = {"TSL", "TLL", "SL", "MLIDS", "LD"},
     .sent = "VER\nMLLIST \"[EN/P1]\"\nMLLIST \"[EN/A1]\"\n"},
    {.name = "list none known",
     .word = "search",
     .fields = {{"ID", "12"}, {"STB", "2"}, {"TLL", "EN/B1"}},
     .replies = {test::verLine(), kUnknown},
     .result = 0,
     .operation = "",
     .error = formatChecked(msgFormat(233, "kivohandler/369")),
     .sent = "VER\nMLLIST \"[EN/B1]\"\n"},
};

TEST(SearchArguments, FieldsRepliesAndLinesOfEveryRoad) {
    for (const SearchCase& c : kSearchCases) {
        SCOPED_TRACE(c.name);
        KivoHandler::isValSL = 0;
        KivoHandler::presentLL = 0;
        ActionRequest cg({.replies = c.replies, .fields = c.fields, .cookies = c.cookies});
        ASSERT_TRUE(cg.ok());
        cg->options = c.options;
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry(c.word), c.result);
        EXPECT_EQ(kh.operations(), c.operation);
        EXPECT_EQ(kh.getError(), c.error);
        const test::Fields at = kh.calls.empty() ? cg.fields() : kh.calls[0].fields;
        const test::RecordedCall state{"", "", at};
        for (const auto& [name, value] : c.want) EXPECT_EQ(state.field(name), value) << name;
        for (const char* name : c.gone) EXPECT_EQ(state.field(name), std::nullopt) << name;
        if (c.operation == "runSearchOperation(kSearch)") {
            EXPECT_EQ(kh.calls[0].externSearch, c.externSearch);
            EXPECT_EQ(kh.calls[0].options & 0x240u, 0u);
        }
        EXPECT_EQ(cg.written(), "");
        EXPECT_EQ(cg.sent(), c.sent);
    }
}

// What the main page is told: a list came, and SL is a collection; SEARCH
// forgets an earlier collection.
TEST(SearchArguments, ListAndCollectionMarks) {
    struct {
        const char* word;
        test::Fields fields;
        std::vector<std::string> replies;
        int isValSL;
        int presentLL;
    } const cases[] = {
        {"SEARCHEXT", {{"ID", "12"}}, {test::verLine()}, 0, 0},
        {"SEARCHEXT", {{"ID", "12"}, {"LL", "EN/A1"}}, {test::verLine(), kKnownA}, 0, 1},
        {"SEARCH", {{"ID", "12"}}, {}, 0, 0},
        {"SEARCH",
         {{"ID", "12"}, {"STB", "2"}, {"TSL", "EN/C1"}, {"TLL", "EN/A1"}},
         {test::verLine(), kCollection, kKnownA, kCollection},
         1,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word + std::to_string(c.fields.size()));
        KivoHandler::isValSL = 1;
        KivoHandler::presentLL = 0;
        ActionRequest cg({.replies = c.replies, .fields = c.fields});
        ASSERT_TRUE(cg.ok());
        auto& kh = cg.useHandler<RecordingKivoHandler>();
        EXPECT_EQ(kh.entry(c.word), 1);
        EXPECT_EQ(KivoHandler::isValSL, c.isValSL);
        EXPECT_EQ(KivoHandler::presentLL, c.presentLL);
    }
    KivoHandler::isValSL = 0;
    KivoHandler::presentLL = 0;
}

// 300 references: whole ids within 255 characters, and no look-up after
// the first id that does not fit.
TEST(SearchArguments, LongListKeepsWholeIds) {
    std::vector<std::string> replies = {test::verLine()};
    std::string references;
    std::string lines = "VER\n";
    for (int i = 0; i < 300; ++i) {
        const std::string reference = "EN/L" + std::to_string(i);
        references += (i ? " " : "") + reference;
        replies.push_back(libraryReply("l.kvo", 1000000 + i, "L [" + reference + "]"));
    }
    // Eight characters an id with its blank: 31 fit in 255, the 32nd is
    // the last asked for.
    std::string want;
    for (int i = 0; i < 32; ++i) lines += "MLLIST \"[EN/L" + std::to_string(i) + "]\"\n";
    for (int i = 0; i < 31; ++i) want += std::to_string(1000000 + i) + " ";
    ActionRequest cg({.replies = replies, .fields = {{"ID", "12"}, {"LL", references}}});
    ASSERT_TRUE(cg.ok());
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    EXPECT_EQ(kh.entry("SEARCHEXT"), 1);
    ASSERT_EQ(kh.operations(), "runSearchOperation(kSearch)");
    EXPECT_EQ(want.size(), 248u);
    EXPECT_EQ(kh.calls[0].field("LIBIDS"), "\"" + want + "\"");
    EXPECT_EQ(cg.sent(), lines);
}

// A collection check without a server goes on, with the request's text
// in the handler for a later failure.
TEST(SearchArguments, CollectionCheckWithoutServerGoesOn) {
    ActionRequest cg({test::PeerScript().close()}, {.fields = {{"ID", "12"}, {"SL", "EN/C1"}}});
    ASSERT_TRUE(cg.ok());
    KivoHandler::isValSL = 0;
    auto& kh = cg.useHandler<RecordingKivoHandler>();
    EXPECT_EQ(kh.entry("SEARCHEXT"), 1);
    EXPECT_EQ(kh.operations(), "mainPageAction(0)");
    EXPECT_EQ(kh.calls[0].field("SL"), std::nullopt);
    EXPECT_NE(kh.getError(), "");
    EXPECT_EQ(kh.getError(), cg->getError());
}

}  // namespace
}  // namespace ruva
