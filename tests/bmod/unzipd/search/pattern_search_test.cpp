#include "bmod/unzipd/search/pattern_search.h"

#include <gtest/gtest.h>
#include <string.h>

#include <cstring>
#include <random>
#include <string>

#include "common/patterns.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

uint32_t htmlSearch(const std::string& text, const std::string& pattern, int chkTags = kSearchPlain,
                    const char* tokens = "") {
    auto se = newSearch(kSearchHtml);
    EXPECT_EQ(se->setPattern(pattern.c_str(), pattern.size()), 1) << pattern;
    // An exact copy: a read past the text's end is an AddressSanitizer report.
    auto copy = test::exactCopy(text);
    return se->search(copy.get(), text.size(), chkTags, tokens);
}

uint32_t htmlIdretrive(const std::string& text, const std::string& pattern, int docType) {
    auto se = newSearch(kSearchHtml);
    EXPECT_EQ(se->setPattern(pattern.c_str(), pattern.size()), 1) << pattern;
    auto copy = test::exactCopy(text);
    return se->idretrive(copy.get(), text.size(), docType);
}

// The first occurrence by memmem, as Search reports it.
uint32_t viaMemmem(const std::string& text, const std::string& literal) {
    const void* hit = memmem(text.data(), text.size(), literal.data(), literal.size());
    return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - text.data()) : kSearchNotFound;
}

TEST(Search, PlainModeAgreesWithMemmem) {
    std::mt19937 rng(20261210);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int round = 0; round < 10000; ++round) {
        // Small alphabets give many near misses; every 10th text repeats one byte.
        const std::string alphabet = round % 3 == 0   ? "ab"
                                     : round % 3 == 1 ? "abc\n"
                                                      : std::string("xyz\0\xe9", 5);
        std::string text(pick(300), 'a');
        if (round % 10 != 0) {
            for (char& c : text) c = alphabet[pick(alphabet.size())];
        }
        // Some patterns are longer than their text.
        std::string pattern(1 + pick(round % 50 == 0 ? 400 : 12), 'a');
        for (char& c : pattern) c = round % 10 == 0 ? 'a' : "abcxyz"[pick(6)];
        if (round % 7 == 0) pattern[pick(pattern.size())] = round % 2 ? '*' : '?';

        SCOPED_TRACE(testing::Message()
                     << "round " << round << " text \"" << text << "\" pattern \"" << pattern << "\"");
        auto se = newSearch(0);
        std::string literal =
            pattern.find_first_of("*?") == std::string::npos ? pattern : parsePattern(pattern.c_str());
        if (literal.size() > kSearchPatternMax) literal.resize(kSearchPatternMax);
        const int set = se->setPattern(pattern.c_str(), pattern.size());
        auto copy = test::exactCopy(text);
        if (literal.empty()) {
            EXPECT_EQ(set, 0);
            EXPECT_EQ(se->search(copy.get(), text.size(), kSearchPlain, ""), kSearchNoPattern);
            continue;
        }
        ASSERT_EQ(set, 1);
        EXPECT_EQ(se->search(copy.get(), text.size(), kSearchPlain, ""), viaMemmem(text, literal));
        EXPECT_EQ(se->idretrive(copy.get(), text.size(), 1), viaMemmem(text, literal));
    }
}

TEST(Search, WithoutPatternGivesNoPattern) {
    auto se = newSearch(kSearchHtml);
    EXPECT_EQ(se->search("text", 4, kSearchPlain, ""), kSearchNoPattern);
    EXPECT_EQ(se->idretrive("text", 4, 1), kSearchNoPattern);
    EXPECT_EQ(se->setPattern(nullptr, 3), 0);
    EXPECT_EQ(se->setPattern("abc", 0), 0);
    EXPECT_EQ(se->setPattern("*?*", 3), 0);  // no literal piece
    EXPECT_EQ(se->search("text", 4, kSearchPlain, ""), kSearchNoPattern);
    ASSERT_EQ(se->setPattern("text", 4), 1);
    EXPECT_EQ(se->search("te", 2, kSearchPlain, ""), kSearchNotFound);  // shorter than the pattern
    EXPECT_EQ(se->search(nullptr, 0, kSearchPlain, ""), kSearchNotFound);
}

