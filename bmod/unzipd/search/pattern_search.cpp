#include "bmod/unzipd/search/pattern_search.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "common/patterns.h"
#include "common/text.h"

namespace ruva {

namespace {

// The full wildcard pattern, lower-cased; "" after a literal setPattern.
std::string& wildcardPattern() {
    static std::string pattern;
    return pattern;
}

// HTML mode compares Latin-1 lower case, with a line feed as a blank.
struct FoldTable {
    unsigned char map[256];
    FoldTable() {
        for (int c = 0; c < 256; ++c) map[c] = c == '\n' ? ' ' : static_cast<unsigned char>(ltolower(c));
    }
};
const FoldTable kFold;

std::string folded(const unsigned char* text, size_t len) {
    std::string out(len, '\0');
    for (size_t i = 0; i < len; ++i) out[i] = static_cast<char>(kFold.map[text[i]]);
    return out;
}

bool caseBlindAt(const unsigned char* text, size_t length, size_t pos, std::string_view word) {
    if (pos > length || length - pos < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (ltolower(text[pos + i]) != ltolower(static_cast<unsigned char>(word[i]))) return false;
    }
    return true;
}

// Text from pos up to the next '"' (or the end), folded.
std::string quotedValue(const unsigned char* text, size_t length, size_t pos) {
    const void* quote = std::memchr(text + pos, '"', length - pos);
    const size_t end = quote ? static_cast<size_t>(static_cast<const unsigned char*>(quote) - text) : length;
    return folded(text + pos, end - pos);
}

// An empty wildcard pattern (a literal search) fits only an empty text.
bool fitsWildcard(const std::string& value) {
    const std::string& wild = wildcardPattern();
    return wild.empty() ? value.empty() : wildcardfit(wild.c_str(), value.c_str()) != 0;
}

// The core loop: compare right to left; on a mismatch at text position k
// with pattern index j, move the comparison end right by the larger of the
// byte's shift and one more than the characters matched, so the alignment
// always advances. Returns the match start, or length when there is none.
template <bool kFolded>
size_t coreMatch(const unsigned char* t, size_t length, size_t from, const unsigned char* pat, size_t m,
                 const uint8_t* dist) {
    if (m > length || from > length - m) return length;
    size_t li = from + m - 1;
    while (li < length) {
        size_t j = m - 1;
        size_t k = li;
        unsigned char c;
        while ((c = kFolded ? kFold.map[t[k]] : t[k]) == pat[j]) {
            if (j == 0) return k;
            --j;
            --k;
        }
        li = k + std::max<size_t>(dist[c], m - j);
    }
    return length;
}

// The nearest mark before a position, kept as the positions only grow, so
// no stretch of text is read twice for it.
class MarkTracker {
public:
    template <typename IsMark>
    size_t before(const unsigned char* t, size_t pos, IsMark isMark) {
        for (; scanned_ < pos; ++scanned_) {
            if (isMark(t, scanned_)) last_ = scanned_;
        }
        return last_;
    }

private:
    size_t scanned_ = 0;
    size_t last_ = std::string_view::npos;
};

// Whether a position lies in a tag, followed forward over the text with
// memchr. An entity outside a tag is passed over whole, up to its ';'.
struct TagState {
    size_t known = 0;  // the state holds for the text before t[known]
    bool inTag = false;
    size_t nextAmp = 0;  // the first '&' at or after known, once looked up
    bool ampLooked = false;

