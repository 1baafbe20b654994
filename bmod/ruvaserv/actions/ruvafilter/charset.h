// The character set of a page and its characters as printable bytes.
//
// The filter prints Courier re-encoded to ISOLatin1Encoding, so every
// character becomes one byte of 0x20-0x7E or 0xA0-0xFF: what Latin-1 holds
// is kept, box drawing becomes ASCII lines, anything else a '?'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ruva::filter {

enum class Charset : uint8_t { kLatin1, kUtf8, kEucJp };

// The name a page declares: a leading UTF-8 byte order mark, else the
// XML declaration's encoding, else the first <meta> naming a charset before
// "<body". A name must match [A-Za-z0-9_.:-]{1,40}; "" when none does.
std::string_view declaredCharset(std::string_view html);
// UTF-8 for "utf-8" and "utf8", EUC-JP for "euc-jp", "eucjp" and
// "x-euc-jp" (any case); Latin-1 for everything else, "" too.
Charset charsetByName(std::string_view name);
inline Charset detectCharset(std::string_view html) {
    return charsetByName(declaredCharset(html));
}

// The byte a Unicode code point prints as: itself up to U+00FF except the
// controls, U+2500-U+257F as '-', '|', '+', '/', '\\', '=' or 'X', '?' for
// the rest. 0 (print nothing) for U+FEFF, the byte order mark.
unsigned char printableByte(uint32_t code);

struct DecodedChar {
    unsigned char byte;  // as printableByte; 0 prints nothing
    size_t size;         // bytes of text taken, at least 1
};

// The character at text[pos] (pos < text.size()) in charset: a UTF-8
// sequence that is cut, overlong or malformed gives '?' for its first byte
// alone; an EUC-JP character of two or three bytes gives one '?'; Latin-1
// bytes 0x80-0x8A are the line-drawing codes of library pages and
// 0x8B-0x9F, which Latin-1 leaves unused, '?'. Reads nothing past the view.
DecodedChar decodeChar(std::string_view text, size_t pos, Charset charset);

}  // namespace ruva::filter
