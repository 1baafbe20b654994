#include "common/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/fd_io.h"

namespace ruva {

namespace {

int fail(char** data, size_t* size, int err) {
    *data = nullptr;
    *size = 0;
    errno = err;
    return 0;
}

// Copies fd `in` to fd `out` until end of input, blocksize bytes at a time.
// False with errno; *readFailed tells a failed read from a failed write.
bool copyAll(int in, int out, size_t blocksize, bool* readFailed = nullptr) {
    char buf[65536];
    if (blocksize > sizeof buf) blocksize = sizeof buf;
    for (;;) {
        ssize_t n = readRetry(in, buf, blocksize);
        if (n < 0) {
            if (readFailed) *readFailed = true;
            return false;
        }
        if (n == 0) return true;
        if (!writeAll(out, buf, static_cast<size_t>(n))) {
            if (readFailed) *readFailed = false;
            return false;
        }
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

// dst's directory as a prefix of names beside it: "" or ending in '/'.
std::string besidePrefix(const char* dst) {
    const char* slash = std::strrchr(dst, '/');
    return slash ? std::string(dst, slash + 1) : std::string();
}

// A fresh file beside dst: from the caller's mkostemp template, or created
// exclusively with the mode writeFile uses.
int createCopyBeside(const char* dst, const char* copyName, std::string& tmpName) {
    if (copyName) {
        std::string pattern = besidePrefix(dst) + copyName;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) tmpName = name.data();
        return fd;
    }
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

// Makes a rename in dir survive a crash. 0 or errno.
int syncDirectory(const std::string& dir) {
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return errno;
    return fsyncRetry(fd.get()) == 0 ? 0 : errno;
}

int syncFile(const char* path) {
    Fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return errno;
    return fsyncRetry(fd.get()) == 0 ? 0 : errno;
}

class Replace {
public:
    Replace(const char* src, const char* dst, const ReplaceOptions& options, ReplaceReport& report)
        : src_(src), dst_(dst), options_(options), report_(report) {}

    int run() {
        if (!options_.sourceSynced) {
            if (int e = syncFile(src_)) return fail(ReplaceStep::SyncSource, e);
        }
        if (::rename(src_, dst_) != 0) {
            if (errno != EXDEV) return fail(ReplaceStep::Rename, errno);
            if (!copyOver()) return 0;
        }
        if (options_.renamed) options_.renamed();
        report_.dirSyncErr = syncDirectory(directoryOf(dst_));
        if (report_.sourceLeftErr) {
            errno = report_.sourceLeftErr;
            return 0;
        }
        return 1;
    }

private:
    int fail(ReplaceStep step, int err) {
        report_.failed = step;
        report_.err = err;
        errno = err;
        return 0;
    }
    // Another file system: copy beside the target and rename over it, so a
    // failed copy leaves the old target in place.
    bool copyOver();

    const char* src_;
    const char* dst_;
    const ReplaceOptions& options_;
    ReplaceReport& report_;
};

bool Replace::copyOver() {
    std::string& copy = report_.copyPath;
    Fd out(createCopyBeside(dst_, options_.copyName, copy));
    if (out.get() < 0) return fail(ReplaceStep::CreateCopy, errno);
    bool keep = false;
    auto abandon = [&](ReplaceStep step, int err) {
        out.reset();
        if (!keep) ::unlink(copy.c_str());
        return fail(step, err);
    };
    Fd in(::open(src_, O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) return abandon(ReplaceStep::OpenSource, errno);
    bool readFailed = false;
    if (!copyAll(in.get(), out.get(), 65536, &readFailed))
        return abandon(readFailed ? ReplaceStep::ReadSource : ReplaceStep::WriteCopy, errno);
    if (options_.prepareCopy && !options_.prepareCopy(out.get()))
        return abandon(ReplaceStep::PrepareCopy, errno);
    if (fsyncRetry(out.get()) != 0) return abandon(ReplaceStep::SyncCopy, errno);
    if (!out.close()) return abandon(ReplaceStep::CloseCopy, errno);
    if (::rename(copy.c_str(), dst_) != 0) {
        keep = options_.keepCopyOnFailedRename;
        return abandon(ReplaceStep::RenameCopy, errno);
    }
    in.reset();
    if (::unlink(src_) != 0) report_.sourceLeftErr = errno;
    return true;
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

void* growMem(void* addr, size_t oldSize, size_t keep, size_t* size) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    if (!addr || !size || *size <= oldSize || oldSize % page != 0 || *size > SIZE_MAX - (page - 1))
        return nullptr;
    const size_t rounded = (*size + page - 1) / page * page;
    void* p = ::mremap(addr, oldSize, rounded, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) return nullptr;
    // Bytes past keep are cleared as a fresh mapping would have them: the
    // partial page written over, whole pages dropped (they come back zero)
    // rather than touched.
    char* base = static_cast<char*>(p);
    keep = std::min(keep, oldSize);
    const size_t firstWhole = std::min((keep + page - 1) / page * page, oldSize);
    std::memset(base + keep, 0, firstWhole - keep);
    if (firstWhole < oldSize && ::madvise(base + firstWhole, oldSize - firstWhole, MADV_DONTNEED) != 0)
        std::memset(base + firstWhole, 0, oldSize - firstWhole);
    *size = rounded;
    return p;
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
    return renameFile(src, dst, ReplaceOptions(), nullptr);
}

int renameFile(const char* src, const char* dst, const ReplaceOptions& options, ReplaceReport* report) {
    ReplaceReport own;
    ReplaceReport& r = report ? *report : own;
    r = ReplaceReport();
    if (!src || !dst) {
        errno = EINVAL;
        return 0;
    }
    return Replace(src, dst, options, r).run();
}

}  // namespace ruva
