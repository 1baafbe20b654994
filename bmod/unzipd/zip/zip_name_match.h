// Internal to the ZIP layer.
// The rewrite engine's name matcher, which selects archive entries for
// deletion and "-i"/"-x" filtering. It is the third wildcard matcher beside
// the two of common/patterns.h and differs from both on purpose: ranges and
// negated sets, '*' crossing slashes, full backtracking on the last star.
#pragma once

#include <string_view>

namespace ruva {

// '*' matches any run of characters, slashes included; '?' one character;
// "[...]" a set with ranges, negated by a leading '!' or '^'; a backslash
// takes the next character literally. ASCII case-blind with foldCase.
// Linear in practice: one backtrack point, no recursion.
bool zipNameMatch(std::string_view pattern, std::string_view name, bool foldCase);

// Whether name holds '*', '?' or '[' not escaped by a backslash.
bool zipHasWildcard(std::string_view name);

// Byte-equal but for ASCII case: how folded names compare.
bool zipNameEqualFold(std::string_view a, std::string_view b);

}  // namespace ruva
