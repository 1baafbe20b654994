#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/patterns.h"
#include "common/text_view.h"

namespace ruva {

namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;

constexpr string_view kBodyMarker = "<!--@BODY-->";
constexpr string_view kContextMenu = "<ul class='context-menu'";
constexpr string_view kHtmlEnd = "</html>";
constexpr string_view kNbsp = "&nbsp;";
// The result starts with this much room past the page.
constexpr size_t kResultSlack = 65535;
// The longest entity name or number after its '&', with its '#' and 'x'.
constexpr size_t kEntityNameMax = 32;

constexpr string_view kPatternSeparators = " ,.:$=<>/{}~^`'%;&|()*?\t\r\n\"";

bool isPatternSeparator(char c) {
    return kPatternSeparators.find(c) != npos;
}

bool isBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isHexLetter(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'f';
}

unsigned char byteOr0(string_view s, size_t pos) {
    return pos < s.size() ? byteAt(s, pos) : 0;
}

// The pattern as the search takes it: the separators before its first word
// (the opening quote first), the word, and the rest of the phrase without
// its closing quote.
struct Phrase {
    string_view leading;
    string_view word;
    string_view rest;
};

std::optional<Phrase> splitPhrase(string_view pattern) {
    size_t lead = 0;
    while (lead < pattern.size() && isPatternSeparator(pattern[lead])) ++lead;
    size_t wordEnd = lead;
    while (wordEnd < pattern.size() && !isPatternSeparator(pattern[wordEnd])) ++wordEnd;
    if (wordEnd == lead) return std::nullopt;
    // Only a closing quote is dropped: a phrase typed without one keeps its
    // last character.
    size_t restEnd = pattern.size();
    if (restEnd > wordEnd && pattern[restEnd - 1] == '"') --restEnd;
    return Phrase{pattern.substr(0, lead), pattern.substr(lead, wordEnd - lead),
                  pattern.substr(wordEnd, restEnd - wordEnd)};
}

// The scanned part of the page: from the body marker (else the start) to
// the context menu (else "</html>").
struct Body {
    size_t begin;
    size_t end;
};

std::optional<Body> findBody(string_view page) {
    size_t begin = findCaseBlind(page, 0, kBodyMarker);
    if (begin == npos) begin = 0;
    size_t end = page.find(kContextMenu, begin);
    if (end == npos) end = findCaseBlind(page, begin, kHtmlEnd);
    if (end == npos) return std::nullopt;
    return Body{begin, end};
}

// Length of the entity at amp ("&name;", "&#123;", "&#x1F;"); 0 when the
// '&' starts none, as a bare '&' in text does.
size_t entityLength(string_view s, size_t amp) {
    size_t p = amp + 1;
    size_t digits = 0;
    if (byteOr0(s, p) == '#') {
        ++p;
        const bool hex = (byteOr0(s, p) | 0x20) == 'x';
        if (hex) ++p;
        const size_t most = hex ? 6 : 7;
        while (digits < most && (isAsciiDigit(byteOr0(s, p)) || (hex && isHexLetter(byteOr0(s, p)))))
            ++p, ++digits;
    } else if (isAsciiAlpha(byteOr0(s, p))) {
        while (digits < kEntityNameMax && isAsciiAlnum(byteOr0(s, p))) ++p, ++digits;
    }
    return digits && byteOr0(s, p) == ';' ? p + 1 - amp : 0;
}

// Whether occ lies inside an entity's name, before its ';'.
bool insideEntity(string_view page, size_t occ, size_t floor) {
    for (size_t i = occ; i > floor && occ - i <= kEntityNameMax + 1; --i) {
        const unsigned char c = byteAt(page, i - 1);
        if (c == '&') return entityLength(page, i - 1) > occ - (i - 1) + 1;
        if (!isAsciiAlnum(c) && c != '#') return false;
    }
    return false;
}

// The end of a run of blanks, line ends, "&nbsp;" and whole tags from pos;
// pos when none starts there. Nothing at or past end is read.
size_t blankRunEnd(string_view page, size_t pos, size_t end) {
    const string_view part = page.substr(0, end);
    while (pos < end) {
        if (isBlank(byteAt(part, pos))) {
            ++pos;
        } else if (startsAt(part, pos, kNbsp)) {
            pos += kNbsp.size();
        } else if (part[pos] == '<') {
            const size_t gt = part.find('>', pos);
            if (gt == npos) break;
            pos = gt + 1;
        } else {
            break;
        }
    }
    return pos;
}

// Where the rest of the phrase ends when it follows at pos; npos when it
// does not. A blank (or a run of them) of the phrase takes a run of blanks,
// line ends, "&nbsp;" and tags; letters compare case-blind.
size_t matchRest(string_view page, size_t pos, size_t end, string_view rest) {
    for (size_t j = 0; j < rest.size();) {
        if (isBlank(byteAt(rest, j))) {
            while (j < rest.size() && isBlank(byteAt(rest, j))) ++j;
            const size_t after = blankRunEnd(page, pos, end);
            if (after == pos) return npos;
            pos = after;
        } else {
            if (pos >= end || asciiLower(byteAt(page, pos)) != asciiLower(byteAt(rest, j))) return npos;
            ++pos;
            ++j;
        }
    }
    return pos;
}

// start moved back over a tag that ends right before it, not below floor.
size_t stepOverTag(string_view page, size_t start, size_t floor) {
    if (start <= floor || page[start - 1] != '>') return start;
    const size_t lt = page.substr(floor, start - 1 - floor).rfind('<');
    return lt == npos ? start : floor + lt;
}

// The match's start when the leading separators but the opening quote
// stand before occ, compared backwards; npos when they do not. Only more
// than two leading separators are checked. The start stays at or above
// floor.
size_t stepBackLeading(string_view page, size_t occ, size_t floor, string_view leading) {
    size_t start = occ;
    if (leading.size() <= 2) return start;
    for (size_t k = leading.size(); k-- > 1;) {
        const size_t beforeTag = start;
        start = stepOverTag(page, start, floor);
        const char sep = leading[k];
        if (start > floor && page[start - 1] == sep) {
            --start;
        } else if (isBlank(static_cast<unsigned char>(sep))) {
            size_t back = start;
            while (back > floor) {
                const size_t overTag = stepOverTag(page, back, floor);
                if (overTag != back) {
                    back = overTag;
                } else if (isBlank(byteAt(page, back - 1))) {
                    --back;
                } else {
                    break;
                }
            }
            // A blank with neither blank, line end nor tag before it fails.
            if (back == start && start == beforeTag) return npos;
            start = back;
        } else {
            return npos;
        }
    }
    return start;
}

// What the text before a position says about it: inside a tag, a script
// or the title, and the "<a " of a link not closed yet. Carried from one
// occurrence to the next, so the page is read once.
struct Context {
    size_t pos;
    bool inTag = false;
    bool inScript = false;
    bool inTitle = false;
    size_t link = npos;
    // The next '<' and '>' at or after the place they were searched from;
    // npos when the page has none further, kUnsearched before the first
    // search.
    static constexpr size_t kUnsearched = npos - 1;
    size_t nextLt = kUnsearched;
    size_t nextGt = kUnsearched;

