#include "common/patterns.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::exactCopy;

struct MatchCase {
    const char* name;
    const char* pattern;
    const char* text;
    int flags;
    int want;
};

void checkMatches(const MatchCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const MatchCase& c = cases[i];
        SCOPED_TRACE(c.name);
        auto pattern = exactCopy(c.pattern);
        auto text = exactCopy(c.text);
        EXPECT_EQ(matchPattern(pattern.get(), text.get(), c.flags), c.want)
            << "pattern \"" << c.pattern << "\" text \"" << c.text << "\" flags " << c.flags;
    }
}

TEST(PatternsMatchPattern, BasicSyntax) {
    const MatchCase cases[] = {
        {"star before suffix", "*.txt", "a.b.txt", 0, 1},
        {"question, case-blind", "A?C", "abc", 1, 1},
        {"question, exact case", "A?C", "abc", 0, 0},
        {"one leftover star", "ab*", "ab", 0, 1},
        {"one leftover question", "ab?", "ab", 0, 1},
        {"two leftover questions", "ab??", "ab", 0, 0},
        {"set member", "[xyz]1", "y1", 0, 1},
        {"set without member", "[xyz]1", "a1", 0, 0},
        {"escaped star is literal", "a\\*b", "a*b", 0, 1},
        {"escaped star takes no run", "a\\*b", "axb", 0, 0},
        {"escaped question", "a\\?", "a?", 0, 1},
        {"escaped question takes nothing else", "a\\?", "ax", 0, 0},
        {"escaped bracket", "\\[a]", "[a]", 0, 1},
        {"escaped ordinary byte", "\\a", "a", 0, 1},
        {"escaped backslash", "a\\\\b", "a\\b", 0, 1},
        {"empty pattern, empty text", "", "", 0, 1},
        {"empty pattern, text left", "", "a", 0, 0},
        {"pattern longer than text", "abc", "ab", 0, 0},
        {"text longer than pattern", "ab", "abc", 0, 0},
        {"star takes everything", "*", "any text at all", 0, 1},
        {"star on empty text", "*", "", 0, 1},
        {"question on empty text", "?", "", 0, 1},
        {"newline is ordinary", "a\nb", "a\nb", 0, 1},
        {"'!' is ordinary", "!a", "!a", 0, 1},
        {"flags other than bit 0 keep case", "A", "a", 2, 0},
    };
    checkMatches(cases, std::size(cases));
}

TEST(PatternsMatchPattern, StarIsGreedyToTheLastOccurrenceAndNeverBacktracks) {
    const MatchCase cases[] = {
        {"last occurrence ends the text", "*a", "aXa", 0, 1},
        {"text left after the last occurrence", "*a", "aXab", 0, 0},
        {"repeated suffix", "*.txt", "a.txt.txt", 0, 1},
        // A backtracking matcher takes the first 'a' and fits; this one
        // takes the last and then fails on 'b'.
        {"earlier occurrence never tried", "*a[xy]*", "axab", 0, 0},
        {"leftover question after the last occurrence", "*a?", "aXa", 0, 1},
        {"stars and questions after a star take nothing", "*?b", "b", 0, 1},
        {"star question at end", "a*?", "ab", 0, 1},
        {"star question left over is two characters", "a*?", "a", 0, 0},
        {"two leftover stars", "a**", "a", 0, 0},
        {"literal not found", "*x", "abc", 0, 0},
        {"literal with escape", "*a\\?b", "xa?b", 0, 1},
        {"literal is escaped star", "*\\*", "a*b*", 0, 1},
        {"literal ends at question", "*ab?", "xxabz", 0, 1},
        {"literal ends at set", "*ab[cd]", "ababd", 0, 1},
        {"two literals", "*b*d", "abcbcd", 0, 1},
        {"case-blind literal", "*.HTML", "x.html", 1, 1},
        {"case-blind text", "*.html", "X.HTML", 1, 1},
    };
    checkMatches(cases, std::size(cases));
}

TEST(PatternsMatchPattern, SetsHaveNoRangesNoNegationAndEndAtFirstBracket) {
    const MatchCase cases[] = {
        {"range is not a range", "[a-c]", "b", 0, 0},
        {"range start is a member", "[a-c]", "a", 0, 1},
        {"range end is a member", "[a-c]", "c", 0, 1},
        {"dash is a member", "[a-c]", "-", 0, 1},
        {"dash and bang are members (bang)", "[-!]", "!", 0, 1},
        {"dash and bang are members (dash)", "[-!]", "-", 0, 1},
        {"bang does not negate", "[!a]", "b", 0, 0},
        {"backslash is a member", "[\\]", "\\", 0, 1},
        {"set ends at first bracket", "[\\]]", "\\]", 0, 1},
        {"bracket after the set is literal", "[\\]]", "]]", 0, 0},
        {"empty set fits nothing", "[]a]", "a]", 0, 0},
        {"set unterminated, member", "[ab", "a", 0, 1},
        {"set unterminated, no member", "[ab", "c", 0, 0},
        {"lone bracket", "[", "a", 0, 0},
        {"flag 1 lowers the set", "[XY]", "y", 1, 1},
        {"flag 0 keeps the set's case", "[XY]", "y", 0, 0},
        {"flag 1 lowers the text", "[xy]", "Y", 1, 1},
    };
    checkMatches(cases, std::size(cases));
}

