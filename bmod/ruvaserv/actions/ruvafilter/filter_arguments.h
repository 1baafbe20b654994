// The print filter's command line and exit codes.
//
//   ruvafilter -p<SIZE> [-o <path>|-o -] <file>
//
// SIZE is attached to -p and may be empty (the print action formats
// "-p%s" with the configured size, which may be ""); a separate value is
// never taken, since "-p -o" must not read "-o" as the size.
#pragma once

#include <string>
#include <string_view>

#include "bmod/ruvaserv/actions/ruvafilter/page_text.h"

namespace ruva::filter {

enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 1,      // an unknown option, -o without a path, not exactly one input
    kExitIo = 2,         // input unreadable or over kMaxInputBytes, PostScript over
                         // kMaxOutputBytes, output not written
    kExitPaperSize = 3,  // a size not in the paper table
};

// Page sizes in PostScript points (1/72 inch), portrait.
struct PaperSize {
    const char* name;  // as %%DocumentMedia names it
    int width;
    int height;
};

// The row for name, any case; "" is A4. Null for a name not in the table.
const PaperSize* findPaperSize(std::string_view name);

struct FilterArguments {
    const PaperSize* paper = nullptr;
    std::string input;
    std::string output = "-";  // "-" is standard output
};

// Reads argv[1..argc-1] into args. kExitOk, or the exit code with a
// one-line reason in error. Usage faults are reported before a bad size.
int parseArguments(int argc, const char* const* argv, FilterArguments& args, std::string& error);

}  // namespace ruva::filter
