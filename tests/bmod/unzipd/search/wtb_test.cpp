#include "bmod/unzipd/search/wtb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "common/byte_order.h"

namespace ruva {
namespace {

TEST(Wtb, DimensionIsClampedAndSizesTheTable) {
    const struct {
        int asked, dim;
        size_t entries;
    } cases[] = {{0, 2, 703}, {1, 2, 703}, {2, 2, 703}, {3, 3, 18955}, {4, 4, 511759}, {9, 4, 511759}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.asked);
        auto w = newWtb(c.asked);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->dimension(), c.dim);
        EXPECT_EQ(wtbEntries(w->dimension()), c.entries);
        EXPECT_EQ(w->size(), 0u);
    }
}

TEST(Wtb, SlotOfAWord) {
    auto w = newWtb(3);
    const struct {
        const char* word;
        uint32_t slot;
    } cases[] = {{"ab", 53},  {"AB", 53},        {"Ab1", 53}, {"abc", 2081}, {"ABCDEF", 2081}, {"1st", 0},
                 {"a-b", 1},  {"A", 1},          {"", 0},     {"ZZZ", 18278}, {"[ab", 0},     {"a*c", 1},
                 {"\xC4PFEL", 0}, {"zz", 26 + 26 * 26}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(w->getOffset(c.word), c.slot);
    }
    auto w4 = newWtb(4);
    EXPECT_EQ(w4->getOffset("ZZZZZ"), 475254u);
    auto w2 = newWtb(2);
    EXPECT_EQ(w2->getOffset("ABC"), 53u);
}

TEST(Wtb, CallerBufferIsReadAndLeftIntact) {
    std::vector<unsigned char> buf(703 * 4);
    for (size_t i = 0; i < 703; ++i) putLong(&buf[i * 4], static_cast<uint32_t>(i * 10));
    const std::vector<unsigned char> before = buf;
    {
        auto w = newWtb(2);
        w->setBuffer(buf.data());
        EXPECT_EQ(w->getFlags() & kWtbCallerBuffer, kWtbCallerBuffer);
        EXPECT_EQ(w->get(0), 0u);
        EXPECT_EQ(w->get(702), 7020u);
        EXPECT_EQ(w->get(703), kWtbEmpty);
    }
    EXPECT_EQ(buf, before);
}

TEST(Wtb, OwnTableSetGetWriteRead) {
    auto w = newWtb(2);
    EXPECT_EQ(w->get(0), kWtbEmpty);
    EXPECT_EQ(w->set(0, 1), 0);
    ASSERT_EQ(w->alloc(), 1);
    EXPECT_EQ(w->size(), 703u * 4);
    EXPECT_EQ(w->get(5), kWtbEmpty);
    EXPECT_EQ(w->set(5, 0x01020304), 1);
    EXPECT_EQ(w->set(702, 7), 1);
    EXPECT_EQ(w->set(703, 7), 0);

    FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    EXPECT_EQ(w->write(f), 703u * 4);
    std::rewind(f);
    auto r = newWtb(2);
    ASSERT_EQ(r->alloc(), 1);
    EXPECT_EQ(r->read(f), 703u * 4);
    EXPECT_EQ(r->get(5), 0x01020304u);
    EXPECT_EQ(r->get(702), 7u);
    EXPECT_EQ(r->get(6), kWtbEmpty);
    // A short stream: -1, the entries read so far stay set.
    std::rewind(f);
    auto big = newWtb(3);
    ASSERT_EQ(big->alloc(), 1);
    EXPECT_EQ(big->read(f), static_cast<size_t>(-1));
    EXPECT_EQ(big->get(5), 0x01020304u);
    std::fclose(f);

    w->clear();
    EXPECT_EQ(w->get(5), kWtbEmpty);
    w->freeWtb();
    EXPECT_EQ(w->size(), 0u);
}

TEST(Wtb, WithoutATableReadAndWriteTransferNothing) {
    auto w = newWtb(3);
    FILE* f = std::tmpfile();
    ASSERT_TRUE(f);
    EXPECT_EQ(w->write(f), 0u);
    EXPECT_EQ(w->read(f), 0u);
    EXPECT_EQ(std::ftell(f), 0);
    std::fclose(f);
}

}  // namespace
}  // namespace ruva
