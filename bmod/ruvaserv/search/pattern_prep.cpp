#include "bmod/ruvaserv/search/pattern_prep.h"

#include <algorithm>
#include <cstddef>
#include <span>

#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/search/search_data.h"
#include "common/eucjp.h"
#include "common/text.h"

namespace ruva {

namespace {

// The search engine's expressions live in 1024-character buffers; no
// prepared pattern may reach this length.
constexpr size_t kPatternLimit = 1024;

constexpr size_t kJapaneseTokenMax = 63;
constexpr size_t kJapaneseTokensMax = 16;

// Separators whose runs shrink to their last character.
constexpr std::string_view kRunSet = " ,.:$/=<>{}~^`'%[]@\\";
// Characters that may not open a pattern.
constexpr std::string_view kFirstSet = ",.:$/=<>{}~^`'%[]@\\!";
// Separators that the clean-up turns into blanks.
constexpr std::string_view kBlankedSet = "$%',./:<=>@[\\]^`{}~";

bool inSet(std::string_view set, char c) {
    return c != '\0' && set.find(c) != std::string_view::npos;
}

bool isOperator(char c) {
    return c == SRCH_AND || c == SRCH_OR || c == SRCH_NOT;
}

// The bytes of the EUC-JP character at i (1 or 2); s is NUL-terminated, so
// eucsinc never reads past its end.
size_t charLength(const std::string& s, size_t i) {
    const char* p = s.c_str() + i;
    return static_cast<size_t>(eucsinc(p) - p);
}

// An ASCII letter or digit, or a two-byte EUC-JP letter.
bool isWordChar(const std::string& s, size_t i, size_t len) {
    return len == 1 ? isAsciiAlnum(static_cast<unsigned char>(s[i])) : iseucalnum(s.c_str() + i) != 0;
}

std::string replaceNbsp(std::string_view in) {
    std::string out;
    size_t i = 0;
    // A leading "&" may already have gone as a separator.
    if (in.starts_with("nbsp;")) {
        out += ' ';
        i = 5;
    }
    while (i < in.size()) {
        if (in.substr(i).starts_with("&nbsp;")) {
            out += ' ';
            i += 6;
        } else {
            out += in[i++];
        }
    }
    return out;
}

// Wildcards standing alone between separators become blanks; "*" runs and
// separator runs shrink to one character. EUC-JP bytes are never in these
// ASCII sets, so a byte walk is safe.
std::string collapseRuns(std::string_view in) {
    const auto runSetAt = [&](size_t i) { return i >= in.size() || inSet(kRunSet, in[i]); };
    std::string out;
    for (size_t i = 0; i < in.size();) {
        const char c = in[i];
        if (c == '*' || c == '?') {
            size_t end = in.find_first_not_of(c, i);
            if (end == std::string_view::npos) end = in.size();
            if ((i == 0 || runSetAt(i - 1)) && runSetAt(end))
                out += ' ';
            else if (c == '*')
                out += '*';
            else
                out.append(end - i, '?');
            i = end;
        } else if (inSet(kRunSet, c)) {
            size_t end = i;
            while (end < in.size() && inSet(kRunSet, in[end])) ++end;
            out += in[end - 1];
            i = end;
        } else {
            out += in[i++];
        }
    }
    return out;
}

// Separators to "&" (blanks in keyword mode), "&" before "!" and before a
// "(" that follows "*". Stops once the output holds kPatternLimit
// characters; the caller refuses that.
std::string separatorsToOperators(const std::string& in, bool keyword) {
    size_t i = 0;
    while (i < in.size() && isAsciiSpace(static_cast<unsigned char>(in[i]))) ++i;
    std::string out;
    if (i < in.size()) {
        const size_t len = charLength(in, i);
        if (len == 2 || !inSet(kFirstSet, in[i])) out.append(in, i, len);
        i += len;
    }
    while (i < in.size() && out.size() < kPatternLimit) {
        const size_t len = charLength(in, i);
        const char c = in[i];
        const bool blank =
            c == ' ' || (len == 1 && inSet(kBlankedSet, c)) || (len == 2 && !isWordChar(in, i, len));
        if (blank) {
            // A separator joins two words; with nothing written before it,
            // or an operator or blank on either side, it joins nothing.
            const char next = i + len < in.size() ? in[i + len] : '\0';
            const bool dropped = out.empty() || isAsciiSpace(static_cast<unsigned char>(out.back())) ||
                                 isOperator(out.back()) || next == '\0' ||
                                 isAsciiSpace(static_cast<unsigned char>(next)) || isOperator(next);
            if (!dropped) out += keyword ? ' ' : static_cast<char>(SRCH_AND);
        } else if (c == SRCH_NOT) {
            const char before = in[i - 1];
            if (before != SRCH_AND && before != SRCH_OR && !out.empty()) out += SRCH_AND;
            out += c;
        } else if (c == '(' && !keyword && in[i - 1] == '*') {
            out += "&(";
        } else {
            out.append(in, i, len);
        }
        i += len;
    }
    return out;
}

// In a phrase "?", "+" and "=" join words; beside an operator or at an end
// they join nothing. Doubled operators go.
std::string phraseStep(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '?' || c == '+' || c == '=') {
            const bool atEnd = i == 0 || i + 1 == in.size();
            if (atEnd || isOperator(in[i - 1]) || isOperator(in[i + 1])) continue;
            c = SRCH_AND;
        }
        if (c == SRCH_AND && !out.empty() && isOperator(out.back())) continue;
        out += c;
    }
    return out;
}

