#include "common/tokens.h"

#include <cstdarg>
#include <cstring>
#include <utility>

#include "common/text.h"

namespace ruva {

char* getNextToken(char** cursor) {
    if (cursor == nullptr || *cursor == nullptr) return nullptr;
    char* p = *cursor;
    while (*p != '\0' && isAsciiSpace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') {
        *cursor = p;
        return nullptr;
    }

    if (*p == '"' || *p == '\'') {
        const char quote = *p++;
        char* token = p;
        char* out = p;
        // Removing the backslash of \" shifts the rest of the token left, so
        // the token's end (out) may trail the read position (p).
        while (*p != '\0' && *p != quote) {
            if (*p == '\\' && p[1] == quote) ++p;
            *out++ = *p++;
        }
        if (*p == quote) {
            *p++ = '\0';
            *out = '\0';
            *cursor = p;
        } else {
            // Unterminated: the token runs to the end; the cursor stays on
            // the final NUL so the next call returns null.
            *out = '\0';
            *cursor = p;
        }
        return token;
    }

    char* token = p;
    while (*p != '\0' && !isAsciiSpace(static_cast<unsigned char>(*p))) ++p;
    if (*p != '\0') *p++ = '\0';
    *cursor = p;
    return token;
}

char* expandEscapes(char* text) {
    if (text == nullptr) return nullptr;
    char* in = text;
    char* out = text;
    while (*in != '\0') {
        if (*in != '\\' || in[1] == '\0') {
            *out++ = *in++;
            continue;
        }
        char c;
        switch (in[1]) {
            case 'a':
                c = '\a';
                break;
            case 'b':
                c = '\b';
                break;
            case 'f':
                c = '\f';
                break;
            case 'n':
                c = '\n';
                break;
            case 'r':
                c = '\r';
                break;
            case 't':
                c = '\t';
                break;
            case 'v':
                c = '\v';
                break;
            default:
                // Kept as a pair, so "\\n" stays a backslash pair and an 'n'.
                *out++ = *in++;
                *out++ = *in++;
                continue;
        }
        *out++ = c;
        in += 2;
    }
    *out = '\0';
    return text;
}

char* lstrtok(char* text, const char* delimiters) {
    static char* next = nullptr;
    if (text != nullptr) next = text;
    if (next == nullptr) return nullptr;
    if (delimiters == nullptr) delimiters = "";

    char* p = next + std::strspn(next, delimiters);
    if (*p == '\0') {
        next = nullptr;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end != '\0') {
        *end = '\0';
        next = end + 1;
    } else {
        next = nullptr;
    }
    return p;
}

namespace {

// Start of field n of a tab-separated line, or null when it has fewer fields.
const char* findField(const char* line, int n) {
    if (line == nullptr || n < 0) return nullptr;
    for (; n > 0; --n) {
        line = std::strchr(line, '\t');
        if (line == nullptr) return nullptr;
        ++line;
    }
    return line;
}

// Copies the field at start up to the next tab, at most buflen bytes and a
// NUL; returns whether it fitted with room to spare.
bool copyField(char* buf, int buflen, const char* start) {
    size_t fieldLen = std::strcspn(start, "\t");
    size_t room = static_cast<size_t>(buflen);
    size_t n = fieldLen < room ? fieldLen : room;
    std::memcpy(buf, start, n);
    buf[n] = '\0';
    return fieldLen < room;
}

}  // namespace

int extractResField(char* buf, int buflen, const char* line, int n) {
    if (buf == nullptr || buflen < 0) return 0;
    const char* field = findField(line, n);
    if (field == nullptr) {
        buf[0] = '\0';
        return 0;
    }
    return copyField(buf, buflen, field) ? 1 : 0;
}

int extractResFields(const char* line, ...) {
    va_list ap;
    va_start(ap, line);
    int copied = 0;
    const char* field = line;
    for (;;) {
        char* buf = va_arg(ap, char*);
        if (buf == nullptr) break;
        int len = va_arg(ap, int);
        if (field == nullptr) {
            // The line ran out of fields: later buffers are left empty.
            if (len > 0) buf[0] = '\0';
            continue;
        }
        if (len > 0) {
            copyField(buf, len, field);
            ++copied;
        }
        field = std::strchr(field, '\t');
        if (field != nullptr) ++field;
    }
    va_end(ap);
    return copied;
}

std::vector<std::string> str_split(std::string text, char delimiter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(delimiter, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return pieces;
}

size_t str_split_count(std::string text, char delimiter) {
    return str_split(std::move(text), delimiter).size() + 1;
}

}  // namespace ruva
