// The built-in TAVR element table: 187 entries, a tag number is the
// entry's index. Child lists name their children in the source and are
// resolved to numbers at compile time, so an unknown name fails the build.
#pragma once

#include <array>
#include <cstddef>

#include "bmod/ruvaserv/sgml/tagmap.h"

namespace ruva {

inline constexpr size_t kTavrTagCount = 187;

// The usual top elements, set without a search.
inline constexpr int kTavrTopTavr = 55;
inline constexpr int kTavrTopDoc = 136;
inline constexpr int kTavrTopSet = 147;

extern const std::array<TagEntry, kTavrTagCount> kTavrTags;

}  // namespace ruva
