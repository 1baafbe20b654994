#include "bmod/ruvaserv/search/pattern_display.h"

#include "common/eucjp.h"
#include "common/html_escape.h"

namespace ruva {

namespace {

constexpr size_t kNone = std::string::npos;

bool isWildcard(char c) {
    return c == '*' || c == '?';
}

bool isOperatorChar(char c) {
    return c == '&' || c == '|' || c == '!';
}

}  // namespace

std::string filterPattern(std::string_view srcpat) {
    std::string out;
    out.reserve(srcpat.size() * 4);
    // Where the text of an operator that is the previous character begins;
    // a wildcard next to it takes exactly that text back.
    size_t opStart = kNone;
    bool blankDue = false;
    for (size_t i = 0; i < srcpat.size(); ++i) {
        const char c = srcpat[i];
        const bool atEnd = i + 1 == srcpat.size();
        if (isWildcard(c)) {
            // A leading wildcard has no operator before it to take back.
            const char next = atEnd ? '\0' : srcpat[i + 1];
            if (opStart != kNone && (atEnd || next == ' ' || next == '|' || next == '!')) {
                out.resize(opStart);
                blankDue = false;
            }
            opStart = kNone;
            continue;
        }
        if (blankDue && c != '|' && c != '!') {
            out += ' ';
            blankDue = false;
        }
        if (isOperatorChar(c)) {
            opStart = out.size();
            out += c == '|' ? " or" : c == '!' ? " not" : "&";
            blankDue = c != '&';
            continue;
        }
        opStart = kNone;
        out += c;
    }
    return out;
}

namespace {

// dispSearchPattern's writer: pieces go in whole or not at all, so the cut
// never splits a character, an entity or a tag.
class BoldPattern {
public:
    BoldPattern() : out_("<b>") {}

    bool full() const { return full_; }
    // The operator's text, bold closed before it.
    void operatorWord(const char* word) {
        const size_t start = out_.size();
        if (!put(std::string("</b> ") + word)) return;
        opStart_ = start;
        boldDue_ = true;
    }
    // The last operator taken back: its operand was a bare wildcard.
    void takeBackOperator() {
        out_.resize(opStart_);
        opStart_ = kNone;
        boldDue_ = false;
    }
    bool afterOperator() const { return opStart_ != kNone; }
    void text(std::string_view character) {
        std::string piece = boldDue_ ? " <b>" : "";
        appendHtmlKeepEntities(piece, character, false);
        if (!put(piece)) return;
        opStart_ = kNone;
        boldDue_ = false;
    }
    std::string finish() { return out_ + "</b>"; }

private:
    bool put(const std::string& piece) {
        if (full_ || out_.size() + piece.size() > kDispPatternMax) {
            full_ = true;
            return false;
        }
        out_ += piece;
        return true;
    }

    std::string out_;
    size_t opStart_ = kNone;
    bool boldDue_ = false;
    bool full_ = false;
};

// The operator at pos of a pattern whose parentheses are left out: its
// word and the characters it takes, or null. '&', '|' and '!' count only
// after the start; a blank before '-' is "not".
const char* operatorAt(std::string_view s, size_t pos, size_t* length) {
    if (pos >= s.size()) return nullptr;
    *length = 1;
    switch (s[pos]) {
        case '&':
            return pos > 0 ? "and" : nullptr;
        case '|':
            return pos > 0 ? "or" : nullptr;
        case '!':
            return pos > 0 ? "not" : nullptr;
        case ' ':
            *length = 2;
            return pos + 1 < s.size() && s[pos + 1] == '-' ? "not" : nullptr;
        default:
            return nullptr;
    }
}

}  // namespace

std::string dispSearchPattern(std::string_view srcpat) {
    // Parentheses are not shown, so they neither separate a wildcard from
    // an operator nor make it the last character.
    std::string src;
    src.reserve(srcpat.size());
    for (const char c : srcpat) {
        if (c != '(' && c != ')') src += c;
    }
    BoldPattern out;
    size_t length = 0;
    for (size_t i = 0; i < src.size() && !out.full();) {
        if (const char* word = operatorAt(src, i, &length)) {
            out.operatorWord(word);
            i += length;
            continue;
        }
        if (isWildcard(src[i])) {
            const bool atEnd = i + 1 == src.size();
            if (i == 0 && operatorAt(src, 1, &length)) {
                ++i;
                continue;
            }
            if (out.afterOperator() && (atEnd || operatorAt(src, i + 1, &length))) {
                out.takeBackOperator();
                ++i;
                continue;
            }
        }
        // A two-byte EUC-JP character is shown whole or not at all.
        const size_t next = static_cast<size_t>(eucsinc(src.c_str() + i) - src.c_str());
        out.text(std::string_view(src).substr(i, next - i));
        i = next;
    }
    return out.finish();
}

}  // namespace ruva
