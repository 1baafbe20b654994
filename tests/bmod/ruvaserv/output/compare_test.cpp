#include "bmod/ruvaserv/output/compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/output/kvooutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/version.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

// One row of a list: title cell (null: empty cell), number cell, English
// title (a LITERAL inside the title cell).
struct ListRow {
    const char* title;
    const char* number;
    const char* engtitle = nullptr;
};

// A document list as the library builder writes one: one table, a row per
// document.
std::string sdiText(const std::vector<ListRow>& rows) {
    std::string text =
        "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n<TAVR>\n<META-DATA>\n"
        "<DOC-NAME>DOCUMENT LIST</DOC-NAME>\n<DOC-ID>\n<DOC-NO TYPE=\"registration\">1/1553-ABC 901 00 "
        "Uen</DOC-NO>\n"
        "<LANGUAGE CODE=\"en\">\n<REV>A</REV>\n</DOC-ID>\n<TITLE>Test Library</TITLE>\n</META-DATA>\n<BODY>\n"
        "<TABLE><TGROUP COLS=\"3\"><TBODY>\n";
    for (const ListRow& r : rows) {
        text += "<ROW><ENTRY>";
        if (r.title) text += r.title;
        if (r.engtitle) text += std::string("<LITERAL>") + r.engtitle + "</LITERAL>";
        text += "</ENTRY><ENTRY>";
        text += r.number;
        text += "</ENTRY><ENTRY></ENTRY></ROW>\n";
    }
    text += "</TBODY></TGROUP></TABLE>\n</BODY>\n</TAVR>\n";
    return text;
}

// What the page shows, one item per header, spacer and document row:
// "H Name", "+" (space above a header), "-" (spacer row), and
// "b1 21 new|1/1551-CRA 119 1234 Uen A" (shade, icon, linked library or "-"
// without a link, identity with &nbsp; as a blank).
std::vector<std::string> pageItems(const std::string& page) {
    static const std::string kHeader = "<td colspan=\"4\" class=\"c4\" height=\"22\"><b> ";
    static const std::string kSpacer = "<tr><td height=\"11\" colspan=\"2\"></td></tr>";
    static const std::string kSectionSpace = "<tr><td height=\"11\" colspan=\"4\"></td></tr>";
    static const std::string kRow = "<tr class=\"b";
    static const std::string kIdentity = "<td nowrap=\"nowrap\" class=\"c3\" valign=\"top\">";
    std::vector<std::string> items;
    std::size_t pos = 0;
    // Each marker's next place, searched again only once passed: a page of
    // thousands of rows is read in one pass.
    std::size_t h = page.find(kHeader), s = page.find(kSpacer), r = page.find(kRow);
    std::size_t space = page.find(kSectionSpace);
    auto next = [&page, &pos](std::size_t& at, const std::string& marker) {
        if (at != std::string::npos && at < pos) at = page.find(marker, pos);
    };
    for (;;) {
        next(h, kHeader);
        next(s, kSpacer);
        next(r, kRow);
        next(space, kSectionSpace);
        const std::size_t at = std::min({h, s, r, space});
        if (at == std::string::npos) break;
        if (at == space) {
            items.push_back("+");
            pos = space + kSectionSpace.size();
        } else if (at == h) {
            const std::size_t end = page.find("</b>", h);
            items.push_back("H " + page.substr(h + kHeader.size(), end - h - kHeader.size()));
            pos = end;
        } else if (at == s) {
            items.push_back("-");
            pos = s + kSpacer.size();
        } else {
            const std::size_t rowEnd = page.find("</tr>", r);
            const std::string row = page.substr(r, rowEnd - r);
            std::string item = "b" + row.substr(kRow.size(), 1);
            const std::size_t im = row.find("IM=");
            item += " " + row.substr(im + 3, row.find('"', im) - im - 3);
            std::size_t lib = row.find("&amp;DB=");
            if (lib == std::string::npos) lib = row.find("&amp;ID=");
            item +=
                " " + (lib == std::string::npos ? std::string("-")
                                                : row.substr(lib + 8, row.find("&amp;FN=", lib) - lib - 8));
            const std::size_t id = row.find(kIdentity) + kIdentity.size();
            std::string identity = row.substr(id, row.find("</td>", id) - id);
            for (std::size_t nb; (nb = identity.find("&nbsp;")) != std::string::npos;)
                identity.replace(nb, 6, " ");
            items.push_back(item + "|" + identity);
            pos = rowEnd;
        }
    }
    return items;
}

