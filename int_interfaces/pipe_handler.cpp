#include "int_interfaces/pipe_handler.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "common/string_format.h"

namespace ruva {
namespace {

constexpr char kCloseWord[] = "VKCL\nVKCL\n";
constexpr size_t kCloseWordLength = 10;
constexpr long kSecond = 1000000;
constexpr long kWriteRetryPause = 250000;

bool isCloseWord(const char* line, size_t length) {
    return length >= 4 && std::memcmp(line, "VKCL", 4) == 0;
}

// Waits up to tv for fd to become readable (events POLLIN) or writable
// (POLLOUT); poll rather than select, so any descriptor number is safe.
// 1 ready, 0 not, -1 error (errno kept).
int waitFor(int fd, short events, const struct timeval& tv) {
    struct pollfd p = {fd, events, 0};
    struct timespec ts = {tv.tv_sec, tv.tv_usec * 1000};
    int r = ppoll(&p, 1, &ts, nullptr);
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r > 0 ? 1 : 0;
}

bool setNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    return fl >= 0 && fcntl(fd, F_SETFL, fl | O_NONBLOCK) == 0;
}

void closeFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Splits buf[0, len) at newlines into the queue; the rest starts at *restAt.
// A line beginning "VKCL" stops the split when stopAtCloseWord (*closed set).
// -1 when the queue cannot grow.
int queueLines(StringList* sl, const char* buf, size_t len, bool stopAtCloseWord, size_t* restAt,
               bool* closed) {
    int lines = 0;
    size_t start = 0;
    for (size_t i = 0; i < len; ++i) {
        if (buf[i] != '\n') continue;
        if (stopAtCloseWord && isCloseWord(buf + start, i - start)) {
            *closed = true;
            break;
        }
        if (!sl->addBuffer(buf + start, i - start)) return -1;
        ++lines;
        start = i + 1;
    }
    *restAt = start;
    return lines;
}

void keepPartial(PipeHandlerEntry* entry, const char* rest, size_t length) {
    entry->entryBufLen = length < kPipeLineMax ? length : kPipeLineMax;
    std::memmove(entry->entryBuf, rest, entry->entryBufLen);
    entry->entryBuf[entry->entryBufLen] = '\0';
}

size_t pipeCapacity(int fd) {
    int size = fcntl(fd, F_GETPIPE_SZ);
    return size > 0 ? static_cast<size_t>(size) : 65536;
}

}  // namespace

PipeHandlerEntry::~PipeHandlerEntry() {
    closeFd(parentwfds[1]);
    closeFd(parentrfds[0]);
    // In inline mode the write end is a duplicate of standard output; the
    // read end there is standard input itself, which stays open.
    closeFd(parentrfds[1]);
}

std::unique_ptr<PipeHandler> newPipeHandler(unsigned flags) {
    std::unique_ptr<PipeHandler> ph(new (std::nothrow) PipeHandler);
    if (ph) ph->flags = flags;
    return ph;
}

PipeHandler::~PipeHandler() {
    clear();
}

void PipeHandler::clear() {
    freeEntryList();
    errmsg_.clear();
}

void PipeHandler::setError(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    errmsg_ = vformat(format, ap);
    va_end(ap);
    trace("%s", errmsg_.c_str());
}

void PipeHandler::trace(const char* format, ...) {
    if (!(flags & kPipeTrace) || !logf_) return;
    va_list ap;
    va_start(ap, format);
    std::vfprintf(logf_, format, ap);
    va_end(ap);
    std::fputc('\n', logf_);
    std::fflush(logf_);
}

