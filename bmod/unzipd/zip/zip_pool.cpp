#include "bmod/unzipd/zip/zip_pool.h"

#include <climits>
#include <cstdint>

namespace ruva {

namespace {

int perCent(uint64_t part, uint64_t total) {
    if (total == 0) return 0;
    uint64_t value = part * 100 / total;
    return value > uint64_t(INT_MAX) ? INT_MAX : int(value);
}

}  // namespace

std::unique_ptr<ZipPool> newZipPool(size_t structSize, size_t headerSize, unsigned maxZipStructures,
                                    unsigned maxCentralHeaders, unsigned namePoolSize) {
    std::unique_ptr<ZipPool> zp(new ZipPool);
    zp->maxZipStructures = maxZipStructures ? maxZipStructures : kDefaultMaxZipStructures;
    zp->maxCentralHeaders = maxCentralHeaders ? maxCentralHeaders : kDefaultMaxCentralHeaders;
    zp->namePoolSize = namePoolSize ? namePoolSize : kDefaultNamePoolSize;
    zp->zipStructurePool = newPool(structSize, zp->maxZipStructures, kPoolNoSemaphore);
    zp->centralHeaderPool = newPool(headerSize, zp->maxCentralHeaders, kPoolNoSemaphore);
    zp->namePool = newVPool(zp->namePoolSize, uint16_t(kMaxNameLength), kPoolNoSemaphore);
    if (!zp->zipStructurePool || !zp->centralHeaderPool || !zp->namePool) return nullptr;
    return zp;
}

ZipPool::~ZipPool() {
    // Unreachable through newZipPool (no pool has a semaphore); kept so that
    // a writer still inside the pool finishes first. The set stays.
    if (zipStructurePool && zipStructurePool->Sem) {
        zipStructurePool->Sem->writeLock(30);
        zipStructurePool->Sem->writeUnlock();
    }
}

int ZipPool::getPoolOccupations(int* structures, int* headers, int* names) const {
    if (structures)
        *structures =
            zipStructurePool ? perCent(zipStructurePool->usedItems, zipStructurePool->totalItems) : 0;
    if (headers)
        *headers =
            centralHeaderPool ? perCent(centralHeaderPool->usedItems, centralHeaderPool->totalItems) : 0;
    if (names) *names = namePool ? perCent(namePool->allocSize, namePool->heapSize) : 0;
    return 1;
}

}  // namespace ruva
