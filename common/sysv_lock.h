// Process locks over System V semaphore sets, shared by key across
// processes (never for threads). Every operation carries SEM_UNDO, so a
// process that ends while holding a lock releases it.
//
// Each object records what it holds and in which process. An object copied
// into a forked child holds nothing there: SEM_UNDO adjustments are not
// inherited, so the child's unlock would release the parent's hold.
//
// Failures are the return value; errno says why: EAGAIN a time-out (or, for
// an unlock, a count already at 0), EINTR an unbounded wait ended by a
// signal, EIDRM/EINVAL the set was removed (held state is then cleared),
// EDEADLK a lock that could only wait for this object's own hold, EPERM an
// unlock of what this object does not hold in this process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

namespace ruva {

// Readers/writer lock on a set of three semaphores: 0 = writer holds it,
// 1 = number of readers, 2 = unused. Readers are admitted while no writer
// holds the lock, even when a writer waits.
class Semaphore {
public:
    // close: frees this object only; the set stays for other processes and
    // anything held stays held until unlocked or the process ends.
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Removes the set from the system (waking every waiter with a failure).
    // The object stays valid with id -1; its lock operations return 0.
    void del();

    // 1 when held, 0 on failure or time-out (nothing held then). waitTime in
    // seconds; 0 or less waits without limit and a signal ends the wait.
    // A bounded wait runs to its deadline through signals and leaves
    // SIGALRM and any pending alarm alone.
    // readLock while this object holds the write lock, and writeLock while
    // it holds a read or the write lock, return 0 at once. Further read
    // locks by a reader are admitted.
    int readLock(int waitTime);
    int writeLock(int waitTime);
    // 1 on success; 0 without touching the set when this object holds no
    // such lock in this process.
    int readUnlock();
    int writeUnlock();

    uint16_t flags = 0;  // stored, not consulted
    int id = -1;
    key_t key = 0;

private:
    friend std::unique_ptr<Semaphore> newSemaphore(key_t key, uint16_t flags);
    Semaphore() = default;
    void forgetOtherProcess();
    int failed();

    // What this object holds, valid only in process holder_.
    int readCount_ = 0;
    bool writeHeld_ = false;
    pid_t holder_ = 0;
};

// Exclusive lock on a set of one semaphore; the same rules as Semaphore.
class Mutex {
public:
    ~Mutex();  // close
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void del();
    // lock on a Mutex this object holds returns 0 at once.
    int lock(int waitTime);
    int unlock();

    uint16_t flags = 0;  // stored, not consulted
    key_t key = 0;
    int id = -1;

private:
    friend std::unique_ptr<Mutex> newMutex(key_t key, uint16_t flags);
    Mutex() = default;
    void forgetOtherProcess();
    int failed();

    bool held_ = false;  // valid only in process holder_
    pid_t holder_ = 0;
};

// Joins or creates the set under key (IPC_CREAT | 0666); key 0 takes
// rand() seeded with the time in seconds, so two calls in one second meet.
// Null when semget fails, e.g. when the key's set has fewer semaphores.
std::unique_ptr<Semaphore> newSemaphore(key_t key, uint16_t flags);
std::unique_ptr<Mutex> newMutex(key_t key, uint16_t flags);

}  // namespace ruva
