#include "common/byte_order.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace ruva {
namespace {

TEST(ByteOrder, ReadsAtAnOddAddress) {
    alignas(4) const unsigned char buf[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0xBB};
    const unsigned char* p = buf + 1;
    EXPECT_EQ(getLong(p), 0x01020304u);
    EXPECT_EQ(getWord(p), 0x0102u);
    EXPECT_EQ(getByte(p), 0x01u);
    EXPECT_EQ(L2H(p), 0x04030201u);
    EXPECT_EQ(W2H(p), 0x0201u);
}

TEST(ByteOrder, HighBytesReadUnsigned) {
    const unsigned char buf[] = {0xFF, 0xFE, 0xFD, 0xFC};
    EXPECT_EQ(getLong(buf), 0xFFFEFDFCu);
    EXPECT_EQ(L2H(buf), 0xFCFDFEFFu);
    EXPECT_EQ(getWord(buf), 0xFFFEu);
    EXPECT_EQ(W2H(buf), 0xFEFFu);
}

TEST(ByteOrder, PutLongAtAnOddAddressTouchesOnlyFourBytes) {
    alignas(4) unsigned char buf[6] = {0xAA, 0, 0, 0, 0, 0xBB};
    putLong(buf + 1, 0x01020304);
    const unsigned char expected[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0xBB};
    EXPECT_EQ(std::memcmp(buf, expected, sizeof buf), 0);
    EXPECT_EQ(getLong(buf + 1), 0x01020304u);
}

TEST(ByteOrder, Swaps) {
    EXPECT_EQ(swapWord(0x0102), 0x0201);
    EXPECT_EQ(swapLong(0x01020304u), 0x04030201u);
    EXPECT_EQ(swapLong(0xFF000080u), 0x800000FFu);
}

TEST(ByteOrder, WritesBigEndianToAStream) {
    char* data = nullptr;
    size_t size = 0;
    FILE* fp = open_memstream(&data, &size);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(writeLong(fp, 0x01020304), 1);
    EXPECT_EQ(writeWord(fp, 0x0506), 1);
    EXPECT_EQ(writeByte(fp, 0x07), 1);
    EXPECT_EQ(writeLong(fp, 0xFFFEFDFC), 1);
    ASSERT_EQ(std::fclose(fp), 0);
    const unsigned char expected[] = {1, 2, 3, 4, 5, 6, 7, 0xFF, 0xFE, 0xFD, 0xFC};
    ASSERT_EQ(size, sizeof expected);
    EXPECT_EQ(std::memcmp(data, expected, size), 0);
    std::free(data);
}

TEST(ByteOrder, FailedWritesReturnZero) {
    char buf[8] = {};
    FILE* fp = fmemopen(buf, sizeof buf, "r");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(writeLong(fp, 1), 0);
    EXPECT_EQ(writeWord(fp, 1), 0);
    EXPECT_EQ(writeByte(fp, 1), 0);
    std::fclose(fp);
    EXPECT_EQ(writeLong(nullptr, 1), 0);
}

}  // namespace
}  // namespace ruva
