#include "bmod/ruvaserv/sgml/sgmlscanner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

std::string tagged(const std::string& text, const char* tag) {
    return text + "<span style='color:#D8D8D8'> [" + tag + "]</span>";
}

// Everything a print call writes, through a memory stream.
class MemFile {
public:
    MemFile() : file_(open_memstream(&buf_, &len_)) {}
    ~MemFile() {
        if (file_) std::fclose(file_);
        std::free(buf_);
    }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;
    FILE* get() const { return file_; }
    std::string text() {
        std::fflush(file_);
        return std::string(buf_, len_);
    }

private:
    char* buf_ = nullptr;
    size_t len_ = 0;
    FILE* file_;
};

void countGrowth(SgmlScanner*, void* clientData) { ++*static_cast<int*>(clientData); }

struct NodeSpec {
    SgmlParserState state;
    const char* value;
    uint16_t flags;
    uint8_t level;
};

std::unique_ptr<SgmlNodeList> buildList(SgmlScanner* ss, std::initializer_list<NodeSpec> specs) {
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    for (const NodeSpec& s : specs) {
        SgmlNode* node = ss->appendSgmlNode(list.get(), s.state, s.value);
        if (!node) return nullptr;
        node->flags = s.flags;
        node->level = s.level;
    }
    return list;
}

TEST(SgmlNodeCore, FullListGrowsByOneHeapKeepingNodesWhereTheyAre) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    ASSERT_TRUE(ss);
    int growths = 0;
    ss->reallocCallback = countGrowth;
    ss->clientData = &growths;
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->capacity, 8192u);
    SgmlNode* first = ss->appendSgmlNode(list.get(), SPS_FREETEXT, "first");
    ASSERT_TRUE(first);
    for (int i = 1; i < 8192; ++i) ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, "x"));
    EXPECT_EQ(growths, 0);
    EXPECT_EQ(list->capacity, 8192u);
    ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, "next"));
    EXPECT_EQ(growths, 1);
    EXPECT_EQ(list->capacity, 16384u);
    EXPECT_EQ(list->pool->numHeaps, 2);
    EXPECT_EQ(list->firstNode, first);
    EXPECT_STREQ(first->text(), "first");
    // The pool's own rounding leaves spare items; they never count.
    for (int i = 8193; i < 16384; ++i) ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, nullptr));
    EXPECT_EQ(growths, 1);
    ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, nullptr));
    EXPECT_EQ(growths, 2);
    EXPECT_EQ(list->capacity, 24576u);
    ss->freeNodeList(std::move(list));
}

TEST(SgmlNodeCore, VerifyFreeNodesGrowsByTheShortfallWithSlack) {
    struct Case {
        const char* name;
        size_t used, minFree, capacityAfter;
    };
    const Case cases[] = {
        {"enough free", 8000, 192, 8192},
        {"small shortfall takes one step", 8000, 193, 16384},
        {"large shortfall gets 512 more", 8000, 10000, 8192 + (10000 - 192) + 512},
        {"shortfall 7680 takes one step", 0, 8192 + 7680, 8192 + 8192},
        {"shortfall 7681 takes one more", 0, 8192 + 7681, 8192 + 8193},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
        int growths = 0;
        ss->reallocCallback = countGrowth;
        ss->clientData = &growths;
        std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
        for (size_t i = 0; i < c.used; ++i) ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, nullptr));
        EXPECT_EQ(ss->verifyFreeNodes(list.get(), c.minFree), 1);
        EXPECT_EQ(list->capacity, c.capacityAfter);
        EXPECT_EQ(growths, c.capacityAfter == 8192 ? 0 : 1);
    }
}

TEST(SgmlNodeCore, FixedListsRefuseToGrow) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(kScanFixedLists);
    int growths = 0;
    ss->reallocCallback = countGrowth;
    ss->clientData = &growths;
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    for (int i = 0; i < 8192; ++i) ASSERT_TRUE(ss->appendSgmlNode(list.get(), SPS_FREETEXT, "x"));
    EXPECT_EQ(ss->verifyFreeNodes(list.get(), 0), 1);
    EXPECT_EQ(ss->verifyFreeNodes(list.get(), 1), 0);
    EXPECT_EQ(ss->getError(), tagged("Failed with SGML node list full, 8192 nodes.<br><br>", "sgmlscanner/19"));
    EXPECT_EQ(ss->appendSgmlNode(list.get(), SPS_FREETEXT, "x"), nullptr);
    EXPECT_EQ(ss->getError(), tagged("Failed with node list full, 8192 nodes.<br><br>", "sgmlscanner/29"));
    EXPECT_EQ(list->capacity, 8192u);
    EXPECT_EQ(list->pool->numHeaps, 1);
    EXPECT_EQ(growths, 0);
}

