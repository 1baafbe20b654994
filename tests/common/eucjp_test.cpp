#include "common/eucjp.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::exactCopy;

std::string hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// Texts end exactly at their NUL (exactCopy), so a look past a lead byte at
// the end is an AddressSanitizer report.

TEST(EucJpDetect, EachRuleDecidesAsSoonAsItCan) {
    struct Case {
        const char* name;
        const char* text;
        TextEncoding want;
    };
    const Case cases[] = {
        {"empty", "", TXTENC_ASCII},
        {"plain ASCII", "plain text 123", TXTENC_ASCII},
        {"0x82 anywhere", "abc\x82\xA0", TXTENC_SJIS},
        {"0x8F", "\x8F", TXTENC_SJIS},
        {"0x9F after a pair both fit", "\xB0\xA1\x9F", TXTENC_SJIS},
        {"0x8E then 0x41", "\x8E\x41", TXTENC_SJIS},
        {"0x8E then 0x90", "\x8E\x90", TXTENC_SJIS},
        {"0x8E then 0xE0", "\x8E\xE0", TXTENC_SJIS},
        {"0x8E kana pair alone", "\x8E\xB1", TXTENC_UNKNOWN},
        {"0x8E then 0xF1", "\x8E\xF1\xA1", TXTENC_SJIS},
        {"0x8E kana pair taken whole", "\x8E\xB1\xF1\xA1", TXTENC_EUCJP},
        {"0x8E at the end", "\x8E", TXTENC_UNKNOWN},
        {"0xF1 0xA1", "\xF1\xA1", TXTENC_EUCJP},
        {"0xFE alone", "\xFE", TXTENC_EUCJP},
        {"0xE0 then 0x40", "\xE0\x40", TXTENC_SJIS},
        {"0xEF then 0xA0", "\xEF\xA0", TXTENC_SJIS},
        {"0xE0 then 0xFD", "\xE0\xFD", TXTENC_EUCJP},
        {"0xE0 pair fits both", "\xE0\xA1", TXTENC_UNKNOWN},
        {"0xE0 pair taken whole", "\xE0\xF0", TXTENC_UNKNOWN},
        {"0xE0 at the end", "\xE0", TXTENC_UNKNOWN},
        {"0xB0 0xA1 alone", "\xB0\xA1", TXTENC_UNKNOWN},
        {"0xB0 then 0xF1", "\xB0\xF1", TXTENC_EUCJP},
        {"kana then ASCII",
         "\xB1"
         "a",
         TXTENC_SJIS},
        {"kana at the end", "\xB1", TXTENC_SJIS},
        {"0xA1-0xDF pair taken whole", "\xB0\xB0\xF1", TXTENC_EUCJP},
        {"look-ahead meets 0x89", "\xB0\xE0\xE5\x89", TXTENC_SJIS},
        {"look-ahead meets 0xFD", "\xB0\xE0\xE5\xFD", TXTENC_EUCJP},
        {"look-ahead meets a blank, then 0xF1", "\xB0\xE0\xA1 \xF1", TXTENC_EUCJP},
        {"look-ahead meets the end", "\xB0\xE0\xA1\xE5", TXTENC_UNKNOWN},
        {"0xA0 and 0xFF fit both", "\xA0\xFF", TXTENC_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(detectJpEncoding(exactCopy(c.text).get()), c.want);
    }
    EXPECT_EQ(detectJpEncoding(nullptr), TXTENC_UNKNOWN);
}

TEST(EucJpDetect, EncodingNames) {
    EXPECT_STREQ(textEncodingName(TXTENC_EUCJP), "euc-jp");
    EXPECT_STREQ(textEncodingName(TXTENC_SJIS), "x-sjis");
    for (int other : {int{TXTENC_UNKNOWN}, int{TXTENC_EUCORSJIS}, int{TXTENC_ASCII}, -1, 99}) {
        SCOPED_TRACE(other);
        EXPECT_STREQ(textEncodingName(other), "");
    }
}

TEST(EucJpDetect, IsEUCencNeedsAPairAndNoBadLead) {
    struct Case {
        const char* text;
        int want;
    };
    const Case cases[] = {
        {"", 0},
        {"abc", 0},
        {"\xB0\xA1", 1},
        {"a\xB0\xA1"
         "b",
         1},
        {"\x8E\xB1", 1},
        {"\x80\xA0\xFF\xB0\xA1", 1},  // bytes that lead nothing are passed over
        {"\xB0\xA1\xB0", 0},          // a lead followed by the terminator
        {"\xB0\x41\xB0\xA1", 0},      // decided at the first bad lead
        {"\x8E\x41", 0},
        {"\xFE\xFE", 1},
        {"\xFE\xFF", 0},
        {"\xFF\xFF", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(isEUCenc(exactCopy(c.text).get()), c.want);
    }
    EXPECT_EQ(isEUCenc(nullptr), 0);
}

TEST(EucJpDetect, IsSJISencChecksEveryHighByte) {
    struct Case {
        const char* text;
        int want;
    };
    const Case cases[] = {
        {"abc", 1},
        {"\x82\xA0", 1},
        {"\xB1\xDF", 1},
        {"\x81\x40\x84\xFE\x87\x7F\x9F\x40\xE0\x40\xEA\x40\xED\x40\xEE\x40\xFA\x40\xFC\x40", 1},
        {"\x85\x40", 0},  // not a lead
        {"\xEB\x40", 0},
        {"\xFD\x40", 0},
        {"\x80", 0},
        {"\x82", 0},  // cut by the terminator
        {"\x82\x3F", 0},
        {"\x82\xFF", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(isSJISenc(exactCopy(c.text).get()), c.want);
    }
    EXPECT_EQ(isSJISenc(nullptr), 0);
}

// Shift_JIS values from python3's shift_jis codec.
TEST(EucJpConvert, Jis2SjisKnownCharacters) {
    struct Case {
        unsigned char c1, c2, s1, s2;
    };
    const Case cases[] = {
        {0x21, 0x21, 0x81, 0x40},                            // ideographic space
        {0x21, 0x5F, 0x81, 0x7E},                            // odd row, last cell below 0x60
        {0x21, 0x60, 0x81, 0x80},                            // odd row, cell 0x60 skips 0x7F
        {0x24, 0x21, 0x82, 0x9F},                            // even row
        {0x30, 0x21, 0x88, 0x9F}, {0x5E, 0x21, 0x9F, 0x9F},  // last row of the low lead range
        {0x5E, 0x7E, 0x9F, 0xFC}, {0x5F, 0x21, 0xE0, 0x40},  // first row of the high lead range
        {0x74, 0x26, 0xEA, 0xA4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(std::string{char(c.c1), char(c.c2)}));
        const BytePair got = jis2sjis(c.c1, c.c2);
        EXPECT_EQ(got.first, c.s1);
        EXPECT_EQ(got.second, c.s2);
    }
}

TEST(EucJpConvert, Euc2SjCopiesWhatItCannotConvert) {
    struct Case {
        const char* name;
        const char* euc;
        std::string want;
    };
    const Case cases[] = {
        {"ASCII", "abc", "abc"},
        {"kanji",
         "a\xB0\xA1"
         "b",
         "a\x88\x9F"
         "b"},
        {"kana pair", "\x8E\xB1", "\xB1"},
        {"0x8E with ASCII", "\x8E\x41", "\x8E\x41"},
        {"0x8E with 0xE0", "\x8E\xE0", "\x8E\xE0"},
        {"0x8E at the end", "a\x8E", "a\x8E"},
        {"lead with ASCII", "\xB0\x41", "\xB0\x41"},
        {"lead with 0xFF", "\xB0\xFF", "\xB0\xFF"},
        {"lead at the end", "a\xB0", "a\xB0"},
        {"0x80-0xA0 and 0xFF copied", "\x80\x8F\xA0\xFF\xA1\xA1", "\x80\x8F\xA0\xFF\x81\x40"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(euc2sj(exactCopy(c.euc).get(), 100)), hex(c.want));
    }
    EXPECT_EQ(euc2sj(nullptr, 100), "");
}

TEST(EucJpConvert, Euc2SjStopsBeforeACharacterThatDoesNotFit) {
    struct Case {
        size_t outlen;
        std::string want;
    };
    // The room of a C buffer: outlen - 1 bytes and the NUL.
    const Case cases[] = {
        {0, ""},
        {1, ""},
        {2, "a"},
        {3, "a"},
        {4, "a\x88\x9F"},
        {5,
         "a\x88\x9F"
         "b"},
        {6,
         "a\x88\x9F"
         "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outlen);
        EXPECT_EQ(hex(euc2sj("a\xB0\xA1"
                             "b",
                             c.outlen)),
                  hex(c.want));
    }
    EXPECT_EQ(hex(euc2sj("\x8E\x41", 2)), "");  // copied as two bytes, so both must fit
}

TEST(EucJpConvert, Euc2SjBufTakesEveryByteOfItsInput) {
    using namespace std::string_view_literals;
    EXPECT_EQ(hex(euc2sjbuf("\xB0\xA1\0\xB0\xA1"sv, 100)), "88 9F 00 88 9F");
    EXPECT_EQ(hex(euc2sjbuf("\xB0\0"sv, 100)), "B0 00");
    // A lead that ends the input is copied alone.
    const std::string text = "\xB0\xA1\xB0\xA1";
    EXPECT_EQ(hex(euc2sjbuf(std::string_view(text).substr(0, 3), 100)), "88 9F B0");
}

TEST(EucJpConvert, Sj2EucTakesKanaAndPairs) {
    struct Case {
        const char* name;
        const char* sjis;
        std::string want;
    };
    const Case cases[] = {
        {"ASCII", "abc", "abc"},
        {"kanji",
         "a\x88\x9F"
         "b",
         "a\xB0\xA1"
         "b"},
        {"high lead range", "\xE0\x40\xEA\xA4", "\xDF\xA1\xF4\xA6"},
        {"second byte above 0x7F", "\x81\x80", "\xA1\xE0"},
        {"kana", "\xB1\xDF", "\x8E\xB1\x8E\xDF"},
        {"0xA0 becomes a kana pair", "\xA0", "\x8E\xA0"},
        {"0x80 copied", "\x80", "\x80"},
        {"lead at the end", "a\x88", "a\x88"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(sj2euc(exactCopy(c.sjis).get())), hex(c.want));
    }
    EXPECT_EQ(sj2euc(nullptr), "");
    const std::string text = "\x88\x9F";
    EXPECT_EQ(hex(sj2eucbuf(std::string_view(text).substr(0, 1))), "88");
}

TEST(EucJpConvert, Sj2EucGrowsWithoutLimit) {
    const std::string kana(5000, '\xB1');
    std::string want;
    for (int i = 0; i < 5000; ++i) want += "\x8E\xB1";
    EXPECT_EQ(sj2euc(kana.c_str()), want);
}

TEST(EucJpUtf8, UcsToUtf8AtEveryLengthBoundary) {
    struct Case {
        uint32_t code;
        const char* want;
    };
    const Case cases[] = {
        {0x0, "00"},
        {0x7F, "7F"},
        {0x80, "C2 80"},
        {0x7FF, "DF BF"},
        {0x800, "E0 A0 80"},
        {0xD800, "ED A0 80"},
        {0xFFFF, "EF BF BF"},
        {0x10000, "F0 90 80 80"},
        {0x10FFFF, "F4 8F BF BF"},
        {0x110000, "F4 90 80 80"},
        {0x1FFFFF, "F7 BF BF BF"},
        {0x200000, "F8 88 80 80 80"},
        {0x3FFFFFF, "FB BF BF BF BF"},
        {0x4000000, "FC 84 80 80 80 80"},
        {0x7FFFFFFF, "FD BF BF BF BF BF"},
        {0x80000000, ""},
        {0xFFFFFFFF, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string utf8 = ucsToUTF8(c.code);
        EXPECT_EQ(hex(utf8), c.want);
        if (!utf8.empty()) {
            EXPECT_EQ(utf8ToUCS(exactCopy(utf8).get()), c.code);
        }
    }
}

TEST(EucJpUtf8, Utf8ToUcsStopsAtTheTerminator) {
    struct Case {
        const char* bytes;
        uint32_t want;
    };
    const Case cases[] = {
        {"", 0},
        {"A", 0x41},
        {"\xE3\x81\x82", 0x3042},
        {"\xE3\x81", 0xC1},  // cut: the bits read so far
        {"\xE3", 0x3},
        {"\xFD\xBF", 0x7F},
        {"\xC3\xA9xyz", 0xE9},  // bytes after the sequence are not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.bytes));
        EXPECT_EQ(utf8ToUCS(exactCopy(c.bytes).get()), c.want);
    }
    EXPECT_EQ(utf8ToUCS(nullptr), 0u);
}

TEST(EucJpChars, EucsincStepsTwoOnlyOverAPair) {
    struct Case {
        const char* text;
        int step;
    };
    const Case cases[] = {
        {"a", 1},        {"", 1},         {"\x8E\xB1", 2}, {"\x8E\x41", 1}, {"\x8E\xE0", 2},
        {"\x8E", 1},     {"\xA1\xA1", 2}, {"\xA1\xFE", 2}, {"\xA1\xFF", 1}, {"\xA1\xA0", 1},
        {"\xFE\xA1", 2}, {"\xFF\xA1", 1}, {"\xA0\xA1", 1}, {"\x8D\xA1", 1}, {"\xB0", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        auto text = exactCopy(c.text);
        EXPECT_EQ(eucsinc(static_cast<const char*>(text.get())) - text.get(), c.step);
        EXPECT_EQ(eucsinc(text.get()) - text.get(), c.step);
    }
}

TEST(EucJpChars, AlphabetAtEveryRangeBoundary) {
    struct Case {
        unsigned char c1, c2;
        EucJpAlphabet want;
    };
    const Case cases[] = {
        // ASCII: the second byte does not matter.
        {'a', 0, EUCJPALPHA_ASCII},
        {'z', 0xFF, EUCJPALPHA_ASCII},
        {'A', 0, EUCJPALPHA_ASCII},
        {'Z', 0, EUCJPALPHA_ASCII},
        {'0', 0, EUCJPALPHA_ASCII},
        {'9', 0, EUCJPALPHA_ASCII},
        {'#', 0, EUCJPALPHA_ASCII},
        {'&', 0, EUCJPALPHA_ASCII},
        {'-', 0, EUCJPALPHA_ASCII},
        {'_', 0, EUCJPALPHA_ASCII},
        {'@', 0, EUCJPALPHA_NONE},
        {'[', 0, EUCJPALPHA_NONE},
        {'`', 0, EUCJPALPHA_NONE},
        {'{', 0, EUCJPALPHA_NONE},
        {'/', 0, EUCJPALPHA_NONE},
        {':', 0, EUCJPALPHA_NONE},
        {' ', 0, EUCJPALPHA_NONE},
        {'.', 0xB0, EUCJPALPHA_NONE},
        // The prolonged sound mark.
        {0xA1, 0xBB, EUCJPALPHA_OTHER},
        {0xA1, 0xBC, EUCJPALPHA_KATAKANA},
        {0xA1, 0xBD, EUCJPALPHA_OTHER},
        // Latin and full-width digits.
        {0xA3, 0xAF, EUCJPALPHA_OTHER},
        {0xA3, 0xB0, EUCJPALPHA_LATIN},
        {0xA3, 0xB9, EUCJPALPHA_LATIN},
        {0xA3, 0xBA, EUCJPALPHA_OTHER},
        {0xA3, 0xC0, EUCJPALPHA_OTHER},
        {0xA3, 0xC1, EUCJPALPHA_LATIN},
        {0xA3, 0xDA, EUCJPALPHA_LATIN},
        {0xA3, 0xDB, EUCJPALPHA_OTHER},
        {0xA3, 0xE0, EUCJPALPHA_OTHER},
        {0xA3, 0xE1, EUCJPALPHA_LATIN},
        {0xA3, 0xFA, EUCJPALPHA_LATIN},
        {0xA3, 0xFB, EUCJPALPHA_OTHER},
        // Hiragana and katakana.
        {0xA4, 0xA0, EUCJPALPHA_NONE},
        {0xA4, 0xA1, EUCJPALPHA_HIRAGANA},
        {0xA4, 0xA2, EUCJPALPHA_HIRAGANA},
        {0xA4, 0xF3, EUCJPALPHA_HIRAGANA},
        {0xA4, 0xF4, EUCJPALPHA_OTHER},
        {0xA5, 0xA0, EUCJPALPHA_NONE},
        {0xA5, 0xA1, EUCJPALPHA_KATAKANA},
        {0xA5, 0xF6, EUCJPALPHA_KATAKANA},
        {0xA5, 0xF7, EUCJPALPHA_OTHER},
        // Greek.
        {0xA6, 0xA1, EUCJPALPHA_GREEK},
        {0xA6, 0xB8, EUCJPALPHA_GREEK},
        {0xA6, 0xB9, EUCJPALPHA_OTHER},
        {0xA6, 0xC0, EUCJPALPHA_OTHER},
        {0xA6, 0xC1, EUCJPALPHA_GREEK},
        {0xA6, 0xD8, EUCJPALPHA_GREEK},
        {0xA6, 0xD9, EUCJPALPHA_OTHER},
        // Cyrillic.
        {0xA7, 0xA1, EUCJPALPHA_CYRILLIC},
        {0xA7, 0xC1, EUCJPALPHA_CYRILLIC},
        {0xA7, 0xC2, EUCJPALPHA_OTHER},
        {0xA7, 0xD0, EUCJPALPHA_OTHER},
        {0xA7, 0xD1, EUCJPALPHA_CYRILLIC},
        {0xA7, 0xF1, EUCJPALPHA_CYRILLIC},
        {0xA7, 0xF2, EUCJPALPHA_OTHER},
        // Kanji.
        {0xAF, 0xFE, EUCJPALPHA_OTHER},
        {0xB0, 0xA0, EUCJPALPHA_NONE},
        {0xB0, 0xA1, EUCJPALPHA_KANJI},
        {0xB0, 0xFE, EUCJPALPHA_KANJI},
        {0xB0, 0xFF, EUCJPALPHA_OTHER},
        {0xF3, 0xA1, EUCJPALPHA_KANJI},
        {0xF3, 0xFE, EUCJPALPHA_KANJI},
        {0xF4, 0xA0, EUCJPALPHA_NONE},
        {0xF4, 0xA1, EUCJPALPHA_KANJI},
        {0xF4, 0xF4, EUCJPALPHA_KANJI},
        {0xF4, 0xF5, EUCJPALPHA_OTHER},
        {0xF5, 0xA1, EUCJPALPHA_OTHER},
        // NONE when either byte is 0xA0 or below, 0x8E aside.
        {0x8E, 0xB1, EUCJPALPHA_OTHER},
        {0x8E, 0x41, EUCJPALPHA_NONE},
        {0xA1, 0x8E, EUCJPALPHA_OTHER},
        {0xA0, 0xA1, EUCJPALPHA_NONE},
        {0xA1, 0xA0, EUCJPALPHA_NONE},
        {0xA1, 0xA1, EUCJPALPHA_OTHER},
        {0x80, 0xFF, EUCJPALPHA_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(std::string{char(c.c1), char(c.c2)}));
        EXPECT_EQ(getEucJpAlphabet(c.c1, c.c2), c.want);
    }
}

// The full grid is checked against Unicode categories by a python3 test.
TEST(EucJpChars, IseucalnumAtItsBoundaries) {
    struct Case {
        const char* text;
        bool want;
    };
    const Case cases[] = {
        {"a", true},        {"Z", true},         {"5", true},         {"_", false},
        {"#", false},       {" ", false},        {"", false},         {"\xA1\xB2", false},
        {"\xA1\xB3", true}, {"\xA1\xB6", true},  {"\xA1\xB7", false}, {"\xA1\xB8", true},
        {"\xA1\xBC", true}, {"\xA1\xBD", false}, {"\xA1\xA2", false}, {"\xA2\xF2", false},
        {"\xA3\xB0", true}, {"\xA3\xAF", false}, {"\xA4\xA1", true},  {"\xA4\xF4", false},
        {"\xA5\xF6", true}, {"\xA6\xC1", true},  {"\xA7\xF1", true},  {"\xB0\xA1", true},
        {"\xF3\xFE", true}, {"\xF4\xF4", true},  {"\xF4\xF5", false}, {"\x8E\xA5", false},
        {"\x8E\xA6", true}, {"\x8E\xDF", true},  {"\x8E\xE0", false}, {"\xB0", false},
        {"\x8E", false},    {"\xFF\xA1", false}, {"\x90\xA1", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(iseucalnum(exactCopy(c.text).get()) != 0, c.want);
    }
    EXPECT_EQ(iseucalnum(nullptr), 0);
}

TEST(EucJpChars, FirstHiraganaAndKanjiStepByCharacters) {
    struct Case {
        const char* text;
        int hiragana;  // offset, -1 for none
        int kanji;
    };
    const Case cases[] = {
        {"", -1, -1},
        {"abc", -1, -1},
        {"ab\xA4\xA2", 2, -1},
        {"\xB0\xA1\xA4\xA2", 2, 0},
        {"\xA5\xA2\xF4\xA1", -1, 2},
        {"\xA1\xA4\xA2", -1, -1},  // the pair 0xA1 0xA4 hides the hiragana bytes
        {"\x8E\xB0\xA1", -1, -1},  // so does a kana pair
        {"a\xB0", -1, -1},         // a lead at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        auto text = exactCopy(c.text);
        const char* hiragana = strEUCHiragana(text.get());
        const char* kanji = strEUCKanji(text.get());
        EXPECT_EQ(hiragana ? hiragana - text.get() : -1, c.hiragana);
        EXPECT_EQ(kanji ? kanji - text.get() : -1, c.kanji);
    }
    EXPECT_EQ(strEUCHiragana(nullptr), nullptr);
    EXPECT_EQ(strEUCKanji(nullptr), nullptr);
}

TEST(EucJpChars, ContainsKanjiReadsPairs) {
    struct Case {
        const char* text;
        int want;
    };
    const Case cases[] = {
        {"", 0},         {"a", 0},        {"abc", 0},          {"\xA4\xA2", 1},  // hiragana
        {"\xB0\xA1", 1},                                                         // the first kanji row
        {"\xB1\xA1", 1}, {"\xF4\xA1", 1}, {"a\xB1\xA1", 1},    {"\xA5\xA2", 0},  // katakana
        {"\xA3\xC1", 0},                                                         // full-width Latin
        {"\xB1\x41", 0}, {"\xB1\xA0", 0}, {"\xA1\xB1\xA1", 0},  // pairs are 0xA1 0xB1, then a lone 0xA1
        {"\xB1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(hex(c.text));
        EXPECT_EQ(containsKanji(exactCopy(c.text).get()), c.want);
    }
    EXPECT_EQ(containsKanji(nullptr), 0);
}

TEST(EucJpSeparate, ScriptsBecomeSeparateTerms) {
    struct Case {
        const char* name;
        const char* pattern;
        std::string want;
    };
    const Case cases[] = {
        {"ASCII only", "abc def", "abc def"},
        {"kanji only", "\xB0\xA1\xB0\xA2", "\xB0\xA1\xB0\xA2"},
        {"ASCII then kanji", "ab\xB0\xA1", "ab \xB0\xA1"},
        {"kanji then ASCII",
         "\xB0\xA1"
         "ab",
         "\xB0\xA1 ab"},
        {"punctuation between ASCII",
         "a\xA1\xA2"
         "b",
         "a  b"},
        {"punctuation between kanji", "\xB0\xA1\xA1\xA3\xB0\xA2", "\xB0\xA1  \xB0\xA2"},
        {"a blank already separates",
         "a \xB0\xA1\t"
         "b",
         "a \xB0\xA1\t"
         "b"},
        {"prolonged sound mark kept", "\xA5\xA2\xA1\xBC", "\xA5\xA2\xA1\xBC"},
        {"ASCII symbols are single bytes", "(\xB0\xA1)", "( \xB0\xA1 )"},
        {"half-width kana",
         "\x8E\xB1"
         "a",
         "\x8E\xB1 a"},
        {"lead at the end", "a\xB0", "a\xB0"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(separateCharacters(exactCopy(c.pattern).get())), hex(c.want));
    }
    EXPECT_EQ(separateCharacters(nullptr), "");
}

TEST(EucJpSeparate, ResultStaysWithin1023BytesAndKeepsPairsWhole) {
    const std::string kanji = "\xB0\xA1";
    std::string kanjiText;
    std::string mixed;
    while (kanjiText.size() < 100 * 1024) kanjiText += kanji;
    while (mixed.size() < 100 * 1024) mixed += "a" + kanji;

    EXPECT_EQ(separateCharacters(std::string(100 * 1024, 'x').c_str()), std::string(1023, 'x'));

    std::string want;
    while (want.size() < 1022) want += kanji;
    EXPECT_EQ(separateCharacters(kanjiText.c_str()), want);

    // "a", then " <kanji>" and " a" in turn: 1 + 5 * 204 bytes, and the
    // next kanji with its blank would make 1024.
    want = "a";
    for (int unit = 1; unit <= 408; ++unit) want += unit % 2 ? " " + kanji : std::string(" a");
    ASSERT_EQ(want.size(), 1021u);
    EXPECT_EQ(separateCharacters(mixed.c_str()), want);
}

TEST(EucJpSeparate, CharacterThatDoesNotFitWithItsBlankIsLeftOut) {
    struct Case {
        size_t letters;
        const char* tail;
        std::string wantTail;
    };
    const Case cases[] = {
        {1020, "\xB0\xA1", " \xB0\xA1"},                            // exactly 1023
        {1021, "\xB0\xA1", ""},                                     // the blank would fit, the pair would not
        {1022, "\xB0\xA1", ""},          {1021, "\xA1\xA2", "  "},  // punctuation: two blanks
        {1022, "\xA1\xA2", ""},          {1022, "b", "b"},         {1023, "b", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.letters) + " + " + hex(c.tail));
        const std::string pattern = std::string(c.letters, 'a') + c.tail;
        bool truncated = false;
        EXPECT_EQ(separateCharacters(pattern.c_str(), &truncated), std::string(c.letters, 'a') + c.wantTail);
        EXPECT_EQ(truncated, c.wantTail.empty());
    }
}

}  // namespace
}  // namespace ruva
