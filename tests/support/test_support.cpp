#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace ruva::test {

std::string testDataDir() {
    const char* env = std::getenv("RUVA_TESTDATA");
    std::string dir = env && *env ? env : RUVA_TESTDATA_DIR;
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        ADD_FAILURE() << "test data directory not found: " << dir
                      << " (set RUVA_TESTDATA or configure RUVA_TESTDATA_DIR)";
        return "";
    }
    return dir;
}

TempDir::TempDir(const char* base) {
    std::string templ = std::string(base) + "/ruva_test.XXXXXX";
    if (mkdtemp(templ.data())) path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

static void putEnv(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

EnvGuard::~EnvGuard() {
    for (const auto& [name, value] : saved_) putEnv(name, value);
}

void EnvGuard::set(const std::string& name, const std::optional<std::string>& value) {
    if (!saved_.count(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    putEnv(name, value);
}

std::optional<std::string> envValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::unique_ptr<char[]> exactCopy(std::string_view text) {
    auto copy = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

int inChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

bool Link::send(char c) const {
    return write(out, &c, 1) == 1;
}

char Link::receive() const {
    char c = 0;
    ssize_t n;
    do n = read(in, &c, 1);
    while (n == -1 && errno == EINTR);
    return n == 1 ? c : 0;
}

Child::Child(const std::function<int(const Link&)>& body) {
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0) return;
    if (pipe(fromChild) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        close(toChild[1]);
        close(fromChild[0]);
        _exit(body(Link{toChild[0], fromChild[1]}));
    }
    close(toChild[0]);
    close(fromChild[1]);
    link_ = Link{fromChild[0], toChild[1]};
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(link_.in);
    close(link_.out);
}

bool Child::running() const {
    siginfo_t info{};
    return waitid(P_PID, pid_, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

int Child::finish() {
    int status = 0;
    pid_t pid = pid_;
    pid_ = -1;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void removeSemaphoreSet(key_t key) {
    int id = semget(key, 0, 0);
    if (id != -1) semctl(id, 0, IPC_RMID);
}

std::string readFile(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

void writeFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    ASSERT_TRUE(ok) << path;
}

std::string pythonCommand() {
    const char* env = std::getenv("RUVA_PYTHON");
    if (env && *env) return env;
    return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
}

int runShell(const std::string& cmd) {
    int st = std::system(cmd.c_str());
    return st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::string capture(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int st = pclose(p);
    if (status) *status = st != -1 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return out;
}

SocketReader::SocketReader() {
    std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds_), 0);
    reader_ = std::thread([this] {
        char chunk[65536];
        ssize_t n;
        while ((n = read(fds_[1], chunk, sizeof chunk)) > 0) got_.append(chunk, size_t(n));
    });
}

SocketReader::~SocketReader() {
    if (reader_.joinable()) finish();
}

std::string SocketReader::finish() {
    close(fds_[0]);
    reader_.join();
    close(fds_[1]);
    return got_;
}

PageEndText::PageEndText(std::string_view text) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (text.size() + page - 1) / page;
    mapLen_ = (dataPages + 1) * page;
    void* map = mmap(nullptr, mapLen_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        ADD_FAILURE() << "mmap: " << std::strerror(errno);
        mapLen_ = 0;
        return;
    }
    map_ = map;
    char* guard = static_cast<char*>(map_) + dataPages * page;
    EXPECT_EQ(mprotect(guard, page, PROT_NONE), 0);
    char* start = guard - text.size();
    std::memcpy(start, text.data(), text.size());
    data_ = start;
    size_ = text.size();
}

PageEndText::~PageEndText() {
    if (map_) munmap(map_, mapLen_);
}

}  // namespace ruva::test
