#include "bmod/ruvaserv/actions/ruvafilter/html_lines.h"

#include "bmod/ruvaserv/actions/ruvafilter/entities.h"
#include "bmod/ruvaserv/actions/ruvafilter/line_builder.h"
#include "common/text_view.h"

namespace ruva::filter {

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr size_t kMaxTitle = 512;  // wider than any page's header

enum class Tag : uint8_t {
    kOther,
    kBlock,        // ends a line
    kBoldHeading,  // h1-h3
    kHeading,      // h4-h6
    kBr,
    kLi,
    kTr,
    kTd,
    kTh,
    kTable,
    kPre,
    kHr,
    kBold,
    kImg,
    kScript,
    kStyle,
    kTitle,
    kHead,
    kBody,
    kHeadOnly,  // may stand in the head without ending it
};

struct TagRow {
    std::string_view name;
    Tag tag;
};
constexpr TagRow kTags[] = {
    {"p", Tag::kBlock},
    {"div", Tag::kBlock},
    {"dt", Tag::kBlock},
    {"dd", Tag::kBlock},
    {"blockquote", Tag::kBlock},
    {"h1", Tag::kBoldHeading},
    {"h2", Tag::kBoldHeading},
    {"h3", Tag::kBoldHeading},
    {"h4", Tag::kHeading},
    {"h5", Tag::kHeading},
    {"h6", Tag::kHeading},
    {"br", Tag::kBr},
    {"li", Tag::kLi},
    {"tr", Tag::kTr},
    {"td", Tag::kTd},
    {"th", Tag::kTh},
    {"table", Tag::kTable},
    {"pre", Tag::kPre},
    {"hr", Tag::kHr},
    {"b", Tag::kBold},
    {"strong", Tag::kBold},
    {"img", Tag::kImg},
    {"script", Tag::kScript},
    {"style", Tag::kStyle},
    {"title", Tag::kTitle},
    {"head", Tag::kHead},
    {"body", Tag::kBody},
    {"html", Tag::kHeadOnly},
    {"meta", Tag::kHeadOnly},
    {"link", Tag::kHeadOnly},
    {"base", Tag::kHeadOnly},
    {"noscript", Tag::kHeadOnly},
};

Tag tagByName(std::string_view name) {
    for (const TagRow& row : kTags) {
        if (row.name.size() == name.size() && startsCaseBlindAt(name, 0, row.name)) return row.tag;
    }
    return Tag::kOther;
}

bool mayStandInHead(Tag tag) {
    return tag == Tag::kHeadOnly || tag == Tag::kTitle || tag == Tag::kScript || tag == Tag::kStyle ||
           tag == Tag::kHead;
}

struct TextChar {
    unsigned char byte;  // printable; 0 prints nothing; for white space the page's byte
    size_t size;
    bool space;
};

TextChar nextTextChar(std::string_view text, size_t pos, Charset charset) {
    const unsigned char c = byteAt(text, pos);
    if (isAsciiSpace(c)) return {c, 1, true};
    if (c == '&') {
        Reference ref;
        if (decodeReference(text, pos, ref)) return {printableByte(ref.code), ref.size, false};
        return {'&', 1, false};  // not a reference: stays as written
    }
    const DecodedChar d = decodeChar(text, pos, charset);
    return {d.byte, d.size, false};
}

// The '>' ending a start tag whose attributes begin at pos, quoted values
// skipped whole; npos when the page ends first. *alt gets the raw value of
// an alt attribute.
size_t scanAttributes(std::string_view html, size_t pos, std::string_view* alt) {
    const size_t n = html.size();
    auto skipSpace = [&] {
        while (pos < n && isAsciiSpace(byteAt(html, pos))) ++pos;
    };
    while (pos < n) {
        unsigned char c = byteAt(html, pos);
        if (c == '>') return pos;
        if (isAsciiSpace(c) || c == '/') {
            ++pos;
            continue;
        }
        const size_t nameStart = pos++;  // a '=' here belongs to the name
        while (pos < n && (c = byteAt(html, pos), !isAsciiSpace(c) && c != '>' && c != '/' && c != '='))
            ++pos;
        const std::string_view name = html.substr(nameStart, pos - nameStart);
        skipSpace();
        if (pos >= n || html[pos] != '=') continue;
        ++pos;
        skipSpace();
        if (pos >= n) return npos;
        size_t valueStart = pos;
        size_t valueEnd;
        if (html[pos] == '"' || html[pos] == '\'') {
            valueStart = pos + 1;
            valueEnd = html.find(html[pos], valueStart);
            if (valueEnd == npos) return npos;
            pos = valueEnd + 1;
        } else {
            while (pos < n && !isAsciiSpace(byteAt(html, pos)) && html[pos] != '>') ++pos;
            valueEnd = pos;
        }
        if (alt && name.size() == 3 && startsCaseBlindAt(name, 0, "alt"))
            *alt = html.substr(valueStart, valueEnd - valueStart);
    }
    return npos;
}

class HtmlScanner {
public:
    HtmlScanner(std::string_view html, Charset charset, PageText& page)
        : html_(html), charset_(charset), page_(page), out_(page) {}

