#include "common/mapped_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::inChild;

using test::TempDir;

namespace fs = std::filesystem;

void putFile(const std::string& name, const std::string& bytes) {
    FILE* fp = std::fopen(name.c_str(), "wb");
    ASSERT_NE(fp, nullptr) << name;
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), fp), bytes.size());
    ASSERT_EQ(std::fclose(fp), 0);
}

// The file's bytes; "<missing>" when it cannot be opened.
std::string fileBytes(const std::string& name) {
    FILE* fp = std::fopen(name.c_str(), "rb");
    if (!fp) return "<missing>";
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) out.append(buf, n);
    std::fclose(fp);
    return out;
}

std::set<std::string> entries(const std::string& dir, const std::string& prefix = "") {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.path().filename().string().rfind(prefix, 0) == 0) names.insert(e.path().filename().string());
    return names;
}

std::string patternBytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return s;
}

// In a child: files may grow to at most limit bytes, and a write past it
// fails with EFBIG instead of killing the process.
void limitFileSize(rlim_t limit) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
}

TEST(MappedFileMapFile, ResultsTable) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    putFile(dir.file("empty"), "");
    const std::string bytes = patternBytes(10000);
    putFile(dir.file("normal"), bytes);
    putFile(dir.file("one"), "x");

    struct Case {
        const char* name;
        std::string path;
        int result;
        int err;
        std::string content;
    } cases[] = {
        {"missing file", dir.file("missing"), 0, ENOENT, ""},
        {"empty file", dir.file("empty"), 0, EINVAL, ""},
        {"directory", dir.path(), 0, -1, ""},
        {"one byte", dir.file("one"), 1, 0, "x"},
        {"normal file", dir.file("normal"), 1, 0, bytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char junk = 0;
        char* data = &junk;
        size_t size = 99;
        errno = 0;
        ASSERT_EQ(mapFile(c.path.c_str(), &data, &size), c.result);
        if (c.result == 0) {
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(size, 0u);
            if (c.err >= 0) {
                EXPECT_EQ(errno, c.err);
            }
        } else {
            ASSERT_NE(data, nullptr);
            EXPECT_EQ(std::string(data, size), c.content);
        }
        unmapFile(&data, &size);
    }
}

TEST(MappedFileMapFile, DashMapsAFileOfThatNameWhenOneExists) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    putFile(dir.file("-"), "from the file");
    int rc = inChild([&] {
        if (chdir(dir.path().c_str()) != 0) return 10;
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull < 0 || dup2(devnull, 0) < 0) return 11;
        char* data;
        size_t size;
        if (!mapFile("-", &data, &size)) return 12;
        return std::string(data, size) == "from the file" ? 0 : 13;
    });
    EXPECT_EQ(rc, 0);
}

std::set<std::string> openFds() {
    std::set<std::string> fds;
    DIR* d = opendir("/proc/self/fd");
    if (!d) return fds;
    int own = dirfd(d);
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.' && std::atoi(e->d_name) != own) fds.insert(e->d_name);
    closedir(d);
    return fds;
}

