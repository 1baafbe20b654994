// Lines of a PageText as strings for comparisons: bold runs between '*',
// a rule as "<hr>".
#pragma once

#include <string>
#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::test {

using filter::BoldRange;
using filter::LineKind;
using filter::LineSpan;
using filter::PageText;

inline bool isBoldAt(const PageText& page, uint32_t pos) {
    for (const BoldRange& r : page.bold) {
        if (r.start <= pos && pos < r.end) return true;
    }
    return false;
}

inline std::string dumpLine(const PageText& page, const LineSpan& line) {
    if (line.kind == LineKind::kRule) return "<hr>";
    std::string out;
    bool bold = false;
    for (uint32_t pos = line.start; pos < line.start + line.length; ++pos) {
        if (isBoldAt(page, pos) != bold) {
            out += '*';
            bold = !bold;
        }
        out += page.text[pos];
    }
    if (bold) out += '*';
    return out;
}

inline std::vector<std::string> dumpLines(const PageText& page, const std::vector<LineSpan>& lines) {
    std::vector<std::string> out;
    for (const LineSpan& line : lines) out.push_back(dumpLine(page, line));
    return out;
}

inline std::vector<std::string> dumpLines(const PageText& page) {
    return dumpLines(page, page.lines);
}

}  // namespace ruva::test
