// Search patterns as the result pages show them: in words inside a
// sentence, or bold with the operators spelled out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

// dispSearchPattern's form before its closing "</b>" holds at most this
// many characters; the cut falls between whole characters, entities and
// tags.
inline constexpr std::size_t kDispPatternMax = 1024;

// The pattern in words: '|' " or", '!' " not" (a blank before the next
// character), '*' and '?' dropped, everything else ('&' too) copied. A
// wildcard right after an operator that ends the pattern or stands before
// ' ', '|' or '!' takes back exactly that operator's text. Unescaped; the
// caller escapes it for its sink.
std::string filterPattern(std::string_view srcpat);

// "<b>…</b>": '&', '|', '!' after the start and " -" become "</b> and",
// "</b> or", "</b> not", the next word re-opened with " <b>"; '(' and ')'
// left out. A wildcard is shown, except a leading one before an operator
// (dropped) and one after an operator at the end or before another
// operator (the operator's text taken back). The pattern's text is
// HTML-escaped; the closing "</b>" is always written.
std::string dispSearchPattern(std::string_view srcpat);

}  // namespace ruva
