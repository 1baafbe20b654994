#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"

extern char** environ;

namespace ruva {
namespace {

constexpr size_t npos = std::string_view::npos;

// The pair main starts with, and the hit anchors.
const std::string kMarkOn = "<font style=\"background-color:#ffeeaa\">";
const std::string kMarkOff = "</font>";

std::string hitAnchor(unsigned n) {
    return "<a name=\"SearchMatch" + std::to_string(n) + "\" class=\"csm\">";
}

std::string emptyAnchor(unsigned n) {
    return hitAnchor(n) + "</a>";
}

std::unique_ptr<CgiHandler> makeRequest() {
    auto cg = newCgiHandler(kKivoservFlags, environ);
    cg->searchHighLight = kMarkOn;
    cg->searchNormal = kMarkOff;
    return cg;
}

TEST(SearchTermText, WildcardSearchFindsItsPlace) {
    struct Case {
        const char* searchee;
        const char* lookfor;
        size_t at;
    };
    const Case cases[] = {
        {"a1", "a?", 0},
        {"ab", "a?", 0},
        {"xa", "a?", 1},  // a final '?' also takes the end of the text
        {"a-", "a?", npos},
        {"a ", "a?", npos},
        {"a\t", "a?", npos},
        {"a\xE9", "a?", 0},  // bytes from 128 up are no punctuation
        {"ab", "a?c", npos},  // only a final '?' takes the end
        {"x.a", "?a", npos},
        {"xxABC", "abc", 2},
        {"xxabc", "ABC", 2},
        {"\xE9x", "\xC9X", npos},  // no Latin-1 folding: EUC-JP bytes stay apart
        {"abc", "", 0},
        {"", "", 0},
        {"", "a", npos},
        {"", "?", npos},
        {"ab", "abc", npos},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.searchee) + " / " + c.lookfor);
        EXPECT_EQ(strncasewildstr(c.searchee, c.lookfor), c.at);
    }
}

TEST(SearchTermText, WildcardCompareOfTheTextStart) {
    struct Case {
        const char* srcwild;
        const char* src;
        bool begins;
    };
    const Case cases[] = {
        {"FOO", "foobar", true},
        {"foo", "FOOBAR", true},
        {"FOO", "fo", false},
        {"FOO", "fox", false},
        {"F?O", "fxo", true},
        {"F?O", "F-O", true},
        {"f?o", "fxo", false},  // with '?' the pattern is taken as upper case
        {"\xE9X", "\xE9x", true},
        {"\xC9X", "\xE9x", false},  // bytes from 128 up compare as they stand
        {"", "abc", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.srcwild) + " / " + c.src);
        EXPECT_EQ(strncasewildcmp(c.srcwild, c.src) == 0, c.begins);
    }
}

