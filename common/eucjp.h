// Japanese text in EUC-JP and Shift_JIS: telling them apart, converting
// between them, classifying EUC-JP characters for the search, and single
// code points between UCS and UTF-8.
//
// An EUC-JP character is one byte below 0x80, a pair of bytes 0xA1-0xFE
// (JIS X 0208), or 0x8E followed by a half-width katakana byte 0xA1-0xDF.
// Texts are NUL-terminated unless a length is given; no function reads past
// the terminator or the given length, so a lead byte at the end is taken as
// a single byte. A null text is treated as the empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ruva {

enum TextEncoding {
    TXTENC_UNKNOWN = 0,
    TXTENC_EUCORSJIS = 1,
    TXTENC_EUCJP = 2,
    TXTENC_SJIS = 3,
    TXTENC_ASCII = 4,
};

enum EucJpAlphabet {
    EUCJPALPHA_NONE = 0,
    EUCJPALPHA_ASCII = 1,
    EUCJPALPHA_LATIN = 2,
    EUCJPALPHA_HIRAGANA = 3,
    EUCJPALPHA_KATAKANA = 4,
    EUCJPALPHA_GREEK = 5,
    EUCJPALPHA_CYRILLIC = 6,
    EUCJPALPHA_KANJI = 7,
    EUCJPALPHA_OTHER = 8,
};

// --- Detection -------------------------------------------------------------

// Walks the text and returns as soon as a byte decides between EUC-JP and
// Shift_JIS; TXTENC_ASCII when no byte was 0x80 or above, TXTENC_UNKNOWN
// when such bytes fit both (and for null). Never TXTENC_EUCORSJIS.
TextEncoding detectJpEncoding(const char* text);
// "euc-jp" for TXTENC_EUCJP, "x-sjis" for TXTENC_SJIS, "" otherwise. Static.
const char* textEncodingName(int encoding);

// 1 when the text holds at least one two-byte EUC-JP character and every
// lead byte (0x8E, 0xA1-0xFE) is followed by a byte 0xA1-0xFE; 0 at the
// first lead followed by anything else (the terminator too), or with none.
int isEUCenc(const char* text);
// 1 when every byte of 0x80 or above is a half-width katakana byte
// (0xA1-0xDF) or a Shift_JIS lead (0x81-0x84, 0x87-0x9F, 0xE0-0xEA,
// 0xED-0xEE, 0xFA-0xFC) followed by a byte 0x40-0xFE; else 0. A text
// without such bytes gives 1, null 0.
int isSJISenc(const char* text);

// --- Conversion ------------------------------------------------------------

struct BytePair {
    unsigned char first;
    unsigned char second;
};

// Shift_JIS bytes of the JIS X 0208 row/cell bytes c1, c2 (0x21-0x7E).
// Plain arithmetic: other bytes give whatever it yields.
BytePair jis2sjis(unsigned char c1, unsigned char c2);

// EUC-JP to Shift_JIS. Bytes up to 0xA0 and 0xFF are copied; 0x8E with a
// kana byte 0xA1-0xDF becomes that byte; 0x8E with any other byte is copied
// as the two bytes; a pair of bytes 0xA1-0xFE is converted; a lead
// 0xA1-0xFE with any other byte is copied as the two bytes. outlen is the
// room of a C buffer with its NUL: the result holds at most outlen - 1
// bytes and ends before the first character that does not fit whole.
// euc2sjbuf converts every byte of in (NULs are data); euc2sj a text.
std::string euc2sjbuf(std::string_view in, size_t outlen);
std::string euc2sj(const char* in, size_t outlen);

// Shift_JIS to EUC-JP. Bytes up to 0x80 are copied; 0xA0-0xDF becomes 0x8E
// and the byte; a lead 0x81-0x9F or 0xE0-0xFF takes the next byte and
// becomes the EUC-JP pair of the standard inverse of jis2sjis. The result
// grows as needed. sj2eucbuf converts every byte of in; sj2euc a text.
std::string sj2eucbuf(std::string_view in);
std::string sj2euc(const char* in);

// UTF-8 form of a code point in 1 to 6 bytes (31 bits; surrogates are
// encoded like any other value; U+0000 is one NUL byte); "" above
// 0x7FFFFFFF.
std::string ucsToUTF8(uint32_t code);
// The code point of the UTF-8 sequence at bytes; the lead byte decides the
// length (below 0x80 one, below 0xE0 two, ... 0xFC and above six) and the
// continuation bytes are not checked. A sequence cut by the terminator
// gives the bits of the bytes before it. Null gives 0.
uint32_t utf8ToUCS(const char* bytes);

// --- Characters and classes -------------------------------------------------

// The start of the next character: two bytes on when the byte at p is 0x8E
// or 0xA1-0xFE and the next is 0xA1-0xFE, else one (also on the NUL:
// callers stop there).
const char* eucsinc(const char* p);
char* eucsinc(char* p);

// The class of the character with bytes c1, c2 (c2 unused for an ASCII c1).
// ASCII letters, digits, '#', '&', '-', '_' are EUCJPALPHA_ASCII; a
// two-byte character outside the named ranges is EUCJPALPHA_OTHER, and
// anything whose either byte is 0xA0 or below (other than 0x8E) is
// EUCJPALPHA_NONE.
EucJpAlphabet getEucJpAlphabet(unsigned char c1, unsigned char c2);

// Non-zero when the character at p is a letter or digit: ASCII letters and
// digits; full-width digits and Latin, Greek and Cyrillic letters; kana
// (half-width too), kanji, the iteration marks and the prolonged sound
// mark. Zero for symbols, punctuation and null.
int iseucalnum(const char* p);

// The first hiragana (kanji) character of the text, stepping with eucsinc;
// null when there is none.
const char* strEUCHiragana(const char* text);
const char* strEUCKanji(const char* text);

// 1 when the text, stepped over pairs of bytes above 0x80, holds a pair
// whose first byte is 0xA4 (hiragana) or 0xB0 and above (kanji) and whose
// second is above 0xA0; else 0.
int containsKanji(const char* text);

// A search pattern with its scripts made separate terms: each two-byte
// character that is not a letter or digit (iseucalnum) becomes two blanks,
// and a blank goes between a two-byte character and an adjacent single-byte
// one that is not white space. The result is cut to at most 1023 bytes,
// before a character (with its blank) that does not fit whole; *truncated
// (when given) tells whether anything was left out.
std::string separateCharacters(const char* pattern, bool* truncated = nullptr);

}  // namespace ruva