TEST(SgmlNodeCore, ReallocRefusesAMissingPoolAndNoGrowth) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    SgmlNodeList bare;
    EXPECT_EQ(ss->reallocNodeList(&bare, 100), 0);
    EXPECT_EQ(ss->getError(),
              tagged("Failed to allocate memory, missing old pool definition.<br><br>", "sgmlscanner/15"));
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(100);
    EXPECT_EQ(ss->reallocNodeList(list.get(), 100), 0);
    EXPECT_EQ(ss->getError(), tagged("Failed with too many items for new pool, 100, 100.<br><br>", "sgmlscanner/16"));
    EXPECT_EQ(ss->reallocNodeList(list.get(), 101), 1);
    EXPECT_EQ(list->capacity, 101u);
}

TEST(SgmlNodeCore, AllocatedNodeCopiesItsValueAndTakesTheCurrentLevel) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    std::string text = "abc";
    ss->currentLevel = 3;
    SgmlNode* node = ss->allocSgmlNode(list.get(), SPS_TAGATTRVALUE, text.c_str());
    ASSERT_TRUE(node);
    text[0] = 'X';
    EXPECT_STREQ(node->text(), "abc");
    EXPECT_EQ(node->level, 3);
    EXPECT_EQ(node->state, SPS_TAGATTRVALUE);
    EXPECT_EQ(node->flags, 0);
    EXPECT_EQ(node->next, nullptr);
    EXPECT_EQ(list->firstNode, nullptr);  // not linked
    SgmlNode* empty = ss->allocSgmlNode(list.get(), SPS_FREETEXT, nullptr);
    EXPECT_EQ(empty->text(), nullptr);
    ss->freeSgmlNode(list.get(), node);
    ss->freeSgmlNode(list.get(), empty);
    EXPECT_EQ(list->pool->usedItems, 0u);
}

TEST(SgmlNodeCore, PrintAttrValChoosesAQuoteTheValueDoesNotHold) {
    struct Case {
        SgmlParserState state;
        uint16_t flags;
        const char* value;
        const char* printed;
    };
    const Case cases[] = {
        {SPS_TAGATTRVALUE, kNodeQuoted, "x", "\"x\""},
        {SPS_TAGATTRVALUE, kNodeQuoted | kNodeApostrophe, "x", "'x'"},
        {SPS_TAGATTRVALUE, 0, "x", "\"x\""},
        {SPS_DECLID, 0, "x", "x"},
        {SPS_DECLID, kNodeApostrophe, "x", ""},
        {SPS_TAGATTRVALUE, kNodeQuoted, "x\"y", "'x\"y'"},
        {SPS_TAGATTRVALUE, kNodeQuoted | kNodeApostrophe, "it's", "\"it's\""},
        {SPS_TAGATTRVALUE, kNodeQuoted, "a\"b'c", "\"a&#34;b'c\""},
        {SPS_TAGATTRVALUE, kNodeQuoted | kNodeApostrophe, "a\"b'c", "'a\"b&#39;c'"},
        {SPS_TAGATTRVALUE, kNodeQuoted, "", "\"\""},
        {SPS_TAGATTRVALUE, kNodeQuoted, nullptr, ""},
    };
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(null)");
        SgmlNode* node = ss->allocSgmlNode(list.get(), c.state, c.value);
        node->flags = c.flags;
        MemFile out;
        EXPECT_EQ(ss->printAttrVal(node, out.get()), 1);
        EXPECT_EQ(out.text(), c.printed);
        ss->freeSgmlNode(list.get(), node);
    }
}

