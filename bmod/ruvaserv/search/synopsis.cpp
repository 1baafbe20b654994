#include "bmod/ruvaserv/search/synopsis.h"

#include <algorithm>
#include <utility>

#include "common/html_escape.h"
#include "common/patterns.h"
#include "common/text.h"

namespace ruva {

namespace {

// The text stops once it holds more than this many characters.
constexpr size_t kTextMax = 298;
// Keyword hits from this length, phrase contexts from one more, are cut.
constexpr size_t kKeywordCutFrom = 200;
constexpr size_t kPhraseCutFrom = 201;
constexpr size_t kCutTo = 199;
constexpr size_t kWordsMax = 4;
constexpr size_t kEntityNameMax = 32;

using Range = std::pair<size_t, size_t>;  // [first, second) of the text

bool isDelimiterAt(std::string_view text, size_t i) {
    return isDelimiter(static_cast<unsigned char>(text[i])) != 0;
}

// Step 1: runs of control characters and blanks become one blank, bytes
// from '~' to 160 are left out, and, unless the text is Japanese, so is the
// first (partial) word of a context that was cut at its start.
std::string contextText(std::string_view context, bool japaneseText) {
    std::string text;
    bool skipping = !japaneseText;
    for (const char ch : context) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < '!') {
            skipping = false;
            if (!text.empty() && text.back() != ' ') text += ' ';
        } else if (!skipping && (c < '~' || c > 160)) {
            text += ch;
        }
        if (text.size() > kTextMax) break;
    }
    return text;
}

// Step 4: trailing blanks go; else the last word, which the cut may have
// split, goes back to the blank before it.
void trimEnd(std::string& text) {
    if (!text.empty() && text.back() == ' ') {
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return;
    }
    const size_t blank = text.rfind(' ');
    text.resize(blank == std::string::npos ? 0 : blank);
}

// Whether text[at] lies inside a tag or an entity of the text as it came:
// a '<' not closed by a '>' before it, or an '&' followed only by entity
// characters up to it.
bool insideMarkup(std::string_view text, size_t at) {
    for (size_t i = at; i-- > 0;) {
        if (text[i] == '>') break;
        if (text[i] == '<') return true;
    }
    for (size_t i = at; i-- > 0;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '&') return true;
        if (!isAsciiAlnum(c) && c != '#') break;
    }
    return false;
}

bool overlaps(const std::vector<Range>& ranges, Range r) {
    return std::any_of(ranges.begin(), ranges.end(),
                       [&](const Range& h) { return r.first < h.second && h.first < r.second; });
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(ltolower(c));
    return lower;
}

// Step 3 for one word: the ranges of text it highlights, added to ranges.
void findHighlights(const std::string& text, const ContextWord& word, std::vector<Range>& ranges) {
    const bool wildcard = word.word != word.copy;
    const std::string needle = wildcard ? parsePattern(word.copy.c_str()) : word.word;
    if (needle.empty()) return;
    const std::string fit = wildcard ? lowerCase(word.copy) : std::string();
    const bool openStart = isDelimiterAt(needle, 0);
    const bool openEnd = isDelimiterAt(needle, needle.size() - 1);
    for (size_t from = 0; from < text.size();) {
        const char* hit = strcasestr(text.c_str() + from, needle.c_str());
        if (!hit) break;
        const size_t at = static_cast<size_t>(hit - text.c_str());
        from = at + 1;
        if (insideMarkup(text, at)) continue;
        Range r{at, at + needle.size()};
        if (wildcard) {
            while (r.first > 0 && !isDelimiterAt(text, r.first - 1)) --r.first;
            while (r.second < text.size() && !isDelimiterAt(text, r.second)) ++r.second;
            if (!wildcardfit(fit.c_str(), lowerCase(std::string_view(text).substr(r.first, r.second - r.first)).c_str()))
                continue;
        } else {
            const bool before = openStart || r.first == 0 || isDelimiterAt(text, r.first - 1);
            const bool behind = openEnd || r.second == text.size() || isDelimiterAt(text, r.second);
            if (!before || !behind) continue;
        }
        if (overlaps(ranges, r)) continue;
        ranges.push_back(r);
        from = r.second;
    }
}

// Length of the entity at text[at] ('&' included), 0 when none begins there.
size_t entityLength(std::string_view text, size_t at) {
    size_t i = at + 1;
    bool numeric = false;
    bool hex = false;
    if (i < text.size() && text[i] == '#') {
        numeric = true;
        ++i;
        if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
            hex = true;
            ++i;
        }
    }
    const size_t nameStart = i;
    while (i < text.size() && i - nameStart < kEntityNameMax) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool ok = hex ? (isAsciiDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'))
                            : numeric ? isAsciiDigit(c) : isAsciiAlnum(c);
        if (!ok) break;
        ++i;
    }
    if (i == nameStart || i >= text.size() || text[i] != ';') return 0;
    return i + 1 - at;
}

void appendEscaped(std::string& out, std::string_view text) {
    size_t plain = 0;
    for (size_t i = text.find('&'); i != std::string_view::npos; i = text.find('&', i + 1)) {
        if (entityLength(text, i)) continue;
        appendHtmlKeepEntities(out, text.substr(plain, i - plain), false);
        out += "&amp;";
        plain = i + 1;
    }
    appendHtmlKeepEntities(out, text.substr(plain), false);
}

}  // namespace

std::string escapeSynopsisText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendEscaped(out, text);
    return out;
}

std::string makeSynopsis(std::string_view context, const std::vector<ContextWord>& words, SynopsisMode mode) {
    std::string text = mode.phrase ? std::string(context) : contextText(context, mode.japaneseText);
    const size_t cutFrom = mode.phrase ? kPhraseCutFrom : kKeywordCutFrom;
    if ((mode.phrase || mode.isKwd == 1) && text.size() >= cutFrom) text.resize(kCutTo);
    trimEnd(text);
    if (text.empty()) return {};

    // Cutting and trimming run on the text itself, so no markup is split.
    std::vector<Range> ranges;
    if (mode.isKwd == 2) {
        for (size_t i = 0; i < words.size() && i < kWordsMax; ++i) findHighlights(text, words[i], ranges);
        std::sort(ranges.begin(), ranges.end());
    }
    std::string out;
    out.reserve(text.size() + ranges.size() * (kHighlightOpen.size() + kHighlightClose.size()) + 3);
    const std::string_view view(text);
    size_t done = 0;
    for (const Range& r : ranges) {
        appendEscaped(out, view.substr(done, r.first - done));
        out += kHighlightOpen;
        appendEscaped(out, view.substr(r.first, r.second - r.first));
        out += kHighlightClose;
        done = r.second;
    }
    appendEscaped(out, view.substr(done));
    if (text.size() > 1) out += "...";
    return out;
}

}  // namespace ruva
