#include "bmod/ruvaserv/output/htmloutput.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bmod/ruvaserv/output/kvooutput.h"
#include "tests/bmod/ruvaserv/cgi/request_support.h"
#include "tests/bmod/ruvaserv/output/htmloutput_test_data.h"

namespace ruva {
namespace {

// A writer over a request's document buffer; fields set before writing.
class ListPage {
public:
    ListPage() {
        ao_.kvoSetOutput(req_.get(), KVO_OUT_INTERNAL);
        EXPECT_EQ(ao_.kvoOpenOutput(0), kKvoOpenOk);
        fmt_ = newKvoHtmlFormat(&ao_);
    }
    void field(const char* name, const char* value) { req_.field(name, value); }
    KvoFormat& fmt() { return *fmt_; }
    std::string page() const { return std::string(req_->docBuf, req_->docSize); }

private:
    test::CapturedRequest req_;
    KvoOutput ao_{0};
    std::unique_ptr<KvoFormat> fmt_;
};

struct Field {
    const char* name;
    const char* value;
};

std::string frame(const char* style, const char* body, const char* meta = "") {
    return std::string(test::kHeadStart) + "List</title>\n" + meta + style + body + test::kCloseDoc;
}

TEST(HtmlOutput, PageFramesMatchTheirMode) {
    const std::string searchHead = std::string(test::kStyleSearchFixed) + "</head>";
    std::string collectionHead = searchHead;
    for (const auto& v : test::kCollectionValues) {
        const std::size_t at = collectionHead.find(v[0]);
        ASSERT_NE(at, std::string::npos) << v[0];
        collectionHead.replace(at, std::strlen(v[0]), v[1]);
    }
    struct Case {
        const char* name;
        std::vector<Field> fields;
        const char* langCode;
        std::string expected;
    } cases[] = {
        {"plain page", {}, nullptr, frame(test::kStylePlain, test::kPlainBody)},
        {"search action, fixed head",
         {{"AC", "search"}},
         nullptr,
         frame(searchHead.c_str(), test::kSearchBody)},
        {"collection mode",
         {{"AC", "SEARCHEXT"}, {"SL", "x"}},
         nullptr,
         frame(collectionHead.c_str(), test::kSearchBody)},
        {"document search: plain body",
         {{"AC", "SEARCH"}, {"ST", "DocSearch"}},
         nullptr,
         frame(searchHead.c_str(), test::kPlainBody)},
        {"catchword alone: plain body", {{"CW", "x"}}, nullptr, frame(searchHead.c_str(), test::kPlainBody)},
        {"Japanese", {}, "uJA", frame(test::kStylePlain, test::kPlainBody, test::kEucJpMeta)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ListPage p;
        for (const Field& f : c.fields) p.field(f.name, f.value);
        EXPECT_EQ(p.fmt().openDoc("List", c.langCode), 1);
        EXPECT_EQ(p.fmt().closeDoc(), 1);
        EXPECT_EQ(p.page(), c.expected);
    }
}

TEST(HtmlOutput, TitleMarkupIsEscapedButEntitiesStay) {
    ListPage p;
    p.fmt().openDoc("<script>\"R&amp;D\"", nullptr);
    EXPECT_NE(p.page().find("<title>&lt;script&gt;&quot;R&amp;D&quot;</title>\n"), std::string::npos);
}

TEST(HtmlOutput, ComparisonRowGolden) {
    ListPage p;
    EXPECT_EQ(p.fmt().writeDocRow("lib2", "1551-ABC10101Uen.A.pdf", 0, nullptr, "Guide", "", "", 0, 0, 0), 0);
    EXPECT_EQ(p.page(), test::kPdfRow);
}

struct RowCase {
    const char* name;
    std::vector<Field> fields;
    const char* db;
    const char* fn;
    int toolbar;
    int force_icon;
    int searchType;
    std::uint16_t flags;
    const char* engtitle;
    const char* synopsis;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

constexpr char kStem[] = "1551-ABC10101Uen";

std::string icon(int id, const char* text) {
    return "IM=" + std::to_string(id) + "\" alt=\"" + text + "\" title=\"" + text + "\"/>";
}

TEST(HtmlOutput, DocumentRowCases) {
    const std::string pdf = std::string(kStem) + ".A.pdf";
    const std::string pdfUpper = std::string(kStem) + ".A.PDF";
    const std::string htm = std::string(kStem) + ".A.htm";
    const std::string html = std::string(kStem) + ".A.html";
    const std::string star = std::string(kStem) + ".A.*";
    const std::string bare = std::string(kStem) + ".A";
    const std::string gif = std::string(kStem) + ".A.gif";
    const std::string folder = std::string("h") + kStem + ".A.pdf";
    const std::vector<Field> fullText = {{"PA", "a b"}, {"ST", "FullText"}};
    const RowCase cases[] = {
        {"forced new", {}, "lib2", pdf.c_str(), 0, '1', 0, 0, "", "", {icon(21, "New document")}, {}},
        {"forced changed new",
         {},
         "lib2",
         pdf.c_str(),
         0,
         '2',
         0,
         0,
         "",
         "",
         {icon(23, "Changed document (new)")},
         {}},
        {"forced removed", {}, "lib2", pdf.c_str(), 0, '3', 0, 0, "", "", {icon(22, "Removed document")}, {}},
        {"forced changed old",
         {},
         "lib2",
         pdf.c_str(),
         0,
         '6',
         0,
         0,
         "",
         "",
         {icon(24, "Changed document (old)")},
         {}},
        {"other force counts as none",
         {},
         "lib2",
         pdf.c_str(),
         0,
         '9',
         0,
         0,
         "",
         "",
         {icon(12, "PDF document")},
         {}},
        {"pdf", {}, "lib2", pdf.c_str(), 0, 0, 0, 0, "", "", {icon(12, "PDF document")}, {}},
        {"htm", {}, "lib2", htm.c_str(), 0, 0, 0, 0, "", "", {icon(10, "HTML document")}, {}},
        {"html", {}, "lib2", html.c_str(), 0, 0, 0, 0, "", "", {icon(10, "HTML document")}, {}},
        {"star", {}, "lib2", star.c_str(), 0, 0, 0, 0, "", "", {icon(10, "HTML document")}, {}},
        {"no type", {}, "lib2", bare.c_str(), 0, 0, 0, 0, "", "", {icon(10, "HTML document")}, {}},
        {"gif", {}, "lib2", gif.c_str(), 0, 0, 0, 0, "", "", {icon(11, "Multimedia document")}, {}},
        {"folder whatever its type",
         {},
         "lib2",
         folder.c_str(),
         0,
         0,
         0,
         0,
         "",
         "",
         {icon(105, "Folder")},
         {}},
        {"library id", {}, "123", pdf.c_str(), 0, 0, 0, 0, "", "", {"AC=LINK&amp;ID=123&amp;FN="}, {}},
        {"library name", {}, "lib2", pdf.c_str(), 0, 0, 0, 0, "", "", {"AC=LINK&amp;DB=lib2&amp;FN="}, {}},
        {"empty library is an id", {}, "", pdf.c_str(), 0, 0, 0, 0, "", "", {"AC=LINK&amp;ID=&amp;FN="}, {}},
        {"toolbar", {}, "lib2", pdf.c_str(), 1, 0, 0, 0, "", "", {"AC=LINKEXT&amp;DB=lib2"}, {}},
        {"match anchor",
         fullText,
         "lib2",
         htm.c_str(),
         0,
         0,
         0,
         kKvoFormatMatchAnchor,
         "",
         "",
         {"&amp;PA=a+b&amp;ST=FullText#SearchMatch1\">"},
         {}},
        {"match anchor without type",
         fullText,
         "lib2",
         bare.c_str(),
         0,
         0,
         0,
         kKvoFormatMatchAnchor,
         "",
         "",
         {"#SearchMatch1\">"},
         {}},
        {"no anchor into a PDF",
         fullText,
         "lib2",
         pdfUpper.c_str(),
         0,
         0,
         0,
         kKvoFormatMatchAnchor,
         "",
         "",
         {"&amp;PA=a+b&amp;ST=FullText\">"},
         {"#SearchMatch1"}},
        {"no anchor without the flag",
         fullText,
         "lib2",
         htm.c_str(),
         0,
         0,
         0,
         0,
         "",
         "",
         {"&amp;PA=a+b&amp;ST=FullText\">"},
         {"#SearchMatch1"}},
        {"title hit word",
         fullText,
         "lib2",
         htm.c_str(),
         0,
         0,
         kSearchTypeTitle,
         kKvoFormatMatchAnchor,
         "",
         "",
         {"&amp;PA=a+b&amp;ST=Title\">"},
         {"#SearchMatch1"}},
        {"PA without ST",
         {{"PA", "a b"}},
         "lib2",
         htm.c_str(),
         0,
         0,
         0,
         0,
         "",
         "",
         {"FN=1551-ABC10101Uen.A.htm\">&nbsp;<img"},
         {"PA="}},
        {"synopsis of 6 left out", {}, "lib2", pdf.c_str(), 0, 0, 0, 0, "", "abcdef", {}, {"abcdef", "<i>"}},
        {"synopsis of 7 written as given",
         {},
         "lib2",
         pdf.c_str(),
         0,
         0,
         0,
         0,
         "",
         "a <b>c</b>",
         {"<font size=\"2\"><i>a <b>c</b></i></font></td>"},
         {}},
        {"no grey line without engtitle", {}, "lib2", pdf.c_str(), 0, 0, 0, 0, "", "", {}, {"#505050"}},
        {"engtitle escaped",
         {},
         "lib2",
         pdf.c_str(),
         0,
         0,
         0,
         0,
         "<x> &amp;",
         "",
         {"<font color=\"#505050\">&lt;x&gt; &amp;</font></a>"},
         {}},
        {"identity",
         {},
         "lib2",
         pdf.c_str(),
         0,
         0,
         0,
         0,
         "",
         "",
         {">1551-ABC 101 01 Uen&nbsp;A</td>\n</tr>\n"},
         {}},
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(c.name);
        ListPage p;
        for (const Field& f : c.fields) p.field(f.name, f.value);
        p.fmt().flags = c.flags;
        EXPECT_EQ(p.fmt().writeDocRow(c.db, c.fn, c.toolbar, nullptr, "Guide", c.engtitle, c.synopsis,
                                      c.searchType, 0, c.force_icon),
                  0);
        const std::string page = p.page();
        for (const std::string& s : c.present)
            EXPECT_NE(page.find(s), std::string::npos) << s << "\n" << page;
        for (const std::string& s : c.absent) EXPECT_EQ(page.find(s), std::string::npos) << s << "\n" << page;
    }
}

TEST(HtmlOutput, NameThatDoesNotSplitWritesNothing) {
    ListPage p;
    EXPECT_EQ(p.fmt().writeDocRow("lib2", "nodots", 0, nullptr, "Guide", "", "", 0, 1, 0), 0);
    EXPECT_EQ(p.page(), "");
}

TEST(HtmlOutput, HeaderWritersKeepTextExactly) {
    using Writer = std::function<int(KvoFormat&, const char*)>;
    const struct {
        const char* name;
        Writer write;
    } writers[] = {
        {"main", [](KvoFormat& f, const char* s) { return f.writeMainHeader(s); }},
        {"listing", [](KvoFormat& f, const char* s) { return f.writeListingHeader(s); }},
        {"search", [](KvoFormat& f, const char* s) { return f.writeListingHeaderSearch(s, 3); }},
    };
    for (const auto& w : writers) {
        for (const char* text : {"100% done", "%s%n%x", "a%%b"}) {
            SCOPED_TRACE(std::string(w.name) + " " + text);
            ListPage p;
            EXPECT_EQ(w.write(p.fmt(), text), 1);
            const std::string page = p.page();
            EXPECT_NE(page.find(std::string(">") + text + "</"), std::string::npos) << page;
            EXPECT_NE(page.find("width=\"100%\""), std::string::npos) << page;
            EXPECT_EQ(page.find("100%%"), std::string::npos) << page;
        }
    }
}

TEST(HtmlOutput, FixedWritersGolden) {
    using Write = std::function<void(KvoFormat&)>;
    const struct {
        const char* name;
        Write write;
        const char* expected;
    } cases[] = {
        {"closeDoc", [](KvoFormat& f) { f.closeDoc(); }, "<hr size=\"1\">\n</body></html>\n"},
        {"openList", [](KvoFormat& f) { f.openList(); },
         "<table width=\"100%\" border=\"0\" cellspacing=\"1\" cellpadding=\"1\">\n"},
        {"closeList", [](KvoFormat& f) { f.closeList(); }, "</table>"},
        {"list symbol", [](KvoFormat& f) { f.setListSymbol("ffffde"); },
         "<td bgcolor=\"#ffffde\">&nbsp;</td>"},
        {"list cell", [](KvoFormat& f) { f.startList(), f.stopList(); }, "<td><pre></pre></td>"},
        // Only 1 picks the second shade.
        {"row shades", [](KvoFormat& f) { f.startRow(0), f.startRow(1), f.startRow(2); },
         "<tr class=\"b1\">\n<tr class=\"b2\">\n<tr class=\"b1\">\n"},
        {"stopRow", [](KvoFormat& f) { f.stopRow(); }, "</tr>\n"},
        {"row text verbatim", [](KvoFormat& f) { f.writeRow("a%b"); }, "a%b"},
        {"table cell row verbatim", [](KvoFormat& f) { f.writeTableCellRow("x 100% y"); },
         "<tr><td colspan=\"3\" bgcolor=\"fcfcfc\"><table width=\"100%\"><tr><td width=\"20\"></td><td>x "
         "100% y"
         "</td></tr></table></td></tr>\n"},
        {"header", [](KvoFormat& f) { f.startHeader("h2"), f.stopHeader("h2"); },
         "\n<h2>&nbsp;&nbsp;</h2>\n"},
        {"centred header",
         [](KvoFormat& f) {
             f.flags = kKvoFormatCenter;
             f.startHeader("h2");
         },
         "\n<h2 align=center>&nbsp;&nbsp;"},
        {"sub header centred", [](KvoFormat& f) { f.writeSubHeader("S%d", "h3", 1); },
         "\n<h3 align=center>&nbsp;&nbsp;S%d</h3>\n"},
        {"sub header clears centre",
         [](KvoFormat& f) {
             f.flags = kKvoFormatCenter;
             f.writeSubHeader("S", "h3", 0);
         },
         "\n<h3>&nbsp;&nbsp;S</h3>\n"},
        {"two-part header", [](KvoFormat& f) { f.write2partHeader("A", "B", 0); },
         "\n<p>&nbsp;&nbsp;<b>A</b> B</p>\n"},
        {"divider", [](KvoFormat& f) { f.writeHorizontalDivider(); }, "<hr size=\"1\" class=\"hr\" />"},
        {"compare header: new library first",
         [](KvoFormat& f) { f.writeCompareHeader("Old [O]", "New [N]"); },
         "<tr>\n<td colspan=\"2\" bgcolor=\"#fcfcfc\" align=\"center\">\n"
         "<table border=\"0\" cellspacing=\"2\" cellpadding=\"0\">\n"
         "<tr><td colspan=\"2\" height=\"6\"></td></tr>\n<tr>\n"
         "<td class=\"c4\">Changes in new library</td>\n"
         "<td class=\"c4\" align=\"left\"><b><font color=\"#666666\">&nbsp; New [N]</font></b></td>\n</tr>\n"
         "<tr><td class=\"c4\">compared to old library</td>\n"
         "<td class=\"c4\" align=\"left\"><b><font color=\"#666666\">&nbsp; Old [O]</font></b></td>\n</tr>\n"
         "<tr><td colspan=\"2\" height=\"6\"></td></tr>\n</table>\n</td>\n</tr>\n"},
        {"listing sub header", [](KvoFormat& f) { f.writeListingSubHeader("L", 0); },
         "<tr height=\"35\"><td colspan=\"2\" bgcolor=\"#e5e5e5\" class=\"c2\" >\n<b>&nbsp; "
         "L</b></td></tr>\n"},
        {"listing sub header centred", [](KvoFormat& f) { f.writeListingSubHeader("L", 1); },
         "<tr height=\"35\"><td colspan=\"2\" bgcolor=\"#e5e5e5\" class=\"c2\" align=\"center\">\n"
         "<b>&nbsp; L</b></td></tr>\n"},
        {"listing head titles", [](KvoFormat& f) { f.writeListingHeadTitles(); },
         "<tr bgcolor=\"#e5e5e5\">\n<td width=\"70%\" class=\"c3\" height=\"22\">Title</td>\n"
         "<td width=\"30%\" class=\"c3\" height=\"22\">Identity</td>\n</tr>\n"
         "<tr><td height=\"2\" colspan=\"2\"></td></tr>\n"},
        {"inter header: refine phrase in any case",
         [](KvoFormat& f) {
             f.writeListingInterHeader("12 hits",
                                       " - PLEASE refine the search or use the advanced search FORM", 1);
         },
         "<tr><td height=\"11\" colspan=\"4\"></td></tr>\n<tr bgcolor=\"#e5e5e5\">\n"
         "<td colspan=\"4\" class=\"c4\" height=\"22\"><b> 12 hits</b> &nbsp; &nbsp; - please refine the "
         "search or "
         "use <a href='javascript:top.selFunc(\"advsearch\")'>the Advanced Search form</a></td>\n</tr>\n"},
        {"inter header: other text", [](KvoFormat& f) { f.writeListingInterHeader("A", "B", 0); },
         "<tr bgcolor=\"#e5e5e5\">\n<td colspan=\"4\" class=\"c4\" height=\"22\"><b> A</b> &nbsp; "
         "&nbsp;B</td>\n</tr>\n"},
        {"blank row", [](KvoFormat& f) { f.writeBlankRow(); },
         "<tr bgcolor=\"#fcfcfc\">\n<td colspan=\"3\" height=\"22\">&nbsp;</td>\n</tr>\n"},
        {"unknown type", [](KvoFormat& f) { f.setHtmlDocType("ZUnknown"); }, "<td class=\"c1\"></td>\n"},
        {"type", [](KvoFormat& f) { f.setHtmlDocType("Description"); },
         "<td class=\"c1\">Description</td>\n"},
        {"note cell without notes", [](KvoFormat& f) { f.setHtmlDocNote("lib2", "1551-ABC10101Uen.A", 0); },
         "<td class=\"sh1_nt\"></td>\n"},
        {"note cell", [](KvoFormat& f) { f.setHtmlDocNote("lib2", "1551-ABC10101Uen.A", 1); },
         "<td class=\"sh1_nt\"><a href=\"javascript: "
         "top.createlistwindow('qzl:/kivo?AC=NOTELI&FN=1551-ABC10101Uen.A"
         "&DB=lib2')\" title=\"List all Notes in this document\"><img "
         "src=\"qzl:/kivo?VR=R19K&amp;AC=tbimg&amp;IM=133\" "
         "title=\"List all Notes in this document\" width=\"17\" height=\"16\"/></a></td>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ListPage p;
        c.write(p.fmt());
        EXPECT_EQ(p.page(), c.expected);
    }
}

TEST(HtmlOutput, BufferEstimate) {
    ListPage p;
    EXPECT_EQ(p.fmt().estimateBufferSize(0), 4000u);
    EXPECT_EQ(p.fmt().estimateBufferSize(3), 7000u);
}

TEST(HtmlOutput, IconPathsGoToEveryEntryOfTheId) {
    ListPage p;
    p.fmt().setKvoHtmlIcon(10, "/img/html.gif");
    EXPECT_EQ(p.fmt().iconTable[kIconHtml].physicalPath, "/img/html.gif");
    EXPECT_EQ(p.fmt().iconTable[3].physicalPath, "/img/html.gif");
    EXPECT_FALSE(p.fmt().iconTable[kIconPdf].physicalPath.has_value());
}

// Library values cannot close the link's attribute.
TEST(HtmlOutput, HostileRowValuesStayInsideTheLink) {
    ListPage p;
    p.field("PA", "\"><img src=x onerror=alert(1)>");
    p.field("ST", "FullText'\"<>");
    EXPECT_EQ(p.fmt().writeDocRow("x\"><script>", "1551-ABC10101Uen.A.htm", 0, nullptr, "</script>\"t'",
                                  "<img src=x onerror=alert(1)>", "", 0, 0, 0),
              0);
    const std::string page = p.page();
    EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
    EXPECT_EQ(page.find("</script>"), std::string::npos) << page;
    EXPECT_EQ(page.find("<img src=x"), std::string::npos) << page;
    const std::size_t href = page.find("href=\"") + 6;
    const std::string link = page.substr(href, page.find('"', href) - href);
    EXPECT_EQ(link.find_first_of("'<>\\"), std::string::npos) << link;
    EXPECT_NE(link.find("&amp;PA="), std::string::npos) << link;
}

}  // namespace
}  // namespace ruva