    // Brings the state up to `to`; known may pass it when an entity ends
    // beyond it. False when a bare '&' (no ';' after it) ends the search.
    bool advance(const unsigned char* t, size_t length, size_t to) {
        while (known < to) {
            if (inTag) {
                const void* gt = std::memchr(t + known, '>', to - known);
                if (!gt) {
                    known = to;
                    break;
                }
                known = offset(t, gt) + 1;
                inTag = false;
                continue;
            }
            if (!ampLooked || nextAmp < known) {
                const void* amp = std::memchr(t + known, '&', length - known);
                nextAmp = amp ? offset(t, amp) : length;
                ampLooked = true;
            }
            const void* lt = std::memchr(t + known, '<', std::min(to, nextAmp) - known);
            if (lt) {
                known = offset(t, lt) + 1;
                inTag = true;
            } else if (nextAmp < to) {
                const void* semi = std::memchr(t + nextAmp + 1, ';', length - nextAmp - 1);
                if (!semi) return false;
                known = offset(t, semi) + 1;
            } else {
                known = to;
            }
        }
        return true;
    }

    static size_t offset(const unsigned char* t, const void* p) {
        return static_cast<size_t>(static_cast<const unsigned char*>(p) - t);
    }
};

// A rejected wildcard word; a later match in the same word is rejected
// without a second look.
struct RejectedWord {
    size_t start = 0, end = 0;  // the word [start, end)
    size_t firstDelim = 0;      // first delimiter in it, or end
    size_t pastLastDelim = 0;   // one past its last delimiter, or start
    bool set = false;