// The blank before the last word, when that word does not begin with a
// digit; npos otherwise.
size_t revisionBlank(const std::string& pattern) {
    const size_t end = pattern.find_last_not_of(' ');
    if (end == std::string::npos) return std::string::npos;
    const size_t blank = pattern.find_last_of(' ', end);
    if (blank == std::string::npos || isAsciiDigit(static_cast<unsigned char>(pattern[blank + 1])))
        return std::string::npos;
    return blank;
}

std::vector<std::string_view> splitWords(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = text.find_first_not_of(separators, i);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(separators, start);
        if (end == std::string_view::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        i = end;
    }
    return words;
}

std::string joinWords(std::span<const std::string_view> head, std::string_view word,
                      std::span<const std::string_view> tail) {
    std::string out;
    for (std::string_view w : head) (out += w) += ' ';
    out += word;
    for (std::string_view w : tail) (out += ' ') += w;
    return out;
}

std::string quotedAlternative(std::string_view words) {
    std::string out = "\"*";
    out += words;
    out += "*\"";
    return out;
}

int japaneseClass(const std::string& s, size_t i, size_t len) {
    const auto c1 = static_cast<unsigned char>(s[i]);
    if (len == 1) return isAsciiAlnum(c1) ? EUCJPALPHA_ASCII : EUCJPALPHA_NONE;
    return getEucJpAlphabet(c1, static_cast<unsigned char>(s[i + 1]));
}

}  // namespace

int srchPattCleanup(std::string& pattern, CleanupMode mode, ErrorText& error) {
    std::string out = separatorsToOperators(collapseRuns(replaceNbsp(pattern)), mode.keyword);
    if (out.size() >= kPatternLimit) {
        error.setError(msgFormat(97, "SearchFunctions/2"));
        return 0;
    }
    if (!out.empty() && isOperator(out.back())) out.pop_back();
    if (mode.phrase && !mode.keyword) out = phraseStep(out);
    pattern = std::move(out);
    return 1;
}

int srchPattSyntaxChk(std::string_view pattern, ErrorText& error) {
    long depth = 0;
    for (char c : pattern) {
        if (c == '(') ++depth;
        if (c == ')' && --depth < 0) break;
    }
    if (depth == 0) return 1;
    error.setError(msgFormat(98, nullptr));
    return 0;
}

int srchPattComplete(std::string& pattern, int whrAdd, ErrorText& error) {
    const std::string& in = pattern;
    if (in.empty()) return 1;
    const auto isJoiner = [](char c) { return c == '*' || c == '_' || c == '-' || c == '?'; };

    std::string out;
    size_t prev = 0;
    size_t prevLen = charLength(in, 0);
    if (whrAdd == 0 && isWordChar(in, 0, prevLen)) out += '*';
    out.append(in, 0, prevLen);
    size_t i = prevLen;
    while (i < in.size()) {
        // Full: the rest of the pattern is dropped, without a final "*".
        if (out.size() >= kPatternLimit) break;
        const size_t len = charLength(in, i);
        const char c = in[i];
        const auto p = static_cast<unsigned char>(in[prev]);
        const bool pJoiner = prevLen == 1 && isJoiner(static_cast<char>(p));
        const bool cWord = isWordChar(in, i, len);
        if ((isAsciiAlnum(p) || p > 128) && !cWord && !(len == 1 && isJoiner(c))) out += '*';
        if (whrAdd == 0 && !isWordChar(in, prev, prevLen) && cWord && !pJoiner && out.back() != '*')
            out += '*';
        else if ((c == SRCH_AND || c == SRCH_OR) && p == '-')
            out += '*';
        out.append(in, i, len);
        if (out.size() > kPatternLimit) {
            error.setError(msgFormat(97, "SearchFunctions/5"));
            return 0;
        }
        prev = i;
        prevLen = len;
        i += len;
    }
    if (i == in.size() && out.size() < kPatternLimit && isWordChar(in, prev, prevLen)) out += '*';
    pattern = std::move(out);
    return 1;
}

