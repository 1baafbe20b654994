#include "bmod/ruvaserv/actions/ruvafilter/postscript.h"

#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/actions/ruvafilter/filter.h"
#include "tests/bmod/ruvaserv/actions/ruvafilter/ps_checks.h"

namespace ruva::filter {
namespace {

TEST(FilterPostScript, StringsEscape) {
    const struct {
        std::string bytes;
        const char* literal;
    } cases[] = {
        {"", "()"},
        {"plain text ~", "(plain text ~)"},
        {"a(b)c\\", "(a\\(b\\)c\\\\)"},
        {std::string("\0\n\x1F", 3), "(\\000\\012\\037)"},
        {"\x7F\x80\xA0\xE9\xFF", "(\\177\\200\\240\\351\\377)"},
        {" %", "( %)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.literal);
        std::string out = "x";
        appendPsString(out, c.bytes);
        EXPECT_EQ(out, std::string("x") + c.literal);
    }
}

const PaperSize& paper(const char* name) {
    return *findPaperSize(name);
}

TEST(FilterPostScript, FrameAndPaperSize) {
    const std::string a4 = pageToPostScript("<p>x", paper("A4")).value_or("");
    EXPECT_EQ(test::checkDocument(a4), 1);
    EXPECT_NE(a4.find("\n%%BoundingBox: 0 0 595 842\n"), std::string::npos);
    EXPECT_NE(a4.find("\n%%DocumentMedia: A4 595 842 0 () ()\n"), std::string::npos);
    EXPECT_NE(a4.find("\n%%LanguageLevel: 2\n"), std::string::npos);
    EXPECT_NE(a4.find("\n<< /PageSize [595 842] >> setpagedevice\n"), std::string::npos);
    const std::string us = pageToPostScript("<p>x", paper("us")).value_or("");
    EXPECT_NE(us.find("\n%%BoundingBox: 0 0 612 792\n"), std::string::npos);
    EXPECT_NE(us.find("\n<< /PageSize [612 792] >> setpagedevice\n"), std::string::npos);
    // Nothing that changes between runs.
    EXPECT_EQ(pageToPostScript("<p>x", paper("A4")).value_or(""), a4);
    EXPECT_EQ(a4.find("Date"), std::string::npos);
}

TEST(FilterPostScript, PagesAndFooters) {
    std::string html;
    for (int i = 1; i <= 150; ++i) html += "<p>line " + std::to_string(i);
    const struct {
        const char* size;
        std::string html;
        int pages;
    } cases[] = {
        {"A4", "", 1},
        {"A4", html, 3},  // 66 rows a page
        {"US", html, 3},  // 61
        {"A3", html, 2},  // 97
        {"A5", html, 4},  // 43
        // The newline right after <pre> is not a line: 66 and 67 lines.
        {"A4", "<pre>\n" + std::string(65, '\n') + "x</pre>", 1},
        {"A4", "<pre>\n" + std::string(66, '\n') + "x</pre>", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " " + std::to_string(c.pages));
        const std::string ps = pageToPostScript(c.html, paper(c.size)).value_or("");
        EXPECT_EQ(test::checkDocument(ps), c.pages);
        const std::string last = "Page " + std::to_string(c.pages) + " of " + std::to_string(c.pages);
        EXPECT_NE(ps.find("(" + last + ") R"), std::string::npos);
    }
}

TEST(FilterPostScript, TitleOnEveryPageCutToTheWidth) {
    std::string html = "<title>" + std::string(120, 'T') + "</title>";
    for (int i = 0; i < 70; ++i) html += "<br>";
    const std::string ps = pageToPostScript(html, paper("A4")).value_or("");
    const std::string shown = "36.0 797 M (" + std::string(96, 'T') + ") B\n";
    const size_t first = ps.find(shown);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(ps.find(shown, first + 1), std::string::npos);
}

TEST(FilterPostScript, RunsOfEachWeight) {
    const std::string ps = pageToPostScript("<p>a <b>b c</b> d(e)", paper("A4")).value_or("");
    EXPECT_NE(ps.find("\n36.0 775 M (a ) R\n"), std::string::npos);
    EXPECT_NE(ps.find("\n46.8 775 M (b c) B\n"), std::string::npos);
    EXPECT_NE(ps.find("\n63.0 775 M ( d\\(e\\)) R\n"), std::string::npos);
}

// A3's 142 columns of bytes that escape to four each: 568 bytes, shown in
// pieces so that no line passes the limit.
TEST(FilterPostScript, EscapedLinesStayShort) {
    const std::string ps =
        pageToPostScript("<pre>" + std::string(142 * 3, '\xE9') + "</pre>", paper("A3")).value_or("");
    test::checkDocument(ps);
    size_t shown = 0;
    for (size_t at = ps.find("\\351"); at != std::string::npos; at = ps.find("\\351", at + 4)) ++shown;
    EXPECT_EQ(shown, 142u * 3);
}

// The print action takes at most kMaxOutputBytes; the writer stops past
// its limit rather than build what would be thrown away.
TEST(FilterPostScript, NothingPastTheLimit) {
    PageText page;
    page.text = "text";
    page.lines.push_back({0, 4, LineKind::kText});
    const std::optional<std::string> whole = writePostScript(page, paper("A4"));
    ASSERT_TRUE(whole.has_value());
    EXPECT_TRUE(writePostScript(page, paper("A4"), whole->size()).has_value());
    EXPECT_FALSE(writePostScript(page, paper("A4"), whole->size() - 1).has_value());
    page.overflow = true;  // the text itself was cut
    EXPECT_FALSE(writePostScript(page, paper("A4")).has_value());
}

}  // namespace
}  // namespace ruva::filter
