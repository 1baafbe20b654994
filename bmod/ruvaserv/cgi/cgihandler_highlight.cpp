#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/text_view.h"

namespace ruva {

namespace {

constexpr char kHitAnchorFormat[] = "<a name=\"SearchMatch%u\" class=\"csm\">";
constexpr char kHitAnchorEnd[] = "</a>";
constexpr char kEmptyHitAnchorFormat[] = "<a name=\"SearchMatch%u\" class=\"csm\"></a>";
constexpr std::string_view kLinkStart = "<a ";
// How far back an enclosing link's "<a " is looked for.
constexpr size_t kLinkLookBack = 400;

// The word separators of a search expression.
constexpr std::string_view kWordSeparators = " ,.:$=<>/{}~^`'%;&|()\t\r\n\"";

bool isPunctOrSpace(unsigned char c) {
    return c < 128 && (isAsciiSpace(c) || (c > 32 && c < 127 && !isAsciiAlnum(c)));
}

// Whether lookfor stands at searchee[at] by strncasewildstr's rules.
bool wildFitsAt(std::string_view searchee, size_t at, std::string_view lookfor) {
    for (size_t j = 0; j < lookfor.size(); ++j) {
        const unsigned char w = static_cast<unsigned char>(lookfor[j]);
        if (at + j == searchee.size()) return w == '?' && j + 1 == lookfor.size();
        const unsigned char t = byteAt(searchee, at + j);
        if (w == '?') {
            if (isPunctOrSpace(t)) return false;
        } else if (asciiLower(w) != asciiLower(t)) {
            return false;
        }
    }
    return true;
}

// The text before a position ends inside a tag: its last '<' has no '>'
// after it.
bool opensTag(std::string_view before) {
    const size_t lt = before.rfind('<');
    return lt != std::string_view::npos && before.find('>', lt) == std::string_view::npos;
}

// The text ahead reaches a '>' before any '<': it lies inside a tag.
bool closesTag(std::string_view ahead) {
    const size_t mark = ahead.find_first_of("<>");
    return mark != std::string_view::npos && ahead[mark] == '>';
}

bool stFieldIsInstant(const CgiHandler& cg) {
    const Value* st = cg.valueList ? cg.valueList->findValue("ST") : nullptr;
    return st && strcasecmp(st->value.c_str(), "INSTANT") == 0;
}

// Wraps the first occurrence of each pattern that lies outside a tag.
void colourWords(std::string& copy, std::span<const std::string_view> patterns, std::string_view start,
                 std::string_view end) {
    for (std::string_view pattern : patterns) {
        if (pattern.empty()) continue;
        const size_t at = strncasewildstr(copy, pattern);
        if (at == std::string_view::npos) continue;
        const size_t len = std::min(pattern.size(), copy.size() - at);
        const std::string_view text(copy);
        if (opensTag(text.substr(0, at)) || closesTag(text.substr(at + len))) continue;
        copy.insert(at + len, end);
        copy.insert(at, start);
    }
}

// Each pattern occurs at or after the place where the one before it did.
bool patternsInOrder(std::string_view copy, std::span<const std::string_view> patterns) {
    size_t from = 0;
    for (std::string_view pattern : patterns) {
        const size_t at = strncasewildstr(copy.substr(from), pattern);
        if (at == std::string_view::npos) return false;
        from += at;
    }
    return true;
}

}  // namespace

int strncasewildcmp(std::string_view srcwild, std::string_view src) {
    if (src.size() < srcwild.size()) return 1;
    const bool wild = srcwild.find('?') != std::string_view::npos;
    for (size_t i = 0; i < srcwild.size(); ++i) {
        const unsigned char w = byteAt(srcwild, i);
        const unsigned char t = byteAt(src, i);
        const bool same = wild ? (w == '?' || w == asciiUpper(t)) : asciiLower(w) == asciiLower(t);
        if (!same) return 1;
    }
    return 0;
}

size_t strncasewildstr(std::string_view searchee, std::string_view lookfor) {
    if (lookfor.empty()) return 0;
    for (size_t at = 0; at < searchee.size(); ++at) {
        if (wildFitsAt(searchee, at, lookfor)) return at;
    }
    return std::string_view::npos;
}

std::string filterNotWords(std::string_view pattern) {
    std::string out;
    out.reserve(pattern.size());
    bool dropping = false;
    for (char c : pattern) {
        if (c == '!') {
            dropping = true;
            continue;
        }
        if (dropping && kWordSeparators.find(c) == std::string_view::npos) continue;
        dropping = false;
        out += c;
    }
    return out;
}

int reAlloc(CgiHandler& cg, std::string& buffer, size_t newSize, size_t oldSize) {
    if (newSize == oldSize) return 1;
    try {
        std::string fresh;
        fresh.reserve(newSize);
        fresh.assign(buffer, 0, std::min({oldSize, newSize, buffer.size()}));
        buffer.swap(fresh);
    } catch (const std::bad_alloc&) {
        cg.setError(cg.msg(211, "cgihandler/15.5"), static_cast<unsigned long>(newSize));
        return 0;
    } catch (const std::length_error&) {
        cg.setError(cg.msg(211, "cgihandler/15.5"), static_cast<unsigned long>(newSize));
        return 0;
    }
    return 1;
}

int CgiHandler::patternPostProcess(int& paState, unsigned& paMatchCount, bool inA, size_t& doffs,
                                   std::span<const std::string_view> patterns) {
    // paState and doffs are the caller's: a region they do not place inside
    // the output is left alone rather than read out of bounds.
    const size_t back = paState > 0 ? static_cast<size_t>(paState) - 1 : 0;
    if (paState < 1 || patterns.empty() || !dstBuf || back > doffs || doffs - back > dstOffs) {
        paState = 0;
        return 1;
    }
    const size_t start = doffs - back;
    std::string copy(dstBuf + start, dstOffs - start);
    if (!(flags & kCgiHitHandedOver) && !patternsInOrder(copy, patterns)) {
        paState = 0;
        return 1;
    }
    // Without ST the words are coloured as with any other search type.
    if (!searchHighLight.empty() && !stFieldIsInstant(*this))
        colourWords(copy, patterns, searchHighLight, searchNormal);

    dstOffs = start;
    dstBuf[dstOffs] = '\0';
    const std::string_view text(copy);
    const std::string_view hit = patterns[0];
    for (size_t rest = 0;;) {
        size_t at = hit.empty() ? std::string_view::npos : strncasewildstr(text.substr(rest), hit);
        if (at == std::string_view::npos) {
            paState = 0;
            return dstWriteBuf(text.substr(rest));
        }
        at += rest;
        const size_t len = std::min(hit.size(), text.size() - at);
        if (!inA && closesTag(text.substr(at))) {
            if (!dstWriteBuf(text.substr(rest, at + len - rest))) return 0;
            rest = at + len;
            paState = 0;
            continue;
        }
        if (!dstWriteBuf(text.substr(rest, at - rest))) return 0;
        if (!inA) {
            ++paMatchCount;
            if (!dstWriteBuf(formatChecked(kHitAnchorFormat, paMatchCount)) ||
                !dstWriteBuf(text.substr(at, len)) || !dstWriteBuf(kHitAnchorEnd))
                return 0;
        } else if (!insertAnchorBeforeLink(paMatchCount) || !dstWriteBuf(text.substr(at, len))) {
            return 0;
        }
        return dstWriteBuf(text.substr(at + len));
    }
}

int CgiHandler::insertAnchorBeforeLink(unsigned& paMatchCount) {
    // Links do not nest: the empty anchor stands before the enclosing one.
    const size_t from = dstOffs > kLinkLookBack ? dstOffs - kLinkLookBack : 0;
    const std::string_view window(dstBuf + from, dstOffs - from);
    size_t link = std::string_view::npos;
    for (size_t at = findCaseBlind(window, 0, kLinkStart); at != std::string_view::npos;
         at = findCaseBlind(window, at + 1, kLinkStart))
        link = at;
    if (link == std::string_view::npos) return 1;
    const std::string anchor = formatChecked(kEmptyHitAnchorFormat, ++paMatchCount);
    const size_t at = from + link;
    const size_t tail = dstOffs - at;
    // Appending first lets the writer grow the buffer; the tail then moves
    // up by offsets, as the buffer may have moved.
    if (!dstWriteBuf(anchor)) return 0;
    std::memmove(dstBuf + at + anchor.size(), dstBuf + at, tail);
    std::memcpy(dstBuf + at, anchor.data(), anchor.size());
    return 1;
}

}  // namespace ruva
