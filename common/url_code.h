// Percent-coding of URL parts. Inputs are NUL-ended texts; a null text
// gives "".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

enum UrlMode {
    // Query values: ' ' to '+'; the bytes of '=;/#%?:{}[]\^~<>"
    // (double quote included), control bytes and bytes from 0x80 to "%XX"
    // (upper-case hex); everything else copied.
    URLMODE_ENCODE = 0,
    // The same with '&' and '+' coded too, for values inside script strings.
    URLMODE_ENCODE_SCRIPT = 1,
    // '+' to ' ', "%XY" with two hex digits (either case) to that byte; a '%'
    // without two hex digits is copied. "%00" ends the result.
    URLMODE_DECODE = 2,
};

// Codes src by mode. Output stops once it holds dstsize characters; when
// encoding, an escape that starts below dstsize is written whole, so the
// result may hold dstsize + 2. *truncated (when not null) tells whether any
// of src was left out for want of room. Any other mode gives "".
std::string urlEncode(int mode, const char* src, size_t dstsize, bool* truncated = nullptr);

// Every '\'' written as "%27", for a link placed in a page. At most
// kEncodeUrlMax characters; the text is cut before a "%27" that would not
// fit whole.
constexpr size_t kEncodeUrlMax = 3072;
std::string encodeURL(const char* text);

// A value placed in a link, a fragment or a script string of a generated
// page: ' " \ < > & % + # and bytes below 0x20 and 0x7F as "%XX", every
// other byte (blank, '/', '|', ':', bytes from 0x80) as it is, so that
// URLMODE_DECODE gives the value back exactly.
std::string encodeLinkValue(std::string_view value);
// encodeLinkValue's text appended to out.
void appendLinkValue(std::string& out, std::string_view value);

}  // namespace ruva