    // The match [s, s + m) extends to exactly this word.
    bool holds(size_t s, size_t m) const {
        return set && s >= start && s <= firstDelim && s + m >= pastLastDelim && s + m <= end;
    }
};

// The first match whose text after the nearest mark before it (an anchor
// text or attribute value) is accepted, as its start. A start is judged
// once, however many matches lead back to it.
template <typename IsMark, typename NextMatch, typename Accept>
uint32_t firstMarked(const unsigned char* t, size_t length, IsMark isMark, NextMatch next, Accept accept) {
    MarkTracker marks;
    size_t rejected = std::string_view::npos;
    for (size_t s = 0; (s = next(s)) < length; ++s) {
        const size_t mark = marks.before(t, s, isMark);
        if (mark == std::string_view::npos || mark + 1 == rejected) continue;
        if (accept(mark + 1)) return static_cast<uint32_t>(mark + 1);
        rejected = mark + 1;
    }
    return kSearchNotFound;
}

}  // namespace

std::unique_ptr<Search> newSearch(unsigned flags) {
    return std::unique_ptr<Search>(new (std::nothrow) Search(flags));
}

int Search::setPattern(const char* pattern, size_t length) {
    if (!pattern || length == 0) return 0;
    const std::string whole(pattern, strnlen(pattern, length));
    const bool wild = whole.find_first_of("*?") != std::string::npos;
    std::string literal = wild ? parsePattern(whole.c_str()) : whole;
    if (literal.empty()) return 0;
    // The length fits the one-byte shift table: a longer pattern is cut,
    // never wrapped.
    if (literal.size() > kSearchPatternMax) literal.resize(kSearchPatternMax);

    const unsigned char* from = reinterpret_cast<const unsigned char*>(whole.c_str());
    wildcardPattern() = wild ? folded(from, whole.size()) : std::string();
    if (html()) {
        for (char& c : literal) c = static_cast<char>(ltolower(static_cast<unsigned char>(c)));
    }
    patLen_ = static_cast<uint8_t>(literal.size());
    std::memcpy(patBuf_, literal.data(), literal.size());
    patBuf_[literal.size()] = '\0';
    std::fill(std::begin(distBuf_), std::end(distBuf_), patLen_);
    for (size_t i = 0; i < patLen_; ++i) distBuf_[patBuf_[i]] = static_cast<uint8_t>(patLen_ - 1 - i);
    return 1;
}

size_t Search::nextMatch(const unsigned char* text, size_t length, size_t from) const {
    if (html()) return coreMatch<true>(text, length, from, patBuf_, patLen_, distBuf_);
    return coreMatch<false>(text, length, from, patBuf_, patLen_, distBuf_);
}

uint32_t Search::firstMatch(const unsigned char* text, size_t length) const {
    const size_t s = nextMatch(text, length, 0);
    return s < length ? static_cast<uint32_t>(s) : kSearchNotFound;
}

uint32_t Search::search(const char* text, size_t length, int chkTags, const char* tokens) {
    if (patLen_ == 0) return kSearchNoPattern;
    if (!text) return kSearchNotFound;
    // Every offset found stays below the reserved results.
    length = std::min<size_t>(length, kSearchNoPattern);
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    if (!html()) return firstMatch(t, length);
    if (chkTags == kSearchKeywordAnchor || chkTags == kSearchChapterAnchor)
        return searchAnchors(t, length, chkTags, tokens);
    return searchWords(t, length);
}

uint32_t Search::searchWords(const unsigned char* t, size_t length) {
    const size_t m = patLen_;
    const bool wild = !wildcardPattern().empty();
    TagState state;
    RejectedWord rejected;
    for (size_t s = 0; (s = nextMatch(t, length, s)) < length;) {
        if (!state.advance(t, length, s)) return kSearchNotFound;
        if (state.known > s) {  // the match lay in an entity
            s = state.known;
            continue;
        }
        if (state.inTag || rejected.holds(s, m)) {
            ++s;
            continue;
        }
        if (!wild) {
            const bool before = s == 0 || isDelimiter(t[s - 1]);
            const bool after = s + m == length || isDelimiter(t[s + m]);
            if (before && after) return static_cast<uint32_t>(s);
            ++s;
            continue;
        }
        size_t ws = s, we = s + m;
        while (ws > 0 && !isDelimiter(t[ws - 1])) --ws;
        while (we < length && !isDelimiter(t[we])) ++we;
        if (fitsWildcard(folded(t + ws, we - ws))) return static_cast<uint32_t>(ws);
        rejected = {ws, we, we, ws, true};
        for (size_t p = s; p < s + m; ++p) {
            if (!isDelimiter(t[p])) continue;
            rejected.firstDelim = std::min(rejected.firstDelim, p);
            rejected.pastLastDelim = p + 1;
        }
        ++s;
    }
    return kSearchNotFound;
}

uint32_t Search::searchAnchors(const unsigned char* t, size_t length, int chkTags, const char* tokens) {
    const bool keyword = chkTags == kSearchKeywordAnchor;
    // The anchor text follows "KW:" or "CHAPTER" (an 'R' six after a 'C').
    auto isMark = [keyword](const unsigned char* text, size_t p) {
        return keyword ? text[p] == ':' : text[p] == 'R' && p >= 6 && text[p - 6] == 'C';
    };
    const std::string_view prefix = keyword ? "<a name=\"KW:" : "<a name=\"CHAPTER";
    const std::string_view wanted = tokens ? tokens : "";
    return firstMarked(
        t, length, isMark, [&](size_t s) { return nextMatch(t, length, s); },
        [&](size_t anchor) {
            const bool prefixed =
                anchor >= prefix.size() &&
                (keyword ? caseBlindAt(t, length, anchor - prefix.size(), prefix)
                         : std::memcmp(t + anchor - prefix.size(), prefix.data(), prefix.size()) == 0);
            return prefixed && caseBlindAt(t, length, anchor, wanted) &&
                   fitsWildcard(quotedValue(t, length, anchor));
        });
}

uint32_t Search::idretrive(const char* text, size_t length, int docType) {
    if (patLen_ == 0) return kSearchNoPattern;
    if (!text) return kSearchNotFound;
    length = std::min<size_t>(length, kSearchNoPattern);
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    if (!html()) return firstMatch(t, length);
    const std::string_view prefix = docType ? "id=\"" : "<a name=\"";
    const bool wild = !wildcardPattern().empty();
    auto isQuote = [](const unsigned char* text, size_t p) { return text[p] == '"'; };
    return firstMarked(
        t, length, isQuote, [&](size_t s) { return nextMatch(t, length, s); },
        [&](size_t value) {
            return value >= prefix.size() && caseBlindAt(t, length, value - prefix.size(), prefix) &&
                   (!wild || fitsWildcard(quotedValue(t, length, value)));
        });
}

}  // namespace ruva
