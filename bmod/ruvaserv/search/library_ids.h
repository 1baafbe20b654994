// The library lists a request names (LIBIDS, the loop's library field):
// one reading for every caller.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ruva {

// Libraries one result page may list; one more is message 477.
inline constexpr std::size_t kMaxResultLibraries = 3000;

// The identities of a blank-separated list: "&#34;" read as '"', one
// leading and one trailing '"' dropped, empty tokens skipped. Identities
// stay whole; the caller applies kMaxResultLibraries.
std::vector<std::string> splitLibraryIds(std::string_view value);

}  // namespace ruva