TEST(PatternsMatchPattern, FlagOneFoldsOnlyAsciiLetters) {
    const MatchCase cases[] = {
        {"ascii folded", "CAF\xE9", "caf\xE9", 1, 1},
        {"latin-1 letters compare exactly", "caf\xC9", "caf\xE9", 1, 0},
        {"latin-1 in a set compares exactly", "[\xC9]", "\xE9", 1, 0},
        {"latin-1 literal after a star", "*\xE9T\xE9", "x\xE9t\xE9", 1, 1},
        {"latin-1 literal after a star, other case", "*\xC9T\xC9", "x\xE9t\xE9", 1, 0},
        {"high bytes exact without the flag", "\xFF?", "\xFF\x80", 0, 1},
    };
    checkMatches(cases, std::size(cases));
}

// A '*' directly before '[' has an empty literal, which is found at the end
// of the text, so the star takes everything and the set is left over.
TEST(PatternsMatchPattern, StarBeforeSetTakesTheRestAndNeverFits) {
    const MatchCase cases[] = {
        {"set after star", "*[ab]", "xa", 0, 0},
        {"set after star, one byte", "*[ab]", "a", 0, 0},
        {"set after star, empty text", "*[ab]", "", 0, 0},
        {"stars and questions before the set", "*?*[ab]", "xa", 0, 0},
    };
    checkMatches(cases, std::size(cases));
}

TEST(PatternsMatchPattern, TrailingBackslashIsALiteralBackslash) {
    const MatchCase cases[] = {
        {"alone", "\\", "\\", 0, 1},
        {"alone, other byte", "\\", "x", 0, 0},
        {"after text", "a\\", "a\\", 0, 1},
        {"text ends first", "a\\", "a", 0, 0},
        {"as the literal after a star", "*\\", "ab\\", 0, 1},
        {"as the literal after a star, missing", "*\\", "ab", 0, 0},
        {"ending a longer literal", "*b\\", "ab\\", 0, 1},
        {"ending a set", "[a\\", "\\", 0, 1},
    };
    checkMatches(cases, std::size(cases));
}

TEST(PatternsMatchPattern, LongLiteralAfterStarIsSearchedWhole) {
    const std::string literal(70, 'x');
    const std::string pattern = "*" + literal;
    EXPECT_EQ(matchPattern(pattern.c_str(), ("abc" + literal).c_str(), 0), 1);
    // Differs only in the 66th byte of the literal: a cut at 64 would fit.
    std::string differs = "abc" + literal;
    differs[3 + 65] = 'y';
    EXPECT_EQ(matchPattern(pattern.c_str(), differs.c_str(), 0), 0);
    // The pattern goes on after the literal and must still be followed.
    EXPECT_EQ(matchPattern((pattern + "?z").c_str(), ("abc" + literal + "qz").c_str(), 0), 1);
    EXPECT_EQ(matchPattern((pattern + "?z").c_str(), ("abc" + literal + "qy").c_str(), 0), 0);

    const std::string huge(1000, 'k');
    EXPECT_EQ(matchPattern(("*" + huge).c_str(), ("K" + huge).c_str(), 1), 1);
}

TEST(PatternsMatchPattern, NullArguments) {
    EXPECT_EQ(matchPattern(nullptr, "anything", 0), 1);
    EXPECT_EQ(matchPattern(nullptr, nullptr, 1), 1);
    // A null text reads as empty.
    EXPECT_EQ(matchPattern("*", nullptr, 0), 1);
    EXPECT_EQ(matchPattern("a", nullptr, 0), 0);
}

TEST(PatternsIsSearchPattern, WildcardCharacters) {
    const struct {
        const char* text;
        int want;
    } cases[] = {
        {"a*", 1}, {"?", 1}, {"x[y", 1}, {"plain.txt", 0}, {"", 0}, {"a]\\", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isSearchPattern(c.text), c.want);
    }
    EXPECT_EQ(isSearchPattern(nullptr), 0);
}

TEST(PatternsParsePattern, LongestPieceBetweenWildcards) {
    const struct {
        const char* name;
        const char* pattern;
        const char* want;
    } cases[] = {
        {"no wildcard", "chapter", "chapter"},
        {"longest wins", "ab*cde?f", "cde"},
        {"tie, first wins", "ab*cd?ef", "ab"},
        {"tie after leading wildcards", "**xy?zw", "xy"},
        {"only wildcards", "*?**?", ""},
        {"empty", "", ""},
        {"sets and escapes are ordinary", "a*[bc]\\d", "[bc]\\d"},
        {"trailing piece longest", "?a*bcd", "bcd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parsePattern(c.pattern), c.want);
    }
    EXPECT_EQ(parsePattern(nullptr), "");
}

TEST(PatternsParsePattern, HasNoLengthLimit) {
    const std::string word(1000, 'w');
    auto pattern = exactCopy("*" + word + "?" + std::string(999, 'v'));
    EXPECT_EQ(parsePattern(pattern.get()), word);
    auto plain = exactCopy(word);
    EXPECT_EQ(parsePattern(plain.get()), word);
}

TEST(PatternsParsePattern, ResultOutlivesTheNextCall) {
    const std::string first = parsePattern("*first*");
    const std::string second = parsePattern("?second?");
    EXPECT_EQ(first, "first");
    EXPECT_EQ(second, "second");
}

TEST(PatternsIsDelimiter, WordBytesAreAsciiAlnumHashDashUnderscore) {
    for (int ch = 0; ch < 256; ++ch) {
        bool word = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                    ch == '#' || ch == '-' || ch == '_';
        SCOPED_TRACE(ch);
        EXPECT_EQ(isDelimiter(ch), word ? 0 : 1);
    }
    // A negative char is taken as its byte value.
    EXPECT_EQ(isDelimiter(static_cast<char>(0xE9)), 1);
}

}  // namespace
}  // namespace ruva