// Standard input from a pipe goes through an anonymous memory file: no
// name under /tmp that a planted symlink could redirect, no descriptor left.
TEST(MappedFileMapFile, StandardInputFromPipeMapsExactlyThePipedBytes) {
    for (size_t n : {1u, 1023u, 1024u, 1025u, 5000u}) {
        SCOPED_TRACE(n);
        const std::string bytes = patternBytes(n);
        int rc = inChild([&] {
            int p[2];
            if (pipe(p) != 0) return 10;
            if (write(p[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return 11;
            close(p[1]);
            if (dup2(p[0], 0) < 0) return 12;
            close(p[0]);
            std::set<std::string> fdsBefore = openFds();
            std::set<std::string> tmpBefore = entries("/tmp", "mapf");
            char* data = nullptr;
            size_t size = 0;
            if (mapFile("-", &data, &size) != 1) return 13;
            if (size != bytes.size() || std::memcmp(data, bytes.data(), size) != 0) return 14;
            if (entries("/tmp", "mapf") != tmpBefore) return 15;
            if (openFds() != fdsBefore) return 16;
            unmapFile(&data, &size);
            return openFds() == fdsBefore ? 0 : 17;
        });
        EXPECT_EQ(rc, 0);
    }
}

TEST(MappedFileMapFile, EmptyStandardInputGivesEinval) {
    int rc = inChild([] {
        int p[2];
        if (pipe(p) != 0) return 10;
        close(p[1]);
        if (dup2(p[0], 0) < 0) return 11;
        close(p[0]);
        std::set<std::string> fdsBefore = openFds();
        char junk;
        char* data = &junk;
        size_t size = 5;
        errno = 0;
        if (mapFile("-", &data, &size) != 0) return 12;
        if (errno != EINVAL) return 13;
        if (data != nullptr || size != 0) return 14;
        return openFds() == fdsBefore ? 0 : 15;
    });
    EXPECT_EQ(rc, 0);
}

TEST(MappedFileUnmapFile, ClearsBothValuesEvenWhenDataIsNull) {
    char* data = nullptr;
    size_t size = 123;
    unmapFile(&data, &size);
    EXPECT_EQ(size, 0u);

    TempDir dir;
    ASSERT_TRUE(dir.ok());
    putFile(dir.file("f"), "abc");
    ASSERT_EQ(mapFile(dir.file("f").c_str(), &data, &size), 1);
    unmapFile(&data, &size);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(size, 0u);
}

TEST(MappedFileMapFileOffset, MapsAnUnalignedRangeAndRefusesOnePastTheEnd) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string bytes = patternBytes(10000);
    putFile(dir.file("f"), bytes);
    putFile(dir.file("empty"), "");
    const long page = sysconf(_SC_PAGESIZE);

    struct Case {
        const char* name;
        std::string path;
        off_t start;
        size_t len;
        int result;
        int err;
    } cases[] = {
        {"unaligned start", dir.file("f"), page + 1, 100, 1, 0},
        {"start 0", dir.file("f"), 0, 10, 1, 0},
        {"up to the last byte", dir.file("f"), 9990, 10, 1, 0},
        {"one byte past the end", dir.file("f"), 9990, 11, 0, EINVAL},
        {"start at the end", dir.file("f"), 10000, 1, 0, EINVAL},
        {"negative start", dir.file("f"), -1, 1, 0, EINVAL},
        {"length that wraps", dir.file("f"), 10, SIZE_MAX, 0, EINVAL},
        {"zero length", dir.file("f"), 10, 0, 0, EINVAL},
        {"empty file", dir.file("empty"), 0, 1, 0, EINVAL},
        {"missing file", dir.file("missing"), 0, 1, 0, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char* data = nullptr;
        size_t size = 0;
        void* pgStart = nullptr;
        errno = 0;
        ASSERT_EQ(mapFileOffset(c.path.c_str(), c.start, c.len, &data, &size, &pgStart), c.result);
        if (c.result == 0) {
            EXPECT_EQ(errno, c.err);
            EXPECT_EQ(data, nullptr);
            EXPECT_EQ(size, 0u);
            continue;
        }
        ASSERT_NE(pgStart, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pgStart) % page, 0u);
        EXPECT_EQ(data - static_cast<char*>(pgStart), c.start % page);
        ASSERT_EQ(size, c.len);
        EXPECT_EQ(std::string(data, size), bytes.substr(c.start, c.len));
        data[0] ^= 1;  // private and writable: the file keeps its bytes
        EXPECT_EQ(munmap(pgStart, data - static_cast<char*>(pgStart) + size), 0);
    }
    EXPECT_EQ(fileBytes(dir.file("f")), bytes);
}

TEST(MappedFileMapMem, RoundsUpToWholePagesOfZeroes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct Case {
        size_t request;
        size_t rounded;
    } cases[] = {{1, page}, {page, page}, {page + 1, 2 * page}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        size_t size = c.request;
        char* p = static_cast<char*>(mapMem(&size));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(size, c.rounded);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[size - 1], 0);
        p[size - 1] = 1;
        unmapMem(p, size);
    }
}

TEST(MappedFileMapMem, NullZeroAndOverflowingSizesGiveNull) {
    EXPECT_EQ(mapMem(nullptr), nullptr);
    size_t zero = 0;
    EXPECT_EQ(mapMem(&zero), nullptr);
    size_t huge = SIZE_MAX - 1;
    EXPECT_EQ(mapMem(&huge), nullptr);
    EXPECT_EQ(huge, SIZE_MAX - 1);
    unmapMem(nullptr, 4096);  // ignored
}

// Every byte of a mapping is written first, so that a byte past keep left
// uncleared shows.
TEST(MappedFileGrowMem, KeepsTheLeadingBytesAndClearsTheRest) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    struct Case {
        const char* name;
        size_t oldSize;
        size_t keep;
        size_t request;
        size_t rounded;
    } cases[] = {
        {"full", 2 * page, 2 * page, 2 * page + 1, 3 * page},
        {"partial last page", 2 * page, 2 * page - 100, 4 * page, 4 * page},
        {"whole pages past keep", 4 * page, page + 10, 5 * page, 5 * page},
        {"nothing kept", 3 * page, 0, 8 * page, 8 * page},
        {"keep past the mapping", page, 5 * page, 2 * page, 2 * page},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t oldSize = c.oldSize;
        char* p = static_cast<char*>(mapMem(&oldSize));
        ASSERT_NE(p, nullptr);
        for (size_t i = 0; i < oldSize; ++i) p[i] = static_cast<char>('a' + i % 26);
        size_t size = c.request;
        char* q = static_cast<char*>(growMem(p, oldSize, c.keep, &size));
        ASSERT_NE(q, nullptr);
        EXPECT_EQ(size, c.rounded);
        const size_t kept = std::min(c.keep, oldSize);
        size_t wrong = 0;
        for (size_t i = 0; i < size; ++i) {
            const char want = i < kept ? static_cast<char>('a' + i % 26) : '\0';
            if (q[i] != want) ++wrong;
        }
        EXPECT_EQ(wrong, 0u);
        unmapMem(q, size);
    }
}

