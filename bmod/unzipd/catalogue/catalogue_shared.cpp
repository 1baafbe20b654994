#include "bmod/unzipd/catalogue/catalogue_shared.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace ruva {

std::unique_ptr<CatalogueShared> newCatalogueShared() {
    std::unique_ptr<CatalogueShared> shared(new (std::nothrow) CatalogueShared);
    if (!shared) return nullptr;
    size_t len;
    if (!roundUpTo(sizeof(CatalogueBlock), pageSize(), &len)) return nullptr;
    shared->reservation_ = HeapReservation::create("catalogue", len, 1);
    if (!shared->reservation_) return nullptr;
    // A fresh memory file reads as zeros: every list, count and slot empty.
    char* mem = shared->reservation_->carve(len);
    if (!mem) return nullptr;
    shared->block_ = new (mem) CatalogueBlock;
    shared->nodes_ = newPool(sizeof(MlZipStruct), kMlNodesPerHeap, kPoolNoSemaphore);
    if (!shared->nodes_) return nullptr;
    shared->owner_ = trackedPid();
    return shared;
}

MlZipStruct* CatalogueShared::allocNode() {
    if (!isOwner()) return nullptr;
    prefaultNextHeap();
    void* mem = nodes_->alloc();
    if (!mem) return nullptr;
    // A record spans three pages: clearing the texts whole would touch them
    // all. Empty texts are enough, their slack is never read.
    auto* node = new (mem) MlZipStruct;
    node->next = node->child = nullptr;
    node->level = node->ID = 0;
    node->mTime = 0;
    node->zs = nullptr;
    node->ldapattributes = nullptr;
    node->descr[0] = node->label[0] = node->ifile[0] = node->libpath[0] = '\0';
    return node;
}

// A heap of 2048 records is about 4800 pages, and filling it one page fault
// at a time took most of the time of a 20,000-node read: when the pool is
// full, the pages of the heap it will carve next (the next heap length of
// its reservation, pool.h) are committed in one call instead.
void CatalogueShared::prefaultNextHeap() {
    Pool& pool = *nodes_;
    if (pool.usedItems < pool.totalItems || pool.numHeaps >= pool.maxHeaps || pool.heaps.empty() ||
        !pool.heaps[0])
        return;
    char* first = pool.heaps[0]->heap;
    size_t len = reinterpret_cast<const PoolHeapState*>(first)->heapSize;
    madvise(first + len * static_cast<size_t>(pool.numHeaps), len, MADV_POPULATE_WRITE);
}

void CatalogueShared::freeNode(MlZipStruct* node) {
    if (node && isOwner()) nodes_->free(node);
}

}  // namespace ruva