    void advance(string_view page, size_t to) {
        // Only '<' and '>' change the context: jump from one to the next.
        // Each one's next place is kept until passed, so the page is
        // searched once for each.
        while (pos < to) {
            if (nextLt < pos || nextLt == kUnsearched) nextLt = nextOf(page, '<', pos);
            if (nextGt < pos || nextGt == kUnsearched) nextGt = nextOf(page, '>', pos);
            const size_t at = std::min(nextLt, nextGt);
            if (at >= to) {
                pos = to;
                return;
            }
            pos = at;
            if (at == nextGt) {
                inTag = false;
            } else {
                inTag = true;
                element(page);
            }
            ++pos;
        }
    }

    static size_t nextOf(string_view page, char c, size_t from) {
        const void* hit = std::memchr(page.data() + from, c, page.size() - from);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - page.data()) : npos;
    }

    void element(string_view page) {
        // Markup inside a script is script text: only its end counts.
        if (inScript) {
            inScript = !startsCaseBlindAt(page, pos, "</script");
            return;
        }
        // The byte after '<' (and after "</") rules out all names but one.
        const unsigned char next = asciiLower(byteOr0(page, pos + 1));
        const unsigned char afterSlash = next == '/' ? asciiLower(byteOr0(page, pos + 2)) : 0;
        if (next == 's' && startsCaseBlindAt(page, pos, "<script")) {
            inScript = true;
        } else if (next == 't' && startsCaseBlindAt(page, pos, "<title")) {
            inTitle = true;
        } else if (afterSlash == 't' && startsCaseBlindAt(page, pos, "</title")) {
            inTitle = false;
        } else if (next == 'a' && startsCaseBlindAt(page, pos, "<a ")) {
            link = pos;
        } else if (afterSlash == 'a' && startsCaseBlindAt(page, pos, "</a>")) {
            link = npos;
        }
    }
};

// The result text, grown through reAlloc so that running out of memory is
// a result, not an exception.
class ResultWriter {
public:
    explicit ResultWriter(CgiHandler& cg) : cg_(cg) {}

    bool reserve(size_t n) { return n <= text_.capacity() || reAlloc(cg_, text_, n, text_.size()); }

    bool put(string_view s) {
        // Doubling keeps a page of many marks linear in its length.
        if (s.size() > text_.capacity() - text_.size() &&
            !reserve(std::max(text_.size() + s.size(), text_.capacity() * 2)))
            return false;
        text_.append(s);
        return true;
    }

    std::string& text() { return text_; }

private:
    CgiHandler& cg_;
    std::string text_;
};

