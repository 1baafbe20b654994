#include "common/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace ruva {
namespace {

// Latin-1 rule written out independently of the code: ASCII letters, and
// for 192-255 bit 0x20 (all 64 bytes pair up, 0xD7/0xF7 and 0xDF/0xFF too).
int expectedUpper(int b) {
    if (b >= 'a' && b <= 'z') return b - 32;
    if (b >= 0xE0) return b - 32;
    return b;
}
int expectedLower(int b) {
    if (b >= 'A' && b <= 'Z') return b + 32;
    if (b >= 0xC0 && b <= 0xDF) return b + 32;
    return b;
}

TEST(TextCase, EveryByteMapsByTheLatin1RuleWhenPassedAsChar) {
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        char c = static_cast<char>(b);  // negative for b >= 128
        EXPECT_EQ(ltoupper(c), expectedUpper(b));
        EXPECT_EQ(ltolower(c), expectedLower(b));
        EXPECT_EQ(ltoupper(b), expectedUpper(b));
        EXPECT_EQ(ltolower(b), expectedLower(b));
    }
}

TEST(TextCase, KnownPairsAndUnchangedRange) {
    EXPECT_EQ(ltoupper(0xE9), 0xC9);
    EXPECT_EQ(ltolower(0xDF), 0xFF);
    EXPECT_EQ(ltoupper(0xFF), 0xDF);
    EXPECT_EQ(ltolower(0xD7), 0xF7);
    EXPECT_EQ(ltoupper(0xF7), 0xD7);
    EXPECT_EQ(ltoupper(0xB5), 0xB5);
    EXPECT_EQ(ltolower(0xA0), 0xA0);
}

TEST(TextCase, WholeTextsInPlace) {
    char up[] = "caf\xE9 Stra\337e 1";
    EXPECT_EQ(lstrupr(up), up);
    EXPECT_STREQ(up, "CAF\xC9 STRA\337E 1");
    char low[] = "CAF\xC9 \xD7\xB5";
    EXPECT_EQ(lstrlwr(low), low);
    EXPECT_STREQ(low, "caf\xE9 \xF7\xB5");
}

TEST(TextCase, NullTexts) {
    const char* empty = lstrupr(nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(lstrlwr(nullptr), nullptr);
}

TEST(TextSearch, FirstAndLastOccurrences) {
    // Offsets into the haystack; -1 means null.
    struct Case {
        const char* name;
        const char* haystack;
        const char* needle;
        int caseBlind, first, last;
    } cases[] = {
        {"both empty", "", "", 0, 0, 0},
        {"empty haystack", "", "a", -1, -1, -1},
        {"empty needle gives start, or end for last", "abc", "", 0, 0, 3},
        {"needle longer than haystack", "ab", "abc", -1, -1, -1},
        {"whole text", "abc", "abc", 0, 0, 0},
        {"overlapping occurrences", "aaaa", "aaa", 0, 0, 1},
        {"repeated", "abcabc", "bc", 1, 1, 4},
        {"near miss at the end", "abab", "abc", -1, -1, -1},
        {"case differs", "Hello hello", "HELLO", 0, -1, -1},
        {"exact later", "Hello hello", "hello", 0, 6, 6},
        {"Latin-1 case", "caf\xE9", "\xC9", 3, -1, -1},
        {"Latin-1 exact", "caf\xE9", "\xE9", 3, 3, 3},
        {"0xDF pairs with 0xFF", "x\xFF", "\xDF", 1, -1, -1},
        {"0xB5 has no pair", "\xB5", "\x95", -1, -1, -1},
    };
    auto offset = [](const char* hay, const char* hit) { return hit ? static_cast<int>(hit - hay) : -1; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(offset(c.haystack, strcasestr(c.haystack, c.needle)), c.caseBlind);
        EXPECT_EQ(offset(c.haystack, lstrstr(c.haystack, c.needle)), c.first);
        EXPECT_EQ(offset(c.haystack, lstrrstr(c.haystack, c.needle)), c.last);
    }
}

TEST(TextSearch, NullArgumentsFindNothing) {
    EXPECT_EQ(strcasestr(nullptr, "a"), nullptr);
    EXPECT_EQ(strcasestr("a", nullptr), nullptr);
    EXPECT_EQ(lstrstr(nullptr, ""), nullptr);
    EXPECT_EQ(lstrrstr("a", nullptr), nullptr);
}

TEST(TextSearch, LibraryStrcasestrFoldsLatin1ButDoesNotReplaceLibc) {
    const char text[] = "caf\xE9";
    EXPECT_EQ(ruva::strcasestr(text, "\xC9"), text + 3);
    // Were ours exported unmangled, this call would reach it and find the byte.
    EXPECT_EQ(::strcasestr(text, "\xC9"), nullptr);
}

TEST(TextClassify, Table) {
    struct Case {
        const char* text;
        int isu, fname, fnamePath, nonSpace, kivo;
    } cases[] = {
        {"", 1, 0, 0, 0, 0},          {"ABC 1.X", 1, 0, 0, 1, 1}, {"ABc", 0, 1, 1, 1, 0},
        {"caf\xE9", 0, 0, 0, 1, 0},   {"\xE9", 1, 0, 0, 1, 0},    {"a-b_c+d.txt", 0, 1, 1, 1, 1},
        {"dir/file", 0, 0, 1, 1, 0},  {"C:\\X", 1, 0, 1, 1, 0},   {" \t\r\n", 1, 0, 0, 0, 0},
        {"\x01\x7f ", 1, 0, 0, 0, 0}, {" \xA0 ", 1, 0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isustr(c.text), c.isu);
        EXPECT_EQ(isfnamestr(c.text, 0), c.fname);
        EXPECT_EQ(isfnamestr(c.text, 1), c.fnamePath);
        EXPECT_EQ(hasNonSpace(c.text), c.nonSpace);
        EXPECT_EQ(CheckKivoName(c.text), c.kivo);
    }
    EXPECT_EQ(isfnamestr(nullptr, 1), 0);
    EXPECT_EQ(hasNonSpace(nullptr), 0);
    EXPECT_EQ(CheckKivoName(nullptr), 0);
}

TEST(TextHexVal, LeadingDigitsEitherCaseAndWrapping) {
    struct Case {
        const char* text;
        unsigned value;
    } cases[] = {
        {"fFz", 0xff},
        {"", 0},
        {"z1", 0},
        {"1A2b", 0x1a2b},
        {"0x10", 0},
        {"DEADBEEF", 0xdeadbeef},
        {"123456789", 0x23456789},  // the ninth digit shifts the first out
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hexVal(c.text), c.value);
    }
    EXPECT_EQ(hexVal(nullptr), 0u);
}

}  // namespace
}  // namespace ruva
