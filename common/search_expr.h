// Rewriting of the search expressions users type (+word, -word, !, &, |,
// parentheses) into the boolean syntax of the search engine.
//
// Both work as in a 1024-byte buffer: the input is taken up to its first NUL
// and cut to kSearchExprMax characters, and no result is longer than that.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

constexpr size_t kSearchExprMax = 1023;

// A '+', '|', '-' or '&' that is the very first character is dropped; every
// '!' becomes a blank; a '+' right after white space becomes '&' and a '-'
// right after white space '!'; everything else is copied. Never longer than
// its (cut) input.
std::string operatorPlusMinusSupport(std::string_view pattern);

// Brackets each operand group. White-space runs become one blank, except a
// run at the start, at the end or right after '&' or '!', which is dropped.
// A '(' is written before a letter, digit or '(' that follows a kept blank
// not preceded by '|', or follows '&'; one ')' per '(' closes the text.
// "a b | c" gives "a (b | c)", "a & b" gives "a &(b)". When the result would
// be longer than kSearchExprMax, the (cut) input comes back unchanged and
// *truncated (when given) is set; else it is cleared.
std::string paranthesisPattern(std::string_view pattern, bool* truncated = nullptr);

}  // namespace ruva
