// What the results page is written from: the hits of a search reply
// filtered, counted, grouped by library and sorted, with the request's
// reading of the fields the page needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ruva {

struct UzQxSearchEntry;

// Shown and compared counts saturate here.
inline constexpr std::int64_t kShownCountMax = 2147483647;
// Above this many matches the page is the cap notice (list searches).
inline constexpr std::int64_t kResultCap = 3000;
// Libraries are ordered by title only up to this many matches.
inline constexpr std::int64_t kLibraryOrderMax = 2999;
// Above this many matches a phrase search gets its note.
inline constexpr std::int64_t kPhraseNoteMin = 500;
// Coded limits of the option string's parts; a longer part is left out.
inline constexpr std::size_t kOptionFtMax = 72;
inline constexpr std::size_t kOptionPaorMax = 90;
inline constexpr std::size_t kOptionStMax = 60;

// count cut to kShownCountMax.
inline int shownCount(std::int64_t count) {
    return static_cast<int>(count > kShownCountMax ? kShownCountMax : count);
}

struct PreparedResults {
    // The working order; the reply owns the entries, a removed one is left out.
    std::vector<UzQxSearchEntry*> hits;
    UzQxSearchEntry* firstCounted = nullptr;  // the first hit that counts (the single-hit target)
    std::int64_t docMatchCount = 0;           // matches shown in the summary and returned
    std::int64_t libSearchCount = 0;          // libraries searched (LIBIDS tokens when given)
    std::int64_t libHitCount = 0;             // distinct libraries with a non-empty hit
    int maxResultsCrossed = 0;                // the cap notice replaces the page
    int isStb = 0;                            // STB "2": a list search
    int isSorted = 0;                         // OD present and not "0"
    int fIgnoreSearchType = 0;                // the search's boolean operation is AND
    int showFilterColumn = 1;                 // 0 for LIBIDS "*.kvo"
    std::vector<std::string> libIds;          // LIBIDS tokens, ordered by library title
    bool hasMlids = false;                    // MLIDS was given (ID set from it)
    std::string langCode;                     // the page's language, "UJA" for Japanese
    std::string options;                      // option string for document links (PA, ST, FT, PAOR parts)
};

}  // namespace ruva
