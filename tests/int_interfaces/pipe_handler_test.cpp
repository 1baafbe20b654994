#include "int_interfaces/pipe_handler.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ruva {
namespace {

// Children: each writes raw bytes to its parent through the handler.

int writesTwoLinesAndExits(PipeHandler* ph, PipeHandlerEntry* e) {
    return ph->childWriteParent(e, "a\nb", 3) ? 0 : 1;
}

int exitsAtOnce(PipeHandler*, PipeHandlerEntry*) {
    return 0;
}

// 600 bytes without newline, then the newline once the parent says "go".
int writesLongLineInTwoParts(PipeHandler* ph, PipeHandlerEntry* e) {
    std::string x(600, 'x');
    if (!ph->childWriteParent(e, x.data(), x.size())) return 1;
    while (e->parentwfds[0] >= 0 && !e->sl->first) ph->childWaitData(e);
    return ph->childWriteParent(e, "\n", 1) ? 0 : 2;
}

// Tells the parent every line it gets until its input ends, then what one
// more childWaitData returns.
int echoesUntilInputEnds(PipeHandler* ph, PipeHandlerEntry* e) {
    while (e->parentwfds[0] >= 0) {
        ph->childWaitData(e);
        while (String* s = e->sl->unqueue()) {
            std::string line = "saw:" + s->value + "\n";
            e->sl->qfree(s);
            ph->childWriteParent(e, line.data(), line.size());
        }
    }
    std::string end = "end:" + std::to_string(ph->childWaitData(e)) + "\n";
    return ph->childWriteParent(e, end.data(), end.size()) ? 0 : 1;
}

int writes20KiBAndDies(PipeHandler* ph, PipeHandlerEntry* e) {
    std::string all;
    for (int i = 0; i < 2000; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "line %04d\n", i);
        all += line;
    }
    return ph->childWriteParent(e, all.data(), all.size()) ? 0 : 1;
}

int ignoresCloseWordAndHangup(PipeHandler* ph, PipeHandlerEntry* e) {
    std::signal(SIGHUP, SIG_IGN);
    ph->childWriteParent(e, "ready\n", 6);
    for (;;) ::pause();
}

// What the child finds for the fault signals the parent handles.
int reportsFaultSignals(PipeHandler* ph, PipeHandlerEntry* e) {
    struct sigaction segv {
    }, bus{};
    sigaction(SIGSEGV, nullptr, &segv);
    sigaction(SIGBUS, nullptr, &bus);
    std::string line = std::string(segv.sa_handler == SIG_DFL ? "segv default" : "segv handled") +
                       (bus.sa_handler == SIG_DFL ? ", bus default\n" : ", bus handled\n");
    return ph->childWriteParent(e, line.data(), line.size()) ? 0 : 1;
}

void onFault(int) {}

std::string linesBeginning(const std::string& text, const std::string& prefix) {
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(at, prefix.size(), prefix) == 0) out += text.substr(at, end - at);
        at = end;
    }
    return out;
}

class PipeHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ph = newPipeHandler(0);
        ASSERT_NE(ph, nullptr);
        ph->setWaitTime(0, 20000);
        trace = std::tmpfile();
        ASSERT_NE(trace, nullptr);
        ph->setLogFile(trace);
        PipeHooks hooks;
        hooks.sleep = [](void* self, long usec) {
            static_cast<PipeHandlerTest*>(self)->sleeps.push_back(usec);
        };
        hooks.signal = [](void* self, pid_t pid, int sig) {
            static_cast<PipeHandlerTest*>(self)->signals.emplace_back(pid, sig);
            return kill(pid, sig);
        };
        hooks.context = this;
        ph->setHooks(hooks);
    }
    void TearDown() override {
        if (ph) ph->freeEntryListNowait();
        ph.reset();
        if (trace) std::fclose(trace);
    }

    // Lines queued by any child, in arrival order, until want came or the
    // children have nothing more.
    std::vector<std::string> takeLines(size_t want) {
        std::vector<std::string> got;
        for (int round = 0; round < 300 && got.size() < want; ++round) {
            PipeHandlerEntry* e = ph->parentWaitEntry();
            if (!e) continue;
            while (String* s = e->sl->unqueue()) {
                got.push_back(s->value);
                e->sl->qfree(s);
            }
        }
        return got;
    }
    std::string traceText() {
        std::fflush(trace);
        std::rewind(trace);
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, trace)) > 0) text.append(buf, n);
        return text;
    }
    // Waits for the child's end without reaping it.
    static void waitDead(pid_t pid) {
        siginfo_t info{};
        ASSERT_EQ(waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    }

    std::unique_ptr<PipeHandler> ph;
    FILE* trace = nullptr;
    std::vector<long> sleeps;
    std::vector<std::pair<pid_t, int>> signals;
};

