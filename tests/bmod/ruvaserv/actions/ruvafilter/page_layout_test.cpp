#include "bmod/ruvaserv/actions/ruvafilter/page_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"
#include "tests/bmod/ruvaserv/actions/ruvafilter/page_text_dump.h"

namespace ruva::filter {
namespace {

using Lines = std::vector<std::string>;

TEST(FilterLayout, GeometryOfEveryPaper) {
    const struct {
        const char* size;
        int width, height, columns, rows;
    } cases[] = {
        {"A4", 595, 842, 96, 66},   {"us", 612, 792, 100, 61}, {"Letter", 612, 792, 100, 61},
        {"A3", 842, 1191, 142, 97}, {"A5", 420, 595, 64, 43},  {"LEGAL", 612, 1008, 100, 81},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        const PaperSize* paper = findPaperSize(c.size);
        ASSERT_NE(paper, nullptr);
        const PageGeometry g = pageGeometry(*paper);
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
        EXPECT_EQ(g.columns, c.columns);
        EXPECT_EQ(g.rows, c.rows);
        // Every line fits between the margins, the footer below the last row.
        EXPECT_LE(kMargin * 10 + g.columns * kAdvanceTenths, (g.width - kMargin) * 10);
        EXPECT_LE(g.headerY + kFontSize, g.height - kMargin);
        EXPECT_GT(g.firstRowY - (g.rows - 1) * kLeading, g.footerY + kLeading);
    }
}

Lines wrapped(const std::string& html, int columns) {
    const PageText page = htmlToLines(html, Charset::kLatin1);
    return test::dumpLines(page, wrapLines(page, columns));
}

TEST(FilterLayout, WrapsAtBlanksAndCutsLongWords) {
    const struct {
        const char* name;
        std::string html;
        int columns;
        Lines lines;
    } cases[] = {
        {"fits exactly", "aaaa", 4, {"aaaa"}},
        {"blank right after the limit", "aaaa bbbb", 4, {"aaaa", "bbbb"}},
        {"last blank that fits", "aa bb cc", 5, {"aa bb", "cc"}},
        {"long word cut", "abcdefghij", 4, {"abcd", "efgh", "ij"}},
        {"word after a short one", "ab cdefghij", 4, {"ab", "cdef", "ghij"}},
        {"cell gap at the break", "<td>a<td>b", 2, {"a", "b"}},
        {"nbsp holds words together",
         "aa&nbsp;bb cc",
         5,
         {"aa\xA0"
          "bb",
          "cc"}},
        {"pre cut, blanks kept", "<pre>a b c d e</pre>", 4, {"a b ", "c d ", "e"}},
        {"rule and empty line pass", "<hr>a<br><br>b", 4, {"<hr>", "a", "", "b"}},
        {"bold survives the cut", "<b>aaaa bbbb</b>", 4, {"*aaaa*", "*bbbb*"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(wrapped(c.html, c.columns), c.lines);
    }
}

// A paragraph of words and one 250-byte word on A4 and Letter: no line
// over the width, the text whole, the long word in full-width pieces.
TEST(FilterLayout, WrapsAt96And100Columns) {
    std::string words;
    for (int i = 0; i < 60; ++i) words += "word" + std::to_string(i * 37) + " ";
    const std::string longWord(250, 'x');
    for (const char* size : {"A4", "US"}) {
        SCOPED_TRACE(size);
        const int columns = pageGeometry(*findPaperSize(size)).columns;
        const Lines lines = wrapped("<p>" + words + "<p>" + longWord, columns);
        std::string joined;
        size_t i = 0;
        for (; i < lines.size() && lines[i][0] != 'x'; ++i) {
            EXPECT_LE(lines[i].size(), static_cast<size_t>(columns));
            // The next line's first word did not fit here.
            if (i + 1 < lines.size() && lines[i + 1][0] != 'x') {
                EXPECT_GT(lines[i].size() + 1 + lines[i + 1].find(' '), static_cast<size_t>(columns));
            }
            joined += lines[i] + " ";
        }
        EXPECT_EQ(joined, words);
        const Lines expected = {longWord.substr(0, columns), longWord.substr(columns, columns),
                                longWord.substr(2 * columns)};
        EXPECT_EQ(Lines(lines.begin() + static_cast<long>(i), lines.end()), expected);
    }
}

}  // namespace
}  // namespace ruva::filter
