#include "common/fd_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ruva {
namespace {

WriteCall g_writeCall = nullptr;

ssize_t writeOnce(int fd, const void* data, size_t n) {
    return g_writeCall != nullptr ? g_writeCall(fd, data, n) : ::write(fd, data, n);
}

}  // namespace

void setWriteCallForTest(WriteCall call) { g_writeCall = call; }

ssize_t readRetry(int fd, void* buf, size_t n) {
    ssize_t r;
    do r = ::read(fd, buf, n);
    while (r < 0 && errno == EINTR);
    return r;
}

ssize_t preadRetry(int fd, void* buf, size_t n, off_t offset) {
    ssize_t r;
    do r = ::pread(fd, buf, n, offset);
    while (r < 0 && errno == EINTR);
    return r;
}

int openRegularFile(const char* path, int flags) {
    int fd;
    do fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    int error = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (!(flags & O_NONBLOCK) && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

size_t readUpTo(int fd, void* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = readRetry(fd, static_cast<char*>(buf) + got, n - got);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    return got;
}

bool writeAll(int fd, const void* data, size_t n) {
    auto p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = writeOnce(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool pwriteAll(int fd, const void* data, size_t n, off_t offset) {
    auto p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::pwrite(fd, p, n, offset);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (w == 0) {
            errno = EIO;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
        offset += w;
    }
    return true;
}

int fsyncRetry(int fd) {
    int r;
    do r = ::fsync(fd);
    while (r < 0 && errno == EINTR);
    return r;
}

void Fd::reset(int fd) {
    if (fd_ >= 0) {
        int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

bool Fd::close() {
    int fd = release();
    return fd < 0 || ::close(fd) == 0;
}

}  // namespace ruva
