#include "common/btree.h"

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace ruva {
namespace {

BTreeValue val(int64_t v) {
    BTreeValue u;
    u.value = v;
    return u;
}

// One node as an in-order walk meets it.
struct Entry {
    std::string key;
    int64_t value;
    int level;
    bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
    return os << "{" << e.key << ", " << e.value << ", level " << e.level << "}";
}

// The tree in order, with each node's scanLevel.
std::vector<Entry> contents(BTree& bt, BTreeNode* start = nullptr) {
    struct Walk {
        BTree* bt;
        std::vector<Entry> out;
    } walk{&bt, {}};
    void* saved = bt.extdata;
    bt.setClientData(&walk);
    bt.scanTree(start, [](void* x, BTreeNode* n) {
        auto w = static_cast<Walk*>(x);
        w->out.push_back({n->id, n->uval.value, w->bt->scanLevel});
        return 1;
    });
    bt.setClientData(saved);
    return walk.out;
}

std::unique_ptr<BTree> treeOf(uint16_t flags, const std::vector<std::string>& keys) {
    auto bt = newBTree(flags);
    int64_t v = 1;
    for (const std::string& k : keys) bt->addNode(k.c_str(), val(v++));
    return bt;
}

// ---------------------------------------------------------------- flags

TEST(BTreeFlags, EqualKeysFollowTheFlags) {
    struct Add {
        const char* key;
        int64_t value;
        int sameAs;  // index of the earlier add whose node comes back, -1 = a new node
    };
    struct {
        const char* name;
        uint16_t flags;
        std::vector<Add> adds;
        std::vector<Entry> tree;
        std::vector<int64_t> replaced;  // values deleteNodeCallback saw
    } const cases[] = {
        {"0: duplicates go right",
         0,
         {{"b", 1, -1}, {"a", 2, -1}, {"b", 3, -1}},
         {{"a", 2, 1}, {"b", 1, 0}, {"b", 3, 1}},
         {}},
        {"1: case-blind, duplicates kept",
         1,
         {{"ABC", 1, -1}, {"abc", 2, -1}, {"abd", 3, -1}},
         {{"ABC", 1, 0}, {"abc", 2, 1}, {"abd", 3, 2}},
         {}},
        {"2: replace sees the old value",
         2,
         {{"k", 1, -1}, {"k", 2, 0}, {"j", 3, -1}},
         {{"j", 3, 1}, {"k", 2, 0}},
         {1}},
        {"2: case matters without 1",
         2,
         {{"ABC", 1, -1}, {"abc", 2, -1}},
         {{"ABC", 1, 0}, {"abc", 2, 1}},
         {}},
        {"3: case-blind replace", 3, {{"ABC", 1, -1}, {"abc", 2, 0}}, {{"ABC", 2, 0}}, {1}},
        {"4: keep first", 4, {{"k", 1, -1}, {"k", 2, 0}}, {{"k", 1, 0}}, {}},
        {"6: keep first wins over replace", 6, {{"k", 1, -1}, {"k", 2, 0}, {"k", 3, 0}}, {{"k", 1, 0}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int64_t> replaced;
        auto bt = newBTree(c.flags);
        ASSERT_NE(bt, nullptr);
        bt->setClientData(&replaced);
        bt->deleteNodeCallback = [](void* x, BTreeNode* n) {
            static_cast<std::vector<int64_t>*>(x)->push_back(n->uval.value);
        };
        std::vector<BTreeNode*> nodes;
        unsigned long expectedCount = 0;
        for (const Add& a : c.adds) {
            BTreeNode* n = bt->addNode(a.key, val(a.value));
            ASSERT_NE(n, nullptr);
            if (a.sameAs >= 0) {
                EXPECT_EQ(n, nodes[static_cast<size_t>(a.sameAs)]) << a.key;
            } else {
                ++expectedCount;
                EXPECT_STREQ(n->id, a.key);
                EXPECT_NE(n->id, a.key) << "the key is a copy";
            }
            nodes.push_back(n);
            EXPECT_EQ(bt->nodeCount, expectedCount) << "after " << a.key;
        }
        EXPECT_EQ(contents(*bt), c.tree);
        EXPECT_EQ(replaced, c.replaced);
        bt->deleteNodeCallback = nullptr;
    }
}

TEST(BTreeFlags, NullKeyIsRefused) {
    auto bt = newBTree(0);
    EXPECT_EQ(bt->addNode(nullptr, val(1)), nullptr);
    EXPECT_EQ(bt->addNodeNoSpc(nullptr, val(1)), nullptr);
    EXPECT_EQ(bt->nodeCount, 0u);
    bt->addNode("a", val(1));
    EXPECT_EQ(bt->findNode(nullptr, nullptr), nullptr);
    EXPECT_EQ(bt->findNodeNoSpc(nullptr, nullptr), nullptr);
}

// ---------------------------------------------------------------- finds

TEST(BTreeFind, EqualKeysComeNearestTheRootFirstThenFromTheRightChild) {
    auto bt = treeOf(0, {"b", "a", "b", "c", "b"});
    std::vector<int64_t> found;
    for (BTreeNode* n = bt->findNode("b", nullptr); n; n = n->right ? bt->findNode("b", n->right) : nullptr) {
        found.push_back(n->uval.value);
    }
    EXPECT_EQ(found, (std::vector<int64_t>{1, 3, 5}));
    // A null start is the root again, not the end of the search.
    EXPECT_EQ(bt->findNode("b", nullptr), bt->root);
}

TEST(BTreeFind, PatternIsTestedOnlyAlongItsOwnPath) {
    struct {
        const char* name;
        uint16_t flags;
        std::vector<std::string> keys;
        const char* id;
        const char* expected;  // null: nothing found
    } const cases[] = {
        {"a match off the path is not found", 0, {"m", "a", "z"}, "*z", nullptr},
        {"a match on the path is found", 0, {"m", "a", "z"}, "a*", "a"},
        {"the root is tested first", 0, {"m", "a", "z"}, "?", "m"},
        {"a greater pattern goes right", 0, {"m", "a", "z"}, "z?", "z"},
        {"flag 1 matches case-blind", 1, {"ABC"}, "a*", "ABC"},
        {"without flag 1 case matters", 0, {"ABC"}, "a*", nullptr},
        {"exact key, flag 1", 1, {"m", "ABC"}, "abc", "ABC"},
        {"exact key missing", 0, {"m", "a", "z"}, "b", nullptr},
        {"stored keys are plain text", 0, {"a*"}, "a", nullptr},
        {"a pattern is only matched", 0, {"[x]"}, "[x]", nullptr},
        {"a set matches", 0, {"x"}, "[x]", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bt = treeOf(c.flags, c.keys);
        BTreeNode* n = bt->findNode(c.id, nullptr);
        if (c.expected) {
            ASSERT_NE(n, nullptr);
            EXPECT_STREQ(n->id, c.expected);
        } else {
            EXPECT_EQ(n, nullptr) << n->id;
        }
    }
}

TEST(BTreeFind, NoSpcIgnoresSpacesAndCaseUnderAnyFlags) {
    for (uint16_t flags : {0, 1, 2, 4}) {
        SCOPED_TRACE(flags);
        auto bt = newBTree(flags);
        BTreeNode* ab = bt->addNodeNoSpc("A B", val(1));
        BTreeNode* doc = bt->addNodeNoSpc("DOC R1A", val(2));
        ASSERT_NE(ab, nullptr);
        EXPECT_STREQ(ab->id, "A B");
        EXPECT_EQ(bt->findNodeNoSpc("ab", nullptr), ab);
        EXPECT_EQ(bt->findNodeNoSpc("\ta\x7f b\n", nullptr), ab);
        EXPECT_EQ(bt->findNodeNoSpc("doc *", nullptr), doc);
        EXPECT_EQ(bt->findNode("ab", nullptr), nullptr) << "the plain find keeps the spaces";
        // Under 2 or 4 "a b" is the same key as "A B".
        BTreeNode* again = bt->addNodeNoSpc("a b", val(3));
        EXPECT_EQ(again == ab, (flags & 6) != 0);
        EXPECT_EQ(bt->nodeCount, (flags & 6) ? 2u : 3u);
    }
}

TEST(BTreeFind, NoSpcKeysHaveNoLengthLimit) {
    std::string spaced, plain;
    for (int i = 0; i < 3000; ++i) {
        spaced += static_cast<char>('a' + i % 26);
        spaced += ' ';
        plain += static_cast<char>('A' + i % 26);
    }
    auto bt = newBTree(0);
    BTreeNode* n = bt->addNodeNoSpc(spaced.c_str(), val(1));
    bt->addNodeNoSpc((spaced + "z").c_str(), val(2));
    EXPECT_EQ(bt->findNodeNoSpc(plain.c_str(), nullptr), n);
    EXPECT_EQ(bt->findNodeNoSpc((plain + "Y").c_str(), nullptr), nullptr);
}

// ---------------------------------------------------------------- scan and delete

// Keys that make a full tree of three levels: d; b f; a c e g.
const std::vector<std::string> kBalanced = {"d", "b", "f", "a", "c", "e", "g"};

TEST(BTreeScan, WalksInOrderWithDepths) {
    auto bt = treeOf(0, kBalanced);
    EXPECT_EQ(
        contents(*bt),
        (std::vector<Entry>{
            {"a", 4, 2}, {"b", 2, 1}, {"c", 5, 2}, {"d", 1, 0}, {"e", 6, 2}, {"f", 3, 1}, {"g", 7, 2}}));
    // From a subtree the depth counts from its top.
    EXPECT_EQ(contents(*bt, bt->root->left), (std::vector<Entry>{{"a", 4, 1}, {"b", 2, 0}, {"c", 5, 1}}));
    EXPECT_EQ(bt->scanTree(nullptr, nullptr), 1);
}

TEST(BTreeScan, CallbackZeroStopsAtOnce) {
    auto bt = treeOf(0, kBalanced);
    int calls = 0;
    bt->setClientData(&calls);
    EXPECT_EQ(bt->scanTree(nullptr, [](void* x, BTreeNode*) { return ++*static_cast<int*>(x) == 2 ? 0 : 1; }),
              0);
    EXPECT_EQ(calls, 2);
}

TEST(BTreeScan, EmptyTreeScansToOne) {
    auto bt = newBTree(0);
    int calls = 0;
    bt->setClientData(&calls);
    EXPECT_EQ(bt->scanTree(nullptr, [](void* x, BTreeNode*) { return ++*static_cast<int*>(x), 0; }), 1);
    EXPECT_EQ(calls, 0);
}

TEST(BTreeScan, ClearDeletesChildrenFirstAndTheCallbackReadsKeyAndValue) {
    std::vector<Entry> deleted;
    auto bt = treeOf(0, kBalanced);
    bt->setClientData(&deleted);
    bt->deleteNodeCallback = [](void* x, BTreeNode* n) {
        static_cast<std::vector<Entry>*>(x)->push_back({n->id, n->uval.value, 0});
    };
    bt->clear();
    EXPECT_EQ(
        deleted,
        (std::vector<Entry>{
            {"a", 4, 0}, {"c", 5, 0}, {"b", 2, 0}, {"e", 6, 0}, {"g", 7, 0}, {"f", 3, 0}, {"d", 1, 0}}));
    EXPECT_EQ(bt->root, nullptr);
    EXPECT_EQ(bt->nodeCount, 0u);
    // The tree is usable again.
    bt->addNode("x", val(9));
    EXPECT_EQ(contents(*bt), (std::vector<Entry>{{"x", 9, 0}}));
}

TEST(BTreeScan, SortedKeysMakeAList) {
    constexpr int kKeys = 3000;
    auto bt = newBTree(0);
    char key[16];
    for (int i = 0; i < kKeys; ++i) {
        std::snprintf(key, sizeof key, "k%05d", i);
        ASSERT_NE(bt->addNode(key, val(i)), nullptr);
    }
    std::vector<Entry> walk = contents(*bt);
    ASSERT_EQ(walk.size(), static_cast<size_t>(kKeys));
    for (int i = 0; i < kKeys; ++i) {
        std::snprintf(key, sizeof key, "k%05d", i);
        ASSERT_EQ(walk[static_cast<size_t>(i)], (Entry{key, i, i}));
    }
    bt->clear();
    EXPECT_EQ(bt->nodeCount, 0u);
}

// ---------------------------------------------------------------- disk images

std::string hexBytes(const char* hex) {
    std::string out;
    unsigned byte;
    int used;
    while (std::sscanf(hex, " %2x%n", &byte, &used) == 1) {
        out += static_cast<char>(byte);
        hex += used;
    }
    return out;
}

std::string be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string header(unsigned long rootOffset, unsigned flags = 0) {
    char line[64];
    std::snprintf(line, sizeof line, "BTREE 1 0 %04X %08lX\n", flags, rootOffset);
    return line;
}

std::string record(uint32_t left, uint32_t right, const std::string& key, uint32_t value) {
    return be32(left) + be32(right) + key + '\0' + be32(value);
}

// The whole stream, from its start.
std::string readAll(FILE* f) {
    std::string out;
    std::fseek(f, 0, SEEK_SET);
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    return out;
}

std::string writeImage(BTree& bt, BTreeDiskCallback callback = nullptr) {
    FILE* f = std::tmpfile();
    if (!f) {
        ADD_FAILURE() << "tmpfile";
        return {};
    }
    EXPECT_EQ(bt.writeDisk(f, callback), 1);
    std::string image = readAll(f);
    std::fclose(f);
    return image;
}

// readDisk from a heap block of exactly the image's size, so that a read
// past its end is an AddressSanitizer report.
int readImage(BTree& bt, const std::string& image, BTreeDiskCallback callback = nullptr) {
    std::unique_ptr<char[]> buf(new char[image.size()]);
    std::memcpy(buf.get(), image.data(), image.size());
    return bt.readDisk(buf.get(), image.size(), callback);
}

TEST(BTreeDisk, GoldenImage) {
    const std::string golden = hexBytes(
        "42 54 52 45 45 20 31 20 30 20 30 30 30 30 20 30 30 30 30 30 30 33 34 0a"  // BTREE 1 0 0000 00000034
        "00000000 00000000 61 00 00000002"                                         // "a" at 24
        "00000000 00000000 63 00 00000003"                                         // "c" at 38
        "00000018 00000026 62 00 00000001");                                       // "b" at 52, the root
    ASSERT_EQ(golden.size(), 66u);
    auto bt = treeOf(0, {"b", "a", "c"});
    EXPECT_EQ(writeImage(*bt), golden);

    auto back = newBTree(5);
    ASSERT_EQ(readImage(*back, golden), 1);
    EXPECT_EQ(back->flags, 0);
    EXPECT_EQ(back->nodeCount, 3u);
    EXPECT_EQ(back->rootoffs, 0x34u);
    EXPECT_EQ(contents(*back), contents(*bt));
}

TEST(BTreeDisk, EmptyTreeIsTheHeaderAlone) {
    auto bt = newBTree(6);
    EXPECT_EQ(writeImage(*bt), "BTREE 1 0 0006 00000000\n");
    auto back = newBTree(0);
    EXPECT_EQ(readImage(*back, "BTREE 1 0 0006 00000000\n"), 1);
    EXPECT_EQ(back->root, nullptr);
    EXPECT_EQ(back->nodeCount, 0u);
    EXPECT_EQ(back->flags, 6);
}

TEST(BTreeDisk, ValuesAreTheLow32BitsReadBackUnsigned) {
    auto bt = newBTree(0);
    bt->addNode("m", val(-1));
    bt->addNode("n", val(0x123456789));
    std::string image = writeImage(*bt);
    EXPECT_EQ(image, header(38) + record(0, 0, "n", 0x23456789) + record(0, 24, "m", 0xFFFFFFFF));
    auto back = newBTree(0);
    ASSERT_EQ(readImage(*back, image), 1);
    EXPECT_EQ(contents(*back), (std::vector<Entry>{{"m", 0xFFFFFFFF, 0}, {"n", 0x23456789, 1}}));
}

// Values that are strings, written by diskCB as a length byte and the bytes.
struct StringValues {
    int readsBeforeFailure = -1;  // -1: never fail
    int deleted = 0;
};

int writeString(BTree* bt, BTreeNode* node) {
    auto s = static_cast<const std::string*>(node->uval.data);
    return std::fputc(static_cast<int>(s->size()), bt->fp) != EOF &&
           std::fwrite(s->data(), 1, s->size(), bt->fp) == s->size();
}

int readString(BTree* bt, BTreeNode* node) {
    auto ctx = static_cast<StringValues*>(bt->extdata);
    if (ctx->readsBeforeFailure == 0) return 0;
    if (ctx->readsBeforeFailure > 0) --ctx->readsBeforeFailure;
    if (bt->diskOffs >= bt->rlen) return 0;
    size_t n = static_cast<unsigned char>(bt->rbuf[bt->diskOffs]);
    if (bt->rlen - bt->diskOffs - 1 < n) return 0;
    node->uval.data = new std::string(bt->rbuf + bt->diskOffs + 1, n);
    return 1;
}

void deleteString(void* x, BTreeNode* node) {
    ++static_cast<StringValues*>(x)->deleted;
    delete static_cast<std::string*>(node->uval.data);
}

std::unique_ptr<BTree> stringTree(StringValues& ctx,
                                  const std::vector<std::pair<const char*, const char*>>& kv) {
    auto bt = newBTree(0);
    bt->setClientData(&ctx);
    bt->deleteNodeCallback = deleteString;
    for (const auto& [k, v] : kv) {
        BTreeValue u;
        u.data = new std::string(v);
        bt->addNode(k, u);
    }
    return bt;
}

// In order: key, depth, value text.
std::vector<std::string> stringContents(BTree& bt) {
    std::vector<std::string> out;
    for (const Entry& e : contents(bt)) {
        BTreeNode* n = bt.findNode(e.key.c_str(), nullptr);
        out.push_back(e.key + " " + std::to_string(e.level) + " " + *static_cast<std::string*>(n->uval.data));
    }
    return out;
}

TEST(BTreeDisk, DiskCallbackWritesAndReadsTheValues) {
    StringValues ctx;
    auto one = stringTree(ctx, {{"k", "xy"}});
    EXPECT_EQ(writeImage(*one, writeString), header(24) + be32(0) + be32(0) + "k" + '\0' + "\x02xy");

    auto bt = stringTree(ctx, {{"m", "middle"}, {"c", ""}, {"x", "last value"}, {"d", "d"}});
    std::string image = writeImage(*bt, writeString);
    StringValues backCtx;
    auto back = newBTree(0);
    back->setClientData(&backCtx);
    back->deleteNodeCallback = deleteString;
    ASSERT_EQ(readImage(*back, image, readString), 1);
    EXPECT_EQ(stringContents(*back), stringContents(*bt));
}

TEST(BTreeDisk, FailedDiskCallbackEmptiesTheTreeAndReleasesWhatWasRead) {
    StringValues ctx;
    auto bt = stringTree(ctx, {{"m", "1"}, {"c", "2"}, {"x", "3"}, {"d", "4"}});
    std::string image = writeImage(*bt, writeString);
    StringValues backCtx;
    backCtx.readsBeforeFailure = 2;
    auto back = newBTree(0);
    back->setClientData(&backCtx);
    back->deleteNodeCallback = deleteString;
    EXPECT_EQ(readImage(*back, image, readString), 0);
    EXPECT_EQ(back->root, nullptr);
    EXPECT_EQ(back->nodeCount, 0u);
    EXPECT_EQ(backCtx.deleted, 2) << "both values read are handed to the delete callback";
}

TEST(BTreeDisk, HostileImagesAreRefused) {
    const std::string a = record(0, 0, "a", 2);  // at 24
    const std::string c = record(0, 0, "c", 3);  // at 38
    const std::string golden = header(52) + a + c + record(24, 38, "b", 1);
    auto patched = [&](size_t at, const std::string& bytes) {
        std::string s = golden;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    struct {
        const char* name;
        std::string image;
    } const cases[] = {
        {"22 bytes", std::string("BTREE 1 0 0 0\n") + std::string(8, '\0')},
        {"wrong magic", patched(4, "X")},
        {"no newline", patched(23, " ")},
        {"28-character header line", "BTREE 1 0 0000 " + std::string(13, '0') + "\n"},
        {"major version 0", patched(6, "0")},
        {"header fields missing", std::string("BTREE 1 0 0000\n") + std::string(9, '\0')},
        // After a short header line a record at 16 would be well-formed.
        {"root offset 0x10", std::string("BTREE 1 0 0 10\n") + '\0' + a},
        {"root offset at len", patched(15, "00000042")},
        // Cut to 32 bits it would be a good offset.
        {"root offset beyond 32 bits", "BTREE 1 0 0 100000018  \n" + a},
        {"truncated key", header(24) + be32(0) + be32(0) + "a"},
        {"truncated value", header(24) + a.substr(0, a.size() - 2)},
        {"child points to itself", header(24) + record(24, 0, "a", 1)},
        {"child points to a later record", header(52) + record(38, 0, "a", 2) + c + record(24, 0, "b", 1)},
        {"record shared by two parents", header(52) + a + record(24, 0, "c", 3) + record(24, 38, "b", 1)},
        {"left and right the same record", header(52) + a + c + record(24, 24, "b", 1)},
        {"child below the header", std::string("BTREE 1 0 0 1E\n") + '\0' + a + record(16, 0, "b", 1)},
        // A record at 25 inside the one at 24: its pointers are that one's
        // zero pointers, its key "y" that one's value.
        {"overlapping records",
         header(39) + std::string(9, '\0') + "y" + std::string(5, '\0') + record(24, 25, "r", 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bt = newBTree(0);
        EXPECT_EQ(readImage(*bt, c.image), 0);
        EXPECT_EQ(bt->root, nullptr);
        EXPECT_EQ(bt->nodeCount, 0u);
        EXPECT_EQ(bt->rbuf, nullptr);
    }
    // Without its fault the overlapping image is well-formed.
    auto bt = newBTree(0);
    EXPECT_EQ(readImage(*bt, header(39) + std::string(9, '\0') + "y" + std::string(5, '\0') +
                                 record(24, 0, "r", 0)),
              1);
}

TEST(BTreeDisk, HeaderBoundsThatAreAccepted) {
    struct {
        const char* name;
        std::string image;
        uint16_t flags;
    } const cases[] = {
        {"23 bytes", std::string("BTREE 1 0 0 0\n") + std::string(9, '\0'), 0},
        {"27-character header line", "BTREE 1 0 0000 " + std::string(12, '0') + "\n", 0},
        {"flags masked with 7", "BTREE 1 0 00FF 00000000\n", 7},
        {"other versions", "BTREE 2 9 0001 00000000\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bt = newBTree(0);
        EXPECT_EQ(readImage(*bt, c.image), 1);
        EXPECT_EQ(bt->root, nullptr);
        EXPECT_EQ(bt->flags, c.flags);
    }
}

TEST(BTreeDisk, ReadIntoAFilledTreeIsRefusedAndLeavesIt) {
    auto bt = treeOf(0, {"q"});
    EXPECT_EQ(readImage(*bt, header(24) + record(0, 0, "a", 1)), 0);
    EXPECT_EQ(contents(*bt), (std::vector<Entry>{{"q", 1, 0}}));
    EXPECT_EQ(bt->nodeCount, 1u);
}

// A stream through fopencookie that can fail its writes or seeks, or jump
// 4 GiB after its first write as if that much lay before the records.
struct FakeStream {
    std::string bytes;
    off64_t pos = 0;
    size_t failAt = SIZE_MAX;  // a write reaching past this byte fails
    bool seekFails = false;
    bool jump = false;
    int writes = 0;
};

FILE* openFake(FakeStream& s) {
    cookie_io_functions_t io{};
    io.write = [](void* c, const char* buf, size_t size) -> ssize_t {
        auto s = static_cast<FakeStream*>(c);
        if (static_cast<size_t>(s->pos) + size > s->failAt) return 0;
        if (s->bytes.size() < static_cast<size_t>(s->pos) + size)
            s->bytes.resize(static_cast<size_t>(s->pos) + size);
        s->bytes.replace(static_cast<size_t>(s->pos), size, buf, size);
        s->pos += static_cast<off64_t>(size);
        if (++s->writes == 1 && s->jump) s->pos += off64_t(1) << 32;
        return static_cast<ssize_t>(size);
    };
    io.seek = [](void* c, off64_t* offset, int whence) {
        auto s = static_cast<FakeStream*>(c);
        if (whence == SEEK_SET && s->seekFails) return -1;
        if (whence == SEEK_SET) {
            s->pos = *offset;
        } else if (whence == SEEK_CUR) {
            s->pos += *offset;
        } else {
            return -1;
        }
        *offset = s->pos;
        return 0;
    };
    return fopencookie(&s, "w", io);
}

TEST(BTreeDisk, WriteFailuresGiveZero) {
    struct {
        const char* name;
        size_t failAt;
        bool seekFails;
        bool jump;
    } const cases[] = {
        {"header write fails", 10, false, false},
        {"record write fails", 40, false, false},
        {"seek to the root offset fails", SIZE_MAX, true, false},
        {"record offset beyond 32 bits", SIZE_MAX, false, true},
    };
    auto bt = treeOf(0, {"b", "a", "c"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeStream s;
        s.failAt = c.failAt;
        s.seekFails = c.seekFails;
        s.jump = c.jump;
        FILE* f = openFake(s);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(bt->writeDisk(f, nullptr), 0);
        std::fclose(f);
        if (c.jump) {
            EXPECT_EQ(s.writes, 1) << "records written past 4 GiB";
        }
    }
    // The same stream without a fault takes the golden image.
    FakeStream s;
    FILE* f = openFake(s);
    EXPECT_EQ(bt->writeDisk(f, nullptr), 1);
    std::fclose(f);
    EXPECT_EQ(s.bytes, writeImage(*bt));
}

TEST(BTreeDisk, StreamNotAtItsStartIsRefusedUntouched) {
    auto bt = treeOf(0, {"b", "a", "c"});
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("keep me", f);
    EXPECT_EQ(bt->writeDisk(f, nullptr), 0);
    EXPECT_EQ(readAll(f), "keep me");
    std::fclose(f);
}

// ---------------------------------------------------------------- deep trees

// A chain as deep as it is long: each record's right child is the record
// before it, the root (the smallest key) comes last.
TEST(BTreeDeep, ChainOf200000ReadsScansWritesAndClears) {
    constexpr uint32_t kDepth = 200000;
    std::string image;
    uint32_t offset = 0;
    char key[16];
    for (uint32_t i = 0; i < kDepth; ++i) {
        std::snprintf(key, sizeof key, "k%06u", kDepth - 1 - i);
        uint32_t here = static_cast<uint32_t>(24 + image.size());
        image += record(0, offset, key, i);
        offset = here;
    }
    image = header(offset) + image;

    auto bt = newBTree(0);
    ASSERT_EQ(readImage(*bt, image), 1);
    EXPECT_EQ(bt->nodeCount, kDepth);

    struct Check {
        BTree* bt;
        uint32_t next = 0;
        uint32_t wrong = 0;
    } check{bt.get()};
    bt->setClientData(&check);
    ASSERT_EQ(bt->scanTree(nullptr,
                           [](void* x, BTreeNode* n) {
                               auto c = static_cast<Check*>(x);
                               char expected[16];
                               std::snprintf(expected, sizeof expected, "k%06u", c->next);
                               if (std::strcmp(n->id, expected) != 0 || c->bt->scanLevel != int(c->next) ||
                                   n->uval.value != int64_t(kDepth - 1 - c->next)) {
                                   ++c->wrong;
                               }
                               ++c->next;
                               return 1;
                           }),
              1);
    EXPECT_EQ(check.next, kDepth);
    EXPECT_EQ(check.wrong, 0u);

    std::string written = writeImage(*bt);
    EXPECT_EQ(written.size(), image.size());
    EXPECT_TRUE(written == image) << "the written image differs from the generated one";

    auto back = newBTree(0);
    ASSERT_EQ(readImage(*back, written), 1);
    EXPECT_EQ(back->nodeCount, kDepth);
    back->clear();
    EXPECT_EQ(back->nodeCount, 0u);
    EXPECT_EQ(back->root, nullptr);
}

}  // namespace
}  // namespace ruva
