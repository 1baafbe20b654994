#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bmod/ruvaserv/sgml/sgmlscanner.h"
#include "tests/bmod/ruvaserv/sgml/sgml_rows.h"

namespace ruva {
namespace {

using test::listOfRows;
using test::NodeRow;
using test::openTagRow;
using test::printed;
using test::tagRow;
using test::textRow;

std::string tagged(const std::string& text, const char* tag) {
    return text + "<span style='color:#D8D8D8'> [" + tag + "]</span>";
}

// The states and values from node on, up to the EOF node: "3:a 2:x ...".
std::string rowsFrom(const SgmlNode* node) {
    std::string out;
    for (; node && node->state != SPS_EOF; node = node->next) {
        if (!out.empty()) out += ' ';
        out += std::to_string(node->state) + ":" + (node->text() ? node->text() : "(null)");
    }
    return out;
}

class SgmlTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        ss = newSgmlScanner(0);
        ASSERT_TRUE(ss);
    }
    std::unique_ptr<SgmlScanner> ss;
};

TEST_F(SgmlTextTest, ContainerTextJoinsTheElementsTexts) {
    struct Case {
        const char* name;
        std::vector<NodeRow> rows;  // from the start tag <t> on
        std::optional<std::string> expected;
    };
    const std::string longTitle(5000, 'x');
    const Case cases[] = {
        {"blank begins the second text", {textRow("Hello"), textRow(" world")}, "Hello world"},
        {"text split by tags",
         {textRow("Hello "), tagRow("b"), textRow("big"), tagRow("/b"), textRow("world")},
         "Hello big world"},
        {"a tag adds a blank", {textRow("a"), tagRow("br"), textRow("b")}, "a b"},
        {"a processing instruction adds none", {textRow("a"), tagRow("?pi"), textRow("b")}, "ab"},
        {"texts that touch stay joined", {textRow("ab"), textRow("cd")}, "abcd"},
        {"controls dropped, line feeds one blank", {textRow("\n line\tone\nline two \n")}, "lineone line two"},
        {"no text", {}, std::nullopt},
        {"only blanks and line feeds", {textRow(" \n "), tagRow("b"), tagRow("/b"), textRow("\n")}, std::nullopt},
        {"cut at 4095", {textRow(longTitle.c_str()), textRow(" more")}, std::string(4095, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<NodeRow> rows = {tagRow("T")};
        rows.insert(rows.end(), c.rows.begin(), c.rows.end());
        rows.push_back(tagRow("/t"));
        rows.push_back(textRow("after"));
        std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
        ASSERT_TRUE(list);
        for (const NodeRow& r : rows) {
            SgmlNode* n = ss->appendSgmlNode(list.get(), r.state, r.value);
            ASSERT_TRUE(n);
            n->flags = r.flags;
        }
        ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_EOF, nullptr));
        SgmlNode* node = list->firstNode;
        std::optional<std::string> text = ss->getContainerText(list.get(), &node, "T");
        EXPECT_EQ(text, c.expected);
        if (c.expected) {
            EXPECT_EQ(node->state, SPS_FREETEXT) << "node is the last text used";
        }
    }
}

TEST_F(SgmlTextTest, ContainerTextEndsAtItsEndTagCaseBlind) {
    auto list = listOfRows(ss.get(), {tagRow("TITLE"), textRow("Hello"), textRow(" world"), tagRow("/Title"),
                                      textRow("not this")});
    ASSERT_TRUE(list);
    SgmlNode* node = list->firstNode;
    EXPECT_EQ(ss->getContainerText(list.get(), &node, "title"), "Hello world");
    EXPECT_STREQ(node->text(), " world");
}

TEST_F(SgmlTextTest, WithoutEndNodeTheFirstUsableTextIsTaken) {
    // A lone line feed is not yet the text; "Title" is.
    auto list = listOfRows(ss.get(), {textRow("\n"), textRow("Title"), textRow("next")});
    ASSERT_TRUE(list);
    SgmlNode* node = list->firstNode;
    EXPECT_EQ(ss->getContainerTextEndNode(list.get(), &node, nullptr), "Title");
    EXPECT_STREQ(node->text(), "Title");

    // A missing end tag means no end node.
    node = list->firstNode;
    EXPECT_EQ(ss->getContainerText(list.get(), &node, "title"), "Title");
}