TEST(Search, HtmlModeTable) {
    const struct {
        const char* name;
        std::string text;
        const char* pattern;
        uint32_t want;
    } cases[] = {
        {"only inside a tag", R"(<a href="cat.html">dog</a>)", "cat", kSearchNotFound},
        {"outside the tag", R"(<a href="x.html">cat</a>)", "cat", 17},
        {"inside a word", "concatenate", "cat", kSearchNotFound},
        {"a word before a full stop", "a cat.", "cat", 2},
        {"at the start", "cat and dog", "cat", 0},
        {"at the end", "the cat", "cat", 4},
        {"rejected, then a valid one", "concatenate the cat", "cat", 16},
        {"case-blind", "The CAT sat", "cat", 4},
        {"Latin-1 case-blind", "l'\xC9T\xC9 chaud", "\xE9t\xE9", 2},
        {"line feed as a blank", "big\ncat", "big cat", 0},
        {"entity text", "Caf&eacute; au lait", "eacute", kSearchNotFound},
        {"after an entity", "Tom &amp; cat", "cat", 10},
        {"bare & ends the search", "a & b cat", "cat", kSearchNotFound},
        {"& inside a tag", R"(<a href="?a=1&b=2">cat</a>)", "cat", 19},
        {"bare & inside a tag", R"(<a href="?a&b">cat</a>)", "cat", 15},
        {"bare & after the hit", "cat & dog", "cat", 0},
        {"a tag after an entity", "a &amp; <b>cat</b>", "cat", 11},
        {"an entity, then the pattern in a tag", R"(&lt;<i title="cat">dog</i> cat)", "cat", 27},
        {"the entity ends past the match", "x &cat dog; cat", "cat", 12},
        {"wildcard word start", "the Network returns", "net*", 4},
        {"wildcard word must fit", "the internet returns", "net*", kSearchNotFound},
        {"wildcard with ?", "a coat, a cat", "c?t", 10},
        {"wildcard after a rejected word", "internet network", "net*", 9},
        {"wildcard word inside a tag", R"(<b class="network">x</b> nets)", "net*", 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(htmlSearch(c.text, c.pattern), c.want);
    }
}

TEST(Search, AnchorTable) {
    const struct {
        const char* name;
        std::string text;
        const char* pattern;
        int chkTags;
        const char* tokens;
        uint32_t want;
    } cases[] = {
        {"keyword anchor", R"(<a name="KW:foo">)", "foo*", kSearchKeywordAnchor, "foo", 12},
        {"keyword anchor, literal pattern", R"(<a name="KW:foo">)", "foo", kSearchKeywordAnchor, "foo",
         kSearchNotFound},
        {"empty anchor, literal pattern", R"(<a name="KW:">foo)", "foo", kSearchKeywordAnchor, "", 12},
        {"keyword prefix case-blind", R"(<A NAME="kw:Foo">)", "foo*", kSearchKeywordAnchor, "FOO", 12},
        {"tokens differ", R"(<a name="KW:foo">)", "foo*", kSearchKeywordAnchor, "bar", kSearchNotFound},
        {"not a name anchor", R"(<a href="KW:foo">)", "foo*", kSearchKeywordAnchor, "foo", kSearchNotFound},
        {"anchor text must fit", R"(<a name="KW:xfoo">)", "foo*", kSearchKeywordAnchor, "", kSearchNotFound},
        {"second anchor", R"(<a name="KW:bar"> <a name="KW:food">)", "foo*", kSearchKeywordAnchor, "foo", 30},
        {"chapter anchor", R"(<a name="CHAPTER3">)", "3*", kSearchChapterAnchor, "3", 16},
        {"chapter anchor, dotted", R"(x <a name="CHAPTER3.1">)", "3.1*", kSearchChapterAnchor, "3.1", 18},
        {"chapter prefix is exact", R"(<a name="chapter3">)", "3*", kSearchChapterAnchor, "3",
         kSearchNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(htmlSearch(c.text, c.pattern, c.chkTags, c.tokens), c.want);
    }
}

TEST(Search, IdretriveTable) {
    const struct {
        const char* name;
        std::string text;
        const char* pattern;
        int docType;
        uint32_t want;
    } cases[] = {
        {"id", R"(<p id="x">)", "x", 1, 7},
        {"name anchor", R"(<a name="x">)", "x", 0, 9},
        {"id wanted, anchor given", R"(<a name="x">)", "x", 1, kSearchNotFound},
        {"anchor wanted, id given", R"(<p id="x">)", "x", 0, kSearchNotFound},
        {"other attribute", R"(<p class="x">)", "x", 1, kSearchNotFound},
        {"case-blind", R"(<P ID="X">)", "x", 1, 7},
        {"literal: the value's start", R"(<p id="xyz">)", "y", 1, 7},
        {"wildcard fits the value", R"(<div id="section2">)", "sec*", 1, 9},
        {"wildcard must fit the whole value", R"(<div id="subsection">)", "sec*", 1, kSearchNotFound},
        {"second element", R"(<p class="x"><p id="ax">)", "x", 1, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(htmlIdretrive(c.text, c.pattern, c.docType), c.want);
    }
}

// Every full match in a run without delimiters, colons or quotes is
// rejected; each must cost constant time, not a rescan of the run.
TEST(Search, RejectedMatchesCostNoRescans) {
    const std::string run(1 << 20, 'a');
    EXPECT_EQ(htmlSearch(run, "a*z"), kSearchNotFound);
    EXPECT_EQ(htmlSearch(run, "a"), kSearchNotFound);
    EXPECT_EQ(htmlSearch(run, "a*", kSearchKeywordAnchor, ""), kSearchNotFound);
    EXPECT_EQ(htmlSearch(run, "a*", kSearchChapterAnchor, ""), kSearchNotFound);
    EXPECT_EQ(htmlIdretrive(run, "a", 1), kSearchNotFound);
    EXPECT_EQ(htmlIdretrive(run, "a*z", 1), kSearchNotFound);
    // Anchors and values that all fail.
    std::string marks;
    while (marks.size() < (1 << 20)) marks += "a:\"a";
    EXPECT_EQ(htmlSearch(marks, "a*z", kSearchKeywordAnchor, ""), kSearchNotFound);
    EXPECT_EQ(htmlIdretrive(marks, "a*z", 1), kSearchNotFound);
    // A rejected wildcard word next to one that fits.
    EXPECT_EQ(htmlSearch(run + " az", "a*z"), run.size() + 1);
}

// Member text is not NUL-ended: each text here ends a page, and nothing
// after it can be read.
TEST(Search, NothingIsReadPastTheText) {
    constexpr int kIdValue = 3, kNameValue = 4;  // idretrive, docType 1 and 0
    const struct {
        const char* name;
        std::string text;
        const char* pattern;
        int mode;  // chkTags of search, or an idretrive mode
        const char* tokens;
        uint32_t want;
    } cases[] = {
        {"hit at the very end", "a cat", "cat", kSearchPlain, "", 2},
        {"no hit, pattern's last byte at the end", "a ca", "cat", kSearchPlain, "", kSearchNotFound},
        {"entity open at the end", "x &amp cat", "cat", kSearchPlain, "", kSearchNotFound},
        {"tag open at the end", "x <b cat", "cat", kSearchPlain, "", kSearchNotFound},
        {"wildcard word to the end", "x network", "net*", kSearchPlain, "", 2},
        {"anchor text to the end", R"(<a name="KW:foo)", "foo*", kSearchKeywordAnchor, "foo", 12},
        {"tokens longer than the rest", R"(<a name="KW:fo)", "fo*", kSearchKeywordAnchor, "foo",
         kSearchNotFound},
        {"chapter anchor to the end", R"(<a name="CHAPTER3)", "3*", kSearchChapterAnchor, "3", 16},
        {"id value to the end", R"(<p id="sec)", "sec*", kIdValue, "", 7},
        {"name value at the end", R"(<a name="x)", "x", kNameValue, "", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::PageEndText text(c.text);
        auto se = newSearch(kSearchHtml);
        ASSERT_EQ(se->setPattern(c.pattern, std::strlen(c.pattern)), 1);
        const uint32_t got = c.mode == kIdValue     ? se->idretrive(text.data(), text.size(), 1)
                             : c.mode == kNameValue ? se->idretrive(text.data(), text.size(), 0)
                                                    : se->search(text.data(), text.size(), c.mode, c.tokens);
        EXPECT_EQ(got, c.want);
        auto plain = newSearch(0);
        ASSERT_EQ(plain->setPattern(c.pattern, std::strlen(c.pattern)), 1);
        plain->search(text.data(), text.size(), kSearchPlain, "");
    }
}

TEST(Search, LongPatternsAreCutNotWrapped) {
    std::string text(100, 'x');
    const std::string body(300, 'p');
    text += body + "x";
    for (size_t len : {255u, 256u}) {
        SCOPED_TRACE(len);
        auto se = newSearch(0);
        ASSERT_EQ(se->setPattern(body.c_str(), len), 1);
        EXPECT_EQ(se->search(text.c_str(), text.size(), kSearchPlain, ""), 100u);
    }
    // Wrapped modulo 256, this would be the one-character pattern "q".
    const std::string longOne = "q" + std::string(256, 'r');
    auto se = newSearch(kSearchHtml);
    ASSERT_EQ(se->setPattern(longOne.c_str(), longOne.size()), 1);
    EXPECT_EQ(se->search("a q b", 5, kSearchPlain, ""), kSearchNotFound);

    // A 300-character wildcard pattern whose literal piece is cut to 255.
    const std::string wild = std::string(300, 'a') + "*";
    EXPECT_EQ(htmlSearch("x " + std::string(300, 'a') + "bc y", wild), 2u);
    EXPECT_EQ(htmlSearch("x " + std::string(299, 'a') + "bc y", wild), kSearchNotFound);
    const std::string twoPieces = std::string(150, 'a') + "*" + std::string(149, 'b');
    EXPECT_EQ(htmlSearch(std::string(150, 'a') + "c" + std::string(149, 'b'), twoPieces), 0u);
}

TEST(Search, WildcardPatternIsProcessWide) {
    auto first = newSearch(kSearchHtml);
    ASSERT_EQ(first->setPattern("net*", 4), 1);
    EXPECT_EQ(first->search("the Network", 11, kSearchPlain, ""), 4u);
    // A literal pattern set on another object empties the shared wildcard
    // pattern: the first object now wants the whole word "net".
    auto second = newSearch(kSearchHtml);
    ASSERT_EQ(second->setPattern("x", 1), 1);
    EXPECT_EQ(first->search("the Network", 11, kSearchPlain, ""), kSearchNotFound);
    EXPECT_EQ(first->search("the net", 7, kSearchPlain, ""), 4u);
}

}  // namespace
}  // namespace ruva
