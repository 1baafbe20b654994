// Allocator of fixed-size items in heaps of mapped memory.
//
// Free items are linked by offsets stored in the items themselves, so a free
// list stays valid at whatever address a heap is mapped; an item in use holds
// only the caller's data. Freed items are reused last-in first-out, and
// callers rely on that order (a record deleted and rebuilt gets its old
// address back), as on the heap order of alloc.
//
// Shared pools (flag kPoolPrivate clear) reserve kSharedPoolHeaps heap
// lengths at creation and carve heaps from that range (heap_mapping.h), so
// processes forked after creation see every heap, even those added later.
// Only the creating process (the owner) may change a shared pool: in any
// other process the changing calls do nothing and return null/0, and
// destroying the object only unmaps. Private pools are plain process memory.
//
// The pool takes no lock. Sem, when made, is there for users that share the
// pool; the pool never locks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/heap_mapping.h"
#include "common/sysv_lock.h"

namespace ruva {

// Head at the start of every heap.
struct PoolHeapState {
    int64_t nextFreeItem;  // offset of the first free item from the item area; -1 = none
    uint64_t heapSize;     // bytes of the whole heap
    uint64_t itemSize;     // rounded item size
};
static_assert(sizeof(PoolHeapState) == 24);

// The items start right after the head, at byte 24, yet the heap-length and
// item-count formulas reserve 32 bytes for it. Items of 12 bytes are only
// 4-aligned, so the 8-byte links are read and written with memcpy.
constexpr size_t kPoolItemArea = 24;
constexpr size_t kPoolHeadReserve = 32;

// One heap, in process memory.
struct PoolHeap {
    size_t totalItems = 0;  // items in this heap
    size_t usedItems = 0;
    char* heap = nullptr;  // the heap's head
};

class Pool {
public:
    // del: closes the Semaphore (the set stays in the system), then unmaps:
    // a shared pool's whole reservation in this process only (the heaps are
    // left untouched for other processes), a private pool's every heap.
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Removes the Semaphore's set from the system; destroying the pool then
    // completes the delete. Does nothing without a Semaphore, and in a
    // process other than a shared pool's owner.
    void delSem();

    // Adds a heap for nitems items of itemSize (rounded: below 8 to 8, else
    // up to a multiple of 4); its length, head included, is rounded up to
    // whole pages and every item that fits is used. 1 on success; 0 with the
    // pool unchanged when maxHeaps is reached, the heap does not fit in a
    // shared pool's reservation or mapping fails.
    int allocHeap(size_t itemSize, size_t nitems);

    // Gives heap heapno's memory back (a shared heap's pages are released and
    // read as zeros everywhere) and leaves a null entry; its items leave the
    // pool's counters. Destroying the pool does not need it.
    void freeHeap(int heapno);

    // A free item (contents undefined), taken from the newest heap, else the
    // first older heap with one, else from a new heap; null when no heap can
    // be added.
    void* alloc();

    // Returns an item to its heap. An address that is not the start of an
    // item of some heap, or a heap with no item in use, is ignored.
    void free(void* ptr);

    // Every item of every heap becomes free; nothing is unmapped.
    void clear();

    // Relinks every item of heap heapno in address order; its items in use
    // leave the counters. An index past the heaps does nothing.
    void clearHeap(int heapno);

    // 1 when ptr lies in the item area of a heap (its slack included).
    int addressInPool(const void* ptr) const;
    // Index of that heap, the lowest first; -1 when none.
    int findHeap(const void* ptr) const;

    uint16_t flags = 0;              // kPoolNoSemaphore, kPoolPrivate
    std::unique_ptr<Semaphore> Sem;  // null with kPoolNoSemaphore
    size_t itemSize = 0;             // as given to newPool
    size_t nitems = 0;               // items asked for per heap
    size_t totalItems = 0;           // over all heaps
    size_t usedItems = 0;            // over all heaps
    int maxHeaps = 0;                // 0 = no limit; kSharedPoolHeaps for a shared pool
    int numHeaps = 0;
    std::vector<std::unique_ptr<PoolHeap>> heaps;  // null where freeHeap went

private:
    friend std::unique_ptr<Pool> newPool(size_t itemSize, size_t nitems, uint16_t flags);
    Pool() = default;

    bool mayChange() const { return ownerPid_ == 0 || isCurrentProcess(ownerPid_); }
    PoolHeap* heapWithFreeItem();

    std::unique_ptr<HeapReservation> reservation_;  // shared pools only
    pid_t ownerPid_ = 0;                            // 0 for private pools
};

// A pool with its first heap. Without kPoolNoSemaphore it joins or makes the
// Semaphore keyed itemSize * nitems (pools of one geometry share a set).
// Null when itemSize or nitems is 0, or the Semaphore, the reservation or
// the first heap cannot be made.
std::unique_ptr<Pool> newPool(size_t itemSize, size_t nitems, uint16_t flags);

}  // namespace ruva
