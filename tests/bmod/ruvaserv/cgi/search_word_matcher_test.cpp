// Search words marked while post-processing copies a page: pages in,
// marked bytes out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/postprocess_state.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using Fields = std::vector<std::pair<const char*, std::string>>;

constexpr char kDocFile[] = "1551-ABC10101Uen.A.html";
constexpr char kHead[] = "<html><head><title>Doc</title></head><body>\n";
constexpr char kTail[] = "\n</body></html>\n";
constexpr char kMarkOn[] = "<em>";
constexpr char kMarkOff[] = "</em>";

// A marked hit as the pass writes it with kMarkOn/kMarkOff.
std::string hit(int n, std::string_view word) {
    return std::string(kMarkOn) + "<a name=\"SearchMatch" + std::to_string(n) + "\" class=\"csm\">" +
           std::string(word) + "</a>" + kMarkOff;
}

// The first occurrence of from in text, after the body tag, replaced.
std::string replaced(std::string text, std::string_view from, std::string_view to) {
    const size_t at = text.find(from, text.find("<body"));
    if (at == std::string::npos) return "(not in the plain output: " + std::string(from) + ")";
    return text.replace(at, from.size(), to);
}

class SearchWords : public ::testing::Test {
protected:
    void SetUp() override {
        env_.set("RUVA_ADDR", std::nullopt);
        env_.set("QUERY_STRING", std::string("AC=LINK&FN=") + kDocFile);
    }

    // The output of a document page request with these fields; the page
    // lies in a heap block of exactly its size.
    std::string run(std::string_view page, const Fields& fields, size_t flags = kKivoservFlags) {
        test::CapturedRequest req;
        req->flags = flags;
        req->kivoServName = "/127.0.0.1:8080/cgi-bin/kivoserv";
        req->searchHighLight = kMarkOn;
        req->searchNormal = kMarkOff;
        req.field("AC", "LINK");
        req.field("FN", kDocFile);
        for (const auto& [name, value] : fields) req.field(name, value.c_str());
        req->docBuf = static_cast<char*>(std::malloc(page.empty() ? 1 : page.size()));
        std::memcpy(req->docBuf, page.data(), page.size());
        req->docSize = req->docbufSize = page.size();
        EXPECT_EQ(req->postProcessFile(), 1) << req->getError();
        flags_ = req->flags;
        const PassState& ps = req->passState();
        patok_.assign(ps.patok.begin(), ps.patok.begin() + ps.patokCount);
        complex_ = ps.complexExpression;
        phrase_ = ps.isPhraseSearch;
        return req->dstBuf ? std::string(req->dstBuf, req->dstOffs) : std::string();
    }

    test::EnvGuard env_;
    size_t flags_ = 0;
    std::vector<std::string> patok_;
    bool complex_ = false;
    bool phrase_ = false;
};

