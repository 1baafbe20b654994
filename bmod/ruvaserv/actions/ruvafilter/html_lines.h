// An HTML page as lines of text, for printing.
//
// One flat pass over the page, no recursion and no element stack, so depth
// and malformed markup cost nothing: script, style, comments, "<!...>",
// "<?...?>" and the head (but its title) are skipped; p, div, br, h1-h6,
// li, tr, table, pre, hr, dt, dd and blockquote end lines; pre keeps white
// space; h1-h3, b, strong and th are bold; li starts with "- ", table cells
// stand two blanks apart, hr is a rule, img shows its alt text as "[alt]".
// A tag, comment or raw-text element cut by the end of the page is dropped
// with the rest of it.
#pragma once

#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/charset.h"
#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::filter {

// The lines of html, decoded in charset; page.overflow when their text
// passes kMaxOutputBytes.
PageText htmlToLines(std::string_view html, Charset charset);

}  // namespace ruva::filter
