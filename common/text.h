// Latin-1 case mapping, searching and classification. Bytes are classified
// as unsigned with ASCII rules; the locale is never consulted.
#pragma once

namespace ruva {

// ISO 8859-1 case mapping of a byte (a negative char is taken as its byte
// value): ASCII below 128, bit 0x20 for 192-255, 128-191 unchanged.
int ltoupper(int ch);
int ltolower(int ch);
// In place over the whole text; lstrupr(nullptr) gives "".
char* lstrupr(char* text);
char* lstrlwr(char* text);

// First occurrence without regard to Latin-1 case; first exact; last exact.
// An empty needle gives the haystack (lstrrstr: its end).
char* strcasestr(const char* haystack, const char* needle);
char* lstrstr(const char* haystack, const char* needle);
char* lstrrstr(const char* haystack, const char* needle);

// 1 when the text holds no ASCII lower-case letter.
int isustr(const char* text);
// 1 when not empty and only letters, digits, - _ + . (with allowPath : / \ too).
int isfnamestr(const char* text, int allowPath);
// 1 when the text holds a byte that is neither white space nor control.
int hasNonSpace(const char* text);
// 1 when the name holds a '.'.
int CheckKivoName(const char* name);
// Value of the leading hexadecimal digits; wraps like unsigned arithmetic.
unsigned hexVal(const char* text);

// ASCII classes on unsigned bytes, for the whole library.
inline bool isAsciiSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
inline bool isAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool isAsciiAlpha(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
// Control characters as ASCII has them: 0x00-0x1F and DEL.
inline bool isAsciiControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}
inline bool isAsciiAlnum(unsigned char c) {
    return isAsciiAlpha(c) || isAsciiDigit(c);
}
inline unsigned char asciiLower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? c | 0x20 : c;
}
inline unsigned char asciiUpper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? c & ~0x20 : c;
}

}  // namespace ruva
