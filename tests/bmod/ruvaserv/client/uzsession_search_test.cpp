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

TEST(SearchCommandLines, CarryTheirWordsInOrder) {
    const std::string_view two[] = {"12*", "A\"B"};
    const std::string_view nine[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    const struct {
        const char* name;
        std::vector<UzArg> args;
        Words expected;
    } cases[] = {
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

using Apply = std::function<SearchLineStep(UzResponse&, const UzLine&)>;

TEST(SearchReply, FinalAndFailedLinesSetCodeAndMessage) {
    const UzLine none{};
    const UzLine shortLine{UzLineKind::kShort, 0, ""};
    const UzLine refused{UzLineKind::kError, 511, "Invalid ID 99999"};
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