TEST_F(SgmlTextTest, BoundedFirstTextStaysInsideItsElement) {
    // <P></P><P>next</P>: the empty P has no text of its own.
    auto list = listOfRows(ss.get(), {tagRow("P"), tagRow("/P"), tagRow("P"), textRow("next"), tagRow("/P")});
    ASSERT_TRUE(list);
    SgmlNode* start = list->firstNode;
    SgmlNode* end = start->next;
    SgmlNode* node = start;
    EXPECT_EQ(ss->getContainerTextEndNode(list.get(), &node, end, true), std::nullopt);
    EXPECT_EQ(node, start) << "node stays when no text was used";

    // <TITLE>\nFirst<B>x</B>more</TITLE>: the first usable text, not the rest.
    list = listOfRows(ss.get(), {tagRow("TITLE"), textRow("\n"), textRow("First"), tagRow("B"), textRow("x"),
                                 tagRow("/B"), textRow("more"), tagRow("/TITLE")});
    ASSERT_TRUE(list);
    end = list->firstNode;
    while (end->next && end->next->state != SPS_EOF) end = end->next;
    node = list->firstNode;
    EXPECT_EQ(ss->getContainerTextEndNode(list.get(), &node, end, true), "First");
    EXPECT_STREQ(node->text(), "First");
    node = list->firstNode;
    EXPECT_EQ(ss->getContainerTextEndNode(list.get(), &node, end), "First x more") << "the whole walk is unchanged";
}

TEST_F(SgmlTextTest, ContainerTextSkipsAnIgnoredMarkedSection) {
    // <t><![ IGNORE [ hidden <b>x</b> ]]>shown</t>, levels as scanned.
    auto list = listOfRows(ss.get(), {
                                         tagRow("t"),
                                         openTagRow("!["),
                                         {SPS_DECLNAME, "Ignore"},
                                         {SPS_DECLTYPE, ""},
                                         {SPS_FREETEXT, " hidden ", 0x38, 2},
                                         {SPS_TAGNAME, "b", 0x08, 2},
                                         {SPS_FREETEXT, "x", 0, 2},
                                         {SPS_TAGNAME, "/b", 0x08, 2},
                                         {SPS_FREETEXT, " ", 0x08, 2},
                                         {SPS_FREETEXT, "shown", 0x10, 0},
                                         tagRow("/t"),
                                     });
    ASSERT_TRUE(list);
    SgmlNode* node = list->firstNode;
    EXPECT_EQ(ss->getContainerText(list.get(), &node, "t"), "shown");
    node = list->firstNode;
    EXPECT_EQ(ss->getContainerTextEndNode(list.get(), &node, nullptr), "shown");
}

TEST_F(SgmlTextTest, GetAttrLooksOnlyInsideItsTag) {
    // <a name="x" Href><b href="y">
    auto list = listOfRows(ss.get(), {
                                         openTagRow("a"),
                                         {SPS_TAGATTRNAME, "name"},
                                         {SPS_TAGATTRVALUE, "x", kNodeQuoted},
                                         {SPS_TAGATTRNAME, "Href", kNodeTagEnd},
                                         openTagRow("b"),
                                         {SPS_TAGATTRNAME, "href"},
                                         {SPS_TAGATTRVALUE, "y", kNodeQuoted | kNodeTagEnd},
                                     });
    ASSERT_TRUE(list);
    SgmlNode* a = list->firstNode;
    SgmlNode* node = a;
    EXPECT_EQ(ss->getAttr(&node, "HREF"), nullptr) << "a valueless attribute and the next tag's do not count";
    EXPECT_EQ(node, a);
    EXPECT_STREQ(ss->getAttr(&node, "NAME"), "x");
    EXPECT_EQ(node->state, SPS_TAGATTRVALUE);
    SgmlNode* b = a->next->next->next->next;
    node = b;
    EXPECT_STREQ(ss->getAttr(&node, "href"), "y");
    EXPECT_EQ(node, b->next->next);
}

