#include "bmod/unzipd/catalogue/catalogue_shared.h"

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
    void* mem = nodes_->alloc();
    if (!mem) return nullptr;
    std::memset(mem, 0, sizeof(MlZipStruct));
    return new (mem) MlZipStruct;
}

void CatalogueShared::freeNode(MlZipStruct* node) {
    if (node && isOwner()) nodes_->free(node);
}

}  // namespace ruva
