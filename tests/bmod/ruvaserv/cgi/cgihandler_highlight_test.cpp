#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
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

// ---- phrase highlighting

// The page in a heap block of exactly its size: ASan reports any read past
// its end.
std::string phraseMarked(std::string_view page, std::string_view pattern, std::string_view searchMatch = "SearchMatch") {
    auto cg = makeRequest();
    std::unique_ptr<char[]> block(new char[page.size()]);
    std::copy(page.begin(), page.end(), block.get());
    std::string result = "left over";
    EXPECT_EQ(cg->patternHighlight({block.get(), page.size()}, pattern, "{", "}", searchMatch, result), 1);
    EXPECT_EQ(cg->getError(), "");
    return result;
}

TEST(PhraseHighlight, MarksThePhraseWhereItStands) {
    const std::string a1 = emptyAnchor(1);
    const std::string a2 = emptyAnchor(2);
    struct Case {
        const char* name;
        std::string page;
        const char* pattern;
        std::string marked;
    };
    const Case cases[] = {
        // Each '>' within the match closes the mark and opens it again;
        // a '<' that follows within the match closes it before the tag.
        {"words split by bold tags", "<body>one<b>two</b>three.</body></html>", "\"one two three\"",
         "<body>" + a1 + "{one<b>}{two}</b>}{three}.</body></html>"},
        {"across a line end", "<p>two\nwords</p></html>", "\"two words\"", "<p>" + a1 + "{two\nwords}</p></html>"},
        {"across &nbsp;", "<p>two&nbsp;words</p></html>", "\"two words\"",
         "<p>" + a1 + "{two&nbsp;words}</p></html>"},
        {"a run of blanks and tags is one blank", "two <br/>\n words</HTML>", "\"two words\"",
         a1 + "{two <br/>}{\n words}</HTML>"},
        {"every occurrence, case-blind", "two words, Two Words.</html>", "\"two words\"",
         a1 + "{two words}, " + a2 + "{Two Words}.</html>"},
        {"one word", "the installation guide</html>", "\"installation\"", "the " + a1 + "{installation} guide</html>"},
        {"no closing quote", "two words</html>", "\"two words", a1 + "{two words}</html>"},
        {"in a script", "<script>s='two words';</script>two words</html>", "\"two words\"",
         "<script>s='two words';</script>" + a1 + "{two words}</html>"},
        {"in the title", "<head><title>two words</title></head><body>x</body></html>", "\"two words\"",
         "<head><title>two words</title></head><body>x</body></html>"},
        {"in an attribute", "<img alt=\"two words\"/></html>", "\"two words\"", "<img alt=\"two words\"/></html>"},
        {"in an entity", "R&amp;D amp</html>", "\"amp\"", "R&amp;D " + a1 + "{amp}</html>"},
        {"in &nbsp;", "a&nbsp;nbsp</html>", "\"nbsp\"", "a&nbsp;" + a1 + "{nbsp}</html>"},
        {"after a bare ampersand", "R&D: two words</html>", "\"two words\"", "R&D: " + a1 + "{two words}</html>"},
        {"inside a link", "<p><a href=\"x.html\">see two words</a></p></html>", "\"two words\"",
         "<p>" + a1 + "<a href=\"x.html\">see {two words}</a></p></html>"},
        {"twice in one link", "<a href=x>two words or two words</a></html>", "\"two words\"",
         a1 + "<a href=x>{two words}" + a2 + " or {two words}</a></html>"},
        {"after a closed link", "<a href=x>y</a> two words</html>", "\"two words\"",
         "<a href=x>y</a> " + a1 + "{two words}</html>"},
        {"after the context menu", "two words<ul class='context-menu' id='m'><li>two words</li></ul></html>",
         "\"two words\"", a1 + "{two words}<ul class='context-menu' id='m'><li>two words</li></ul></html>"},
        {"before the body marker", "<head>two words</head><!--@BODY-->two words</html>", "\"two words\"",
         "<head>two words</head><!--@BODY-->" + a1 + "{two words}</html>"},
        {"after a head script without a body marker",
         "<head><script>x<1</script></head><body>two words</body></html>", "\"two words\"",
         "<head><script>x<1</script></head><body>" + a1 + "{two words}</body></html>"},
        {"first word runs on", "twofold words</html>", "\"two words\"", "twofold words</html>"},
        {"last word runs on", "two wordsmith</html>", "\"two words\"", "two wordsmith</html>"},
        {"word begins inside another", "xtwo words</html>", "\"two words\"", "xtwo words</html>"},
        {"words apart", "two, words</html>", "\"two words\"", "two, words</html>"},
        {"overlapping occurrences", "a a a</html>", "\"a a\"", a1 + "{a a} a</html>"},
        {"leading separators found", "x $(two y</html>", "\"$(two\"", "x " + a1 + "{$(two} y</html>"},
        {"leading separator missing", "x (two y</html>", "\"$(two\"", "x (two y</html>"},
        {"leading blank without blank before", "x(two</html>", "\" (two\"", "x(two</html>"},
        {"leading blank matched", "x (two</html>", "\" (two\"", "x" + a1 + "{ (two}</html>"},
        {"two leading separators are not checked", "x two</html>", "\"(two\"", "x " + a1 + "{two}</html>"},
        {"empty phrase", "two words</html>", "\"\"", "two words</html>"},
        {"blank phrase", "two words</html>", "\"  \"", "two words</html>"},
        {"empty pattern", "two words</html>", "", "two words</html>"},
        {"no end of page", "<p>two words</p>", "\"two words\"", "<p>two words</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(phraseMarked(c.page, c.pattern), c.marked);
    }
}

TEST(PhraseHighlight, WithoutAnchorNameOnlyTheMarks) {
    EXPECT_EQ(phraseMarked("two words</html>", "\"two words\"", ""), "{two words}</html>");
}

TEST(PhraseHighlight, ManyOccurrencesAreNumberedInOrder) {
    std::string page, marked;
    for (unsigned i = 1; i <= 3000; ++i) {
        page += "<p>one <b>two</b></p>\n";
        marked += "<p>" + emptyAnchor(i) + "{one <b>}{two}</b></p>\n";
    }
    EXPECT_EQ(phraseMarked(page + "</html>", "\"one two\""), marked + "</html>");
}

// Whatever the page, the marks only add: without them the result is the
// page, and the anchors count 1, 2, ... in page order.
TEST(PhraseHighlight, MarksOnlyAddToThePage) {
    const char* pieces[] = {"two", "words", "Two", " ", "two words", " two ", "$(two ", " amp ", "\n", "&nbsp;", "<b>", "</b>", "<a href=x>", "</a>",
                            "&amp;", "&", ";", "<script>", "</script>", "<title>", "</title>", "x", "-", "(",
                            "$", ">", "<", "<!--@BODY-->", "\xE9"};
    const char* patterns[] = {"\"two words\"", "\"two\"", "\"$(two\"", "\" (two words\"", "\"words two\"",
                              "\"amp\""};
    std::mt19937 random(24);
    unsigned marked = 0;
    for (int round = 0; round < 400; ++round) {
        std::string page;
        const int count = 1 + static_cast<int>(random() % 60);
        for (int i = 0; i < count; ++i) page += pieces[random() % std::size(pieces)];
        page += random() % 4 ? "</html>" : "";
        const char* pattern = patterns[random() % std::size(patterns)];
        SCOPED_TRACE(page + " / " + pattern);

        auto cg = makeRequest();
        std::string result;
        ASSERT_EQ(cg->patternHighlight(page, pattern, "\x01", "\x02", "SearchMatch", result), 1);
        std::string plain;
        unsigned anchors = 0;
        for (size_t i = 0; i < result.size();) {
            const std::string anchor = emptyAnchor(anchors + 1);
            if (result.compare(i, anchor.size(), anchor) == 0) {
                ++anchors;
                i += anchor.size();
            } else {
                if (result[i] != '\x01' && result[i] != '\x02') plain += result[i];
                ++i;
            }
        }
        EXPECT_EQ(plain, page);
        EXPECT_EQ(result.find("SearchMatch" + std::to_string(anchors + 1)), std::string::npos);
        marked += anchors;
    }
    EXPECT_GT(marked, 100u);
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