TEST_F(SgmlTextTest, FindTagAttrSkipsATagWithoutTheAttribute) {
    // <A NAME="top">one</A><a HREF="target">two</a>
    auto list = listOfRows(ss.get(), {
                                         openTagRow("A"),
                                         {SPS_TAGATTRNAME, "NAME"},
                                         {SPS_TAGATTRVALUE, "top", kNodeQuoted | kNodeTagEnd},
                                         textRow("one"),
                                         tagRow("/A"),
                                         openTagRow("a"),
                                         {SPS_TAGATTRNAME, "HREF"},
                                         {SPS_TAGATTRVALUE, "target", kNodeQuoted | kNodeTagEnd},
                                         textRow("two"),
                                         tagRow("/a"),
                                     });
    ASSERT_TRUE(list);
    SgmlNode* node = nullptr;
    EXPECT_STREQ(ss->findTagAttr(list.get(), &node, "a", "href"), "target");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->state, SPS_TAGATTRVALUE);

    node = nullptr;
    EXPECT_STREQ(ss->findTag(list.get(), &node, "a"), "A");
    EXPECT_EQ(node, list->firstNode);
    // The search includes its start node.
    EXPECT_STREQ(ss->findTag(list.get(), &node, "a"), "A");
    EXPECT_EQ(node, list->firstNode);
    node = node->next;
    EXPECT_STREQ(ss->findTag(list.get(), &node, "A"), "a");

    node = nullptr;
    EXPECT_EQ(ss->findTagAttr(list.get(), &node, "a", "title"), nullptr);
    ASSERT_TRUE(node);
    EXPECT_EQ(node->state, SPS_EOF) << "left where the search stopped";
    EXPECT_EQ(ss->findTag(list.get(), nullptr, "none"), nullptr);
}

TEST_F(SgmlTextTest, SplitFreeTextMakesTwoTexts) {
    auto list = listOfRows(ss.get(), {tagRow("p"), {SPS_FREETEXT, "abcdef", kNodeTagEnd | kNodeLevelChange, 1}});
    ASSERT_TRUE(list);
    SgmlNode* p = list->firstNode;
    EXPECT_EQ(ss->splitFreeText(list.get(), p, 2), p);
    EXPECT_EQ(rowsFrom(list->firstNode), "3:p 2:ab 2:cdef");
    SgmlNode* first = p->next;
    SgmlNode* second = first->next;
    EXPECT_EQ(first->flags, kNodeLevelChange);
    EXPECT_EQ(second->flags, kNodeTagEnd) << "the closing marks go after the second part";
    EXPECT_EQ(second->level, 1);
    EXPECT_EQ(second->next->state, SPS_EOF);

    // The last linked node stays right when the text ends the list.
    auto bare = ss->newNodeList(0);
    SgmlNode* before = ss->appendSgmlNode(bare.get(), SPS_TAGNAME, "p");
    ASSERT_TRUE(ss->appendSgmlNode(bare.get(), SPS_FREETEXT, "xy"));
    ASSERT_EQ(ss->splitFreeText(bare.get(), before, 1), before);
    EXPECT_STREQ(bare->lastNode->text(), "y");
}