TEST(SgmlNodeCore, PrintWritesLevelMarksAndClosings) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    // <!DOCTYPE x [<!ENTITY % e "v">]><br /><!-- c -->
    std::unique_ptr<SgmlNodeList> list = buildList(ss.get(), {
                                                                 {SPS_TAGNAME, "!DOCTYPE", 0, 0},
                                                                 {SPS_DECLNAME, "x", 0, 0},
                                                                 {SPS_DECLTYPE, "", 0, 0},
                                                                 {SPS_TAGNAME, "!ENTITY", 0x10, 1},
                                                                 {SPS_DECLNAME, "%", 0, 1},
                                                                 {SPS_DECLTYPE, "e", 0, 1},
                                                                 {SPS_DECLID, "v", 0x09, 1},
                                                                 {SPS_FREETEXT, "", 0x08, 1},
                                                                 {SPS_TAGNAME, "br", 0x58, 0},
                                                                 {SPS_TAGNAME, "!--", 0, 0},
                                                                 {SPS_COMMENT, " c ", 0x08, 0},
                                                                 {SPS_TAGNAME, "?pi", 0, 0},
                                                                 {SPS_TAGATTRNAME, "a", 0, 0},
                                                                 {SPS_TAGATTRVALUE, "1", 0x0B, 0},
                                                                 {SPS_EOF, nullptr, 0, 0},
                                                             });
    ASSERT_TRUE(list);
    MemFile out;
    EXPECT_EQ(ss->printNodeList(list.get(), out.get()), 1);
    EXPECT_EQ(out.text(), "<!DOCTYPE x [<!ENTITY % e \"v\">]><br /><!-- c --><?pi a=\"1\"?>");
}

int refuseB(SgmlNode* node, SgmlScanner*, FILE*) { return std::string(node->text()) != "b"; }

TEST(SgmlNodeCore, PrintLeavesOutATagTheHookRefuses) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = buildList(ss.get(), {
                                                                 {SPS_TAGNAME, "b", 0, 0},
                                                                 {SPS_TAGATTRNAME, "x", 0, 0},
                                                                 {SPS_TAGATTRVALUE, "1", 0x0B, 0},
                                                                 {SPS_FREETEXT, "t", 0, 0},
                                                                 {SPS_TAGNAME, "i", 0x08, 0},
                                                                 {SPS_EOF, nullptr, 0, 0},
                                                             });
    ss->validate = refuseB;
    MemFile out;
    EXPECT_EQ(ss->printNodeList(list.get(), out.get()), 1);
    EXPECT_EQ(out.text(), "t<i>");
}

TEST(SgmlNodeCore, PrintToAFullDeviceFailsWithTheSystemText) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    std::unique_ptr<SgmlNodeList> list = buildList(ss.get(), {{SPS_FREETEXT, "text", 0, 0}, {SPS_EOF, nullptr, 0, 0}});
    FILE* full = std::fopen("/dev/full", "w");
    ASSERT_TRUE(full);
    EXPECT_EQ(ss->printNodeList(list.get(), full), 0);
    EXPECT_EQ(ss->getError(), "No space left on device");
    std::fclose(full);
}

// ---- scanner

// Compact rows of a list: state/flags@level value, no quoting.
std::string rows(const SgmlNodeList* list) {
    std::string out;
    char head[32];
    for (const SgmlNode* n = list->firstNode; n; n = n->next) {
        std::snprintf(head, sizeof head, "%d/%02X", n->state, n->flags);
        out += head;
        if (n->level) out += "@" + std::to_string(n->level);
        if (n->text()) out += std::string(" ") + n->text();
        out += "|";
    }
    return out;
}

// Scans text from memory into a new list; result and rows through out-params.
struct Scan {
    int result = 0;
    std::string rows;
    std::string error;
};

Scan scan(SgmlScanner* ss, std::string_view text) {
    Scan r;
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    if (!ss->registerInput(text.data(), text.size())) {
        r.error = ss->getError();
        return r;
    }
    r.result = ss->buildNodeList(list.get());
    r.rows = rows(list.get());
    r.error = ss->getError();
    ss->freeNodeList(std::move(list));
    return r;
}

Scan scan(std::string_view text) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    return scan(ss.get(), text);
}

struct Golden {
    const char* input;
    const char* nodes;
    const char* printed;
};

