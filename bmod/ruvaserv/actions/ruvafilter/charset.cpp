#include "bmod/ruvaserv/actions/ruvafilter/charset.h"

#include <array>

#include "common/html_charset.h"
#include "common/text_view.h"

namespace ruva::filter {

namespace {

// Library pages draw lines with bytes 0x80-0x8A; shown as the pages' text
// form does it.
constexpr std::array<char, 11> kLineBytes = {'|', '+', '\\', '\\', '-', '-', '+', '-', '+', '/', '/'};

// U+2500-U+257F by ranges, in the same style: corners as slashes, the
// tees that open up or down as '-', the others as '+'.
struct BoxRange {
    uint16_t first;
    uint16_t last;
    char ascii;
};
constexpr BoxRange kBoxRanges[] = {
    {0x2500, 0x2501, '-'}, {0x2502, 0x2503, '|'},  {0x2504, 0x2505, '-'}, {0x2506, 0x2507, '|'},
    {0x2508, 0x2509, '-'}, {0x250A, 0x250B, '|'},  {0x250C, 0x250F, '/'}, {0x2510, 0x2517, '\\'},
    {0x2518, 0x251B, '/'}, {0x251C, 0x252B, '+'},  {0x252C, 0x253B, '-'}, {0x253C, 0x254B, '+'},
    {0x254C, 0x254D, '-'}, {0x254E, 0x254F, '|'},  {0x2550, 0x2550, '='}, {0x2551, 0x2551, '|'},
    {0x2552, 0x2554, '/'}, {0x2555, 0x255A, '\\'}, {0x255B, 0x255D, '/'}, {0x255E, 0x2563, '+'},
    {0x2564, 0x2569, '-'}, {0x256A, 0x256C, '+'},  {0x256D, 0x256D, '/'}, {0x256E, 0x256E, '\\'},
    {0x256F, 0x256F, '/'}, {0x2570, 0x2570, '\\'}, {0x2571, 0x2571, '/'}, {0x2572, 0x2572, '\\'},
    {0x2573, 0x2573, 'X'},
};
constexpr uint32_t kBoxFirst = 0x2500;
constexpr uint32_t kBoxLast = 0x257F;

constexpr std::array<char, kBoxLast - kBoxFirst + 1> makeBoxTable() {
    std::array<char, kBoxLast - kBoxFirst + 1> table{};
    for (const BoxRange& r : kBoxRanges) {
        for (uint32_t c = r.first; c <= r.last; ++c) table[c - kBoxFirst] = r.ascii;
    }
    // U+2574-U+257F: half lines, left/up alternating.
    for (uint32_t c = 0x2574; c <= kBoxLast; ++c) table[c - kBoxFirst] = (c & 1) ? '|' : '-';
    return table;
}
constexpr auto kBoxTable = makeBoxTable();
static_assert(kBoxTable[0x2518 - kBoxFirst] == '/' && kBoxTable[0x2577 - kBoxFirst] == '|');

bool isContinuation(std::string_view text, size_t pos) {
    return pos < text.size() && (byteAt(text, pos) & 0xC0) == 0x80;
}

DecodedChar decodeUtf8(std::string_view text, size_t pos) {
    const unsigned char lead = byteAt(text, pos);
    size_t size;
    uint32_t code;
    uint32_t least;  // the smallest code point of that length; below it is overlong
    if (lead >= 0xC0 && lead < 0xE0) {
        size = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        size = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        size = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return {'?', 1};
    }
    for (size_t i = 1; i < size; ++i) {
        if (!isContinuation(text, pos + i)) return {'?', 1};
        code = (code << 6) | (byteAt(text, pos + i) & 0x3F);
    }
    if (code < least || code > 0x10FFFF) return {'?', 1};
    return {printableByte(code), size};
}

bool isEucByte(std::string_view text, size_t pos) {
    return pos < text.size() && byteAt(text, pos) >= 0xA1 && byteAt(text, pos) <= 0xFE;
}

DecodedChar decodeEucJp(std::string_view text, size_t pos) {
    const unsigned char lead = byteAt(text, pos);
    if (lead == 0x8E && pos + 1 < text.size() && byteAt(text, pos + 1) >= 0xA1 &&
        byteAt(text, pos + 1) <= 0xDF)
        return {'?', 2};  // half-width katakana
    if (lead == 0x8F && isEucByte(text, pos + 1) && isEucByte(text, pos + 2)) return {'?', 3};  // JIS X 0212
    if (isEucByte(text, pos) && isEucByte(text, pos + 1)) return {'?', 2};
    return {'?', 1};
}

}  // namespace

std::string_view declaredCharset(std::string_view html) {
    if (startsAt(html, 0, "\xEF\xBB\xBF")) return "utf-8";
    const std::string_view name = xmlDeclaredCharset(html);
    if (!name.empty()) return name;
    // A meta in the body does not count.
    return metaDeclaredCharset(html.substr(0, findCaseBlind(html, 0, "<body")));
}

Charset charsetByName(std::string_view name) {
    for (std::string_view utf8 : {"utf-8", "utf8"}) {
        if (name.size() == utf8.size() && startsCaseBlindAt(name, 0, utf8)) return Charset::kUtf8;
    }
    for (std::string_view euc : {"euc-jp", "eucjp", "x-euc-jp"}) {
        if (name.size() == euc.size() && startsCaseBlindAt(name, 0, euc)) return Charset::kEucJp;
    }
    return Charset::kLatin1;
}

unsigned char printableByte(uint32_t code) {
    if (code == 0xFEFF) return 0;
    if (code < 0x20 || (code >= 0x7F && code < 0xA0)) return '?';
    if (code <= 0xFF) return static_cast<unsigned char>(code);
    if (code >= kBoxFirst && code <= kBoxLast) return static_cast<unsigned char>(kBoxTable[code - kBoxFirst]);
    return '?';
}

DecodedChar decodeChar(std::string_view text, size_t pos, Charset charset) {
    const unsigned char c = byteAt(text, pos);
    if (c < 0x80) return {printableByte(c), 1};
    switch (charset) {
        case Charset::kUtf8:
            return decodeUtf8(text, pos);
        case Charset::kEucJp:
            return decodeEucJp(text, pos);
        case Charset::kLatin1:
            break;
    }
    if (c - 0x80u < kLineBytes.size()) return {static_cast<unsigned char>(kLineBytes[c - 0x80]), 1};
    return {printableByte(c), 1};
}

}  // namespace ruva::filter
