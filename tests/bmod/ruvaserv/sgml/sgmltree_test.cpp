#include "bmod/ruvaserv/sgml/sgmltree.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr const char* kTavrDoctype = "<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\">\n";

// Element names with their children in brackets, texts in quotes (blank
// texts left out), other leaves by their scanner text. Recursion is fine
// for the small trees it is used on.
std::string shape(const SgmlTreeNode* n) {
    std::string out;
    for (; n; n = n->next) {
        const char* text = n->sn && n->sn->text() ? n->sn->text() : "";
        std::string piece = text;
        if (n->sn && n->sn->state == SPS_FREETEXT) {
            if (std::strspn(text, " \n") == std::strlen(text)) continue;
            piece = '"' + piece + '"';
        } else if (n->tagno >= 0 && n->fchild) {
            piece += "(" + shape(n->fchild) + ")";
        }
        out += (out.empty() ? "" : " ") + piece;
    }
    return out;
}

class SgmlTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        tree = newSgmlTree(0);
        ASSERT_TRUE(tree);
    }
    // Scans the text from a file and builds the tree; the result of the build.
    int build(const std::string& text) {
        const std::string path = dir.file("doc.sgml");
        writeFile(path, text);
        tree->clear();
        return tree->createSgmlInstance(path.c_str());
    }
    std::string printed() {
        const std::string path = dir.file("out.sgml");
        EXPECT_EQ(tree->print(path.c_str()), 1) << tree->getError();
        return readFile(path);
    }

    TempDir dir;
    std::unique_ptr<SgmlTree> tree;
};

TEST_F(SgmlTreeTest, BuildsElementsTextsAndTopLevelLeaves) {
    ASSERT_EQ(build(std::string(kTavrDoctype) + "<!-- top -->\n<TAVR><META-DATA><CONFIDENTIALITY CLASS=\"open\">"
                                                "<DOC-NAME>List</DOC-NAME><TITLE>T</TITLE></META-DATA></TAVR>\n"),
              1)
        << tree->getError();
    // The DOCTYPE is the root; a comment at top level after it has no place.
    ASSERT_TRUE(tree->root);
    EXPECT_STREQ(tree->root->sn->text(), "!DOCTYPE");
    EXPECT_EQ(tree->root->tagno, -1);
    ASSERT_TRUE(tree->root->next);
    EXPECT_STREQ(tree->root->next->sn->text(), "TAVR");
    EXPECT_EQ(tree->root->next->next, nullptr);
    EXPECT_EQ(shape(tree->root), "!DOCTYPE TAVR(META-DATA(CONFIDENTIALITY DOC-NAME(\"List\") TITLE(\"T\")))");
    EXPECT_EQ(tree->topelem, "TAVR");
    EXPECT_EQ(tree->dtd, MAPDTD_TAVR);
    EXPECT_EQ(tree->doct, DOCT_SGML);
    EXPECT_EQ(tree->cur, nullptr) << "every element closed";
    SgmlTreeNode* meta = tree->findNode("TAVR/META-DATA");
    ASSERT_TRUE(meta);
    EXPECT_EQ(meta->parent, tree->root->next);
    EXPECT_STREQ(meta->lchild->sn->text(), "TITLE");
    EXPECT_EQ(meta->lchild->parent, meta);
}

