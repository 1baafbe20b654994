// Block comparison of COD and POD documents: the text operations byte by
// byte, block cutting and the display copy against hostile markup.
#include "bmod/ruvaserv/output/cpodcmp.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/bmod/ruvaserv/cgi/request_support.h"

namespace ruva {
namespace {

using test::CapturedRequest;

constexpr std::size_t kNone = std::string_view::npos;

TEST(CPodCmp, StartsWithoutResults) {
    test::CapturedRequest req;
    auto cp = NewCPodCmp(*req);
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(cp->getResultsSize(), 0u);
    EXPECT_EQ(cp->findResult("1"), nullptr);
    EXPECT_EQ(cp->getError(), "");
}

TEST(CPodCmp, LineGraphicsCodesBecomeAscii) {
    std::string block;
    for (int c = 0x7e; c <= 0x8c; ++c) block += static_cast<char>(c);
    CPodCmp::convertToLineGraphChars(block);
    // 0x7e, 0x7f, then 0x80-0x8a converted, then 0x8b, 0x8c untouched.
    EXPECT_EQ(block, std::string("\x7e\x7f|+\\\\--+-+//\x8b\x8c"));
}

struct TextCase {
    const char* name;
    std::string in;
    std::string out;
};

// op applied to each case's input gives its output.
template <std::size_t N, class Op>
void expectEach(const TextCase (&cases)[N], Op op) {
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string block = c.in;
        op(block);
        EXPECT_EQ(block, c.out);
    }
}

TEST(CPodCmp, StripSpacesKeepsSingleLineFeedsAfterText) {
    const TextCase cases[] = {
        {"empty", "", ""},
        {"blanks, tabs, CR, VT and FF go", " a \t b\r\v\fc ", "abc"},
        {"a line feed at the start goes", "\n\na", "a"},
        {"a single line feed stays", "a\nb", "a\nb"},
        {"of two line feeds the second stays", "a\n\nb", "a\nb"},
        {"line feeds split by a blank both stay", "a\n \nb", "a\n\nb"},
        {"a line feed at the end stays", "a \n", "a\n"},
        {"CR LF keeps the LF", "a\r\nb", "a\nb"},
        {"only white space", " \n\n\t\n", ""},
        {"bytes from 128 are no white space", "a\xa0" "b", "a\xa0" "b"},
    };
    expectEach(cases, CPodCmp::stripSpaces);
}

TEST(CPodCmp, StripHtmlTagsRemovesFromLessThanThroughGreaterThan) {
    const TextCase cases[] = {
        {"tags go, text stays", "<p class=x>a</p>b", "ab"},
        {"a lone '>' is text", "a>b", "a>b"},
        {"the first '>' ends the tag", "<a title=\"x>y\">z", "y\">z"},
        {"a '<' inside a tag is part of it", "<<x>y", "y"},
        {"an unclosed tag takes the rest", "a<b c", "a"},
        {"empty", "", ""},
    };
    expectEach(cases, CPodCmp::stripHtmlTags);
}

TEST(CPodCmp, StripCertainHtmlTagsRemovesOnlyThatTag) {
    const TextCase cases[] = {
        {"a rule", "a<hr>b", "ab"},
        {"any case, with attributes", "a<HR size=1 />b<Hr\nnoshade>c", "abc"},
        {"other tags stay", "<h2>x</h2><html><p>", "<h2>x</h2><html><p>"},
        {"an unclosed rule takes the rest", "a<hr b", "a"},
        {"inside other markup", "<td><hr/></td>", "<td></td>"},
    };
    expectEach(cases, [](std::string& block) { CPodCmp::stripCertainHtmlTags(block, "hr"); });
}

TEST(CPodCmp, ByteCmpTreatsMissingAndDelimitedTexts) {
    const std::string ab = "ab", abc = "abc", abX = "ab|x", abY = "ab|y", empty;
    struct Case {
        const char* name;
        const std::string* a;
        const std::string* b;
        char delimiter;
        int result;
    };
    const Case cases[] = {
        {"both missing", nullptr, nullptr, '\0', 0},
        {"old missing", nullptr, &ab, '\0', 1},
        {"new missing", &ab, nullptr, '\0', 1},
        {"missing against empty", nullptr, &empty, '\0', 1},
        {"equal", &ab, &ab, '\0', 0},
        {"prefix", &ab, &abc, '\0', 1},
        {"no delimiter compares all", &abX, &abY, '\0', 1},
        {"equal up to the delimiter", &abX, &abY, '|', 0},
        {"one ends where the other has the delimiter", &ab, &abY, '|', 0},
        {"differs before the delimiter", &abc, &abY, '|', 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CPodCmp::byteCmp(c.a, c.b, c.delimiter), c.result);
    }
}

constexpr std::array<const char*, 6> kCodStarts = {
    " class=comform>",     " class=prmlist>",     " class=prmitem>",
    " class=\"comform\">", " class=\"prmlist\">", " class=\"prmitem\">",
};

TEST(CPodCmp, FindNextStartStrPrefersTableOrderToPosition) {
    struct Case {
        const char* name;
        std::string document;
        std::size_t from;
        std::size_t result;
    };
    const Case cases[] = {
        {"an earlier prmitem loses to comform", "<p class=prmitem>x<td class=comform>", 0, 18},
        {"a later comform beats an earlier prmlist", "<p class=prmlist>x<h2>y</h2><td class=comform>", 0, 28},
        {"other attributes before the class", "ab<td width=3 class=\"prmlist\">", 0, 2},
        {"any case", "<TD CLASS=COMFORM>", 0, 0},
        {"a find outside a tag is passed over", "<p>t class=comform> <td class=comform>", 0, 20},
        {"the back search stops at the start", " class=comform>", 0, kNone},
        {"the tag may open before `from`", "<td class=comform>", 1, 0},
        {"nothing from `from` on", "<td class=comform>x", 5, kNone},
        {"no block string", "<td class=other>", 0, kNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CPodCmp::findNextStartStr(c.document, c.from, kCodStarts), c.result);
    }
}

TEST(CPodCmp, FindNextEndStrTakesHeadingElseBodyEndElseTheEnd) {
    struct Case {
        const char* name;
        std::string document;
        std::size_t result;
    };
    const Case cases[] = {
        {"a heading", "ab<h2>c", 2},
        {"rules and head are no heading", "<hr><head><H3>", 10},
        {"the body end without a heading", "ab</BODY></html>", 2},
        {"a heading before the body end", "<h1></body>", 0},
        {"neither", "abc<h", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CPodCmp::findNextEndStr(c.document, 0), c.result);
    }
}

TEST(CPodCmp, DisplayCopyKeepsLayoutMarkupAndText) {
    const TextCase cases[] = {
        {"kept attributes, values quoted", "<table border=1 CellPadding='2' bgcolor=\"#fff\" nowrap>",
         "<table border=\"1\" cellpadding=\"2\" bgcolor=\"#fff\" nowrap>"},
        {"text and end tags", "<td class=comform>a &amp; b</TD>", "<td class=\"comform\">a &amp; b</td>"},
        {"stray angle brackets become text", "a < b > c </ d", "a &lt; b &gt; c &lt;/ d"},
        {"a quote inside a value", "<font color='a\"b'>", "<font color=\"a&quot;b\">"},
        {"a '>' inside a quoted value", "<td class=\"a>b\" width=2>x", "<td class=\"a&gt;b\" width=\"2\">x"},
        {"comments and declarations go", "<!DOCTYPE html><!-- c -->a<?x?>", "a"},
    };
    expectEach(cases, [](std::string& block) { block = CPodCmp::sanitizeDisplayCopy(block); });
}

TEST(CPodCmp, DisplayCopyKeepsNothingThatRuns) {
    const TextCase cases[] = {
        {"script with content", "a<script>alert(1)</script>b", "ab"},
        {"script in capitals with a source", "<SCRIPT src=x>alert(1)</SCRIPT >b", "b"},
        {"unclosed script", "a<script>alert(1)", "a"},
        {"style with content", "<style>p{background:url(javascript:alert(1))}</style>b", "b"},
        {"handler on the body", "<body onload=\"alert(1)\">b", "<body>b"},
        {"handler among kept attributes", "<td class=x onclick=alert(1) width=3>", "<td class=\"x\" width=\"3\">"},
        {"iframe", "<iframe src=x></iframe>b", "b"},
        {"entity-encoded javascript address", "<a href=\"jav&#97;script:alert(1)\">b</a>", "<a>b</a>"},
        {"image handler", "<img src=x onerror=alert(1)>", "<img>"},
        {"svg", "<svg><animate onbegin=alert(1) attributeName=x></svg>", "<animate>"},
        {"object, embed, form, meta, base", "<object data=x><embed src=x><form action=x><meta http-equiv=refresh>"
         "<base href=x><link rel=stylesheet href=x></form></object>", ""},
        {"frames and applets", "<frameset><frame src=x></frameset><applet code=x></applet>", ""},
        {"unclosed tag at the end", "b<a href=\"javascript:alert(1)", "b"},
        {"unclosed quote at the end", "b<td class='x onmouseover=alert(1)>c", "b"},
        {"unclosed comment", "b<!-- <script>alert(1)</script>", "b"},
        {"script hidden in a tag name", "<scr<script>ipt>alert(1)</script>", "ipt&gt;alert(1)"},
        {"a quote breaking out of a value", "<td class='x\" onclick=\"alert(1)'>", "<td class=\"x&quot; onclick=&quot;alert(1)\">"},
        {"attributes on an end tag", "</td onclick=alert(1)>", "</td>"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = CPodCmp::sanitizeDisplayCopy(c.in);
        EXPECT_EQ(copy, c.out);
        for (const char* word : {"<script", "onload=", "onerror=", "<iframe", "href", "src="})
            EXPECT_EQ(copy.find(word), kNone) << word;
    }
}

TEST(CPodCmp, DocumentTypeIsTheExactDecimalClass) {
    struct Case {
        const char* docno;
        int cod;
        int pod;
    };
    const Case cases[] = {
        {"1/19082-CRA 119 00001 Uen A", 1, 0},
        {"19082-CRA 119 1 Uen", 1, 0},
        {"1/19083-CRA 119 00001 Uen B", 0, 1},
        {"1/190821-CRA 119 00001 Uen A", 0, 0},
        {"1/1908-CRA 119 00001 Uen A", 0, 0},
        {"1/15431-CRA 119 00001 Uen A", 0, 0},
        {"not a number", 0, 0},
        {"", 0, 0},
    };
    CapturedRequest req;
    auto cp = NewCPodCmp(*req);
    ASSERT_NE(cp, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.docno);
        EXPECT_EQ(cp->isCodDocument(c.docno), c.cod);
        EXPECT_EQ(cp->isPodDocument(c.docno), c.pod);
    }
}

}  // namespace
}  // namespace ruva
