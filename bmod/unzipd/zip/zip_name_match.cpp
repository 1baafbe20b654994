#include "bmod/unzipd/zip/zip_name_match.h"

namespace ruva {

namespace {

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Matches one bracket set at pattern[p] ('[') against c. Returns the index
// after the closing ']', or npos when the set is not closed (the '[' is then
// an ordinary character).
size_t matchSet(std::string_view pat, size_t p, unsigned char c, bool fold, bool& matched) {
    size_t i = p + 1;
    bool negate = false;
    if (i < pat.size() && (pat[i] == '!' || pat[i] == '^')) {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;
    unsigned char lc = lowerAscii(c);
    unsigned char uc = (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c;
    while (i < pat.size()) {
        unsigned char lo = static_cast<unsigned char>(pat[i]);
        if (lo == ']' && !first) {
            matched = hit != negate;
            return i + 1;
        }
        first = false;
        if (lo == '\\' && i + 1 < pat.size()) lo = static_cast<unsigned char>(pat[++i]);
        ++i;
        unsigned char hi = lo;
        if (i + 1 < pat.size() && pat[i] == '-' && pat[i + 1] != ']') {
            hi = static_cast<unsigned char>(pat[i + 1]);
            i += 2;
            if (hi == '\\' && i < pat.size()) hi = static_cast<unsigned char>(pat[i++]);
        }
        if (c >= lo && c <= hi) hit = true;
        if (fold && ((lc >= lo && lc <= hi) || (uc >= lo && uc <= hi))) hit = true;
    }
    return std::string_view::npos;
}

}  // namespace

bool zipNameEqualFold(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) != lowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool zipNameMatch(std::string_view pat, std::string_view name, bool fold) {
    size_t p = 0;
    size_t n = 0;
    size_t starP = std::string_view::npos;
    size_t starN = 0;
    auto same = [fold](unsigned char a, unsigned char b) {
        return a == b || (fold && lowerAscii(a) == lowerAscii(b));
    };
    while (n < name.size()) {
        if (p < pat.size()) {
            char c = pat[p];
            if (c == '*') {
                while (p < pat.size() && pat[p] == '*') ++p;
                starP = p;
                starN = n;
                continue;
            }
            unsigned char nc = static_cast<unsigned char>(name[n]);
            if (c == '?') {
                ++p;
                ++n;
                continue;
            }
            if (c == '[') {
                bool matched = false;
                size_t next = matchSet(pat, p, nc, fold, matched);
                if (next != std::string_view::npos) {
                    if (matched) {
                        p = next;
                        ++n;
                        continue;
                    }
                    goto backtrack;
                }
            }
            if (c == '\\' && p + 1 < pat.size()) {
                if (same(static_cast<unsigned char>(pat[p + 1]), nc)) {
                    p += 2;
                    ++n;
                    continue;
                }
                goto backtrack;
            }
            if (same(static_cast<unsigned char>(c), nc)) {
                ++p;
                ++n;
                continue;
            }
        }
    backtrack:
        // The last star takes one more character; earlier stars never need
        // to, so the walk stays linear in each star's span.
        if (starP == std::string_view::npos) return false;
        p = starP;
        n = ++starN;
    }
    while (p < pat.size() && pat[p] == '*') ++p;
    return p == pat.size();
}

bool zipHasWildcard(std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '\\') {
            ++i;
            continue;
        }
        if (c == '*' || c == '?' || c == '[') return true;
    }
    return false;
}

}  // namespace ruva
