#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/patterns.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::exactCopy;

struct FitCase {
    const char* name;
    const char* wildcard;
    const char* text;
    int want;
};

void checkFits(const FitCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const FitCase& c = cases[i];
        SCOPED_TRACE(c.name);
        auto wildcard = exactCopy(c.wildcard);
        auto text = exactCopy(c.text);
        EXPECT_EQ(wildcardfit(wildcard.get(), text.get()), c.want)
            << "wildcard \"" << c.wildcard << "\" text \"" << c.text << "\"";
    }
}

TEST(WildcardFit, StarsAndQuestions) {
    const FitCase cases[] = {
        {"star on empty", "*", "", 1},
        {"stars on empty", "***", "", 1},
        {"question on empty", "?", "", 0},
        {"star retries at its own position", "a*b", "ab", 1},
        {"star before the whole text", "*abc", "abc", 1},
        {"star takes a run", "a*b", "axxxb", 1},
        {"star backtracks to an earlier occurrence", "*a[xy]*", "axab", 1},
        {"leftover question does not fit", "ab?", "ab", 0},
        {"leftover stars fit", "ab**", "ab", 1},
        {"question after star takes a byte", "*?", "", 0},
        {"question after star, one byte", "*?", "a", 1},
        {"two questions after star, one byte", "*??", "a", 0},
        {"star question star question", "*?*?", "ab", 1},
        {"text left over", "ab", "abc", 0},
        {"case-sensitive", "A", "a", 0},
        {"backslash is ordinary", "a\\*b", "a\\xyb", 1},
        {"bang is ordinary outside a set", "!a", "!a", 1},
        {"newline in the text is ordinary", "a?b", "a\nb", 1},
        {"star over a newline in the text", "*", "a\nb", 1},
        {"high bytes compare exactly", "\xE9?", "\xE9\xFF", 1},
        {"no case folding of Latin-1", "\xC9", "\xE9", 0},
    };
    checkFits(cases, std::size(cases));
}

TEST(WildcardFit, Sets) {
    const FitCase cases[] = {
        {"range", "[a-c]", "b", 1},
        {"outside the range", "[a-c]", "d", 0},
        {"negated set", "[!ab]", "c", 1},
        {"negated set, member", "[!ab]", "a", 0},
        {"bracket first is a member", "[]a]", "]", 1},
        {"bracket first, other member", "[]a]", "a", 1},
        {"bracket first, no member", "[]a]", "b", 0},
        {"bracket after bang is a member", "[!]a]", "]", 0},
        {"bracket after bang, other member", "[!]a]", "a", 0},
        {"bracket after bang, non-member", "[!]a]", "b", 1},
        {"dash last is a member", "[a-]", "-", 1},
        {"dash last, first member", "[a-]", "a", 1},
        {"dash last is not a range", "[a-]", "b", 0},
        {"dash first is a member", "[-c]", "-", 1},
        {"dash first is not a range", "[-c]", "b", 0},
        {"dash after bang is a member", "[!-c]", "-", 0},
        {"descending pair is no range", "[z-a]", "m", 0},
        {"descending pair, first", "[z-a]", "z", 1},
        {"descending pair, dash", "[z-a]", "-", 1},
        {"descending pair, last", "[z-a]", "a", 1},
        {"two ranges", "[a-ck-m]", "l", 1},
        {"range end starts no range", "[a-c-e]", "d", 1},
        {"text goes on after a set", "[ab]c", "bc", 1},
        {"set then star", "[ab]*", "bxyz", 1},
        {"range of high bytes", "[\xE0-\xEF]", "\xE9", 1},
        {"range of high bytes, outside", "[\xE0-\xEF]", "a", 0},
        {"range from ASCII to high bytes is unsigned", "[\x01-\xFF]", "\xE9", 1},
        {"range to a high byte", "[a-\xE9]", "\xC0", 1},
    };
    checkFits(cases, std::size(cases));
}

TEST(WildcardFit, NewlineInTheWildcardFitsNothing) {
    const FitCase cases[] = {
        {"literal newline", "a\nb", "a\nb", 0},    {"newline after a star", "*\n", "x\n", 0},
        {"newline in a set", "[\n]", "\n", 0},     {"newline past the first mismatch", "a\n", "b", 0},
        {"newline never reached", "a*\n", "a", 0}, {"newline alone on empty text", "\n", "", 0},
    };
    checkFits(cases, std::size(cases));
}

TEST(WildcardFit, UnterminatedSetFitsNothing) {
    const FitCase cases[] = {
        {"members present", "[ab", "a", 0},
        {"after a star", "*[ab", "xa", 0},
        {"lone bracket", "[", "[", 0},
        {"bracket only member", "[]", "]", 0},
        {"negated, bracket only member", "[!]", "x", 0},
        {"negated, nothing", "[!", "x", 0},
        {"range cut short", "[a-", "a", 0},
        {"text ends before the set", "a[b", "a", 0},
        {"closed set contains a bracket", "[[]", "[", 1},
    };
    checkFits(cases, std::size(cases));
}

TEST(WildcardFit, TrailingBackslashIsAnOrdinaryByte) {
    const FitCase cases[] = {
        {"alone", "\\", "\\", 1},           {"after text", "a\\", "a\\", 1},
        {"text ends first", "a\\", "a", 0}, {"after a star", "*\\", "xy\\", 1},
        {"in a set", "[\\", "\\", 0},
    };
    checkFits(cases, std::size(cases));
}

// The recursive form tries every position for each star: O(n^8) here.
TEST(WildcardFit, ManyStarsOnALongTextStayLinear) {
    const std::string as(20000, 'a');
    auto text = exactCopy(as);
    EXPECT_EQ(wildcardfit("*a*a*a*a*a*a*a*a*b", text.get()), 0);
    auto withB = exactCopy(as + "b");
    EXPECT_EQ(wildcardfit("*a*a*a*a*a*a*a*a*b", withB.get()), 1);
    EXPECT_EQ(wildcardfit("*a*a*a*a*a*a*a*a*", text.get()), 1);
}

TEST(WildcardFit, NullArgumentsFitNothing) {
    EXPECT_EQ(wildcardfit(nullptr, "a"), 0);
    EXPECT_EQ(wildcardfit("*", nullptr), 0);
    EXPECT_EQ(wildcardfit(nullptr, nullptr), 0);
}

}  // namespace
}  // namespace ruva
