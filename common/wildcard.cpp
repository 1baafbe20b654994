#include <cstring>

#include "common/patterns.h"

namespace ruva {

namespace {

enum class SetResult { kFit, kMiss, kUnterminated };

// One text byte against the set that starts just past '['. '!' first
// negates; a ']' first (after the '!') is a member; "x-y" is a range when
// x < y and the '-' is neither first nor last. On a fit or a miss *end is
// set past the closing ']'. Bytes compare unsigned, in ranges too.
SetResult matchSet(const unsigned char* w, unsigned char c, const unsigned char** end) {
    bool negate = *w == '!';
    if (negate) ++w;
    const unsigned char* first = w;
    bool fit = false;
    for (; *w != ']' || w == first; ++w) {
        if (*w == '\0') return SetResult::kUnterminated;
        if (*w == '-' && w != first && w[1] != ']' && w[-1] < w[1]) {
            // The range's upper end is looked at again as a member next
            // round; that can add nothing the range did not already hold.
            fit |= c >= w[-1] && c <= w[1];
        } else {
            fit |= *w == c;
        }
    }
    *end = w + 1;
    return fit != negate ? SetResult::kFit : SetResult::kMiss;
}

// After a '*' only positions whose byte equals the literal that follows can
// fit. Moves t to the first such position; false when there is none, as then
// no longer run for this star and no change to an earlier star can fit
// either.
bool skipToCandidate(const unsigned char* w, const unsigned char*& t) {
    if (*w == '?' || *w == '[' || *w == '\0') return true;
    auto next = std::strchr(reinterpret_cast<const char*>(t), *w);
    if (!next) return false;
    t = reinterpret_cast<const unsigned char*>(next);
    return true;
}

// A newline anywhere in the wildcard fits nothing. Checked only once a fit
// is found, so the common misses do not pay for a scan of the wildcard.
int fitIfNoNewline(const char* wildcard) {
    return std::strchr(wildcard, '\n') ? 0 : 1;
}

}  // namespace

// Every element but '*' takes exactly one text byte, so on a mismatch it is
// enough to let the most recent '*' take one byte more and retry from just
// after it: earlier stars never need to change. That is O(wildcard * text)
// time and constant memory, where trying every position recursively is
// exponential in the number of stars.
int wildcardfit(const char* wildcard, const char* text) {
    if (!wildcard || !text) return 0;
    auto w = reinterpret_cast<const unsigned char*>(wildcard);
    auto t = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* starW = nullptr;  // wildcard just past the last '*'
    const unsigned char* starT = nullptr;  // where that '*' ends in the text
    while (*t) {
        switch (*w) {
            case '*':
                while (*w == '*') ++w;
                if (*w == '\0') return fitIfNoNewline(wildcard);
                starW = w;
                starT = t;
                if (!skipToCandidate(w, starT)) return 0;
                t = starT;
                continue;
            case '?':
                ++w;
                ++t;
                continue;
            case '[': {
                const unsigned char* end;
                SetResult r = matchSet(w + 1, *t, &end);
                // Every fit has to pass this set, so none is possible.
                if (r == SetResult::kUnterminated) return 0;
                if (r == SetResult::kFit) {
                    w = end;
                    ++t;
                    continue;
                }
                break;
            }
            case '\0':
                break;
            default:
                if (*w == *t) {
                    ++w;
                    ++t;
                    continue;
                }
                break;
        }
        if (!starW) return 0;
        ++starT;
        if (!skipToCandidate(starW, starT)) return 0;
        w = starW;
        t = starT;
    }
    while (*w == '*') ++w;
    return *w == '\0' ? fitIfNoNewline(wildcard) : 0;
}

}  // namespace ruva