// Each row: the body text of a page, and that text as the marked output
// holds it; the rest of the output is that of the page without words.
TEST_F(SearchWords, HitsAreMarkedInTheBodyText) {
    const std::string longWord(300, 'x');
    struct Case {
        const char* name;
        Fields fields;
        std::string body;
        std::string marked;
    } const cases[] = {
        {"no hit inside a page word",
         {{"PA", "foo"}},
         "<p>foobar foo-bar x_foo</p>",
         "<p>foobar foo-bar x_foo</p>"},
        {"a full stop ends the word", {{"PA", "foo"}}, "<p>foo.bar</p>", "<p>" + hit(1, "foo") + ".bar</p>"},
        {"numbered in page order",
         {{"PA", "foo"}},
         "<p>Foo, foo and FOO</p>",
         "<p>" + hit(1, "Foo") + ", " + hit(2, "foo") + " and " + hit(3, "FOO") + "</p>"},
        {"the longer word where the shorter runs on",
         {{"PA", "ABC ABCD"}},
         "<p>abcd </p>",
         "<p>" + hit(1, "abcd") + " </p>"},
        {"the last suitable word: plain after wildcard",
         {{"PA", "AB*Q ABC"}},
         "<p>abc </p>",
         "<p>" + hit(1, "abc") + " </p>"},
        {"the last suitable word: wildcard after plain", {{"PA", "ABC AB*Q"}}, "<p>abc </p>", "<p>abc </p>"},
        {"a doubled first letter restarts the match",
         {{"PA", "*AB"}},
         "<p>xaab yy</p>",
         "<p>" + hit(1, "xaab") + " yy</p>"},
        {"a wildcard hit is the whole page word",
         {{"PA", "inst*"}},
         "<p>see installation guide</p>",
         "<p>see " + hit(1, "installation") + " guide</p>"},
        {"entities never hit, a bare & is a character",
         {{"PA", "AMP D"}},
         "<p>x &amp; y R&D z</p>",
         "<p>x &amp; y R&" + hit(1, "D") + " z</p>"},
        {"a bare & does not swallow the text after it",
         {{"PA", "foo"}},
         "<p>a & <b>foo</b>; b</p>",
         "<p>a & <b>" + hit(1, "foo") + "</b>; b</p>"},
        {"an & without its ; is no entity",
         {{"PA", "amp"}},
         "<p>a &amp b</p>",
         "<p>a &" + hit(1, "amp") + " b</p>"},
        {"a word split by an entity",
         {{"PA", "foo"}},
         "<p>f&#111;o fo&#x6F;</p>",
         "<p>f&#111;o fo&#x6F;</p>"},
        {"a word after a tag that follows a run-on word",
         {{"PA", "foo"}},
         "<p>xfoo<b>foo</b></p>",
         "<p>xfoo<b>" + hit(1, "foo") + "</b></p>"},
        {"a word split by a tag is compared but not marked",
         {{"PA", "ABC"}},
         "<p>a<b>bc</b></p>",
         "<p>a<b>bc</b></p>"},
        {"non-word starts never hit in a complex expression",
         {{"PA", "-x *x \xE9x"}},
         "<p>-x *x \xE9x</p>",
         "<p>-x *x \xE9x</p>"},
        {"the character after a hit starts none",
         {{"PA", "\xB4\xC1"}},
         "<p>\xB4\xC1\xB4\xC1 </p>",
         "<p>" + hit(1, "\xB4\xC1") + "\xB4\xC1 </p>"},
        {"not in a body script",
         {{"PA", "foo"}},
         "<script>var foo = 1;</script><p>foo</p>",
         "<script>var foo = 1;</script><p>" + hit(1, "foo") + "</p>"},
        {"not in an attribute value", {{"PA", "foo"}}, "<p title=\"foo\">x</p>", "<p title=\"foo\">x</p>"},
        {"inside a link the empty anchor goes before it",
         {{"PA", "foo"}},
         "<p><a href=\"x.html\">foo bar</a></p>",
         "<p><a name=\"SearchMatch1\" class=\"csm\"></a><a href=\"x.html\"><em>foo</em> bar</a></p>"},
        {"INSTANT is not coloured",
         {{"PA", "foo"}, {"ST", "INSTANT"}},
         "<p>foo bar</p>",
         "<p><a name=\"SearchMatch1\" class=\"csm\">foo</a> bar</p>"},
        {"a hit right before the next rule",
         {{"PA", "installation"}},
         "<p>see installation.</p>",
         "<p>see " + hit(1, "installation") + ".</p>"},
        {"search type without body words", {{"PA", "foo"}, {"ST", "Title"}}, "<p>foo</p>", "<p>foo</p>"},
        {"FT is taken before PA",
         {{"FT", "bar"}, {"PA", "foo"}, {"ST", "Title"}},
         "<p>foo bar</p>",
         "<p>foo " + hit(1, "bar") + "</p>"},
        {"negated words are left out",
         {{"PA", "foo !bar"}},
         "<p>bar foo</p>",
         "<p>bar " + hit(1, "foo") + "</p>"},
        {"only wildcards looks for nothing", {{"PA", "*?"}}, "<p>abc</p>", "<p>abc</p>"},
        {"an overlong word is dropped",
         {{"PA", std::string(255, 'a') + " foo"}},
         "<p>foo</p>",
         "<p>" + hit(1, "foo") + "</p>"},
        {"an overlong page word gives no wildcard hit",
         {{"PA", "foo*"}},
         "<p>foo" + longWord + "</p>",
         "<p>foo" + longWord + "</p>"},
        {"a page word of 254 does",
         {{"PA", "foo*"}},
         "<p>foo" + longWord.substr(0, 251) + "</p>",
         "<p>" + hit(1, "foo" + longWord.substr(0, 251)) + "</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string page = kHead + c.body + kTail;
        const std::string plain = run(page, {});
        EXPECT_EQ(run(page, c.fields), replaced(plain, c.body, c.marked));
    }
}

TEST_F(SearchWords, HitsBeforeTheBodyMarkerAreNotMarked) {
    const std::string page = std::string(kHead) + "<p>foo foo<!--@BODY-->foo foo</p>" + kTail;
    const std::string plain = run(page, {});
    const std::string out = run(page, {{"PA", "foo"}});
    EXPECT_EQ(out, replaced(plain, "foo foo<!--@BODY-->foo foo",
                            "foo foo<!--@BODY-->" + hit(1, "foo") + " " + hit(2, "foo")));
    // Before the marker the hits go over unmarked: the order check is off
    // for the request all the same.
    const std::string before = std::string(kHead) + "<p>foo foo<!--@BODY-->x</p>" + kTail;
    const std::string beforePlain = run(before, {});
    EXPECT_EQ(run(before, {{"PA", "foo"}}), beforePlain);
    EXPECT_TRUE(flags_ & kCgiHitHandedOver);
}

TEST_F(SearchWords, HandOverFlagIsSetByTheFirstHitOnly) {
    const std::string page = std::string(kHead) + "<p>nothing here</p>" + kTail;
    run(page, {{"PA", "foo"}});
    EXPECT_FALSE(flags_ & kCgiHitHandedOver);
    run(std::string(kHead) + "<p>foo</p>" + kTail, {{"PA", "foo"}});
    EXPECT_TRUE(flags_ & kCgiHitHandedOver);
}

// A hit that the page's end leaves pending is not marked; one that a tag
// follows is, and the tag's rule runs once.
TEST_F(SearchWords, HitAtThePagesEnd) {
    const std::string open = std::string(kHead) + "<p>a foo";
    EXPECT_EQ(run(open, {{"PA", "foo"}}), run(open, {}));
    const std::string closed = std::string(kHead) + "<p>a foo</p></body>\n</html>\n";
    const std::string plain = run(closed, {});
    EXPECT_EQ(run(closed, {{"PA", "foo"}}), replaced(plain, "a foo</p>", "a " + hit(1, "foo") + "</p>"));
}

TEST_F(SearchWords, KanjiWordsAreMarkedOnlyBeforeTheFirstTitleEnd) {
    const std::string kanji = "\xB4\xC1\xBB\xFA";  // EUC-JP
    const std::string body = "<p>" + kanji + " a</p><h2>t</h2><p>" + kanji + " b</p>";
    const std::string page = kHead + body + kTail;
    EXPECT_EQ(
        run(page, {{"PA", kanji}}),
        replaced(run(page, {}), body, "<p>" + hit(1, kanji) + " a</p><h2>t</h2><p>" + kanji + " b</p>"));
}

// A hit pending where a chapter anchor goes is marked first, so neither
// the anchor nor the text after the hit is written twice.
TEST_F(SearchWords, HitBeforeAChapterAnchor) {
    const std::string body = "<!--@BODY--><h2>foo <span class=\"CHAPNUMBER\">1</span></h2>";
    const std::string page = kHead + body + kTail;
    const std::string anchored =
        "<!--@BODY--><h2>foo <a name=\"_C1\"></a><span class=\"CHAPNUMBER\">1</span></h2>";
    const std::string plain = run(page, {});
    ASSERT_NE(plain.find(anchored), std::string::npos);
    EXPECT_EQ(run(page, {{"PA", "foo"}}),
              replaced(plain, anchored,
                       "<!--@BODY--><h2>" + hit(1, "foo") +
                           " <a name=\"_C1\"></a><span class=\"CHAPNUMBER\">1</span></h2>"));
}

// A rule that acts inside the page word of a wildcard hit (a program link
// after its letters) still acts; the word is then no hit.
TEST_F(SearchWords, RulesInsideAWildcardPageWordStillAct) {
    const std::string page = std::string(kHead) + "<p>xhttp:/kivo?FN=a.html x</p>" + kTail;
    const std::string plain = run(page, {});
    ASSERT_NE(plain.find("xhttp://127.0.0.1:8080/cgi-bin/kivoserv?"), std::string::npos);
    EXPECT_EQ(run(page, {{"PA", "X*"}}), replaced(plain, "a.html x</p>", "a.html " + hit(1, "x") + "</p>"));
}

TEST_F(SearchWords, PhraseIsMarkedAtTheEndOnly) {
    const std::string body = "<p>two\nwords and two&nbsp;words</p>";
    const std::string page = kHead + body + kTail;
    const std::string out = run(page, {{"PA", "\"two words\""}});
    EXPECT_TRUE(phrase_);
    const std::string phraseOn = "<font style=\"background-color:#ffeeaa\">";
    EXPECT_NE(out.find("<a name=\"SearchMatch2\" class=\"csm\"></a>" + phraseOn), std::string::npos) << out;
    EXPECT_EQ(out.find("SearchMatch3"), std::string::npos);
    EXPECT_EQ(out.find(kMarkOn), std::string::npos);
    // Nothing to look for: the page as it is.
    const std::string plain = run(page, {});
    EXPECT_EQ(run(page, {{"PA", "\"\""}}), plain);
    EXPECT_EQ(run(page, {{"PA", "  "}}), plain);
}

TEST_F(SearchWords, SearchTextIsSplitIntoUpToFourWords) {
    const std::string page = std::string(kHead) + "<p>x</p>" + kTail;
    struct Case {
        const char* name;
        Fields fields;
        std::vector<std::string> words;
        bool complex;
        bool phrase;
    } const cases[] = {
        {"one word", {{"PA", "foo"}}, {"FOO"}, false, false},
        {"separators", {{"PA", "a,b.c/d:e"}}, {"A", "B", "C", "D"}, true, false},
        {"no-break spaces", {{"PA", "nbsp;a&nbsp;b"}}, {"A", "B"}, true, false},
        {"wildcards kept", {{"PA", "in*t?on"}}, {"IN*T?ON"}, false, false},
        {"negated words", {{"PA", "a !b c"}}, {"A", "C"}, true, false},
        {"a phrase", {{"PA", "\"two words\""}}, {"TWO", "WORDS"}, true, true},
        // FT is stored with its quote as "&#34;": never a phrase.
        {"FT with a quote", {{"FT", "\"two words\""}}, {"#34", "TWO", "WORDS", "#34"}, true, false},
        {"Latin-1 upper-cased", {{"PA", "caf\xE9"}}, {"CAF\xC9"}, false, false},
        {"EUC-JP as typed", {{"PA", "\xB4\xC1x"}}, {"\xB4\xC1x"}, false, false},
        {"search type without body words", {{"PA", "foo"}, {"ST", "advsearch docno"}}, {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        run(page, c.fields);
        EXPECT_EQ(patok_, c.words);
        EXPECT_EQ(complex_, c.complex);
        EXPECT_EQ(phrase_, c.phrase);
    }
    run(page, {{"PA", std::string(2000, 'a') + " b"}});
    EXPECT_TRUE(patok_.empty()) << "the one word is cut at 1024 bytes and dropped";
    run(page, {{"PA", "foo"}}, kKivoservFlags | kCgiNoSearchWords);
    EXPECT_TRUE(patok_.empty());
}

}  // namespace
}  // namespace ruva
