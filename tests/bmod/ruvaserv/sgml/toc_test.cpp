#include "bmod/ruvaserv/sgml/toc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/bmod/ruvaserv/sgml/sgml_rows.h"

namespace ruva {
namespace {

std::string tagged(const std::string& text, const char* tag) {
    return text + "<span style='color:#D8D8D8'> [" + tag + "]</span>";
}

class TocTest : public ::testing::Test {
protected:
    void SetUp() override {
        ss = newSgmlScanner(0);
        ASSERT_TRUE(ss);
        osnl = ss->newNodeList(0);
        toc = newToc(0);
        ASSERT_TRUE(osnl && toc);
    }
    // The output list as markup.
    std::string printedOutput() {
        if (!ss->appendSgmlNode(osnl.get(), SPS_EOF, nullptr)) return "<no EOF node>";
        return test::printed(ss.get(), osnl.get());
    }
    // The chapter strings the levels give in turn.
    std::vector<std::string> chapters(std::initializer_list<int> levels) {
        std::vector<std::string> out;
        for (int level : levels) out.push_back(toc->updateChapter(level));
        return out;
    }

    std::unique_ptr<SgmlScanner> ss;
    std::unique_ptr<SgmlNodeList> osnl;
    std::unique_ptr<Toc> toc;
};

TEST_F(TocTest, ChapterNumbering) {
    using V = std::vector<std::string>;
    toc->init(TOT_TOC, ss.get(), osnl.get(), 2, "Contents");
    EXPECT_EQ(chapters({1, 2, 2, 1}), (V{"1", "1.1", "1.2", "2"}));
    toc->clearChapters();
    toc->flags = kTocPartNumber;
    EXPECT_EQ(chapters({1, 2, 2, 1}), (V{"0-1", "0-1.1", "0-1.2", "0-2"}));
    toc->flags = 0;
    toc->clearChapters();
    // Below 1 restarts every counter; above 6 counts nothing and restarts none.
    EXPECT_EQ(chapters({1, 2, 3, 7, 3, 0, 2}), (V{"1", "1.1", "1.1.1", "1.1.1", "1.1.2", "0.0.0", "0.1"}));
    toc->clearChapters();
    EXPECT_EQ(toc->chapterString(), "");
    // Six levels of five-digit numbers are cut to 31 characters.
    for (int level = 1; level <= 6; ++level) toc->chapNum[level - 1] = 12345;
    toc->currentLevel = 6;
    EXPECT_EQ(toc->chapterString(), std::string("12345.12345.12345.12345.12345.1"));
}

TEST_F(TocTest, TableFormLinksAndNumbers) {
    toc->init(TOT_TOC, ss.get(), osnl.get(), 1, "Contents");
    for (int level : {1, 2, 1, 2, 1}) ASSERT_EQ(toc->addEntry(level, nullptr, "T", nullptr, 0), 1);
    ASSERT_EQ(toc->output(), 1) << toc->getError();
    EXPECT_EQ(printedOutput(),
              "<!--@contents level=1-->\n<p class=\"HDR\"><a name=\"CONTENTS\"><b>Contents</b></a>\n"
              "<table width=\"100%\" cellpadding=\"0\" class=\"TOCTBL\">"
              "<tr><td width=\"59\" align=\"left\" valign=\"top\"><b><a href=\"#CHAPTER1\" class=\"TOCNUMLINK\">1</a>"
              "</b></td><td><b><a href=\"#CHAPTER1\" class=\"TOCLINK\">T</a></b>\n</td></tr>\n"
              "<tr><td width=\"59\" align=\"left\" valign=\"top\"><b><a href=\"#CHAPTER2\" class=\"TOCNUMLINK\">2</a>"
              "</b></td><td><b><a href=\"#CHAPTER2\" class=\"TOCLINK\">T</a></b>\n</td></tr>\n"
              "<tr><td width=\"59\" align=\"left\" valign=\"top\"><b><a href=\"#CHAPTER3\" class=\"TOCNUMLINK\">3</a>"
              "</b></td><td><b><a href=\"#CHAPTER3\" class=\"TOCLINK\">T</a></b>\n</td></tr>\n"
              "</table>\n<!--@/contents-->");
    // The unlisted level-2 entries still counted.
    EXPECT_EQ(toc->chapNum[0], 3);
}

TEST_F(TocTest, TableFormBoldBreaksAndSources) {
    toc->init(TOT_TOC, ss.get(), osnl.get(), 2, nullptr);
    ASSERT_EQ(toc->addEntry(1, nullptr, "One", nullptr, 0), 1);
    ASSERT_EQ(toc->addEntry(2, nullptr, "Sub", "src", 0), 1);
    ASSERT_EQ(toc->addEntry(1, nullptr, "Two", nullptr, kTocEntryRestart), 1);
    ASSERT_EQ(toc->addEntry(1, nullptr, "Again", nullptr, 0), 1);
    ASSERT_EQ(toc->outputContentsTbl(), 1);
    const std::string out = printedOutput();
    EXPECT_NE(out.find("<a name=\"CONTENTS\"><b></b></a>"), std::string::npos) << out;
    EXPECT_NE(out.find("<td><a href=\"#CHAPTER1.1\" class=\"TOCLINK\">Sub</a><br>src\n</td>"), std::string::npos)
        << out;
    // Chapter 2 stands off by a break in both cells; after the restart the next is 1 again, without one.
    EXPECT_NE(out.find("<br><b><a href=\"#CHAPTER2\" class=\"TOCNUMLINK\">2</a></b></td><td><br><b>"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("<td width=\"59\" align=\"left\" valign=\"top\"><b><a href=\"#CHAPTER1\" "
                       "class=\"TOCNUMLINK\">1</a></b></td><td><b><a href=\"#CHAPTER1\" class=\"TOCLINK\">Again"),
              std::string::npos)
        << out;
}

TEST_F(TocTest, NamedEntriesOfAListOfFigures) {
    toc->init(TOT_LOF, ss.get(), osnl.get(), 2, "Figures");
    for (const char* name : {"Figure 1", "Figure 2", "Figure 3"})
        ASSERT_EQ(toc->addEntry(0, name, "cap", nullptr, kTocEntryNamed), 1);
    ASSERT_EQ(toc->output(), 1);
    const std::string out = printedOutput();
    EXPECT_EQ(out.find("<!--"), std::string::npos) << "only a table of contents carries the comments";
    EXPECT_NE(out.find("<a name=\"LIST-OF-FIGURES\">"), std::string::npos);
    for (const char* n : {"1", "2", "3"}) {
        SCOPED_TRACE(n);
        EXPECT_NE(out.find(std::string("<td width=\"88\" align=\"left\" valign=\"top\"><a href=\"#FIGURE") + n +
                           "\" class=\"TOCNUMLINK\">Figure " + n + "</a></td>"),
                  std::string::npos)
            << out;
    }
}

TEST_F(TocTest, RestartingEntryAndOwnLinks) {
    toc->init(TOT_LOT, ss.get(), osnl.get(), 2, "Tables");
    ASSERT_EQ(toc->addEntry(0, "A", "a", nullptr, kTocEntryNamed), 1);
    ASSERT_EQ(toc->addEntry(0, "B", "b", nullptr, kTocEntryNamed | kTocEntryRestart), 1);
    ASSERT_EQ(toc->addEntry(0, "C", "c", nullptr, kTocEntryNamed | kTocEntryBold), 1);
    ASSERT_EQ(toc->addEntry(0, "D", "d", nullptr, kTocEntryNamed), 1);
    toc->lastEntry->link = "other.html#D";
    ASSERT_EQ(toc->output(), 1);
    const std::string out = printedOutput();
    for (const char* link : {"#TABLE1\" class=\"TOCNUMLINK\">A", "#TABLE2\" class=\"TOCNUMLINK\">B",
                             "#TABLE1\" class=\"TOCNUMLINK\">C", "other.html#D\" class=\"TOCNUMLINK\">D"}) {
        SCOPED_TRACE(link);
        EXPECT_NE(out.find(link), std::string::npos) << out;
    }
    // A bold row after the first stands off by a break in both cells.
    EXPECT_NE(out.find("<br><b><a href=\"#TABLE1\" class=\"TOCNUMLINK\">C</a></b></td><td><br><b>"),
              std::string::npos)
        << out;
}

TEST_F(TocTest, EmptyListsAndLevelZero) {
    toc->init(TOT_LOT, ss.get(), osnl.get(), 2, "Tables");
    ASSERT_EQ(toc->outputContentsTbl(), 1);
    EXPECT_EQ(printedOutput(),
              "\n<p class=\"HDR\"><a name=\"LIST-OF-TABLES\"><b>Tables</b></a>\n"
              "<table width=\"100%\" cellpadding=\"0\" class=\"TOCTBL\"><tr><td></td></tr></table>\n");
    osnl = ss->newNodeList(0);
    toc->init(TOT_TOC, ss.get(), osnl.get(), 0, "Contents");
    ASSERT_EQ(toc->addEntry(1, nullptr, "T", nullptr, 0), 1);
    EXPECT_EQ(toc->outputContentsTbl(), 1);
    EXPECT_EQ(toc->outputContentsPre(), 1);
    EXPECT_EQ(osnl->firstNode, nullptr);
}

TEST_F(TocTest, PreformattedGoldenWithWraps) {
    toc->flags = kTocPreformatted;
    toc->init(TOT_TOC, ss.get(), osnl.get(), 2, "Contents");
    const std::string title55 = std::string(30, 'a') + " " + std::string(24, 'b') + " tail";  // blank at 30
    const std::string noBlank(60, 'x');
    ASSERT_EQ(toc->addEntry(1, nullptr, "Intro", nullptr, 0), 1);
    ASSERT_EQ(toc->addEntry(2, nullptr, title55.c_str(), noBlank.c_str(), 0), 1);
    ASSERT_EQ(toc->addEntry(3, nullptr, "Hidden", nullptr, 0), 1);
    ASSERT_EQ(toc->addEntry(1, nullptr, nullptr, nullptr, 0), 1);
    ASSERT_EQ(toc->output(), 1) << toc->getError();
    EXPECT_EQ(printedOutput(),
              "<!--@contents level=2-->\n<P CLASS=\"HDR\"><A NAME=\"CONTENTS\"><B>Contents</B></A>\n"
              "<PRE CLASS=\"TOC\">"
              "<A HREF=\"#CHAPTER1\" class=\"TOCLINK\">1</A>        <B>Intro</B>\n"
              "<A HREF=\"#CHAPTER1.1\" class=\"TOCLINK\">1.1</A>      " +
                  std::string(30, 'a') + "\n         " + std::string(24, 'b') + " tail\n         " +
                  std::string(54, 'x') + "\n         xxxxxx\n"
                  "\n<A HREF=\"#CHAPTER2\" class=\"TOCLINK\">2</A>        <B></B>\n"
                  "</PRE>\n<!--@/contents-->");
}

TEST_F(TocTest, ChapterHeading) {
    toc->init(TOT_TOC, ss.get(), osnl.get(), 2, "Contents");
    toc->updateChapter(1);
    toc->updateChapter(2);
    ASSERT_EQ(toc->outputChapter("2.1", "x"), 1);
    ASSERT_EQ(toc->outputChapterEnd(), 1);
    toc->flags = kTocThreeBlanks;
    toc->clearChapters();
    ASSERT_EQ(toc->outputChapter("2.1", nullptr), 1);
    ASSERT_EQ(toc->outputChapterEnd(), 1);
    ASSERT_EQ(toc->outputChapter(nullptr, nullptr), 1);
    EXPECT_EQ(printedOutput(),
              "\n<h2 class=\"x\"><span class=\"CHAPNUMBER\">2.1 &#160; </span><span class=\"CHAPTITLE\">"
              "<a name=\"CHAPTER2.1\" href=\"#TOP\" class=\"CHAPLINK\"></A></SPAN></H2>\n"
              "\n<h1><span class=\"CHAPNUMBER\">2.1   </span><span class=\"CHAPTITLE\">"
              "<a name=\"CHAPTER2.1\" href=\"#TOP\" class=\"CHAPLINK\"></A></SPAN></H1>\n"
              "\n<h1><span class=\"CHAPTITLE\"><a href=\"#TOP\" class=\"CHAPLINK\">");
}

TEST_F(TocTest, OutputWithoutTargetFails) {
    toc->init(TOT_TOC, nullptr, nullptr, 2, "Contents");
    struct Case {
        const char* name;
        int (Toc::*op)();
        const char* text;
        const char* tag;
    };
    const Case cases[] = {
        {"pre", &Toc::outputContentsPre, "Failed during output of list, was not initialized.<br><br>", "toc/2"},
        {"table", &Toc::outputContentsTbl, "Failed during output of table, was not initialized.<br><br>", "toc/3"},
        {"chapter end", &Toc::outputChapterEnd, "Failed during output of chapter end, was not initialized.<br><br>",
         "toc/5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((toc.get()->*c.op)(), 0);
        EXPECT_EQ(toc->getError(), tagged(c.text, c.tag));
    }
    EXPECT_EQ(toc->outputChapter("1", nullptr), 0);
    EXPECT_EQ(toc->getError(), tagged("Failed during output of chapter, was not initialized.<br><br>", "toc/4"));
}

TEST_F(TocTest, EntriesAreClearedAndTheListGrows) {
    toc->init(TOT_TOC, ss.get(), osnl.get(), 2, "Contents");
    // More than one pool heap of entries.
    for (size_t i = 0; i < kTocPoolItems + 10; ++i) ASSERT_EQ(toc->addEntry(1, nullptr, "t", "s", 0), 1);
    TocEntry* second = toc->firstEntry->next;
    toc->clearEntry(toc->lastEntry);
    toc->clearEntry(second);
    size_t n = 0;
    for (const TocEntry* e = toc->firstEntry; e; e = e->next) ++n;
    EXPECT_EQ(n, kTocPoolItems + 8);
    toc->clear();
    EXPECT_EQ(toc->firstEntry, nullptr);
    EXPECT_EQ(toc->lastEntry, nullptr);
    EXPECT_EQ(toc->oss, nullptr);
    EXPECT_FALSE(toc->tocHeading);
}

}  // namespace
}  // namespace ruva
