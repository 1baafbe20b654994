#include "common/url_code.h"

#include <array>
#include <cstring>

#include "common/text.h"

namespace ruva {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool needsEscape(unsigned char c, bool script) {
    if (isAsciiControl(c) || c >= 0x80) return true;
    if (c == '&' || c == '+') return script;
    return c != '\0' && std::strchr("'=;/#%?:{}[]\\^~<>\"", c) != nullptr;
}

int hexValue(unsigned char c) {
    if (isAsciiDigit(c)) return c - '0';
    c = asciiLower(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string encode(const unsigned char* p, size_t dstsize, bool script, bool* truncated) {
    std::string out;
    for (; *p != '\0' && out.size() < dstsize; ++p) {
        if (*p == ' ') {
            out += '+';
        } else if (needsEscape(*p, script)) {
            out += '%';
            out += kHexDigits[*p >> 4];
            out += kHexDigits[*p & 0x0F];
        } else {
            out += static_cast<char>(*p);
        }
    }
    if (truncated != nullptr) *truncated = *p != '\0';
    return out;
}

std::string decode(const unsigned char* p, size_t dstsize, bool* truncated) {
    std::string out;
    for (; *p != '\0' && out.size() < dstsize; ++p) {
        // The hex test fails at a NUL, so p[2] is read only when p[1] is a digit.
        int high;
        int low;
        if (*p == '%' && (high = hexValue(p[1])) >= 0 && (low = hexValue(p[2])) >= 0) {
            if (high == 0 && low == 0) {
                // The decoded text was a C string; a NUL ended it.
                if (truncated != nullptr) *truncated = false;
                return out;
            }
            out += static_cast<char>(high << 4 | low);
            p += 2;
        } else {
            out += *p == '+' ? ' ' : static_cast<char>(*p);
        }
    }
    if (truncated != nullptr) *truncated = *p != '\0';
    return out;
}

}  // namespace

std::string urlEncode(int mode, const char* src, size_t dstsize, bool* truncated) {
    if (truncated != nullptr) *truncated = false;
    if (src == nullptr) return std::string();
    const unsigned char* p = reinterpret_cast<const unsigned char*>(src);
    switch (mode) {
        case URLMODE_ENCODE:
            return encode(p, dstsize, false, truncated);
        case URLMODE_ENCODE_SCRIPT:
            return encode(p, dstsize, true, truncated);
        case URLMODE_DECODE:
            return decode(p, dstsize, truncated);
        default:
            return std::string();
    }
}

std::string encodeURL(const char* text) {
    if (text == nullptr) return std::string();
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const bool quote = *p == '\'';
        if (out.size() + (quote ? 3 : 1) > kEncodeUrlMax) break;
        if (quote)
            out += "%27";
        else
            out += *p;
    }
    return out;
}

namespace {

// Only what ends an attribute, a script string, a parameter or a fragment,
// or starts an escape; blanks, '/' and '|' stay readable. A table, since
// list pages code two values in each of thousands of rows.
constexpr std::array<bool, 256> kLinkCoded = [] {
    std::array<bool, 256> coded{};
    for (int c = 0; c < 0x20; ++c) coded[c] = true;
    coded[0x7F] = true;
    for (const char* p = "'\"\\<>&%+#"; *p; ++p) coded[static_cast<unsigned char>(*p)] = true;
    return coded;
}();

}  // namespace

void appendLinkValue(std::string& out, std::string_view value) {
    size_t plain = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (!kLinkCoded[c]) continue;
        out.append(value.data() + plain, i - plain);
        const char escape[] = {'%', kHexDigits[c >> 4], kHexDigits[c & 0x0F]};
        out.append(escape, sizeof escape);
        plain = i + 1;
    }
    out.append(value.data() + plain, value.size() - plain);
}

std::string encodeLinkValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    appendLinkValue(out, value);
    return out;
}

}  // namespace ruva
