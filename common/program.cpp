#include "common/program.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/tokens.h"

namespace ruva {

namespace {

constexpr size_t kMaxWords = 63;
constexpr int kCannotRun = 2;

}  // namespace

pid_t forkProgram(const char* command) {
    // The words are split and expanded before the fork: the child of a
    // threaded process may only make async-signal-safe calls, and the
    // password look-ups of ~user are not.
    std::string line = command ? command : "";
    std::vector<std::string> words;
    char* cursor = line.data();
    while (words.size() < kMaxWords) {
        char* token = getNextToken(&cursor);
        if (!token) break;
        words.emplace_back();
        completeExpandTilde(words.back(), token);
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    pid_t pid = ::fork();
    if (pid != 0) return pid;

    // The child never returns nor calls exit: that would flush the parent's
    // stdio buffers a second time and run the parent's static destructors.
    if (!words.empty()) {
        if (std::strchr(argv[0], '/'))
            ::execv(argv[0], argv.data());
        else
            ::execvp(argv[0], argv.data());
    }
    ::_exit(kCannotRun);
}

}  // namespace ruva
