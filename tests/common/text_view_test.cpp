#include "common/text_view.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>


namespace ruva {
namespace {

TEST(TextViewFindCaseBlind, Table) {
    struct {
        const char* text;
        size_t from;
        const char* word;
        size_t at;
    } const cases[] = {
        {"<HTML><Body>", 0, "<body>", 6},
        {"<body><body>", 1, "<BODY>", 6},
        {"<body>", 6, "", 6},
        {"<bod", 0, "<body>", std::string_view::npos},
        {"abc", 4, "a", std::string_view::npos},
        {"abc", std::string_view::npos, "a", std::string_view::npos},
        {"", 0, "x", std::string_view::npos},
        {"aXAbab", 0, "AB", 2},       // the upper-case candidate comes first
        {"xAxaB", 0, "ab", 3},        // then the lower-case one
        {"abcA", 1, "ab", std::string_view::npos},  // a candidate too late to fit
        {"<a<B", 1, "<b", 2},         // a first byte without case
        {"9x9X", 1, "9x", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // No NUL after the view: a look past its end would be reported.
        std::string_view text(c.text);
        auto exact = std::make_unique<char[]>(text.size());
        text.copy(exact.get(), text.size());
        EXPECT_EQ(findCaseBlind(std::string_view(exact.get(), text.size()), c.from, c.word), c.at);
    }
}

// Against the plain position-by-position search, over texts dense in both
// cases of the first byte, with bytes that differ from letters by 0x20 only
// ('@' and '`', '[' and '{'), long enough for several blocks of 16 and each
// in a block of exactly its size.
TEST(TextViewFindCaseBlind, AgreesWithAPlainSearch) {
    const std::string alphabet = "aAbB<@`[{";
    uint32_t seed = 7;
    auto random = [&](size_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 6000; ++round) {
        std::string text, word;
        for (size_t n = random(round % 2 ? 24 : 80); n > 0; --n) text += alphabet[random(alphabet.size())];
        for (size_t n = 1 + random(round % 3 ? 3 : 20); n > 0; --n) word += alphabet[random(alphabet.size())];
        const size_t from = random(text.size() + 2);
        size_t plain = std::string_view::npos;
        for (size_t i = from; i <= text.size() && text.size() - i >= word.size(); ++i) {
            if (startsCaseBlindAt(text, i, word)) {
                plain = i;
                break;
            }
        }
        auto exact = std::make_unique<char[]>(text.size());
        text.copy(exact.get(), text.size());
        ASSERT_EQ(findCaseBlind(std::string_view(exact.get(), text.size()), from, word), plain)
            << text << " / " << word << " from " << from;
    }
}

}  // namespace
}  // namespace ruva