// Each input as it is scanned and printed back by sgmldump.
const Golden kGolden[] = {
    {"a<b>c</b>", "2/00 \"a\"\n3/08 \"b\"\n2/00 \"c\"\n3/08 \"/b\"\n1/00\n", "a<b>c</b>"},
    {"<a href=\"x\" t='y'>", "3/00 \"a\"\n5/00 \"href\"\n6/03 \"x\"\n5/00 \"t\"\n6/0F \"y\"\n1/00\n",
     "<a href=\"x\" t='y'>"},
    {"<a b=c d>", "3/00 \"a\"\n5/00 \"b\"\n6/02 \"c\"\n5/08 \"d\"\n1/00\n", "<a b=\"c\" d>"},
    {"<a href=x\"y>", "3/00 \"a\"\n5/00 \"href\"\n6/0A \"x\\\"y\"\n1/00\n", "<a href='x\"y'>"},
    {"<br />", "3/48 \"br\"\n1/00\n", "<br />"},
    {"<br/>", "3/08 \"br\"\n3/08 \"/br\"\n1/00\n", "<br></br>"},
    // The "/" after a value marks the value node, which prints no " /".
    {"<a href=\"x\"/>", "3/00 \"a\"\n5/00 \"href\"\n6/4B \"x\"\n1/00\n", "<a href=\"x\">"},
    {"<p/text/", "3/08 \"p\"\n2/00 \"text\"\n3/08 \"/p\"\n1/00\n", "<p>text</p>"},
    {"<p/a/ b", "3/08 \"p\"\n2/00 \"a\"\n3/08 \"/p\"\n2/00 \" b\"\n1/00\n", "<p>a</p> b"},
    {"<?xml version=\"1.0\"?>", "3/00 \"?xml\"\n5/00 \"version\"\n6/0B \"1.0\"\n1/00\n", "<?xml version=\"1.0\"?>"},
    {"<!-- x -->", "3/00 \"!--\"\n7/08 \" x \"\n1/00\n", "<!-- x -->"},
    {"<!DOCTYPE tavr PUBLIC \"-//X//EN\">",
     "3/00 \"!DOCTYPE\"\n8/00 \"tavr\"\n9/00 \"PUBLIC\"\n10/09 \"-//X//EN\"\n1/00\n",
     "<!DOCTYPE tavr PUBLIC \"-//X//EN\">"},
    {"<!DOCTYPE x [<!ENTITY % e \"v\">]>",
     "3/00 \"!DOCTYPE\"\n8/00 \"x\"\n9/00 \"\"\n3/10@1 \"!ENTITY\"\n8/00@1 \"%\"\n9/00@1 \"e\"\n10/09@1 \"v\"\n"
     "2/08@1 \"\"\n1/10\n",
     "<!DOCTYPE x [<!ENTITY % e \"v\">]>"},
    {"<![ CDATA [ <a> ]]>", "3/00 \"![\"\n8/00 \"CDATA\"\n9/00 \"\"\n2/38@2 \" <a> \"\n1/10\n", "<![ CDATA [ <a> ]]>"},
    {"<![CDATA[x]]>", "3/00 \"![\"\n8/00 \"CDATA\"\n9/00 \"\"\n2/38@2 \"x\"\n1/10\n", "<![ CDATA [x]]>"},
};

TEST(SgmlScanner, GoldenInputsScanAndPrintThroughSgmldump) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Golden& g : kGolden) {
        SCOPED_TRACE(g.input);
        std::string path = dir.file("in.sgml");
        test::writeFile(path, g.input);
        int status = -1;
        EXPECT_EQ(test::capture(std::string(SGMLDUMP_PATH) + " --nodes " + path, &status), g.nodes);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::capture(std::string(SGMLDUMP_PATH) + " --print " + path, &status), g.printed);
        EXPECT_EQ(status, 0);
    }
}

