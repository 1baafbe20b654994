// The print filter as a whole: arguments, the page read, PostScript made
// in memory and written only when all of it was made, so a caller never
// sees part of a document. No network, no locale: the C locale's
// formatting is what the PostScript needs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/filter_arguments.h"

namespace ruva::filter {

// The PostScript for an HTML page on paper, its charset as it declares;
// none when it would pass kMaxOutputBytes.
std::optional<std::string> pageToPostScript(std::string_view html, const PaperSize& paper);

// Runs the filter for argv: an ExitCode. Reasons go to stderr, one line
// each; the output gets nothing unless the result is kExitOk.
int runFilter(int argc, const char* const* argv);

}  // namespace ruva::filter