TEST_F(SgmlTextTest, SplitFreeTextRefusesBadNodesAndPositions) {
    auto list = listOfRows(ss.get(), {tagRow("p"), textRow("abc"), tagRow("/p")});
    ASSERT_TRUE(list);
    SgmlNode* p = list->firstNode;
    struct Case {
        SgmlNode* before;
        int position;
        std::string message;
    };
    const Case cases[] = {
        {p->next, 1, tagged("Failed with invalid node in function call.<br><br>", "sgmlscanner/32")},
        {nullptr, 1, tagged("Failed with invalid node in function call.<br><br>", "sgmlscanner/32")},
        {p, 0, tagged("Failed with invalid position 0 in function call.<br><br>", "sgmlscanner/33")},
        {p, 3, tagged("Failed with invalid position 3 in function call.<br><br>", "sgmlscanner/33")},
        {p, -1, tagged("Failed with invalid position -1 in function call.<br><br>", "sgmlscanner/33")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        ss->setError(nullptr);
        EXPECT_EQ(ss->splitFreeText(list.get(), c.before, c.position), nullptr);
        EXPECT_EQ(ss->getError(), c.message);
        EXPECT_EQ(rowsFrom(list->firstNode), "3:p 2:abc 3:/p");
    }
}

TEST_F(SgmlTextTest, SplitFreeTextForLinkWrapsTheRangeInALink) {
    struct Case {
        int start, end;
        const char* rows;
        const char* printed;
    };
    const Case cases[] = {
        {4, 13, "2:see  3:a 5:href 6:#c3 2:chapter 3 3:/a", "<p>see <a href=\"#c3\">chapter 3</a></p>"},
        {0, 3, "3:a 5:href 6:#c3 2:see 3:/a 2: chapter 3", "<p><a href=\"#c3\">see</a> chapter 3</p>"},
        {4, 11, "2:see  3:a 5:href 6:#c3 2:chapter 3:/a 2: 3", "<p>see <a href=\"#c3\">chapter</a> 3</p>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        auto list = listOfRows(ss.get(), {tagRow("p"), textRow("see chapter 3"), tagRow("/p")});
        ASSERT_TRUE(list);
        SgmlNode* p = list->firstNode;
        ASSERT_EQ(ss->splitFreeTextForLink(list.get(), p, "#c3", c.start, c.end), p) << ss->getError();
        EXPECT_EQ(rowsFrom(p->next), std::string(c.rows) + " 3:/p");
        EXPECT_EQ(printed(ss.get(), list.get()), c.printed);
    }
}

TEST_F(SgmlTextTest, SplitFreeTextForLinkGrowsAListShortOfRoom) {
    int growths = 0;
    ss->reallocCallback = [](SgmlScanner*, void* count) { ++*static_cast<int*>(count); };
    ss->clientData = &growths;
    auto list = listOfRows(ss.get(), {tagRow("p"), textRow("see chapter 3")}, 64);
    ASSERT_TRUE(list);
    while (list->pool->usedItems < list->capacity - 20) ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, ""));
    SgmlNode* p = list->firstNode;
    ASSERT_EQ(ss->splitFreeTextForLink(list.get(), p, "x", 4, 13), p) << ss->getError();
    EXPECT_EQ(growths, 1);
    EXPECT_STREQ(p->text(), "p") << "the node before stays where it was";
    EXPECT_EQ(rowsFrom(p), "3:p 2:see  3:a 5:href 6:x 2:chapter 3 3:/a");

    // A list that may not grow refuses and stays as it was.
    auto fixedScanner = newSgmlScanner(kScanFixedLists);
    auto fixed = listOfRows(fixedScanner.get(), {tagRow("p"), textRow("see chapter 3")}, 64);
    ASSERT_TRUE(fixed);
    while (fixed->pool->usedItems < fixed->capacity - 20)
        ASSERT_TRUE(fixedScanner->appendSgmlNode(fixed.get(), SPS_FREETEXT, ""));
    EXPECT_EQ(fixedScanner->splitFreeTextForLink(fixed.get(), fixed->firstNode, "x", 4, 13), nullptr);
    EXPECT_EQ(fixedScanner->getError(), tagged("Failed with SGML node list full, 64 nodes.<br><br>", "sgmlscanner/19"));
    EXPECT_EQ(rowsFrom(fixed->firstNode), "3:p 2:see chapter 3");
}

TEST_F(SgmlTextTest, SplitFreeTextForLinkRefusesBadInput) {
    auto list = listOfRows(ss.get(), {tagRow("p"), textRow("abc"), tagRow("/p")});
    ASSERT_TRUE(list);
    SgmlNode* p = list->firstNode;
    EXPECT_EQ(ss->splitFreeTextForLink(list.get(), p->next, "x", 0, 1), nullptr);
    EXPECT_EQ(ss->getError(), tagged("Failed with invalid node in function call.<br><br>", "sgmlscanner/35"));
    // A range outside the text would copy bytes that are not there.
    EXPECT_EQ(ss->splitFreeTextForLink(list.get(), p, "x", 1, 4), nullptr);
    EXPECT_EQ(ss->getError(), tagged("Failed with invalid position 4 in function call.<br><br>", "sgmlscanner/33"));
    EXPECT_EQ(ss->splitFreeTextForLink(list.get(), p, "x", 2, 2), nullptr);
    EXPECT_EQ(ss->splitFreeTextForLink(list.get(), p, "x", -1, 2), nullptr);
    EXPECT_EQ(rowsFrom(list->firstNode), "3:p 2:abc 3:/p");
}

TEST_F(SgmlTextTest, SplitFreeTextForLinkKeepsTheTextsClosingMarks) {
    // <!DOCTYPE x [ see ]>: the text closes the subset and the declaration.
    auto list = listOfRows(ss.get(), {openTagRow("!DOCTYPE"),
                                      {SPS_DECLNAME, "x"},
                                      {SPS_DECLTYPE, ""},
                                      {SPS_FREETEXT, " see", kNodeTagEnd | kNodeLevelChange, 1}});
    ASSERT_TRUE(list);
    SgmlNode* type = list->firstNode->next->next;
    ASSERT_EQ(ss->splitFreeTextForLink(list.get(), type, "l", 1, 4), type);
    EXPECT_EQ(printed(ss.get(), list.get()), "<!DOCTYPE x [ <a href=\"l\">see</a>]>");
}

