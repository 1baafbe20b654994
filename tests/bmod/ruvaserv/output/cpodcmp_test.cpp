// Block comparison of COD and POD documents: the text operations byte by
// byte, block cutting, the display copy against hostile markup, and whole
// comparisons over a scripted document server.
#include "bmod/ruvaserv/output/cpodcmp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/cgi/scripted_server.h"
#include "tests/bmod/ruvaserv/cgi/session_replies.h"
#include "tests/support/scripted_peer.h"

namespace ruva {
namespace {

using test::CapturedRequest;
using test::ScriptedPeer;

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
        {"bytes from 128 are no white space", "a\xa0z", "a\xa0z"},
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
        {"handler among kept attributes", "<td class=x onclick=alert(1) width=3>",
         "<td class=\"x\" width=\"3\">"},
        {"iframe", "<iframe src=x></iframe>b", "b"},
        {"entity-encoded javascript address", "<a href=\"jav&#97;script:alert(1)\">b</a>", "<a>b</a>"},
        {"image handler", "<img src=x onerror=alert(1)>", "<img>"},
        {"svg", "<svg><animate onbegin=alert(1) attributeName=x></svg>", "<animate>"},
        {"object, embed, form, meta, base",
         "<object data=x><embed src=x><form action=x><meta http-equiv=refresh>"
         "<base href=x><link rel=stylesheet href=x></form></object>",
         ""},
        {"frames and applets", "<frameset><frame src=x></frameset><applet code=x></applet>", ""},
        {"unclosed tag at the end", "b<a href=\"javascript:alert(1)", "b"},
        {"unclosed quote at the end", "b<td class='x onmouseover=alert(1)>c", "b"},
        {"unclosed comment", "b<!-- <script>alert(1)</script>", "b"},
        {"script hidden in a tag name", "<scr<script>ipt>alert(1)</script>", "ipt&gt;alert(1)"},
        {"a quote breaking out of a value", "<td class='x\" onclick=\"alert(1)'>",
         "<td class=\"x&quot; onclick=&quot;alert(1)\">"},
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

// Every cut of hostile markup, in a heap block of exactly its size so that
// AddressSanitizer sees a read past it: the copy never ends inside a tag.
TEST(CPodCmp, CutMarkupIsNeverReadPastNorLeftOpen) {
    const std::string markup =
        "<td valign=top class=\"comform\" onclick='x'>a<!-- c --><script>s</script ><a "
        "href=\"jav&#97;script:x\">"
        "b</a><style>p{}</style><img src=x onerror=y><h2>t</h2></body>";
    for (std::size_t n = 0; n <= markup.size(); ++n) {
        SCOPED_TRACE(n);
        const std::unique_ptr<char[]> exact(new char[n]);
        std::copy_n(markup.data(), n, exact.get());
        const std::string_view cut(exact.get(), n);
        const std::string copy = CPodCmp::sanitizeDisplayCopy(cut);
        for (std::size_t lt = copy.find('<'); lt != kNone; lt = copy.find('<', lt + 1)) {
            const std::size_t gt = copy.find('>', lt);
            ASSERT_NE(gt, kNone);
            EXPECT_EQ(copy.find('<', lt + 1) < gt, false);
        }
        for (const char* word : {"script", "onclick", "onerror", "href", "src", "style"})
            EXPECT_EQ(copy.find(word), kNone) << word;
        EXPECT_LE(CPodCmp::findNextEndStr(cut, 0), n);
        const std::size_t start = CPodCmp::findNextStartStr(cut, 0, kCodStarts);
        EXPECT_TRUE(start == kNone || start < n);
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

// ---- whole comparisons over a scripted server

constexpr char kOldLib[] = "old.kvo";
constexpr char kNewLib[] = "new.kvo";
constexpr char kCodDocno[] = "1/19082-CRA 119 00001 Uen A";
constexpr char kCodMember[] = "1_19082-CRA11900001Uen.A.html";
constexpr char kPodDocno[] = "1/19083-CRA 119 00002 Uen B";
constexpr char kPodMember[] = "1_19083-CRA11900002Uen.B.html";
constexpr char kSeparator[] = "<hr size=\"1\" />";
constexpr char kMissing[] = "Document missing!";

std::string page(const std::string& body) {
    return "<html><head><title>t</title></head><body>" + body + "</body></html>\n";
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The three replies of one fetch: library check, listing, member.
std::vector<std::string> served(const std::string& library, const std::string& member,
                                const std::string& html) {
    return {test::listReply(test::listLine(library)), test::contvReply(library, {{html.size(), member}}),
            test::retrReply(member, html)};
}

// A library that does not hold the member.
std::vector<std::string> notServed(const std::string& library) {
    return {test::listReply(test::listLine(library)), test::contvReply(library, {})};
}

std::string fetchLines(const std::string& library, const std::string& member) {
    return "LIST \"" + library + "\"\nCONTV \"" + library + "\" " + member + "\nRETR \"" + library + "\" " +
           member + "\n";
}

struct Comparison {
    CompareDocsResult result;
    std::string oldStored, newStored;  // "" for nothing stored
    std::size_t resultsSize;
    std::string error, requestError;
    std::string sent;
};

class CPodCmpServed : public test::ScriptedServerTest {
protected:
    // compareDocs of the two documents with the server giving replies in
    // order; the request holds a stale page with a block beforehand.
    Comparison compare(const std::vector<std::string>& replies, const std::string& oldDocno = kCodDocno,
                       const std::string& newDocno = kCodDocno) {
        Comparison out;
        ScriptedPeer peer({test::replyScript(replies)});
        EXPECT_TRUE(peer.ok());
        {
            CapturedRequest req;
            req->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
            EXPECT_EQ(req->createDefaultSession(), 1);
            test::setHeapPage(*req, page("<td class=comform>stale</td>"));
            auto cp = NewCPodCmp(*req);
            EXPECT_NE(cp, nullptr);
            out.result = cp->compareDocs(kOldLib, kNewLib, oldDocno, newDocno, "o1", "n1");
            if (const std::string* text = cp->findResult("o1")) out.oldStored = *text;
            if (const std::string* text = cp->findResult("n1")) out.newStored = *text;
            out.resultsSize = cp->getResultsSize();
            out.error = cp->getError();
            out.requestError = req->getError();
        }
        peer.stop();
        out.sent = test::beforeQuit(peer.connections() ? peer.received(0) : "");
        return out;
    }

    static std::vector<std::string> pair(const std::string& oldHtml, const std::string& newHtml,
                                         const std::string& member = kCodMember) {
        return served(kOldLib, member, oldHtml) + served(kNewLib, member, newHtml);
    }
};

TEST_F(CPodCmpServed, BlockComparisons) {
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        CompareDocsResult result;
        std::string oldStored, newStored;
    };
    const std::string h2 = "<h2>Heading</h2>";
    const Case cases[] = {
        {"white space, tags and rules do not count",
         pair(page("<td class=comform>a  b</td>" + h2 + "<p class=prmitem>c\td</p>"),
              page("<td class=comform><b>a</b> \t\r b<hr size=2></td>" + h2 +
                   "<p class=prmitem> c<HR>d </p>")),
         CompareDocsResult::kEqual, "", ""},
        {"a block only in the new document shows on the new side",
         pair(page("<td class=comform>a</td>" + h2),
              page("<td class=comform>a</td>" + h2 + "<td class=comform>added</td>")),
         CompareDocsResult::kDiffers, "", "<td class=\"comform\">added</td>"},
        {"three differing blocks are joined by rules",
         pair(page("<td class=comform>a1</td>" + h2 + "<td class=comform>a2</td>" + h2 +
                   "<td class=comform>a3</td>"),
              page("<td class=comform>b1</td>" + h2 + "<td class=comform>b2</td>" + h2 +
                   "<td class=comform>b3</td>")),
         CompareDocsResult::kDiffers,
         std::string("<td class=\"comform\">a1</td>") + kSeparator + "<td class=\"comform\">a2</td>" +
             kSeparator + "<td class=\"comform\">a3</td>",
         std::string("<td class=\"comform\">b1</td>") + kSeparator + "<td class=\"comform\">b2</td>" +
             kSeparator + "<td class=\"comform\">b3</td>"},
        {"only differing blocks are shown, rules removed",
         pair(page("<td class=comform>same</td>" + h2 + "<td class=comform>x<hr>1</td>"),
              page("<td class=comform>same</td>" + h2 + "<td class=comform>x<hr>2</td>")),
         CompareDocsResult::kDiffers, "<td class=\"comform\">x1</td>", "<td class=\"comform\">x2</td>"},
        {"the last block ends at the body's end",
         pair("<html><body><td class=comform>a</td></BODY></html>",
              "<html><body><td class=comform>b</td></BODY></html>"),
         CompareDocsResult::kDiffers, "<td class=\"comform\">a</td>", "<td class=\"comform\">b</td>"},
        {"nothing after the first </html> is compared",
         pair(page("<td class=comform>a</td>"),
              page("<td class=comform>a</td>") + "</HTML><td class=comform>b"),
         CompareDocsResult::kEqual, "", ""},
        {"the table order hides a block before a comform block",
         pair(page("<p class=prmitem>old</p>" + h2 + "<td class=comform>c</td>"),
              page("<p class=prmitem>new</p>" + h2 + "<td class=comform>c</td>")),
         CompareDocsResult::kEqual, "", ""},
        {"line graphics compare and show as ASCII",
         pair(page("<pre class=comform>\x80\x81</pre>"), page("<pre class=comform>|+ x</pre>")),
         CompareDocsResult::kDiffers, "<pre class=\"comform\">|+</pre>", "<pre class=\"comform\">|+ x</pre>"},
        {"hostile markup keeps nothing that runs",
         pair(page("<td class=comform>a</td>"),
              page("<td onload=alert(1) class=comform>a<script>alert(1)</script><iframe src=x></iframe>"
                   "<a href=\"jav&#97;script:alert(1)\">b</a></td>")),
         CompareDocsResult::kDiffers, "<td class=\"comform\">a</td>", "<td class=\"comform\">a<a>b</a></td>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Comparison got = compare(c.replies);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.oldStored, c.oldStored);
        EXPECT_EQ(got.newStored, c.newStored);
        EXPECT_EQ(got.resultsSize, c.oldStored.size() + c.newStored.size());
        EXPECT_EQ(got.error, "");
    }
}

TEST_F(CPodCmpServed, PodBlocksFollowTheNewDocument) {
    const std::string pod = page("<p class=\"pprmitem\">a</p>"), codOnly = page("<p class=comform>a</p>");
    const Comparison got = compare(served(kOldLib, kCodMember, codOnly) + served(kNewLib, kPodMember, pod),
                                   kCodDocno, kPodDocno);
    // The old COD document holds no POD block.
    EXPECT_EQ(got.result, CompareDocsResult::kDiffers);
    EXPECT_EQ(got.oldStored, "");
    EXPECT_EQ(got.newStored, "<p class=\"pprmitem\">a</p>");
}

TEST_F(CPodCmpServed, MissingDocumentShowsOnItsSideOnly) {
    const std::string doc = page("<td class=comform>a</td>");
    struct Case {
        const char* name;
        std::vector<std::string> replies;
        std::string oldStored, newStored;
    };
    const Case cases[] = {
        {"old", notServed(kOldLib) + served(kNewLib, kCodMember, doc), kMissing, ""},
        {"new", served(kOldLib, kCodMember, doc) + notServed(kNewLib), "", kMissing},
        {"both", notServed(kOldLib) + notServed(kNewLib), kMissing, kMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Comparison got = compare(c.replies);
        EXPECT_EQ(got.result, CompareDocsResult::kDiffers);
        EXPECT_EQ(got.oldStored, c.oldStored);
        EXPECT_EQ(got.newStored, c.newStored);
        EXPECT_EQ(got.resultsSize, c.oldStored.size() + c.newStored.size());
        // The report, not the request's error, tells of the missing document.
        EXPECT_EQ(got.requestError, "");
    }
}

TEST_F(CPodCmpServed, NeitherCodNorPodIsRefusedBeforeAnyCommand) {
    const Comparison got = compare({}, "1/15431-CRA 119 00001 Uen A", "1/15431-CRA 119 00001 Uen B");
    EXPECT_EQ(got.result, CompareDocsResult::kError);
    CapturedRequest req;
    EXPECT_EQ(got.error, req->msg(180, "cpodcmp/1").text());
    EXPECT_LE(got.error.size(), kCPodErrorMax);
    EXPECT_EQ(got.sent, "");
}

TEST_F(CPodCmpServed, ChangedPairCostsSixCommandsAndLeavesThePageStateAlone) {
    ScriptedPeer peer(
        {test::replyScript(pair(page("<td class=comform>a</td>"), page("<td class=comform>b</td>")))});
    ASSERT_TRUE(peer.ok());
    {
        CapturedRequest req;
        req->docServAddr = "127.0.0.1:" + std::to_string(peer.port());
        ASSERT_EQ(req->createDefaultSession(), 1);
        req->docCTime = 42;
        req->mimeType = "text/plain";
        req->mimeFilename = "compare.html";
        req->folder = 3;
        auto cp = NewCPodCmp(*req);
        ASSERT_NE(cp, nullptr);
        EXPECT_EQ(cp->compareDocs(kOldLib, kNewLib, kCodDocno, kCodDocno, "o1", "n1"),
                  CompareDocsResult::kDiffers);
        EXPECT_EQ(req->docCTime, 42);
        EXPECT_EQ(req->mimeType, "text/plain");
        EXPECT_EQ(req->mimeFilename, "compare.html");
        EXPECT_EQ(req->folder, 3);
    }
    peer.stop();
    EXPECT_EQ(test::beforeQuit(peer.received(0)),
              fetchLines(kOldLib, kCodMember) + fetchLines(kNewLib, kCodMember));
}

}  // namespace
}  // namespace ruva
