// The catalogue's pools: library records, member records and their texts,
// in shared heaps made by the daemon's main process before it forks, so that
// every session reads the catalogue as it stands now.
//
// Only the main process allocates and frees; sessions only read (pool.h and
// vpool.h refuse changes from them). Records placed here are trivially
// copyable, and every text they point to comes from namePool.
#pragma once

#include <cstddef>
#include <memory>

#include "bmod/unzipd/zip/vpool.h"
#include "common/pool.h"

namespace ruva {

constexpr unsigned kDefaultMaxZipStructures = 700;
constexpr unsigned kDefaultMaxCentralHeaders = 280000;
constexpr unsigned kDefaultNamePoolSize = 9004800;
constexpr unsigned long kMaxNameLength = 384;

class ZipPool {
public:
    // del: destroys the three pools. Their sets, if any, stay in the system.
    ~ZipPool();
    ZipPool(const ZipPool&) = delete;
    ZipPool& operator=(const ZipPool&) = delete;

    // Per cent of the library items in use, of the member items in use, and
    // of the name bytes handed out against one heap's size (which can pass
    // 100). A total of 0 gives 0; a null pointer skips its value. Returns 1.
    int getPoolOccupations(int* structures, int* headers, int* names) const;

    // Nothing takes these locks yet: they do nothing and return 1.
    int readLock() { return 1; }
    int readUnlock() { return 1; }
    int writeLock() { return 1; }
    int writeUnlock() { return 1; }

    std::unique_ptr<Pool> zipStructurePool;
    std::unique_ptr<Pool> centralHeaderPool;
    std::unique_ptr<VPool> namePool;
    unsigned maxZipStructures = 0;
    unsigned maxCentralHeaders = 0;
    unsigned namePoolSize = 0;
    unsigned long maxNameLength = kMaxNameLength;

private:
    friend std::unique_ptr<ZipPool> newZipPool(size_t, size_t, unsigned, unsigned, unsigned);
    ZipPool() = default;
};

// Shared pools without semaphores: one of structSize items for
// maxZipStructures libraries, one of headerSize items for maxCentralHeaders
// members, and a name pool of namePoolSize-byte heaps with items up to
// kMaxNameLength. A number 0 takes its default. The item sizes are those of
// the library and member records. Null when a pool cannot be made.
std::unique_ptr<ZipPool> newZipPool(size_t structSize, size_t headerSize, unsigned maxZipStructures,
                                    unsigned maxCentralHeaders, unsigned namePoolSize);

}  // namespace ruva
