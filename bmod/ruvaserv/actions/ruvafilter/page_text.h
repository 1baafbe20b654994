// The text of an HTML page as the print filter lays it out: the title and
// the page's lines, each a span of one shared text buffer. The text holds
// printable Latin-1 bytes only (0x20-0x7E, 0xA0-0xFF), one byte a column.
// Bold is kept as ranges of that buffer rather than a flag per byte, so a
// line can be cut anywhere without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ruva::filter {

// The largest page the filter reads.
inline constexpr size_t kMaxInputBytes = size_t{64} << 20;
// The most PostScript it writes, as much as the print action takes. Each
// byte of text prints as one byte at least, so the text stops there too,
// which also keeps offsets into it within 32 bits.
inline constexpr size_t kMaxOutputBytes = size_t{256} << 20;

enum class LineKind : uint8_t {
    kText,  // folded text: wrapped at blanks
    kPre,   // preformatted: white space kept, cut at the column limit
    kRule,  // a horizontal rule: dashes over the whole width, no text
};

// [start, start + length) of PageText::text.
struct LineSpan {
    uint32_t start = 0;
    uint32_t length = 0;
    LineKind kind = LineKind::kText;
};

// [start, end) of PageText::text is bold.
struct BoldRange {
    uint32_t start = 0;
    uint32_t end = 0;
};

struct PageText {
    std::string title;            // folded, printable bytes; "" when the page has none
    std::string text;             // every line's bytes, in line order
    std::vector<LineSpan> lines;  // in text order, not overlapping
    std::vector<BoldRange> bold;  // sorted, disjoint, none empty
    bool overflow = false;        // text past its limit was dropped: the page cannot be printed
};

}  // namespace ruva::filter
