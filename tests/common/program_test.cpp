#include "common/program.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ruva {
namespace {

// Exit status of the child, or 1000 + signal, or -1 when it cannot be waited for.
int waitFor(pid_t pid) {
    int status = 0;
    if (pid <= 0) return -1;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST(ProgramForkProgram, ExitStatusTable) {
    struct Case {
        const char* name;
        const char* command;
        int status;
    } cases[] = {
        {"absolute path", "/bin/true", 0},
        {"found through PATH", "true", 0},
        {"arguments reach the program", "/bin/sh -c 'exit 7'", 7},
        {"quoted word with a blank", "/bin/sh -c 'test \"\\$0\" = \"a b\"' \"a b\"", 0},
        {"program that does not exist", "/nonexistent/prog", 2},
        {"name not in PATH", "ruva_no_such_program_anywhere", 2},
        {"empty command", "", 2},
        {"only blanks", "   \t ", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(waitFor(forkProgram(c.command)), c.status);
    }
    EXPECT_EQ(waitFor(forkProgram(nullptr)), 2);
}

// Each word is expanded like a path: ~ from the password database, $NAME
// from the environment, \$ for a literal $.
TEST(ProgramForkProgram, WordsAreExpanded) {
    struct passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string expected = std::string(pw->pw_dir) + "/x";
    ASSERT_EQ(setenv("RUVA_T_EXPECT", expected.c_str(), 1), 0);
    EXPECT_EQ(waitFor(forkProgram("/bin/sh -c 'test \"\\$0\" = \"\\$RUVA_T_EXPECT\"' ~/x")), 0);
    EXPECT_EQ(waitFor(forkProgram("/bin/sh -c 'test \"\\$0\" = \"\\$RUVA_T_EXPECT\"' $RUVA_T_EXPECT")), 0);
    EXPECT_EQ(waitFor(forkProgram("/bin/sh -c 'test \"\\$0\" = \"\\$RUVA_T_EXPECT\"' ~/y")), 1);
    unsetenv("RUVA_T_EXPECT");
}

// sh -c SCRIPT $0 $1 ...: "exit $#" reports how many words came after $0;
// 63 words leave room for 60 after the script.
TEST(ProgramForkProgram, AtMost63Words) {
    struct Case {
        int extra;  // words after the script
        int status;
    } cases[] = {{1, 0}, {59, 58}, {60, 59}, {61, 59}, {80, 59}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.extra);
        std::string command = "/bin/sh -c 'exit \\$#'";
        for (int i = 0; i < c.extra; i++) command += " w" + std::to_string(i);
        EXPECT_EQ(waitFor(forkProgram(command.c_str())), c.status);
    }
}

// The child must end with _exit: exit would flush the copy of the parent's
// stdio buffer a second time. Run in a forked test process so that the test
// runner's own stdout is left alone.
TEST(ProgramForkProgram, UnflushedStdoutReachesThePipeOnce) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    std::fflush(nullptr);
    pid_t tester = fork();
    ASSERT_GE(tester, 0);
    if (tester == 0) {
        close(p[0]);
        if (dup2(p[1], 1) < 0) _exit(10);
        close(p[1]);
        std::fputc('X', stdout);  // stays in the buffer: no newline, no flush
        if (waitFor(forkProgram("/nonexistent/prog")) != 2) _exit(11);
        if (waitFor(forkProgram("/bin/true")) != 0) _exit(12);
        if (waitFor(forkProgram("")) != 2) _exit(13);
        std::fflush(stdout);
        _exit(0);
    }
    close(p[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(p[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) out.append(buf, static_cast<size_t>(n));
    close(p[0]);
    EXPECT_EQ(waitFor(tester), 0);
    EXPECT_EQ(out, "X");
}

}  // namespace
}  // namespace ruva
