#include "bmod/unzipd/zip/vpool.h"

#include <cstring>

namespace ruva {

namespace {

// The size field of a free item is 16 bits.
constexpr size_t kLargestItem = 0xFFF0;

bool roundVPoolSize(size_t size, size_t* out) {
    if (size == 0) {
        *out = 16;
        return true;
    }
    return roundUpTo(size, 16, out);
}

bool vpoolHeapLength(size_t heapSize, size_t* out) {
    return heapSize != 0 && roundUpTo(heapSize, pageSize(), out) && *out <= size_t(INT64_MAX);
}

// End of the last whole item: the tail after it is never handed out.
size_t itemsEnd(const VPoolHeapState& h) {
    return h.heapSize / h.maxItemSize * h.maxItemSize;
}

int64_t nextOf(const VPoolHeapState& h, int64_t off) {
    int64_t next;
    std::memcpy(&next, h.heap + off, sizeof next);
    return next;
}

uint16_t sizeOf(const VPoolHeapState& h, int64_t off) {
    uint16_t size;
    std::memcpy(&size, h.heap + off + 8, sizeof size);
    return size;
}

void writeFree(VPoolHeapState& h, int64_t off, int64_t next, size_t size) {
    auto size16 = static_cast<uint16_t>(size);
    std::memcpy(h.heap + off, &next, sizeof next);
    std::memcpy(h.heap + off + 8, &size16, sizeof size16);
}

int64_t& listOf(VPoolHeapState& h, size_t size) {
    switch (size) {
        case 16:
            return h.nextFree16Item;
        case 32:
            return h.nextFree32Item;
        case 48:
            return h.nextFree48Item;
        default:
            return h.nextFreeItem;
    }
}

void push(VPoolHeapState& h, int64_t off, size_t size) {
    int64_t& head = listOf(h, size);
    writeFree(h, off, head, size);
    head = off;
}

int64_t pop(VPoolHeapState& h, int64_t& head) {
    int64_t off = head;
    head = nextOf(h, off);
    return off;
}

void cutItems(VPoolHeapState& h) {
    size_t size = h.maxItemSize;
    size_t n = h.heapSize / size;
    for (size_t i = 0; i < n; ++i)
        writeFree(h, int64_t(i * size), i + 1 < n ? int64_t((i + 1) * size) : -1, size);
    h.nextFreeItem = n > 0 ? 0 : -1;
    h.nextFree16Item = h.nextFree32Item = h.nextFree48Item = -1;
}

// Offset of a rounded size from heap h, or -1.
int64_t takeOffset(VPoolHeapState& h, size_t size) {
    if (size > h.maxItemSize) return -1;
    if (size == 16 && h.nextFree16Item >= 0) return pop(h, h.nextFree16Item);
    if (size <= 32 && h.nextFree32Item >= 0) {
        int64_t off = pop(h, h.nextFree32Item);
        if (size == 16) push(h, off + 16, 16);
        return off;
    }
    if (size <= 48 && h.nextFree48Item >= 0) {
        int64_t off = pop(h, h.nextFree48Item);
        if (size < 48) push(h, off + int64_t(size), 48 - size);
        return off;
    }
    int64_t prev = -1;
    for (int64_t off = h.nextFreeItem; off >= 0;) {
        size_t have = sizeOf(h, off);
        int64_t next = nextOf(h, off);
        if (have >= size) {
            size_t rest = have - size;
            int64_t replacement = next;
            if (rest > 48) {
                replacement = off + int64_t(size);
                writeFree(h, replacement, next, rest);
            } else if (rest > 0) {
                push(h, off + int64_t(size), rest);
            }
            if (prev < 0)
                h.nextFreeItem = replacement;
            else
                std::memcpy(h.heap + prev, &replacement, sizeof replacement);
            return off;
        }
        prev = off;
        off = next;
    }
    return -1;
}

}  // namespace

std::unique_ptr<VPool> newVPool(size_t heapSize, uint16_t maxItemSize, uint16_t flags) {
    std::unique_ptr<VPool> vp(new VPool);
    vp->flags = flags;
    vp->heapSize = heapSize;
    vp->maxItemSize = maxItemSize;
    if (!(flags & kPoolNoSemaphore)) {
        vp->Sem = newSemaphore(key_t(heapSize * maxItemSize), 0);
        if (!vp->Sem) return nullptr;
    }
    if (!(flags & kPoolPrivate)) {
        size_t len;
        if (!vpoolHeapLength(heapSize, &len)) return nullptr;
        vp->reservation_ = HeapReservation::create("vpool", len, kSharedPoolHeaps);
        if (!vp->reservation_) return nullptr;
        vp->maxHeaps = kSharedPoolHeaps;
        vp->ownerPid_ = trackedPid();
    }
    if (!vp->allocHeap(heapSize, maxItemSize)) return nullptr;
    return vp;
}

VPool::~VPool() {
    Sem.reset();
    if (reservation_) {
        reservation_.reset();
        return;
    }
    for (auto& h : heaps)
        if (h) unmapHeap(h->heap, h->heapSize);
}

void VPool::delSem() {
    if (Sem && mayChange()) Sem->del();
}

int VPool::allocHeap(size_t size, size_t itemSize) {
    if (!mayChange()) return 0;
    if (maxHeaps != 0 && numHeaps >= maxHeaps) return 0;
    size_t len, rounded;
    if (itemSize == 0 || !roundVPoolSize(itemSize, &rounded) || rounded > kLargestItem ||
        !vpoolHeapLength(size, &len) || len < rounded)
        return 0;
    char* mem = reservation_ ? reservation_->carve(len) : mapPrivateHeap(len);
    if (!mem) return 0;

    auto h = std::make_unique<VPoolHeapState>();
    h->heap = mem;
    h->maxItemSize = static_cast<uint16_t>(rounded);
    h->heapSize = len;
    cutItems(*h);
    heaps.push_back(std::move(h));
    ++numHeaps;
    return 1;
}

void VPool::giveBack(VPoolHeapState& h) {
    allocSize -= h.allocSize;
    h.allocSize = 0;
}

void VPool::freeHeap(int n) {
    if (!mayChange() || n < 0 || n >= numHeaps || !heaps[n]) return;
    VPoolHeapState& h = *heaps[n];
    giveBack(h);
    if (reservation_)
        releaseHeapPages(h.heap, h.heapSize);
    else
        unmapHeap(h.heap, h.heapSize);
    heaps[n].reset();
}

void VPool::clearHeap(int n) {
    if (!mayChange() || n < 0 || n >= numHeaps || !heaps[n]) return;
    cutItems(*heaps[n]);
    giveBack(*heaps[n]);
}

void VPool::clear() {
    if (!mayChange()) return;
    for (int i = 1; i < numHeaps; ++i) freeHeap(i);
    if (numHeaps > 1) {
        heaps.resize(1);
        numHeaps = 1;
    }
    if (numHeaps == 1 && !heaps[0]) {
        heaps.clear();
        numHeaps = 0;
    }
    if (reservation_) reservation_->uncarveFrom(numHeaps > 0 ? heaps[0]->heapSize : 0);
    if (numHeaps > 0) clearHeap(0);
    allocSize = 0;
}

void* VPool::take(VPoolHeapState& h, size_t size) {
    int64_t off = takeOffset(h, size);
    if (off < 0) return nullptr;
    h.allocSize += size;
    allocSize += size;
    return h.heap + off;
}

void* VPool::alloc(size_t size) {
    if (!mayChange()) return nullptr;
    size_t rounded, largest;
    // A request no heap can serve must not add one (each would be a whole
    // shared heap, on every rescan).
    if (!roundVPoolSize(size, &rounded) || !roundVPoolSize(maxItemSize, &largest) || rounded > largest)
        return nullptr;
    for (int i = numHeaps - 1; i >= 0; --i)
        if (heaps[i])
            if (void* p = take(*heaps[i], rounded)) return p;
    if (!allocHeap(heapSize, maxItemSize)) return nullptr;
    return take(*heaps.back(), rounded);
}

void* VPool::allocItem(int n, size_t size) {
    size_t rounded;
    if (!mayChange() || n < 0 || n >= numHeaps || !heaps[n] || !roundVPoolSize(size, &rounded))
        return nullptr;
    return take(*heaps[n], rounded);
}

char* VPool::strdup(const char* text) {
    if (!text) return nullptr;
    size_t len = std::strlen(text);
    auto copy = static_cast<char*>(alloc(len + 1));
    if (copy) std::memcpy(copy, text, len + 1);
    return copy;
}

void VPool::free(void* ptr, size_t size) {
    if (!mayChange()) return;
    int n = findHeap(ptr);
    size_t rounded;
    if (n < 0 || !roundVPoolSize(size, &rounded)) return;
    VPoolHeapState& h = *heaps[n];
    size_t off = reinterpret_cast<uintptr_t>(ptr) - reinterpret_cast<uintptr_t>(h.heap);
    if (off % 16 != 0 || rounded > h.maxItemSize || off + rounded > itemsEnd(h) || rounded > h.allocSize)
        return;
    push(h, int64_t(off), rounded);
    h.allocSize -= rounded;
    allocSize -= rounded;
}

int VPool::findHeap(const void* ptr) const {
    auto p = reinterpret_cast<uintptr_t>(ptr);
    for (int i = 0; i < numHeaps; ++i) {
        const VPoolHeapState* h = heaps[i].get();
        if (!h) continue;
        auto base = reinterpret_cast<uintptr_t>(h->heap);
        if (p >= base && p < base + h->heapSize) return i;
    }
    return -1;
}

int VPool::addressInPool(const void* ptr) const {
    return findHeap(ptr) >= 0 ? 1 : 0;
}

}  // namespace ruva