void PipeHandler::pause(long usec) {
    if (hooks_.sleep) {
        hooks_.sleep(hooks_.context, usec);
        return;
    }
    struct timespec ts = {usec / kSecond, (usec % kSecond) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// A pid of 0 or less is never signalled: a reaped pid may already belong to
// another process, and kill(0) or kill(-1) would hit whole groups.
void PipeHandler::sendSignal(int sig) {
    for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        if (e->cpid <= 0) continue;
        if (hooks_.signal) {
            hooks_.signal(hooks_.context, e->cpid, sig);
        } else {
            kill(e->cpid, sig);
        }
    }
}

void PipeHandler::setHandlerName(const char* name) {
    if (!name) name = "";
    std::strncpy(handlerName_, name, sizeof handlerName_ - 1);
    handlerName_[sizeof handlerName_ - 1] = '\0';
    if (!argv || !argv[0]) return;
    // argv[0] has no room past its own length.
    size_t room = std::strlen(argv[0]);
    size_t n = std::strlen(handlerName_);
    if (n > room) n = room;
    std::memcpy(argv[0], handlerName_, n);
    if (n < room) argv[0][n] = '\0';
}

void PipeHandler::setLogFile(FILE* file) {
    logf_ = file;
    if (file) {
        flags |= kPipeTrace;
    } else {
        flags &= ~kPipeTrace;
    }
}

void PipeHandler::setWaitTime(long seconds, long microseconds) {
    tv_ = {seconds, microseconds};
}

PipeHandlerEntry* PipeHandler::allocEntry() {
    auto* entry = new (std::nothrow) PipeHandlerEntry;
    if (entry) entry->sl = newStringList();
    if (!entry || !entry->sl) {
        delete entry;
        setError("No memory");
        return nullptr;
    }
    if (lastEntry_) {
        lastEntry_->next = entry;
    } else {
        firstEntry_ = entry;
    }
    lastEntry_ = entry;
    return entry;
}

int PipeHandler::unlinkEntry(PipeHandlerEntry* entry) {
    PipeHandlerEntry* prev = nullptr;
    PipeHandlerEntry* e = firstEntry_;
    while (e && e != entry) {
        prev = e;
        e = e->next;
    }
    if (!e) return 0;
    (prev ? prev->next : firstEntry_) = e->next;
    if (lastEntry_ == e) lastEntry_ = prev;
    delete e;
    return 1;
}

int PipeHandler::findEntry(const PipeHandlerEntry* entry) const {
    for (const PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        if (e == entry) return 1;
    }
    return 0;
}

int PipeHandler::countEntries() const {
    int n = 0;
    for (const PipeHandlerEntry* e = firstEntry_; e; e = e->next) ++n;
    return n;
}

PipeHandlerEntry* PipeHandler::add(PipeChildHandler handler, void* cdata1) {
    PipeHandlerEntry* entry = allocEntry();
    if (!entry) return nullptr;
    entry->handler = handler;
    entry->cdata1 = cdata1;
    if (flags & kPipeInline) {
        entry->cpid = getpid();
        entry->parentrfds[1] = dup(STDOUT_FILENO);
        entry->parentwfds[0] = STDIN_FILENO;
        if (handler) handler(this, entry);
        return entry;
    }
    if (pipe(entry->parentwfds) != 0 || pipe(entry->parentrfds) != 0) {
        setError("Failed to create pipe, %s", std::strerror(errno));
        unlinkEntry(entry);
        return nullptr;
    }
    // Buffered output would otherwise be written twice, once by the child.
    std::fflush(stdout);
    std::fflush(stderr);
    if (logf_) std::fflush(logf_);
    pid_t pid = fork();
    if (pid < 0) {
        setError("Failed to fork");
        unlinkEntry(entry);
        return nullptr;
    }
    if (pid == 0) runChild(entry);
    entry->cpid = pid;
    closeFd(entry->parentwfds[0]);
    closeFd(entry->parentrfds[1]);
    // A write to a dead child must fail with EPIPE, not end the parent.
    std::signal(SIGPIPE, SIG_IGN);
    if (!setNonBlocking(entry->parentwfds[1])) setError("Failed to set nonblock mode on pipe to child");
    return entry;
}

void PipeHandler::runChild(PipeHandlerEntry* entry) {
    // Signals first: none of the parent's handlers (its restart on a fault
    // among them) may run here.
    alarm(0);
    for (int sig : {SIGALRM, SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGCHLD, SIGSEGV, SIGBUS})
        std::signal(sig, SIG_DFL);
    // The other children's pipes stay with the parent only, so that their
    // ends of file are not held back by this process.
    for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        if (e == entry) continue;
        closeFd(e->parentwfds[1]);
        closeFd(e->parentrfds[0]);
    }
    // Lifted above 2 first: a parent without standard input or output may
    // have got descriptor 0 or 1 for one of the pipes.
    int in = fcntl(entry->parentwfds[0], F_DUPFD, 3);
    int out = fcntl(entry->parentrfds[1], F_DUPFD, 3);
    closeFd(entry->parentwfds[0]);
    closeFd(entry->parentwfds[1]);
    closeFd(entry->parentrfds[0]);
    closeFd(entry->parentrfds[1]);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    closeFd(in);
    closeFd(out);
    entry->parentwfds[0] = STDIN_FILENO;
    entry->parentrfds[1] = STDOUT_FILENO;
    if (!(flags & kPipeBlockingInput) && !setNonBlocking(STDIN_FILENO)) {
        static constexpr char kMessage[] = "Failed to set nonblock mode on pipe from parent\n";
        ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        (void)ignored;
        _exit(1);
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    flags &= ~(kPipeTrace | kPipeEntryRemoved);
    flags |= kPipeIsChild;
    entry->cpid = -1;
    int result = entry->handler ? entry->handler(this, entry) : 0;
    std::fflush(stdout);
    std::fflush(stderr);
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    // Never return into the caller, and run none of the parent's destructors.
    _exit(result);
}

// The stored partial line, then one read of what fits beside it (2047 bytes
// in all). A rest without newline is kept (cut to 511) only after a read
// that returned bytes; at end of input it is the last line.
int PipeHandler::readIntoQueue(PipeHandlerEntry* entry, ssize_t* got) {
    *got = 0;
    int fd = entry->parentrfds[0];
    if (fd < 0) return -1;
    char buf[kPipeReadBuffer];
    size_t have = entry->entryBufLen;
    std::memcpy(buf, entry->entryBuf, have);
    ssize_t n = read(fd, buf + have, sizeof buf - 1 - have);
    if (n < 0) return -1;
    *got = n;
    size_t len = have + static_cast<size_t>(n);
    size_t restAt = 0;
    bool closed = false;
    int lines = queueLines(entry->sl.get(), buf, len, false, &restAt, &closed);
    if (lines < 0) {
        setError("No memory");
        return -1;
    }
    if (n > 0) {
        keepPartial(entry, buf + restAt, len - restAt);
        return lines;
    }
    entry->entryBufLen = 0;
    // End of input: no more can come, and a pipe at its end would show as
    // readable to every later wait.
    closeFd(entry->parentrfds[0]);
    if (len == 0) return -1;
    if (!entry->sl->addBuffer(buf, len)) {
        setError("No memory");
        return -1;
    }
    return 1;
}

int PipeHandler::parentReadProcessData(PipeHandlerEntry* entry) {
    if (!entry) return -1;
    ssize_t got = 0;
    return readIntoQueue(entry, &got);
}

ssize_t PipeHandler::parentReadChild(PipeHandlerEntry* entry, char* buf, size_t size) {
    if (!entry || entry->parentrfds[0] < 0) return -1;
    ssize_t n = read(entry->parentrfds[0], buf, size);
    return n < 0 ? -1 : n;
}

int PipeHandler::parentChildHasData(PipeHandlerEntry* entry) {
    if (!entry || entry->parentrfds[0] < 0) return 0;
    return waitFor(entry->parentrfds[0], POLLIN, tv_) == 1 ? 1 : 0;
}

PipeHandlerEntry* PipeHandler::nextChildWithData() {
    std::vector<struct pollfd> fds;
    std::vector<PipeHandlerEntry*> owners;
    for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        if (e->parentrfds[0] < 0) continue;
        fds.push_back({e->parentrfds[0], POLLIN, 0});
        owners.push_back(e);
    }
    // With no pipe open this is still the wait time: callers pace their loops by it.
    struct timespec ts = {tv_.tv_sec, tv_.tv_usec * 1000};
    int r = ppoll(fds.data(), fds.size(), &ts, nullptr);
    if (r < 0) {
        if (errno != EINTR) setError("Error in select, %s", std::strerror(errno));
        return nullptr;
    }
    for (size_t i = 0; r > 0 && i < fds.size(); ++i) {
        if (fds[i].revents == 0) continue;
        trace("nextChildWithData: Data for entry %d", static_cast<int>(owners[i]->cpid));
        return owners[i];
    }
    return nullptr;
}

