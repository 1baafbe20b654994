#include "common/text_clean.h"

#include <cstring>

#include "common/text.h"

namespace ruva {

namespace {

using Keep = bool (*)(unsigned char c);

// Copies the bytes that keep() accepts, at most max of them and a NUL.
// skip, when not null, is one source byte left out as well.
char* copyKept(char* dst, const char* src, int max, Keep keep, const char* skip) {
    if (!dst) return nullptr;
    int n = 0;
    if (src) {
        for (const char* p = src; *p && n < max; ++p) {
            if (p != skip && keep(static_cast<unsigned char>(*p))) dst[n++] = *p;
        }
    }
    dst[n] = '\0';
    return dst;
}

bool notSpace(unsigned char c) {
    return !isAsciiSpace(c);
}
bool notSpaceOrControl(unsigned char c) {
    return !isAsciiSpace(c) && !isAsciiControl(c);
}

// Removes n leading bytes of a NUL-ended text in place.
void dropFront(char* text, size_t n) {
    if (n) std::memmove(text, text + n, std::strlen(text + n) + 1);
}

}  // namespace

void foldNoSpc(const char* text, std::string& out) {
    out.clear();
    for (auto p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (!isAsciiSpace(*p) && !isAsciiControl(*p)) out.push_back(static_cast<char>(asciiLower(*p)));
    }
}

char* removeControls(char* dst, const char* src, int max) {
    if (!dst || !src || max <= 0) return nullptr;
    int n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p && n < max - 1; ++p) {
        if (*p == '\n') {
            if (n == 0 || dst[n - 1] != ' ') dst[n++] = ' ';
        } else if (*p >= 0x20) {  // unsigned: Latin-1 bytes stay
            dst[n++] = static_cast<char>(*p);
        }
    }
    while (n > 0 && (dst[n - 1] == ' ' || dst[n - 1] == '\n')) --n;
    dst[n] = '\0';
    size_t lead = 0;
    while (isAsciiSpace(dst[lead])) ++lead;
    dropFront(dst, lead);
    return dst;
}

char* controlsToSpace(char* dst, const char* src, int max) {
    if (!dst) return nullptr;
    if (!src || max <= 0) {
        dst[0] = '\0';
        return dst;
    }
    int n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p && n < max; ++p) {
        if (!isAsciiControl(*p)) {
            dst[n++] = static_cast<char>(*p);
        } else if (n == 0 || dst[n - 1] != ' ') {
            dst[n++] = ' ';
        }
    }
    dst[n] = '\0';
    if (std::strcmp(src, " ") == 0) return dst;
    size_t lead = 0;
    while (isAsciiSpace(dst[lead])) ++lead;
    // A text that began on a new line keeps one blank in front.
    if (src[0] == '\n' && lead > 0) --lead;
    dropFront(dst, lead);
    return dst;
}

char* removeSpaces(char* dst, const char* src, int max) {
    return copyKept(dst, src, max, notSpaceOrControl, nullptr);
}

char* removeSpacesforpn(char* dst, const char* src, int max) {
    return copyKept(dst, src, max, notSpace, nullptr);
}

char* removeSpacesforpath(char* dst, const char* src, int max) {
    const char* lastSlash = nullptr;
    if (src) {
        size_t len = std::strlen(src);
        if (len > 0 && src[len - 1] == '/') lastSlash = src + len - 1;
    }
    return copyKept(dst, src, max, notSpace, lastSlash);
}

char* trimwhitespace(char* text) {
    if (!text) return nullptr;
    size_t len = std::strlen(text);
    while (len > 0 && isAsciiSpace(text[len - 1])) --len;
    text[len] = '\0';
    size_t lead = 0;
    while (isAsciiSpace(text[lead])) ++lead;
    dropFront(text, lead);
    return text;
}

int unpackLine(char* dst, const char* src, int max) {
    if (!dst || !src || max <= 0) return 0;
    int n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(src); *p; ++p) {
        int count = *p & 0x80 ? *p & 0x7f : 1;
        char c = *p & 0x80 ? ' ' : static_cast<char>(*p);
        for (int i = 0; i < count; ++i) {
            // The result and its NUL must fit in max bytes.
            if (n + 1 >= max) {
                dst[n] = '\0';
                return 0;
            }
            dst[n++] = c;
        }
    }
    dst[n] = '\0';
    return 1;
}

int estimateVisualLength(const char* html) {
    if (!html) return 0;
    int n = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(html);
    while (*p) {
        if (*p == '<') {
            while (*p && *p != '>') ++p;
            if (*p) ++p;
        } else if (*p == '&') {
            ++n;
            ++p;
            while (*p && *p != ';' && !isAsciiSpace(*p)) ++p;
            if (*p == ';') ++p;
        } else {
            ++n;
            ++p;
        }
    }
    return n;
}

std::string normalizeDate(const char* text) {
    if (!text) return {};
    std::string groups[3];
    int g = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (*p && g < 3) {
        while (*p && !isAsciiDigit(*p)) ++p;
        if (!*p) break;
        while (isAsciiDigit(*p)) groups[g] += static_cast<char>(*p++);
        ++g;
    }
    std::string date;
    const std::string& year = groups[0];
    if (year.size() == 1) {
        date = "200" + year;
    } else if (year.size() == 2) {
        date = (year < "70" ? "20" : "19") + year;
    } else if (year.empty()) {
        date = "0000";
    } else {
        date = year;
    }
    for (int i = 1; i < 3; ++i) {
        const std::string& part = groups[i];
        if (part.empty()) {
            date += "00";
        } else {
            if (part.size() == 1) date += '0';
            date += part;
        }
    }
    if (date.size() > 8) date.resize(8);
    return date;
}

void addField(char* dst, const char* value, int width) {
    if (!dst || width <= 0) return;
    char* end = dst + std::strlen(dst);
    size_t len = value ? std::strlen(value) : 0;
    if (len > static_cast<size_t>(width - 1)) len = width - 1;
    if (len) std::memcpy(end, value, len);
    std::memset(end + len, ' ', width - len);
    end[width] = '\0';
}

}  // namespace ruva