// A comparison writing into a request's document buffer.
class Comparison {
public:
    Comparison() {
        ao_.kvoSetOutput(req_.get(), KVO_OUT_INTERNAL);
        fmt_ = newKvoHtmlFormat(&ao_);
        sc_ = newSdiCompare(*fmt_);
    }
    SdiCompare& sc() { return *sc_; }
    CgiHandler& request() { return *req_; }
    // Both lists written as files, compared as old (side 1) and new (side 2).
    SdiCompareCode run(const std::vector<ListRow>& oldRows, const std::vector<ListRow>& newRows) {
        test::writeFile(dir_.file("old.sgml"), sdiText(oldRows));
        test::writeFile(dir_.file("new.sgml"), sdiText(newRows));
        return runFiles(dir_.file("old.sgml"), dir_.file("new.sgml"));
    }
    SdiCompareCode runFiles(const std::string& oldFile, const std::string& newFile) {
        return sc_->compareSdi(oldFile, newFile, "old", "new", "Old Title", "New Title",
                               "qzl:/kivo?FN=kivologo.gif&DB=new", false);
    }
    std::string page() const {
        return req_->docBuf ? std::string(req_->docBuf, req_->docSize) : std::string();
    }
    const test::TempDir& dir() const { return dir_; }

private:
    test::TempDir dir_;
    test::CapturedRequest req_;
    KvoOutput ao_{0};
    std::unique_ptr<KvoFormat> fmt_;
    std::unique_ptr<SdiCompare> sc_;
};

// Rows of a page without headers and spacers.
std::vector<std::string> rowsOf(const std::string& page) {
    std::vector<std::string> rows;
    for (const std::string& item : pageItems(page)) {
        if (item[0] == 'b') rows.push_back(item.substr(3));
    }
    return rows;
}

TEST(SdiCompare, StartsWithTheInitialReportState) {
    test::CapturedRequest req;
    KvoOutput ao(0);
    ao.kvoSetOutput(req.get(), KVO_OUT_INTERNAL);
    auto fmt = newKvoHtmlFormat(&ao);
    ASSERT_NE(fmt, nullptr);
    auto sc = newSdiCompare(*fmt);
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(sc->report.rl_type, '0');
    EXPECT_EQ(sc->report.rl_status, '0');
    EXPECT_EQ(sc->report.rl_pair, 0);
    EXPECT_EQ(sc->report.rl_rowNum, 48);
    EXPECT_EQ(sc->documentType, 0u);
}

