#include "bmod/unzipd/zip/zip_pool.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace ruva {
namespace {

size_t page() {
    return size_t(sysconf(_SC_PAGESIZE));
}

TEST(ZipPool, ZeroNumbersTakeTheDefaults) {
    auto zp = newZipPool(64, 160, 0, 0, 0);
    ASSERT_TRUE(zp);
    EXPECT_EQ(zp->maxZipStructures, 700u);
    EXPECT_EQ(zp->maxCentralHeaders, 280000u);
    EXPECT_EQ(zp->namePoolSize, 9004800u);
    EXPECT_EQ(zp->maxNameLength, 384u);
    EXPECT_EQ(zp->zipStructurePool->nitems, 700u);
    EXPECT_EQ(zp->centralHeaderPool->nitems, 280000u);
    EXPECT_EQ(zp->namePool->heapSize, 9004800u);
    EXPECT_EQ(zp->namePool->maxItemSize, 384);
    const VPoolHeapState& names = *zp->namePool->heaps[0];
    EXPECT_EQ(names.heapSize, (9004800 + page() - 1) / page() * page());
    if (page() == 4096) {
        EXPECT_EQ(names.heapSize, 9007104u);
        EXPECT_EQ(names.heapSize / names.maxItemSize, 23456u);
    }
}

TEST(ZipPool, NumbersAndItemSizesArePassedThroughToSharedPoolsWithoutSemaphores) {
    auto zp = newZipPool(40, 100, 10, 20, 8192);
    ASSERT_TRUE(zp);
    EXPECT_EQ(zp->maxZipStructures, 10u);
    EXPECT_EQ(zp->maxCentralHeaders, 20u);
    EXPECT_EQ(zp->namePoolSize, 8192u);
    EXPECT_EQ(zp->zipStructurePool->itemSize, 40u);
    EXPECT_EQ(zp->zipStructurePool->nitems, 10u);
    EXPECT_EQ(zp->centralHeaderPool->itemSize, 100u);
    EXPECT_EQ(zp->centralHeaderPool->nitems, 20u);
    EXPECT_EQ(zp->namePool->heapSize, 8192u);
    EXPECT_EQ(zp->zipStructurePool->flags, kPoolNoSemaphore);
    EXPECT_EQ(zp->centralHeaderPool->flags, kPoolNoSemaphore);
    EXPECT_EQ(zp->namePool->flags, kPoolNoSemaphore);
    EXPECT_FALSE(zp->zipStructurePool->Sem);
    EXPECT_FALSE(zp->centralHeaderPool->Sem);
    EXPECT_FALSE(zp->namePool->Sem);
    EXPECT_EQ(zp->zipStructurePool->maxHeaps, kSharedPoolHeaps);
    EXPECT_EQ(zp->namePool->maxHeaps, kSharedPoolHeaps);
}

TEST(ZipPool, LockOperationsDoNothingAndReturnOne) {
    auto zp = newZipPool(40, 100, 10, 20, 8192);
    ASSERT_TRUE(zp);
    EXPECT_EQ(zp->writeLock(), 1);
    EXPECT_EQ(zp->writeLock(), 1);
    EXPECT_EQ(zp->readLock(), 1);
    EXPECT_EQ(zp->readUnlock(), 1);
    EXPECT_EQ(zp->writeUnlock(), 1);
    EXPECT_EQ(zp->writeUnlock(), 1);
}

TEST(ZipPool, OccupationsArePerCentOfTheTotals) {
    auto zp = newZipPool(32, 32, 10, 20, 8192);
    ASSERT_TRUE(zp);
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(zp->zipStructurePool->alloc());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(zp->centralHeaderPool->alloc());
    ASSERT_TRUE(zp->namePool->strdup(std::string(1000, 'n').c_str()) == nullptr);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(zp->namePool->strdup(std::string(200, 'n').c_str()));
    int s = -1, h = -1, n = -1;
    EXPECT_EQ(zp->getPoolOccupations(&s, &h, &n), 1);
    EXPECT_EQ(s, int(50 * 100 / zp->zipStructurePool->totalItems));
    EXPECT_EQ(h, int(3 * 100 / zp->centralHeaderPool->totalItems));
    EXPECT_EQ(n, 20 * 208 * 100 / 8192);
    EXPECT_GT(s, 0);

    int only = -1;
    EXPECT_EQ(zp->getPoolOccupations(nullptr, &only, nullptr), 1);
    EXPECT_EQ(only, h);
    EXPECT_EQ(zp->getPoolOccupations(nullptr, nullptr, nullptr), 1);

    // Zero totals give 0; the names figure is against one heap and may pass 100.
    zp->zipStructurePool->totalItems = 0;
    zp->centralHeaderPool->totalItems = 0;
    zp->namePool->allocSize = 3 * 8192;
    EXPECT_EQ(zp->getPoolOccupations(&s, &h, &n), 1);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(n, 300);
    zp->namePool->heapSize = 0;
    EXPECT_EQ(zp->getPoolOccupations(nullptr, nullptr, &n), 1);
    EXPECT_EQ(n, 0);
}

}  // namespace
}  // namespace ruva
