#include "common/fd_io.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <thread>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

std::string drain(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = readRetry(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

// More than a pipe holds: the writer blocks and resumes after short writes.
TEST(FdIo, WriteAllGoesOnAfterShortWritesToAPipe) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const std::string data = pattern(1 << 20);
    std::string got;
    std::thread reader([&] { got = drain(p[0]); });
    EXPECT_TRUE(writeAll(p[1], data.data(), data.size()));
    ::close(p[1]);
    reader.join();
    ::close(p[0]);
    EXPECT_EQ(got, data);
}

void noteSignal(int) {}

// A signal without SA_RESTART interrupts the blocked write; writeAll retries.
TEST(FdIo, WriteAllRetriesAfterEintr) {
    struct sigaction sa {}, old {};
    sa.sa_handler = noteSignal;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR2, &sa, &old), 0);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const std::string data = pattern(256 * 1024);
    pthread_t writer = pthread_self();
    std::atomic<bool> done{false};
    std::string got;
    std::thread reader([&] {
        // The pipe is full long before the data ends: interrupt the writer
        // a few times before reading anything.
        for (int i = 0; i < 5 && !done; ++i) {
            usleep(20000);
            pthread_kill(writer, SIGUSR2);
        }
        got = drain(p[0]);
    });
    EXPECT_TRUE(writeAll(p[1], data.data(), data.size()));
    done = true;
    ::close(p[1]);
    reader.join();
    ::close(p[0]);
    sigaction(SIGUSR2, &old, nullptr);
    EXPECT_EQ(got, data);
}

TEST(FdIo, ZeroByteWriteFailsWithEio) {
    struct Case {
        const char* name;
        WriteCall call;
    };
    static int calls;
    const Case cases[] = {
        {"zero at once", [](int, const void*, size_t) -> ssize_t { return 0; }},
        {"zero after a short write",
         [](int, const void*, size_t n) -> ssize_t { return calls++ == 0 ? static_cast<ssize_t>(n / 2) : 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        calls = 0;
        setWriteCallForTest(c.call);
        errno = 0;
        EXPECT_FALSE(writeAll(1, "abcd", 4));
        EXPECT_EQ(errno, EIO);
        setWriteCallForTest(nullptr);
    }
}

TEST(FdIo, ReadUpToStopsAtEndOfFile) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_TRUE(writeAll(p[1], "hello", 5));
    ::close(p[1]);
    char buf[16];
    EXPECT_EQ(readUpTo(p[0], buf, sizeof buf), 5u);
    EXPECT_EQ(std::string(buf, 5), "hello");
    ::close(p[0]);
}

TEST(FdIo, FsyncRetryOnAPipeReportsEinval) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    errno = 0;
    EXPECT_EQ(fsyncRetry(p[1]), -1);
    EXPECT_EQ(errno, EINVAL);
    ::close(p[0]);
    ::close(p[1]);
}

// A FIFO in a file's place would block open (and reads) until a writer
// came: it is refused at once, as is anything else but a regular file.
TEST(FdIo, OpenRegularFileRefusesOtherKindsWithoutWaiting) {
    test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    test::writeFile(dir.file("file"), "data");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("dir").c_str(), 0700), 0);
    struct Case {
        const char* name;
        int flags;
        int err;  // 0: opened
    } cases[] = {
        {"file", O_RDONLY, 0},     {"file", O_WRONLY, 0},     {"fifo", O_RDONLY, EINVAL},
        {"fifo", O_WRONLY, ENXIO}, {"dir", O_RDONLY, EISDIR}, {"missing", O_RDONLY, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.flags == O_WRONLY ? " for writing" : ""));
        errno = 0;
        int fd = openRegularFile(dir.file(c.name).c_str(), c.flags);
        if (c.err != 0) {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, c.err);
            continue;
        }
        ASSERT_GE(fd, 0);
        // Blocking again and closed on exec, as a plain open would give it.
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        ::close(fd);
    }
}

TEST(FdIo, FdClosesAndKeepsErrno) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    {
        Fd a(p[0]);
        Fd b(p[1]);
        errno = ENOSPC;
        b.reset();
        EXPECT_EQ(errno, ENOSPC);
        EXPECT_EQ(fcntl(p[1], F_GETFD), -1);
        Fd moved(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(moved.get(), p[0]);
        EXPECT_TRUE(moved.close());
        EXPECT_FALSE(moved.valid());
    }
    EXPECT_EQ(fcntl(p[0], F_GETFD), -1);
}

}  // namespace
}  // namespace ruva