TEST(SdiCompareMatch, ClassRulesReadPaddedAndBareClasses) {
    struct Case {
        const char* decclass;
        char group;
        CompareLogic logic;
        const char* colour;
    } cases[] = {
        {"15431", '1', CompareLogic::kTitle, "ffffde"},
        {"19082  ", '2', CompareLogic::kCatchword, "e2ffe2"},
        {"19083", '3', CompareLogic::kTitle, "e5ffff"},
        {"15518", '4', CompareLogic::kCatchword, "ffffff"},
        {"15542", '5', CompareLogic::kTitle, "ffffff"},
        {"19602", '6', CompareLogic::kTitle, "ffffff"},
        {"00000  ", '7', CompareLogic::kTitle, "ffffff"},
        {"1551   ", '7', CompareLogic::kDocno, "ffffff"},
        {"190820", '7', CompareLogic::kDocno, "ffffff"},
        {"", '7', CompareLogic::kDocno, "ffffff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decclass);
        const ClassRule rule = classRuleOf(c.decclass);
        EXPECT_EQ(rule.group, c.group);
        EXPECT_EQ(rule.logic, c.logic);
        EXPECT_STREQ(colorCodeOf(c.decclass), c.colour);
    }
}

TEST(SdiCompareMatch, DocPartsSplitValidNumbersOnly) {
    struct Case {
        const char* number;
        const char* title;
        const char* decclass;
        const char* docno;
        const char* catchword;
        const char* lang;
        const char* rev;
    } cases[] = {
        {"1/1551-CRA 119 1234 Uen A", "System Overview", "1551   ", "1/1551-CRA 119 1234 Uen", "", "Uen",
         "A"},
        {"1/190 82-CRA 119 00001 Uen B", "LOAD: start", "19082  ", "1/190 82-CRA 119 00001 Uen", "19082LOAD",
         "Uen", "B"},
        // The word is cut at 15 characters, the class kept whole.
        {"155 18-CRA 119 07 Uen R1A", "Abcdefghijklmnopqrstu v", "15518  ", "155 18-CRA 119 07 Uen",
         "15518Abcdefghijklmno", "Uen", "R1A"},
        // No revision: no member name, so no parts.
        {"1/1551-CRA 119 1234 Uen", "T", "00000  ", "", "", "", ""},
        {"Draft 0042", "T", "00000  ", "", "", "", ""},
        {"1/1551-CRA 119 [1] Uen A", "T", "00000  ", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.number);
        SdiEntry e;
        e.type = SDIENTRY_DOCUMENT;
        e.title = c.title;
        e.docno = c.number;
        std::string languageCode;
        const DocParts p = extractDocParts(e, languageCode);
        EXPECT_EQ(p.title, c.title);
        EXPECT_EQ(p.decclass, c.decclass);
        EXPECT_EQ(p.docno, c.docno);
        EXPECT_EQ(p.catchword, c.catchword);
        EXPECT_EQ(p.lang, c.lang);
        EXPECT_EQ(p.rev, c.rev);
        EXPECT_EQ(languageCode, "");
    }
}

TEST(SdiCompareMatch, TitleIsCutAndJapaneseSetsTheLanguageOnce) {
    SdiEntry e;
    e.type = SDIENTRY_DOCUMENT;
    e.title = std::string(300, 'x');
    e.docno = "1/1553-CRA 119 01 Uja A";
    std::string languageCode;
    EXPECT_EQ(extractDocParts(e, languageCode).title.size(), 255u);
    EXPECT_EQ(languageCode, "UJA");
    languageCode = "Uen";
    extractDocParts(e, languageCode);
    EXPECT_EQ(languageCode, "Uen");
}

TEST(SdiCompareMatch, EmptyTextsAreBlanksTabsAndLineFeedsOnly) {
    EXPECT_EQ(checkIfStringEmpty(nullptr), 1);
    EXPECT_EQ(checkIfStringEmpty(""), 1);
    EXPECT_EQ(checkIfStringEmpty(" \t\n "), 1);
    EXPECT_EQ(checkIfStringEmpty(" x "), 0);
    EXPECT_EQ(checkIfStringEmpty("\r"), 0);
}

// The pairing, each case as the rows it reports (icon, library, identity).
TEST(SdiCompareMatch, PairsAsTheirClassSays) {
    struct Case {
        const char* name;
        std::vector<ListRow> oldRows;
        std::vector<ListRow> newRows;
        std::vector<std::string> rows;
    } cases[] = {
        {"identical lists",
         {{"A", "1/1551-CRA 119 01 Uen A"}, {"B", "1/190 82-CRA 119 02 Uen A"}},
         {{"A", "1/1551-CRA 119 01 Uen A"}, {"B", "1/190 82-CRA 119 02 Uen A"}},
         {}},
        {"same number, another title and spacing",
         {{"Old title", "1/1551-CRA 119 01 Uen A"}},
         {{"New title", "1/1551-CRA  119 01 UEN A"}},
         {}},
        {"19082 same catchword, new revision: a pair",
         {{"LOAD: old text", "1/190 82-CRA 119 01 Uen A"}},
         {{"LOAD: new text", "1/190 82-CRA 119 01 Uen B"}},
         {"23 new|1/190 82-CRA 119 01 Uen B", "24 old|1/190 82-CRA 119 01 Uen A"}},
        {"19082 another catchword: no pair, whatever the number",
         {{"LOAD x", "1/190 82-CRA 119 01 Uen A"}},
         {{"SAVE x", "1/190 82-CRA 119 01 Uen B"}},
         {"21 new|1/190 82-CRA 119 01 Uen B", "22 old|1/190 82-CRA 119 01 Uen A"}},
        {"15431 same title, same parts but prefix: changed",
         {{"Start", "1/154 31-CRA 119 01 Uen A"}},
         {{"Start", "2/154 31-CRA 119 01 Uen A"}},
         {"23 new|2/154 31-CRA 119 01 Uen A", "24 old|1/154 31-CRA 119 01 Uen A"}},
        {"other class, another revision: changed",
         {{"X", "1/1551-CRA 119 1234 Uen A"}},
         {{"Y", "1/1551-CRA 119 1234 Uen B"}},
         {"23 new|1/1551-CRA 119 1234 Uen B", "24 old|1/1551-CRA 119 1234 Uen A"}},
        {"other class without counterpart: new and removed",
         {{"X", "1/1551-CRA 119 01 Uen A"}},
         {{"X", "1/1551-CRA 119 02 Uen A"}},
         {"21 new|1/1551-CRA 119 02 Uen A", "22 old|1/1551-CRA 119 01 Uen A"}},
        {"an article is no prefix of a longer number",
         {{"X", "1/1551-CRA 119 12345 A"}},
         {{"X", "1/1551-CRA 119 1234 B"}},
         {"21 new|1/1551-CRA 119 1234 B", "22 old|1/1551-CRA 119 12345 A"}},
        {"side 1 listing C before A, side 2 C and D: D pairs with A",
         {{"X", "1/1551-CRA 119 01 Uen C"}, {"X", "1/1551-CRA 119 01 Uen A"}},
         {{"X", "1/1551-CRA 119 01 Uen C"}, {"X", "1/1551-CRA 119 01 Uen D"}},
         {"23 new|1/1551-CRA 119 01 Uen D", "24 old|1/1551-CRA 119 01 Uen A"}},
        {"titles with pattern characters pair only literally",
         {{"Table [1]", "1/154 31-CRA 119 01 Uen A"},
          {"What?", "1/154 31-CRA 119 02 Uen A"},
          {"a*b", "1/154 31-CRA 119 03 Uen A"}},
         {{"Table 1", "1/154 31-CRA 119 04 Uen A"},
          {"Whats", "1/154 31-CRA 119 05 Uen A"},
          {"a*b", "1/154 31-CRA 119 06 Uen A"}},
         {"21 new|1/154 31-CRA 119 04 Uen A", "21 new|1/154 31-CRA 119 05 Uen A",
          "23 new|1/154 31-CRA 119 06 Uen A", "24 old|1/154 31-CRA 119 03 Uen A",
          "22 old|1/154 31-CRA 119 01 Uen A", "22 old|1/154 31-CRA 119 02 Uen A"}},
        {"19083 pairs by title within its class only",
         {{"Print", "1/154 31-CRA 119 01 Uen A"}},
         {{"Print", "1/190 83-CRA 119 01 Uen A"}},
         {"22 old|1/154 31-CRA 119 01 Uen A", "21 new|1/190 83-CRA 119 01 Uen A"}},
        {"invalid numbers pair by title: two of one title are the same",
         {{"Draft", "Draft 0042"}, {"Loose", "no number"}},
         {{"Draft", "Draft 0043"}, {"Other", "no number either"}},
         {"21 -|no number either", "22 -|no number"}},
        {"a number without revision is unlinked",
         {},
         {{"T", "1/1551-CRA 119 1234 Uen"}},
         {"21 -|1/1551-CRA 119 1234 Uen"}},
        {"a number twice in one list keeps the first",
         {{"First", "1/154 31-CRA 119 09 Uen A"}},
         {{"First", "1/154 31-CRA 119 01 Uen A"}, {"Second", "1/154 31-CRA 119 01 Uen A"}},
         {"23 new|1/154 31-CRA 119 01 Uen A", "24 old|1/154 31-CRA 119 09 Uen A"}},
        {"blank numbers and empty title cells take no part",
         {{"Gone", "  "}},
         {{nullptr, "1/1551-CRA 119 01 Uen A"}, {"Blank", " "}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Comparison cmp;
        ASSERT_EQ(cmp.run(c.oldRows, c.newRows), SdiCompareCode::kOk) << cmp.sc().getError();
        EXPECT_EQ(rowsOf(cmp.page()), c.rows);
        EXPECT_EQ(cmp.page().find("No differences found !") != std::string::npos, c.rows.empty());
    }
}

TEST(SdiCompareMatch, ClassFilterKeepsOneClassOutOfPairingAndReport) {
    Comparison cmp;
    cmp.sc().documentType = 1551;
    ASSERT_EQ(
        cmp.run({{"X", "1/1551-CRA 119 01 Uen A"}, {"Y", "1/15511-CRA 119 01 Uen A"}, {"Z", "Draft 1"}},
                {{"X", "1/1551-CRA 119 01 Uen B"}, {"Y", "1/15511-CRA 119 01 Uen B"}, {"W", "Draft 2"}}),
        SdiCompareCode::kOk);
    EXPECT_EQ(rowsOf(cmp.page()),
              (std::vector<std::string>{"23 new|1/1551-CRA 119 01 Uen B", "24 old|1/1551-CRA 119 01 Uen A"}));
}

std::vector<std::string> threeStatuses(const char* decclass, int base) {
    std::vector<std::string> numbers;
    for (int i = 0; i < 3; ++i)
        numbers.push_back("1/" + std::string(decclass) + "-CRA 119 " + std::to_string(base + i));
    return numbers;
}

// Classes 1551 and 15511 each with a new, a changed and a removed document,
// and an unlinked new one.
TEST(SdiCompareReport, SectionsStatusesSpacersAndShades) {
    const std::vector<std::string> a = threeStatuses("1551", 10);
    const std::vector<std::string> b = threeStatuses("15511", 20);
    const std::string a0 = a[0] + " Uen A", a1o = a[1] + " Uen A", a1n = a[1] + " Uen B",
                      a2 = a[2] + " Uen A";
    const std::string b0 = b[0] + " Uen A", b1o = b[1] + " Uen A", b1n = b[1] + " Uen B",
                      b2 = b[2] + " Uen A";
    Comparison cmp;
    ASSERT_EQ(cmp.run({{"a1", a1o.c_str()}, {"a2", a2.c_str()}, {"b1", b1o.c_str()}, {"b2", b2.c_str()}},
                      {{"b0", b0.c_str()},
                       {"b1", b1n.c_str()},
                       {"a0", a0.c_str()},
                       {"a1", a1n.c_str()},
                       {"Draft", "1/1551-CRA 119 1234 Uen"},
                       {"c", "1/154 31-CRA 119 05 Uen A"}}),
              SdiCompareCode::kOk);
    EXPECT_EQ(pageItems(cmp.page()), (std::vector<std::string>{
                                         "H Operational Instruction",
                                         "b1 21 new|1/154 31-CRA 119 05 Uen A",
                                         "+",
                                         "H Other Documents",
                                         "b1 21 -|1/1551-CRA 119 1234 Uen",
                                         "+",
                                         "H Description",
                                         "b1 21 new|1/1551-CRA 119 10 Uen A",
                                         "-",
                                         "b2 23 new|1/1551-CRA 119 11 Uen B",
                                         "b1 24 old|1/1551-CRA 119 11 Uen A",
                                         "-",
                                         "b2 22 old|1/1551-CRA 119 12 Uen A",
                                         "+",
                                         "H Sequence Diagram",
                                         "b1 21 new|1/155 11-CRA 119 20 Uen A",
                                         "-",
                                         "b2 23 new|1/155 11-CRA 119 21 Uen B",
                                         "b1 24 old|1/155 11-CRA 119 21 Uen A",
                                         "-",
                                         "b2 22 old|1/155 11-CRA 119 22 Uen A",
                                     }));
    const std::string page = cmp.page();
    // Links are wildcard members of the right library, with the status icon.
    EXPECT_NE(page.find("AC=LINKEXT&amp;DB=new&amp;FN=1_1551-CRA11910Uen.A.*\""), std::string::npos);
    EXPECT_NE(page.find("AC=LINKEXT&amp;DB=old&amp;FN=1_15511-CRA11922Uen.A.*\""), std::string::npos)
        << "five-digit classes keep the member name's form";
    EXPECT_NE(page.find("<title>Compare Results</title>"), std::string::npos);
    EXPECT_NE(page.find("&nbsp; New Title</font>"), std::string::npos);
    EXPECT_NE(page.find("&nbsp; Old Title</font>"), std::string::npos);
    // The rows' table is closed before the divider row, as the page always was.
    const std::string tail =
        "</table><tr><td colspan=\"2\">\n<hr size=\"1\" class=\"hr\" /></td></tr>\n</table></body></html>\n";
    ASSERT_GE(page.size(), tail.size());
    EXPECT_EQ(page.substr(page.size() - tail.size()), tail);
}

// New, changed (either row), removed: the order of statuses in a section.
int statusRank(const std::string& icon) {
    return icon == "21" ? 1 : icon == "22" ? 3 : 2;
}

// 12,000 differences over five classes: 4,000 new, 4,000 removed and 4,000
// changed pairs.
TEST(SdiCompareReport, TwelveThousandDifferencesKeepOneSectionPerClass) {
    const char* const classes[] = {"154 31", "190 82", "1551", "15511", "00021"};
    std::vector<std::string> oldNumbers;
    std::vector<std::string> newNumbers;
    std::vector<std::string> oldTitles;
    std::vector<std::string> newTitles;
    for (int i = 0; i < 12000; ++i) {
        const std::string stem = std::string("1/") + classes[i % 5] + "-CRA 119 " + std::to_string(10000 + i);
        const std::string title = "W" + std::to_string(i) + " text";
        switch (i % 3) {
            case 0:  // new
                newNumbers.push_back(stem + " Uen A");
                newTitles.push_back(title);
                break;
            case 1:  // removed
                oldNumbers.push_back(stem + " Uen A");
                oldTitles.push_back(title);
                break;
            default:  // changed: title, catchword and article stay
                oldNumbers.push_back(stem + " Uen A");
                oldTitles.push_back(title);
                newNumbers.push_back(stem + " Uen B");
                newTitles.push_back(title);
                break;
        }
    }
    auto rowsFrom = [](const std::vector<std::string>& titles, const std::vector<std::string>& numbers) {
        std::vector<ListRow> rows;
        for (std::size_t i = 0; i < titles.size(); ++i)
            rows.push_back({titles[i].c_str(), numbers[i].c_str()});
        return rows;
    };
    Comparison cmp;
    ASSERT_EQ(cmp.run(rowsFrom(oldTitles, oldNumbers), rowsFrom(newTitles, newNumbers)), SdiCompareCode::kOk)
        << cmp.sc().getError();
    const std::vector<std::string> items = pageItems(cmp.page());
    std::vector<std::string> headers;
    std::size_t rows = 0;
    std::string previous;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& item = items[i];
        if (item[0] == 'H') {
            headers.push_back(item.substr(2));
            ASSERT_LT(i + 1, items.size());
            EXPECT_EQ(items[i + 1].substr(0, 2), "b1") << "shades restart under " << item;
            previous.clear();
            continue;
        }
        if (item[0] != 'b') continue;
        ++rows;
        const std::string icon = item.substr(3, 2);
        if (icon == "24") {
            EXPECT_EQ(previous, "23") << "an old row follows its new row directly, at item " << i;
        } else if (!previous.empty()) {
            // new before pairs before removed, a spacer on each change and before each pair
            EXPECT_LE(statusRank(previous), statusRank(icon)) << "at item " << i;
            if (icon != previous || icon == "23") {
                EXPECT_EQ(items[i - 1], "-") << "at item " << i;
            }
        }
        previous = icon;
    }
    EXPECT_EQ(rows, 16000u);
    EXPECT_EQ(headers, (std::vector<std::string>{"Operational Instruction", "Command Description",
                                                 "Working Instructions", "Description", "Sequence Diagram"}));
}

// The report order from rows alone: class texts as padded, order numbers as
// integers past 99,999.
TEST(SdiCompareReport, RowsSortByGroupClassStatusAndOrderNumber) {
    std::vector<SdiEntry> entries(6);
    const char* const numbers[] = {"1/1551-CRA 119 1000 Uen A", "1/15511-CRA 119 1001 Uen A",
                                   "1/1551-CRA 119 1002 Uen A", "1/1551-CRA 119 1003 Uen A",
                                   "1/1551-CRA 119 1004 Uen A", "1/154 31-CRA 119 1005 Uen A"};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].type = SDIENTRY_DOCUMENT;
        entries[i].title = "T";
        entries[i].docno = numbers[i];
    }
    std::vector<ResultRow> rows = {
        {'7', "1551   ", DocStatus::kNew, 100000, &entries[0], nullptr, {}, {}},
        {'7', "15511  ", DocStatus::kNew, 5, &entries[1], nullptr, {}, {}},
        {'7', "1551   ", DocStatus::kNew, 99999, &entries[2], nullptr, {}, {}},
        {'7', "1551   ", DocStatus::kRemoved, 1, &entries[3], nullptr, {}, {}},
        {'7', "1551   ", DocStatus::kNew, 9, &entries[4], nullptr, {}, {}},
        {'1', "15431  ", DocStatus::kRemoved, 7, &entries[5], nullptr, {}, {}},
    };
    Comparison cmp;
    cmp.sc().database1 = "old";
    cmp.sc().database2 = "new";
    ASSERT_EQ(cmp.sc().generateList(rows), SdiCompareCode::kOk);
    EXPECT_EQ(pageItems(cmp.page()), (std::vector<std::string>{
                                         "H Operational Instruction",
                                         "b1 22 old|1/154 31-CRA 119 1005 Uen A",
                                         "+",
                                         "H Description",
                                         "b1 21 new|1/1551-CRA 119 1004 Uen A",
                                         "b2 21 new|1/1551-CRA 119 1002 Uen A",
                                         "b1 21 new|1/1551-CRA 119 1000 Uen A",
                                         "-",
                                         "b2 22 old|1/1551-CRA 119 1003 Uen A",
                                         "+",
                                         "H Sequence Diagram",
                                         "b1 21 new|1/155 11-CRA 119 1001 Uen A",
                                     }));
}