int preparePhraseSearch(std::string& pattern, uint32_t& isPhraseSearch, ErrorText& error) {
    isPhraseSearch = pattern.starts_with('"') ? 1 : 0;
    size_t quotes = 0;
    std::string out;
    for (char c : pattern) {
        if (c == '"')
            ++quotes;
        else
            out += c;
    }
    pattern = std::move(out);
    if (quotes == 0 || quotes == 2) return 1;
    error.setError(msgFormat(98, nullptr));
    return 0;
}

int handleDocnoRev(std::string& pattern) {
    const size_t blank = revisionBlank(pattern);
    if (blank == std::string::npos) return 0;
    pattern[blank] = '*';
    return 1;
}

int completeDocnoInUrl(std::string& pattern) {
    const size_t blank = revisionBlank(pattern);
    if (blank != std::string::npos) {
        pattern[blank] = '?';
        pattern += '?';
    }
    return 1;
}

void removeSpacesExceptLast(std::string& pattern) {
    if (pattern.size() < 2 || pattern.find(' ', 1) == std::string::npos) return;
    const size_t last = pattern.rfind(' ');
    std::string out;
    for (size_t i = 0; i < last; ++i) {
        if (pattern[i] != ' ') out += pattern[i];
    }
    out.append(pattern, last);
    pattern = std::move(out);
}

std::string keywordProcessing_oneExpandableword(std::string_view pattern) {
    const size_t bar = pattern.find(SRCH_OR);
    if (bar == std::string_view::npos) return {};
    const std::vector<std::string_view> before = splitWords(pattern.substr(0, bar), " ");
    const std::vector<std::string_view> after = splitWords(pattern.substr(bar + 1), " ");
    if (before.empty() || after.empty() || (before.size() == 1 && after.size() == 1)) return {};
    const std::span<const std::string_view> prefix(before.data(), before.size() - 1);
    const std::span<const std::string_view> suffix(after.data() + 1, after.size() - 1);
    return quotedAlternative(joinWords(prefix, before.back(), suffix)) + " | " +
           quotedAlternative(joinWords(prefix, after.front(), suffix));
}

std::string keywordProcessing_twoExpandablewords(std::string_view pattern) {
    // Exactly two words, each one "|" between two parts.
    const std::vector<std::string_view> words = splitWords(pattern, " ");
    std::vector<std::string_view> parts;
    for (std::string_view word : words) {
        const std::vector<std::string_view> pair = splitWords(word, "|");
        if (std::count(word.begin(), word.end(), SRCH_OR) != 1 || pair.size() != 2) return {};
        parts.insert(parts.end(), pair.begin(), pair.end());
    }
    if (words.size() != 2) return {};
    std::string out;
    for (std::string_view first : {parts[0], parts[1]}) {
        for (std::string_view second : {parts[2], parts[3]}) {
            if (!out.empty()) out += " | ";
            out += quotedAlternative(std::string(first) + ' ' + std::string(second));
        }
    }
    return out;
}

int processJapaneseFulltextExpression(std::string& pattern, std::vector<std::string>& tokens,
                                      ErrorText& error) {
    std::vector<std::string> found;
    std::string current;
    int currentClass = EUCJPALPHA_NONE;
    const auto flush = [&] {
        if (!current.empty()) found.push_back(std::move(current));
        current.clear();
        currentClass = EUCJPALPHA_NONE;
    };
    for (size_t i = 0; i < pattern.size() && found.size() <= kJapaneseTokensMax;) {
        const size_t len = charLength(pattern, i);
        const int kind = japaneseClass(pattern, i, len);
        switch (kind) {
            case EUCJPALPHA_HIRAGANA:
            case EUCJPALPHA_KANJI:
                flush();
                found.emplace_back(pattern, i, len);
                break;
            case EUCJPALPHA_ASCII:
            case EUCJPALPHA_LATIN:
            case EUCJPALPHA_KATAKANA:
            case EUCJPALPHA_GREEK:
            case EUCJPALPHA_CYRILLIC:
                if (kind != currentClass || current.size() + len > kJapaneseTokenMax) flush();
                current.append(pattern, i, len);
                currentClass = kind;
                break;
            default:
                flush();
                break;
        }
        i += len;
    }
    flush();
    if (found.size() > kJapaneseTokensMax) {
        error.setError(msgFormat(88, "SearchFunctions/6"));
        return 0;
    }
    std::string joined;
    for (const std::string& token : found) {
        if (!joined.empty()) joined += SRCH_AND;
        joined += token;
    }
    pattern = std::move(joined);
    tokens = std::move(found);
    return 1;
}

}  // namespace ruva
