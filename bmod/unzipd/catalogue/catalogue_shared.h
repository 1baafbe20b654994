// The catalogue state that session processes read: one shared block with the
// list heads, counts, quick index, hash-id table, tree root and structure
// file name, and the shared pool of node records.
//
// Both are made before any fork and never mapped again, so a process forked
// later sees every change the main process makes, with no new mapping. Only
// the main process (the one that made them) changes them: it fills a record
// before one release store (publish) links it, and unlinks a record before
// it frees it. In any other process allocNode and freeNode do nothing.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <type_traits>

#include "bmod/unzipd/catalogue/ml_tree.h"
#include "common/heap_mapping.h"
#include "common/pool.h"

namespace ruva {

class ZipStructure;

// Quick index: "A"-"Z" in slots 0-25, "a"-"z" in 26-51.
constexpr int kQuickIndexSlots = 52;

// Room for the structure file name, its NUL included.
constexpr size_t kMlConfFileSize = 4096;

// Node records per heap of the node pool: its 16 heaps hold the 32768 nodes
// the hash-id table allows.
constexpr size_t kMlNodesPerHeap = 2048;

struct CatalogueBlock {
    ZipStructure* firstZipStructure;     // ascending by base name (strcmp)
    ZipStructure* firstZipStructureLZN;  // ascending by library id (strcmp)
    ZipStructure* MlFirst;               // libraries outside any tree: never filled
    unsigned long structureCount;
    unsigned long subCount;
    ZipStructure* zipStructIndex[kQuickIndexSlots];
    MlHashTable MlZipHash[kMlHashSize];
    MlZipStruct* MlRoot;
    char MlConfFile[kMlConfFileSize];  // structure file path, "default" or ""
    time_t m_ConfFileTime;
};
static_assert(std::is_standard_layout_v<CatalogueBlock> && std::is_trivially_destructible_v<CatalogueBlock>);

class CatalogueShared {
public:
    // Unmaps the block and the node pool in this process; other processes
    // keep their view.
    ~CatalogueShared() = default;
    CatalogueShared(const CatalogueShared&) = delete;
    CatalogueShared& operator=(const CatalogueShared&) = delete;

    CatalogueBlock* block() const { return block_; }
    Pool* nodePool() const { return nodes_.get(); }

    // True in the process that made the block: the only one that changes it.
    bool isOwner() const { return isCurrentProcess(owner_); }

    // A node record with every byte zero, not yet linked anywhere; null
    // when the pool is full or in another process.
    MlZipStruct* allocNode();
    // Returns an unlinked record to the pool.
    void freeNode(MlZipStruct* node);

private:
    friend std::unique_ptr<CatalogueShared> newCatalogueShared();
    CatalogueShared() = default;

    std::unique_ptr<HeapReservation> reservation_;
    CatalogueBlock* block_ = nullptr;
    std::unique_ptr<Pool> nodes_;
    pid_t owner_ = 0;
};

// A zeroed block and an empty node pool (no semaphore); null when either
// cannot be mapped.
std::unique_ptr<CatalogueShared> newCatalogueShared();

// Links a filled record: readers in other processes see the record whole.
template <class T>
inline void publish(T*& link, T* value) {
    std::atomic_ref<T*>(link).store(value, std::memory_order_release);
}

// Fills a hash slot; a null record frees it.
inline void setHashSlot(CatalogueBlock* b, int id, MlNodeType type, void* record) {
    MlHashTable& slot = b->MlZipHash[id];
    if (record) slot.type = type;
    publish(slot.MlNode, record);
}

}  // namespace ruva
