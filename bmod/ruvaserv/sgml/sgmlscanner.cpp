#include "bmod/ruvaserv/sgml/sgmlscanner.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "common/html_escape.h"
#include "common/mapped_file.h"
#include "common/text.h"
#include "common/text_view.h"
#include "common/tokens.h"

namespace ruva {

// The scanner reads one token per parseStatement. States and their exits:
//   FREETEXT  -> TAGNAME at "<" that opens a tag, SCANNAME at "]" closing a
//                subset, FREETEXT after "]]>" or a short tag's "/", EOF
//   TAGNAME   -> COMMENT ("!--"), DECLNAME ("!name"), SCANNAME, FREETEXT (">")
//   SCANNAME  -> ATTRNAME, ATTRVALUE ("="), COMMENT ("--"), FREETEXT, TAGNAME
//   ATTRNAME  -> ATTRVALUE, SCANNAME, FREETEXT, TAGNAME
//   DECLNAME  -> DECLTYPE -> DECLID -> DECLID ..., each may close at ">"
// Every look-ahead checks inc first: a mapped file has no NUL after it.
// Offsets in messages count the bytes read, the offending one included.

namespace {

constexpr unsigned char kQuote = '"';
constexpr unsigned char kApostrophe = '\'';

bool isBlank(unsigned char b) { return b <= 32; }
bool isDelimiter(unsigned char b) { return b == '<' || b == '=' || b == '>'; }
bool isLetter(unsigned char b) { return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'); }

bool equalsCaseBlind(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsCaseBlindAt(a, 0, b);
}

// Tags recognised inside PREFORM literal content, matched by prefix.
constexpr std::string_view kPreformTags[] = {"DEFAULT", "EMPH",  "GRAPHICS", "LITERAL", "PREFORM",
                                             "QUOTE",   "SUBS",  "SUPS",     "XREF"};
// Document identifiers under which PREFORM is literal; the blank is part of
// the prefix.
constexpr std::string_view kPreformDtds[] = {"-//VANDROVE//DTD XTAVR ", "-//VANDROVE//DTD HOB ",
                                             "-//VANDROVE//DTD TAVR Uja"};

// Cursor steps over the input, bounded by inc.
struct Input {
    SgmlScanner& ss;
    bool more() const { return ss.inc > 0; }
    bool has(ptrdiff_t n) const { return ss.inc >= n; }
    unsigned char at(ptrdiff_t k) const { return ss.inp[k]; }
    void skip(ptrdiff_t n) {
        ss.inp += n;
        ss.inc -= n;
    }
    std::string_view rest() const {
        return {reinterpret_cast<const char*>(ss.inp), static_cast<size_t>(ss.inc)};
    }
    unsigned long offset() const { return static_cast<unsigned long>(ss.indataSize - static_cast<size_t>(ss.inc)); }
};

std::string escaped(const std::string& text) { return htmlEscaped(text); }

bool inProcessingInstruction(const SgmlScanner& ss) { return !ss.tagName.empty() && ss.tagName[0] == '?'; }
bool inDeclaration(const SgmlScanner& ss) { return !ss.tagName.empty() && ss.tagName[0] == '!'; }
bool inMarkedDeclaration(const SgmlScanner& ss) { return ss.tagName.rfind("![", 0) == 0; }

void setLiteral(SgmlScanner& ss, const char* endString) {
    ss.flags |= kScanLiteral;
    ss.endMarkedString = endString;
}

void endLiteral(SgmlScanner& ss) {
    ss.flags &= static_cast<uint16_t>(~kScanLiteral);
    ss.endMarkedString.clear();
}

// Whether the ended tag name turns literal content on.
void checkLiteralElement(SgmlScanner& ss) {
    const std::string& name = ss.tagName;
    if (equalsCaseBlind(name, "CODE") && ss.docType == "VARA") {
        setLiteral(ss, "</CODE");
    } else if (equalsCaseBlind(name, "ASIS")) {
        setLiteral(ss, "</ASIS");
    } else if (equalsCaseBlind(name, "PREFORM")) {
        for (std::string_view dtd : kPreformDtds) {
            if (ss.docId.rfind(dtd, 0) == 0) {
                setLiteral(ss, "</PREFORM");
                break;
            }
        }
    }
}

// At "<" in literal mode: only PREFORM content admits its inline tags and
// processing instructions; an end tag beginning "p" also ends literal mode.
bool tagAllowed(SgmlScanner& ss) {
    if (!equalsCaseBlind(ss.endMarkedString, "</PREFORM")) return false;
    Input in{ss};
    std::string_view rest = in.rest();
    if (startsAt(rest, 1, "?")) return true;
    bool endTag = startsAt(rest, 1, "/");
    size_t nameAt = endTag ? 2 : 1;
    for (std::string_view tag : kPreformTags) {
        if (!startsCaseBlindAt(rest, nameAt, tag)) continue;
        if (endTag && asciiLower(in.at(static_cast<ptrdiff_t>(nameAt))) == 'p') endLiteral(ss);
        return true;
    }
    return false;
}

// Whether free text now ends with the literal end string (case-blind).
bool endsWithEndString(const SgmlScanner& ss) {
    const std::string& end = ss.endMarkedString;
    const std::string& text = ss.freeText;
    return text.size() >= end.size() && equalsCaseBlind(std::string_view(text).substr(text.size() - end.size()), end);
}

// Entering an attribute value: blanks skipped, an opening quote noted
// before the value's token begins.
void enterValue(SgmlScanner& ss) {
    Input in{ss};
    while (in.more() && isBlank(in.at(0))) in.skip(1);
    if (in.more() && (in.at(0) == kQuote || in.at(0) == kApostrophe)) {
        ss.flags |= in.at(0) == kQuote ? kScanQuoted : (kScanQuoted | kScanApostrophe);
        in.skip(1);
    }
    ss.scanState = SPS_TAGATTRVALUE;
}

// Entering a declaration part. After an identifier "<", "=" and 0x80-0xFE
// are skipped with the blanks; ">" closes the declaration onto the node
// before; "-", "[" and "]" before an identifier go to state 4.
void enterDeclPart(SgmlScanner& ss, SgmlParserState next, bool afterId) {
    Input in{ss};
    while (in.more()) {
        unsigned char b = in.at(0);
        if (!(isBlank(b) || (afterId && (b == '<' || b == '=' || (b >= 0x80 && b <= 0xFE))))) break;
        in.skip(1);
    }
    if (!in.more()) {
        ss.scanState = SPS_EOF;
        return;
    }
    unsigned char b = in.at(0);
    if (b == '>') {
        in.skip(1);
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_FREETEXT;
        return;
    }
    if (next == SPS_DECLID && (b == '-' || b == '[' || b == ']')) {
        ss.scanState = SPS_TAGATTRSCANNAME;
        return;
    }
    if (b == kQuote || b == kApostrophe) {
        ss.flags |= b == kQuote ? kScanQuoted : (kScanQuoted | kScanApostrophe);
        in.skip(1);
    }
    ss.scanState = next;
}

SgmlParserState fail(SgmlScanner& ss) {
    ss.scanState = SPS_ERROR;
    return SPS_ERROR;
}

SgmlParserState atEnd(SgmlScanner& ss, SgmlParserState token) {
    ss.scanState = SPS_EOF;
    return token;
}

SgmlParserState scanFreeText(SgmlScanner& ss) {
    Input in{ss};
    ss.freeText.clear();
    while (in.more()) {
        unsigned char b = in.at(0);
        if (b == '<') {
            if (in.has(2)) {
                unsigned char c = in.at(1);
                bool opens = c == '!' || c == '/' || c == '?' || isLetter(c);
                if (opens && (!(ss.flags & kScanLiteral) || tagAllowed(ss))) {
                    ss.tagch0 = !ss.tagName.empty() && isLetter(ss.tagName[0]) ? ss.tagName[0] : 0;
                    in.skip(1);
                    ss.scanState = SPS_TAGNAME;
                    return SPS_FREETEXT;
                }
            }
        } else if (b == '/' && (ss.flags & kScanShortTagOpen)) {
            // The "/" ends the short tag's content and is consumed; free
            // text goes on after the end-tag node.
            in.skip(1);
            ss.flags |= kScanShortTagEnd;
            ss.scanState = SPS_FREETEXT;
            return SPS_FREETEXT;
        } else if (b == ']' && ss.tagDepthLevel > 0) {
            if (!(ss.flags & kScanMarkedSection)) {
                in.skip(1);
                --ss.tagDepthLevel;
                ss.scanState = SPS_TAGATTRSCANNAME;
                return SPS_FREETEXT;
            }
            if (in.has(3) && in.at(1) == ']' && in.at(2) == '>') {
                in.skip(3);
                ss.tagDepthLevel = ss.tagDepthLevel >= 2 ? ss.tagDepthLevel - 2 : 0;
                ss.flags &= static_cast<uint16_t>(~(kScanMarkedSection | kScanLiteral));
                ss.flags |= kScanTagClosed;
                ss.scanState = SPS_FREETEXT;
                return SPS_FREETEXT;
            }
        } else if (b == '\r') {
            in.skip(1);
            continue;
        } else if (!(ss.flags & kScanLiteral) || ss.endMarkedString.empty()) {
            // Plain run up to the next byte that may end the text.
            ptrdiff_t n = 1;
            while (n < ss.inc) {
                unsigned char c = in.at(n);
                if (c == '<' || c == '/' || c == ']' || c == '\r') break;
                ++n;
            }
            ss.freeText.append(reinterpret_cast<const char*>(ss.inp), static_cast<size_t>(n));
            in.skip(n);
            continue;
        }
        ss.freeText.push_back(static_cast<char>(b));
        in.skip(1);
        if ((ss.flags & kScanLiteral) && !ss.endMarkedString.empty() && endsWithEndString(ss)) {
            // Back onto the end string's "/": the end tag scans as a tag.
            size_t len = ss.endMarkedString.size();
            ss.freeText.resize(ss.freeText.size() - len);
            in.skip(-static_cast<ptrdiff_t>(len - 1));
            endLiteral(ss);
            ss.scanState = SPS_TAGNAME;
            return SPS_FREETEXT;
        }
    }
    return atEnd(ss, SPS_FREETEXT);
}

// After "<name/": "<name/>" is an empty element, "<name/" opens a short
// tag whose content runs to the next "/".
SgmlParserState endShortTag(SgmlScanner& ss) {
    Input in{ss};
    in.skip(1);
    ss.shortRefTag = ss.tagName;
    checkLiteralElement(ss);
    ss.flags |= kScanTagClosed;
    ss.scanState = SPS_FREETEXT;
    if (in.more() && in.at(0) == '>') {
        in.skip(1);
        return SPS_SHORTTAGNAME;
    }
    ss.flags |= kScanShortTagOpen;
    return SPS_TAGNAME;
}

SgmlParserState scanTagName(SgmlScanner& ss) {
    Input in{ss};
    std::string previous = std::move(ss.tagName);
    ss.tagName.clear();
    ss.tagAttrCount = 0;
    std::string_view rest = in.rest();
    if (startsAt(rest, 0, "!--")) {
        in.skip(3);
        ss.tagName = "!--";
        ss.scanState = SPS_COMMENT;
        return SPS_TAGNAME;
    }
    // "<![" ends the name, so "<![CDATA[" reads as "<![ CDATA [".
    if (startsAt(rest, 0, "![")) {
        in.skip(2);
        ss.tagName = "![";
        enterDeclPart(ss, SPS_DECLNAME, false);
        return SPS_TAGNAME;
    }
    while (in.more()) {
        unsigned char b = in.at(0);
        if (b == '/' && !ss.tagName.empty()) return endShortTag(ss);
        if (isBlank(b) || isDelimiter(b)) break;
        if (ss.tagName.size() == kSgmlNameMax) {
            ss.setError(SgmlScanner::msg(318, "sgmlscanner/4"), escaped(ss.tagName), static_cast<int>(kSgmlNameMax));
            return fail(ss);
        }
        ss.tagName.push_back(static_cast<char>(b));
        in.skip(1);
    }
    if (!in.more()) {
        checkLiteralElement(ss);
        return atEnd(ss, SPS_TAGNAME);
    }
    unsigned char b = in.at(0);
    in.skip(1);
    if (b == '>') {
        if (ss.tagName.empty()) ss.tagName = std::move(previous);
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_FREETEXT;
    } else if (b == '<') {
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_TAGNAME;
    } else if (inDeclaration(ss)) {
        enterDeclPart(ss, SPS_DECLNAME, false);
    } else {
        ss.scanState = SPS_TAGATTRSCANNAME;
    }
    checkLiteralElement(ss);
    return SPS_TAGNAME;
}

// Limits and messages of one declaration part, quoted and unquoted.
struct DeclPart {
    std::string SgmlScanner::*buffer;
    int quotedMsg;
    const char* quotedTag;
    int bareMsg;
    const char* bareTag;
};

const DeclPart& declPart(SgmlParserState state) {
    static const DeclPart kName{&SgmlScanner::declName, 323, "sgmlscanner/9", 324, "sgmlscanner/10"};
    static const DeclPart kType{&SgmlScanner::declType, 325, "sgmlscanner/11", 326, "sgmlscanner/12"};
    static const DeclPart kId{&SgmlScanner::declId, 327, "sgmlscanner/13", 328, "sgmlscanner/14"};
    return state == SPS_DECLNAME ? kName : state == SPS_DECLTYPE ? kType : kId;
}

// "[" opening a type: a marked section in "<![", else an internal subset.
SgmlParserState openSection(SgmlScanner& ss) {
    Input in{ss};
    in.skip(1);
    if (inMarkedDeclaration(ss)) {
        ss.tagDepthLevel = static_cast<uint8_t>(ss.tagDepthLevel + 2);
        ss.flags |= kScanMarkedSection;
        if (equalsCaseBlind(ss.declName, "CDATA") || equalsCaseBlind(ss.expMacro, "CDATA")) setLiteral(ss, "");
    } else {
        ss.tagDepthLevel = static_cast<uint8_t>(ss.tagDepthLevel + 1);
    }
    ss.scanState = SPS_FREETEXT;
    return SPS_DECLTYPE;
}

// What a finished part sets, and the part entered after it.
void endDeclPart(SgmlScanner& ss, SgmlParserState state, bool quoted) {
    bool doctype = equalsCaseBlind(ss.tagName, "!DOCTYPE");
    if (state == SPS_DECLNAME && doctype) {
        ss.docType = ss.declName.substr(0, kSgmlShortTextMax);
        lstrupr(ss.docType.data());
    }
    if (state == SPS_DECLID && doctype && quoted) ss.docId = ss.declId.substr(0, kSgmlShortTextMax);
    if (ss.scanState != SPS_FREETEXT) enterDeclPart(ss, state == SPS_DECLNAME ? SPS_DECLTYPE : SPS_DECLID, state == SPS_DECLID);
}

SgmlParserState scanDeclPart(SgmlScanner& ss, SgmlParserState state) {
    Input in{ss};
    const DeclPart& part = declPart(state);
    std::string& buf = ss.*part.buffer;
    buf.clear();
    bool quoted = ss.flags & kScanQuoted;
    if (state == SPS_DECLTYPE && !quoted && in.more() && in.at(0) == '[') return openSection(ss);
    unsigned char quote = (ss.flags & kScanApostrophe) ? kApostrophe : kQuote;
    bool bracketEnds = state == SPS_DECLNAME && inMarkedDeclaration(ss);
    ss.scanState = state;
    while (in.more()) {
        unsigned char b = in.at(0);
        if (quoted) {
            in.skip(1);
            if (b == quote) break;
            if (b == '\n') continue;
        } else {
            if (isBlank(b) || isDelimiter(b) || (bracketEnds && b == '[')) break;
            in.skip(1);
        }
        if (buf.size() == kSgmlDeclPartMax) {
            int index = quoted ? part.quotedMsg : part.bareMsg;
            ss.setError(SgmlScanner::msg(index, quoted ? part.quotedTag : part.bareTag), escaped(ss.tagName),
                        in.offset(), static_cast<int>(kSgmlDeclPartMax));
            return fail(ss);
        }
        buf.push_back(static_cast<char>(b));
    }
    ss.flags &= static_cast<uint16_t>(~(kScanQuoted | kScanHasValue | kScanApostrophe));
    if (!in.more()) {
        endDeclPart(ss, state, quoted);
        return atEnd(ss, state);
    }
    if (!quoted && in.at(0) == '>') {
        in.skip(1);
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_FREETEXT;
    }
    endDeclPart(ss, state, quoted);
    return state;
}

// An attribute of a processing instruction past the fifteenth is read and
// dropped: its tokens come back as state 4, which makes no node.
bool attrDropped(const SgmlScanner& ss) { return ss.tagAttrCount > kSgmlAttrMax; }

SgmlParserState scanAttrName(SgmlScanner& ss) {
    Input in{ss};
    bool pi = inProcessingInstruction(ss);
    if (++ss.tagAttrCount > kSgmlAttrMax && !pi) {
        ss.setError(SgmlScanner::msg(319, "sgmlscanner/5"), escaped(ss.tagName), in.offset() + 1, kSgmlAttrMax);
        return fail(ss);
    }
    std::string dropped;
    std::string& name = attrDropped(ss) ? dropped : ss.tagAttrNames[ss.tagAttrCount - 1];
    name.clear();
    if (!attrDropped(ss)) ss.tagAttrValues[ss.tagAttrCount - 1].clear();
    while (in.more() && !isBlank(in.at(0)) && !isDelimiter(in.at(0))) {
        in.skip(1);
        if (name.size() == kSgmlNameMax) {
            if (pi) continue;  // a long name in a processing instruction is cut
            ss.setError(SgmlScanner::msg(320, "sgmlscanner/6"), escaped(name), in.offset(),
                        static_cast<int>(kSgmlNameMax));
            return fail(ss);
        }
        name.push_back(static_cast<char>(in.at(-1)));
    }
    SgmlParserState token = attrDropped(ss) ? SPS_TAGATTRSCANNAME : SPS_TAGATTRNAME;
    if (!in.more()) return atEnd(ss, token);
    unsigned char b = in.at(0);
    in.skip(1);
    if (b == '>') {
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_FREETEXT;
    } else if (b == '<') {
        ss.flags |= kScanTagClosed;
        ss.scanState = SPS_TAGNAME;
    } else if (b == '=') {
        ss.flags |= kScanHasValue;
        enterValue(ss);
    } else {
        ss.flags &= static_cast<uint16_t>(~kScanHasValue);
        ss.scanState = SPS_TAGATTRSCANNAME;
    }
    return token;
}

SgmlParserState scanAttrValue(SgmlScanner& ss) {
    Input in{ss};
    std::string dropped;
    bool stored = ss.tagAttrCount > 0 && !attrDropped(ss);
    std::string& value = stored ? ss.tagAttrValues[ss.tagAttrCount - 1] : dropped;
    const std::string& name = stored ? ss.tagAttrNames[ss.tagAttrCount - 1] : dropped;
    value.clear();
    bool quoted = ss.flags & kScanQuoted;
    unsigned char quote = (ss.flags & kScanApostrophe) ? kApostrophe : kQuote;
    ss.scanState = SPS_TAGATTRSCANNAME;
    while (in.more()) {
        unsigned char b = in.at(0);
        if (quoted) {
            in.skip(1);
            if (b == quote) break;
            if (b == '\n') b = ' ';
            if (b < 32) continue;
        } else {
            if (isBlank(b)) break;
            if (b == '>' || b == '<') {
                in.skip(1);
                ss.flags |= kScanTagClosed;
                ss.scanState = b == '>' ? SPS_FREETEXT : SPS_TAGNAME;
                break;
            }
            in.skip(1);
        }
        if (value.size() == kSgmlValueMax) {
            ss.setError(SgmlScanner::msg(quoted ? 321 : 322, quoted ? "sgmlscanner/7" : "sgmlscanner/8"),
                        escaped(name), in.offset(), static_cast<int>(kSgmlValueMax));
            return fail(ss);
        }
        value.push_back(static_cast<char>(b));
    }
    ss.flags &= static_cast<uint16_t>(~(kScanQuoted | kScanHasValue | kScanApostrophe));
    SgmlParserState token = stored ? SPS_TAGATTRVALUE : SPS_TAGATTRSCANNAME;
    return in.more() || ss.scanState != SPS_TAGATTRSCANNAME ? token : atEnd(ss, token);
}

// Between attributes: closings, "=", subsets and declaration comments; any
// other byte begins an attribute name, read in the same call.
SgmlParserState scanBetweenAttrs(SgmlScanner& ss) {
    Input in{ss};
    while (in.more()) {
        unsigned char b = in.at(0);
        unsigned char next = in.has(2) ? in.at(1) : 0;
        SgmlParserState to = SPS_ERROR;
        if (b == '?' && next == '>' && inProcessingInstruction(ss)) {
            in.skip(2);
            ss.flags |= kScanTagClosed;
            to = SPS_FREETEXT;
        } else if (b == '/' && next == '>') {
            in.skip(2);
            ss.flags |= kScanTagClosed | kScanEmptyTag;
            to = SPS_FREETEXT;
        } else if (b == '>' || b == '<') {
            in.skip(1);
            ss.flags |= kScanTagClosed;
            to = b == '>' ? SPS_FREETEXT : SPS_TAGNAME;
        } else if (b == '=') {
            in.skip(1);
            if (ss.tagAttrCount == 0) continue;
            ss.flags |= kScanHasValue;
            enterValue(ss);
            return SPS_TAGATTRSCANNAME;
        } else if (isBlank(b)) {
            in.skip(1);
            continue;
        } else if (b == ']' && ss.tagDepthLevel > 0) {
            in.skip(1);
            --ss.tagDepthLevel;
            to = SPS_TAGATTRSCANNAME;
        } else if (b == '[' && !inProcessingInstruction(ss)) {
            in.skip(1);
            ++ss.tagDepthLevel;
            to = SPS_FREETEXT;
        } else if (b == '-' && next == '-' && inDeclaration(ss)) {
            in.skip(2);
            to = SPS_COMMENT;
        } else {
            return scanAttrName(ss);
        }
        ss.scanState = to;
        return SPS_TAGATTRSCANNAME;
    }
    return atEnd(ss, SPS_TAGATTRSCANNAME);
}

// A comment over the limit is cut, the rest skipped to its "--"; the
// message stays set but the scan goes on.
SgmlParserState scanComment(SgmlScanner& ss) {
    Input in{ss};
    ss.comment.clear();
    bool over = false;
    while (in.more()) {
        if (in.has(2) && in.at(0) == '-' && in.at(1) == '-') {
            in.skip(2);
            ss.scanState = SPS_TAGATTRSCANNAME;
            return SPS_COMMENT;
        }
        in.skip(1);
        if (ss.comment.size() == kSgmlCommentMax) {
            if (!over) {
                ss.setError(SgmlScanner::msg(317, "sgmlscanner/3"), in.offset(), static_cast<int>(kSgmlCommentMax));
                over = true;
            }
            continue;
        }
        ss.comment.push_back(static_cast<char>(in.at(-1)));
    }
    return atEnd(ss, SPS_COMMENT);
}

}  // namespace

SgmlScanner::~SgmlScanner() {
    closeInput();
    freeParentNodes();
}

void SgmlScanner::closeInput() {
    if (mapped_) {
        char* data = reinterpret_cast<char*>(const_cast<unsigned char*>(indata));
        unmapFile(&data, &indataSize);
        mapped_ = false;
    }
    indata = inp = nullptr;
    indataSize = 0;
    inc = 0;
    setError(nullptr);
    freeText = std::string();
    freeText.reserve(kSgmlFreeTextInitial - 1);
    freeEntityList(0);
}

int SgmlScanner::registerInput(const void* data, size_t size) {
    if (!data || size == 0) {
        setError(msg(315, "sgmlscanner/1"));
        return 0;
    }
    if (indata) closeInput();
    indata = static_cast<const unsigned char*>(data);
    indataSize = size;
    flags |= kScanMemoryInput;
    return initInput();
}

int SgmlScanner::setInput(const char* path) {
    if (indata) closeInput();
    char* data = nullptr;
    size_t size = 0;
    if (!mapFile(path, &data, &size)) {
        int err = errno;
        setError(msg(316, "sgmlscanner/2"), std::strerror(err), htmlEscaped(path ? path : ""));
        return 0;
    }
    indata = reinterpret_cast<const unsigned char*>(data);
    indataSize = size;
    mapped_ = true;
    flags &= static_cast<uint16_t>(~kScanMemoryInput);
    return initInput();
}

// Everything one input leaves behind is cleared, so PREFORM or an open
// ASIS of one document does not change how the next one scans.
int SgmlScanner::initInput() {
    inp = indata;
    inc = static_cast<ptrdiff_t>(indataSize);
    scanState = SPS_FREETEXT;
    pLen = 0;
    tagAttrCount = 0;
    tagDepthLevel = 0;
    currentLevel = 0;
    tagch0 = 0;
    flags &= kScanMemoryInput | kScanFixedLists;
    oldflags = flags;
    for (std::string* s : {&freeText, &tagName, &comment, &declName, &declType, &declId, &docType, &docId,
                           &endMarkedString, &expMacro, &shortRefTag})
        s->clear();
    freeParentNodes();
    setError(nullptr);
    return 1;
}

SgmlParserState SgmlScanner::parseStatement() {
    oldflags = flags;
    pLen = 0;
    switch (scanState) {
    case SPS_FREETEXT: return scanFreeText(*this);
    case SPS_TAGNAME: return scanTagName(*this);
    case SPS_TAGATTRSCANNAME: return scanBetweenAttrs(*this);
    case SPS_TAGATTRNAME: return scanAttrName(*this);
    case SPS_TAGATTRVALUE: return scanAttrValue(*this);
    case SPS_COMMENT: return scanComment(*this);
    case SPS_DECLNAME:
    case SPS_DECLTYPE:
    case SPS_DECLID: return scanDeclPart(*this, scanState);
    case SPS_EOF: return SPS_EOF;
    default: return SPS_ERROR;
    }
}

namespace {

// Empties the list after a failed scan; a loop, as chains can be long.
void emptyList(SgmlScanner& ss, SgmlNodeList* list) {
    SgmlNode* node = list->firstNode;
    while (node) {
        SgmlNode* next = node->next;
        ss.freeSgmlNode(list, node);
        node = next;
    }
    list->firstNode = list->lastNode = nullptr;
}

// Recognises "<!ENTITY % name text" from the node sequence, so a
// declaration is never lost however the list grows in between.
class EntityDeclaration {
public:
    // The entity's name and raw text when node completes a declaration.
    bool complete(const SgmlNode* node, const std::string& rawId, std::string* name, std::string* text) {
        const char* value = node->text() ? node->text() : "";
        int expected = step_;
        step_ = 0;
        if (node->state == SPS_TAGNAME && equalsCaseBlind(value, "!ENTITY")) {
            step_ = 1;
        } else if (expected == 1 && node->state == SPS_DECLNAME && std::strcmp(value, "%") == 0) {
            step_ = 2;
        } else if (expected == 2 && node->state == SPS_DECLTYPE) {
            name_ = value;
            step_ = 3;
        } else if (expected == 3 && node->state == SPS_DECLID) {
            *name = name_;
            *text = rawId;
            return true;
        }
        return false;
    }

private:
    int step_ = 0;
    std::string name_;
};

// One token: its node's state and value; false with 335, 336 or 337 set
// for a token that cannot make one.
bool tokenNode(SgmlScanner& ss, SgmlParserState state, SgmlParserState* nodeState, const std::string** value) {
    *nodeState = state == SPS_SHORTTAGNAME ? SPS_TAGNAME : state;
    switch (state) {
    case SPS_FREETEXT: *value = &ss.freeText; return true;
    case SPS_TAGNAME:
    case SPS_SHORTTAGNAME: *value = &ss.tagName; return true;
    case SPS_COMMENT: *value = &ss.comment; return true;
    case SPS_DECLNAME: *value = &ss.declName; return true;
    case SPS_DECLTYPE: *value = &ss.declType; return true;
    case SPS_DECLID: *value = &ss.declId; return true;
    case SPS_TAGATTRNAME:
    case SPS_TAGATTRVALUE:
        if (ss.tagAttrCount == 0) {
            ss.setError(SgmlScanner::msg(state == SPS_TAGATTRNAME ? 335 : 336,
                                         state == SPS_TAGATTRNAME ? "sgmlscanner/21" : "sgmlscanner/22"),
                        htmlEscaped(ss.tagName));
            return false;
        }
        *value = state == SPS_TAGATTRNAME ? &ss.tagAttrNames[ss.tagAttrCount - 1]
                                          : &ss.tagAttrValues[ss.tagAttrCount - 1];
        return true;
    default:
        ss.setError(SgmlScanner::msg(337, "sgmlscanner/23"), static_cast<int>(state));
        return false;
    }
}

constexpr uint16_t kNodeScanFlags = kScanQuoted | kScanHasValue | kScanApostrophe | kScanMarkedSection;
constexpr uint16_t kMovedFlags = kScanTagClosed | kScanEmptyTag;

// Appends a node at the level its token began; 0x0010 where the level
// changes. 334 when the list is full.
SgmlNode* addNode(SgmlScanner& ss, SgmlNodeList* list, SgmlParserState state, const char* value, uint8_t level,
                  uint16_t nodeFlags) {
    SgmlNode* prev = list->lastNode;
    ss.currentLevel = level;
    SgmlNode* node = ss.appendSgmlNode(list, state, value);
    if (!node) {
        unsigned long used = list->pool ? static_cast<unsigned long>(list->pool->usedItems) : 0;
        ss.setError(SgmlScanner::msg(334, "sgmlscanner/20"), used, static_cast<unsigned long>(list->capacity));
        return nullptr;
    }
    node->flags = nodeFlags;
    if (prev && prev->level != level) node->flags |= kNodeLevelChange;
    return node;
}

// Replaces a node's value by its entity expansion; expMacro follows.
int expandNode(SgmlScanner& ss, SgmlNode* node) {
    std::optional<std::string> expanded;
    if (!ss.entities.empty() && node->text() && *node->text()) expanded = ss.expandTextEntities(node->text());
    if (!expanded) {
        ss.expMacro.clear();
        return 1;
    }
    std::unique_ptr<char[]> value(new (std::nothrow) char[expanded->size() + 1]);
    if (!value) {
        ss.setError(SgmlScanner::msg(345, "sgmlscanner/31"));
        return 0;
    }
    std::memcpy(value.get(), expanded->c_str(), expanded->size() + 1);
    node->value = std::move(value);
    ss.expMacro = expanded->substr(0, kSgmlShortTextMax);
    return 1;
}

// A token's node: declares an entity it completes, then expands it.
int tokenToNodes(SgmlScanner& ss, SgmlNodeList* list, EntityDeclaration& decl, SgmlParserState state, uint8_t level,
                 uint16_t nodeFlags) {
    SgmlParserState nodeState;
    const std::string* value;
    if (!tokenNode(ss, state, &nodeState, &value)) return 0;
    SgmlNode* node = addNode(ss, list, nodeState, value->c_str(), level, nodeFlags);
    if (!node) return 0;
    std::string name, text;
    if (decl.complete(node, ss.declId, &name, &text) && !ss.addEntity(name.c_str(), text.c_str(), 0)) return 0;
    if (!expandNode(ss, node)) return 0;
    bool shortEnd = state == SPS_SHORTTAGNAME || (state == SPS_FREETEXT && (ss.flags & kScanShortTagEnd));
    if (!shortEnd) return 1;
    ss.flags &= static_cast<uint16_t>(~(kScanShortTagOpen | kScanShortTagEnd));
    std::string endTag = "/" + ss.shortRefTag;
    node = addNode(ss, list, SPS_TAGNAME, endTag.c_str(), level, kNodeTagEnd);
    return node && expandNode(ss, node);
}

}  // namespace

int SgmlScanner::buildNodeList(SgmlNodeList* list) {
    if (!list || !list->pool) {
        setError(msg(329, "sgmlscanner/15"));
        return 0;
    }
    EntityDeclaration decl;
    for (;;) {
        uint8_t level = tagDepthLevel;
        SgmlParserState state = parseStatement();
        if (state == SPS_ERROR) break;
        uint16_t nodeFlags = (oldflags & kNodeScanFlags) | (flags & kMovedFlags);
        flags &= static_cast<uint16_t>(~kMovedFlags);
        if (state == SPS_EOF) {
            if (!addNode(*this, list, SPS_EOF, nullptr, level, nodeFlags & kMovedFlags)) break;
            return 1;
        }
        // An empty text is kept where it carries a subset's end or a short
        // tag's content; state 4 makes no node. Both hand their closing
        // flags to the node before.
        bool emptyText = state == SPS_FREETEXT && freeText.empty() && tagDepthLevel >= level &&
                         !(flags & (kScanShortTagOpen | kScanShortTagEnd));
        if (state == SPS_TAGATTRSCANNAME || emptyText) {
            if (list->lastNode) list->lastNode->flags |= nodeFlags & kMovedFlags;
            continue;
        }
        if (!tokenToNodes(*this, list, decl, state, level, nodeFlags)) break;
    }
    emptyList(*this, list);
    return 0;
}

int SgmlScanner::addEntity(const char* name, const char* value, uint16_t entityFlags) {
    ScannerEntity entity;
    entity.name = name ? name : "";
    entity.flags = entityFlags;
    if (value) {
        // getNextToken cuts in place: it gets a copy.
        std::vector<char> copy(value, value + std::strlen(value) + 1);
        char* cursor = copy.data();
        if (const char* word = getNextToken(&cursor)) entity.value = word;
    }
    entities.push_back(std::move(entity));
    return 1;
}

const ScannerEntity* SgmlScanner::findEntity(std::string_view name) const {
    for (const ScannerEntity& entity : entities) {
        if (entity.name == name) return &entity;
    }
    return nullptr;
}

// One pass: a replacement is not scanned again. Only "%name;" with its ";"
// counts, and a name over 32 characters is never looked up.
std::optional<std::string> SgmlScanner::expandTextEntities(std::string_view text) const {
    std::string out;
    bool replaced = false;
    size_t copied = 0;
    for (size_t pos = text.find('%'); pos != std::string_view::npos; pos = text.find('%', pos + 1)) {
        size_t end = pos + 1;
        while (end < text.size() && text[end] != ';' && !isBlank(static_cast<unsigned char>(text[end]))) ++end;
        if (end >= text.size() || text[end] != ';' || end - pos - 1 > kSgmlEntityNameMax) continue;
        const ScannerEntity* entity = findEntity(text.substr(pos + 1, end - pos - 1));
        if (!entity) continue;
        if (!replaced) out.reserve(text.size() * 2 + 128);
        out.append(text, copied, pos - copied);
        if (entity->value) out += *entity->value;
        copied = end + 1;
        replaced = true;
        pos = end;
    }
    if (!replaced) return std::nullopt;
    out.append(text, copied, std::string_view::npos);
    return out;
}

void SgmlScanner::freeEntityList(int all) {
    entities.remove_if([all](const ScannerEntity& e) { return all == 1 || !(e.flags & kEntityPermanent); });
}

std::unique_ptr<SgmlScanner> newSgmlScanner(uint16_t flags) {
    std::unique_ptr<SgmlScanner> ss(new (std::nothrow) SgmlScanner);
    if (!ss) return nullptr;
    ss->flags = flags;
    ss->oldflags = flags;
    ss->freeText.reserve(kSgmlFreeTextInitial - 1);
    return ss;
}

}  // namespace ruva
