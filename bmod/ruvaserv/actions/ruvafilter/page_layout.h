// Where the print filter puts things on a page: Courier 9 pt with an
// advance of 5.4 pt, lines 11 pt apart, 36 pt margins, the title at the
// top, "Page n of N" at the bottom, and the lines that fit between them.
#pragma once

#include <vector>

#include "bmod/ruvaserv/actions/ruvafilter/filter_arguments.h"
#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::filter {

inline constexpr int kMargin = 36;
inline constexpr int kFontSize = 9;
inline constexpr int kLeading = 11;
inline constexpr int kAdvanceTenths = 54;  // Courier: 0.6 em

// All in points, y from the bottom of the page.
struct PageGeometry {
    int width;
    int height;
    int columns;    // (width - 2 margins) / 5.4, rounded down: 96 on A4, 100 on Letter
    int rows;       // body lines per page
    int headerY;    // baseline of the title
    int firstRowY;  // baseline of the first body line; each next one kLeading lower
    int footerY;    // baseline of "Page n of N"
};

PageGeometry pageGeometry(const PaperSize& paper);

// The printed lines of page at most columns wide (columns > 0): text lines
// broken at the last blank that lets the line fit, the blank dropped, a
// word longer than a line cut; preformatted lines cut every columns bytes;
// rules and lines that fit as they are. Spans of page.text, in order.
std::vector<LineSpan> wrapLines(const PageText& page, int columns);

}  // namespace ruva::filter
