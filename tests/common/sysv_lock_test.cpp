#include "common/sysv_lock.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::Child;
using test::Link;
using test::removeSemaphoreSet;

// A lock call's result with the errno it left.
struct Outcome {
    int result;
    int err;
    bool operator==(const Outcome&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{" << o.result << ", errno " << o.err << "}";
}
Outcome outcome(int result) {
    return {result, errno};
}

std::array<int, 3> values(int id, int count) {
    std::array<int, 3> v = {0, 0, 0};
    for (int i = 0; i < count; ++i) v[i] = semctl(id, i, GETVAL);
    return v;
}

// Spins until count processes sleep waiting for semaphore semnum of set id
// to reach zero; false when the child ended first.
bool awaitZeroWaiters(const Child& child, int id, int semnum, int count) {
    while (semctl(id, semnum, GETZCNT) < count) {
        if (!child.running()) return false;
        sched_yield();
    }
    return true;
}

enum class Kind { kRead, kWrite, kMutex };

// Any lock kind over one key, so a case table can cover all three.
class AnyLock {
public:
    AnyLock(Kind kind, key_t key) : kind_(kind) {
        if (kind == Kind::kMutex)
            mutex_ = newMutex(key, 0);
        else
            sem_ = newSemaphore(key, 0);
    }
    bool ok() const { return sem_ || mutex_; }
    int id() const { return sem_ ? sem_->id : mutex_->id; }
    int lock(int waitTime) {
        switch (kind_) {
            case Kind::kRead:
                return sem_->readLock(waitTime);
            case Kind::kWrite:
                return sem_->writeLock(waitTime);
            case Kind::kMutex:
                return mutex_->lock(waitTime);
        }
        return 0;
    }
    int unlock() {
        switch (kind_) {
            case Kind::kRead:
                return sem_->readUnlock();
            case Kind::kWrite:
                return sem_->writeUnlock();
            case Kind::kMutex:
                return mutex_->unlock();
        }
        return 0;
    }
    // The semaphore whose value is 1 while the lock is held.
    int heldSemnum() const { return kind_ == Kind::kRead ? 1 : 0; }

private:
    Kind kind_;
    std::unique_ptr<Semaphore> sem_;
    std::unique_ptr<Mutex> mutex_;
};

struct KindCase {
    const char* name;
    Kind kind;
};
constexpr KindCase kKinds[] = {{"read", Kind::kRead}, {"write", Kind::kWrite}, {"mutex", Kind::kMutex}};

class SysvLockTest : public ::testing::Test {
protected:
    // Keys of our own: the pid under a prefix no service uses, plus n.
    key_t testKey(int n) {
        key_t key = static_cast<key_t>(0x40000000 | ((getpid() & 0x3fffff) << 8) | (n & 0xff));
        removeSemaphoreSet(key);
        keys_.push_back(key);
        return key;
    }
    void TearDown() override {
        for (key_t key : keys_) removeSemaphoreSet(key);
    }