// A test writer whose buffer estimate no page buffer can take.
struct HugeWriter : KvoFormat {
    explicit HugeWriter(KvoOutput* out) : KvoFormat(out) {}
    std::size_t estimateBufferSize(std::size_t) const override { return std::size_t{1} << 50; }
};

// The reader's own text for a file it refuses.
std::string readerError(const std::string& file) {
    std::unique_ptr<Sdi> sdi = newSdi(0);
    if (!sdi->setInput(file.c_str())) return formatChecked(msgFormat(153, "compare/5"), sdi->getError());
    if (!sdi->getMetaData()) return formatChecked(msgFormat(154, "compare/6"), sdi->getError());
    if (!sdi->parseDocument()) return formatChecked(msgFormat(155, "compare/7"), sdi->getError());
    return "(read)";
}

TEST(SdiCompareReport, FailuresGiveTheirCodeAndText) {
    test::TempDir dir;
    const std::string good = dir.file("good.sgml");
    test::writeFile(good, sdiText({{"T", "1/1551-CRA 119 1000 Uen A"}}));
    const std::string notTavr = dir.file("plain.sgml");
    test::writeFile(notTavr, "<html><body>Just a page</body></html>\n");
    const std::string emptyBody = dir.file("empty.sgml");
    std::string empty = sdiText({});
    empty.erase(empty.find("<TABLE>"), empty.find("</BODY>") - empty.find("<TABLE>"));
    test::writeFile(emptyBody, empty);
    const std::string missing = dir.file("missing.sgml");
    struct Case {
        const char* name;
        std::string oldFile;
        std::string newFile;
        SdiCompareCode code;
        int message;
    } cases[] = {
        {"old not TAVR", notTavr, good, SdiCompareCode::kLoadSdi1, 153},
        {"old empty body", emptyBody, good, SdiCompareCode::kLoadSdi1, 155},
        {"old missing", missing, good, SdiCompareCode::kLoadSdi1, 153},
        {"new not TAVR", good, notTavr, SdiCompareCode::kLoadSdi2, 153},
        {"new empty body", good, emptyBody, SdiCompareCode::kLoadSdi2, 155},
        {"new missing", good, missing, SdiCompareCode::kLoadSdi2, 153},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Comparison cmp;
        EXPECT_EQ(cmp.runFiles(c.oldFile, c.newFile), c.code);
        const std::string& bad = c.code == SdiCompareCode::kLoadSdi1 ? c.oldFile : c.newFile;
        EXPECT_EQ(cmp.sc().getError(), readerError(bad));
        const std::string lead = getMsgStr(c.message, nullptr);
        EXPECT_EQ(cmp.sc().getError().compare(0, 20, lead, 0, 20), 0) << cmp.sc().getError();
        EXPECT_EQ(cmp.page(), "");
    }

    SCOPED_TRACE("page buffer refused");
    test::CapturedRequest req;
    KvoOutput ao(0);
    ao.kvoSetOutput(req.get(), KVO_OUT_INTERNAL);
    HugeWriter writer(&ao);
    std::unique_ptr<SdiCompare> sc = newSdiCompare(writer);
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(sc->compareSdi(good, good, "old", "new", "Old", "New", "", false),
              SdiCompareCode::kGenerateList);
    EXPECT_EQ(sc->getError(), req->getError());
    EXPECT_EQ(sc->getError().rfind("Failed to map ", 0), 0u) << sc->getError();
    EXPECT_EQ(req->docSize, 0u);
}

