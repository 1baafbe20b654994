// Small readers of byte texts held in a std::string_view: positions are
// checked against the view's end, never read past it.
#pragma once

#include <cstddef>
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

// The first position at or after from where word stands without regard to
// ASCII case; npos when none. Reads nothing past the view's end, so the
// text needs no NUL.
inline size_t findCaseBlind(std::string_view text, size_t from, std::string_view word) {
    for (size_t i = from; i <= text.size() && text.size() - i >= word.size(); ++i) {
        if (startsCaseBlindAt(text, i, word)) return i;
    }
    return std::string_view::npos;
}

}  // namespace ruva
