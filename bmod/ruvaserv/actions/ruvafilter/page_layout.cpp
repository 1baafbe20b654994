#include "bmod/ruvaserv/actions/ruvafilter/page_layout.h"

#include <algorithm>

namespace ruva::filter {

namespace {

void wrapText(const std::string& text, LineSpan span, uint32_t columns, std::vector<LineSpan>& out) {
    uint32_t pos = span.start;
    const uint32_t end = span.start + span.length;
    while (end - pos > columns) {
        // A blank at pos + columns still lets the first columns bytes fit.
        uint32_t blank = pos + columns;
        while (blank > pos && text[blank] != ' ') --blank;
        uint32_t next;
        if (blank > pos) {
            next = blank + 1;
        } else {
            blank = next = pos + columns;  // one word wider than the line
        }
        while (blank > pos && text[blank - 1] == ' ') --blank;
        out.push_back({pos, blank - pos, LineKind::kText});
        while (next < end && text[next] == ' ') ++next;
        pos = next;
    }
    out.push_back({pos, end - pos, LineKind::kText});
}

}  // namespace

PageGeometry pageGeometry(const PaperSize& paper) {
    PageGeometry g{};
    g.width = paper.width;
    g.height = paper.height;
    g.columns = (paper.width - 2 * kMargin) * 10 / kAdvanceTenths;
    g.headerY = paper.height - kMargin - kFontSize;
    g.firstRowY = g.headerY - 2 * kLeading;  // a blank line below the title
    g.footerY = kMargin;
    const int lowestRowY = g.footerY + 2 * kLeading;  // and one above the footer
    g.rows = (g.firstRowY - lowestRowY) / kLeading + 1;
    return g;
}

std::vector<LineSpan> wrapLines(const PageText& page, int columns) {
    const auto width = static_cast<uint32_t>(columns);
    std::vector<LineSpan> out;
    out.reserve(page.lines.size());
    for (const LineSpan& line : page.lines) {
        if (line.length <= width || line.kind == LineKind::kRule) {
            out.push_back(line);
        } else if (line.kind == LineKind::kPre) {
            for (uint32_t at = 0; at < line.length; at += width)
                out.push_back({line.start + at, std::min(width, line.length - at), LineKind::kPre});
        } else {
            wrapText(page.text, line, width, out);
        }
    }
    return out;
}

}  // namespace ruva::filter