struct IdCase {
    const char* name;
    std::vector<NodeRow> rows;
    int result;
    std::string top, pubid, rev;
    const char* message;  // "" when none
    const char* tag;
};

TEST_F(SgmlTextTest, ExtractSgmlIdReadsTheDocumentType) {
    const char* tavrId = "-//VANDROVE//DTD TAVR 1/R2A//EN";
    const std::string longId = "-//X//DTD " + std::string(80, 'y') + " R1";
    const std::string longTop(40, 'e');
    const std::string cutTop(31, 'E');
    const std::string longPubid = longId + "234567890123456789";
    const IdCase cases[] = {
        {"DOCTYPE with a revision that begins with a digit",
         {openTagRow("!DOCTYPE"), {SPS_DECLNAME, "tavr"}, {SPS_DECLTYPE, "PUBLIC"},
          {SPS_DECLID, tavrId, 0x09}, tagRow("TAVR")},
         1, "TAVR", tavrId, "", "", ""},
        {"last word R3A",
         {openTagRow("!doctype"), {SPS_DECLNAME, "doc"}, {SPS_DECLTYPE, "PUBLIC"},
          {SPS_DECLID, "-//X//DTD DOC R3A"}},
         1, "DOC", "-//X//DTD DOC R3A", "R3A", "", ""},
        {"last word R3A//EN",
         {openTagRow("!DOCTYPE"), {SPS_DECLNAME, "doc"}, {SPS_DECLTYPE, "PUBLIC"},
          {SPS_DECLID, "-//X//DTD DOC v3.1a//EN "}},
         1, "DOC", "-//X//DTD DOC v3.1a//EN ", "v3.1a", "", ""},
        {"leading processing instruction and comment",
         {openTagRow("?xml"), {SPS_TAGATTRNAME, "version"}, {SPS_TAGATTRVALUE, "1.0", 0x0B}, openTagRow("!--"),
          {SPS_COMMENT, " c ", kNodeTagEnd}, textRow("\n"), tagRow("set"), tagRow("doc")},
         1, "SET", "", "", "", ""},
        {"a start tag then a declaration identifier",
         {tagRow("Set"), openTagRow("!ENTITY"), {SPS_DECLNAME, "%"}, {SPS_DECLTYPE, "e"},
          {SPS_DECLID, "P12 x", 0x09}},
         1, "SET", "P12 x", "", "", ""},
        {"limits 31, 79 and 15",
         {openTagRow("!DOCTYPE"), {SPS_DECLNAME, longTop.c_str()}, {SPS_DECLTYPE, "PUBLIC"},
          {SPS_DECLID, longPubid.c_str()}},
         1, cutTop, longPubid.substr(0, 79), "R12345678901234", "", ""},
        {"DOCTYPE without a name",
         {openTagRow("!DOCTYPE"), {SPS_DECLTYPE, "PUBLIC"}, tagRow("doc")},
         0, "", "", "", "Failed due to missing document type name.<br><br>", "sgmlscanner/37"},
        {"an end tag first", {tagRow("/x"), tagRow("doc")}, 0, "", "", "",
         "Failed to recognize SGML document type.<br><br>", "sgmlscanner/38"},
        {"no start tag", {textRow("text"), tagRow("!--")}, 0, "", "", "",
         "Failed to recognize SGML document type.<br><br>", "sgmlscanner/38"},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
        ASSERT_TRUE(list);
        for (const NodeRow& r : c.rows) {
            SgmlNode* n = ss->appendSgmlNode(list.get(), r.state, r.value);
            ASSERT_TRUE(n);
            n->flags = r.flags;
        }
        ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_EOF, nullptr));
        std::string top = "old", pubid = "old", rev = "old";
        ss->setError(nullptr);
        EXPECT_EQ(ss->extractSgmlId(list->firstNode, &top, &pubid, &rev), c.result);
        EXPECT_EQ(top, c.top);
        EXPECT_EQ(pubid, c.pubid);
        EXPECT_EQ(rev, c.rev);
        if (*c.message) {
            EXPECT_EQ(ss->getError(), tagged(c.message, c.tag));
        }
    }
}