TEST(SgmlScanner, LimitsHoldAtNAndFailAtNPlusOne) {
    const std::string a31(31, 'a'), a32(32, 'a'), v1023(1023, 'v'), v1024(1024, 'v');
    std::string attrs15, attrs16;
    for (int i = 0; i < 15; ++i) attrs15 += " x";
    attrs16 = attrs15 + " x";
    struct Case {
        const char* name;
        std::string input;
        int result;
        std::string error;  // "" when none
    };
    const Case cases[] = {
        {"tag name 31", "<" + a31 + ">", 1, ""},
        {"tag name 32", "<" + a32 + ">", 0,
         tagged("Failed during parsing, too long tag " + a31 + ", max. is 31.<br><br>", "sgmlscanner/4")},
        {"attribute name 31", "<p " + a31 + ">", 1, ""},
        {"attribute name 32", "<p " + a32 + ">", 0,
         tagged("Attribute name too long for " + a31 + " near offset 35, max 31.<br><br>", "sgmlscanner/6")},
        {"attribute name 32 in a processing instruction", "<?pi " + a32 + "?>", 1, ""},
        {"quoted value 1023", "<p b=\"" + v1023 + "\">", 1, ""},
        {"quoted value 1024", "<p b=\"" + v1024 + "\">", 0,
         tagged("Attribute value too long for b near offset 1030, max 1023.<br><br>", "sgmlscanner/7")},
        {"unquoted value 1023", "<p b=" + v1023 + ">", 1, ""},
        {"unquoted value 1024", "<p b=" + v1024 + ">", 0,
         tagged("Attribute value too long for b near offset 1029, max 1023.<br><br>", "sgmlscanner/8")},
        {"15 attributes", "<p" + attrs15 + ">", 1, ""},
        {"16 attributes", "<p" + attrs16 + ">", 0,
         tagged("Attribute count overflow for p near offset 34, max 15.<br><br>", "sgmlscanner/5")},
        {"16 attributes in a processing instruction", "<?pi" + attrs16 + "?>", 1, ""},
        {"comment 3071", "<!--" + std::string(3071, 'c') + "-->", 1, ""},
        {"comment 3072 is cut, scan goes on", "<!--" + std::string(3072, 'c') + "-->x", 1,
         tagged("Comment length overflow near offset 3076, max. is 3071.<br><br>", "sgmlscanner/3")},
        {"declaration name 1023", "<!X " + v1023 + ">", 1, ""},
        {"declaration name 1024", "<!X " + v1024 + ">", 0,
         tagged("Name too long for tag !X near offset 1028, max 1023.<br><br>", "sgmlscanner/10")},
        {"quoted declaration name 1024", "<!X \"" + v1024 + "\">", 0,
         tagged("Name too long for tag !X near offset 1029, max 1023.<br><br>", "sgmlscanner/9")},
        {"declaration type 1023", "<!X a " + v1023 + ">", 1, ""},
        {"declaration type 1024", "<!X a " + v1024 + ">", 0,
         tagged("Typename too long for tag !X near offset 1030, max 1023.<br><br>", "sgmlscanner/12")},
        {"quoted declaration type 1024", "<!X a '" + v1024 + "'>", 0,
         tagged("Typename too long for tag !X near offset 1031, max 1023.<br><br>", "sgmlscanner/11")},
        {"declaration identifier 1023", "<!X a b " + v1023 + ">", 1, ""},
        {"declaration identifier 1024", "<!X a b " + v1024 + ">", 0,
         tagged("IDname too long for tag !X near offset 1032, max 1023.<br><br>", "sgmlscanner/14")},
        {"quoted declaration identifier 1024", "<!X a b \"" + v1024 + "\">", 0,
         tagged("IDname too long for tag !X near offset 1033, max 1023.<br><br>", "sgmlscanner/13")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan r = scan(c.input);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.error, c.error);
        if (c.result == 0) {
            EXPECT_EQ(r.rows, "");  // a failed scan empties the list
        }
    }
}

TEST(SgmlScanner, ProcessingInstructionKeepsFifteenAttributesAndCutsLongNames) {
    std::string attrs;
    for (int i = 0; i < 17; ++i) attrs += " a" + std::to_string(i) + "=v";
    Scan r = scan("<?pi" + attrs + "?>t");
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.rows.find("5/00 a14|6/0A v|"), std::string::npos);
    EXPECT_EQ(r.rows.find("a15"), std::string::npos);
    EXPECT_NE(r.rows.find("|2/00 t|"), std::string::npos);  // ">" closed the tag on its last kept node
    r = scan("<?pi " + std::string(40, 'n') + "='1'?>");
    EXPECT_EQ(r.rows, "3/00 ?pi|5/00 " + std::string(31, 'n') + "|6/0F 1|1/00|");
}

// An input that scans to 1 with these rows.
struct RowsCase {
    const char* name;
    std::string input;
    std::string rows;
};

template <size_t N>
void expectRows(const RowsCase (&cases)[N]) {
    for (const RowsCase& c : cases) {
        SCOPED_TRACE(c.name);
        Scan r = scan(c.input);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.rows, c.rows);
    }
}

