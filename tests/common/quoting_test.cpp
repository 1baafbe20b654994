#include "common/quoting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/tokens.h"

namespace ruva {
namespace {

// Tokenizes "<field> next" as the other side of the wire does; returns the
// first token and whether "next" followed as a token of its own.
std::string readBack(const std::string& field, bool* nextSeparate) {
    std::string line = field + " next";
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    char* cursor = buf.data();
    const char* token = getNextToken(&cursor);
    const char* second = getNextToken(&cursor);
    *nextSeparate = second != nullptr && std::string(second) == "next";
    return token != nullptr ? token : "<null>";
}

TEST(QuotingQuoteString, QuotesAllButPlainAlphanumericsAndReadsBack) {
    struct {
        const char* name;
        const char* in;
        const char* out;
    } const cases[] = {
        {"alphanumeric", "abc123", "abc123"},
        {"blank", "a b", R"("a b")"},
        {"empty", "", R"("")"},
        {"inner quote", R"(a"b)", R"("a\"b")"},
        {"latin-1 letter", "caf\xE9", "\"caf\xE9\""},
        {"underscore", "a_b", R"("a_b")"},
        {"inner backslash", R"(a\b)", R"("a\b")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string quoted = quoteString(c.in);
        EXPECT_EQ(quoted, c.out);
        bool nextSeparate = false;
        EXPECT_EQ(readBack(quoted, &nextSeparate), c.in);
        EXPECT_TRUE(nextSeparate);
    }
    EXPECT_EQ(quoteString(nullptr), "");
}

TEST(QuotingQuoteString, FieldEndingInBackslashSwallowsTheRestOfTheLine) {
    // Both sides of the wire behave this way: the final \ escapes the
    // closing quote, so the field reads back as C:\dir" plus the rest.
    std::string quoted = quoteString(R"(C:\dir\)");
    EXPECT_EQ(quoted, R"("C:\dir\")");
    bool nextSeparate = true;
    EXPECT_EQ(readBack(quoted, &nextSeparate), R"(C:\dir" next)");
    EXPECT_FALSE(nextSeparate);
}

TEST(QuotingQuoteQuote, EscapesQuotesAndCopiesBackslashPairs) {
    struct {
        const char* name;
        const char* in;
        const char* out;
        const char* back;  // the result in quotes, read by getNextToken
    } const cases[] = {
        {"inner quote", R"(a"b)", R"(a\"b)", R"(a"b)"},
        {"backslash pair", R"(a\b)", R"(a\b)", R"(a\b)"},
        {"already escaped quote", R"(a\"b)", R"(a\"b)", R"(a"b)"},
        {"plain", "plain", "plain", "plain"},
        {"empty", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string quoted = quoteQuote(c.in);
        EXPECT_EQ(quoted, c.out);
        bool nextSeparate = false;
        EXPECT_EQ(readBack("\"" + quoted + "\"", &nextSeparate), c.back);
        EXPECT_TRUE(nextSeparate);
    }
    EXPECT_EQ(quoteQuote(nullptr), "");
}

TEST(QuotingQuoteQuote, TrailingBackslashIsCopiedOnceAndEscapesTheClosingQuote) {
    std::string quoted = quoteQuote(R"(ab\)");
    EXPECT_EQ(quoted, R"(ab\)");
    bool nextSeparate = true;
    EXPECT_EQ(readBack("\"" + quoted + "\"", &nextSeparate), R"(ab" next)");
    EXPECT_FALSE(nextSeparate);
}

}  // namespace
}  // namespace ruva
