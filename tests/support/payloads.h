// Seeded payloads for archive members and compressed streams: the same seed
// gives the same bytes on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace ruva::test {

// Bytes deflate cannot shrink: it stores them.
inline std::string randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(rng());
    return s;
}

// Words from a small vocabulary: the matches of ordinary text.
inline std::string text(size_t n, uint32_t seed) {
    static const char* const words[] = {"the ",      "library ", "member ", "of ",  "a ",
                                        "document ", "index ",   "search ", "and ", "is ",
                                        "archive ",  "\n",       "server ", "to ",  "in "};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s += words[rng() % (sizeof words / sizeof *words)];
    s.resize(n);
    return s;
}

// Runs of up to 3000 of one of three letters: long matches at short distances.
inline std::string runs(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) s.append(1 + rng() % 3000, char('a' + rng() % 3));
    s.resize(n);
    return s;
}

}  // namespace ruva::test