TEST(SgmlScanner, LiteralElementsKeepTheirContentAsText) {
    const RowsCase cases[] = {
        {"ASIS ends at its end tag in any case", "<ASIS>a<b>c</asis>d",
         "3/08 ASIS|2/00 a<b>c|3/08 /asis|2/00 d|1/00|"},
        {"CODE under VARA", "<!DOCTYPE vara><CODE>a<b></CODE>",
         "3/00 !DOCTYPE|8/08 vara|3/08 CODE|2/00 a<b>|3/08 /CODE|1/00|"},
        {"CODE elsewhere", "<!DOCTYPE tavr><CODE>a<b></CODE>",
         "3/00 !DOCTYPE|8/08 tavr|3/08 CODE|2/00 a|3/08 b|3/08 /CODE|1/00|"},
        {"PREFORM under XTAVR", "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1//EN\"><PREFORM>a<b><EMPH>y</EMPH></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD XTAVR 1//EN|3/08 PREFORM|2/00 a<b>|3/08 EMPH|"
         "2/00 y|3/08 /EMPH|3/08 /PREFORM|1/00|"},
        {"PREFORM under HOB", "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD HOB 2\"><PREFORM>a<b></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD HOB 2|3/08 PREFORM|2/00 a<b>|3/08 /PREFORM|1/00|"},
        {"PREFORM under TAVR Uja", "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD TAVR Uja\"><PREFORM>a<b></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD TAVR Uja|3/08 PREFORM|2/00 a<b>|3/08 /PREFORM|"
         "1/00|"},
        {"PREFORM under TAVR", "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD TAVR 1\"><PREFORM>a<b></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD TAVR 1|3/08 PREFORM|2/00 a|3/08 b|3/08 /PREFORM|"
         "1/00|"},
        {"PREFORM with a system identifier after XTAVR's",
         "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1\" \"x.dtd\"><PREFORM>a<b></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/01 -//VANDROVE//DTD XTAVR 1|10/09 x.dtd|3/08 PREFORM|2/00 a|3/08 b|"
         "3/08 /PREFORM|1/00|"},
        // PREFORM's inline tags are known by the start of their names.
        {"SUBSCRIPT is a tag by its SUBS, SUB is text",
         "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1//EN\"><PREFORM>a<SUBSCRIPT>b</SUBSCRIPT><SUB>c</SUB></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD XTAVR 1//EN|3/08 PREFORM|2/00 a|3/08 SUBSCRIPT|"
         "2/00 b|3/08 /SUBSCRIPT|2/00 <SUB>c</SUB>|3/08 /PREFORM|1/00|"},
        {"an end tag so known that begins with p ends the literal",
         "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1//EN\"><PREFORM>a</PREFORMAT>b<c></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD XTAVR 1//EN|3/08 PREFORM|2/00 a|3/08 /PREFORMAT|"
         "2/00 b|3/08 c|3/08 /PREFORM|1/00|"},
        {"any other such end tag leaves it literal",
         "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1//EN\"><PREFORM>a</SUPS>b<c></PREFORM>",
         "3/00 !DOCTYPE|8/00 x|9/00 PUBLIC|10/09 -//VANDROVE//DTD XTAVR 1//EN|3/08 PREFORM|2/00 a|3/08 /SUPS|"
         "2/00 b<c>|3/08 /PREFORM|1/00|"},
        {"CDATA with blanks", "<![ CDATA [<a>]]>", "3/00 ![|8/00 CDATA|9/00 |2/38@2 <a>|1/10|"},
        {"CDATA through an entity", "<!ENTITY % e \"CDATA\"><![ %e; [<a>]]>",
         "3/00 !ENTITY|8/00 %|9/00 e|10/09 CDATA|3/00 ![|8/00 CDATA|9/00 |2/38@2 <a>|1/10|"},
        {"IGNORE through an entity stays markup", "<!ENTITY % r \"IGNORE\"><![%r;[<a>]]>",
         "3/00 !ENTITY|8/00 %|9/00 r|10/09 IGNORE|3/00 ![|8/00 IGNORE|9/00 |3/38@2 a|2/28@2 |1/10|"},
        {"ASIS as a short tag stays literal", "<ASIS/>a<b>", "3/08 ASIS|3/08 /ASIS|2/00 a<b>|1/00|"},
    };
    expectRows(cases);
}

