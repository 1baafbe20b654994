#include "bmod/ruvaserv/actions/ruvafilter/entities.h"

#include <array>

#include "common/text_view.h"

namespace ruva::filter {

namespace {

constexpr size_t kMaxNameSize = 8;  // "thetasym" is longer than any name here
constexpr size_t kMaxDecimal = 7;   // digits of U+10FFFF
constexpr size_t kMaxHex = 6;
constexpr uint32_t kReplacement = 0xFFFD;

struct NamedCode {
    std::string_view name;
    uint32_t code;
};
constexpr std::array<NamedCode, 5> kXmlNames = {
    {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};

// U+00A0 + index.
constexpr std::array<std::string_view, 96> kLatin1Names = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
    "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
    "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};

bool lookupName(std::string_view name, uint32_t& code) {
    for (const NamedCode& n : kXmlNames) {
        if (n.name == name) return code = n.code, true;
    }
    for (size_t i = 0; i < kLatin1Names.size(); ++i) {
        if (kLatin1Names[i] == name) return code = static_cast<uint32_t>(0xA0 + i), true;
    }
    return false;
}

int digitValue(unsigned char c, bool hex) {
    if (isAsciiDigit(c)) return c - '0';
    const unsigned char lower = asciiLower(c);
    if (hex && lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
    return -1;
}

// "&#ddd;" or "&#xhh;" at pos.
bool decodeNumber(std::string_view text, size_t pos, Reference& ref) {
    size_t at = pos + 2;
    const bool hex = at < text.size() && (text[at] == 'x' || text[at] == 'X');
    if (hex) ++at;
    const size_t first = at;
    const size_t limit = hex ? kMaxHex : kMaxDecimal;
    uint32_t code = 0;
    for (int d; at < text.size() && at - first < limit && (d = digitValue(byteAt(text, at), hex)) >= 0; ++at)
        code = code * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    if (at == first || at >= text.size() || text[at] != ';') return false;
    ref = {code == 0 || code > 0x10FFFF ? kReplacement : code, at + 1 - pos};
    return true;
}

}  // namespace

bool decodeReference(std::string_view text, size_t pos, Reference& ref) {
    if (startsAt(text, pos, "&#")) return decodeNumber(text, pos, ref);
    const size_t first = pos + 1;
    size_t at = first;
    while (at < text.size() && at - first < kMaxNameSize && isAsciiAlnum(byteAt(text, at))) ++at;
    if (at == first || at >= text.size() || text[at] != ';') return false;
    uint32_t code;
    if (!lookupName(text.substr(first, at - first), code)) return false;
    ref = {code, at + 1 - pos};
    return true;
}

}  // namespace ruva::filter
