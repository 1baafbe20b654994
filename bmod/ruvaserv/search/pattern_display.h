// Search patterns as the result pages show them: in words inside a
// sentence, or bold with the operators spelled out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruva {

// dispSearchPattern's content is cut here, on an EUC-JP character boundary.
inline constexpr std::size_t kDispPatternMax = 1024;

// The pattern in words: '|' " or", '!' " not", wildcards dropped, an
// operator next to a dropped leading or trailing wildcard taken back.
// Unescaped; the caller escapes it for its sink.
std::string filterPattern(std::string_view srcpat);

// "<b>…</b>" with '&', '|', '!' and " -" as "</b> and", "</b> or",
// "</b> not" and the words between re-opened bold; the pattern's text is
// HTML-escaped, the closing "</b>" always written.
std::string dispSearchPattern(std::string_view srcpat);

}  // namespace ruva