TEST(SgmlScanner, OneInputLeavesNoLiteralModeToTheNext) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    EXPECT_EQ(scan(ss.get(), "<!DOCTYPE x PUBLIC \"-//VANDROVE//DTD XTAVR 1\"><PREFORM>a<b></PREFORM>").rows.find("a<b>") !=
                  std::string::npos,
              true);
    EXPECT_EQ(scan(ss.get(), "<PREFORM>a<b></PREFORM>").rows, "3/08 PREFORM|2/00 a|3/08 b|3/08 /PREFORM|1/00|");
    EXPECT_EQ(scan(ss.get(), "<ASIS>open").rows, "3/08 ASIS|2/00 open|1/00|");
    EXPECT_EQ(scan(ss.get(), "<b>x</b>").rows, "3/08 b|2/00 x|3/08 /b|1/00|");
}

TEST(SgmlScanner, BytesAreUnsignedAndControlsHandledPerToken) {
    const RowsCase cases[] = {
        {"high bytes kept in names, values and text", "<t\x80\xff a\xe9=\"\xff\">\xfe\x80",
         "3/00 t\x80\xff|5/00 a\xe9|6/0B \xff|2/00 \xfe\x80|1/00|"},
        {"CR dropped from text only", "a\r\nb<!--c\rd-->", "2/00 a\nb|3/00 !--|7/08 c\rd|1/00|"},
        {"quoted value: TAB dropped, LF a blank", "<p v=\"a\tb\nc\">", "3/00 p|5/00 v|6/0B ab c|1/00|"},
        {"after an identifier 0xFF starts a word, 0x80-0xFE skipped", "<!X a b c \x80\xfe" "d \xff" "e>",
         "3/00 !X|8/00 a|9/00 b|10/00 c|10/00 d|10/08 \xff" "e|1/00|"},
    };
    expectRows(cases);
}

TEST(SgmlScanner, EntitiesExpandOnlyCompleteKnownReferences) {
    const std::string n32(32, 'n'), n33(33, 'n');
    struct Case {
        const char* name;
        std::string input;
        std::string text;  // the last free text's row
    };
    const Case cases[] = {
        {"first word of the text", "<!ENTITY % ab \"x y\">%ab;", "2/00 x|"},
        {"no semicolon", "<!ENTITY % x \"v\">%x", "2/00 %x|"},
        {"blank ends the name", "<!ENTITY % x \"v\">%x y", "2/00 %x y|"},
        {"unknown name", "<!ENTITY % x \"v\">%q;", "2/00 %q;|"},
        {"32 characters found", "<!ENTITY % " + n32 + " \"v\">a%" + n32 + ";b", "2/00 avb|"},
        {"33 characters never found", "<!ENTITY % " + n33 + " \"v\">%" + n33 + ";", "2/00 %" + n33 + ";|"},
        {"empty entity expands to nothing", "<!ENTITY % e \"\">a%e;b", "2/00 ab|"},
        {"one pass", "<!ENTITY % a \"%b;\"><!ENTITY % b \"z\">%a;", "2/00 %b;|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scan r = scan(c.input);
        EXPECT_EQ(r.result, 1);
        ASSERT_GE(r.rows.size(), 6u);
        std::string body = r.rows.substr(0, r.rows.size() - 5);  // without "1/00|"
        size_t last = body.rfind('|', body.size() - 2);
        EXPECT_EQ(body.substr(last + 1), c.text);
    }
}

TEST(SgmlScanner, EntityEntriesKeepNullApartFromEmpty) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    EXPECT_EQ(scan(ss.get(), "<!ENTITY % a \"x y\"><!ENTITY % b \"\"><!ENTITY % c \"'q r' s\">").result, 1);
    ASSERT_TRUE(ss->findEntity("a"));
    EXPECT_EQ(ss->findEntity("a")->value, "x");
    ASSERT_TRUE(ss->findEntity("b"));
    EXPECT_FALSE(ss->findEntity("b")->value);
    EXPECT_EQ(ss->findEntity("c")->value, "q r");
    EXPECT_EQ(ss->findEntity("A"), nullptr);
    ss->addEntity("keep", "k", kEntityPermanent);
    ss->closeInput();
    EXPECT_EQ(ss->findEntity("a"), nullptr);
    EXPECT_TRUE(ss->findEntity("keep"));
    ss->freeEntityList(1);
    EXPECT_TRUE(ss->entities.empty());
}

