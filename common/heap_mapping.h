// Memory for the pools' heaps, and the guard that keeps forked processes
// from changing a shared pool.
//
// A shared pool reserves the address space of all its heaps at creation, in
// one shared mapping of an anonymous memory file, and carves heaps from it
// in order. Nothing is mapped later, so every process forked after the pool
// was made sees every heap at the same address, including heaps the owner
// adds after the fork. A private pool maps each heap as anonymous memory.
// No file name is ever made.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace ruva {

// Flag bits of Pool and VPool.
constexpr uint16_t kPoolNoSemaphore = 1;  // make no Semaphore
constexpr uint16_t kPoolPrivate = 2;      // heaps are process memory, not shared

// Heaps a shared pool reserves at creation: its limit on heaps.
constexpr int kSharedPoolHeaps = 16;

// The system page size.
size_t pageSize();

// *out = n rounded up to a multiple of step (step > 0); false on overflow.
bool roundUpTo(size_t n, size_t step, size_t* out);

// Id of the calling process, recorded as a shared pool's owner. The first
// call installs an atfork child handler that keeps a cached id current,
// since getpid() on every change of a pool would be a system call.
pid_t trackedPid();

// True in the process whose id owner holds (compared with the cached id;
// valid once trackedPid() ran).
bool isCurrentProcess(pid_t owner);

// The address space of a shared pool: heapCount heap lengths of a memory
// file, mapped shared with no swap reserved; the descriptor is closed
// before create returns. Pages are committed as they are first touched.
class HeapReservation {
public:
    // name shows in /proc/<pid>/maps as "/memfd:<name> (deleted)". Null on
    // failure or when the length overflows.
    static std::unique_ptr<HeapReservation> create(const char* name, size_t heapLength, int heapCount);

    // Unmaps the whole range in this process only; other processes keep
    // their mappings, and the pages go with the last of them.
    ~HeapReservation();
    HeapReservation(const HeapReservation&) = delete;
    HeapReservation& operator=(const HeapReservation&) = delete;

    // The next len bytes after the last heap carved, or null when they do
    // not fit in the rest.
    char* carve(size_t len);
    // Makes the bytes from offset on available again (offset <= carved()).
    void uncarveFrom(size_t offset);

    char* base() const { return base_; }
    size_t length() const { return length_; }
    size_t carved() const { return carved_; }

private:
    HeapReservation(char* base, size_t length) : base_(base), length_(length) {}
    char* base_;
    size_t length_;
    size_t carved_ = 0;
};

// A private heap of len bytes (zero-filled anonymous memory); null on failure.
char* mapPrivateHeap(size_t len);
void unmapHeap(char* heap, size_t len);

// Gives the pages of a carved heap back to the system. The range reads as
// zeros afterwards, in every process that maps the reservation.
void releaseHeapPages(char* heap, size_t len);

}  // namespace ruva
