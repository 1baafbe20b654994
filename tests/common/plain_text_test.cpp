#include "common/plain_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruva {
namespace {

TEST(HtmlPlainText, TableOfTexts) {
    const struct {
        const char* html;
        const char* want;
    } cases[] = {
        {"a<b>c</b>d", "a c d"},
        {"one <i>two</i>.", "one two."},
        {"x&nbsp;y", "x y"},
        {"x &nbsp; y", "x y"},
        {"a\n\n  b\r\n\tc", "a b c"},
        {"head<!--@BODY-->body</html>tail", "body"},
        {"x</HTML>y", "x"},
        {"a<br", "a"},
        {"<p>#1-2_3</p><p>x</p>", "#1-2_3 x"},
        {"\xE4<b>\xE4", "\xE4\xE4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        EXPECT_EQ(htmlToPlainText(c.html), c.want);
    }
}

TEST(HtmlPlainText, ChapterTitlesByPosition) {
    std::vector<PlainTextTitle> titles;
    std::string text = htmlToPlainText(
        "<h2><span class=\"CHAPTITLE\">Safety</span></h2>text "
        "<div class=\"titled-block\"><span class=CHAPTITLE>No</span></h3>"
        "<h2><SPAN CLASS=chaptitle>Scope</span></h2>more",
        &titles);
    EXPECT_EQ(text, "Safety text No Scope more");
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(text.substr(titles[0].start, titles[0].end - titles[0].start), "Safety");
    EXPECT_EQ(text.substr(titles[1].start, titles[1].end - titles[1].start), "Scope");
}

// The phrase filter's headings: a number opens one that its title joins.
TEST(HtmlPlainText, ChapterNumbersOpenHeadings) {
    const struct {
        const char* name;
        const char* html;
        PlainTextHeadings headings;
        std::vector<std::string> want;
    } cases[] = {
        {"number and title one heading",
         "<h2><span class=\"CHAPNUMBER\">2</span><span class=\"CHAPTITLE\">Setup</span></h2>text",
         PlainTextHeadings::kChapterNumbers, {"2 Setup"}},
        {"titles alone: only the title",
         "<h2><span class=\"CHAPNUMBER\">2</span><span class=\"CHAPTITLE\">Setup</span></h2>text",
         PlainTextHeadings::kChapterTitles, {"Setup"}},
        {"unquoted, any case", "<h2><SPAN CLASS=chapnumber>3.1</span> Scope</span></h2>x",
         PlainTextHeadings::kChapterNumbers, {"3.1 Scope"}},
        {"a title without a number opens one",
         "<h3><span class=CHAPTITLE>Cabling</span></h3>x<h2><span class=\"CHAPNUMBER\">4</span></h2>",
         PlainTextHeadings::kChapterNumbers, {"Cabling", "4"}},
        {"not a titled block's caption",
         "<div class=\"titled-block\"><span class=\"CHAPTITLE\">Note</span></h4>x",
         PlainTextHeadings::kChapterNumbers, {}},
        {"a number inside a titled block still opens",
         "<div class=\"titled-block\"><span class=\"CHAPNUMBER\">5</span></h4>x",
         PlainTextHeadings::kChapterNumbers, {"5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PlainTextTitle> titles;
        const std::string text = htmlToPlainText(c.html, &titles, c.headings);
        std::vector<std::string> got;
        for (const PlainTextTitle& t : titles)
            got.push_back(t.end == std::string::npos ? "(open)" : text.substr(t.start, t.end - t.start));
        EXPECT_EQ(got, c.want);
    }
}

TEST(HtmlPlainText, PhraseStandsBetweenDelimiters) {
    const struct {
        const char* text;
        const char* phrase;
        size_t at;
    } cases[] = {
        {"the red car", "red car", 4},     {"the RED Car", "red car", 4},    {"bored cars", "red car", std::string::npos},
        {"red cars red car", "red car", 9}, {"x-ray", "ray", std::string::npos}, {"a (b) c", "(b", 2},
        {"red", "red", 0},                 {"\xC4pfel", "\xE4PFEL", 0},       {"", "x", std::string::npos},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.phrase);
        EXPECT_EQ(findPhrase(c.text, c.phrase), c.at);
    }
    size_t stopped = 99;
    EXPECT_EQ(findPhrase("abc", "x", &stopped), std::string::npos);
    EXPECT_EQ(stopped, 0u);
    EXPECT_EQ(findPhrase("xa ya", "a", &stopped), std::string::npos);
    EXPECT_EQ(stopped, 4u);
}

}  // namespace
}  // namespace ruva
