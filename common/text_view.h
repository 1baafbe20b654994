// Small readers of byte texts held in a std::string_view: positions are
// checked against the view's end, never read past it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
// text needs no NUL. Candidates are the places where the word's first and
// last bytes both stand, looked for 16 places at a time: a common first
// byte ("the") would cost a memchr call per occurrence.
inline size_t findCaseBlind(std::string_view text, size_t from, std::string_view word) {
    if (from > text.size() || text.size() - from < word.size()) return std::string_view::npos;
    if (word.empty()) return from;
    const size_t last = text.size() - word.size();  // the last possible start
    size_t at = from;
#ifdef __SSE2__
    // A letter matches both cases: or-ing 0x20 folds exactly 'A'-'Z' onto
    // 'a'-'z' among the bytes that can then equal a lower-case letter.
    auto matcher = [](unsigned char c) {
        const unsigned char lower = asciiLower(c);
        const bool letter = lower >= 'a' && lower <= 'z';
        return std::pair{_mm_set1_epi8(static_cast<char>(letter ? 0x20 : 0)),
                         _mm_set1_epi8(static_cast<char>(lower))};
    };
    const auto [foldFirst, first] = matcher(static_cast<unsigned char>(word.front()));
    const auto [foldLast, lastByte] = matcher(static_cast<unsigned char>(word.back()));
    const char* const data = text.data();
    // A block of starts at..at+15 reads up to at + 15 + word.size() - 1,
    // which stays below the view's end while at + 16 <= last + 1.
    for (; last + 1 - at >= 16; at += 16) {
        const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + word.size() - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, foldFirst), first),
                                            _mm_cmpeq_epi8(_mm_or_si128(tails, foldLast), lastByte))));
        for (; mask; mask &= mask - 1) {
            const size_t pos = at + static_cast<size_t>(std::countr_zero(mask));
            if (startsCaseBlindAt(text, pos, word)) return pos;
        }
    }
#endif
    // The rest (all of it without SSE2): memchr on the first byte in either
    // case.
    const unsigned char lower = asciiLower(static_cast<unsigned char>(word[0]));
    return findByFirstByte(text, at, word.size(), lower, asciiUpper(lower),
                           [&](size_t pos) { return startsCaseBlindAt(text, pos, word); });
}

}  // namespace ruva