TEST_F(PipeHandlerTest, LastLineWithoutNewlineComesAtEndOfFile) {
    PipeHandlerEntry* e = ph->add(&writesTwoLinesAndExits, nullptr);
    ASSERT_NE(e, nullptr);
    pid_t pid = e->cpid;
    EXPECT_EQ(takeLines(2), (std::vector<std::string>{"a", "b"}));
    // Dead and emptied: the entry goes.
    for (int i = 0; i < 300 && ph->countEntries() > 0; ++i) ph->parentWaitEntry();
    EXPECT_EQ(ph->countEntries(), 0);
    EXPECT_TRUE(ph->flags & kPipeEntryRemoved);
    EXPECT_NE(traceText().find("parentWaitChildren: Child pid " + std::to_string(pid) + " died\n"),
              std::string::npos);
}

TEST_F(PipeHandlerTest, UnfinishedLineIsCutTo511) {
    PipeHandlerEntry* e = ph->add(&writesLongLineInTwoParts, nullptr);
    ASSERT_NE(e, nullptr);
    for (int i = 0; i < 300 && e->entryBufLen == 0; ++i) {
        if (ph->parentChildHasData(e)) {
            EXPECT_EQ(ph->parentReadProcessData(e), 0);
        }
    }
    EXPECT_EQ(e->entryBufLen, kPipeLineMax);
    ASSERT_EQ(ph->parentWriteChild(e, "go\n", 3), 1);
    EXPECT_EQ(takeLines(1), (std::vector<std::string>{std::string(511, 'x')}));
}

TEST_F(PipeHandlerTest, CloseWordIsNeverHandedToTheChild) {
    PipeHandlerEntry* e = ph->add(&echoesUntilInputEnds, nullptr);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(ph->parentWriteChild(e, "x\nVKCL\n", 7), 1);
    EXPECT_EQ(takeLines(2), (std::vector<std::string>{"saw:x", "end:0"}));
}

// Whatever a dead child left in its pipe is queued, not just one read of it.
TEST_F(PipeHandlerTest, DeadChildsPipeIsReadToItsEnd) {
    PipeHandlerEntry* e = ph->add(&writes20KiBAndDies, nullptr);
    ASSERT_NE(e, nullptr);
    waitDead(e->cpid);
    ph->parentWaitChildren();
    ASSERT_EQ(ph->findEntry(e), 1);
    EXPECT_EQ(e->cpid, 0);
    EXPECT_EQ(e->parentrfds[0], -1);
    EXPECT_EQ(e->parentwfds[1], -1);
    ASSERT_EQ(e->sl->countEntries(), 2000);
    EXPECT_STREQ(StringList::getValue(e->sl->first), "line 0000");
    EXPECT_STREQ(StringList::getValue(e->sl->last), "line 1999");
    // Emptied, the entry of a dead child goes.
    e->sl->clear();
    ph->parentWaitChildren();
    EXPECT_EQ(ph->countEntries(), 0);
}

// Close word, hangup, kill: followed through the hooks, never by the clock.
TEST_F(PipeHandlerTest, StubbornChildIsHungUpThenKilled) {
    for (bool nowait : {false, true}) {
        SCOPED_TRACE(nowait ? "freeEntryListNowait" : "freeEntryList");
        sleeps.clear();
        signals.clear();
        PipeHandlerEntry* e = ph->add(&ignoresCloseWordAndHangup, nullptr);
        ASSERT_NE(e, nullptr);
        pid_t pid = e->cpid;
        ASSERT_EQ(takeLines(1), (std::vector<std::string>{"ready"}));
        long traceStart = std::ftell(trace);
        if (nowait) {
            ph->freeEntryListNowait();
            EXPECT_TRUE(sleeps.empty());
        } else {
            ph->freeEntryList();
            // One in parentCloseEntry, one after the close, one after the hangup.
            EXPECT_EQ(sleeps, (std::vector<long>{1000000, 1000000, 1000000}));
        }
        EXPECT_EQ(signals, (std::vector<std::pair<pid_t, int>>{{pid, SIGHUP}, {pid, SIGKILL}}));
        EXPECT_EQ(ph->countEntries(), 0);
        int status = 0;
        if (waitpid(pid, &status, 0) == pid) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        }
        EXPECT_EQ(linesBeginning(traceText().substr(static_cast<size_t>(traceStart)), "freeEntryList:"),
                  "freeEntryList: Starting\n"
                  "freeEntryList: Closing entries\n"
                  "freeEntryList: Sending hangup signals to entries\n"
                  "freeEntryList: Sending kill signals to entries\n"
                  "freeEntryList: Ending\n");
        std::fseek(trace, 0, SEEK_END);
    }
    // The daemon ignores SIGPIPE for life: closing puts back what it found.
    struct sigaction now {};
    sigaction(SIGPIPE, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_IGN);
}

