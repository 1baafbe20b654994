#include "common/pool.h"

#include <cstring>

namespace ruva {

namespace {

bool roundPoolItemSize(size_t size, size_t* out) {
    if (size < 8) {
        *out = 8;
        return true;
    }
    return roundUpTo(size, 4, out);
}

// Heap length for nitems items of the rounded size, head included, in
// whole pages.
bool poolHeapLength(size_t rounded, size_t nitems, size_t* out) {
    size_t bytes;
    if (__builtin_mul_overflow(rounded, nitems, &bytes) ||
        __builtin_add_overflow(bytes, kPoolHeadReserve, &bytes))
        return false;
    return roundUpTo(bytes, pageSize(), out) && *out <= size_t(INT64_MAX);
}

PoolHeapState* headOf(const PoolHeap* h) {
    return reinterpret_cast<PoolHeapState*>(h->heap);
}

void linkItems(PoolHeap* h) {
    PoolHeapState* head = headOf(h);
    size_t size = head->itemSize;
    size_t n = (head->heapSize - kPoolHeadReserve) / size;
    char* area = h->heap + kPoolItemArea;
    for (size_t i = 0; i < n; ++i) {
        int64_t next = i + 1 < n ? int64_t((i + 1) * size) : -1;
        std::memcpy(area + i * size, &next, sizeof next);
    }
    head->nextFreeItem = n > 0 ? 0 : -1;
}

}  // namespace

std::unique_ptr<Pool> newPool(size_t itemSize, size_t nitems, uint16_t flags) {
    if (itemSize == 0 || nitems == 0) return nullptr;
    std::unique_ptr<Pool> pool(new Pool);
    pool->flags = flags;
    pool->itemSize = itemSize;
    pool->nitems = nitems;
    if (!(flags & kPoolNoSemaphore)) {
        pool->Sem = newSemaphore(key_t(itemSize * nitems), 0);
        if (!pool->Sem) return nullptr;
    }
    if (!(flags & kPoolPrivate)) {
        size_t rounded, len;
        if (!roundPoolItemSize(itemSize, &rounded) || !poolHeapLength(rounded, nitems, &len)) return nullptr;
        pool->reservation_ = HeapReservation::create("pool", len, kSharedPoolHeaps);
        if (!pool->reservation_) return nullptr;
        pool->maxHeaps = kSharedPoolHeaps;
        pool->ownerPid_ = trackedPid();
    }
    if (!pool->allocHeap(itemSize, nitems)) return nullptr;
    return pool;
}

Pool::~Pool() {
    Sem.reset();
    if (reservation_) {
        reservation_.reset();
        return;
    }
    for (auto& h : heaps)
        if (h) unmapHeap(h->heap, headOf(h.get())->heapSize);
}

void Pool::delSem() {
    if (Sem && mayChange()) Sem->del();
}

int Pool::allocHeap(size_t size, size_t count) {
    if (!mayChange()) return 0;
    if (maxHeaps != 0 && numHeaps >= maxHeaps) return 0;
    size_t rounded, len;
    if (!roundPoolItemSize(size, &rounded) || !poolHeapLength(rounded, count, &len)) return 0;
    char* mem = reservation_ ? reservation_->carve(len) : mapPrivateHeap(len);
    if (!mem) return 0;

    auto h = std::make_unique<PoolHeap>();
    h->heap = mem;
    h->totalItems = (len - kPoolHeadReserve) / rounded;
    PoolHeapState* head = headOf(h.get());
    head->nextFreeItem = 0;
    head->heapSize = len;
    head->itemSize = rounded;
    linkItems(h.get());
    totalItems += h->totalItems;
    heaps.push_back(std::move(h));
    ++numHeaps;
    return 1;
}

void Pool::freeHeap(int heapno) {
    if (!mayChange() || heapno < 0 || heapno >= numHeaps || !heaps[heapno]) return;
    PoolHeap* h = heaps[heapno].get();
    size_t len = headOf(h)->heapSize;
    totalItems -= h->totalItems;
    usedItems -= h->usedItems;
    if (reservation_)
        releaseHeapPages(h->heap, len);
    else
        unmapHeap(h->heap, len);
    heaps[heapno].reset();
}

PoolHeap* Pool::heapWithFreeItem() {
    for (int i = 0; i + 1 < numHeaps; ++i)
        if (heaps[i] && headOf(heaps[i].get())->nextFreeItem >= 0) return heaps[i].get();
    if (!allocHeap(itemSize, nitems)) return nullptr;
    PoolHeap* h = heaps.back().get();
    return headOf(h)->nextFreeItem >= 0 ? h : nullptr;
}

void* Pool::alloc() {
    if (!mayChange()) [[unlikely]]
        return nullptr;
    PoolHeap* h = numHeaps > 0 ? heaps[numHeaps - 1].get() : nullptr;
    if (!h || headOf(h)->nextFreeItem < 0) [[unlikely]] {
        h = heapWithFreeItem();
        if (!h) return nullptr;
    }
    PoolHeapState* head = headOf(h);
    char* item = h->heap + kPoolItemArea + head->nextFreeItem;
    std::memcpy(&head->nextFreeItem, item, sizeof head->nextFreeItem);
    ++h->usedItems;
    ++usedItems;
    return item;
}

void Pool::free(void* ptr) {
    if (!mayChange()) [[unlikely]]
        return;
    int heapno = findHeap(ptr);
    if (heapno < 0) return;
    PoolHeap* h = heaps[heapno].get();
    if (h->usedItems == 0) return;
    PoolHeapState* head = headOf(h);
    size_t offset = reinterpret_cast<uintptr_t>(ptr) - reinterpret_cast<uintptr_t>(h->heap + kPoolItemArea);
    // Linking an address that is not an item's start would later hand out
    // overlapping items.
    if (offset % head->itemSize != 0 || offset / head->itemSize >= h->totalItems) return;
    std::memcpy(ptr, &head->nextFreeItem, sizeof head->nextFreeItem);
    head->nextFreeItem = int64_t(offset);
    --h->usedItems;
    --usedItems;
}

void Pool::clear() {
    if (!mayChange()) return;
    for (int i = 0; i < numHeaps; ++i) clearHeap(i);
    usedItems = 0;
}

void Pool::clearHeap(int heapno) {
    if (!mayChange() || heapno < 0 || heapno >= numHeaps || !heaps[heapno]) return;
    PoolHeap* h = heaps[heapno].get();
    linkItems(h);
    usedItems -= h->usedItems;
    h->usedItems = 0;
}

int Pool::findHeap(const void* ptr) const {
    auto p = reinterpret_cast<uintptr_t>(ptr);
    for (int i = 0; i < numHeaps; ++i) {
        const PoolHeap* h = heaps[i].get();
        if (!h) continue;
        auto base = reinterpret_cast<uintptr_t>(h->heap);
        if (p >= base + kPoolItemArea && p < base + headOf(h)->heapSize) return i;
    }
    return -1;
}

int Pool::addressInPool(const void* ptr) const {
    return findHeap(ptr) >= 0 ? 1 : 0;
}

}  // namespace ruva
