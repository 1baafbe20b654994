#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace ruva::test
