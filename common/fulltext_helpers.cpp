#include "common/fulltext_helpers.h"

#include <algorithm>
#include <climits>

#include "common/net_util.h"
#include "common/text.h"
#include "common/text_view.h"

namespace ruva {

// ---- Hit contexts and IDRETR sections ----

namespace {

constexpr std::string_view kNbsp = "&nbsp;";
constexpr std::string_view kTitledBlock = "class=\"titled-block\">";
constexpr std::string_view kBlockTagsFT[] = {"<p", "<li", "<tr", "<td"};
// A budget used up keeps this many characters nearest the hit.
constexpr size_t kCutKeep = 150;
// The title walk stops above this offset: the body marker lies below it.
constexpr size_t kTitleWalkFloor = 5;
constexpr size_t npos = std::string_view::npos;

bool isTitleSpanFT(std::string_view html, size_t pos) {
    if (!isChapterTitleSpanAt(html, pos)) return false;
    return pos < kTitledBlock.size() ||
           html.substr(pos - kTitledBlock.size(), kTitledBlock.size()) != kTitledBlock;
}

bool isBlockStartFT(std::string_view html, size_t pos) {
    for (std::string_view tag : kBlockTagsFT) {
        if (!startsCaseBlindAt(html, pos, tag)) continue;
        const size_t after = pos + tag.size();
        if (after < html.size() && (html[after] == '>' || html[after] == ' ')) return true;
    }
    return false;
}

// A blank as the collection reads it: white space, another invisible byte,
// or the ';' ending "&nbsp;".
bool isBlankEndingAt(std::string_view html, size_t pos) {
    const unsigned char c = byteAt(html, pos);
    if (c == ' ' || !isSnippetVisible(c)) return true;
    return c == ';' && pos + 1 >= kNbsp.size() && startsAt(html, pos + 1 - kNbsp.size(), kNbsp);
}

void appendEscaped(std::string& out, char c) {
    if (c == '"') out += '\\';
    out += c;
}

struct TitleWalk {
    bool found = false;   // a title span starts where the walk stopped
    size_t start = npos;  // title text: after the first '>' past the span
    size_t end = npos;    // the nearest "</span></h" past the span
    size_t ends = 0;      // title ends met on the way
};

// Walks back from html[before - 1] to the nearest title span.
TitleWalk walkToTitle(std::string_view html, size_t before) {
    TitleWalk walk;
    for (size_t p = std::min(before, html.size()); p-- > kTitleWalkFloor + 1;) {
        if (html[p] == '<' && isTitleSpanFT(html, p)) {
            walk.found = true;
            break;
        }
        if (html[p] == '>') {
            walk.start = p + 1;
        } else if (html[p] == '<' && isChapterTitleEndAt(html, p)) {
            walk.end = p;
            ++walk.ends;
        }
    }
    return walk;
}

// The visible title text of html[start, end): tags skipped.
std::string titleCopy(std::string_view html, size_t start, size_t end) {
    std::string out;
    bool inTag = false;
    for (size_t p = start; p < end; ++p) {
        const unsigned char c = byteAt(html, p);
        if (c == '<') inTag = true;
        if (inTag) {
            inTag = c != '>';
            continue;
        }
        appendEscaped(out, isSnippetVisible(c) ? static_cast<char>(c) : ' ');
    }
    return out;
}

// Collected text, nearest the hit first, and how the collection ended.
struct Collected {
    std::string reversed;
    bool cut = false;           // the budget ended it
    bool boundary = false;      // a block start or ". "
    bool reachedTitle = false;  // a title end
};

// The heading case: up to `limit` characters before the hit, tags skipped.
Collected collectPlain(std::string_view html, size_t hitPos, size_t limit) {
    Collected got;
    bool inTag = false;
    for (size_t p = hitPos; p-- > 0;) {
        const unsigned char c = byteAt(html, p);
        if (c == '>' || c == '<') {
            inTag = c == '>';
            continue;
        }
        if (inTag) continue;
        if (got.reversed.size() >= limit) {
            got.cut = true;
            break;
        }
        got.reversed += isSnippetVisible(c) ? static_cast<char>(c) : ' ';
    }
    return got;
}

// The body case: collects while used stays below kSnippetMax.
Collected collectBody(std::string_view html, size_t hitPos, size_t used) {
    Collected got;
    bool inTag = false;
    for (size_t p = hitPos; p-- > 0;) {
        if (used >= kSnippetMax) {
            got.cut = true;
            break;
        }
        const unsigned char c = byteAt(html, p);
        if (c == '>') {
            inTag = true;
            continue;
        }
        if (c == '<') {
            inTag = false;
            if (isChapterTitleEndAt(html, p)) {
                got.reachedTitle = true;
                break;
            }
            if (isBlockStartFT(html, p)) {
                got.reversed += "  ";
                got.boundary = true;
                break;
            }
            continue;
        }
        if (inTag) continue;
        if (!isBlankEndingAt(html, p)) {
            got.reversed += static_cast<char>(c);
            ++used;
            continue;
        }
        if (c == ';') p -= kNbsp.size() - 1;  // "&nbsp;" is one blank
        if (p > 0 && html[p - 1] == '.') {
            got.reversed += "  ";
            got.boundary = true;
            break;
        }
        if (p > 0 && isBlankEndingAt(html, p - 1)) continue;
        got.reversed += ' ';
        ++used;
    }
    return got;
}

// Reading order, without the partial word at the far end of a cut text
// (kept whole when it has no blank), quotes escaped.
std::string readingOrder(const Collected& got, size_t keep) {
    std::string_view rev(got.reversed);
    if (got.cut) {
        rev = rev.substr(0, keep);
        const size_t blank = rev.rfind(' ');
        if (blank != npos) rev = rev.substr(0, blank + 1);
    }
    std::string out;
    for (size_t i = rev.size(); i-- > 0;) appendEscaped(out, rev[i]);
    return out;
}

size_t headingContext(std::string& dst, std::string_view html, size_t hitPos, size_t isTitle) {
    const size_t walkFrom = isTitle < html.size() - hitPos ? hitPos + isTitle : html.size();
    const TitleWalk walk = walkToTitle(html, walkFrom);
    if (walk.found && walk.start != npos) dst += titleCopy(html, walk.start, std::min(walk.end, walkFrom));
    if (walk.ends < 2) {
        dst += kTitleSeparator;
    } else {
        dst += "...";
        dst += readingOrder(collectPlain(html, hitPos, kSnippetMax), kSnippetMax);
        dst += ' ';
    }
    return dst.size() - 1;
}

size_t bodyContext(std::string& dst, std::string_view html, size_t hitPos, SnippetState& state) {
    bool nbsp = false;
    const size_t word = hitWordLength(html, hitPos, &nbsp);
    state.spaceContext = nbsp;

    const Collected got = collectBody(html, hitPos, word + 3);
    const TitleWalk walk = walkToTitle(html, hitPos);
    if (walk.found && walk.start != npos && walk.end != npos) {
        dst += titleCopy(html, walk.start, walk.end);
        dst += kTitleSeparator;
    }
    const size_t counted = dst.size();
    if ((!got.reachedTitle && !got.boundary) || (walk.ends > 1 && !got.boundary)) dst += "...";
    dst += readingOrder(got, kCutKeep);
    dst += ' ';
    return dst.size() - counted + 1;
}

bool isHeadingAt(std::string_view html, size_t pos, int* level) {
    if (pos + 3 >= html.size() || html[pos] != '<' || html[pos + 1] != 'h') return false;
    const char digit = html[pos + 2];
    const char after = html[pos + 3];
    if (digit < '1' || digit > '5' || (after != ' ' && after != '>')) return false;
    *level = digit - '0';
    return true;
}

bool isDivOpenAt(std::string_view html, size_t pos) {
    return startsAt(html, pos, "<div ") || startsAt(html, pos, "<div>");
}

// "<!--@/b" as the heading mode knows it, or "</bo" in any case of b and o.
bool isBodyEndAt(std::string_view html, size_t pos) {
    return startsAt(html, pos, "<!--@/b") || startsAt(html, pos, "<!--@/B") ||
           startsCaseBlindAt(html, pos, "</bo");
}

// Where a DITA section ends whatever the division depth.
bool isDitaStopAt(std::string_view html, size_t pos) {
    return startsAt(html, pos, "<div id=\"msg_") || startsCaseBlindAt(html, pos, "<!--@/b") ||
           startsCaseBlindAt(html, pos, "</bo");
}

void headingSection(std::string& dst, std::string_view html, size_t hitPos) {
    int level = 0;
    size_t start = npos;
    for (size_t p = hitPos < html.size() ? hitPos + 1 : html.size(); p-- > 0;) {
        if (isHeadingAt(html, p, &level)) {
            start = p;
            break;
        }
    }
    if (start == npos) return;
    for (size_t p = start; p < html.size() && dst.size() < kUserdocMax; ++p) {
        int next;
        if (p != start && isHeadingAt(html, p, &next) && next <= level) break;
        if (isBodyEndAt(html, p)) break;
        dst += html[p];
    }
}

void ditaSection(std::string& dst, std::string_view html, size_t hitPos) {
    size_t p = 0;
    for (size_t q = hitPos < html.size() ? hitPos + 1 : html.size(); q-- > 0;) {
        if (isDivOpenAt(html, q)) {
            p = q;
            break;
        }
    }
    int level = 0;
    for (; p < html.size() && !isHeadingAt(html, p, &level); ++p) {
        if (dst.size() >= kUserdocMax || isDitaStopAt(html, p)) return;
        dst += html[p];
    }
    // Division depth from the topic's own level; the cut mark ends the
    // section before the parent's "</div>" or the next topic's "<div". The
    // first "</div>" at depth 0 fixes the mark for good, so no cut can leave
    // a tag without its '<'.
    const size_t heading = p;
    int depth = 1;
    size_t closes = 0;
    size_t mark = npos;
    bool markFixed = false;
    for (; p < html.size() && dst.size() < kUserdocMax; ++p) {
        int next;
        if (isDitaStopAt(html, p)) break;
        if (p != heading && isHeadingAt(html, p, &next) && next <= level) break;
        bool copy = true;
        if (isDivOpenAt(html, p)) {
            if (depth >= 1) {
                if (closes == 0) ++depth;
            } else {
                depth = 1;
                if (mark != npos)
                    copy = false;
                else
                    mark = dst.size();
            }
        } else if (startsAt(html, p, "</div>")) {
            if (depth == 0) {
                if (closes == 0) {
                    mark = dst.size();
                    markFixed = true;
                }
                ++closes;
            } else {
                --depth;
                if (!markFixed) mark = npos;
            }
        }
        if (copy) dst += html[p];
    }
    if (mark != npos) dst.resize(mark);
}

std::string blankControls(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (isAsciiControl(static_cast<unsigned char>(c))) c = ' ';
    }
    return out;
}

}  // namespace