int PipeHandler::parentWaitData() {
    struct timeval saved = tv_;
    tv_ = {0, 0};
    int lines = 0;
    while (PipeHandlerEntry* e = nextChildWithData()) {
        int n = parentReadProcessData(e);
        if (n < 0) break;
        lines = n;
    }
    parentWaitChildren();
    tv_ = saved;
    return lines;
}

PipeHandlerEntry* PipeHandler::parentWaitEntry() {
    for (;;) {
        for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
            if (e->sl->first) return e;
        }
        if (parentWaitData() > 0) continue;
        if (nextChildWithData()) continue;
        parentWaitChildren();
        return nullptr;
    }
}

// Everything a dead child wrote is still in its pipe: read it to its end,
// at most one pipe buffer (a descendant holding the write end could
// otherwise keep it going), never waiting.
void PipeHandler::readDeadChild(PipeHandlerEntry* entry) {
    int fd = entry->parentrfds[0];
    if (fd >= 0) {
        size_t budget = pipeCapacity(fd);
        struct timeval none = {0, 0};
        while (entry->parentrfds[0] >= 0 && waitFor(entry->parentrfds[0], POLLIN, none) == 1) {
            ssize_t got = 0;
            if (readIntoQueue(entry, &got) < 0 || static_cast<size_t>(got) >= budget) break;
            budget -= static_cast<size_t>(got);
        }
    }
    closeFd(entry->parentrfds[0]);
    closeFd(entry->parentwfds[1]);
}

