// The print filter's PostScript: DSC 3.0 conforming, one self-contained
// page after another, every line at most kMaxPsLine bytes, nothing that
// changes from run to run (no date), so equal input gives equal output.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/filter_arguments.h"
#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::filter {

inline constexpr size_t kMaxPsLine = 255;

// bytes as a PostScript string literal, "(" to ")": '\', '(' and ')'
// escaped with '\', bytes below 0x20 and from 0x7F on as "\ooo".
void appendPsString(std::string& out, std::string_view bytes);

// The document for page on paper: the title at the top of every page in
// bold, the wrapped lines, "Page n of N" at the bottom; at least one page.
// None when page.overflow is set or the document would pass limit bytes.
std::optional<std::string> writePostScript(const PageText& page, const PaperSize& paper,
                                           size_t limit = kMaxOutputBytes);

}  // namespace ruva::filter
