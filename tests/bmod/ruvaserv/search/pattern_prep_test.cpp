#include "bmod/ruvaserv/search/pattern_prep.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "common/url_code.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

// EUC-JP bytes as python3 writes them: "...".encode("euc_jp").
const std::string kA = "\xa4\xa2";      // あ
const std::string kKan = "\xb4\xc1";    // 漢
const std::string kKa = "\xa5\xab";     // カ
const std::string kNa = "\xa5\xca";     // ナ
const std::string kComma = "\xa1\xa2";  // 、
const std::string kAlpha = "\xa6\xc1";  // α

// PA as the request parser stores it: what the search code really gets.
std::string throughRequest(std::string_view pattern) {
    test::CapturedRequest req;
    const std::string query = "PA=" + encodeLinkValue(pattern);
    EXPECT_EQ(req->parseCgiInput(query.c_str(), query.size(), '&'), 1);
    const Value* pa = req->valueList->findValue("PA");
    return pa != nullptr ? pa->value : "<no PA>";
}

std::string msg(int index, const char* tag) {
    return getMsgStr(index, tag);
}

// The expected text of a row, or its failure message.
struct Outcome {
    std::string text;
    std::string error;  // "" on success
};

Outcome ok(std::string text) {
    return {std::move(text), ""};
}
Outcome fails(int index, const char* tag) {
    return {"", msg(index, tag)};
}

template <class Op>
void expectOutcome(const Outcome& want, std::string pattern, Op op) {
    ErrorText error;
    const int result = op(pattern, error);
    if (want.error.empty()) {
        EXPECT_EQ(result, 1) << error.getError();
        EXPECT_EQ(pattern, want.text);
    } else {
        EXPECT_EQ(result, 0) << pattern;
        EXPECT_EQ(error.getError(), want.error);
    }
}

