#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace ruva::test
