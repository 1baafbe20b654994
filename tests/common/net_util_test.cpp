#include "common/net_util.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::inChild;

using namespace std::chrono_literals;
using test::TempDir;

in_addr_t ip(const char* dotted) {
    in_addr in{};
    EXPECT_EQ(inet_aton(dotted, &in), 1) << dotted;
    return in.s_addr;
}

// Answers from tables and records what it was asked; unknown names and
// addresses fail, as an unreachable DNS would.
class TableResolver : public Resolver {
public:
    struct Names {
        std::string name;
        std::vector<std::string> aliases;
    };

    bool addressOf(const std::string& name, in_addr_t* addr) override {
        askedNames.push_back(name);
        auto it = addresses.find(name);
        if (it == addresses.end()) return false;
        *addr = it->second;
        return true;
    }
    bool namesOf(in_addr_t addr, std::string* name, std::vector<std::string>* aliasList) override {
        auto it = names.find(addr);
        if (it == names.end()) return false;
        *name = it->second.name;
        *aliasList = it->second.aliases;
        return true;
    }

    std::map<std::string, in_addr_t> addresses;
    std::map<in_addr_t, Names> names;
    std::vector<std::string> askedNames;
};

class ResolverScope {
public:
    explicit ResolverScope(Resolver* r) : previous_(setResolver(r)) {}
    ~ResolverScope() { setResolver(previous_); }
    ResolverScope(const ResolverScope&) = delete;
    ResolverScope& operator=(const ResolverScope&) = delete;

private:
    Resolver* previous_;
};

