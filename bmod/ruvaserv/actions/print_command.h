// The print command of PRINT: the configured line with the paper size and
// the page file filled in, and the child that runs it with its output
// collected within a bound.
#pragma once

#include <signal.h>

#include <csignal>
#include <cstddef>
#include <string>

namespace ruva {

// The longest line made from a command (the command itself is bounded by
// the configuration's kPrintCommandMax).
inline constexpr size_t kPrintCommandLineMax = 1023;
// Output beyond this is a failure, not a truncated document.
inline constexpr size_t kPrintOutputMax = size_t{256} << 20;

// The command with the first %s as paperSize and the second as file, %%
// as %. 0 with reason ("invalid print command") for another directive, a
// third %s, a command over kPrintCommandMax characters, a line over
// kPrintCommandLineMax, or a paper size that is not up to kPaperSizeMax
// letters and digits (it enters a shell line); line is then untouched.
// file is taken as it is: the caller keeps it fit for a shell line.
int formatPrintCommand(const std::string& command, const std::string& paperSize, const std::string& file,
                       std::string& line, std::string& reason);

// How a filter run ended.
enum class PrintFilterEnd {
    kOk,        // exit 0 with output within the bound
    kNoStart,   // pipe or child not made (errno in startError)
    kFailed,    // non-zero exit, a signal, or the pipe failed
    kNoOutput,  // exit 0, nothing written
    kTooMuch,   // more than the bound
    kStopped,   // *stop became set: the child was killed (or never made)
};

struct PrintFilterRun {
    std::string output;
    int status = -1;     // as waitpid gives it; -1 before the child was reaped
    int startError = 0;  // errno of kNoStart
    PrintFilterEnd end = PrintFilterEnd::kNoStart;
};

// Runs line under "/bin/sh -c" in a process group of its own, stdin from
// /dev/null, stderr shared, no other descriptor of ours; collects its
// standard output up to limit bytes. The child is always reaped; its group
// is killed first when it overruns or *stop becomes set. 1 only for kOk.
int runPrintFilter(const std::string& line, PrintFilterRun& run, const volatile std::sig_atomic_t* stop = nullptr,
                   size_t limit = kPrintOutputMax);

// While one lives: SIGPIPE is ignored (a client that left makes writes
// fail instead of ending the process before its clean-up) and SIGTERM and
// SIGHUP only set stop(), so the caller can kill its child and remove its
// files. The old actions come back at its end, and a signal caught
// meanwhile is raised again then: the process ends as it would have. One
// at a time per process.
class PrintSignalGuard {
public:
    PrintSignalGuard();
    ~PrintSignalGuard();
    PrintSignalGuard(const PrintSignalGuard&) = delete;
    PrintSignalGuard& operator=(const PrintSignalGuard&) = delete;

    const volatile std::sig_atomic_t* stop() const;

private:
    struct sigaction oldPipe_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldHup_ {};
};

}  // namespace ruva
