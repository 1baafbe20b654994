#include "common/patterns.h"

#include <cstring>
#include <string>

#include "common/text.h"

namespace ruva {

namespace {

// The literal that follows a '*': up to the next unescaped '*', '?' or '['.
// A '\' takes the next byte into it; a trailing '\' stands for itself. The
// literal is never cut, whatever its length.
const char* takeLiteral(const char* p, std::string& literal) {
    literal.clear();
    while (*p && *p != '*' && *p != '?' && *p != '[') {
        if (*p == '\\' && p[1]) ++p;
        literal.push_back(*p++);
    }
    return p;
}

// matchPattern on bytes compared exactly; flag 1 is applied by the caller.
// firstHit takes the literal after a '*' at its first occurrence instead.
int matchExact(const char* p, const char* s, bool firstHit) {
    std::string literal;
    while (*s) {
        switch (*p) {
            case '\0':
                return 0;
            case '?':
                ++p;
                ++s;
                break;
            case '[': {
                // No ranges, no negation; the set ends at the first ']'.
                bool member = false;
                for (++p; *p && *p != ']'; ++p) member |= *p == *s;
                if (*p) ++p;
                if (!member) return 0;
                ++s;
                break;
            }
            case '*': {
                // Stars and '?' right after a '*' take no text.
                while (*p == '*' || *p == '?') ++p;
                if (!*p) return 1;
                const char* needle = p;
                const char* next = p + std::strcspn(p, "\\*?[");
                if (*next == '\0') {
                    // The literal runs to the end of the pattern: search it in place.
                    p = next;
                } else {
                    p = takeLiteral(p, literal);
                    needle = literal.c_str();
                }
                // Greedy: the LAST occurrence (firstHit: the first), and no other
                // one is ever tried.
                // An empty literal (a '[' follows) is found at the end of the text.
                // Every occurrence begins at or after the first byte that equals
                // the literal's first, so the search may start there; names
                // mostly lack that byte, which saves the backward scan.
                if (*needle) {
                    s = std::strchr(s, *needle);
                    if (!s) return 0;
                }
                const char* hit = firstHit ? lstrstr(s, needle) : lstrrstr(s, needle);
                if (!hit) return 0;
                s = hit + std::strlen(needle);
                break;
            }
            case '\\':
                if (p[1]) ++p;  // a trailing '\' is a literal backslash
                [[fallthrough]];
            default:
                if (*p != *s) return 0;
                ++p;
                ++s;
        }
    }
    // The text is used up: so must the pattern be, but for one '*' or '?'.
    return !*p || ((*p == '*' || *p == '?') && !p[1]);
}

std::string asciiLowered(const char* text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
    return lowered;
}

}  // namespace

int isSearchPattern(const char* str) {
    return str && std::strpbrk(str, "*?[") ? 1 : 0;
}

int matchPattern(const char* pat, const char* str, int flags) {
    if (!pat) return 1;
    if (!str) str = "";
    // Lowering both sides once equals lowering every comparison: none of the
    // pattern's special characters is a letter.
    if (flags & 1) return matchExact(asciiLowered(pat).c_str(), asciiLowered(str).c_str(), false);
    return matchExact(pat, str, false);
}

int matchPatternDocID(const char* pat, const char* str, int flags) {
    if (!pat) return 1;
    if (!str) str = "";
    if (flags & 1) return matchExact(asciiLowered(pat).c_str(), asciiLowered(str).c_str(), true);
    return matchExact(pat, str, true);
}

std::string parsePattern(const char* pattern) {
    if (!pattern) return {};
    const char* best = nullptr;
    size_t bestLength = 0;
    for (const char* p = pattern + std::strspn(pattern, "?*"); *p; p += std::strspn(p, "?*")) {
        size_t length = std::strcspn(p, "?*");
        if (length > bestLength) {
            best = p;
            bestLength = length;
        }
        p += length;
    }
    return best ? std::string(best, bestLength) : std::string();
}

int isDelimiter(int ch) {
    unsigned char c = static_cast<unsigned char>(ch);
    return isAsciiAlnum(c) || c == '#' || c == '-' || c == '_' ? 0 : 1;
}

}  // namespace ruva
