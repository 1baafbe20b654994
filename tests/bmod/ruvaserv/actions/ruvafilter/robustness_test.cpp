// Hostile and oversized pages through the whole filter, for the
// sanitizers: each must give a well-formed document and nothing else.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "bmod/ruvaserv/actions/ruvafilter/filter.h"
#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"
#include "tests/bmod/ruvaserv/actions/ruvafilter/page_text_dump.h"
#include "tests/bmod/ruvaserv/actions/ruvafilter/ps_checks.h"
#include "tests/support/test_support.h"

namespace ruva::filter {
namespace {

const PaperSize& a4() {
    return *findPaperSize("A4");
}

std::string repeat(std::string_view piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// Pages that end inside a construct, each in a block of its exact size.
TEST(FilterRobustness, PagesCutAnywhere) {
    const char* const cuts[] = {
        "<p>abc<a href=\"x",
        "<p>abc<a href='x'",
        "<p>abc<!-- x",
        "<p>abc<!-",
        "<p>abc<!DOCTYPE",
        "<p>abc<?xml",
        "<p>abc</",
        "<p>abc<",
        "<p>abc&",
        "<p>abc&#12",
        "<p>abc&#x",
        "<p>abc&eacute",
        "<script>x",
        "<title>x",
        "<style>",
        "<pre>\r",
        "<img alt=",
        "<img alt='a",
        "<meta charset=",
        "<?xml encoding='utf-8'",
        "<meta charset=utf-8>\xE2\x94",
        "<meta charset=euc-jp>\xA4",
        "<meta charset=euc-jp>\x8F\xA1",
    };
    for (const char* cut : cuts) {
        SCOPED_TRACE(cut);
        const test::PageEndText page(cut);
        test::checkDocument(pageToPostScript(page.view(), a4()).value_or(""));
    }
}

TEST(FilterRobustness, NulBytesAndRandomBytes) {
    std::mt19937 random(20240611);
    const std::string alphabet("<>/!-?&#;=\"' \n\tabpre\0\x80\x8A\xA4\xC3\xE2\xFF", 27);
    for (int round = 0; round < 200; ++round) {
        std::string page(static_cast<size_t>(random() % 400), ' ');
        for (char& c : page) c = alphabet[random() % alphabet.size()];
        const test::PageEndText exact(page);
        for (Charset charset : {Charset::kLatin1, Charset::kUtf8, Charset::kEucJp}) {
            const PageText text = htmlToLines(exact.view(), charset);
            for (const LineSpan& line : text.lines) ASSERT_LE(line.start + line.length, text.text.size());
            for (char c : text.text) ASSERT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        }
        test::checkDocument(pageToPostScript(exact.view(), a4()).value_or(""));
    }
}

TEST(FilterRobustness, DeepNestingIsFlat) {
    const std::string page = repeat("<div>", 100000) + "deep" + repeat("</div>", 100000);
    const PageText text = htmlToLines(page, Charset::kLatin1);
    EXPECT_EQ(test::dumpLines(text), std::vector<std::string>{"deep"});
    EXPECT_EQ(test::checkDocument(pageToPostScript(page, a4()).value_or("")), 1);
}

TEST(FilterRobustness, LongWordIsCut) {
    const std::string ps = pageToPostScript("<p>" + std::string(10000, 'w'), a4()).value_or("");
    // 105 lines of 96 and one of 16: two pages.
    EXPECT_EQ(test::checkDocument(ps), 2);
    EXPECT_NE(ps.find("(" + std::string(16, 'w') + ") R"), std::string::npos);
}

// 5 MB of markup of every kind the scanner knows.
TEST(FilterRobustness, FiveMegabytes) {
    const std::string piece =
        "<h2>Head &amp; <b>bold</b></h2><p>Text caf\xE9 &eacute; &#x2500; <!-- c --><script>var "
        "a='<p>';</script>"
        "<table><tr><th>A<td>1</tr></table><pre>\tx  y\n</pre><ul><li>item</ul><hr><img "
        "alt=pic><br>\x80\x8A\n";
    const std::string page = repeat(piece, 5000000 / piece.size() + 1);
    const std::string ps = pageToPostScript(page, a4()).value_or("");
    EXPECT_GT(test::checkDocument(ps), 1000);
}

}  // namespace
}  // namespace ruva::filter
