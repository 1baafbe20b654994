#include "common/scramble.h"

#include <gtest/gtest.h>

#include <string>

namespace ruva {
namespace {

TEST(ScrambleXorstr, TwiceRestoresTheText) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string cases[] = {"", "a", "abc", "abcd", "secret password", all, all + all};
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.size());
        std::string once = xorstr(text);
        EXPECT_EQ(once.size(), text.size());
        if (!text.empty()) {
            EXPECT_NE(once, text);
        }
        EXPECT_EQ(xorstr(once), text);
    }
}

TEST(ScrambleXorstr, KeyOfFourBytesStartsOverEachCall) {
    std::string once = xorstr(std::string(12, 'a'));
    for (size_t i = 4; i < once.size(); ++i) EXPECT_EQ(once[i], once[i - 4]) << i;
    EXPECT_EQ(xorstr("ab"), xorstr("abcd").substr(0, 2));
    // ASCII never scrambles to a NUL, so the result stays a C string.
    std::string ascii;
    for (int c = 1; c < 128; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(xorstr(ascii).find('\0'), std::string::npos);
}

}  // namespace
}  // namespace ruva
