#include "bmod/ruvaserv/actions/print_command.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "common/fd_io.h"

namespace ruva {
namespace {

constexpr char kInvalidCommand[] = "invalid print command";
// How long the collecting loop waits for output before it looks at the
// stop flag again: a signal may land between the look and poll.
constexpr int kStopPollMs = 200;
constexpr size_t kReadPiece = 64 * 1024;

bool paperSizeFits(const std::string& size) {
    if (size.size() > kPaperSizeMax) return false;
    for (unsigned char c : size)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

volatile std::sig_atomic_t stopSignal = 0;

void recordStop(int sig) {
    stopSignal = sig;
}

// In the child, before exec: only async-signal-safe calls.
[[noreturn]] void execFilter(const char* line, int out, int devNull) {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    sigaction(SIGTERM, &dfl, nullptr);
    sigaction(SIGHUP, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setpgid(0, 0);
    if (dup2(devNull, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    // The daemon's socket and our files are none of the filter's business.
    closefrom(STDERR_FILENO + 1);
    execl("/bin/sh", "sh", "-c", line, static_cast<char*>(nullptr));
    _exit(127);
}

bool stopped(const volatile std::sig_atomic_t* stop) {
    return stop && *stop;
}

// Reads the child's output until end of file, the bound or the stop flag.
// kOk here means only that the output ended by itself.
PrintFilterEnd collect(int fd, std::string& output, const volatile std::sig_atomic_t* stop, size_t limit) {
    char piece[kReadPiece];
    for (;;) {
        if (stopped(stop)) return PrintFilterEnd::kStopped;
        struct pollfd p {fd, POLLIN, 0};
        const int ready = poll(&p, 1, kStopPollMs);
        if (ready < 0 && errno != EINTR) return PrintFilterEnd::kFailed;
        if (ready <= 0) continue;
        const ssize_t n = readRetry(fd, piece, sizeof piece);
        if (n < 0) return PrintFilterEnd::kFailed;
        if (n == 0) return PrintFilterEnd::kOk;
        if (output.size() + static_cast<size_t>(n) > limit) return PrintFilterEnd::kTooMuch;
        output.append(piece, static_cast<size_t>(n));
    }
}

// waitpid until the child is gone; a stop meanwhile kills its group.
int reap(pid_t pid, const volatile std::sig_atomic_t* stop, bool killed) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
        if (!killed && stopped(stop)) {
            kill(-pid, SIGKILL);
            killed = true;
        }
    }
    return status;
}

}  // namespace

int formatPrintCommand(const std::string& command, const std::string& paperSize, const std::string& file,
                       std::string& line, std::string& reason) {
    if (command.size() > kPrintCommandMax || !paperSizeFits(paperSize)) {
        reason = kInvalidCommand;
        return 0;
    }
    std::string made;
    int args = 0;
    for (size_t i = 0; i < command.size(); ++i) {
        if (command[i] != '%') {
            made += command[i];
            continue;
        }
        // Only %% and two %s: any other directive would read what was never
        // passed.
        const char next = i + 1 < command.size() ? command[i + 1] : '\0';
        if (next == '%') {
            made += '%';
        } else if (next == 's' && args < 2) {
            made += args++ == 0 ? paperSize : file;
        } else {
            reason = kInvalidCommand;
            return 0;
        }
        ++i;
    }
    if (made.size() > kPrintCommandLineMax) {
        reason = kInvalidCommand;
        return 0;
    }
    line = std::move(made);
    return 1;
}

int runPrintFilter(const std::string& line, PrintFilterRun& run, const volatile std::sig_atomic_t* stop,
                   size_t limit) {
    run = PrintFilterRun{};
    if (stopped(stop)) {
        run.end = PrintFilterEnd::kStopped;
        return 0;
    }
    Fd devNull(open("/dev/null", O_RDONLY | O_CLOEXEC));
    int fds[2];
    if (!devNull.valid() || pipe2(fds, O_CLOEXEC) != 0) {
        run.startError = errno;
        return 0;
    }
    Fd in(fds[0]);
    Fd out(fds[1]);
    const pid_t pid = fork();
    if (pid < 0) {
        run.startError = errno;
        return 0;
    }
    if (pid == 0) execFilter(line.c_str(), out.get(), devNull.get());
    // Both sides set the group, so a kill right after fork reaches it.
    setpgid(pid, pid);
    out.reset();
    run.end = collect(in.get(), run.output, stop, limit);
    in.reset();
    const bool killed = run.end != PrintFilterEnd::kOk;
    if (killed) kill(-pid, SIGKILL);
    run.status = reap(pid, stop, killed);
    if (killed) return 0;
    if (stopped(stop)) {
        run.end = PrintFilterEnd::kStopped;
    } else if (run.status < 0 || !WIFEXITED(run.status) || WEXITSTATUS(run.status) != 0) {
        run.end = PrintFilterEnd::kFailed;
    } else if (run.output.empty()) {
        run.end = PrintFilterEnd::kNoOutput;
    }
    return run.end == PrintFilterEnd::kOk;
}

PrintSignalGuard::PrintSignalGuard() {
    stopSignal = 0;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &oldPipe_);
    // No SA_RESTART: a blocking wait returns, and the caller looks at stop().
    struct sigaction record {};
    record.sa_handler = recordStop;
    sigemptyset(&record.sa_mask);
    sigaction(SIGTERM, &record, &oldTerm_);
    sigaction(SIGHUP, &record, &oldHup_);
}

PrintSignalGuard::~PrintSignalGuard() {
    sigaction(SIGPIPE, &oldPipe_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGHUP, &oldHup_, nullptr);
    const int caught = stopSignal;
    stopSignal = 0;
    if (caught) raise(caught);
}

const volatile std::sig_atomic_t* PrintSignalGuard::stop() const {
    return &stopSignal;
}

}  // namespace ruva
