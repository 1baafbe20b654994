#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "tests/bmod/ruvaserv/sgml/sgml_rows.h"

namespace ruva {
namespace {

using test::NodeRow;
using test::openTagRow;
using test::printed;
using test::tagRow;
using test::textRow;

NodeRow attrRow(const char* name) { return {SPS_TAGATTRNAME, name}; }
NodeRow valueRow(const char* value, uint16_t flags = kNodeQuoted) { return {SPS_TAGATTRVALUE, value, flags}; }

// The rows printed through the hook on a fresh scanner.
std::string printedXhtml(const std::vector<NodeRow>& rows) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    for (const NodeRow& r : rows) {
        SgmlNode* n = ss->appendSgmlNode(list.get(), r.state, r.value);
        if (!n) return "<no node>";
        n->flags = r.flags;
    }
    ss->appendSgmlNode(list.get(), SPS_EOF, nullptr);
    ss->validate = xhtmlValidate;
    return printed(ss.get(), list.get());
}

TEST(XhtmlValidate, PrintsWellFormedMarkup) {
    struct Case {
        const char* name;
        std::vector<NodeRow> rows;
        const char* expected;
    };
    const Case cases[] = {
        {"list items closed",
         {tagRow("UL"), tagRow("LI"), textRow("x"), tagRow("LI"), textRow("y"), tagRow("/UL")},
         "<ul><li>x</li><li>y</li></ul>"},
        {"definition list",
         {tagRow("DL"), tagRow("DT"), textRow("t"), tagRow("DD"), textRow("d"), tagRow("DT"), textRow("u"),
          tagRow("/DL")},
         "<dl><dt>t</dt><dd>d</dd><dt>u</dt></dl>"},
        {"end tag closes the inner element",
         {tagRow("p"), tagRow("b"), textRow("x"), tagRow("/p")},
         "<p><b>x</b></p>"},
        {"block closes a paragraph",
         {tagRow("P"), textRow("a"), tagRow("DIV"), textRow("b"), tagRow("/DIV")},
         "<p>a</p><div>b</div>"},
        {"stray end tag dropped with its >",
         {textRow("a"), tagRow("/b"), textRow("c"), tagRow("i"), tagRow("/u"), tagRow("/i")},
         "ac<i></i>"},
        {"an element left open is not closed by the hook", {tagRow("div"), textRow("x")}, "<div>x"},
        {"empty elements",
         {tagRow("BR"), openTagRow("IMG"), attrRow("SRC"), valueRow("x", kNodeQuoted | kNodeTagEnd), tagRow("/BR"),
          tagRow("p"), tagRow("hr"), tagRow("/p")},
         "<br /><img src=\"x\" /><p></p><hr />"},
        {"a link closed by \"/\" after its value stays open up to its parent's end",
         {tagRow("body"), openTagRow("a"), attrRow("href"), valueRow("x", kNodeQuoted | kNodeTagEnd | kNodeEmptyTag),
          textRow("t"), tagRow("/body")},
         "<body><a href=\"x\">t</a></body>"},
        {"attribute names lower-cased",
         {openTagRow("A"), attrRow("HREF"), valueRow("X"), attrRow("Class"), valueRow("c", kNodeTagEnd),
          textRow("t"), tagRow("/A")},
         "<a href=\"X\" class=\"c\">t</a>"},
        {"comments, declarations and processing instructions pass",
         {openTagRow("!--"), {SPS_COMMENT, " C ", kNodeTagEnd}, openTagRow("?PI"), attrRow("A"),
          valueRow("1", kNodeQuoted | kNodeTagEnd), tagRow("EM"), tagRow("/em")},
         "<!-- C --><?PI a=\"1\"?><em></em>"},
        {"table parts",
         {tagRow("table"), tagRow("caption"), tagRow("/caption"), tagRow("tr"), tagRow("td"), tagRow("div"),
          tagRow("/div"), tagRow("td"), tagRow("/table")},
         "<table><caption></caption><tr><td><div></div></td><td></td></tr></table>"},
        {"pre holds only its own content",
         {tagRow("pre"), tagRow("b"), tagRow("/b"), tagRow("big"), tagRow("/big")},
         "<pre><b></b></pre><big></big>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printedXhtml(c.rows), c.expected);
    }
}

TEST(XhtmlValidate, ForbiddenFollowsTheContentModels) {
    struct Case {
        const char* parent;  // null: no open element
        const char* tag;
        int forbidden;
    };
    const Case cases[] = {
        {nullptr, "div", 0},      {nullptr, "/div", 0},  {"p", "div", 1},       {"p", "span", 0},
        {"p", "script", 0},       {"p", "/p", 0},        {"p", "/div", 1},      {"caption", "table", 1},
        {"dt", "em", 0},          {"dt", "dd", 1},       {"dd", "form", 0},     {"dd", "dt", 1},
        {"li", "ul", 0},          {"li", "li", 1},       {"td", "h1", 0},       {"th", "tr", 1},
        {"dl", "dt", 0},          {"dl", "dd", 0},       {"dl", "p", 1},        {"tr", "td", 0},
        {"tr", "th", 0},          {"tr", "tr", 1},       {"table", "caption", 0}, {"table", "colgroup", 0},
        {"table", "col", 0},      {"table", "div", 0},   {"table", "td", 1},    {"table", "tbody", 0},
        {"table", "center", 1},   {"pre", "img", 1},     {"pre", "tt", 0},      {"pre", "input", 0},
        {"pre", "em", 0},         {"pre", "big", 1},     {"div", "anything", 0}, {"ul", "p", 0},
        {"p", "DIV", 1},  // names compare exactly: the hook lower-cases first
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.parent ? c.parent : "(none)") + " > " + c.tag);
        ParentNode parent;
        if (c.parent) parent.name = c.parent;
        EXPECT_EQ(xhtmlForbidden(c.parent ? &parent : nullptr, c.tag), c.forbidden);
    }
}

TEST(XhtmlValidate, OpenElementsCarryOverToTheNextPrint) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    ss->validate = xhtmlValidate;
    auto open = test::listOfRows(ss.get(), {tagRow("DIV"), tagRow("B"), textRow("x")});
    auto close = test::listOfRows(ss.get(), {tagRow("/DIV")});
    EXPECT_EQ(printed(ss.get(), open.get()), "<div><b>x");
    ASSERT_TRUE(ss->lastStartTag);
    EXPECT_EQ(ss->lastStartTag->name, "b");
    EXPECT_EQ(printed(ss.get(), close.get()), "</b></div>");
    EXPECT_EQ(ss->lastStartTag, nullptr);
    // The tag name itself was lower-cased in place.
    EXPECT_STREQ(open->firstNode->text(), "div");
}

}  // namespace
}  // namespace ruva