class PhraseMarker {
public:
    PhraseMarker(string_view page, Body body, Phrase phrase, string_view start, string_view end,
                 string_view searchMatch, ResultWriter& out)
        : page_(page),
          body_(body),
          phrase_(phrase),
          start_(start),
          end_(end),
          searchMatch_(searchMatch),
          out_(out),
          ctx_{body.begin} {}

    // 0 when the result could not grow.
    bool run() {
        const string_view scanned = page_.substr(0, body_.end);
        for (size_t occ = findCaseBlind(scanned, body_.begin, phrase_.word); occ != npos;
             occ = findCaseBlind(scanned, occ + 1, phrase_.word)) {
            if (!tryOccurrence(occ)) return false;
        }
        return out_.put(page_.substr(copied_));
    }

private:
    bool tryOccurrence(size_t occ) {
        ctx_.advance(page_, occ);
        // Text already in the result (an earlier match ran over this
        // occurrence) is not written twice.
        if (occ < copied_ || ctx_.inTag || ctx_.inScript || ctx_.inTitle) return true;
        const size_t wordEnd = occ + phrase_.word.size();
        if (!isDelimiter(byteOr0(page_, wordEnd)) &&
            !isDelimiter(byteAt(phrase_.word, phrase_.word.size() - 1)))
            return true;
        const size_t end = matchRest(page_, wordEnd, body_.end, phrase_.rest);
        if (end == npos || (!isDelimiter(byteOr0(page_, end)) && !isDelimiter(byteAt(page_, end - 1))))
            return true;
        const size_t start = stepBackLeading(page_, occ, std::max(body_.begin, copied_), phrase_.leading);
        if (start == npos) return true;
        const unsigned char before = start > 0 ? byteAt(page_, start - 1) : 0;
        if (!isDelimiter(before) && !isDelimiter(byteAt(page_, start))) return true;
        // Marks inside "&name;" would break the entity: it is copied plain.
        if (insideEntity(page_, occ, body_.begin)) return true;
        return mark(start, end);
    }

    bool mark(size_t start, size_t end) {
        // Links do not nest: the anchor goes before the enclosing link, or
        // at the copy point once an earlier match carried the copy past its
        // "<a ".
        const size_t anchorAt = ctx_.link != npos && ctx_.link < start ? std::max(ctx_.link, copied_) : start;
        if (!out_.put(page_.substr(copied_, anchorAt - copied_))) return false;
        if (!searchMatch_.empty() &&
            !out_.put(formatChecked("%s%s%u%s", "<a name=\"", std::string(searchMatch_), ++count_,
                                    "\" class=\"csm\"></a>")))
            return false;
        if (!out_.put(page_.substr(anchorAt, start - anchorAt))) return false;
        return writeHighlighted(start, end);
    }

    // The match between the highlight strings, closed before each tag end
    // and reopened after it, closed again before a tag that follows within
    // the match.
    bool writeHighlighted(size_t start, size_t end) {
        const string_view near = page_.substr(0, std::min(page_.size(), end + 1));
        size_t cur = start;
        if (!out_.put(start_)) return false;
        for (size_t gt = near.find('>', cur); gt != npos; gt = near.find('>', cur)) {
            if (!out_.put(near.substr(cur, gt + 1 - cur)) || !out_.put(end_) || !out_.put(start_))
                return false;
            cur = gt + 1;
            const size_t lt = near.find('<', cur);
            if (lt != npos && lt < end) {
                if (!out_.put(near.substr(cur, lt - cur)) || !out_.put(end_)) return false;
                cur = lt;
            }
        }
        if (cur < end && !out_.put(page_.substr(cur, end - cur))) return false;
        if (!out_.put(end_)) return false;
        copied_ = std::max(cur, end);
        return true;
    }

    string_view page_;
    Body body_;
    Phrase phrase_;
    string_view start_;
    string_view end_;
    string_view searchMatch_;
    ResultWriter& out_;
    Context ctx_;
    size_t copied_ = 0;
    unsigned count_ = 0;
};

}  // namespace

int CgiHandler::patternHighlight(string_view htmlCode, string_view pattern, string_view highlightStart,
                                 string_view highlightEnd, string_view searchMatch, std::string& result) {
    ResultWriter out(*this);
    const std::optional<Phrase> phrase = splitPhrase(pattern);
    const std::optional<Body> body = findBody(htmlCode);
    // Nothing to mark is no failure: the page goes out as it is.
    if (!phrase || !body) {
        if (!out.put(htmlCode)) return 0;
    } else {
        if (!out.reserve(htmlCode.size() + kResultSlack)) return 0;
        PhraseMarker marker(htmlCode, *body, *phrase, highlightStart, highlightEnd, searchMatch, out);
        if (!marker.run()) return 0;
    }
    result.swap(out.text());
    return 1;
}

}  // namespace ruva