TEST(NetUtilExtractAddrPort, Table) {
    TableResolver names;
    names.addresses = {{"host.example", ip("10.9.8.7")}, {"3com.example", ip("10.9.8.6")}};
    ResolverScope scope(&names);

    struct Case {
        const char* name;
        std::string text;
        int result;
        const char* addr;  // null: 0
        unsigned port;
        const char* asked;  // the name resolved, null when none
    } cases[] = {
        {"no port", "10.0.0.1", 1, "10.0.0.1", 0, nullptr},
        {"port", "10.0.0.1:80", 1, "10.0.0.1", 80, nullptr},
        {"lowest port", "10.0.0.1:1", 1, "10.0.0.1", 1, nullptr},
        {"highest port", "10.0.0.1:65535", 1, "10.0.0.1", 65535, nullptr},
        {"colon without digits", "10.0.0.1:", 0, "10.0.0.1", 0, nullptr},
        {"letter after colon", "10.0.0.1:x", 0, "10.0.0.1", 0, nullptr},
        {"port 0", "10.0.0.1:0", 0, "10.0.0.1", 0, nullptr},
        {"port 65536", "10.0.0.1:65536", 0, "10.0.0.1", 0, nullptr},
        {"port 70000 does not wrap", "10.0.0.1:70000", 0, "10.0.0.1", 0, nullptr},
        {"port of 20 digits", "10.0.0.1:99999999999999999999", 0, "10.0.0.1", 0, nullptr},
        {"digit run ends the port", "10.0.0.1:80x", 1, "10.0.0.1", 80, nullptr},
        {"first colon counts", "10.0.0.1:80:90", 1, "10.0.0.1", 80, nullptr},
        {"sign is no digit", "10.0.0.1:+80", 0, "10.0.0.1", 0, nullptr},
        {"all ones is an address", "255.255.255.255:80", 1, "255.255.255.255", 80, nullptr},
        {"bad dotted form is resolved", "10.0.0.x:80", 0, nullptr, 80, "10.0.0.x"},
        {"unresolvable name", "nosuch.example:80", 0, nullptr, 80, "nosuch.example"},
        {"name", "host.example:9229", 1, "10.9.8.7", 9229, "host.example"},
        {"name without port", "host.example", 1, "10.9.8.7", 0, "host.example"},
        {"name beginning with a digit", "3com.example:80", 1, "10.9.8.6", 80, "3com.example"},
        {"name with bad port", "host.example:0", 0, "10.9.8.7", 0, "host.example"},
        {"empty host", ":80", 0, nullptr, 80, nullptr},
        {"empty text", "", 0, nullptr, 0, nullptr},
        {"NUL ends the text", std::string("10.0.0.1\0:80", 12), 1, "10.0.0.1", 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        names.askedNames.clear();
        const std::string text = c.text;
        in_addr_t addr = 12345;
        unsigned port = 12345;
        EXPECT_EQ(extractAddrPort(text, &addr, &port), c.result);
        EXPECT_EQ(addr, c.addr ? ip(c.addr) : 0);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(text, c.text);
        if (c.asked) {
            EXPECT_EQ(names.askedNames, std::vector<std::string>{c.asked});
        } else {
            EXPECT_TRUE(names.askedNames.empty());
        }
    }
}

TEST(NetUtilExtractAddrPort, AddressIsInNetworkOrderAndOutputsMayBeNull) {
    TableResolver names;
    ResolverScope scope(&names);
    in_addr_t addr = 0;
    EXPECT_EQ(extractAddrPort("10.0.0.1:80", &addr, nullptr), 1);
    EXPECT_EQ(addr, htonl(0x0A000001));
    unsigned port = 0;
    EXPECT_EQ(extractAddrPort("10.0.0.1:80", nullptr, &port), 1);
    EXPECT_EQ(port, 80u);
    EXPECT_EQ(extractAddrPort("10.0.0.1:0", nullptr, nullptr), 0);
}

// Only when the hosts file answers for localhost ahead of DNS: the test
// must send nothing beyond this machine.
bool localhostIsInHostsFile() {
    std::ifstream nss("/etc/nsswitch.conf");
    std::string line;
    bool filesFirst = false;
    while (std::getline(nss, line)) {
        std::istringstream words(line);
        std::string key, first;
        if (words >> key >> first && key == "hosts:") filesFirst = first == "files";
    }
    if (!filesFirst) return false;
    std::ifstream hosts("/etc/hosts");
    while (std::getline(hosts, line)) {
        std::istringstream words(line);
        std::string address, name;
        if (!(words >> address) || address != "127.0.0.1") continue;
        while (words >> name)
            if (name == "localhost") return true;
    }
    return false;
}

TEST(NetUtilExtractAddrPort, SystemResolverReadsLocalhost) {
    if (!localhostIsInHostsFile()) GTEST_SKIP() << "localhost not answered by /etc/hosts first";
    ResolverScope scope(nullptr);
    in_addr_t addr = 0;
    unsigned port = 0;
    EXPECT_EQ(extractAddrPort("localhost:9229", &addr, &port), 1);
    EXPECT_EQ(addr, ip("127.0.0.1"));
    EXPECT_EQ(port, 9229u);
}

TEST(NetUtilMakeAddrString, Table) {
    const std::string longName = std::string(90, 'n') + ".example";  // 98 characters
    TableResolver names;
    names.names = {
        {ip("10.1.2.4"), {"host.example", {"alias.example"}}},
        {ip("10.1.2.5"), {"a", {"b", "a.example", "c.example"}}},
        {ip("10.1.2.6"), {"a", {"b"}}},
        {ip("10.1.2.7"), {longName, {}}},
        {ip("10.1.2.8"), {"", {}}},
    };
    ResolverScope scope(&names);

    struct Case {
        const char* name;
        in_addr_t addr;
        unsigned port;
        std::string want;
    } cases[] = {
        {"address 0", 0, 80, ""},
        {"no name", ip("10.1.2.3"), 9229, "10.1.2.3:9229"},
        {"official name with a dot", ip("10.1.2.4"), 9229, "host.example:9229"},
        {"first alias with a dot", ip("10.1.2.5"), 9229, "a.example:9229"},
        {"no name with a dot", ip("10.1.2.6"), 9229, "10.1.2.6:9229"},
        {"long name cut to 64", ip("10.1.2.7"), 9229, longName.substr(0, 64) + ":9229"},
        {"empty name", ip("10.1.2.8"), 1, "10.1.2.8:1"},
        {"port 0", ip("10.1.2.3"), 0, "10.1.2.3:0"},
        {"port is not bounded here", ip("10.1.2.3"), 4294967295u, "10.1.2.3:4294967295"},
        {"all ones", ip("255.255.255.255"), 65535, "255.255.255.255:65535"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(makeAddrString(c.addr, c.port), c.want);
    }
}

TEST(NetUtilAddrToAddrString, ReadsThenWrites) {
    TableResolver names;
    names.addresses = {{"a", ip("10.1.2.5")}};
    names.names = {{ip("10.1.2.4"), {"host.example", {}}}, {ip("10.1.2.5"), {"a", {"a.example"}}}};
    ResolverScope scope(&names);
    EXPECT_EQ(addrToAddrString("10.1.2.4:80"), "host.example:80");
    EXPECT_EQ(addrToAddrString("10.1.2.3"), "10.1.2.3:0");
    EXPECT_EQ(addrToAddrString("a:9229"), "a.example:9229");
    EXPECT_EQ(addrToAddrString("10.0.0.x:80"), std::nullopt);
    EXPECT_EQ(addrToAddrString("10.1.2.4:0"), std::nullopt);
}

int openDescriptorCount() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

// The addresses `ip` lists for interfaces that are up; false when it cannot
// be run.
bool ipListedAddresses(std::vector<std::string>* out) {
    FILE* p = popen("ip -4 -o addr show up 2>/dev/null", "r");
    if (!p) return false;
    char line[1024];
    while (std::fgets(line, sizeof line, p)) {
        std::istringstream words(line);
        std::string word;
        while (words >> word && word != "inet") {
        }
        if (words >> word) out->push_back(word.substr(0, word.find('/')));
    }
    int status = pclose(p);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(NetUtilGetAllIpAddr, AgreesWithIp) {
    std::vector<std::string> expected;
    if (!ipListedAddresses(&expected)) GTEST_SKIP() << "ip cannot be run";

    int descriptors = openDescriptorCount();
    auto list = newStringList();
    ASSERT_NE(list, nullptr);
    int added = getAllIpAddr(list.get());
    std::optional<std::string> own = getIpAddr();
    EXPECT_EQ(openDescriptorCount(), descriptors);

    std::vector<std::string> got;
    for (String* s = list->first; s; s = s->next) got.push_back(StringList::getValue(s));
    EXPECT_EQ(added, static_cast<int>(got.size()));
    EXPECT_EQ(got, expected);

    std::optional<std::string> firstOther;
    for (const std::string& a : expected) {
        if (a.compare(0, 3, "127") != 0) {
            firstOther = a;
            break;
        }
    }
    EXPECT_EQ(own, firstOther);
}

TEST(NetUtilGetAllIpAddr, NullListGivesZero) {
    EXPECT_EQ(getAllIpAddr(nullptr), 0);
}

TEST(NetUtilGetAllIpAddr, AddsAfterExistingEntries) {
    auto list = newStringList();
    ASSERT_NE(list, nullptr);
    list->add("first");
    int added = getAllIpAddr(list.get());
    EXPECT_EQ(list->countEntries(), added + 1);
    EXPECT_STREQ(StringList::getValue(list->first), "first");
}

// SIGUSR1 with a handler installed without SA_RESTART, so that a blocked
// call returns EINTR; the old disposition comes back at the end.
volatile sig_atomic_t g_signalsCaught = 0;
void countSignal(int) {
    g_signalsCaught = g_signalsCaught + 1;
}

class InterruptingSignal {
public:
    InterruptingSignal() {
        g_signalsCaught = 0;
        struct sigaction sa {};
        sa.sa_handler = countSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        sigaction(SIGUSR1, &sa, &old_);
    }
    ~InterruptingSignal() { sigaction(SIGUSR1, &old_, nullptr); }
    InterruptingSignal(const InterruptingSignal&) = delete;
    InterruptingSignal& operator=(const InterruptingSignal&) = delete;

private:
    struct sigaction old_ {};
};

// A connected socket pair; with the parameter set, the reading end is moved
// to descriptor 1500, beyond what select's fd_set can hold.
class NetUtilReadFromSocket : public ::testing::TestWithParam<bool> {
protected:
    static constexpr int kHighDescriptor = 1500;

    void SetUp() override {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        reader_ = sv[0];
        writer_ = sv[1];
        if (!GetParam()) return;
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &oldLimit_), 0);
        if (oldLimit_.rlim_max != RLIM_INFINITY && oldLimit_.rlim_max < kHighDescriptor + 1)
            GTEST_SKIP() << "RLIMIT_NOFILE hard limit below " << kHighDescriptor + 1;
        if (oldLimit_.rlim_cur != RLIM_INFINITY && oldLimit_.rlim_cur < kHighDescriptor + 1) {
            struct rlimit raised = oldLimit_;
            raised.rlim_cur = kHighDescriptor + 1;
            ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
            limitRaised_ = true;
        }
        ASSERT_EQ(fcntl(kHighDescriptor, F_GETFD), -1) << "descriptor 1500 already in use";
        ASSERT_EQ(dup2(reader_, kHighDescriptor), kHighDescriptor);
        close(reader_);
        reader_ = kHighDescriptor;
    }

    void TearDown() override {
        if (reader_ >= 0) close(reader_);
        closeWriter();
        if (limitRaised_) setrlimit(RLIMIT_NOFILE, &oldLimit_);
    }

    void closeWriter() {
        if (writer_ >= 0) close(writer_);
        writer_ = -1;
    }

    int reader_ = -1;
    int writer_ = -1;

private:
    struct rlimit oldLimit_ {};
    bool limitRaised_ = false;
};

TEST_P(NetUtilReadFromSocket, TimeOutWithoutDataGivesZeroNotEarly) {
    char buf[16];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readFromSocket(reader_, buf, sizeof buf, 1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
}

// A missed end of stream would show as a 60 s stall, past the test's limit.
TEST_P(NetUtilReadFromSocket, ClosedPeerGivesZero) {
    closeWriter();
    char buf[16];
    EXPECT_EQ(readFromSocket(reader_, buf, sizeof buf, 60), 0);
}

TEST_P(NetUtilReadFromSocket, WaitingBytesAreRead) {
    ASSERT_EQ(write(writer_, "0123456789", 10), 10);
    char buf[64];
    ASSERT_EQ(readFromSocket(reader_, buf, sizeof buf, 1), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
}

TEST_P(NetUtilReadFromSocket, ReadsAtMostSizeOnce) {
    ASSERT_EQ(write(writer_, "0123456789", 10), 10);
    char buf[4];
    ASSERT_EQ(readFromSocket(reader_, buf, sizeof buf, 1), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    ASSERT_EQ(readFromSocket(reader_, buf, sizeof buf, 1), 4);
    EXPECT_EQ(std::string(buf, 4), "4567");
}

// A signal at 200 ms into a 5 s wait once ended it with 0; the data sent at
// 600 ms must be returned instead.
TEST_P(NetUtilReadFromSocket, CaughtSignalDoesNotEndTheWait) {
    InterruptingSignal signal;
    pthread_t waiting = pthread_self();
    int writer = writer_;
    std::thread other([waiting, writer] {
        std::this_thread::sleep_for(200ms);
        pthread_kill(waiting, SIGUSR1);
        std::this_thread::sleep_for(400ms);
        if (write(writer, "0123456789", 10) != 10) std::perror("write");
    });
    char buf[64];
    ssize_t got = readFromSocket(reader_, buf, sizeof buf, 5);
    other.join();
    EXPECT_EQ(g_signalsCaught, 1);
    ASSERT_EQ(got, 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
}

INSTANTIATE_TEST_SUITE_P(NetUtil, NetUtilReadFromSocket, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Descriptor1500" : "LowDescriptor";
                         });

TEST(NetUtilReadFromSocketErrors, FailedWaitGivesZero) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    char buf[4];
    // A closed descriptor: the wait fails at once (no stall up to 60 s).
    EXPECT_EQ(readFromSocket(fds[0], buf, sizeof buf, 60), 0);
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(readFromSocket(fds[0], buf, sizeof buf, -1), 0);
    EXPECT_EQ(readFromSocket(fds[0], buf, sizeof buf, 0), 1);
    close(fds[0]);
    close(fds[1]);
}

TEST(NetUtilReadFromSocketErrors, ReadErrorGivesMinusOne) {
    // A descriptor that polls readable but cannot be read: a directory.
    int fd = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    char buf[4];
    EXPECT_EQ(readFromSocket(fd, buf, sizeof buf, 1), -1);
    close(fd);
}

TEST(NetUtilMysleep, SelectResult) {
    EXPECT_EQ(mysleep(0), 0);
    EXPECT_EQ(mysleep(1000), 0);
}

// A reader process for a pipe: reads to the end (pausing after every chunk
// when slow, so that the writer blocks) and exits 0 when it got want.
pid_t startReader(int fds[2], const std::string& want, bool slow) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid != 0) {
        close(fds[0]);
        return pid;
    }
    close(fds[1]);
    if (slow) usleep(50000);
    std::string got;
    char buf[16384];
    for (;;) {
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
        if (slow) usleep(2000);
    }
    _exit(got == want ? 0 : 1);
}

int waitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

constexpr size_t kMiB = 1048576;

// 1 MiB of formatted text: a head, a number and a tail of varied bytes.
struct MebibyteText {
    std::string head = std::string(1000, 'h');
    std::string tail;
    std::string all;
    MebibyteText() {
        size_t tailSize = kMiB - head.size() - 9;  // "%08d\n"
        for (size_t i = 0; i < tailSize; ++i) tail.push_back(static_cast<char>('a' + (i * 7 + i / 97) % 26));
        all = head + "00000042\n" + tail;
    }
};

TEST(NetUtilFdprintf, MebibyteReachesReaderByteExact) {
    MebibyteText text;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t reader = startReader(fds, text.all, false);
    ASSERT_GT(reader, 0);
    EXPECT_EQ(fdprintf(fds[1], "%s%08d\n%s", text.head.c_str(), 42, text.tail.c_str()),
              static_cast<int>(kMiB));
    close(fds[1]);
    EXPECT_EQ(waitStatus(reader), 0);
}

// Signals without SA_RESTART cut the blocked writes short (or fail them with
// EINTR); the rest must still be written.
TEST(NetUtilFdprintf, SignalsDuringTheWriteLoseNothing) {
    MebibyteText text;
    InterruptingSignal signal;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t reader = startReader(fds, text.all, true);
    ASSERT_GT(reader, 0);
    std::atomic<bool> done{false};
    pthread_t writing = pthread_self();
    std::thread other([&] {
        while (!done) {
            pthread_kill(writing, SIGUSR1);
            std::this_thread::sleep_for(3ms);
        }
    });
    int written = fdprintf(fds[1], "%s%08d\n%s", text.head.c_str(), 42, text.tail.c_str());
    done = true;
    other.join();
    close(fds[1]);
    EXPECT_EQ(written, static_cast<int>(kMiB));
    EXPECT_EQ(waitStatus(reader), 0);
    EXPECT_GT(g_signalsCaught, 0);
}

class IgnoredSigpipe {
public:
    IgnoredSigpipe() { old_ = signal(SIGPIPE, SIG_IGN); }
    ~IgnoredSigpipe() { signal(SIGPIPE, old_); }
    IgnoredSigpipe(const IgnoredSigpipe&) = delete;
    IgnoredSigpipe& operator=(const IgnoredSigpipe&) = delete;

private:
    sighandler_t old_;
};

TEST(NetUtilFdprintf, ClosedReaderGivesMinusOne) {
    IgnoredSigpipe ignored;
    MebibyteText text;
    for (const std::string* s : {&text.head, &text.all}) {
        SCOPED_TRACE(s->size());
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        EXPECT_EQ(fdprintf(fds[1], "%s", s->c_str()), -1);
        close(fds[1]);
    }
}

TEST(NetUtilFdprintf, BadDescriptorGivesMinusOne) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(fdprintf(fds[1], "%s", "x"), -1);
}

