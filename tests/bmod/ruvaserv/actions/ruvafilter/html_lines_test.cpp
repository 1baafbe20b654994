#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/charset.h"
#include "bmod/ruvaserv/actions/ruvafilter/entities.h"
#include "bmod/ruvaserv/actions/ruvafilter/line_builder.h"
#include "tests/bmod/ruvaserv/actions/ruvafilter/page_text_dump.h"
#include "tests/support/test_support.h"

namespace ruva::filter {
namespace {

using Lines = std::vector<std::string>;

struct LinesCase {
    const char* name;
    std::string html;
    Lines lines;
};

// Each page in a block of its exact size, so a read past it is a report.
Lines linesOf(const std::string& html, Charset charset) {
    const ruva::test::PageEndText exact(html);
    return test::dumpLines(htmlToLines(exact.view(), charset));
}

TEST(FilterHtmlLines, PagesBecomeLines) {
    const LinesCase cases[] = {
        {"white space folds", "  a \n\t b  ", {"a b"}},
        {"xml entities and nbsp", "&amp;&lt;&gt;&quot;&apos;&nbsp;x", {"&<>\"'\xA0x"}},
        {"numeric references", "&#65;&#x42;&#X43;&#233;&#xe9;", {"ABC\xE9\xE9"}},
        {"latin-1 names", "&eacute;&Eacute;&yuml;&divide;&copy;", {"\xE9\xC9\xFF\xF7\xA9"}},
        {"unknown references stay",
         "&bogus; &amp &#; &#x; &EACUTE; &#12345678;",
         {"&bogus; &amp &#; &#x; &EACUTE; &#12345678;"}},
        {"references beyond latin-1", "&#x2500;&#9474;&#8217;&#0;&#x110000;&#xFEFF;", {"-|???"}},
        {"script and style skipped", "a<script>x<y</script>b<STYLE>p{}</Style >c", {"abc"}},
        {"comments and declarations", "<!DOCTYPE html><?xml version='1.0'?>a<!-- b <p> -->c", {"ac"}},
        {"head skipped but its title",
         "<html><head><title> T </title><meta x><link y>\n</head><body>b",
         {"b"}},
        {"text ends the head", "<head><title>T</title>text<p>more", {"text", "more"}},
        {"pre keeps white space", "<pre>\n a  b\n\tc\n</pre>d", {" a  b", "        c", "d"}},
        {"pre line ends", "<pre>a\r\nb\rc\n\nd</pre>", {"a", "b", "c", "", "d"}},
        {"br breaks hard", "a<br>b<br/><br>c</br>", {"a", "b", "", "c"}},
        {"blocks break soft",
         "<div><div><p>a</p></div></div><dt>b<dd>c<blockquote>d</blockquote>",
         {"a", "b", "c", "d"}},
        {"nested inline bold", "<p>x <b>y <i>z</i></b> w</p>", {"x *y z* w"}},
        {"bold tags balance", "<b>a<strong>b</strong>c</b></b>d <B>e", {"*abc*d *e*"}},
        {"headings", "<h1>T</h1><h4>u</h4><h2>v<h3>w</h3>x", {"*T*", "u", "*v*", "*w*", "x"}},
        {"list items", "<ul><li>one<li> two </li><li></li></ul>", {"- one", "- two", "-"}},
        {"table cells",
         "<table><tr><th>A<th>B</tr><tr><td>1</td> <td> 2</td></tr></table>x",
         {"*A*  *B*", "1  2", "x"}},
        {"empty first cell", "<tr><td></td><td>b</td>", {"b"}},
        {"rule", "a<hr>b<hr/>", {"a", "<hr>", "b", "<hr>"}},
        {"image alt",
         "x<img src=a alt=' my  pic '>y<img alt=\"\"><img alt=pic><img alt='a>b' src=c>",
         {"x[my pic]y[pic][a>b]"}},
        {"alt with references", "<img alt=\"&lt;&eacute;\">", {"[<\xE9]"}},
        {"plain less-than", "a < b <3 <", {"a < b <3 <"}},
        {"tag cut at the end", "ab<p class=\"x", {"ab"}},
        {"comment cut at the end", "ab<!-- c", {"ab"}},
        {"end tag cut at the end", "ab</p", {"ab"}},
        {"script cut at the end", "ab<script>c", {"ab"}},
        {"NUL bytes", std::string("a\0b", 3), {"a?b"}},
        {"controls",
         "a\x01\x7F"
         "b",
         {"a??b"}},
        {"line-drawing bytes",
         "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x9F\xA0\xE9",
         {"|+\\\\--+-+//??\xA0\xE9"}},
        {"unknown tags ignored", "<foo bar=\"<p>\">a</foo><x-y>b", {"ab"}},
    };
    for (const LinesCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(linesOf(c.html, Charset::kLatin1), c.lines);
    }
}

TEST(FilterHtmlLines, TitleIsFoldedAndFirstWins) {
    const PageText page =
        htmlToLines("<title>\n A &amp;\tB \xE9</title><title>second</title>x", Charset::kLatin1);
    EXPECT_EQ(page.title, "A & B \xE9");
    EXPECT_EQ(test::dumpLines(page), Lines{"x"});
    EXPECT_EQ(htmlToLines("<p>no title", Charset::kLatin1).title, "");
}

TEST(FilterHtmlLines, CharsetsDecode) {
    const struct {
        const char* name;
        std::string html;
        Charset charset;
        Lines lines;
    } cases[] = {
        {"utf-8 up to U+00FF kept", "caf\xC3\xA9 \xC3\xBF", Charset::kUtf8, {"caf\xE9 \xFF"}},
        {"utf-8 box drawing",
         "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x90\xE2\x94\x82\xE2\x95\x90",
         Charset::kUtf8,
         {"/-\\|="}},
        {"utf-8 other characters", "\xE2\x80\x99\xF0\x9F\x98\x80x", Charset::kUtf8, {"??x"}},
        {"utf-8 malformed", "\xC3(\xE2\x94\xC0\xAF\xED\xA0\x80", Charset::kUtf8, {"?(?????"}},
        {"utf-8 cut at the end", "a\xE2\x94", Charset::kUtf8, {"a??"}},
        {"utf-8 byte order mark", "\xEF\xBB\xBFx", Charset::kUtf8, {"x"}},
        {"utf-8 keeps 0x80-0x8A as errors", "\x80", Charset::kUtf8, {"?"}},
        {"euc-jp one ? a character",
         "a\xA4\xA2\xA4\xA4"
         "b\x8E\xB1"
         "c\x8F\xB0\xA1"
         "d",
         Charset::kEucJp,
         {"a??b?c?d"}},
        {"euc-jp cut at the end", "a\xA4", Charset::kEucJp, {"a?"}},
        {"euc-jp references", "&eacute;", Charset::kEucJp, {"\xE9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(linesOf(c.html, c.charset), c.lines);
    }
}

TEST(FilterHtmlLines, TextStopsAtItsLimit) {
    PageText page;
    LineBuilder out(page, 5);
    for (char c : std::string("abcd")) out.addChar(static_cast<unsigned char>(c));
    EXPECT_FALSE(page.overflow);
    out.setPre(true);
    out.addSpace('\t');  // four blanks, one of them past the limit
    out.finish();
    EXPECT_EQ(page.text, "abcd ");
    EXPECT_TRUE(page.overflow);
    ASSERT_EQ(page.lines.size(), 1u);
    EXPECT_EQ(page.lines[0].length, 5u);
}

TEST(FilterCharset, DeclaredCharset) {
    const struct {
        std::string html;
        const char* name;
    } cases[] = {
        {"", ""},
        {"<p>plain", ""},
        {"\xEF\xBB\xBF<p>", "utf-8"},
        {"<?xml version='1.0' encoding='EUC-JP'?><html>", "EUC-JP"},
        {"<?xml version=\"1.0\" encoding = \"utf-8\" ?>", "utf-8"},
        {"<meta http-equiv=Content-Type content='text/html; charset=iso-8859-1'>", "iso-8859-1"},
        {"<META CHARSET=\"UTF-8\">", "UTF-8"},
        {"<meta name=x><meta charset=utf8>", "utf8"},
        {"<body><meta charset=utf-8>", ""},
        {"<meta charset=\"" + std::string(41, 'a') + "\">", ""},
        {"<meta charset=\"" + std::string(40, 'a') + "\">", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"<meta charset=\"a b\">", "a"},
        {"<meta charset>", ""},
        {"<meta charset=", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html);
        const ruva::test::PageEndText exact(c.html);
        EXPECT_EQ(declaredCharset(exact.view()), c.name);
    }
}

TEST(FilterCharset, NamesChooseTheDecoder) {
    const struct {
        const char* name;
        Charset charset;
    } cases[] = {
        {"utf-8", Charset::kUtf8},       {"UTF8", Charset::kUtf8},      {"EUC-JP", Charset::kEucJp},
        {"eucjp", Charset::kEucJp},      {"x-euc-jp", Charset::kEucJp}, {"iso-8859-1", Charset::kLatin1},
        {"shift_jis", Charset::kLatin1}, {"utf-16", Charset::kLatin1},  {"", Charset::kLatin1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(charsetByName(c.name), c.charset);
    }
}

TEST(FilterEntities, ReferenceSizeCoversTheSemicolon) {
    Reference ref{};
    ASSERT_TRUE(decodeReference("x&nbsp;y", 1, ref));
    EXPECT_EQ(ref.code, 0xA0u);
    EXPECT_EQ(ref.size, 6u);
    ASSERT_TRUE(decodeReference("&#x10FFFF;", 0, ref));
    EXPECT_EQ(ref.code, 0x10FFFFu);
    EXPECT_FALSE(decodeReference("&nbsp", 0, ref));
    EXPECT_FALSE(decodeReference("&", 0, ref));
    EXPECT_FALSE(decodeReference("&#", 0, ref));
}

}  // namespace
}  // namespace ruva::filter