    std::vector<key_t> keys_;
};

TEST_F(SysvLockTest, OperationsSetTheTableValues) {
    auto sem = newSemaphore(testKey(1), 0);
    ASSERT_NE(sem, nullptr);
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{0, 0, 0}));
    struct Step {
        const char* name;
        std::function<int()> op;
        int result;
        int err;  // 0: not checked
        std::array<int, 3> after;
    };
    Semaphore& s = *sem;
    const Step semSteps[] = {
        {"readLock", [&] { return s.readLock(0); }, 1, 0, {0, 1, 0}},
        {"second readLock, bounded", [&] { return s.readLock(5); }, 1, 0, {0, 2, 0}},
        {"writeLock while reading", [&] { return s.writeLock(1); }, 0, EDEADLK, {0, 2, 0}},
        {"readUnlock", [&] { return s.readUnlock(); }, 1, 0, {0, 1, 0}},
        {"last readUnlock", [&] { return s.readUnlock(); }, 1, 0, {0, 0, 0}},
        {"readUnlock not held", [&] { return s.readUnlock(); }, 0, EPERM, {0, 0, 0}},
        {"writeUnlock not held", [&] { return s.writeUnlock(); }, 0, EPERM, {0, 0, 0}},
        {"writeLock", [&] { return s.writeLock(0); }, 1, 0, {1, 0, 0}},
        {"readLock while writing", [&] { return s.readLock(1); }, 0, EDEADLK, {1, 0, 0}},
        {"writeLock while writing", [&] { return s.writeLock(1); }, 0, EDEADLK, {1, 0, 0}},
        {"readUnlock while writing", [&] { return s.readUnlock(); }, 0, EPERM, {1, 0, 0}},
        {"writeUnlock", [&] { return s.writeUnlock(); }, 1, 0, {0, 0, 0}},
        {"bounded writeLock", [&] { return s.writeLock(5); }, 1, 0, {1, 0, 0}},
        {"writeUnlock again", [&] { return s.writeUnlock(); }, 1, 0, {0, 0, 0}},
    };
    for (const Step& step : semSteps) {
        SCOPED_TRACE(step.name);
        Outcome got = outcome(step.op());
        EXPECT_EQ(got.result, step.result);
        if (step.err != 0) {
            EXPECT_EQ(got.err, step.err);
        }
        EXPECT_EQ(values(s.id, 3), step.after);
    }

    auto mutex = newMutex(testKey(2), 0);
    ASSERT_NE(mutex, nullptr);
    Mutex& m = *mutex;
    const Step mutexSteps[] = {
        {"unlock not held", [&] { return m.unlock(); }, 0, EPERM, {0, 0, 0}},
        {"lock", [&] { return m.lock(0); }, 1, 0, {1, 0, 0}},
        {"lock while holding", [&] { return m.lock(1); }, 0, EDEADLK, {1, 0, 0}},
        {"unlock", [&] { return m.unlock(); }, 1, 0, {0, 0, 0}},
        {"bounded lock", [&] { return m.lock(5); }, 1, 0, {1, 0, 0}},
        {"unlock again", [&] { return m.unlock(); }, 1, 0, {0, 0, 0}},
    };
    for (const Step& step : mutexSteps) {
        SCOPED_TRACE(step.name);
        Outcome got = outcome(step.op());
        EXPECT_EQ(got.result, step.result);
        if (step.err != 0) {
            EXPECT_EQ(got.err, step.err);
        }
        EXPECT_EQ(values(m.id, 1), step.after);
    }
}

TEST_F(SysvLockTest, ObjectsJoinOneSetAndOnlyDelRemovesIt) {
    key_t key = testKey(1);
    auto a = newSemaphore(key, 7);
    auto b = newSemaphore(key, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->key, key);
    EXPECT_EQ(a->flags, 7);
    EXPECT_EQ(b->id, a->id);
    int id = a->id;
    b.reset();
    EXPECT_EQ(semget(key, 0, 0), id);
    a->del();
    EXPECT_EQ(a->id, -1);
    EXPECT_EQ(semget(key, 0, 0), -1);
    EXPECT_EQ(a->readLock(0), 0);

    key_t mutexKey = testKey(2);
    auto m = newMutex(mutexKey, 0);
    ASSERT_NE(m, nullptr);
    id = m->id;
    m.reset();
    EXPECT_EQ(semget(mutexKey, 0, 0), id);
    m = newMutex(mutexKey, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->id, id);
    m->del();
    EXPECT_EQ(semget(mutexKey, 0, 0), -1);
}

TEST_F(SysvLockTest, KeyHeldByAOneSemaphoreSetRefusesSemaphore) {
    key_t key = testKey(1);
    auto mutex = newMutex(key, 0);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(newSemaphore(key, 0), nullptr);
    EXPECT_EQ(semget(key, 0, 0), mutex->id);
}