void PipeHandler::parentWaitChildren() {
    PipeHandlerEntry* next = nullptr;
    for (PipeHandlerEntry* e = firstEntry_; e; e = next) {
        next = e->next;
        if (e->cpid > 0) {
            int status = 0;
            pid_t r = waitpid(e->cpid, &status, WNOHANG);
            // ECHILD: reaped by someone else, dead all the same.
            if (r == e->cpid || (r < 0 && errno == ECHILD)) {
                trace("parentWaitChildren: Child pid %d died", static_cast<int>(e->cpid));
                e->cpid = 0;
                readDeadChild(e);
            }
        } else if (e->cpid == 0 && (e->parentrfds[0] >= 0 || e->parentwfds[1] >= 0)) {
            readDeadChild(e);
        }
        if (e->cpid == 0 && !e->sl->first && e->entryBufLen == 0) {
            unlinkEntry(e);
            flags |= kPipeEntryRemoved;
        }
    }
}

void PipeHandler::childReaped(pid_t pid) {
    if (pid <= 0) return;
    for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        if (e->cpid == pid) e->cpid = 0;
    }
}

int PipeHandler::parentWriteChild(PipeHandlerEntry* entry, const char* text, size_t length) {
    if (!entry || entry->parentwfds[1] < 0) {
        setError("Cannot write, pipe to child closed");
        trace("parentWriteChild: Cannot write, pipe closed");
        return 0;
    }
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(entry->parentwfds[1], text + done, length - done);
        bool full = n == 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
        if (n < 0 && !full) {
            setError("Write failed, %s", std::strerror(errno));
            return 0;
        }
        if (n > 0) done += static_cast<size_t>(n);
        if (done == length) break;
        // The child may be waiting for us to read before it reads again.
        int lines = parentWaitData();
        if (!findEntry(entry) || entry->parentwfds[1] < 0) {
            setError("Cannot write, pipe to child closed");
            trace("parentWriteChild: Cannot write, pipe closed");
            return 0;
        }
        if (full && lines == 0) pause(kWriteRetryPause);
    }
    return 1;
}

// Close word (retried until written, then a pause of 1 s, when wait; else
// one write), then the write end closed.
int PipeHandler::closeEntry(PipeHandlerEntry* entry, bool wait) {
    if (!entry || entry->parentwfds[1] < 0) {
        setError("Already closed");
        return 0;
    }
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    if (wait) {
        parentWriteChild(entry, kCloseWord, kCloseWordLength);
    } else {
        ssize_t ignored = write(entry->parentwfds[1], kCloseWord, kCloseWordLength);
        (void)ignored;
    }
    // Back to what it was: the daemon ignores SIGPIPE for good.
    sigaction(SIGPIPE, &previous, nullptr);
    if (wait) pause(kSecond);
    // A child that died meanwhile may have taken its entry with it.
    if (!findEntry(entry) || entry->parentwfds[1] < 0) return 1;
    int fd = entry->parentwfds[1];
    entry->parentwfds[1] = -1;
    if (close(fd) != 0) {
        setError("Failed to close descriptor, %s", std::strerror(errno));
        return 0;
    }
    return 1;
}