    void run();

private:
    void text(size_t end);
    bool markup();
    void skipPast(std::string_view terminator, size_t from);
    void lineBreak(Tag tag);
    void startTag(Tag tag, std::string_view alt);
    void endTag(Tag tag);
    void imageAlt(std::string_view alt);
    void rawText(Tag tag);
    void collectTitle(std::string_view raw);
    void updateStyle() {
        out_.setBold(boldTags_ > 0 || headingBold_ || cellBold_);
        out_.setPre(preDepth_ > 0);
    }

    std::string_view html_;
    Charset charset_;
    PageText& page_;
    LineBuilder out_;
    size_t pos_ = 0;
    bool inHead_ = false;
    bool bodySeen_ = false;
    bool skipNewline_ = false;  // a newline right after <pre> is not content
    bool headingBold_ = false;
    bool cellBold_ = false;
    int boldTags_ = 0;
    int preDepth_ = 0;
};

void HtmlScanner::run() {
    while (pos_ < html_.size()) {
        size_t lt = html_.find('<', pos_);
        if (lt == npos) lt = html_.size();
        text(lt);
        if (pos_ < html_.size() && !markup()) {
            inHead_ = false;
            out_.addChar('<');
            ++pos_;
        }
    }
    out_.finish();
}

// The page's text in [pos_, end): no '<' in it.
void HtmlScanner::text(size_t end) {
    const std::string_view run = html_.substr(0, end);
    if (skipNewline_) {
        if (startsAt(run, pos_, "\r\n"))
            pos_ += 2;
        else if (startsAt(run, pos_, "\n"))
            ++pos_;
        skipNewline_ = false;
    }
    while (pos_ < end) {
        const TextChar c = nextTextChar(run, pos_, charset_);
        pos_ += c.size;
        if (c.space) {
            if (inHead_) continue;
            if (c.byte == '\r' && pos_ < end && run[pos_] == '\n') continue;
            out_.addSpace(c.byte == '\r' ? '\n' : c.byte);
            continue;
        }
        inHead_ = false;  // text ends the head, as it does in a browser
        if (c.byte) out_.addChar(c.byte);
    }
}

// The markup at pos_ ('<'); false when it is a plain '<' of the text.
bool HtmlScanner::markup() {
    const size_t at = pos_;
    if (startsAt(html_, at, "<!--")) return skipPast("-->", at + 4), true;
    if (startsAt(html_, at, "<?")) return skipPast("?>", at + 2), true;
    if (startsAt(html_, at, "<!")) return skipPast(">", at + 2), true;
    const bool closing = startsAt(html_, at, "</");
    const size_t nameStart = at + (closing ? 2 : 1);
    if (nameStart >= html_.size() || !isAsciiAlpha(byteAt(html_, nameStart))) return false;
    size_t nameEnd = nameStart;
    while (nameEnd < html_.size() && isAsciiAlnum(byteAt(html_, nameEnd))) ++nameEnd;
    const Tag tag = tagByName(html_.substr(nameStart, nameEnd - nameStart));
    skipNewline_ = false;
    std::string_view alt;
    const size_t end = closing ? html_.find('>', nameEnd)
                               : scanAttributes(html_, nameEnd, tag == Tag::kImg ? &alt : nullptr);
    if (end == npos) {
        pos_ = html_.size();  // a tag cut by the end of the page: dropped
        return true;
    }
    pos_ = end + 1;
    if (closing)
        endTag(tag);
    else
        startTag(tag, alt);
    return true;
}

// Past the first terminator at or after from; to the end when there is none.
void HtmlScanner::skipPast(std::string_view terminator, size_t from) {
    const size_t end = html_.find(terminator, from);
    pos_ = end == npos ? html_.size() : end + terminator.size();
}

// What a tag does to lines, the same at its start and at its end.
void HtmlScanner::lineBreak(Tag tag) {
    switch (tag) {
        case Tag::kBlock:
        case Tag::kBoldHeading:
        case Tag::kHeading:
        case Tag::kLi:
        case Tag::kTr:
        case Tag::kTable:
        case Tag::kPre:  // at </pre> still preformatted: the last line keeps its blanks
            out_.softBreak();
            break;
        case Tag::kBr:  // "</br>" breaks as "<br>" does in a browser
            out_.hardBreak();
            break;
        default:
            break;
    }
}

void HtmlScanner::startTag(Tag tag, std::string_view alt) {
    if (inHead_ && !mayStandInHead(tag)) inHead_ = false;
    lineBreak(tag);
    switch (tag) {
        case Tag::kBoldHeading:
        case Tag::kHeading:
            headingBold_ = tag == Tag::kBoldHeading;
            break;
        case Tag::kLi:
            out_.addPrefix("- ");
            break;
        case Tag::kTr:
        case Tag::kTable:
            cellBold_ = false;
            break;
        case Tag::kTd:
        case Tag::kTh:
            if (!out_.lineEmpty()) out_.addPrefix("  ");
            cellBold_ = tag == Tag::kTh;
            break;
        case Tag::kPre:
            ++preDepth_;
            skipNewline_ = true;
            break;
        case Tag::kHr:
            out_.rule();
            break;
        case Tag::kBold:
            ++boldTags_;
            break;
        case Tag::kImg:
            imageAlt(alt);
            break;
        case Tag::kScript:
        case Tag::kStyle:
        case Tag::kTitle:
            rawText(tag);
            break;
        case Tag::kHead:
            inHead_ = !bodySeen_;
            break;
        case Tag::kBody:
            inHead_ = false;
            bodySeen_ = true;
            break;
        default:
            break;
    }
    updateStyle();
}

void HtmlScanner::endTag(Tag tag) {
    lineBreak(tag);
    switch (tag) {
        case Tag::kBoldHeading:
        case Tag::kHeading:
            headingBold_ = false;
            break;
        case Tag::kTr:
        case Tag::kTable:
        case Tag::kTh:
            cellBold_ = false;
            break;
        case Tag::kPre:
            if (preDepth_ > 0) --preDepth_;
            break;
        case Tag::kBold:
            if (boldTags_ > 0) --boldTags_;
            break;
        case Tag::kHead:
            inHead_ = false;
            break;
        default:
            break;
    }
    updateStyle();
}

void HtmlScanner::imageAlt(std::string_view alt) {
    size_t first = 0;
    size_t last = alt.size();
    while (first < last && isAsciiSpace(byteAt(alt, first))) ++first;
    while (last > first && isAsciiSpace(byteAt(alt, last - 1))) --last;
    if (first == last) return;
    out_.addChar('[');
    for (size_t pos = first; pos < last;) {
        const TextChar c = nextTextChar(alt, pos, charset_);
        pos += c.size;
        if (c.space)
            out_.addSpace(' ');
        else if (c.byte)
            out_.addChar(c.byte);
    }
    out_.addChar(']');
}

// Script, style and title hold text, not markup, up to their end tag,
// which the next step reads as a tag.
void HtmlScanner::rawText(Tag tag) {
    const std::string_view endTag = tag == Tag::kScript  ? "</script"
                                    : tag == Tag::kStyle ? "</style"
                                                         : "</title";
    const size_t end = findCaseBlind(html_, pos_, endTag);
    const size_t stop = end == npos ? html_.size() : end;
    if (tag == Tag::kTitle && page_.title.empty()) collectTitle(html_.substr(pos_, stop - pos_));
    pos_ = stop;
}

void HtmlScanner::collectTitle(std::string_view raw) {
    std::string& title = page_.title;
    bool pendingBlank = false;
    for (size_t pos = 0; pos < raw.size() && title.size() < kMaxTitle;) {
        const TextChar c = nextTextChar(raw, pos, charset_);
        pos += c.size;
        if (c.space) {
            pendingBlank = true;
        } else if (c.byte) {
            if (pendingBlank && !title.empty()) title += ' ';
            pendingBlank = false;
            title += static_cast<char>(c.byte);
        }
    }
}

}  // namespace

PageText htmlToLines(std::string_view html, Charset charset) {
    PageText page;
    HtmlScanner(html, charset, page).run();
    return page;
}

}  // namespace ruva::filter
