#include "bmod/unzipd/search/phrase_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

TEST(PhraseFilter, Table) {
    const struct {
        const char* name;
        const char* pattern;
        const char* text;
        int want;
    } cases[] = {
        {"word against a text without blanks", "abc", "x a b c y", 1},
        {"the blank stays in a phrase", "\"a b\"", "x a b c y", 0},
        {"case-blind", "MANUAL", "Service Manual 2020", 1},
        {"Latin-1 case-blind", "\xc9T\xc9", "l'\xe9t\xe9", 1},
        {"or, then and not: foo", "foo | bar & !baz", "foo", 1},
        {"or, then and not: bar", "foo | bar & !baz", "bar", 1},
        {"or, then and not: foo baz", "foo | bar & !baz", "foo baz", 0},
        {"or, then and not: neither", "foo | bar & !baz", "qux", 0},
        {"no precedence: (a & b) | c", "a & b | c", "c", 1},
        {"two words mean and: both", "a b", "xaxbx", 1},
        {"two words mean and: one", "a b", "xaxx", 0},
        {"operators end words", "a!b", "a", 1},
        {"operators end words, negated", "a!b", "ab", 0},
        {"unclosed quote keeps the value so far", "abc \"de", "abc", 1},
        {"unclosed quote keeps a false value", "abc \"de", "xyz", 0},
        {"unclosed quote as the first term", "\"de", "de", -1},
        {"unclosed quote after an operator", "abc & \"de", "abc", -1},
        {"leading and", "& x", "x", 1},
        {"leading or", "| x", "y", 0},
        {"operator at the end", "a &", "a", -1},
        {"lone not", "!", "a", -1},
        {"double not", "! ! a", "a", 1},
        {"empty phrase", "\"\"", "a", 1},
        {"null pattern", nullptr, "a", 1},
        {"empty pattern", "", "a", 1},
        {"null text", "a", nullptr, 0},
        {"blank pattern", "   ", "a", -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(phrsrch_filter(c.pattern, c.text), c.want);
    }
}

// Counted, not recursed into: a command line holds enough '!' to overflow
// the stack of an evaluator that recurses per '!'.
TEST(PhraseFilter, LongRunOfNotsNegatesByParity) {
    std::string even(131000, '!');
    EXPECT_EQ(phrsrch_filter((even + "a").c_str(), "a"), phrsrch_filter("a", "a"));
    EXPECT_EQ(phrsrch_filter((even + "a").c_str(), "b"), phrsrch_filter("a", "b"));
    EXPECT_EQ(phrsrch_filter((even + "!a").c_str(), "a"), 0);
    EXPECT_EQ(phrsrch_filter(even.c_str(), "a"), -1);
}

TEST(PhraseFilter, Tokens) {
    const struct {
        const char* expression;
        char type;
        const char* token;  // null: none
        size_t next;
    } cases[] = {
        {"  word rest", kPhraseToken, "word", 6},
        {"w!x", kPhraseToken, "w", 1},
        {" \"a b\" c", kPhraseToken, "a b", 6},
        {"\"open", kUnknownToken, nullptr, 5},
        {" & x", kAndToken, "&", 2},
        {"|", kOrToken, "|", 1},
        {"!x", kNotToken, "!", 1},
        {"   ", kEndToken, nullptr, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expression);
        char type = 0;
        const char* next = nullptr;
        auto token = phrsrch_getToken(c.expression, &type, &next);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(token.has_value(), c.token != nullptr);
        if (token && c.token) {
            EXPECT_EQ(*token, c.token);
        }
        EXPECT_EQ(static_cast<size_t>(next - c.expression), c.next);
    }
    const char* text = "abc";
    EXPECT_EQ(phrsrch_makestr(text + 2, text + 1), std::nullopt);
    EXPECT_EQ(phrsrch_makestr(text, text + 2), "ab");
}

}  // namespace
}  // namespace ruva