int PipeHandler::parentCloseEntry(PipeHandlerEntry* entry) {
    return closeEntry(entry, true);
}

int PipeHandler::parentCloseEntryNowait(PipeHandlerEntry* entry) {
    return closeEntry(entry, false);
}

int PipeHandler::childWaitParentData(PipeHandlerEntry* entry) {
    if (!entry || entry->parentwfds[0] < 0) return -1;
    return waitFor(entry->parentwfds[0], POLLIN, tv_);
}

int PipeHandler::childWaitData(PipeHandlerEntry* entry) {
    if (!entry) return 0;
    int lines = 0;
    while (entry->parentwfds[0] >= 0) {
        char buf[kPipeReadBuffer];
        size_t have = entry->entryBufLen;
        std::memcpy(buf, entry->entryBuf, have);
        ssize_t n = read(entry->parentwfds[0], buf + have, sizeof buf - 1 - have);
        if (n == 0) {
            // End of file: the partial line is the last one, unless it is the close word.
            if (have > 0 && !isCloseWord(buf, have) && entry->sl->addBuffer(buf, have)) ++lines;
            entry->entryBufLen = 0;
            entry->parentwfds[0] = -1;
            return lines;
        }
        if (n > 0) {
            size_t len = have + static_cast<size_t>(n);
            size_t restAt = 0;
            bool closed = false;
            int got = queueLines(entry->sl.get(), buf, len, true, &restAt, &closed);
            if (got < 0) return lines;
            lines += got;
            if (closed) {
                entry->entryBufLen = 0;
                entry->parentwfds[0] = -1;
                return lines;
            }
            keepPartial(entry, buf + restAt, len - restAt);
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return lines;
        }
        if (lines > 0 || childWaitParentData(entry) != 1) return lines;
    }
    return lines;
}

int PipeHandler::childWriteParent(PipeHandlerEntry* entry, const char* text, size_t length) {
    int fd = entry && entry->parentrfds[1] >= 0 ? entry->parentrfds[1] : STDOUT_FILENO;
    size_t done = 0;
    while (done < length) {
        int ready = waitFor(fd, POLLOUT, tv_);
        if (ready < 0) {
            setError("Failed to write parent, %s", std::strerror(errno));
            return 0;
        }
        if (ready == 0) {
            // The parent may be waiting for us to read before it reads again.
            childWaitData(entry);
            continue;
        }
        ssize_t n = write(fd, text + done, length - done);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            setError("Failed to write parent, %s", std::strerror(errno));
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    return 1;
}

void PipeHandler::drainQueues() {
    for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) {
        e->sl->clear();
        e->entryBufLen = 0;
    }
}

// Close word, hangup, kill: each step only for the children the previous
// one left, with a pause of 1 s after the first two when wait is set.
void PipeHandler::endEntries(bool wait) {
    trace("freeEntryList: Starting");
    if (flags & kPipeIsChild) {
        while (firstEntry_) unlinkEntry(firstEntry_);
        trace("freeEntryList: Ending");
        return;
    }
    drainQueues();
    parentWaitChildren();
    if (firstEntry_) {
        trace("freeEntryList: Closing entries");
        std::vector<PipeHandlerEntry*> entries;
        for (PipeHandlerEntry* e = firstEntry_; e; e = e->next) entries.push_back(e);
        for (PipeHandlerEntry* e : entries) {
            if (!findEntry(e) || e->parentwfds[1] < 0) continue;
            closeEntry(e, wait);
        }
        parentWaitData();
        drainQueues();
        if (wait) pause(kSecond);
        parentWaitChildren();
    }
    for (int sig : {SIGHUP, SIGKILL}) {
        if (!firstEntry_) break;
        trace(sig == SIGHUP ? "freeEntryList: Sending hangup signals to entries"
                            : "freeEntryList: Sending kill signals to entries");
        sendSignal(sig);
        parentWaitData();
        drainQueues();
        if (wait && sig == SIGHUP) pause(kSecond);
        parentWaitChildren();
    }
    while (firstEntry_) unlinkEntry(firstEntry_);
    trace("freeEntryList: Ending");
}

void PipeHandler::freeEntryList() {
    endEntries(true);
}

void PipeHandler::freeEntryListNowait() {
    endEntries(false);
    errmsg_.clear();
}

}  // namespace ruva