std::string fileBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Lengths from empty to past the old fixed buffer of 131,072 bytes; the
// length comes from the formatter, so an embedded NUL is written too.
TEST(NetUtilFdprintf, LengthsAroundTheBuffer) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (size_t size :
         {size_t{0}, size_t{1}, size_t{100}, size_t{8192}, size_t{131071}, size_t{131072}, size_t{200000}}) {
        SCOPED_TRACE(size);
        std::string body(size, 'x');
        for (size_t i = 0; i < size; i += 7) body[i] = static_cast<char>('0' + i % 10);
        std::string name = dir.file("out" + std::to_string(size));
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(fdprintf(fd, "%s", body.c_str()), static_cast<int>(size));
        close(fd);
        EXPECT_EQ(fileBytes(name), body);
    }
    std::string name = dir.file("nul");
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fdprintf(fd, "300 \"%s\" %u%c[%s]\n", "a b", 7u, '\0', "x"), 16);
    close(fd);
    EXPECT_EQ(fileBytes(name), std::string("300 \"a b\" 7\0[x]\n", 16));
}

TEST(NetUtilRedirectDescriptors, OutputGoesToFileAndComesBack) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string name = dir.file("log");
    {
        std::ofstream old(name);
        old << "0123456789";
    }
    int rc = inChild([&] {
        struct stat before {};
        if (fstat(STDOUT_FILENO, &before) != 0) return 10;
        int out = -5, err = -5;
        if (redirectDescriptors(name.c_str(), &out, &err) != 1) return 11;
        if (out < 3 || err < 3) return 12;
        if (write(STDOUT_FILENO, "ab", 2) != 2 || write(STDERR_FILENO, "c", 1) != 1) return 13;
        if (restoreDescriptors(out, err) != 1) return 14;
        struct stat after {};
        if (fstat(STDOUT_FILENO, &after) != 0) return 15;
        if (before.st_ino != after.st_ino || before.st_dev != after.st_dev) return 16;
        if (fcntl(out, F_GETFD) != -1 || fcntl(err, F_GETFD) != -1) return 17;  // saved copies closed
        return 0;
    });
    EXPECT_EQ(rc, 0);
    // Opened without cutting: the old bytes past the new ones stay.
    EXPECT_EQ(fileBytes(name), "abc3456789");
}