TEST_F(SysvLockTest, KeyZeroTwiceInOneSecondGivesOneKey) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        time_t before = time(nullptr);
        // The keys the two calls can draw, for this second and the next.
        key_t drawn[2];
        for (int i = 0; i < 2; ++i) {
            srand(static_cast<unsigned>(before + i));
            drawn[i] = static_cast<key_t>(rand());
            // A set someone else made under it is not ours to remove.
            if (drawn[i] == IPC_PRIVATE || semget(drawn[i], 0, 0) != -1)
                GTEST_SKIP() << "key " << drawn[i] << " is in use";
        }
        keys_.push_back(drawn[0]);
        keys_.push_back(drawn[1]);
        auto a = newSemaphore(0, 0);
        auto b = newSemaphore(0, 0);
        time_t after = time(nullptr);
        if (after != before) {
            removeSemaphoreSet(drawn[0]);
            removeSemaphoreSet(drawn[1]);
            continue;
        }
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(a->key, drawn[0]);
        EXPECT_EQ(b->key, a->key);
        EXPECT_EQ(b->id, a->id);
        return;
    }
    FAIL() << "the second changed during every attempt";
}

TEST_F(SysvLockTest, ReadersShareTheLockAndKeepTheWriterOut) {
    key_t key = testKey(1);
    auto sem = newSemaphore(key, 0);
    ASSERT_NE(sem, nullptr);
    // Each reader locks, reports 'L', unlocks on 'u' and reports 'U', ends on 'x'.
    auto reader = [key](const Link& link) {
        auto own = newSemaphore(key, 0);
        if (!own || own->readLock(0) != 1 || !link.send('L')) return 1;
        if (link.receive() != 'u' || own->readUnlock() != 1 || !link.send('U')) return 2;
        return link.receive() == 'x' ? 0 : 3;
    };
    Child first(reader);
    Child second(reader);
    ASSERT_TRUE(first.started() && second.started());
    ASSERT_EQ(first.receive(), 'L');
    ASSERT_EQ(second.receive(), 'L');
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{0, 2, 0}));

    EXPECT_EQ(outcome(sem->writeLock(1)), (Outcome{0, EAGAIN}));
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{0, 2, 0}));  // the time-out holds nothing

    ASSERT_TRUE(first.send('u'));
    ASSERT_EQ(first.receive(), 'U');
    ASSERT_TRUE(second.send('u'));
    ASSERT_EQ(second.receive(), 'U');
    // Both readers are still alive: the unlocks, not the undo, freed the lock.
    EXPECT_EQ(sem->writeLock(1), 1);
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(sem->writeUnlock(), 1);
    ASSERT_TRUE(first.send('x'));
    ASSERT_TRUE(second.send('x'));
    EXPECT_EQ(first.finish(), 0);
    EXPECT_EQ(second.finish(), 0);
}

TEST_F(SysvLockTest, ReadersAreAdmittedWhileAWriterWaits) {
    key_t key = testKey(1);
    auto sem = newSemaphore(key, 0);
    ASSERT_NE(sem, nullptr);
    ASSERT_EQ(sem->readLock(0), 1);
    Child writer([key](const Link& link) {
        auto own = newSemaphore(key, 0);
        if (!own || own->writeLock(0) != 1 || !link.send('W')) return 1;
        return own->writeUnlock() == 1 ? 0 : 2;
    });
    ASSERT_TRUE(writer.started());
    ASSERT_TRUE(awaitZeroWaiters(writer, sem->id, 1, 1));
    Child reader([key](const Link& link) {
        auto own = newSemaphore(key, 0);
        if (!own || own->readLock(0) != 1 || !link.send('L')) return 1;
        if (link.receive() != 'u') return 2;
        return own->readUnlock() == 1 ? 0 : 3;
    });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.receive(), 'L');
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{0, 2, 0}));
    ASSERT_TRUE(reader.send('u'));
    EXPECT_EQ(reader.finish(), 0);
    EXPECT_EQ(sem->readUnlock(), 1);
    EXPECT_EQ(writer.receive(), 'W');
    EXPECT_EQ(writer.finish(), 0);
    EXPECT_EQ(values(sem->id, 3), (std::array<int, 3>{0, 0, 0}));
}

