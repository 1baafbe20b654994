#include <gtest/gtest.h>

#include <string>

#include "bmod/ruvaserv/output/htmloutput.h"

namespace ruva {
namespace {

// A writer without a channel: the highlighting helpers read no fields then.
struct BareFormat : KvoFormat {
    BareFormat() : KvoFormat(nullptr) {}
};

TEST(HtmlOutputSearch, FilterPattTurnsUserPatternsIntoOperators) {
    struct {
        const char* name;
        const char* in;
        int chkKwd;
        int hyphenCounter;
        const char* out;
    } const cases[] = {
        {"blank plus blank", "a + b", 0, 0, "a&b"},
        {"blank minus blank", "a - b", 0, 0, "a!b"},
        {"lone blank", "a b", 0, 0, "a&b"},
        {"blank star before word", "a *b", 0, 0, "a&b"},
        {"blank plus before word", "a +b", 0, 0, "a&b"},
        {"blank minus before word", "a -b", 0, 0, "a!b"},
        {"braces", "{x}", 0, 0, "&x&"},
        {"angle brackets and star", "<a*b>", 0, 0, "&a&b&"},
        {"underscore kept for a keyword hit", "a_b", 1, 0, "a_b"},
        {"underscore as slash when chkKwd is 2", "a_b", 2, 0, "a/b"},
        {"hyphen kept", "TCP-IP", 0, 0, "TCP-IP"},
        {"hyphen as AND with hyphenCounter", "TCP-IP", 0, 1, "TCP&IP"},
        {"trailing blank plus", "a +", 0, 0, "a&+"},
        {"empty", "", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareFormat f;
        f.row.chkKwd = c.chkKwd;
        f.row.hyphenCounter = c.hyphenCounter;
        EXPECT_EQ(f.filterPatt(c.in), c.out);
    }
    EXPECT_EQ(BareFormat().filterPatt(nullptr), "");
}

TEST(HtmlOutputSearch, PatternMarksTermsOnceAndLeavesEntitiesAndMarksAlone) {
    struct {
        const char* name;
        std::string text;
        std::string patt;
        int padCounter;
        std::string out;
    } const cases[] = {
        {"longer term first", "xabcx", "ab&abc", 0, "x<b>abc</b>x"},
        {"case blind, case kept", "Alpha beta", "ALPHA|Beta", 0, "<b>Alpha</b> <b>beta</b>"},
        {"marked span left alone", "<b>ab</b> ab", "ab", 0, "<b>ab</b> <b>ab</b>"},
        {"entity not split", "a &amp; amp", "amp", 0, "a &amp; <b>amp</b>"},
        {"phrase drops quotes and keeps blanks", "x a b y", "\"a b\"", 0, "x <b>a b</b> y"},
        {"blanks skipped in the identity", "1551-ABC 101 01 Uen", "ABC10101", 1, "1551-<b>ABC 101 01</b> Uen"},
        {"phrase never skips blanks", "ABC 101", "\"ABC101\"", 1, "ABC 101"},
        {"not operator splits terms", "a b", "a!b", 0, "<b>a</b> <b>b</b>"},
        {"no pattern", "abc", "", 0, "abc"},
        {"ampersand without semicolon is a character", "a & b", "b", 0, "a & <b>b</b>"},
        {"text ending in ampersand", "ab&", "b", 0, "a<b>b</b>&"},
        {"unclosed mark runs to the end", "x <b>ab", "ab", 0, "x <b>ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BareFormat f;
        f.row.PADcounter = c.padCounter;
        EXPECT_EQ(f.pattern(c.text.c_str(), c.patt.c_str()), c.out);
    }
}

TEST(HtmlOutputSearch, PatternKeepsItsTermLimits) {
    BareFormat f;
    // 51 terms: the 51st is not used.
    std::string patt;
    std::string text;
    for (int i = 0; i < 51; ++i) {
        const std::string term = "t" + std::to_string(100 + i);
        patt += (i ? "|" : "") + term;
        text += term + " ";
    }
    const std::string marked = f.pattern(text.c_str(), patt.c_str());
    EXPECT_NE(marked.find("<b>t149</b>"), std::string::npos);
    EXPECT_EQ(marked.find("<b>t150</b>"), std::string::npos);
    EXPECT_NE(marked.find("t150"), std::string::npos);

    // A 60-character term is cut to 49.
    const std::string longTerm(60, 'q');
    const std::string textQ = longTerm + "z";
    EXPECT_EQ(f.pattern(textQ.c_str(), longTerm.c_str()), "<b>" + std::string(49, 'q') + "</b>" + "qqqqqqqqqqqz");
}

TEST(HtmlOutputSearch, PatternStaysInsideHostileTexts) {
    BareFormat f;
    std::string tokens;
    for (int i = 0; i < 10000; ++i) tokens += "ab|";
    EXPECT_EQ(f.pattern(tokens.c_str(), "ab&b").size(), tokens.size() + 10000 * 7);
    const std::string manyTerms = tokens;  // 10,000 terms, 50 used
    EXPECT_EQ(f.pattern("xab", manyTerms.c_str()), "x<b>ab</b>");
    EXPECT_EQ(f.pattern("&", "&"), "&");
    EXPECT_EQ(f.pattern("a&", "&a"), "<b>a</b>&");
    EXPECT_EQ(f.pattern("<b>", "b"), "<b>");
    const std::string pa(3071, 'x');
    EXPECT_EQ(f.pattern(pa.c_str(), "x").size(), 3071u * 8);
    const std::string huge(20000, 'x');
    EXPECT_EQ(f.pattern(huge.c_str(), "x").size(), 131144u);  // the pass's cut
}

TEST(HtmlOutputSearch, ExtractTooltipGivesTheFolderPath) {
    struct {
        const char* name;
        std::string title;
        std::string out;
    } const cases[] = {
        {"path and name", "a b|Name", "Folder&nbsp;path:&nbsp;a&nbsp;b"},
        {"root", "|Name", "Folder&nbsp;path:&nbsp;/"},
        {"no bar", "Name", "Folder&nbsp;path:&nbsp;"},
        {"last bar counts", "a|b|Name", "Folder&nbsp;path:&nbsp;a|b"},
        {"markup escaped", "<x>\"|N", "Folder&nbsp;path:&nbsp;&lt;x&gt;&quot;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(extractTooltip(c.title.c_str()), c.out);
    }
    EXPECT_EQ(extractTooltip("a b|Name").size(), 31u);
    const std::string longPath = std::string(5000, 'p') + "|N";
    EXPECT_EQ(extractTooltip(longPath.c_str()).size(), 2000u);
    const std::string blanks = std::string(5000, ' ') + "|N";
    const std::string tip = extractTooltip(blanks.c_str());
    EXPECT_LE(tip.size(), 2000u);
    EXPECT_TRUE(tip.ends_with("&nbsp;"));  // no entity cut in half
}

}  // namespace
}  // namespace ruva
