// Process locks over System V semaphore sets, shared by key across
// processes (never for threads). Every operation carries SEM_UNDO, so a
// process that ends while holding a lock releases it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

namespace ruva {

// Readers/writer lock on a set of three semaphores: 0 = writer holds it,
// 1 = number of readers, 2 = unused.
class Semaphore {
public:
    // close: frees this object only; the set stays for other processes.
    ~Semaphore();
    Semaphore(const Semaphore&) = delete;
    Semaphore& operator=(const Semaphore&) = delete;

    // Removes the set from the system (waking every waiter with a failure).
    // The object stays valid; its lock operations return 0 afterwards.
    void del();

    // 1 when held, 0 on failure or time-out. waitTime in seconds; 0 or less
    // waits without limit.
    int readLock(int waitTime);
    int readUnlock();
    int writeLock(int waitTime);
    int writeUnlock();

    uint16_t flags = 0;  // stored, not consulted
    int id = -1;
    key_t key = 0;

private:
    friend std::unique_ptr<Semaphore> newSemaphore(key_t key, uint16_t flags);
    Semaphore() = default;
    // what this object holds, and in which process
};

// Exclusive lock on a set of one semaphore.
class Mutex {
public:
    ~Mutex();  // close
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void del();
    int lock(int waitTime);
    int unlock();

    uint16_t flags = 0;
    key_t key = 0;
    int id = -1;

private:
    friend std::unique_ptr<Mutex> newMutex(key_t key, uint16_t flags);
    Mutex() = default;
};

// Joins or creates the set under key (IPC_CREAT | 0666); key 0 takes
// rand() seeded with the time in seconds. Null when semget fails.
std::unique_ptr<Semaphore> newSemaphore(key_t key, uint16_t flags);
std::unique_ptr<Mutex> newMutex(key_t key, uint16_t flags);

}  // namespace ruva