TEST_F(SysvLockTest, UnlockOfAnotherProcessesHoldReturnsZero) {
    int n = 0;
    for (const KindCase& c : kKinds) {
        SCOPED_TRACE(c.name);
        key_t key = testKey(++n);
        AnyLock held(c.kind, key);
        ASSERT_TRUE(held.ok());
        ASSERT_EQ(held.lock(0), 1);
        // The child tries its copy of the holding object and an object of its own.
        Child child([&held, &c, key](const Link&) {
            if (held.unlock() != 0 || errno != EPERM) return 1;
            AnyLock own(c.kind, key);
            if (!own.ok() || own.unlock() != 0 || errno != EPERM) return 2;
            return 0;
        });
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.finish(), 0);
        EXPECT_EQ(semctl(held.id(), held.heldSemnum(), GETVAL), 1);
        EXPECT_EQ(held.unlock(), 1);
        EXPECT_EQ(semctl(held.id(), held.heldSemnum(), GETVAL), 0);
    }
}

TEST_F(SysvLockTest, ProcessEndingWhileHoldingReleasesTheLock) {
    int n = 0;
    for (const KindCase& c : kKinds) {
        SCOPED_TRACE(c.name);
        key_t key = testKey(++n);
        AnyLock mine(c.kind, key);
        ASSERT_TRUE(mine.ok());
        Child child([&c, key](const Link& link) {
            AnyLock own(c.kind, key);
            if (!own.ok() || own.lock(0) != 1 || !link.send('L')) return 1;
            return link.receive() == 'x' ? 0 : 2;  // ends holding it
        });
        ASSERT_TRUE(child.started());
        ASSERT_EQ(child.receive(), 'L');
        EXPECT_EQ(semctl(mine.id(), mine.heldSemnum(), GETVAL), 1);
        ASSERT_TRUE(child.send('x'));
        EXPECT_EQ(child.finish(), 0);
        EXPECT_EQ(semctl(mine.id(), mine.heldSemnum(), GETVAL), 0);
        EXPECT_EQ(mine.lock(0), 1);
        EXPECT_EQ(mine.unlock(), 1);
    }
}

int g_signalPipe = -1;

void reportSignal(int) {
    char c = 's';
    if (write(g_signalPipe, &c, 1) != 1) {
    }
}

TEST_F(SysvLockTest, SignalEndsOnlyAnUnboundedWait) {
    struct Case {
        const char* name;
        int saFlags;
        int waitTime;
        char result;  // the lock's return, as reported by the child
    };
    const Case cases[] = {
        {"bounded", 0, 5, '1'},
        {"bounded, SA_RESTART", SA_RESTART, 5, '1'},
        {"unbounded", 0, 0, '0'},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        key_t key = testKey(++n);
        auto mutex = newMutex(key, 0);
        ASSERT_NE(mutex, nullptr);
        ASSERT_EQ(mutex->lock(0), 1);
        Child child([&c, key](const Link& link) {
            g_signalPipe = link.out;
            struct sigaction action {};
            action.sa_handler = reportSignal;
            action.sa_flags = c.saFlags;
            sigemptyset(&action.sa_mask);
            if (sigaction(SIGUSR1, &action, nullptr) != 0) return 1;
            auto own = newMutex(key, 0);
            if (!own) return 2;
            int locked = own->lock(c.waitTime);
            // An ended wait holds nothing: the count is the test's hold alone.
            if (!locked && (errno != EINTR || semctl(own->id, 0, GETVAL) != 1)) return 3;
            if (!link.send(locked ? '1' : '0')) return 4;
            if (locked) return own->unlock() == 1 ? 0 : 5;
            return 0;
        });
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(awaitZeroWaiters(child, mutex->id, 0, 1));
        ASSERT_EQ(kill(child.pid(), SIGUSR1), 0);
        ASSERT_EQ(child.receive(), 's');
        // An ended wait reports before the holder lets go; a bounded one after.
        if (c.result == '0') {
            EXPECT_EQ(child.receive(), '0');
        }
        EXPECT_EQ(mutex->unlock(), 1);
        if (c.result == '1') {
            EXPECT_EQ(child.receive(), '1');
        }
        EXPECT_EQ(child.finish(), 0);
    }
}

