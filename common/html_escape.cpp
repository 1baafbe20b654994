#include "common/html_escape.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "common/text.h"

namespace ruva {

namespace {

bool sameNameCaseBlind(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(static_cast<unsigned char>(a[i])) != asciiLower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) {
        if (sameNameCaseBlind(name, n)) return true;
    }
    return false;
}

// Whether the eight bytes at p hold '<', '>', '"' or '\''. A byte equal to
// c is a zero byte of the word xor c, and (x - 0x01..) & ~x & 0x80.. is
// non-zero exactly when x has a zero byte.
bool wordHasSpecial(const char* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const std::uint64_t lt = word ^ (kOnes * '<');
    const std::uint64_t gt = word ^ (kOnes * '>');
    const std::uint64_t dq = word ^ (kOnes * '"');
    const std::uint64_t sq = word ^ (kOnes * '\'');
    return (((lt - kOnes) & ~lt) | ((gt - kOnes) & ~gt) | ((dq - kOnes) & ~dq) | ((sq - kOnes) & ~sq)) &
           kHighs;
}

}  // namespace

std::string validateAllChar(const char* name, const char* value) {
    if (value == nullptr) return std::string();
    std::string_view field = name != nullptr ? name : "";
    const bool searchField = isOneOf(field, {"PA", "PAT", "PAC", "PAD", "PAOR", "SYPA"});
    const bool keepSlash = searchField || isOneOf(field, {"LI", "LC", "SL", "LL", "TLL", "TSL", "FN"});

    std::string_view v = value;
    std::string out;
    out.reserve(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        switch (c) {
            case '"':
                // The search engine reads outer quotes as a phrase.
                if (searchField && (i == 0 || i + 1 == v.size()))
                    out += c;
                else
                    out += "&#34;";
                break;
            case '\'':
                if (searchField)
                    out += c;
                else
                    out += "&#39;";
                break;
            case '/':
                if (keepSlash)
                    out += c;
                else
                    out += "&#47;";
                break;
            case '<':
            case '>':
                out += ' ';
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string validateQuotesAndChar(const char* value, bool all) {
    if (value == nullptr) return std::string();
    std::string out;
    for (const char* p = value; *p != '\0'; ++p) {
        switch (*p) {
            case '"':
                out += "&#34;";
                break;
            case '\'':
                out += "&#39;";
                break;
            case '/':
                out += all ? "&#47;" : "/";
                break;
            case '<':
                out += all ? "&#60;" : "<";
                break;
            case '>':
                out += all ? "&#62;" : ">";
                break;
            default:
                out += *p;
        }
    }
    return out;
}

std::string AmpEsc(const char* text) {
    if (text == nullptr) return std::string();
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        out += *p;
        if (*p != '&') continue;
        // Each test fails at the NUL, so nothing past the end is read.
        const bool escaped = asciiLower(static_cast<unsigned char>(p[1])) == 'a' &&
                             asciiLower(static_cast<unsigned char>(p[2])) == 'm' &&
                             asciiLower(static_cast<unsigned char>(p[3])) == 'p' && p[4] == ';';
        if (!escaped) out += "amp;";
    }
    return out;
}

std::string escapeSpecialChar(const char* text) {
    if (text == nullptr) return std::string();
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (c == '\r') continue;
        const bool escape = c == '\'' || c == '"' || c == '\\';
        if (out.size() + (escape ? 2 : 1) > kEscapeSpecialCharMax) break;
        if (escape) out += '\\';
        out += c == '\n' ? ' ' : c;
    }
    return out;
}

std::string escapeScriptString(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            // Not \': \u0027 keeps the text valid JSON as well.
            case '\'':
                out += "\\u0027";
                break;
            case '<':
                out += "\\u003C";
                break;
            case '>':
                out += "\\u003E";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                // U+2028 and U+2029 are E2 80 A8 and E2 80 A9 in UTF-8.
                if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
                    (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
                    out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
                    i += 2;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void appendHtmlKeepEntities(std::string& out, std::string_view text, bool singleQuoted) {
    // Runs without a special byte are copied whole: titles rarely hold one.
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (const unsigned char c : {'<', '>', '"', '\''}) special[c] = true;
        return special;
    }();
    const size_t n = text.size();
    size_t plain = 0;
    for (size_t i = 0; i < n; ++i) {
        // Eight bytes without one are passed at once; a list page escapes
        // every title and identity.
        if (n - i >= 8 && !wordHasSpecial(text.data() + i)) {
            i += 7;
            continue;
        }
        if (!kSpecial[static_cast<unsigned char>(text[i])]) continue;
        std::string_view entity;
        switch (text[i]) {
            case '<':
                entity = "&lt;";
                break;
            case '>':
                entity = "&gt;";
                break;
            case '"':
                entity = "&quot;";
                break;
            case '\'':
                if (!singleQuoted) continue;
                entity = "&#39;";
                break;
            default:
                continue;
        }
        out.append(text.data() + plain, i - plain);
        out += entity;
        plain = i + 1;
    }
    out.append(text.data() + plain, n - plain);
}

std::string escapeHtmlKeepEntities(std::string_view text, bool singleQuoted) {
    std::string out;
    out.reserve(text.size());
    appendHtmlKeepEntities(out, text, singleQuoted);
    return out;
}

std::string htmlEscaped(const std::string& text) {
    return validateQuotesAndChar(AmpEsc(text.c_str()).c_str(), true);
}

}  // namespace ruva