size_t backStrFT(std::string& dst, std::string_view html, size_t hitPos, size_t isTitle,
                 SnippetState& state) {
    html = upToNul(html);
    hitPos = std::min(hitPos, html.size());
    dst = "\"";
    if (html.empty() || isTitle != 0) state.spaceContext = false;
    if (html.empty()) return 0;
    if (isTitle != 0) return headingContext(dst, html, hitPos, isTitle);
    return bodyContext(dst, html, hitPos, state);
}

int userdoc(std::string& dst, std::string_view html, size_t hitPos, int chktag) {
    html = upToNul(html);
    dst.clear();
    if (chktag == 1)
        ditaSection(dst, html, hitPos);
    else if (chktag == 0)
        headingSection(dst, html, hitPos);
    return 0;
}

int fdUDprintf(int fd, size_t sbufSize, std::string_view zipBasename, std::string_view fname,
               std::string_view sbuf) {
    if (sbuf.size() > INT_MAX) return -1;
    // %s would stop at a NUL and shorten the framed section.
    std::string section;
    if (sbuf.find('\0') != npos) {
        section.assign(sbuf);
        std::replace(section.begin(), section.end(), '\0', ' ');
        sbuf = section;
    }
    const int written =
        fdprintf(fd, "300 %zu \"%s\" \"%s\"  %.*s\n", sbufSize, blankControls(zipBasename).c_str(),
                 blankControls(fname).c_str(), static_cast<int>(sbuf.size()), sbuf.data());
    return written < 0 ? -1 : 1;
}

// ---- end of hit contexts and IDRETR sections ----

}  // namespace ruva