// A reaped pid may already be someone else's: it is never signalled.
TEST_F(PipeHandlerTest, ChildReapedElsewhereIsNeverSignalled) {
    PipeHandlerEntry* e = ph->add(&exitsAtOnce, nullptr);
    ASSERT_NE(e, nullptr);
    pid_t pid = e->cpid;
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ph->childReaped(pid);
    EXPECT_EQ(e->cpid, 0);
    ph->freeEntryListNowait();
    EXPECT_TRUE(signals.empty());
    EXPECT_EQ(ph->countEntries(), 0);
}

TEST_F(PipeHandlerTest, WriteToDeadChildFailsAndParentLives) {
    PipeHandlerEntry* e = ph->add(&exitsAtOnce, nullptr);
    ASSERT_NE(e, nullptr);
    waitDead(e->cpid);
    EXPECT_EQ(ph->parentWriteChild(e, "hello\n", 6), 0);
    EXPECT_EQ(std::string(ph->getError()), std::string("Write failed, ") + std::strerror(EPIPE));

    EXPECT_EQ(ph->parentCloseEntryNowait(e), 1);
    EXPECT_EQ(ph->parentWriteChild(e, "hello\n", 6), 0);
    EXPECT_STREQ(ph->getError(), "Cannot write, pipe to child closed");
    EXPECT_NE(traceText().find("parentWriteChild: Cannot write, pipe closed\n"), std::string::npos);
    EXPECT_EQ(ph->parentCloseEntryNowait(e), 0);
    EXPECT_STREQ(ph->getError(), "Already closed");
}

// A fault in a child must not run the parent's restart handler.
TEST_F(PipeHandlerTest, ChildStartsWithDefaultFaultSignals) {
    struct sigaction handled {
    }, oldSegv{}, oldBus{};
    handled.sa_handler = onFault;
    sigaction(SIGSEGV, &handled, &oldSegv);
    sigaction(SIGBUS, &handled, &oldBus);
    PipeHandlerEntry* e = ph->add(&reportsFaultSignals, nullptr);
    sigaction(SIGSEGV, &oldSegv, nullptr);
    sigaction(SIGBUS, &oldBus, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(takeLines(1), (std::vector<std::string>{"segv default, bus default"}));
}

TEST_F(PipeHandlerTest, InlineHandlerRunsInThisProcess) {
    ph->flags |= kPipeInline;
    int ran = 0;
    PipeHandlerEntry* e = ph->add(
        [](PipeHandler*, PipeHandlerEntry* entry) {
            ++*static_cast<int*>(entry->cdata1);
            return 0;
        },
        &ran);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(e->cpid, getpid());
    EXPECT_EQ(e->parentwfds[0], STDIN_FILENO);
}

TEST(PipeHandler, HandlerNameNeverOverrunsArgv0) {
    auto ph = newPipeHandler(0);
    ASSERT_NE(ph, nullptr);
    struct Case {
        const char* argv0;
        const char* expected;
    } cases[] = {
        {"twenty-chars-program", "abcdefghijklmno"},
        {"prog", "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argv0);
        // argv[0] followed by the next argument, as the system lays them out.
        std::string area = std::string(c.argv0) + '\0' + "next";
        area += '\0';
        char* argv[] = {area.data(), nullptr};
        ph->argv = argv;
        ph->setHandlerName("abcdefghijklmnopqrst");
        EXPECT_STREQ(ph->handlerName(), "abcdefghijklmno");
        EXPECT_STREQ(area.c_str(), c.expected);
        EXPECT_EQ(std::string(area.data() + std::strlen(c.argv0), 6), std::string("\0next\0", 6));
    }
}

}  // namespace
}  // namespace ruva