TEST(SgmlScanner, EntityDeclarationStraddlingTheFirstGrowthIsKept) {
    // 8190 nodes of text and tags, then the declaration across node 8192.
    std::string text;
    for (int i = 0; i < 4095; ++i) text += "t<b>";
    text += "<!ENTITY % e \"v\">%e;";
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    int growths = 0;
    ss->reallocCallback = countGrowth;
    ss->clientData = &growths;
    Scan r = scan(ss.get(), text);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(growths, 1);
    EXPECT_NE(r.rows.find("|9/00 e|10/09 v|2/00 v|1/00|"), std::string::npos);
}

TEST(SgmlScanner, InputErrorsCarryTheirMessages) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    const std::string noInput = tagged("No input provided to function registerInput.<br><br>", "sgmlscanner/1");
    EXPECT_EQ(ss->registerInput(nullptr, 3), 0);
    EXPECT_EQ(ss->getError(), noInput);
    EXPECT_EQ(ss->registerInput("x", 0), 0);
    EXPECT_EQ(ss->getError(), noInput);
    EXPECT_EQ(ss->setInput("/nonexistent/a<b>.sgml"), 0);
    EXPECT_EQ(ss->getError(), tagged("Failed to map file, " + std::string(std::strerror(ENOENT)) +
                                         " '&#47;nonexistent&#47;a&#60;b&#62;.sgml'.<br><br>",
                                     "sgmlscanner/2"));
}

TEST(SgmlScanner, StandardInputScansFromAPipe) {
    int status = -1;
    EXPECT_EQ(test::capture("printf 'a<b>' | " + std::string(SGMLDUMP_PATH) + " --nodes -", &status),
              "2/00 \"a\"\n3/08 \"b\"\n1/00\n");
    EXPECT_EQ(status, 0);
}

// Every prefix of every golden input, ending where readable memory ends:
// from a file of exactly one page and from a page-end copy.
TEST(SgmlScanner, TruncatedInputsEndCleanlyAtTheEndOfReadableMemory) {
    test::TempDir dir;
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    for (const Golden& g : kGolden) {
        std::string input = g.input;
        for (size_t len = 1; len <= input.size(); ++len) {
            std::string prefix = input.substr(0, len);
            SCOPED_TRACE(prefix);
            std::string page = std::string(4096 - len, 'x') + prefix;
            test::writeFile(dir.file("page.sgml"), page);
            ASSERT_EQ(ss->setInput(dir.file("page.sgml").c_str()), 1);
            std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
            EXPECT_EQ(ss->buildNodeList(list.get()), 1);
            MemFile out;
            EXPECT_EQ(ss->printNodeList(list.get(), out.get()), 1);
            ss->freeNodeList(std::move(list));
            ss->closeInput();
            test::PageEndText end(prefix);
            EXPECT_EQ(scan(ss.get(), end.view()).result, 1);
        }
    }
}

TEST(SgmlScanner, FixedListFullFailsTheScanAndEmptiesTheList) {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += "<b>";
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(kScanFixedLists);
    std::unique_ptr<SgmlNodeList> list = ss->newNodeList(0);
    ASSERT_EQ(ss->registerInput(text.data(), text.size()), 1);
    EXPECT_EQ(ss->buildNodeList(list.get()), 0);
    EXPECT_EQ(ss->getError(), tagged("Failed with pool full, 8192 of 8192 nodes.<br><br>", "sgmlscanner/20"));
    EXPECT_EQ(list->firstNode, nullptr);
    EXPECT_EQ(list->lastNode, nullptr);
    EXPECT_EQ(list->pool->usedItems, 0u);
    EXPECT_EQ(list->capacity, 8192u);
}

TEST(SgmlScanner, ParseStatementReturnsEofForEveryCallAfterTheEnd) {
    std::unique_ptr<SgmlScanner> ss = newSgmlScanner(0);
    ASSERT_EQ(ss->registerInput("<a", 2), 1);
    EXPECT_EQ(ss->parseStatement(), SPS_FREETEXT);
    EXPECT_EQ(ss->parseStatement(), SPS_TAGNAME);
    EXPECT_EQ(ss->tagName, "a");
    EXPECT_EQ(ss->parseStatement(), SPS_EOF);
    EXPECT_EQ(ss->parseStatement(), SPS_EOF);
}

}  // namespace
}  // namespace ruva