TEST_F(SgmlTreeTest, EachElementRecordsTheNodeThatEndedIt) {
    // P ends at its end tag, the first TITLE where the second opens, the
    // empty element at once, and TAVR at the end of the list.
    ASSERT_EQ(build(std::string(kTavrDoctype) +
                    "<TAVR><META-DATA><CONFIDENTIALITY><TITLE>A<TITLE>B</META-DATA>"
                    "<BODY><P></P><P>next</P></BODY>"),
              1)
        << tree->getError();
    struct Case {
        const char* path;
        int nth;  // 0 = first match
        const char* endText;
        SgmlParserState endState;
    };
    const Case cases[] = {
        {"TAVR/META-DATA/CONFIDENTIALITY", 0, "CONFIDENTIALITY", SPS_TAGNAME},
        {"TAVR/META-DATA/TITLE", 0, "TITLE", SPS_TAGNAME},
        {"TAVR/META-DATA/TITLE", 1, "/META-DATA", SPS_TAGNAME},
        {"TAVR/BODY/P", 0, "/P", SPS_TAGNAME},
        {"TAVR", 0, nullptr, SPS_EOF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " #" + std::to_string(c.nth));
        SgmlTreeNode* n = tree->findNode(c.path);
        for (int i = 0; n && i < c.nth; ++i) n = tree->findNextRelNode(n, "TITLE");
        ASSERT_TRUE(n);
        ASSERT_TRUE(n->endsn);
        EXPECT_EQ(n->endsn->state, c.endState);
        if (c.endText) {
            EXPECT_STREQ(n->endsn->text(), c.endText);
        }
    }
    // The empty P's bounded first-text walk finds nothing, not "next".
    SgmlTreeNode* p = tree->findNode("TAVR/BODY/P");
    SgmlNode* from = p->sn;
    EXPECT_EQ(tree->ss->getContainerTextEndNode(tree->snl, &from, p->endsn, true), std::nullopt);
    SgmlTreeNode* second = tree->findNextRelNode(p, "P");
    from = second->sn;
    EXPECT_EQ(tree->ss->getContainerTextEndNode(tree->snl, &from, second->endsn, true), "next");
}

TEST_F(SgmlTreeTest, TableCellWalksStayInTheirCell) {
    // A document list's table: empty elements that are never closed, an
    // empty cell, and a cell whose title has an English title after it.
    ASSERT_EQ(build(std::string(kTavrDoctype) + R"(<TAVR>
<META-DATA><CONFIDENTIALITY CLASS="open"><DOC-ID><LANGUAGE CODE="en"><REV>B</REV></DOC-ID></META-DATA>
<BODY>
<CHL1 ROLE="MOD-DESC"><TITLE>Descriptions</TITLE>
<TABLE><TGROUP COLS="3"><COLSPEC COLWIDTH="40*"><COLSPEC COLWIDTH="20*">
<TBODY>
<ROW><ENTRY>System Description</ENTRY><ENTRY>1551-ABC 901 23 Uen A</ENTRY><ENTRY></ENTRY></ROW>
<ROW><ENTRY>Systembeskrivning<LITERAL>System Overview</LITERAL></ENTRY><ENTRY>154 31-ABC 901 24 Usv B</ENTRY></ROW>
</TBODY>
</TGROUP>
</TABLE>
</CHL1>
</BODY>
</TAVR>
)"),
              1)
        << tree->getError();
    EXPECT_EQ(shape(tree->findNode("TAVR/META-DATA/DOC-ID")), "DOC-ID(LANGUAGE REV(\"B\"))");
    SgmlTreeNode* tgroup = tree->findNode("TAVR/BODY/CHL1/TABLE/TGROUP");
    ASSERT_TRUE(tgroup);
    EXPECT_EQ(shape(tgroup->fchild),
              "COLSPEC COLSPEC TBODY(ROW(ENTRY(\"System Description\") ENTRY(\"1551-ABC 901 23 Uen A\") ENTRY) "
              "ROW(ENTRY(\"Systembeskrivning\" LITERAL(\"System Overview\")) ENTRY(\"154 31-ABC 901 24 Usv B\")))");
    auto firstText = [&](SgmlTreeNode* element) {
        SgmlNode* from = element->sn;
        return tree->ss->getContainerTextEndNode(tree->snl, &from, element->endsn, true);
    };
    SgmlTreeNode* row = tree->findRelNode(tgroup, "TBODY/ROW");
    ASSERT_TRUE(row);
    EXPECT_EQ(firstText(row->lchild), std::nullopt) << "the empty cell takes nothing from the next row";
    SgmlTreeNode* entry = tree->findNextRelNode(row, "ROW")->fchild;
    EXPECT_EQ(firstText(entry), "Systembeskrivning");
    ASSERT_TRUE(tree->findRelNode(entry, "LITERAL"));
    EXPECT_EQ(firstText(tree->findRelNode(entry, "LITERAL")), "System Overview");
}

