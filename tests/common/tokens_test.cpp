#include "common/tokens.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ruva {
namespace {

// A mutable, NUL-ended copy of text (which may hold any bytes).
std::vector<char> buffer(const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    return buf;
}

struct Step {
    const char* token;  // null: the call returns null
    size_t cursor;      // offset of the cursor after the call
};

struct TokenCase {
    const char* name;
    std::string text;
    std::vector<Step> steps;
};

TEST(TokensGetNextToken, CutsTokensAndLeavesCursorPastEach) {
    const TokenCase cases[] = {
        {"quoted with escaped quotes", R"(  "a \"b\" c"  d)", {{R"(a "b" c)", 13}, {"d", 16}, {nullptr, 16}}},
        {"unterminated single quote", "'abc", {{"abc", 4}, {nullptr, 4}}},
        {"unterminated with escape", R"("ab\"cd)", {{R"(ab"cd)", 7}, {nullptr, 7}}},
        {"unterminated ending in backslash", R"("ab\)", {{R"(ab\)", 4}, {nullptr, 4}}},
        {"ascii white space separates",
         "a\tb\vc\fd\re\nf",
         {{"a", 2}, {"b", 4}, {"c", 6}, {"d", 8}, {"e", 10}, {"f", 11}, {nullptr, 11}}},
        {"0xA0 is a token byte", "\xA0x \xA0", {{"\xA0x", 3}, {"\xA0", 4}, {nullptr, 4}}},
        {"empty text", "", {{nullptr, 0}}},
        {"all blank", " \t\r\n\v\f ", {{nullptr, 7}}},
        {"closing quote ends the token", R"("x"y)", {{"x", 3}, {"y", 4}, {nullptr, 4}}},
        {"quote inside a word is ordinary", R"(a"b c)", {{R"(a"b)", 4}, {"c", 5}, {nullptr, 5}}},
        {"single quotes escape only themselves",
         R"('it\'s' 'a\"b')",
         {{"it's", 7}, {R"(a\"b)", 14}, {nullptr, 14}}},
        {"double quotes keep an apostrophe", R"("it's")", {{"it's", 6}, {nullptr, 6}}},
        {"empty quoted token", R"("" x)", {{"", 2}, {"x", 4}, {nullptr, 4}}},
        {"trailing blank after word", "ab ", {{"ab", 3}, {nullptr, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buf = buffer(c.text);
        char* cursor = buf.data();
        for (size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const char* token = getNextToken(&cursor);
            if (c.steps[i].token == nullptr) {
                EXPECT_EQ(token, nullptr);
            } else {
                ASSERT_NE(token, nullptr);
                EXPECT_STREQ(token, c.steps[i].token);
            }
            EXPECT_EQ(static_cast<size_t>(cursor - buf.data()), c.steps[i].cursor);
        }
    }
}

TEST(TokensGetNextToken, CursorHoldsTheRestOfTheLine) {
    std::vector<char> buf = buffer("CMD  arg1 the rest  of \"line\"");
    char* cursor = buf.data();
    EXPECT_STREQ(getNextToken(&cursor), "CMD");
    EXPECT_STREQ(getNextToken(&cursor), "arg1");
    EXPECT_STREQ(cursor, "the rest  of \"line\"");
}

TEST(TokensGetNextToken, NullCursorGivesNull) {
    EXPECT_EQ(getNextToken(nullptr), nullptr);
    char* cursor = nullptr;
    EXPECT_EQ(getNextToken(&cursor), nullptr);
}

TEST(TokensExpandEscapes, TurnsNamedEscapesIntoControlsAndKeepsTheRest) {
    struct {
        const char* name;
        const char* in;
        const char* out;
    } const cases[] = {
        {"all seven", R"(\a\b\f\n\r\t\v)", "\a\b\f\n\r\t\v"},
        {"tab between words", R"(a\tb)", "a\tb"},
        {"unknown pair kept", R"(a\qb)", R"(a\qb)"},
        {"backslash pair kept whole", R"(\\n)", R"(\\n)"},
        {"trailing backslash kept", R"(ab\)", R"(ab\)"},
        {"lone backslash", R"(\)", R"(\)"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buf = buffer(c.in);
        EXPECT_EQ(expandEscapes(buf.data()), buf.data());
        EXPECT_STREQ(buf.data(), c.out);
    }
    EXPECT_EQ(expandEscapes(nullptr), nullptr);
}

TEST(TokensLstrtok, ContinuesFromItsOwnCursor) {
    std::vector<char> first = buffer(",a,,b,");
    EXPECT_STREQ(lstrtok(first.data(), ","), "a");
    EXPECT_STREQ(lstrtok(nullptr, ","), "b");
    EXPECT_EQ(lstrtok(nullptr, ","), nullptr);
    EXPECT_EQ(lstrtok(nullptr, ","), nullptr);

    // A new text restarts; the delimiters may change between calls.
    std::vector<char> second = buffer("x y;z");
    EXPECT_STREQ(lstrtok(second.data(), " "), "x");
    EXPECT_STREQ(lstrtok(nullptr, ";"), "y");
    EXPECT_STREQ(lstrtok(nullptr, ";"), "z");
    EXPECT_EQ(lstrtok(nullptr, ";"), nullptr);

    std::vector<char> blank = buffer(",,,");
    EXPECT_EQ(lstrtok(blank.data(), ","), nullptr);
}

TEST(TokensExtractResField, CopiesOneFieldWithinTheLimit) {
    const char* line = "one\ttwo\t\tfour";
    struct {
        const char* name;
        int buflen;
        const char* line;
        int n;
        int result;
        const char* out;
    } const cases[] = {
        {"first", 10, line, 0, 1, "one"},
        {"middle", 10, line, 1, 1, "two"},
        {"empty field", 10, line, 2, 1, ""},
        {"last", 10, line, 3, 1, "four"},
        {"past the last", 10, line, 4, 0, ""},
        {"negative index", 10, line, -1, 0, ""},
        {"exactly fills buflen", 3, line, 0, 0, "one"},
        {"cut to buflen", 2, line, 3, 0, "fo"},
        {"zero buflen", 0, line, 0, 0, ""},
        {"null line", 10, nullptr, 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char buf[16];
        std::memset(buf, 'X', sizeof buf);
        EXPECT_EQ(extractResField(buf, c.buflen, c.line, c.n), c.result);
        EXPECT_STREQ(buf, c.out);
    }
    EXPECT_EQ(extractResField(nullptr, 10, line, 0), 0);
}

TEST(TokensExtractResFields, FillsBuffersInTurnAndSkipsZeroLengths) {
    char a[8], c[8], d[8];
    std::memset(d, 'X', sizeof d);
    char skipped = 'S';
    EXPECT_EQ(extractResFields("a\tbb\tccc", a, 7, &skipped, 0, c, 2, d, 7, static_cast<char*>(nullptr)), 2);
    EXPECT_STREQ(a, "a");
    EXPECT_EQ(skipped, 'S');
    EXPECT_STREQ(c, "cc");
    EXPECT_STREQ(d, "");  // no fourth field

    EXPECT_EQ(extractResFields(nullptr, a, 7, static_cast<char*>(nullptr)), 0);
    EXPECT_STREQ(a, "");
}

TEST(TokensStrSplit, DropsEmptyPieces) {
    using V = std::vector<std::string>;
    struct {
        const char* text;
        V pieces;
    } const cases[] = {
        {"a,,b", V{"a", "b"}}, {",a,b,", V{"a", "b"}},   {"abc", V{"abc"}}, {"", V{}},
        {",,,", V{}},          {"a b,c", V{"a b", "c"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(str_split(c.text, ','), c.pieces);
        EXPECT_EQ(str_split_count(c.text, ','), c.pieces.size() + 1);
    }
}

}  // namespace
}  // namespace ruva
