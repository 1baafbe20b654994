// Allocator of variable-size items (names and comments of the catalogue) in
// heaps of mapped memory.
//
// Sizes go in steps of 16 bytes with no header per item. A heap starts cut
// into items of maxItemSize bytes on the general free list; an allocation
// splits the first item large enough. Pieces of 16, 32 and 48 bytes have
// lists of their own, so the many short names rarely walk the general list.
// Free items are never merged. A free item holds, at its offset from the
// heap base, the 8-byte offset of the next item of its list (-1 = end) and
// then its size in 16 bits.
//
// Shared and private heaps, and the owner rule, as for Pool (pool.h): in a
// process other than a shared pool's owner the changing calls do nothing
// and return null/0. The list heads are process memory, so only the owner
// can allocate in any case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/heap_mapping.h"
#include "common/sysv_lock.h"

namespace ruva {

// One heap, in process memory. Offsets count from the heap base.
struct VPoolHeapState {
    char* heap = nullptr;
    uint16_t maxItemSize = 0;   // a multiple of 16
    size_t heapSize = 0;        // a multiple of the page size
    int64_t nextFreeItem = -1;  // general list
    int64_t nextFree32Item = -1;
    int64_t nextFree48Item = -1;
    int64_t nextFree16Item = -1;
    size_t allocSize = 0;  // bytes handed out from this heap
};

class VPool {
public:
    // del: closes the Semaphore (the set stays), then unmaps: a shared pool's
    // reservation in this process only, a private pool's every heap.
    ~VPool();
    VPool(const VPool&) = delete;
    VPool& operator=(const VPool&) = delete;

    // Removes the Semaphore's set from the system; destroying the pool then
    // completes the delete. Does nothing without a Semaphore, and in a
    // process other than a shared pool's owner.
    void delSem();

    // Adds a heap of heapSize bytes rounded up to whole pages, cut into items
    // of maxItemSize rounded up to a multiple of 16; bytes after the last
    // whole item stay unused. 1 on success; 0 with the pool unchanged when
    // maxHeaps is reached, a size is 0, the rounded item size passes 65520,
    // no whole item fits, the heap does not fit in a shared pool's
    // reservation or mapping fails.
    int allocHeap(size_t heapSize, size_t maxItemSize);

    // Gives heap n's memory back (a shared heap's pages are released and read
    // as zeros everywhere); its bytes leave allocSize and its entry is null.
    void freeHeap(int n);

    // Cuts heap n afresh into items on the general list; the size lists are
    // emptied and its bytes leave allocSize.
    void clearHeap(int n);

    // size bytes rounded up to 16 (0 counts as 16), from the newest heap that
    // can serve, else from a new heap; null when the rounded size is above
    // maxItemSize (at once, adding no heap) or no heap can serve.
    void* alloc(size_t size);

    // The same from heap n only, adding no heap; null when it cannot serve.
    void* allocItem(int n, size_t size);

    // Copy of text with its NUL (length + 1 bytes); null when text is null
    // or alloc fails.
    char* strdup(const char* text);

    // Returns an item; size must be what was allocated (callers pass the text
    // length + 1). Ignored when ptr is in no heap or off a 16-byte step, or
    // the rounded size passes maxItemSize, runs past the heap's items or
    // exceeds what the heap has handed out.
    void free(void* ptr, size_t size);

    // Gives back every heap but the first, and clears the first.
    void clear();

    // 1 when ptr lies inside a heap.
    int addressInPool(const void* ptr) const;
    // That heap's index, the lowest first; -1 when none.
    int findHeap(const void* ptr) const;

    uint16_t flags = 0;              // kPoolNoSemaphore, kPoolPrivate
    std::unique_ptr<Semaphore> Sem;  // null with kPoolNoSemaphore; never locked here
    uint16_t maxItemSize = 0;        // as given to newVPool
    size_t heapSize = 0;             // as given to newVPool
    size_t allocSize = 0;            // bytes handed out over all heaps
    int maxHeaps = 0;                // 0 = no limit; kSharedPoolHeaps for a shared pool
    int numHeaps = 0;
    std::vector<std::unique_ptr<VPoolHeapState>> heaps;  // null where freeHeap went

private:
    friend std::unique_ptr<VPool> newVPool(size_t heapSize, uint16_t maxItemSize, uint16_t flags);
    VPool() = default;

    bool mayChange() const { return ownerPid_ == 0 || isCurrentProcess(ownerPid_); }
    void* take(VPoolHeapState& h, size_t size);
    void giveBack(VPoolHeapState& h);

    std::unique_ptr<HeapReservation> reservation_;  // shared pools only
    pid_t ownerPid_ = 0;                            // 0 for private pools
};

// A pool with its first heap. Without kPoolNoSemaphore it joins or makes the
// Semaphore keyed heapSize * maxItemSize. Null when the Semaphore, the
// reservation or the first heap cannot be made.
std::unique_ptr<VPool> newVPool(size_t heapSize, uint16_t maxItemSize, uint16_t flags);

}  // namespace ruva