TEST_F(SysvLockTest, TimedLockLeavesAPendingAlarm) {
    key_t key = testKey(1);
    auto mutex = newMutex(key, 0);
    ASSERT_NE(mutex, nullptr);
    Child holder([key](const Link& link) {
        auto own = newMutex(key, 0);
        if (!own || own->lock(0) != 1 || !link.send('L')) return 1;
        if (link.receive() != 'u') return 2;
        return own->unlock() == 1 ? 0 : 3;
    });
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.receive(), 'L');

    struct sigaction before {};
    sigaction(SIGALRM, nullptr, &before);
    alarm(30);
    Outcome timedOut = outcome(mutex->lock(1));
    bool sent = holder.send('u');  // no ASSERT while the alarm is pending
    int locked = mutex->lock(5);
    struct sigaction after {};
    sigaction(SIGALRM, nullptr, &after);
    unsigned remaining = alarm(0);

    ASSERT_TRUE(sent);
    EXPECT_EQ(timedOut, (Outcome{0, EAGAIN}));
    EXPECT_EQ(locked, 1);
    EXPECT_GT(remaining, 0u);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    EXPECT_EQ(mutex->unlock(), 1);
    EXPECT_EQ(holder.finish(), 0);
}

TEST_F(SysvLockTest, DelWakesWaitersWithFailure) {
    struct Case {
        const char* name;
        int waitTime;
    };
    const Case cases[] = {{"unbounded", 0}, {"bounded", 5}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        key_t key = testKey(++n);
        auto mutex = newMutex(key, 0);
        ASSERT_NE(mutex, nullptr);
        ASSERT_EQ(mutex->lock(0), 1);
        Child waiter([&c, key](const Link&) {
            auto own = newMutex(key, 0);
            if (!own) return 1;
            if (own->lock(c.waitTime) != 0) return 2;
            return errno == EIDRM ? 0 : 3;
        });
        ASSERT_TRUE(waiter.started());
        ASSERT_TRUE(awaitZeroWaiters(waiter, mutex->id, 0, 1));
        mutex->del();
        EXPECT_EQ(waiter.finish(), 0);
        EXPECT_EQ(mutex->unlock(), 0);
    }
}

TEST_F(SysvLockTest, DelByAnotherProcessFailsLocksAndClearsHeldState) {
    key_t key = testKey(1);
    auto sem = newSemaphore(key, 0);
    ASSERT_NE(sem, nullptr);
    ASSERT_EQ(sem->readLock(0), 1);
    Child remover([key](const Link&) {
        auto own = newSemaphore(key, 0);
        if (!own) return 1;
        own->del();
        return 0;
    });
    ASSERT_TRUE(remover.started());
    ASSERT_EQ(remover.finish(), 0);

    EXPECT_EQ(outcome(sem->readUnlock()), (Outcome{0, EINVAL}));
    // That failure cleared the read hold: a write lock now fails on the set,
    // not on this object's own hold (EDEADLK).
    EXPECT_EQ(outcome(sem->writeLock(0)), (Outcome{0, EINVAL}));
    EXPECT_EQ(outcome(sem->readLock(0)), (Outcome{0, EINVAL}));
}

}  // namespace
}  // namespace ruva