TEST(SearchTermText, NegatedWordsAreDropped) {
    struct Case {
        const char* pattern;
        const char* filtered;
    };
    const Case cases[] = {
        {"a !b c", "a  c"},
        {"!x", ""},
        {"a!", "a"},
        {"!!x y", " y"},
        {"a !b,c", "a ,c"},
        {"x !*y? z", "x  z"},  // '*' and '?' are part of the dropped word
        {"a!b!c d", "a d"},
        {"plain words", "plain words"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(filterNotWords(c.pattern), c.filtered);
    }
}

TEST(SearchTermText, ReAllocKeepsTheLeadingBytes) {
    auto cg = makeRequest();
    std::string buffer = "abcdef";
    ASSERT_EQ(reAlloc(*cg, buffer, 1000, buffer.size()), 1);
    EXPECT_EQ(buffer, "abcdef");
    EXPECT_GE(buffer.capacity(), 1000u);
    ASSERT_EQ(reAlloc(*cg, buffer, 3, buffer.size()), 1);
    EXPECT_EQ(buffer, "abc");
    ASSERT_EQ(reAlloc(*cg, buffer, 3, 3), 1);
    EXPECT_EQ(buffer, "abc");
    EXPECT_EQ(cg->getError(), "");
}

TEST(SearchTermText, ReAllocBeyondMemoryIsMessage211) {
    auto cg = makeRequest();
    std::string buffer = "abc";
    const size_t tooBig = buffer.max_size() + 1;
    EXPECT_EQ(reAlloc(*cg, buffer, tooBig, buffer.size()), 0);
    EXPECT_EQ(buffer, "abc");
    EXPECT_THAT(cg->getError(), ::testing::HasSubstr("Failed to map " + std::to_string(tooBig) + " bytes"));
    EXPECT_THAT(cg->getError(), ::testing::HasSubstr("cgihandler/15.5"));
}

// ---- one hit region of the pass

class HitRegion : public ::testing::Test {
protected:
    void SetUp() override {
        cg = makeRequest();
        ASSERT_TRUE(cg->allocDstBuf(4096));
        cg->beginDstPass();
    }
    void TearDown() override {
        cg->endDstPass();
        cg->freeDstBuf();
    }

    // text is appended to the output; the hit starts at its first
    // occurrence of hitText and the region runs to the end. Gives the whole
    // output after the call.
    std::string mark(const std::string& text, std::string_view hitText, std::vector<std::string_view> patterns,
                     bool inA = false) {
        const size_t base = cg->dstOffs;
        EXPECT_TRUE(cg->dstWriteBuf(text));
        EXPECT_NE(text.find(hitText), std::string::npos);
        const size_t at = base + text.find(hitText);
        paState = static_cast<int>(hitText.size());
        size_t doffs = at + hitText.size() - 1;
        EXPECT_EQ(cg->patternPostProcess(paState, count, inA, doffs, patterns), 1);
        EXPECT_EQ(doffs, at + hitText.size() - 1);
        return std::string(cg->dstBuf, cg->dstOffs);
    }

    std::unique_ptr<CgiHandler> cg;
    int paState = 0;
    unsigned count = 0;
};

TEST_F(HitRegion, HitIsColouredAndAnchored) {
    // Without ST the words are coloured as for any search.
    EXPECT_EQ(mark("<p>see foo. ", "foo", {"FOO"}),
              "<p>see " + kMarkOn + hitAnchor(1) + "foo</a>" + kMarkOff + ". ");
    EXPECT_EQ(paState, 3);
    EXPECT_EQ(count, 1u);
}

TEST_F(HitRegion, CounterGoesOnFromTheCaller) {
    count = 4;
    EXPECT_EQ(mark("foo ", "foo", {"FOO"}), kMarkOn + hitAnchor(5) + "foo</a>" + kMarkOff + " ");
    EXPECT_EQ(count, 5u);
}

TEST_F(HitRegion, InstantSearchGetsAnchorWithoutColour) {
    cg->valueList->addValue("ST", "instant");
    EXPECT_EQ(mark("see foo. ", "foo", {"FOO"}), "see " + hitAnchor(1) + "foo</a>. ");
    EXPECT_EQ(count, 1u);
}

TEST_F(HitRegion, NoColourWithoutHighlightString) {
    cg->searchHighLight.clear();
    EXPECT_EQ(mark("see foo. ", "foo", {"FOO"}), "see " + hitAnchor(1) + "foo</a>. ");
}

TEST_F(HitRegion, HitInsideLinkGetsEmptyAnchorBeforeIt) {
    EXPECT_EQ(mark("<p><A href=\"x.html\">the foo. ", "foo", {"FOO"}, true),
              "<p>" + emptyAnchor(1) + "<A href=\"x.html\">the " + kMarkOn + "foo" + kMarkOff + ". ");
    EXPECT_EQ(count, 1u);
}

TEST_F(HitRegion, LinkBeyondLookBackGetsNoAnchor) {
    const std::string text = "<a href=\"x\">" + std::string(400, 'x') + " foo ";
    const std::string before = text.substr(0, text.find("foo"));
    EXPECT_EQ(mark(text, "foo", {"FOO"}, true), before + kMarkOn + "foo" + kMarkOff + " ");
    EXPECT_EQ(count, 0u);
}

TEST_F(HitRegion, WordSplitByTagIsWrittenBack) {
    EXPECT_EQ(mark("x a<b>bc ", "a<b>bc", {"ABC"}), "x a<b>bc ");
    EXPECT_EQ(paState, 0);
    EXPECT_EQ(count, 0u);
}

TEST_F(HitRegion, OccurrenceInsideTagIsPassedOver) {
    EXPECT_EQ(mark("foo\" title=\"x\">", "foo", {"FOO"}), "foo\" title=\"x\">");
    EXPECT_EQ(paState, 0);
    EXPECT_EQ(mark("|foo\">bar foo.", "foo", {"FOO"}), "foo\" title=\"x\">|foo\">bar " + hitAnchor(1) + "foo</a>.");
    EXPECT_EQ(paState, 0);
    EXPECT_EQ(count, 1u);
}

TEST_F(HitRegion, PatternsOutOfOrderLeaveTheRegion) {
    EXPECT_EQ(mark("bar foo ", "bar foo", {"FOO", "BAR"}), "bar foo ");
    EXPECT_EQ(paState, 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(mark("|foo x ", "foo", {"FOO", "BAR"}), "bar foo |foo x ");
    EXPECT_EQ(paState, 0);
}

TEST_F(HitRegion, HandedOverHitSkipsTheOrderCheck) {
    cg->flags |= kCgiHitHandedOver;
    EXPECT_EQ(mark("bar foo ", "bar foo", {"FOO", "BAR"}),
              kMarkOn + "bar" + kMarkOff + " " + kMarkOn + hitAnchor(1) + "foo</a>" + kMarkOff + " ");
    EXPECT_EQ(count, 1u);
}

TEST_F(HitRegion, PatternsInOrderAreAllColoured) {
    EXPECT_EQ(mark("foo and bar ", "foo", {"FOO", "BAR"}),
              kMarkOn + hitAnchor(1) + "foo</a>" + kMarkOff + " and " + kMarkOn + "bar" + kMarkOff + " ");
}

TEST_F(HitRegion, LongConfiguredPairWithTwoPatterns) {
    // A short region with a pair this long overran a fixed work area.
    cg->searchHighLight = "<span class=\"" + std::string(80, 'h') + "\">";
    cg->searchNormal = "</span><span class=\"" + std::string(60, 'n') + "\"></span>";
    ASSERT_GE(cg->searchHighLight.size() + cg->searchNormal.size(), 160u);
    const std::string tail(240, '.');
    EXPECT_EQ(mark("foo and bar" + tail, "foo", {"FOO", "BAR"}),
              cg->searchHighLight + hitAnchor(1) + "foo</a>" + cg->searchNormal + " and " + cg->searchHighLight +
                  "bar" + cg->searchNormal + tail);
}

TEST_F(HitRegion, RegionThatIsNotThereIsLeftAlone) {
    ASSERT_TRUE(cg->dstWriteBuf("abc foo"));
    struct Case {
        const char* name;
        int paState;
        size_t doffs;
    };
    const Case cases[] = {
        {"no match in progress", 0, 6},
        {"start before the output", 9, 6},
        {"start past the output", 1, 8},
    };
    std::string_view patterns[] = {"FOO"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        paState = c.paState;
        size_t doffs = c.doffs;
        EXPECT_EQ(cg->patternPostProcess(paState, count, false, doffs, patterns), 1);
        EXPECT_EQ(std::string(cg->dstBuf, cg->dstOffs), "abc foo");
        EXPECT_EQ(paState, 0);
    }
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace ruva
