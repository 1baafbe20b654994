#include "common/sysv_lock.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

namespace ruva {
namespace {

constexpr int kSemaphoreSetSize = 3;
constexpr int kMutexSetSize = 1;
// Open to every user: a set made before the daemon changes user must stay
// usable by that user.
constexpr int kSetMode = 0666;
constexpr long kNanosPerSecond = 1000000000L;

bool setRemoved(int err) {
    return err == EIDRM || err == EINVAL;
}

timespec monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// Time from now to deadline in *left; false when it has passed.
bool timeLeft(const timespec& deadline, timespec* left) {
    timespec now = monotonicNow();
    left->tv_sec = deadline.tv_sec - now.tv_sec;
    left->tv_nsec = deadline.tv_nsec - now.tv_nsec;
    if (left->tv_nsec < 0) {
        left->tv_nsec += kNanosPerSecond;
        --left->tv_sec;
    }
    return left->tv_sec > 0 || (left->tv_sec == 0 && left->tv_nsec > 0);
}

// One atomic semop over the whole list. A bounded wait ends at a deadline
// on the monotonic clock and treats a signal as a reason to go on waiting:
// a handled signal always ends semop with EINTR, whatever SA_RESTART says,
// and an alarm of our own would take SIGALRM from the caller. 1 on success,
// else 0 with errno (EAGAIN on time-out).
int runOps(int id, sembuf* ops, size_t count, int waitTime) {
    if (waitTime <= 0) return semop(id, ops, count) == 0 ? 1 : 0;
    timespec deadline = monotonicNow();
    deadline.tv_sec += waitTime;
    timespec left = {waitTime, 0};
    for (;;) {
        if (semtimedop(id, ops, count, &left) == 0) return 1;
        if (errno != EINTR) return 0;
        if (!timeLeft(deadline, &left)) {
            errno = EAGAIN;
            return 0;
        }
    }
}

// Key 0 keeps the historic choice: rand() seeded with the time in seconds.
key_t chooseKey(key_t key) {
    if (key != 0) return key;
    srand(static_cast<unsigned>(time(nullptr)));
    return static_cast<key_t>(rand());
}

}  // namespace

std::unique_ptr<Semaphore> newSemaphore(key_t key, uint16_t flags) {
    std::unique_ptr<Semaphore> sem(new (std::nothrow) Semaphore());
    if (!sem) return nullptr;
    sem->flags = flags;
    sem->key = chooseKey(key);
    sem->id = semget(sem->key, kSemaphoreSetSize, IPC_CREAT | kSetMode);
    if (sem->id == -1) return nullptr;
    return sem;
}

Semaphore::~Semaphore() = default;

void Semaphore::del() {
    semctl(id, 0, IPC_RMID);
    id = -1;
    readCount_ = 0;
    writeHeld_ = false;
}

void Semaphore::forgetOtherProcess() {
    pid_t pid = getpid();
    if (holder_ == pid) return;
    readCount_ = 0;
    writeHeld_ = false;
    holder_ = pid;
}

int Semaphore::failed() {
    if (setRemoved(errno)) {
        readCount_ = 0;
        writeHeld_ = false;
    }
    return 0;
}

int Semaphore::readLock(int waitTime) {
    forgetOtherProcess();
    if (writeHeld_) {
        errno = EDEADLK;
        return 0;
    }
    sembuf ops[] = {{0, 0, 0}, {1, 1, SEM_UNDO}};
    if (!runOps(id, ops, 2, waitTime)) return failed();
    ++readCount_;
    return 1;
}

int Semaphore::readUnlock() {
    forgetOtherProcess();
    if (readCount_ == 0) {
        errno = EPERM;
        return 0;
    }
    sembuf ops[] = {{1, -1, SEM_UNDO | IPC_NOWAIT}};
    if (!runOps(id, ops, 1, 0)) return failed();
    --readCount_;
    return 1;
}

int Semaphore::writeLock(int waitTime) {
    forgetOtherProcess();
    if (writeHeld_ || readCount_ > 0) {
        errno = EDEADLK;
        return 0;
    }
    sembuf ops[] = {{1, 0, 0}, {0, 0, 0}, {0, 1, SEM_UNDO}};
    if (!runOps(id, ops, 3, waitTime)) return failed();
    writeHeld_ = true;
    return 1;
}

int Semaphore::writeUnlock() {
    forgetOtherProcess();
    if (!writeHeld_) {
        errno = EPERM;
        return 0;
    }
    sembuf ops[] = {{0, -1, SEM_UNDO | IPC_NOWAIT}};
    if (!runOps(id, ops, 1, 0)) return failed();
    writeHeld_ = false;
    return 1;
}

std::unique_ptr<Mutex> newMutex(key_t key, uint16_t flags) {
    std::unique_ptr<Mutex> mutex(new (std::nothrow) Mutex());
    if (!mutex) return nullptr;
    mutex->flags = flags;
    mutex->key = chooseKey(key);
    mutex->id = semget(mutex->key, kMutexSetSize, IPC_CREAT | kSetMode);
    if (mutex->id == -1) return nullptr;
    return mutex;
}

Mutex::~Mutex() = default;

void Mutex::del() {
    semctl(id, 0, IPC_RMID);
    id = -1;
    held_ = false;
}

void Mutex::forgetOtherProcess() {
    pid_t pid = getpid();
    if (holder_ == pid) return;
    held_ = false;
    holder_ = pid;
}

int Mutex::failed() {
    if (setRemoved(errno)) held_ = false;
    return 0;
}

int Mutex::lock(int waitTime) {
    forgetOtherProcess();
    if (held_) {
        errno = EDEADLK;
        return 0;
    }
    sembuf ops[] = {{0, 0, 0}, {0, 1, SEM_UNDO}};
    if (!runOps(id, ops, 2, waitTime)) return failed();
    held_ = true;
    return 1;
}

int Mutex::unlock() {
    forgetOtherProcess();
    if (!held_) {
        errno = EPERM;
        return 0;
    }
    sembuf ops[] = {{0, -1, SEM_UNDO}};
    if (!runOps(id, ops, 1, 0)) return failed();
    held_ = false;
    return 1;
}

}  // namespace ruva
