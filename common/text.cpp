#include "common/text.h"

#include <cstring>

namespace ruva {

namespace {

// The three searches compare bytes as unsigned; the case-blind one folds
// both sides through ltoupper so that Latin-1 letters match too.
bool equalsUpper(unsigned char a, unsigned char b) {
    return ltoupper(a) == ltoupper(b);
}

}  // namespace

int ltoupper(int ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) return asciiUpper(c);
    if (c >= 0xC0) return c & ~0x20;
    return c;
}

int ltolower(int ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x80) return asciiLower(c);
    if (c >= 0xC0) return c | 0x20;
    return c;
}

char* lstrupr(char* text) {
    // Callers print the result unchecked; a writable empty text is safer than null.
    static char empty[1];
    if (!text) {
        empty[0] = '\0';
        return empty;
    }
    for (char* p = text; *p; ++p) *p = static_cast<char>(ltoupper(*p));
    return text;
}

char* lstrlwr(char* text) {
    if (!text) return nullptr;
    for (char* p = text; *p; ++p) *p = static_cast<char>(ltolower(*p));
    return text;
}

char* strcasestr(const char* haystack, const char* needle) {
    if (!haystack || !needle) return nullptr;
    if (!*needle) return const_cast<char*>(haystack);
    for (const char* h = haystack; *h; ++h) {
        const char* a = h;
        const char* b = needle;
        while (*a && *b && equalsUpper(*a, *b)) ++a, ++b;
        if (!*b) return const_cast<char*>(h);
        if (!*a) break;  // the rest of the haystack is shorter than the needle
    }
    return nullptr;
}

char* lstrstr(const char* haystack, const char* needle) {
    if (!haystack || !needle) return nullptr;
    return const_cast<char*>(std::strstr(haystack, needle));
}

char* lstrrstr(const char* haystack, const char* needle) {
    if (!haystack || !needle) return nullptr;
    size_t hlen = std::strlen(haystack);
    size_t nlen = std::strlen(needle);
    // An empty needle is found at the very end, so a pattern's empty literal
    // after '*' takes the whole rest of the text.
    if (nlen > hlen) return nullptr;
    for (size_t i = hlen - nlen + 1; i-- > 0;) {
        if (std::memcmp(haystack + i, needle, nlen) == 0) return const_cast<char*>(haystack + i);
    }
    return nullptr;
}

int isustr(const char* text) {
    if (!text) return 1;
    for (const char* p = text; *p; ++p) {
        if (*p >= 'a' && *p <= 'z') return 0;
    }
    return 1;
}

int isfnamestr(const char* text, int allowPath) {
    if (!text || !*text) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        unsigned char c = *p;
        if (isAsciiAlnum(c) || c == '-' || c == '_' || c == '+' || c == '.') continue;
        if (allowPath && (c == ':' || c == '/' || c == '\\')) continue;
        return 0;
    }
    return 1;
}

int hasNonSpace(const char* text) {
    if (!text) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (!isAsciiSpace(*p) && !isAsciiControl(*p)) return 1;
    }
    return 0;
}

int CheckKivoName(const char* name) {
    return name && std::strchr(name, '.') ? 1 : 0;
}

unsigned hexVal(const char* text) {
    unsigned value = 0;
    if (!text) return 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text);; ++p) {
        unsigned digit;
        if (isAsciiDigit(*p)) {
            digit = *p - '0';
        } else if (asciiLower(*p) >= 'a' && asciiLower(*p) <= 'f') {
            digit = asciiLower(*p) - 'a' + 10;
        } else {
            return value;
        }
        value = value * 16 + digit;
    }
}

}  // namespace ruva
