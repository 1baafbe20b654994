#pragma once

#include <sys/types.h>

#include <cstddef>

// Descriptor I/O that survives signals and short transfers. Every call
// retries EINTR; the "All" writers go on after a short write and fail with
// EIO on a write that takes no byte, which would otherwise loop forever.
namespace ruva {

// One read(2) or pread(2), retried on EINTR: bytes read, 0 at end of file,
// -1 with errno.
ssize_t readRetry(int fd, void* buf, size_t n);
ssize_t preadRetry(int fd, void* buf, size_t n, off_t offset);

// Up to n bytes from fd's position; fewer only at end of file or on an error
// (errno tells which: it is left as the failing read set it).
size_t readUpTo(int fd, void* buf, size_t n);

// open(2) of path with flags (O_CLOEXEC added), kept only when it is a
// regular file. O_NONBLOCK is on for the open and the check and then
// cleared: a FIFO put in a file's place would block open, and every read,
// until a writer came. -1 with errno; EISDIR for a directory, EINVAL for any
// other kind of file.
int openRegularFile(const char* path, int flags);

// Every byte, or false with errno set.
bool writeAll(int fd, const void* data, size_t n);
bool pwriteAll(int fd, const void* data, size_t n, off_t offset);

// fsync(2) retried on EINTR: 0 or -1 with errno.
int fsyncRetry(int fd);

// Owns one descriptor; closing keeps the errno of the failure being reported.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes the descriptor held (errno kept) and takes fd.
    void reset(int fd = -1);
    // Gives the descriptor up without closing it.
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now, reporting a failure that shows only at close (NFS, quota).
    bool close();

private:
    int fd_ = -1;
};

// Tests: replaces write(2) under writeAll, so a 0-byte or short write can be
// made to happen; null restores write(2).
using WriteCall = ssize_t (*)(int fd, const void* data, size_t n);
void setWriteCallForTest(WriteCall call);

}  // namespace ruva