TEST_F(SgmlTextTest, ExtractSgmlIdTakesNullOutputsAndNoList) {
    auto list = listOfRows(ss.get(), {tagRow("doc")});
    ASSERT_TRUE(list);
    EXPECT_EQ(ss->extractSgmlId(list->firstNode, nullptr, nullptr, nullptr), 1);
    std::string top = "old";
    EXPECT_EQ(ss->extractSgmlId(nullptr, &top, nullptr, nullptr), 0);
    EXPECT_EQ(top, "");
    EXPECT_EQ(ss->getError(),
              tagged("Cannot determine SGML document type, no node list.<br><br>", "sgmlscanner/36"));
}

// The helpers over lists as the scanner builds them.
class ScannedTextTest : public SgmlTextTest {
protected:
    SgmlNodeList* scan(const std::string& text) {
        input = text;
        list = ss->newNodeList(0);
        if (!list || !ss->registerInput(input.data(), input.size()) || !ss->buildNodeList(list.get())) return nullptr;
        return list.get();
    }
    std::string input;
    std::unique_ptr<SgmlNodeList> list;
};

TEST_F(ScannedTextTest, ContainerTextOfScannedElements) {
    struct Case {
        const char* input;
        const char* endtag;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"<TITLE>Hello<EMPH> world</EMPH></TITLE>", "title", "Hello world"},
        {"<title>\n  Two\r\nlines </title>tail", "TITLE", "Two lines"},
        {"<title><![ IGNORE [ hidden <b>x</b> ]]>shown</title>", "title", "shown"},
        {"<title><![IGNORE[hidden]]>shown</title>", nullptr, "shown"},
        {"<!DOCTYPE t [<!ENTITY % r \"IGNORE\">]><t><![ %r; [ hidden ]]>shown</t>", "t", "shown"},
        {"<title></title>", "title", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ASSERT_TRUE(scan(c.input)) << ss->getError();
        SgmlNode* node = list->firstNode;
        ASSERT_TRUE(ss->findTag(list.get(), &node, c.endtag ? c.endtag : "title"));
        EXPECT_EQ(ss->getContainerText(list.get(), &node, c.endtag), c.expected);
    }
}

TEST_F(ScannedTextTest, DocumentTypeOfScannedDocuments) {
    ASSERT_TRUE(scan("<?xml version=\"1.0\"?>\n<!-- made by hand -->\n"
                     "<!DOCTYPE tavr PUBLIC \"-//VANDROVE//DTD TAVR 1/R2A//EN\">\n<TAVR><TITLE>x</TITLE></TAVR>"));
    std::string top, pubid, rev = "old";
    EXPECT_EQ(ss->extractSgmlId(list->firstNode, &top, &pubid, &rev), 1) << ss->getError();
    EXPECT_EQ(top, "TAVR");
    EXPECT_EQ(pubid, "-//VANDROVE//DTD TAVR 1/R2A//EN");
    EXPECT_EQ(rev, "");

    ASSERT_TRUE(scan("<!DOCTYPE doc PUBLIC \"-//X//DTD DOC R3A//EN\" \"doc.dtd\"><doc>"));
    EXPECT_EQ(ss->extractSgmlId(list->firstNode, &top, &pubid, &rev), 1);
    EXPECT_EQ(pubid, "-//X//DTD DOC R3A//EN") << "the first identifier";
    EXPECT_EQ(rev, "R3A");

    ASSERT_TRUE(scan("<!DOCTYPE>text"));
    EXPECT_EQ(ss->extractSgmlId(list->firstNode, &top, &pubid, &rev), 0);
    EXPECT_EQ(ss->getError(), tagged("Failed due to missing document type name.<br><br>", "sgmlscanner/37"));
}

TEST_F(ScannedTextTest, LinkInAScannedParagraphPrintsBack) {
    ASSERT_TRUE(scan("<P>see chapter 3</P>"));
    SgmlNode* p = list->firstNode;
    ASSERT_EQ(ss->splitFreeTextForLink(list.get(), p, "#C3", 4, 13), p) << ss->getError();
    EXPECT_EQ(printed(ss.get(), list.get()), "<P>see <a href=\"#C3\">chapter 3</a></P>");
    ASSERT_EQ(ss->splitFreeText(list.get(), p, 2), p);
    EXPECT_EQ(printed(ss.get(), list.get()), "<P>see <a href=\"#C3\">chapter 3</a></P>");
    EXPECT_STREQ(p->next->text(), "se");
}

}  // namespace
}  // namespace ruva