TEST(NetUtilRedirectDescriptors, NewFileModeAndOneStream) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string name = dir.file("new");
    int rc = inChild([&] {
        umask(022);
        int err = -5;
        if (redirectDescriptors(name.c_str(), nullptr, &err) != 1) return 11;
        if (write(STDERR_FILENO, "e", 1) != 1) return 12;
        if (restoreDescriptors(-1, err) != 1) return 13;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    struct stat st {};
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(fileBytes(name), "e");
}

TEST(NetUtilRedirectDescriptors, FailureLeavesDescriptorsAlone) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string name = dir.file("missing/log");
    int rc = inChild([&] {
        struct stat before {};
        if (fstat(STDOUT_FILENO, &before) != 0) return 10;
        int out = -5, err = -5;
        if (redirectDescriptors(name.c_str(), &out, &err) != 0) return 11;
        if (out != -1 || err != -1) return 12;
        struct stat after {};
        if (fstat(STDOUT_FILENO, &after) != 0) return 13;
        if (before.st_ino != after.st_ino) return 14;
        // Standard error closed: its duplicate cannot be made, and standard
        // output, already pointed at the file, is put back.
        close(STDERR_FILENO);
        const std::string good = dir.file("good");
        if (redirectDescriptors(good.c_str(), &out, &err) != 0) return 15;
        if (out != -1 || err != -1) return 16;
        if (fstat(STDOUT_FILENO, &after) != 0 || before.st_ino != after.st_ino) return 17;
        if (fcntl(STDERR_FILENO, F_GETFD) != -1) return 18;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace ruva
