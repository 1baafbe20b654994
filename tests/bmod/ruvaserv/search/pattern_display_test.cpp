#include "bmod/ruvaserv/search/pattern_display.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

struct DisplayCase {
    const char* name;
    std::string pattern;
    std::string shown;
};

TEST(PatternDisplay, FilterPatternSpellsOutOperatorsAndDropsWildcards) {
    const DisplayCase cases[] = {
        {"empty", "", ""},
        {"or", "a|b", "a or b"},
        {"not", "a!b", "a not b"},
        {"and stays a character", "a&b", "a&b"},
        {"trailing wildcard", "abc*", "abc"},
        {"wildcards at both ends", "?abc?", "abc"},
        {"or before a trailing wildcard taken back", "a|*", "a"},
        {"and before a trailing wildcard: one character taken back", "a&*", "a"},
        {"wildcard between two ors", "a|*|b", "a or b"},
        {"wildcard after not before a blank", "a!* b", "a b"},
        {"two nots", "!!", " not not"},
        // Nothing stands before a leading wildcard: no text of the word
        // before is eaten.
        {"leading wildcard before an operator", "*|b", " or b"},
        {"parentheses copied", "(a|b)", "(a or b)"},
        {"markup left to the caller", "<x>|\"y\"", "<x> or \"y\""},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(filterPattern(c.pattern), c.shown);
    }
}

TEST(PatternDisplay, DispSearchPatternBoldsEachOperand) {
    const DisplayCase cases[] = {
        {"empty", "", "<b></b>"},
        {"one word", "abc", "<b>abc</b>"},
        {"and", "a&b", "<b>a</b> and <b>b</b>"},
        {"or in parentheses", "(a|b)", "<b>a</b> or <b>b</b>"},
        {"not", "a!b", "<b>a</b> not <b>b</b>"},
        {"blank and minus", "a -b", "<b>a</b> not <b>b</b>"},
        {"blank before anything else stays", "a b", "<b>a b</b>"},
        {"operator at the start is text", "!a", "<b>!a</b>"},
        {"wildcard in a word shown", "ab*", "<b>ab*</b>"},
        {"trailing wildcard after and taken back with it", "a&*", "<b>a</b>"},
        {"trailing wildcard after blank-minus", "a -*", "<b>a</b>"},
        {"wildcard between two operators", "a|*|b", "<b>a</b> or <b>b</b>"},
        {"closing parenthesis does not hide the end", "(a|*)", "<b>a</b>"},
        {"leading wildcard before an operator dropped", "*|b", "<b></b> or <b>b</b>"},
        {"markup escaped", "a<b>\"c'", "<b>a&lt;b&gt;&quot;c'</b>"},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dispSearchPattern(c.pattern), c.shown);
    }
}

// The form is cut at 1024 characters between whole pieces and still ends
// bold, so the rest of the page is not left bold.
TEST(PatternDisplay, LongPatternIsCutBeforeItsClosingTag) {
    const std::string kana = "\xa4\xa2";  // one EUC-JP character
    const DisplayCase cases[] = {
        {"3000 letters", std::string(3000, 'a'), "<b>" + std::string(1021, 'a') + "</b>"},
        {"a two-byte character is not split", std::string(1020, 'a') + kana + kana,
         "<b>" + std::string(1020, 'a') + "</b>"},
        {"two-byte characters that fit", std::string(1019, 'a') + kana + kana,
         "<b>" + std::string(1019, 'a') + kana + "</b>"},
        {"an entity is not split", std::string(1016, 'a') + "\"b", "<b>" + std::string(1016, 'a') + "</b>"},
        {"an operator is not split", std::string(1018, 'a') + "&b", "<b>" + std::string(1018, 'a') + "</b>"},
        {"exactly full", std::string(1021, 'a'), "<b>" + std::string(1021, 'a') + "</b>"},
    };
    for (const DisplayCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dispSearchPattern(c.pattern), c.shown);
    }
}

}  // namespace
}  // namespace ruva
