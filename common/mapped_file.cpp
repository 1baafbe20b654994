#include "common/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace ruva {

namespace {

// Closes a descriptor on every path out, keeping the errno of the failure
// that is being reported.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            int saved = errno;
            ::close(fd_);
            errno = saved;
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports a failure that shows only at close.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

int fail(char** data, size_t* size, int err) {
    *data = nullptr;
    *size = 0;
    errno = err;
    return 0;
}

// Writes every byte: a single write may take less (a pipe, a signal, the
// per-call cap of the kernel).
bool writeAll(int fd, const char* p, size_t len) {
    while (len > 0) {
        ssize_t n = ::write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

// Copies fd `in` to fd `out` until end of input, blocksize bytes at a time.
bool copyAll(int in, int out, size_t blocksize) {
    char buf[65536];
    if (blocksize > sizeof buf) blocksize = sizeof buf;
    for (;;) {
        ssize_t n = ::read(in, buf, blocksize);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (!writeAll(out, buf, static_cast<size_t>(n))) return false;
    }
}

// Removes name only when it is still the regular file we wrote through fd:
// never a device, FIFO, socket, or the symlink that led to the file.
void removeIfOurs(const char* name, int fd) {
    int saved = errno;
    struct stat byName, byFd;
    if (::lstat(name, &byName) == 0 && ::fstat(fd, &byFd) == 0 && S_ISREG(byName.st_mode) &&
        byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino)
        ::unlink(name);
    errno = saved;
}

// A failure that shows only at close is a failed write too.
int closeOrRemove(const char* name, Fd& fd) {
    if (fd.close()) return 1;
    int saved = errno;
    struct stat st;
    if (::lstat(name, &st) == 0 && S_ISREG(st.st_mode)) ::unlink(name);
    errno = saved;
    return 0;
}

int mapDescriptor(int fd, char** data, size_t* size) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return fail(data, size, errno);
    if (st.st_size <= 0) return fail(data, size, EINVAL);
    if (static_cast<uintmax_t>(st.st_size) > SIZE_MAX) return fail(data, size, EFBIG);
    size_t len = static_cast<size_t>(st.st_size);
    void* p = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return fail(data, size, errno);
    *data = static_cast<char*>(p);
    *size = len;
    return 1;
}

// Standard input goes into an anonymous memory file: a named temporary file
// could be replaced by a symlink planted under its name.
int mapStandardInput(char** data, size_t* size) {
    Fd mem(::memfd_create("mapf-stdin", MFD_CLOEXEC));
    if (mem.get() < 0) return fail(data, size, errno);
    if (!copyAll(STDIN_FILENO, mem.get(), 1024)) return fail(data, size, errno);
    return mapDescriptor(mem.get(), data, size);
}

std::string directoryOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (!slash) return ".";
    if (slash == path) return "/";
    return std::string(path, slash);
}

// A fresh file beside dst, created exclusively with the mode writeFile uses.
int createTempBeside(const char* dst, std::string& tmpName) {
    std::string dir = directoryOf(dst);
    for (unsigned attempt = 0; attempt < 1000; attempt++) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "/.rename.%ld.%u.tmp", static_cast<long>(::getpid()), attempt);
        tmpName = dir + suffix;
        int fd = ::open(tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

int mapFile(const char* path, char** data, size_t* size) {
    if (!path) return fail(data, size, EINVAL);
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT && std::strcmp(path, "-") == 0) return mapStandardInput(data, size);
        return fail(data, size, errno);
    }
    return mapDescriptor(fd.get(), data, size);
}

