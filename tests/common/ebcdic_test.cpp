#include "common/ebcdic.h"

#include <gtest/gtest.h>

#include <string>

// The whole tables are checked against python3's cp037 and iconv's IBM037
// by ctest entries of their own.

namespace ruva {
namespace {

TEST(Ebcdic, EbcascConvertsUpToTheTerminator) {
    // "Hello" LF NEL in IBM-037, a NUL, then a byte that must stay.
    char text[] = "\xC8\x85\x93\x93\x96\x25\x15\0\xC1";
    ebcasc(text);
    EXPECT_EQ(std::string(text, sizeof text - 1), std::string("Hello\n\x85\0\xC1", 9));
    ebcasc(nullptr);
}

TEST(Ebcdic, EbcnascConvertsAtMost255BytesNulsIncluded) {
    struct Case {
        int count;
        int converted;
    };
    const Case cases[] = {{-1, 0}, {0, 0}, {1, 1}, {254, 254}, {255, 255}, {256, 255}, {300, 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        std::string data(300, '\xC1');
        data[10] = '\0';
        ebcnasc(data.data(), c.count);
        std::string want(300, '\xC1');
        for (int i = 0; i < c.converted; ++i) want[i] = 'A';
        want[10] = '\0';  // NUL stays NUL, converted or not
        EXPECT_EQ(data, want);
    }
    ebcnasc(nullptr, 10);
}

TEST(Ebcdic, AscebcUsesTheLow7Bits) {
    char text[] = "Hello\n[]!|^\xC1";
    ascebc(text);
    // 0xC1 is taken as 0x41, 'A'.
    EXPECT_EQ(std::string(text), "\xC8\x85\x93\x93\x96\x25\xBA\xBB\x5A\x4F\xB0\xC1");
    ascebc(nullptr);
}

TEST(Ebcdic, AsciiRoundTrips) {
    std::string all;
    for (int c = 1; c < 128; ++c) all += static_cast<char>(c);
    std::string text = all;
    ascebc(text.data());
    ebcasc(text.data());
    EXPECT_EQ(text, all);
}

}  // namespace
}  // namespace ruva
