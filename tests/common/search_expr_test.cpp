#include "common/search_expr.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using namespace std::string_literals;

struct Case {
    const char* in;
    const char* out;
};

TEST(SearchExprOperatorPlusMinus, RewritesOperators) {
    const Case cases[] = {
        {"+a -b", "a !b"},
        {"a +b", "a &b"},
        {"a-b", "a-b"},
        {"!a", " a"},
        {"a !b", "a  b"},
        {"--a", "-a"},
        {"a\t-b", "a\t!b"},
        {"", ""},
        {"|a", "a"},
        {"&a", "a"},
        {"a|b&c", "a|b&c"},
        {"a  +b\n-c", "a  &b\n!c"},
        // Only the input's white space counts: the '!' made a blank does not.
        {"a !-b", "a  -b"},
        {"+", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(operatorPlusMinusSupport(c.in), c.out);
    }
}

TEST(SearchExprParanthesis, BracketsOperandGroups) {
    const Case cases[] = {
        {"a b", "a (b)"},
        {"a b c", "a (b (c))"},
        {"  a   b  ", "a (b)"},
        {"a | b", "a | b"},
        {"a b | c", "a (b | c)"},
        {"a & b", "a &(b)"},
        {"a&b c", "a&(b (c))"},
        {"a ! b", "a !b"},
        {"a (b|c)", "a ((b|c))"},
        {"", ""},
        {"a", "a"},
        {"   ", ""},
        {"&b", "&(b)"},
        {"a\t\nb", "a (b)"},
        {"a |b", "a |b"},
        {"a *b", "a *b"},
        {"a \xE4\xB8", "a \xE4\xB8"},
        {"a & !b", "a &!b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(paranthesisPattern(c.in), c.out);
    }
}

TEST(SearchExpr, InputEndsAtNul) {
    const std::string in = "+a -b\0 -c"s;
    EXPECT_EQ(operatorPlusMinusSupport(in), "a !b");
    EXPECT_EQ(paranthesisPattern("a b\0 c"s), "a (b)");
}

TEST(SearchExprParanthesis, KeepsTheInputWhenTheResultWouldNotFit) {
    // "x...x (y)" is exactly 1023 characters with 1019 x.
    const std::string fits = std::string(1019, 'x') + " y";
    EXPECT_EQ(paranthesisPattern(fits), std::string(1019, 'x') + " (y)");
    const std::string tooLong = std::string(1020, 'x') + " y";
    EXPECT_EQ(paranthesisPattern(tooLong), tooLong);
    for (const auto& [in, cut] : {std::pair{fits, false}, std::pair{tooLong, true}}) {
        bool truncated = !cut;
        paranthesisPattern(in, &truncated);
        EXPECT_EQ(truncated, cut) << in.size();
    }
    // Dropped blanks make room.
    const std::string blanks = "   " + std::string(1017, 'x') + " y";
    EXPECT_EQ(paranthesisPattern(blanks), std::string(1017, 'x') + " (y)");
}

TEST(SearchExpr, LongInputsGiveAtMost1023Characters) {
    std::string big;
    while (big.size() < 100 * 1024) big += "+ab -cd & ef | (gh) !ij ";
    const auto copy = test::exactCopy(big);
    const std::string plusMinus = operatorPlusMinusSupport(copy.get());
    EXPECT_LE(plusMinus.size(), kSearchExprMax);
    EXPECT_EQ(plusMinus, operatorPlusMinusSupport(big.substr(0, kSearchExprMax)));

    const std::string grouped = paranthesisPattern(copy.get());
    EXPECT_EQ(grouped, big.substr(0, kSearchExprMax));

    const std::string rewritten = paranthesisPattern(plusMinus);
    EXPECT_LE(rewritten.size(), kSearchExprMax);
    EXPECT_EQ(operatorPlusMinusSupport(std::string(100 * 1024, 'a')), std::string(kSearchExprMax, 'a'));
}

}  // namespace
}  // namespace ruva
