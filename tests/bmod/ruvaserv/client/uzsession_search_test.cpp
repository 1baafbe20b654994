#include "bmod/ruvaserv/client/uzsession_search.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"

namespace ruva {
namespace {

UzLine entry(int code, std::string_view text) {
    return {UzLineKind::kEntry, code, text};
}

std::vector<std::string> texts(const std::unique_ptr<StringList>& list) {
    std::vector<std::string> out;
    if (list) {
        for (const String* s = list->first; s; s = s->next) out.push_back(s->value);
    }
    return out;
}

using Words = std::vector<std::pair<std::string, UzArgKind>>;

Words words(const std::vector<UzArg>& args) {
    Words out;
    for (const UzArg& a : args) out.emplace_back(std::string(a.text), a.kind);
    return out;
}

constexpr UzArgKind kRaw = UzArgKind::kRaw;
constexpr UzArgKind kFree = UzArgKind::kFreeText;
constexpr UzArgKind kLib = UzArgKind::kLibrary;
constexpr UzArgKind kPat = UzArgKind::kPattern;
constexpr UzArgKind kField = UzArgKind::kField;

TEST(QxSearchBitmap, FiltersOnlyForANonZeroDigitBeforeThe32ndBar) {
    std::string zeros32;  // 32 words of zeros: the 32nd bar ends the scan
    for (int i = 0; i < 32; ++i) zeros32 += "0|";
    const struct {
        const char* name;
        std::optional<std::string> bitmap;
        bool filters;
    } cases[] = {
        {"none", std::nullopt, false},
        {"null word", "null", false},
        {"empty", "", false},
        {"zeros and bars", "0|00|0|000", false},
        {"digit after the 32nd bar", zeros32 + "1", false},
        {"digit in the 32nd word", zeros32.substr(0, 62) + "4", true},
        {"upper-case hex", "0|A", true},
        {"lower-case hex", "00|0f", true},
        {"not hex", "x|g|z", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(isFilteringBitmap(c.bitmap), c.filters);
    }
}

TEST(QxSearchPlan, PairsLibrariesWithBitmapsUpToCount) {
    struct Step {
        std::string library;
        std::optional<std::string> bitmap;
        bool filters;
    };
    const struct {
        const char* name;
        const char* libraries;
        std::optional<std::string> bitmaps;
        int count;
        std::vector<Step> steps;
    } cases[] = {
        {"count 2 of three libraries", "12 13 14", std::nullopt, 2, {{"12", {}, false}, {"13", {}, false}}},
        {"count 0 takes all",
         "12 13 14",
         std::nullopt,
         0,
         {{"12", {}, false}, {"13", {}, false}, {"14", {}, false}}},
        {"quoted list", "\"12 guide.kvo\"", std::nullopt, 5, {{"12", {}, false}, {"guide.kvo", {}, false}}},
        {"bitmaps paired in order", "12 13", "0|1 0|0", 0, {{"12", "0|1", true}, {"13", "0|0", false}}},
        {"quoted bitmaps", "12 13", "\"null 1\"", 0, {{"12", "null", false}, {"13", "1", true}}},
        {"bitmaps run out first", "12 13 14", "1 0", 0, {{"12", "1", true}, {"13", "0", false}}},
        {"first library without a bitmap", "12 13", "", 0, {{"12", {}, false}}},
        {"no library", "", std::nullopt, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<QxSearchStep> got = planQxSearch(c.libraries, c.bitmaps, c.count);
        ASSERT_EQ(got.size(), c.steps.size());
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].library, c.steps[i].library);
            EXPECT_EQ(got[i].bitmap, c.steps[i].bitmap);
            EXPECT_EQ(got[i].filters, c.steps[i].filters);
        }
    }
}

TEST(SearchCommandLines, CarryTheirWordsInOrder) {
    const std::string_view two[] = {"12*", "A\"B"};
    const std::string_view nine[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    QxSearchStep filtering{"12", "0|1", true};
    QxSearchStep plain{"guide.kvo", "0|0", false};
    const struct {
        const char* name;
        std::vector<UzArg> args;
        Words expected;
    } cases[] = {
        {"QXSRCH filtering bitmap",
         qxsrchArgs("safe*", filtering, "ctw.qxx", "50"),
         {{"safe*", kPat}, {"12", kLib}, {"ctw.qxx", kFree}, {"0", kRaw}, {"0|1", kFree}}},
        {"QXSRCH plain bitmap not sent",
         qxsrchArgs("safe*", plain, "ctw.qxx", "50"),
         {{"safe*", kPat}, {"guide.kvo", kLib}, {"ctw.qxx", kFree}, {"50", kRaw}}},
        {"PUSRCH two fields",
         pusrchArgs("g*.kvo", "*.pu", two),
         {{"g*.kvo", kLib}, {"*.pu", kFree}, {"12*", kField}, {"A\"B", kField}}},
        {"PUSRCH nine fields, eight sent",
         pusrchArgs("g*.kvo", "*.pu", nine),
         {{"g*.kvo", kLib},
          {"*.pu", kFree},
          {"1", kField},
          {"2", kField},
          {"3", kField},
          {"4", kField},
          {"5", kField},
          {"6", kField},
          {"7", kField},
          {"8", kField}}},
        {"MSRCH without product id", msrchArgs("guide", std::nullopt), {{"guide", kPat}}},
        {"MSRCH product id 1", msrchArgs("guide", "1"), {{"guide", kPat}}},
        {"MSRCH product id 01", msrchArgs("guide", "01"), {{"guide", kPat}}},
        {"MSRCH product id (null)", msrchArgs("guide", "(null)"), {{"guide", kPat}}},
        {"MSRCH product id 12", msrchArgs("guide", "12"), {{"guide", kPat}, {"12", kFree}}},
        {"MPSRCH without product id",
         mpsrchArgs("Guide*", "", "2020", "20241231", "", "1"),
         {{"Guide*", kFree}, {"", kFree}, {"2020", kFree}, {"20241231", kFree}, {"", kFree}}},
        {"MPSRCH product id once, last",
         mpsrchArgs("Guide*", "1/ABC*", "", "", "sysA sysB", "7"),
         {{"Guide*", kFree},
          {"1/ABC*", kFree},
          {"", kFree},
          {"", kFree},
          {"sysA sysB", kFree},
          {"7", kFree}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(words(c.args), c.expected);
    }
}

struct QxRecord {
    std::optional<std::string> database;
    std::string ID;
    std::string filename;
    int hit = 1;
    unsigned actualHits = 0;
    std::vector<std::string> keywords;
    std::vector<std::string> topics;
    std::string comment;
    std::string folTitle;
};

TEST(QxSearchEntry, ReadsHitsAndSummaries) {
    const struct {
        const char* name;
        int code;
        const char* text;
        const char* index;
        QxRecord expected;
    } cases[] = {
        {"ctw tokens up to the first bracket",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [safety switch] \"Switch [main]\"",
         "ctw.qxx",
         {"guide.kvo", "4711", "1551-abc.html", 1, 0, {"safety switch"}, {}, "Switch [main]", ""}},
        {"ctw index named in capitals",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [safety] Switch",
         "CTW.QXX",
         {"guide.kvo", "4711", "1551-abc.html", 1, 0, {"safety"}, {}, "Switch", ""}},
        {"topictitle with ] in the comment",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [\"SAFETY|2.10|\" | \"SCOPE|2.3|\"] \"Scope [2] "
         "\\\"x\\\"\"",
         "topictitle.qxx",
         {"guide.kvo", "4711", "1551-abc.html", 1, 0, {}, {"SCOPE|2.3|SAFETY|2.10|"}, "Scope [2] \"x\"", ""}},
        {"topictitle without comment",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [SAFETY|2.10|]",
         "topictitle.qxx",
         {"guide.kvo", "4711", "1551-abc.html", 1, 0, {}, {"SAFETY|2.10|"}, "", ""}},
        {"other index: words up to one ending in ]",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [power supply] \"Power unit\"",
         "title.qxx",
         {"guide.kvo",
          "4711",
          "1551-abc.html",
          1,
          0,
          {"power", "supply"},
          {"power", "supply"},
          "Power unit",
          ""}},
        {"other index: lone ]",
         300,
         "\"guide.kvo\" 4711 \"1551-abc.html\" HTML 0 [power ] Power",
         "title.qxx",
         {"guide.kvo", "4711", "1551-abc.html", 1, 0, {"power"}, {"power"}, "Power", ""}},
        {"348 with its count",
         348,
         "\"Guide folder\" \"guide.kvo\" 4711 6",
         "ctw.qxx",
         {"guide.kvo", "4711", "", 0, 6, {}, {}, "", ""}},
        {"349 without ID",
         349,
         "\"Guide folder\" \"guide.kvo\"",
         "ctw.qxx",
         {"guide.kvo", "", "", 0, 0, {}, {}, "", ""}},
        {"folder page title",
         300,
         "\"guide.kvo\" 4711 \"h1.html\" HTML 0 [[Intro]]",
         "title.qxx",
         {"guide.kvo", "4711", "h1.html", 1, 0, {"[Intro]"}, {"[Intro]"}, "", "Intro"}},
        {"folder page, rest []",
         300,
         "\"guide.kvo\" 4711 \"h1.html\" HTML 0 []",
         "title.qxx",
         {"guide.kvo", "4711", "h1.html", 1, 0, {}, {}, "", ""}},
        {"folder page, rest [a]",
         300,
         "\"guide.kvo\" 4711 \"h1.html\" HTML 0 [a]",
         "title.qxx",
         {"guide.kvo", "4711", "h1.html", 1, 0, {"a"}, {"a"}, "", ""}},
        {"no fields", 300, "", "ctw.qxx", {std::nullopt, "", "", 1, 0, {}, {}, "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = allocResponse(RT_QXSRCH);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(applyQxSearchLine(*r, entry(c.code, c.text), c.index, "127.0.0.1:9229"),
                  SearchLineStep::kMore);
        EXPECT_EQ(r->resultCode, c.code);
        const UzQxSearchEntry* e = r->qxsrch();
        EXPECT_EQ(e->next, nullptr);
        EXPECT_EQ(e->database, c.expected.database);
        if (!c.expected.database) continue;
        EXPECT_EQ(e->servname, "127.0.0.1:9229");
        EXPECT_EQ(e->ID, c.expected.ID);
        EXPECT_EQ(e->filename, c.expected.filename);
        EXPECT_EQ(e->hit, c.expected.hit);
        EXPECT_EQ(e->actualHits, c.expected.actualHits);
        EXPECT_EQ(texts(e->keywords), c.expected.keywords);
        EXPECT_EQ(texts(e->topics), c.expected.topics);
        EXPECT_EQ(e->comment, c.expected.comment);
        EXPECT_EQ(e->folTitle, c.expected.folTitle);
        if (c.expected.hit) {
            EXPECT_EQ(e->docType, DOCT_HTML);
        }
    }
}

TEST(QxSearchReply, OneLibrarysLinesEndAtItsEndLine) {
    auto r = allocResponse(RT_QXSRCH);
    ASSERT_NE(r, nullptr);
    const struct {
        UzLine line;
        SearchLineStep step;
    } lines[] = {
        {{UzLineKind::kHeader, 300, "Database Filename Hash DocType Score Tokens Comment"},
         SearchLineStep::kMore},
        {entry(300, "\"a.kvo\" 1 \"x.html\" HTML 0 [w] c"), SearchLineStep::kMore},
        // An index that cannot be read is reported mid-reply and passed over.
        {{UzLineKind::kHeader, 310, "Failed to unzip /lib/b.kvo ctw.qxx"}, SearchLineStep::kMore},
        {entry(349, "\"F\" \"b.kvo\" 2"), SearchLineStep::kMore},
        {{UzLineKind::kEnd, 200, "QXSRCH executed."}, SearchLineStep::kEnd},
    };
    for (const auto& l : lines) EXPECT_EQ(applyQxSearchLine(*r, l.line, "ctw.qxx", "s:1"), l.step);
    EXPECT_EQ(r->resultCode, 200);
    EXPECT_EQ(r->resultMessage, "QXSRCH executed.");
    const UzQxSearchEntry* e = r->qxsrch();
    ASSERT_NE(e->next, nullptr);
    EXPECT_EQ(e->database, "a.kvo");
    EXPECT_EQ(e->next->database, "b.kvo");
    EXPECT_EQ(e->next->next, nullptr);
}

using Apply = std::function<SearchLineStep(UzResponse&, const UzLine&)>;

SearchLineStep qxLine(UzResponse& r, const UzLine& l) {
    return applyQxSearchLine(r, l, "ctw.qxx", "s:1");
}

TEST(SearchReply, FinalAndFailedLinesSetCodeAndMessage) {
    const UzLine none{};
    const UzLine shortLine{UzLineKind::kShort, 0, ""};
    const UzLine refused{UzLineKind::kError, 511, "Invalid ID 99999"};
    const UzLine updated{UzLineKind::kError, 577, "Library \"b.kvo\" is being updated."};
    const UzLine unknown{UzLineKind::kError, 400, "Unknown command <QXDT>. Try HELP."};
    const UzLine done{UzLineKind::kEnd, 200, "PUSRCH executed. Databases, files and lines inspected: 1 2 3"};
    const struct {
        const char* name;
        ResponseType type;
        Apply apply;
        UzLine line;
        SearchLineStep step;
        int code;
        std::string message;
    } cases[] = {
        {"QXSRCH no line", RT_QXSRCH, qxLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(416, "uzsession/27")},
        {"QXSRCH short", RT_QXSRCH, qxLine, shortLine, SearchLineStep::kFailed, 500,
         getMsgStr(417, "uzsession/28")},
        {"QXSRCH 577 ends all", RT_QXSRCH, qxLine, updated, SearchLineStep::kError, 577,
         std::string(updated.text)},
        {"QXSRCHSGS no line", RT_QXSRCHSGS, applyQxSgsLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(416, "uzsession/27")},
        {"QXSRCHSGS 511", RT_QXSRCHSGS, applyQxSgsLine, refused, SearchLineStep::kError, 511,
         std::string(refused.text)},
        {"QXDT no line", RT_QXDT, applyQxdtLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(404, "uzsession/22")},
        {"QXDT short", RT_QXDT, applyQxdtLine, shortLine, SearchLineStep::kFailed, 500,
         getMsgStr(405, "uzsession/23")},
        {"QXDT unknown to the daemon", RT_QXDT, applyQxdtLine, unknown, SearchLineStep::kError, 400,
         std::string(unknown.text)},
        {"SRCH no line", RT_SRCH, applySrchLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(425, "uzsession/40")},
        {"SRCH short", RT_SRCH, applySrchLine, shortLine, SearchLineStep::kFailed, 500,
         getMsgStr(428, "uzsession/41")},
        {"PUSRCH no line", RT_PUSRCH, applyPuSrchLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(408, "uzsession/30")},
        {"PUSRCH short", RT_PUSRCH, applyPuSrchLine, shortLine, SearchLineStep::kFailed, 500,
         getMsgStr(409, "uzsession/31")},
        {"PUSRCH end line", RT_PUSRCH, applyPuSrchLine, done, SearchLineStep::kEnd, 200,
         std::string(done.text)},
        {"MSRCH no line", RT_MSRCH, applyMetaSearchLine, none, SearchLineStep::kFailed, 500,
         getMsgStr(458, "uzsession/68")},
        {"MSRCH short", RT_MSRCH, applyMetaSearchLine, shortLine, SearchLineStep::kFailed, 500,
         getMsgStr(459, "uzsession/69")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = allocResponse(c.type);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(c.apply(*r, c.line), c.step);
        EXPECT_EQ(r->resultCode, c.code);
        EXPECT_EQ(r->resultMessage, c.message);
    }
}

TEST(QxdtEntry, NodeAndDocumentLinesFillByTypeLetter) {
    auto r = allocResponse(RT_QXDT);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(applyQxdtLine(*r, entry(300, "N 7 2 1 3 5 \"Safety rules\"")), SearchLineStep::kMore);
    EXPECT_EQ(applyQxdtLine(*r, entry(300, "D \"Safety [x]\" 1551-abc.html")), SearchLineStep::kMore);
    const UzQxdtEntry* n = r->qxdt();
    ASSERT_NE(n->next, nullptr);
    EXPECT_EQ(n->entryType, QXDT_ENTRY_NODE);
    EXPECT_EQ(n->eu.ne.nodenum, 7u);
    EXPECT_EQ(n->eu.ne.childnum, 2u);
    EXPECT_EQ(n->eu.ne.parentnum, 1u);
    EXPECT_EQ(n->eu.ne.level, 3u);
    EXPECT_EQ(n->eu.ne.docind, 5);
    EXPECT_EQ(n->eu.ne.title, "Safety rules");
    const UzQxdtEntry* d = n->next.get();
    EXPECT_EQ(d->entryType, QXDT_ENTRY_DOC);
    EXPECT_EQ(d->eu.de.comment, "Safety [x]");
    EXPECT_EQ(d->eu.de.fname, "1551-abc.html");

    EXPECT_EQ(applyQxdtLine(*r, entry(300, "X 1 2")), SearchLineStep::kFailed);
    EXPECT_EQ(r->resultCode, 500);
    EXPECT_EQ(r->resultMessage, getMsgStr(407, "uzsession/25"));
    EXPECT_EQ(d->next, nullptr);
}

TEST(SearchEntries, FieldsOfEachCommandInOrder) {
    auto sgs = allocResponse(RT_QXSRCHSGS);
    ASSERT_NE(sgs, nullptr);
    applyQxSgsLine(*sgs, entry(300, "\"\" \",safe,safety,\""));
    applyQxSgsLine(*sgs, entry(300, "\"guide.kvo\" \"safe,safety\" "));
    const UzQxSearchSgsEntry* g = sgs->qxsrchsgs();
    ASSERT_NE(g->next, nullptr);
    // A collection line names no library and is a record all the same.
    EXPECT_EQ(g->database, "");
    EXPECT_EQ(g->suggestions, ",safe,safety,");
    EXPECT_EQ(g->next->database, "guide.kvo");
    EXPECT_EQ(g->next->suggestions, "safe,safety");

    auto srch = allocResponse(RT_SRCH);
    ASSERT_NE(srch, nullptr);
    applySrchLine(
        *srch,
        entry(300, "\"guide.kvo\" \"1551-abc.html\" 1204 \"Intro: ...the \\\"main\\\"\" \"switch off\""));
    const UzSearchEntry* s = srch->srch();
    EXPECT_EQ(s->database, "guide.kvo");
    EXPECT_EQ(s->filename, "1551-abc.html");
    EXPECT_EQ(s->offset, 1204u);
    EXPECT_EQ(s->context, "Intro: ...the \"main\"");
    EXPECT_EQ(s->hexContext, "switch off");

    auto pu = allocResponse(RT_PUSRCH);
    ASSERT_NE(pu, nullptr);
    applyPuSrchLine(
        *pu, entry(300, "\"guide.kvo\" \"a.pu\" ABC \"B1\" \"P2\" \"\" \"4\" \"5\" \"\" \"R1A\" \"8\" "));
    const UzPuSrchEntry* p = pu->pusrch();
    EXPECT_EQ(p->database, "guide.kvo");
    EXPECT_EQ(p->filename, "a.pu");
    EXPECT_EQ(p->extension, "ABC");
    const std::array<std::string, kPuLineFields> fields = {"B1", "P2", "", "4", "5", "", "R1A", "8", "", ""};
    EXPECT_EQ(p->puLine, fields);

    auto meta = allocResponse(RT_MSRCH);
    ASSERT_NE(meta, nullptr);
    applyMetaSearchLine(
        *meta, entry(300,
                     "\"guide.kvo\"     4711 \"User Guide [1/ABC 123]\" 1700000000 \"Prod / Sub\"      "
                     "2048 TRUE"));
    const UzMetaSearchEntry* m = meta->msrch();
    EXPECT_EQ(m->database, "guide.kvo");
    EXPECT_EQ(m->ID, "4711");
    EXPECT_EQ(m->comment, "User Guide [1/ABC 123]");
    EXPECT_EQ(m->ctime, 1700000000);
    EXPECT_EQ(m->systemPath, "Prod / Sub");
    EXPECT_EQ(m->size, 2048u);
    EXPECT_EQ(m->LibState, "TRUE");
}

}  // namespace
}  // namespace ruva
