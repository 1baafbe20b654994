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