TEST(SdiCompareReport, UnlinkedRowKeepsIconTitleAndNumber) {
    test::CapturedRequest req;
    KvoOutput ao(0);
    ao.kvoSetOutput(req.get(), KVO_OUT_INTERNAL);
    ASSERT_EQ(ao.kvoOpenOutput(0), kKvoOpenOk);
    std::unique_ptr<KvoFormat> fmt = newKvoHtmlFormat(&ao);
    EXPECT_EQ(fmt->writeDocRowNoLink("Draft &amp; <b>notes</b>", "Notes", "Draft <0042>", 1, '3'), 1);
    EXPECT_EQ(
        std::string(req->docBuf, req->docSize),
        "<tr class=\"b2\">\n<td class=\"c1\">&nbsp;<img class=\"m5\" border=\"0\" align=\"top\" "
        "src=\"qzl:/kivo?VR=" +
            std::string(kSystemRevision) +
            "&amp;AC=TBIMG&amp;IM=22\" alt=\"Removed document\" title=\"Removed document\"/>"
            "&nbsp; Draft &amp; &lt;b&gt;notes&lt;/b&gt; &nbsp;<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;"
            "<font color=\"#505050\">Notes</font></td><td nowrap=\"nowrap\" class=\"c3\" valign=\"top\">"
            "Draft &lt;0042&gt;</td>\n</tr>\n");
}

}  // namespace
}  // namespace ruva