int mapFileOffset(const char* path, off_t start, size_t len, char** data, size_t* size, void** pgStart) {
    *pgStart = nullptr;
    if (!path) return fail(data, size, EINVAL);
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fail(data, size, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return fail(data, size, errno);
    // Pages past the end of the file raise SIGBUS when touched.
    if (st.st_size <= 0 || start < 0 || len == 0 || start >= st.st_size ||
        len > static_cast<uintmax_t>(st.st_size - start))
        return fail(data, size, EINVAL);
    long page = ::sysconf(_SC_PAGESIZE);
    off_t pageOffset = start % page;
    void* p = ::mmap(nullptr, len + static_cast<size_t>(pageOffset), PROT_READ | PROT_WRITE, MAP_PRIVATE,
                     fd.get(), start - pageOffset);
    if (p == MAP_FAILED) return fail(data, size, errno);
    *pgStart = p;
    *data = static_cast<char*>(p) + pageOffset;
    *size = len;
    return 1;
}

void unmapFile(char** data, size_t* size) {
    if (data && *data && size) ::munmap(*data, *size);
    if (data) *data = nullptr;
    if (size) *size = 0;
}

void* mapMem(size_t* size) {
    if (!size || *size == 0) return nullptr;
    size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    if (*size > SIZE_MAX - (page - 1)) {
        errno = ENOMEM;
        return nullptr;
    }
    size_t rounded = (*size + page - 1) / page * page;
    void* p = ::mmap(nullptr, rounded, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    *size = rounded;
    return p;
}

void unmapMem(void* addr, size_t size) {
    if (addr) ::munmap(addr, size);
}

int writeFile(const char* name, const void* data, size_t len) {
    if (!name || (!data && len > 0)) {
        errno = EINVAL;
        return 0;
    }
    const char* bytes = static_cast<const char*>(data);
    if (std::strcmp(name, "-") == 0) {
        // Whatever the caller printed through stdio comes first.
        if (std::fflush(stdout) != 0) return 0;
        return writeAll(STDOUT_FILENO, bytes, len) ? 1 : 0;
    }
    Fd fd(::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) return 0;
    if (!writeAll(fd.get(), bytes, len)) {
        removeIfOurs(name, fd.get());
        return 0;
    }
    return closeOrRemove(name, fd);
}

int copyFile(const char* dst, const char* src) {
    if (!dst || !src) {
        errno = EINVAL;
        return 0;
    }
    // Read rather than map: an empty source is a valid copy, and a source cut
    // short while mapped would raise SIGBUS. "-" is standard input when no
    // such file exists, as for mapFile, and standard output as for writeFile.
    Fd in(::open(src, O_RDONLY | O_CLOEXEC));
    int inFd = in.get();
    if (inFd < 0) {
        if (errno != ENOENT || std::strcmp(src, "-") != 0) return 0;
        inFd = STDIN_FILENO;
    }
    if (std::strcmp(dst, "-") == 0) {
        if (std::fflush(stdout) != 0) return 0;
        return copyAll(inFd, STDOUT_FILENO, 65536) ? 1 : 0;
    }
    Fd out(::open(dst, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) return 0;
    if (!copyAll(inFd, out.get(), 65536)) {
        removeIfOurs(dst, out.get());
        return 0;
    }
    return closeOrRemove(dst, out);
}

int renameFile(const char* src, const char* dst) {
    if (!src || !dst) {
        errno = EINVAL;
        return 0;
    }
    if (::rename(src, dst) == 0) return 1;
    if (errno != EXDEV) return 0;

    // Another file system: copy beside the target and rename over it, so a
    // failed copy leaves the old target in place.
    Fd in(::open(src, O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return 0;
    std::string tmpName;
    Fd out(createTempBeside(dst, tmpName));
    if (out.get() < 0) return 0;
    auto abandon = [&]() {
        int saved = errno;
        ::unlink(tmpName.c_str());
        errno = saved;
        return 0;
    };
    if (!copyAll(in.get(), out.get(), 65536)) return abandon();
    if (!out.close()) return abandon();
    if (::rename(tmpName.c_str(), dst) != 0) return abandon();
    return ::unlink(src) == 0 ? 1 : 0;
}

}  // namespace ruva