TEST_F(SgmlTreeTest, JapaneseFlagFollowsThePublicIdentifier) {
    const struct {
        const char* pubid;
        bool japanese;
    } cases[] = {
        {"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01 Uja//JA", true},
        {"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pubid);
        ASSERT_EQ(build(std::string("<!DOCTYPE TAVR PUBLIC \"") + c.pubid + "\"><TAVR><BODY><P>x</P></BODY></TAVR>"), 1)
            << tree->getError();
        EXPECT_EQ((tree->flags & kTreeJapanese) != 0, c.japanese);
    }
}

TEST_F(SgmlTreeTest, OpenContentTextAndIgnoredSectionsStayOut) {
    ASSERT_EQ(build(std::string(kTavrDoctype) +
                    "<TAVR><BODY><P>a<FORMULA><F>x+y</F></FORMULA></P>"
                    "<![ IGNORE [<P>hidden</P>]]><![ INCLUDE [<P>kept</P>]]></BODY></TAVR>"),
              1)
        << tree->getError();
    EXPECT_EQ(shape(tree->findNode("TAVR")),
              "TAVR(BODY(P(\"a\" FORMULA(F)) ![ ![ P(\"kept\")))");
}

TEST_F(SgmlTreeTest, FindMatchesByTagNumberOrNameAndNeedsChildren) {
    ASSERT_EQ(build(std::string(kTavrDoctype) +
                    "<TAVR><META-DATA><CONFIDENTIALITY><DOC-ID><DOC-NO>1/1553</DOC-NO></DOC-ID></META-DATA></TAVR>"),
              1)
        << tree->getError();
    SgmlTreeNode* tavr = tree->root->next;
    const struct {
        const char* path;
        const char* found;  // null: none
    } cases[] = {
        {"TAVR/META-DATA/DOC-ID/DOC-NO", "DOC-NO"},
        {"tavr/meta-data/doc-id", "DOC-ID"},
        {"TAVR//META-DATA", "META-DATA"},
        {"!doctype", "!DOCTYPE"},
        {"TAVR/META-DATA/CONFIDENTIALITY/X", nullptr},
        {"TAVR/NOSUCH", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        SgmlTreeNode* n = tree->findNode(c.path);
        if (!c.found) {
            EXPECT_EQ(n, nullptr);
        } else {
            ASSERT_TRUE(n);
            EXPECT_STREQ(n->sn->text(), c.found);
        }
    }
    EXPECT_EQ(tree->findRelNode(tavr, "META-DATA/DOC-ID"), tree->findNode("TAVR/META-DATA/DOC-ID"));
    EXPECT_EQ(tree->findNextRelNode(tree->root, "TAVR"), tavr);
    EXPECT_EQ(tree->findNextRelNode(tavr, "TAVR"), nullptr);
    std::string longPath(kTreePathMax + 1, 'A');
    EXPECT_EQ(tree->findNode(longPath.c_str()), nullptr);
}

TEST_F(SgmlTreeTest, BuildErrorsCarryTheirMessages) {
    const struct {
        const char* name;
        std::string text;
        const char* message;
    } cases[] = {
        {"unknown start tag", std::string(kTavrDoctype) + "<TAVR><BODY><CHL6>", "[scontext/2]"},
        {"unknown end tag", std::string(kTavrDoctype) + "<TAVR><BODY></NOSUCH>", "[scontext/5]"},
        {"closing an empty element", std::string(kTavrDoctype) + "<TAVR><META-DATA><DOC-ID><LANGUAGE CODE=en></LANGUAGE>",
         "[scontext/6]"},
        {"unsupported document", "<!DOCTYPE HTML><HTML><P>x", "Not a supported SGML document type HTML."},
        {"escaped document name", "<!DOCTYPE \"A<B\"><X>", "type A&#60;B."},
        {"scan failure", std::string(kTavrDoctype) + "<TAVR><" + std::string(40, 'A') + ">", "[sgmltree/3]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(build(c.text), 0);
        EXPECT_NE(tree->getError().find(c.message), std::string::npos) << tree->getError();
    }
    tree->clear();
    EXPECT_EQ(tree->parseDocumentInstance(), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/4]"), std::string::npos) << tree->getError();
    EXPECT_EQ(tree->print("-"), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/8]"), std::string::npos) << tree->getError();
    EXPECT_EQ(tree->lexicalScan(dir.file("missing").c_str()), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/1]"), std::string::npos) << tree->getError();

    // A list with nothing but its end cannot be built.
    auto list = tree->ss->newNodeList(0);
    tree->ss->appendSgmlNode(list.get(), SPS_EOF, nullptr);
    tree->registerLexicalScan(list.get(), DOCT_SGML, DOC_SUBTYPE_UNKNOWN);
    EXPECT_EQ(tree->buildTree(), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/6]"), std::string::npos) << tree->getError();
    tree->clear();
}

TEST_F(SgmlTreeTest, AFailedBuildLeavesNoStaleStackBehind) {
    // The first build stops with elements open; the next one must not pop
    // them into the freed pool.
    EXPECT_EQ(build(std::string(kTavrDoctype) + "<TAVR><BODY><P>x</NOSUCH>"), 0);
    ASSERT_TRUE(tree->scon->cur);
    // The stack's trace shows what the rebuild pops: nothing of the old build.
    tree->scon->flags |= kContextTrace;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tree->buildTree(), 0);
    const std::string trace = ::testing::internal::GetCapturedStderr();
    tree->scon->flags &= ~kContextTrace;
    EXPECT_EQ(trace.find("</"), std::string::npos) << trace;
    EXPECT_NE(trace.find("<TAVR>"), std::string::npos) << trace;
    ASSERT_EQ(build(std::string(kTavrDoctype) + "<TAVR><BODY><P>y</P></BODY></TAVR>"), 1) << tree->getError();
    EXPECT_EQ(shape(tree->findNode("TAVR")), "TAVR(BODY(P(\"y\")))");
}

TEST_F(SgmlTreeTest, RegisteredListIsBuiltAndNotFreed) {
    const std::string text = std::string(kTavrDoctype) + "<TAVR><BODY><P>x</P></BODY></TAVR>";
    ASSERT_TRUE(tree->ss->registerInput(text.data(), text.size()));
    auto list = tree->ss->newNodeList(0);
    ASSERT_TRUE(tree->ss->buildNodeList(list.get()));
    EXPECT_EQ(tree->registerLexicalScan(list.get(), DOCT_SGML, DOC_SUBTYPE_UNKNOWN), 1);
    EXPECT_TRUE(tree->flags & kTreeListRegistered);
    ASSERT_EQ(tree->parseDocumentInstance(), 1) << tree->getError();
    EXPECT_EQ(shape(tree->findNode("TAVR")), "TAVR(BODY(P(\"x\")))");
    tree->clear();
    EXPECT_FALSE(tree->flags & kTreeListRegistered);
    EXPECT_EQ(tree->snl, nullptr);
    EXPECT_STREQ(list->firstNode->text(), "!DOCTYPE") << "the caller's list is intact";
}

TEST_F(SgmlTreeTest, PrintWritesEndTagsOnlyWhereTheMapWantsThem) {
    // Text at top level has no place in the tree, so none is used here.
    const std::string doctype(kTavrDoctype, std::strlen(kTavrDoctype) - 1);
    ASSERT_EQ(build(doctype +
                    "<TAVR><META-DATA><CONFIDENTIALITY CLASS=\"open\"><DOC-ID><LANGUAGE CODE=\"en\"></DOC-ID>"
                    "<TITLE>a &amp; b</TITLE></META-DATA><BODY><P></P></BODY></TAVR>"),
              1)
        << tree->getError();
    EXPECT_EQ(printed(), doctype +
                             "<TAVR><META-DATA><CONFIDENTIALITY CLASS=\"open\"><DOC-ID><LANGUAGE CODE=\"en\"></DOC-ID>"
                             "<TITLE>a &amp; b</TITLE></META-DATA><BODY><P></P></BODY></TAVR>");
}

TEST_F(SgmlTreeTest, PrintThenReparseGivesTheSameStructure) {
    const std::string doc = std::string("<!DOCTYPE TAVR PUBLIC \"-//VANDROVE//DTD TAVR 1/1056-ABC 901 01//EN\" [\n"
                                        "<!--Document generated-->\n]>\n"
                                        "<TAVR>\n<META-DATA>\n<CONFIDENTIALITY CLASS=open>\n"
                                        "<TITLE>Demo</TITLE>\n<!-- note -->\n</META-DATA>\n"
                                        "<BODY><P>one<P>two<![ IGNORE [<P>gone</P>]]>"
                                        "<![ INCLUDE [<P>kept</P>]]>\n"
                                        "<CHL1 ROLE=\"MOD-DESC\"><TITLE>Head</TITLE><TABLE><TGROUP COLS=\"2\">"
                                        "<COLSPEC COLWIDTH=\"40*\"><TBODY><ROW><ENTRY>x</ENTRY></ROW></TBODY>"
                                        "</TGROUP></TABLE></CHL1></BODY></TAVR>\n");
    ASSERT_EQ(build(doc), 1) << tree->getError();
    const std::string first = shape(tree->root);
    const std::string out = printed();
    EXPECT_NE(out.find("[\n<!--Document generated-->\n]>"), std::string::npos) << out;
    EXPECT_NE(out.find("<![ IGNORE [<P>gone</P>]]>"), std::string::npos) << out;
    // P "two" ends where P "kept" opens inside the section; its end tag follows the section's "[".
    EXPECT_NE(out.find("<![ INCLUDE [</P><P>kept</P>]]>"), std::string::npos) << out;
    ASSERT_EQ(build(out), 1) << tree->getError() << "\n" << out;
    EXPECT_EQ(shape(tree->root), first) << out;
    EXPECT_EQ(printed(), out) << "printing is stable";
}

TEST_F(SgmlTreeTest, PrintReportsWhatItCannotWrite) {
    ASSERT_EQ(build(std::string(kTavrDoctype) + "<TAVR><BODY><P>x</P></BODY></TAVR>"), 1);
    EXPECT_EQ(tree->print(dir.file("no/such/dir").c_str()), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/9]"), std::string::npos) << tree->getError();
    EXPECT_EQ(tree->print(nullptr), 0);
    EXPECT_NE(tree->getError().find("[sgmltree/9]"), std::string::npos) << tree->getError();
    EXPECT_EQ(tree->print("/dev/full"), 0);
    EXPECT_EQ(tree->getError(), "Failed to create output file on disk '&#47;dev&#47;full'.<span style='color:#D8D8D8'> [sgmltree/12]</span>");
}

TEST_F(SgmlTreeTest, AddedTagsCarryTheirQuotingAndTheEndOfTag) {
    auto list = tree->ss->newNodeList(0);
    ASSERT_TRUE(list);
    tree->registerLexicalScan(list.get(), DOCT_SGML, DOC_SUBTYPE_UNKNOWN);
    SgmlTreeNode* top = tree->addSgmlTreeNodeChildTag(nullptr, "tavr", {});
    ASSERT_TRUE(top) << tree->getError();
    EXPECT_TRUE(top->sn->flags & kNodeTagEnd) << "alone, the tag-name node ends its tag";
    EXPECT_EQ(tree->root, top);
    SgmlTreeNode* tag = tree->addSgmlTreeNodeChildTag(
        top, "colspec", {{"a", "plain1"}, {"b", "40*"}, {"c", "say \"x\""}, {"d", ""}, {"e", nullptr}, {"f", "no"}});
    ASSERT_TRUE(tag);
    EXPECT_EQ(top->fchild, tag);
    EXPECT_EQ(tag->parent, top);
    std::vector<std::pair<std::string, uint16_t>> chain;
    for (SgmlNode* n = tag->sn; n; n = n->next) chain.emplace_back(n->text(), n->flags);
    const std::vector<std::pair<std::string, uint16_t>> expected = {
        {"colspec", 0},
        {"a", 0},
        {"plain1", 0},
        {"b", 0},
        {"40*", kNodeQuoted},
        {"c", 0},
        {"say \"x\"", kNodeQuoted | kNodeApostrophe},
        {"d", kNodeHasValue},
        {"e", kNodeTagEnd},
    };
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(list->lastNode->text(), std::string("e")) << "the chain went to the end of the list";
    ASSERT_TRUE(tree->addSgmlTreeNodeChildNode(top, SPS_FREETEXT, "text"));
    const std::string longName(60, 'x');
    SgmlTreeNode* named = tree->addSgmlTreeNodeChildTag(top, longName.c_str(), {});
    ASSERT_TRUE(named && tree->addSgmlTreeNodeChildNode(named, SPS_FREETEXT, "y"));
    const std::string path = dir.file("edited.sgml");
    ASSERT_EQ(tree->print(path.c_str()), 1) << tree->getError();
    // Without a map the names are the scanner's and an element without children has no end tag.
    EXPECT_EQ(readFile(path), "<tavr><colspec a=\"plain1\" b=\"40*\" c='say \"x\"' d e>text<" + longName + ">y</" +
                                  longName + "></tavr>");
}

TEST_F(SgmlTreeTest, AParentlessAddTakesTheOldTopLevelAsChildren) {
    auto list = tree->ss->newNodeList(0);
    tree->registerLexicalScan(list.get(), DOCT_SGML, DOC_SUBTYPE_UNKNOWN);
    SgmlTreeNode* a = tree->addSgmlTreeNodeChildNode(nullptr, SPS_FREETEXT, "a");
    ASSERT_TRUE(a);
    // Two top-level nodes: a, then b linked as its sibling.
    SgmlTreeNode* b = tree->allocTreeNode();
    b->sn = tree->ss->appendSgmlNode(list.get(), SPS_FREETEXT, "b");
    a->next = b;
    SgmlTreeNode* top = tree->addSgmlTreeNodeChildTag(nullptr, "body", {});
    ASSERT_TRUE(top);
    EXPECT_EQ(tree->root, top);
    EXPECT_EQ(top->fchild, a);
    EXPECT_EQ(top->lchild, b);
    EXPECT_EQ(a->parent, top);
    EXPECT_EQ(b->parent, top);
}

TEST_F(SgmlTreeTest, EditingUntilTheListGrowsKeepsEveryNode) {
    ASSERT_EQ(build(std::string(kTavrDoctype) + "<TAVR><BODY><P>x</P></BODY></TAVR>"), 1);
    SgmlTreeNode* body = tree->findNode("TAVR/BODY");
    ASSERT_TRUE(body);
    SgmlNode* firstSn = tree->root->sn;
    const size_t heapsBefore = tree->snl->pool->heaps.size();
    std::vector<SgmlTreeNode*> added;
    for (int i = 0; tree->snl->pool->heaps.size() == heapsBefore || i < 100; ++i) {
        ASSERT_LT(i, 20000);
        SgmlTreeNode* p = tree->addSgmlTreeNodeChildTag(body, "P", {{"ID", std::to_string(i).c_str()}});
        ASSERT_TRUE(p) << tree->getError();
        added.push_back(p);
    }
    EXPECT_EQ(tree->root->sn, firstSn);
    EXPECT_STREQ(firstSn->text(), "!DOCTYPE");
    for (size_t i = 0; i < added.size(); ++i) {
        ASSERT_STREQ(added[i]->sn->next->next->text(), std::to_string(i).c_str());
    }
    const std::string out = printed();
    EXPECT_NE(out.find("<P>x</P><P ID=\"0\"></P><P ID=\"1\"></P>"), std::string::npos) << out.substr(0, 300);
    EXPECT_NE(out.find("<P ID=\"" + std::to_string(added.size() - 1) + "\"></P></BODY></TAVR>"), std::string::npos);
}

// A 256 KiB stack, where a frame per level would overflow.
struct DeepRun {
    SgmlTree* tree;
    std::string path;
    std::string out;
    int built = 0;
    int printedOk = 0;
};

TEST_F(SgmlTreeTest, DeepTreesBuildPrintAndClearOnASmallStack) {
    constexpr int kDepth = 10000;
    std::string doc = std::string(kTavrDoctype) + "<TAVR><BODY>";
    for (int i = 0; i < kDepth; ++i) doc += "<TABLE><TGROUP><TBODY>";
    writeFile(dir.file("deep.sgml"), doc);
    DeepRun run{tree.get(), dir.file("deep.sgml"), dir.file("deep.out")};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t t;
    ASSERT_EQ(pthread_create(
                  &t, &attr,
                  [](void* arg) -> void* {
                      auto* r = static_cast<DeepRun*>(arg);
                      r->built = r->tree->createSgmlInstance(r->path.c_str());
                      if (r->built) r->printedOk = r->tree->print(r->out.c_str());
                      r->tree->clear();
                      return nullptr;
                  },
                  &run),
              0);
    pthread_attr_destroy(&attr);
    pthread_join(t, nullptr);
    ASSERT_EQ(run.built, 1) << tree->getError();
    EXPECT_EQ(run.printedOk, 1);
    const std::string out = readFile(run.out);
    EXPECT_EQ(out.find("<TABLE><TGROUP><TBODY><TABLE>"), out.find("<TABLE>"));
    EXPECT_NE(out.find("</TBODY></TGROUP></TABLE></BODY></TAVR>"), std::string::npos);
    EXPECT_EQ(tree->root, nullptr);
}

}  // namespace
}  // namespace ruva
