#include "bmod/ruvaserv/sgml/sgmlscanner.h"

#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
}  // namespace ruva