TEST(PatternPrep, CleanupJoinsWordsAndDropsStraySeparators) {
    const std::string a1020(1020, 'a');
    struct Case {
        const char* name;
        std::string pattern;
        CleanupMode mode;
        Outcome want;
        std::optional<Outcome> viaRequest = std::nullopt;  // when the stored field differs
    } const cases[] = {
        {"blank", "a b", {}, ok("a&b")},
        {"comma and blank", "a, b", {}, ok("a&b")},
        {"blank and comma", "a ,b", {}, ok("a&b")},
        {"not after blank", "a !b", {}, ok("a&!b")},
        {"not glued", "a!b", {}, ok("a&!b")},
        {"not after or", "a|!b", {}, ok("a|!b")},
        {"lone star", "*", {}, ok("")},
        {"stars between blanks", "a * b", {}, ok("a&b")},
        {"lone question marks", "a ?? b", {}, ok("a&b")},
        {"trailing star", "abc*", {}, ok("abc*")},
        {"star run", "ab***", {}, ok("ab*")},
        {"question marks stay", "a??", {}, ok("a??")},
        {"trailing and", "a&", {}, ok("a")},
        {"keyword blank", "a b", {true, false}, ok("a b")},
        {"keyword double blank", "a  b", {true, false}, ok("a b")},
        {"separator run", "a.,:b", {}, ok("a&b")},
        {"angle brackets", "a<b>c", {}, ok("a&b&c")},
        {"leading blanks", "  a b", {}, ok("a&b")},
        {"leading not dropped", "!a", {}, ok("a")},
        {"leading comma dropped", ",a", {}, ok("a")},
        {"leading not and blank", "! a", {}, ok("a")},
        {"no-break spaces", "a&nbsp;b", {}, ok("a&b")},
        {"no-break space without ampersand at start", "nbsp;a", {}, ok("a")},
        {"paren after star", "a*(b)", {}, ok("a*&(b)")},
        {"keyword paren after star", "a*(b)", {true, false}, ok("a*(b)")},
        {"phrase plus", "a+b", {false, true}, ok("a&b")},
        {"phrase plus beside operator", "a&+b", {false, true}, ok("a&b")},
        {"phrase plus first", "+ab", {false, true}, ok("ab")},
        {"phrase question mark last", "ab?", {false, true}, ok("ab")},
        {"phrase doubled and", "a& !b", {false, true}, ok("a&!b")},
        {"no phrase step in keyword mode", "a+b", {true, true}, ok("a+b")},
        {"without phrase doubled and stays", "a& !b", {}, ok("a&&!b")},
        {"EUC-JP symbol separates", kA + kComma + kKan, {}, ok(kA + "&" + kKan)},
        {"EUC-JP first character kept whole", kA + " " + kKan, {true, false}, ok(kA + " " + kKan)},
        {"1023 characters", "a!" + a1020, {}, ok("a&!" + a1020)},
        {"1024 characters", "a!" + a1020 + "a", {}, fails(97, "SearchFunctions/2")},
        {"two bytes at 1023", std::string(1023, 'x') + kA, {}, fails(97, "SearchFunctions/2")},
        {"two bytes up to 1023", std::string(1021, 'x') + kA, {}, ok(std::string(1021, 'x') + kA)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto cleanup = [&](std::string& p, ErrorText& e) { return srchPattCleanup(p, c.mode, e); };
        expectOutcome(c.want, c.pattern, cleanup);
        SCOPED_TRACE("through the request");
        expectOutcome(c.viaRequest.value_or(c.want), throughRequest(c.pattern), cleanup);
    }
    const std::string done = [&] {
        std::string p = "a!" + a1020;
        ErrorText e;
        srchPattCleanup(p, {}, e);
        return p;
    }();
    EXPECT_EQ(done.size(), 1023u);
    EXPECT_TRUE(done.starts_with("a&!a"));
}

TEST(PatternPrep, SyntaxCheckWantsBalancedParentheses) {
    struct Case {
        const char* pattern;
        bool valid;
    } const cases[] = {
        {"(a|b", false}, {"a)(", false}, {"(a)&(b)", true}, {"((a)|b)", true},
        {"a", true},     {"", true},     {"(a))", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (const std::string& pattern : {std::string(c.pattern), throughRequest(c.pattern)}) {
            ErrorText error;
            EXPECT_EQ(srchPattSyntaxChk(pattern, error), c.valid ? 1 : 0);
            EXPECT_EQ(error.getError(), c.valid ? "" : msg(98, nullptr));
        }
    }
}

TEST(PatternPrep, CompletionMarksWordEndsAndStarts) {
    struct Case {
        const char* name;
        std::string pattern;
        int whrAdd;
        Outcome want;
    } const cases[] = {
        {"ends", "abc def", 1, ok("abc* def*")},
        {"dash joins", "abc-def", 1, ok("abc-def*")},
        {"start and end", "abc", 0, ok("*abc*")},
        {"two words", "a b", 0, ok("*a* *b*")},
        {"star kept", "abc*", 0, ok("*abc*")},
        {"operators", "(a&b)", 0, ok("(*a*&*b*)")},
        {"or", "a|b", 1, ok("a*|b*")},
        {"dash before operator", "abc-&def", 1, ok("abc-*&def*")},
        {"quoted words", "\"Getting started\"", 1, ok("\"Getting* started*\"")},
        {"underscore joins", "a_b", 0, ok("*a_b*")},
        {"EUC-JP word", kA + kKan, 1, ok(kA + kKan + "*")},
        {"EUC-JP word start", kA + kKan, 0, ok("*" + kA + kKan + "*")},
        {"EUC-JP word end", kA + " b", 1, ok(kA + "* b*")},
        {"empty", "", 0, ok("")},
        {"1023 letters", std::string(1023, 'a'), 1, ok(std::string(1023, 'a') + "*")},
        {"1024 with start, no end", std::string(1023, 'a'), 0, ok("*" + std::string(1023, 'a'))},
        {"stops at 1024", std::string(1022, 'a') + " bc", 1, ok(std::string(1022, 'a') + "* ")},
        {"step past 1024", std::string(1022, 'a') + " b", 0, fails(97, "SearchFunctions/5")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto complete = [&](std::string& p, ErrorText& e) { return srchPattComplete(p, c.whrAdd, e); };
        expectOutcome(c.want, c.pattern, complete);
        SCOPED_TRACE("through the request");
        expectOutcome(c.want, throughRequest(c.pattern), complete);
    }
}

TEST(PatternPrep, PhrasePreparationTakesOuterQuotesOnly) {
    struct Case {
        const char* name;
        std::string pattern;
        Outcome want;
        uint32_t phrase;
        std::optional<Outcome> viaRequest = std::nullopt;
    } const cases[] = {
        {"phrase", "\"a b\"", ok("a b"), 1},
        {"one quote", "\"a", fails(98, nullptr), 1},
        {"plain", "a b", ok("a b"), 0},
        // The request escapes inner quotes: one quote is left.
        {"quotes inside", "a \"b c\"", ok("a b c"), 0, fails(98, nullptr)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t isPhrase = 7;
        const auto prepare = [&](std::string& p, ErrorText& e) {
            return preparePhraseSearch(p, isPhrase, e);
        };
        expectOutcome(c.want, c.pattern, prepare);
        EXPECT_EQ(isPhrase, c.phrase);
        SCOPED_TRACE("through the request");
        expectOutcome(c.viaRequest.value_or(c.want), throughRequest(c.pattern), prepare);
    }
}

TEST(PatternPrep, DocumentNumberRevision) {
    struct Case {
        const char* pattern;
        int marked;
        const char* rev;  // handleDocnoRev's pattern
        const char* url;  // completeDocnoInUrl's
    } const cases[] = {
        {"1551-ABC123 R1A", 1, "1551-ABC123*R1A", "1551-ABC123?R1A?"},
        {"1551 ABC 123", 0, "1551 ABC 123", "1551 ABC 123"},
        {"R1A", 0, "R1A", "R1A"},
        {"x R1A  ", 1, "x*R1A  ", "x?R1A  ?"},
        {" R1A", 1, "*R1A", "?R1A?"},
        {"", 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (std::string pattern : {std::string(c.pattern), throughRequest(c.pattern)}) {
            std::string url = pattern;
            EXPECT_EQ(handleDocnoRev(pattern), c.marked);
            EXPECT_EQ(pattern, c.rev);
            EXPECT_EQ(completeDocnoInUrl(url), 1);
            EXPECT_EQ(url, c.url);
        }
    }
}

TEST(PatternPrep, RemoveSpacesExceptLast) {
    struct Case {
        const char* pattern;
        const char* want;
    } const cases[] = {
        {"1551 ABC 123 R1A", "1551ABC123 R1A"},
        {" abc", " abc"},
        {"abc", "abc"},
        {" a b", "a b"},
        {"a  b", "a b"},
        {"ab ", "ab "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (std::string pattern : {std::string(c.pattern), throughRequest(c.pattern)}) {
            removeSpacesExceptLast(pattern);
            EXPECT_EQ(pattern, c.want);
        }
    }
}

TEST(PatternPrep, KeywordAlternativesWrittenOut) {
    struct Case {
        const char* pattern;
        const char* one;
        const char* two;
    } const cases[] = {
        {"a|b c", R"("*a c*" | "*b c*")", ""},
        {"x a|b", R"("*x a*" | "*x b*")", ""},
        {"x a|b c d", R"("*x a c d*" | "*x b c d*")", ""},
        {"a|b", "", ""},
        {"a|", "", ""},
        {"a b", "", ""},
        {"a|b c|d", R"("*a c|d*" | "*b c|d*")", R"("*a c*" | "*a d*" | "*b c*" | "*b d*")"},
        {"a|b c|d e", R"("*a c|d e*" | "*b c|d e*")", ""},
        {"a|b |d", R"("*a |d*" | "*b |d*")", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (const std::string& pattern : {std::string(c.pattern), throughRequest(c.pattern)}) {
            EXPECT_EQ(keywordProcessing_oneExpandableword(pattern), c.one);
            EXPECT_EQ(keywordProcessing_twoExpandablewords(pattern), c.two);
        }
    }
}

TEST(PatternPrep, JapaneseExpressionSplitsIntoTokens) {
    std::string hiragana16;
    for (int i = 0; i < 16; ++i) hiragana16 += std::string{'\xa4', static_cast<char>(0xa2 + 2 * i)};
    const std::string hiragana17 = hiragana16 + "\xa4\xc2";
    std::string joined16;
    std::vector<std::string> tokens16;
    for (size_t i = 0; i < hiragana16.size(); i += 2) {
        tokens16.push_back(hiragana16.substr(i, 2));
        joined16 += (i ? "&" : "") + tokens16.back();
    }
    struct Case {
        const char* name;
        std::string pattern;
        Outcome want;
        std::vector<std::string> tokens;
    } const cases[] = {
        {"classes",
         kA + kKan + "abc" + kKa + kNa + kAlpha,
         ok(kA + "&" + kKan + "&abc&" + kKa + kNa + "&" + kAlpha),
         {kA, kKan, "abc", kKa + kNa, kAlpha}},
        {"separators", "ab, cd" + kComma + "ef", ok("ab&cd&ef"), {"ab", "cd", "ef"}},
        {"63-byte tokens",
         std::string(64, 'a'),
         ok(std::string(63, 'a') + "&a"),
         {std::string(63, 'a'), "a"}},
        {"sixteen", hiragana16, ok(joined16), tokens16},
        {"seventeen", hiragana17, fails(88, "SearchFunctions/6"), {}},
        {"nothing", ", ", ok(""), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::string& input : {c.pattern, throughRequest(c.pattern)}) {
            std::vector<std::string> tokens{"old"};
            const auto split = [&](std::string& p, ErrorText& e) {
                return processJapaneseFulltextExpression(p, tokens, e);
            };
            expectOutcome(c.want, input, split);
            if (c.want.error.empty()) {
                EXPECT_EQ(tokens, c.tokens);
            }
        }
    }
}

}  // namespace
}  // namespace ruva
