#include "common/quoting.h"

#include "common/text.h"

namespace ruva {

std::string quoteString(const char* text) {
    if (text == nullptr) return std::string();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    bool plain = *p != '\0';
    for (; *p != '\0' && plain; ++p) plain = isAsciiAlnum(*p);
    if (plain) return std::string(text);

    // Only the quote is escaped; getNextToken removes just that backslash.
    std::string quoted = "\"";
    for (p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
        if (*p == '"') quoted += '\\';
        quoted += static_cast<char>(*p);
    }
    quoted += '"';
    return quoted;
}

std::string quoteQuote(const char* text) {
    if (text == nullptr) return std::string();
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\\') {
            // A backslash travels with the character after it, so an
            // already escaped quote is not escaped twice.
            out += *p;
            if (p[1] != '\0') out += *++p;
        } else {
            if (*p == '"') out += '\\';
            out += *p;
        }
    }
    return out;
}

}  // namespace ruva