TEST(MappedFileGrowMem, RefusesWhatItCannotGrowAndLeavesTheMapping) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t oldSize = 2 * page;
    char* p = static_cast<char*>(mapMem(&oldSize));
    ASSERT_NE(p, nullptr);
    p[0] = 'x';
    struct Case {
        const char* name;
        void* addr;
        size_t oldSize;
        size_t request;
    } cases[] = {
        {"same size", p, oldSize, oldSize},
        {"smaller", p, oldSize, page},
        {"null", nullptr, oldSize, 4 * page},
        {"old size not whole pages", p, oldSize - 1, 4 * page},
        {"overflowing size", p, oldSize, SIZE_MAX - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t size = c.request;
        EXPECT_EQ(growMem(c.addr, c.oldSize, 1, &size), nullptr);
        EXPECT_EQ(size, c.request);
        EXPECT_EQ(p[0], 'x');
    }
    EXPECT_EQ(growMem(p, oldSize, 1, nullptr), nullptr);
    unmapMem(p, oldSize);
}

TEST(MappedFileWriteFile, WritesTruncatesAndCreatesWithModeLessUmask) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string name = dir.file("out");
    putFile(name, std::string(5000, 'o'));
    ASSERT_EQ(writeFile(name.c_str(), "new", 3), 1);
    EXPECT_EQ(fileBytes(name), "new");
    ASSERT_EQ(writeFile(name.c_str(), "", 0), 1);
    EXPECT_EQ(fileBytes(name), "");

    const std::string fresh = dir.file("fresh");
    mode_t old = umask(027);
    int rc = writeFile(fresh.c_str(), "abc", 3);
    umask(old);
    ASSERT_EQ(rc, 1);
    struct stat st;
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const std::string big = patternBytes(3 << 20);
    ASSERT_EQ(writeFile(name.c_str(), big.data(), big.size()), 1);
    EXPECT_EQ(fileBytes(name), big);
}

TEST(MappedFileWriteFile, OpenFailureLeavesTheNameAlone) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    errno = 0;
    EXPECT_EQ(writeFile(dir.path().c_str(), "x", 1), 0);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_TRUE(fs::is_directory(dir.path()));
    EXPECT_EQ(writeFile(dir.file("no/such/dir").c_str(), "x", 1), 0);
    EXPECT_EQ(errno, ENOENT);
}

// Runs body in a forked child whose standard output is a pipe; returns what
// came through the pipe and sets *status to the child's exit status.
std::string childOutput(const std::function<int()>& body, int* status) {
    *status = -1;
    int p[2];
    if (pipe(p) != 0) return "<pipe failed>";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        close(p[0]);
        if (dup2(p[1], 1) < 0) _exit(100);
        close(p[1]);
        _exit(body());
    }
    close(p[1]);
    std::string out;
    char buf[65536];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    close(p[0]);
    int ws = 0;
    if (pid > 0 && waitpid(pid, &ws, 0) == pid && WIFEXITED(ws)) *status = WEXITSTATUS(ws);
    return out;
}

