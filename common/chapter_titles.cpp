#include "common/chapter_titles.h"

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

namespace {

bool isSpaceAt(std::string_view text, size_t i) {
    return isAsciiSpace(byteAt(text, i));
}

// The value of the first attribute `name` among the attributes of a tag
// (the text between the tag's name and its '>'). A quoted value must close
// inside the tag; otherwise, or without the attribute, no value.
std::optional<std::string_view> nameAttribute(std::string_view s) {
    size_t p = 0;
    while (p < s.size()) {
        if (isSpaceAt(s, p)) {
            ++p;
            continue;
        }
        const size_t attrStart = p;
        while (p < s.size() && !isSpaceAt(s, p) && s[p] != '=') ++p;
        const std::string_view attr = s.substr(attrStart, p - attrStart);
        while (p < s.size() && isSpaceAt(s, p)) ++p;
        std::string_view value;
        if (p < s.size() && s[p] == '=') {
            ++p;
            while (p < s.size() && isSpaceAt(s, p)) ++p;
            if (p < s.size() && (s[p] == '"' || s[p] == '\'')) {
                const size_t close = s.find(s[p], p + 1);
                if (close == std::string_view::npos) return std::nullopt;
                value = s.substr(p + 1, close - p - 1);
                p = close + 1;
            } else {
                const size_t valueStart = p;
                while (p < s.size() && !isSpaceAt(s, p)) ++p;
                value = s.substr(valueStart, p - valueStart);
            }
        }
        if (attr.size() == 4 && startsCaseBlindAt(attr, 0, "name")) return value;
    }
    return std::nullopt;
}

std::string nodeName(std::string_view number) {
    std::string name = "dfT";
    for (char c : number) name += c == '.' ? '_' : c == '-' ? 'x' : c;
    return name;
}

bool isNumberItem(std::string_view item) {
    if (item.empty() || !isAsciiDigit(byteAt(item, 0))) return false;
    for (char c : item) {
        if (!isAsciiDigit(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isAsciiSpace(byteAt(s, 0))) s.remove_prefix(1);
    while (!s.empty() && isAsciiSpace(byteAt(s, s.size() - 1))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> levelsOf(std::string_view number) {
    std::vector<std::string_view> levels;
    size_t start = 0;
    while (start <= number.size()) {
        size_t dot = number.find('.', start);
        if (dot == std::string_view::npos) dot = number.size();
        if (dot > start) levels.push_back(number.substr(start, dot - start));
        start = dot + 1;
    }
    return levels;
}

// Compares digit runs by value without converting them, so long runs cannot
// overflow; an empty run sorts before every number.
int compareDigits(std::string_view a, std::string_view b) {
    if (a.empty() || b.empty()) return static_cast<int>(!a.empty()) - static_cast<int>(!b.empty());
    while (a.size() > 1 && a[0] == '0') a.remove_prefix(1);
    while (b.size() > 1 && b[0] == '0') b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

int compareCaseBlind(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int d = asciiLower(byteAt(a, i)) - asciiLower(byteAt(b, i));
        if (d != 0) return d < 0 ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int compareLevel(std::string_view a, std::string_view b) {
    size_t da = 0, db = 0;
    while (da < a.size() && isAsciiDigit(byteAt(a, da))) ++da;
    while (db < b.size() && isAsciiDigit(byteAt(b, db))) ++db;
    if (int d = compareDigits(a.substr(0, da), b.substr(0, db)); d != 0) return d;
    return compareCaseBlind(a.substr(da), b.substr(db));
}

bool numberLess(std::string_view a, std::string_view b) {
    const auto la = levelsOf(a), lb = levelsOf(b);
    for (size_t i = 0; i < la.size() && i < lb.size(); ++i) {
        if (int d = compareLevel(la[i], lb[i]); d != 0) return d < 0;
    }
    return la.size() < lb.size();
}

}  // namespace

std::optional<std::string> getDocTitle(std::string_view html) {
    html = upToNul(html);
    const size_t open = html.find('>');
    if (open == std::string_view::npos) return std::nullopt;
    const size_t close = html.find('<', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return std::string(html.substr(open + 1, std::min(close - open - 1, kDocTitleMax)));
}

std::optional<ChapterTitle> getChapterTitleAndNumber(std::string_view html) {
    const std::string_view s = upToNul(html);
    if (!startsCaseBlindAt(s, 0, "<a") || s.size() < 3 || (!isSpaceAt(s, 2) && s[2] != '>'))
        return std::nullopt;

    const size_t p = s.find('>', 2);
    if (p == std::string_view::npos) return std::nullopt;
    const std::optional<std::string_view> name = nameAttribute(s.substr(2, p - 2));
    if (!name || !startsCaseBlindAt(*name, 0, "CHAPTER")) return std::nullopt;

    ChapterTitle chapter;
    const std::string_view rest = name->substr(7);
    size_t n = 0;
    while (n < rest.size() && n < kChapterNumberMax &&
           (isAsciiDigit(byteAt(rest, n)) || rest[n] == '.' || rest[n] == '-'))
        ++n;
    chapter.number = std::string(rest.substr(0, n));

    size_t end = findCaseBlind(s, p + 1, "</a>");
    if (end == std::string_view::npos) end = s.size();
    bool inTag = false;
    for (size_t i = p + 1; i < end && chapter.title.size() < kChapterTitleMax; ++i) {
        if (s[i] == '<') {
            inTag = true;
        } else if (inTag) {
            inTag = s[i] != '>';
        } else {
            chapter.title += s[i];
        }
    }

    if (!chapter.number.empty()) {
        chapter.childHeader = nodeName(chapter.number);
        const size_t lastDot = chapter.number.rfind('.');
        chapter.parentHeader = lastDot == std::string::npos
                                   ? "dfT"
                                   : nodeName(std::string_view(chapter.number).substr(0, lastDot));
    }
    return chapter;
}

std::string sortTopicTitle(std::string_view list) {
    std::string unquoted;
    unquoted.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i] == '"') continue;
        if (list[i] == '\\' && i + 1 < list.size() && list[i + 1] == '"') continue;
        unquoted += list[i];
    }

    struct Pair {
        std::string_view title;
        std::string_view number;
    };
    std::vector<Pair> pairs;
    std::vector<std::string_view> unused;  // titles waiting for a number, nearest last
    size_t start = 0;
    const std::string_view text = unquoted;
    while (start <= text.size()) {
        size_t bar = text.find('|', start);
        if (bar == std::string_view::npos) bar = text.size();
        const std::string_view item = trimmed(text.substr(start, bar - start));
        start = bar + 1;
        if (item.empty()) continue;
        if (!isNumberItem(item)) {
            unused.push_back(item);
            continue;
        }
        std::string_view title;
        if (!unused.empty()) {
            title = unused.back();
            unused.pop_back();
        }
        pairs.push_back({title, item});
    }
    if (pairs.empty()) return std::string(list);

    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& a, const Pair& b) { return numberLess(a.number, b.number); });
    std::string out;
    for (const Pair& pair : pairs) {
        out.append(pair.title);
        out += '|';
        out.append(pair.number);
        out += '|';
    }
    return out;
}

}  // namespace ruva
