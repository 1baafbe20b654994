// The print command of PRINT: the configured line with the paper size and
// the page file filled in, and the child that runs it with its output
// collected within a bound.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>

namespace ruva {

// The longest configured command and the longest line made from it.
inline constexpr size_t kPrintCommandLineMax = 1023;
// Output beyond this is a failure, not a truncated document.
inline constexpr size_t kPrintOutputMax = size_t{256} << 20;

// The command with the first %s as paperSize and the second as file, %%
// as %. 0 with reason ("invalid print command") for another directive, a
// third %s, a command over 255 characters, a line over 1023, or a paper
// size outside [A-Za-z0-9]{0,7}; line is then untouched.
int formatPrintCommand(const std::string& command, const std::string& paperSize, const std::string& file,
                       std::string& line, std::string& reason);

// How a filter run ended.
enum class PrintFilterEnd {
    kOk,        // exit 0 with output within the bound
    kNoStart,   // pipe or child not made
    kFailed,    // non-zero exit or a signal
    kNoOutput,  // exit 0, nothing written
    kTooMuch,   // more than the bound
    kStopped,   // *stop became set: the child was killed
};

struct PrintFilterRun {
    std::string output;
    int status = -1;  // as waitpid gives it; -1 before the child was reaped
    PrintFilterEnd end = PrintFilterEnd::kNoStart;
};

// Runs line under "sh -c", stdin from /dev/null, and collects its standard
// output up to limit bytes; the child is always reaped (killed first when
// it overruns or *stop is set). 1 only for kOk.
int runPrintFilter(const std::string& line, PrintFilterRun& run, const volatile std::sig_atomic_t* stop = nullptr,
                   size_t limit = kPrintOutputMax);

}  // namespace ruva