// Standard output gets every byte, after what stdio still held for it.
TEST(MappedFileWriteFile, DashWritesEveryByteToStandardOutput) {
    const std::string bytes = patternBytes(200000);  // more than a pipe holds at once
    int status;
    std::string out = childOutput(
        [&] {
            std::fputs("before:", stdout);
            return writeFile("-", bytes.data(), bytes.size()) == 1 ? 0 : 10;
        },
        &status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(out == "before:" + bytes) << "got " << out.size() << " bytes";
}

// RLIMIT_FSIZE makes the write fail part-way with EFBIG (never /dev/full:
// as root a failure path could remove it).
TEST(MappedFileWriteFile, FailedWriteReturnsEfbigAndRemovesTheFile) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string name = dir.file("big");
    const std::string target = dir.file("target");
    const std::string link = dir.file("link");
    putFile(target, "old");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const std::string bytes = patternBytes(10000);
    int rc = inChild([&] {
        limitFileSize(4096);
        errno = 0;
        if (writeFile(name.c_str(), bytes.data(), bytes.size()) != 0) return 10;
        if (errno != EFBIG) return 11;
        struct stat st;
        if (lstat(name.c_str(), &st) == 0) return 12;
        // Through a symlink: the link is not a regular file, so it stays.
        errno = 0;
        if (writeFile(link.c_str(), bytes.data(), bytes.size()) != 0) return 13;
        if (errno != EFBIG) return 14;
        if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 15;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(MappedFileCopyFile, CopiesBytesAndTruncatesTheTarget) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string big = patternBytes(300000);
    putFile(dir.file("empty"), "");
    putFile(dir.file("big"), big);
    putFile(dir.file("small"), "abc");

    struct Case {
        const char* name;
        const char* src;
        std::string oldTarget;  // "<missing>" for none
        std::string expected;
    } cases[] = {
        {"empty source, no target", "empty", "<missing>", ""},
        {"empty source over a target", "empty", "old content", ""},
        {"small over a longer target", "small", std::string(1000, 'x'), "abc"},
        {"large source", "big", "<missing>", big},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dst = dir.file("dst");
        unlink(dst.c_str());
        if (c.oldTarget != "<missing>") putFile(dst, c.oldTarget);
        ASSERT_EQ(copyFile(dst.c_str(), dir.file(c.src).c_str()), 1);
        EXPECT_EQ(fileBytes(dst), c.expected);
    }
}

TEST(MappedFileCopyFile, MissingSourceLeavesNoTarget) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    errno = 0;
    EXPECT_EQ(copyFile(dir.file("dst").c_str(), dir.file("missing").c_str()), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(fileBytes(dir.file("dst")), "<missing>");
}

TEST(MappedFileRenameFile, SameFileSystem) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    putFile(dir.file("a"), "content");
    putFile(dir.file("b"), "old");
    ASSERT_EQ(renameFile(dir.file("a").c_str(), dir.file("b").c_str()), 1);
    EXPECT_EQ(fileBytes(dir.file("b")), "content");
    EXPECT_EQ(fileBytes(dir.file("a")), "<missing>");

    errno = 0;
    EXPECT_EQ(renameFile(dir.file("a").c_str(), dir.file("c").c_str()), 0);
    EXPECT_EQ(errno, ENOENT);
}

// Callers that give each step its own message learn which one failed; the
// callback comes once the target is in place.
TEST(MappedFileRenameFile, ReportsTheFailedStep) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ReplaceOptions synced;
    synced.sourceSynced = true;
    struct Case {
        const char* name;
        const ReplaceOptions* options;
        ReplaceStep failed;
    } cases[] = {
        {"source synced by the caller", &synced, ReplaceStep::Rename},
        {"source synced here", nullptr, ReplaceStep::SyncSource},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReplaceReport r;
        errno = 0;
        EXPECT_EQ(renameFile(dir.file("missing").c_str(), dir.file("b").c_str(),
                             c.options ? *c.options : ReplaceOptions(), &r),
                  0);
        EXPECT_EQ(errno, ENOENT);
        EXPECT_EQ(r.failed, c.failed);
        EXPECT_EQ(r.err, ENOENT);
    }

    putFile(dir.file("a"), "content");
    int renamed = 0;
    ReplaceOptions counting;
    counting.renamed = [&] { renamed += fileBytes(dir.file("b")) == "content" ? 1 : 100; };
    ReplaceReport r;
    ASSERT_EQ(renameFile(dir.file("a").c_str(), dir.file("b").c_str(), counting, &r), 1);
    EXPECT_EQ(renamed, 1);
    EXPECT_EQ(r.failed, ReplaceStep::None);
    EXPECT_EQ(r.dirSyncErr, 0);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"b"});
}

