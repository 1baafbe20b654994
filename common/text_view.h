// Small readers of byte texts held in a std::string_view: positions are
// checked against the view's end, never read past it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "common/text.h"

namespace ruva {

// The text up to its first NUL, or the whole view.
inline std::string_view upToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

inline unsigned char byteAt(std::string_view text, size_t i) {
    return static_cast<unsigned char>(text[i]);
}

// Whether word stands at text[pos], exactly or without regard to ASCII
// case; false when it would run past the end.
inline bool startsAt(std::string_view text, size_t pos, std::string_view word) {
    return pos <= text.size() && text.substr(pos, word.size()) == word;
}

inline bool startsCaseBlindAt(std::string_view text, size_t pos, std::string_view word) {
    if (pos > text.size() || text.size() - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (asciiLower(byteAt(text, pos + i)) != asciiLower(static_cast<unsigned char>(word[i])))
            return false;
    }
    return true;
}

// The first position at or after from, with room for wordSize bytes from
// it, where the byte is one or other and matchesAt(position) holds; npos
// when none. Candidates come from memchr on each of the two bytes, so a
// long text costs about two memchr passes.
template <class MatchesAt>
size_t findByFirstByte(std::string_view text, size_t from, size_t wordSize, unsigned char one, unsigned char other,
                       MatchesAt matchesAt) {
    if (from > text.size() || text.size() - from < wordSize) return std::string_view::npos;
    const size_t last = text.size() - wordSize;  // the last possible start
    auto next = [&](unsigned char c, size_t at) {
        if (at > last) return std::string_view::npos;
        const void* hit = std::memchr(text.data() + at, c, last + 1 - at);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
    };
    size_t nextOne = next(one, from);
    size_t nextOther = other != one ? next(other, from) : std::string_view::npos;
    for (;;) {
        const size_t at = nextOne < nextOther ? nextOne : nextOther;
        if (at == std::string_view::npos) return at;
        if (matchesAt(at)) return at;
        if (at == nextOne)
            nextOne = next(one, at + 1);
        else
            nextOther = next(other, at + 1);
    }
}

// The first position at or after from where word stands without regard to
// ASCII case; npos when none. Reads nothing past the view's end, so the
// text needs no NUL.
inline size_t findCaseBlind(std::string_view text, size_t from, std::string_view word) {
    if (from > text.size() || text.size() - from < word.size()) return std::string_view::npos;
    if (word.empty()) return from;
    const unsigned char lower = asciiLower(static_cast<unsigned char>(word[0]));
    const unsigned char upper = asciiUpper(lower);
    return findByFirstByte(text, from, word.size(), lower, upper,
                           [&](size_t at) { return startsCaseBlindAt(text, at, word); });
}

}  // namespace ruva
