#include "common/search_expr.h"

#include "common/text.h"

namespace ruva {

namespace {

// The text as the C buffer held it: up to a NUL, at most kSearchExprMax.
std::string_view workingText(std::string_view pattern) {
    pattern = pattern.substr(0, pattern.find('\0'));
    return pattern.substr(0, kSearchExprMax);
}

bool isSpace(char c) {
    return isAsciiSpace(static_cast<unsigned char>(c));
}

}  // namespace

std::string operatorPlusMinusSupport(std::string_view pattern) {
    const std::string_view in = workingText(pattern);
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (i == 0 && (c == '+' || c == '|' || c == '-' || c == '&')) continue;
        // "After white space" looks at the input, so a '!' made a blank does
        // not turn the '-' after it into an operator.
        const bool afterSpace = i > 0 && isSpace(in[i - 1]);
        if (c == '!') {
            c = ' ';
        } else if (c == '+' && afterSpace) {
            c = '&';
        } else if (c == '-' && afterSpace) {
            c = '!';
        }
        out += c;
    }
    return out;
}

std::string paranthesisPattern(std::string_view pattern, bool* truncated) {
    if (truncated) *truncated = false;
    const std::string_view in = workingText(pattern);
    std::string out;
    out.reserve(in.size() + 16);
    size_t opened = 0;
    for (size_t i = 0; i < in.size();) {
        if (isSpace(in[i])) {
            size_t end = i;
            while (end < in.size() && isSpace(in[end])) ++end;
            const bool dropped = i == 0 || end == in.size() || in[i - 1] == '&' || in[i - 1] == '!';
            if (!dropped) out += ' ';
            i = end;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (isAsciiAlnum(c) || c == '(') {
            // A kept blank always has a character before it in out.
            const bool afterBlank = !out.empty() && out.back() == ' ' && out[out.size() - 2] != '|';
            const bool afterAnd = !out.empty() && out.back() == '&';
            if (afterBlank || afterAnd) {
                out += '(';
                ++opened;
            }
        }
        out += in[i];
        ++i;
    }
    if (out.size() + opened > kSearchExprMax) {
        if (truncated) *truncated = true;
        return std::string(in);
    }
    out.append(opened, ')');
    return out;
}

}  // namespace ruva