// Source in /dev/shm (tmpfs), target under /tmp: rename gives EXDEV.
class MappedFileRenameAcross : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(src_.ok() && dst_.ok());
        struct stat a, b;
        ASSERT_EQ(stat(src_.path().c_str(), &a), 0);
        ASSERT_EQ(stat(dst_.path().c_str(), &b), 0);
        if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm and /tmp are on one file system";
    }
    TempDir src_{"/dev/shm"};
    TempDir dst_{"/tmp"};
};

TEST_F(MappedFileRenameAcross, MovesTheBytesAndLeavesOnlyTheTarget) {
    struct Case {
        const char* name;
        std::string bytes;
        bool oldTarget;
    } cases[] = {
        {"0 bytes", "", false},
        {"0 bytes over an old target", "", true},
        {"1 byte", "x", false},
        {"300000 bytes over an old target", patternBytes(300000), true},
    };
    mode_t mask = umask(0);
    umask(mask);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = src_.file("from");
        const std::string to = dst_.file("to");
        putFile(from, c.bytes);
        unlink(to.c_str());
        if (c.oldTarget) putFile(to, "old target");
        ASSERT_EQ(renameFile(from.c_str(), to.c_str()), 1);
        EXPECT_EQ(fileBytes(to), c.bytes);
        EXPECT_EQ(fileBytes(from), "<missing>");
        EXPECT_EQ(entries(dst_.path()), std::set<std::string>{"to"});
        struct stat st;
        ASSERT_EQ(stat(to.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
    }
}

TEST_F(MappedFileRenameAcross, FailedCopyKeepsSourceAndOldTarget) {
    const std::string from = src_.file("from");
    const std::string to = dst_.file("to");
    const std::string bytes = patternBytes(10000);
    putFile(from, bytes);
    putFile(to, "old target");
    int rc = inChild([&] {
        limitFileSize(4096);
        errno = 0;
        if (renameFile(from.c_str(), to.c_str()) != 0) return 10;
        return errno == EFBIG ? 0 : 11;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(fileBytes(from), bytes);
    EXPECT_EQ(fileBytes(to), "old target");
    EXPECT_EQ(entries(dst_.path()), std::set<std::string>{"to"});
}

// The copy's own steps: a failed prepare removes the copy; a copy that
// cannot be renamed over the target stays when asked, and is named.
TEST_F(MappedFileRenameAcross, ReportsTheCopysFailedStep) {
    const std::string from = src_.file("from");
    putFile(from, "new bytes");
    putFile(dst_.file("to"), "old target");

    ReplaceOptions refuse;
    refuse.copyName = "_ZXXXXXX";
    refuse.prepareCopy = [](int) {
        errno = EPERM;
        return false;
    };
    ReplaceReport r;
    EXPECT_EQ(renameFile(from.c_str(), dst_.file("to").c_str(), refuse, &r), 0);
    EXPECT_EQ(r.failed, ReplaceStep::PrepareCopy);
    EXPECT_EQ(r.err, EPERM);
    EXPECT_EQ(r.copyPath.rfind(dst_.file("_Z"), 0), 0u) << r.copyPath;
    EXPECT_EQ(entries(dst_.path()), std::set<std::string>{"to"});
    EXPECT_EQ(fileBytes(from), "new bytes");

    // A directory in the target's place: the copy cannot be renamed over it.
    ASSERT_EQ(mkdir(dst_.file("dir").c_str(), 0755), 0);
    putFile(dst_.file("dir") + "/x", "keeps the directory non-empty");
    ReplaceOptions keep;
    keep.copyName = "_ZXXXXXX";
    keep.keepCopyOnFailedRename = true;
    EXPECT_EQ(renameFile(from.c_str(), dst_.file("dir").c_str(), keep, &r), 0);
    EXPECT_EQ(r.failed, ReplaceStep::RenameCopy);
    EXPECT_EQ(fileBytes(r.copyPath), "new bytes");
    EXPECT_EQ(fileBytes(from), "new bytes");
}

}  // namespace
}  // namespace ruva
