// Numbers the search commands read from their arguments.
#pragma once

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace ruva {

// Node IDs name slots 0 to 32767 of the catalogue's table.
inline constexpr unsigned kMaxNodeId = 32767;

// A node ID as sent: decimal, saturated at 4294967295, so that "511 Invalid
// ID %u" repeats a large number instead of a wrapped one.
inline unsigned readNodeId(const char* text) {
    errno = 0;
    unsigned long v = std::strtoul(text, nullptr, 10);
    if (errno == ERANGE || v > UINT_MAX) return UINT_MAX;
    return static_cast<unsigned>(v);
}

// A hit count as sent: decimal, clamped to int, 0 for no number.
inline int readHitCount(const char* text) {
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

}  // namespace ruva
