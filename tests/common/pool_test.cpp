#include "common/pool.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "tests/common/pool_test_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::Pipe;

size_t page() {
    return size_t(sysconf(_SC_PAGESIZE));
}

size_t expectedHeapLength(size_t rounded, size_t nitems) {
    return (rounded * nitems + kPoolHeadReserve + page() - 1) / page() * page();
}

const PoolHeapState& head(const Pool& pool, int heapno) {
    return *reinterpret_cast<const PoolHeapState*>(pool.heaps[heapno]->heap);
}

char* itemAt(const Pool& pool, int heapno, size_t index) {
    return pool.heaps[heapno]->heap + kPoolItemArea + index * head(pool, heapno).itemSize;
}

// Takes items until the pool has `heaps` heaps and the newest is full.
std::vector<char*> fillHeaps(Pool& pool, int heaps) {
    std::vector<char*> items;
    while (pool.numHeaps < heaps || pool.heaps.back()->usedItems < pool.heaps.back()->totalItems) {
        auto p = static_cast<char*>(pool.alloc());
        if (!p) break;
        items.push_back(p);
    }
    return items;
}

const uint16_t kBothKinds[] = {kPoolNoSemaphore, kPoolNoSemaphore | kPoolPrivate};

TEST(PoolGeometry, HeapLengthAndItemCountFollowThePageSize) {
    struct Case {
        const char* name;
        size_t itemSize, nitems, rounded;
    } cases[] = {
        {"24 x 8192", 24, 8192, 24},      {"1 rounds to 8", 1, 100, 8},
        {"13 rounds to 16", 13, 100, 16}, {"10 rounds to 12", 10, 100, 12},
        {"8 stays 8", 8, 1, 8},           {"12 is not rounded to 16", 12, 341, 12},
    };
    for (uint16_t flags : kBothKinds) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(flags));
            auto pool = newPool(c.itemSize, c.nitems, flags);
            ASSERT_TRUE(pool);
            size_t len = expectedHeapLength(c.rounded, c.nitems);
            ASSERT_EQ(pool->numHeaps, 1);
            EXPECT_EQ(head(*pool, 0).heapSize, len);
            EXPECT_EQ(head(*pool, 0).itemSize, c.rounded);
            EXPECT_EQ(head(*pool, 0).nextFreeItem, 0);
            EXPECT_EQ(pool->heaps[0]->totalItems, (len - kPoolHeadReserve) / c.rounded);
            EXPECT_GE(pool->heaps[0]->totalItems, c.nitems);
            EXPECT_EQ(pool->totalItems, pool->heaps[0]->totalItems);
            EXPECT_EQ(pool->usedItems, 0u);
            EXPECT_EQ(pool->itemSize, c.itemSize);
            EXPECT_EQ(pool->nitems, c.nitems);
            EXPECT_EQ(pool->maxHeaps, flags & kPoolPrivate ? 0 : kSharedPoolHeaps);
            EXPECT_FALSE(pool->Sem);
        }
    }
}

TEST(PoolGeometry, FourKilobytePagesGiveTheKnownNumbers) {
    if (page() != 4096) GTEST_SKIP() << "page size " << page();
    auto pool = newPool(24, 8192, 3);
    ASSERT_TRUE(pool);
    EXPECT_EQ(head(*pool, 0).heapSize, 200704u);
    EXPECT_EQ(pool->totalItems, 8361u);
    auto small = newPool(1, 100, 3);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->totalItems, 508u);  // well above the 100 asked for
}

TEST(PoolGeometry, ZeroSizeOrCountGivesNull) {
    EXPECT_FALSE(newPool(0, 10, 3));
    EXPECT_FALSE(newPool(10, 0, 3));
    EXPECT_FALSE(newPool(0, 10, 1));
    EXPECT_FALSE(newPool(10, 0, 1));
    EXPECT_FALSE(newPool(SIZE_MAX / 2, 4, 3));
}

TEST(PoolOrder, FreedItemsComeBackLastInFirstOut) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(24, 100, flags);
        ASSERT_TRUE(pool);
        void* a = pool->alloc();
        void* b = pool->alloc();
        void* c = pool->alloc();
        EXPECT_EQ(a, itemAt(*pool, 0, 0));
        EXPECT_EQ(b, itemAt(*pool, 0, 1));
        EXPECT_EQ(c, itemAt(*pool, 0, 2));
        pool->free(a);
        pool->free(b);
        EXPECT_EQ(pool->usedItems, 1u);
        EXPECT_EQ(pool->alloc(), b);
        EXPECT_EQ(pool->alloc(), a);
        EXPECT_EQ(pool->alloc(), itemAt(*pool, 0, 3));
        EXPECT_EQ(pool->usedItems, 4u);
    }
}

TEST(PoolOrder, TwelveByteItemsLinkThroughUnalignedWords) {
    // Every other item starts 4 bytes off an 8-byte boundary; the sanitizer
    // faults on a direct 8-byte access there.
    auto pool = newPool(12, 40, 3);
    ASSERT_TRUE(pool);
    std::vector<void*> items;
    for (size_t i = 0; i < pool->totalItems; ++i) items.push_back(pool->alloc());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(items[1]) % 8, 4u);
    for (void* p : items) pool->free(p);
    for (size_t i = items.size(); i-- > 0;) EXPECT_EQ(pool->alloc(), items[i]);
    EXPECT_EQ(pool->numHeaps, 1);
}

TEST(PoolOrder, AfterClearItemsComeFromTheNewestHeapInAddressOrder) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(16, 4, flags);
        ASSERT_TRUE(pool);
        size_t perHeap = pool->heaps[0]->totalItems;
        fillHeaps(*pool, 1);
        pool->alloc();
        pool->alloc();
        ASSERT_EQ(pool->numHeaps, 2);
        pool->clear();
        EXPECT_EQ(pool->usedItems, 0u);
        EXPECT_EQ(pool->heaps[0]->usedItems, 0u);
        EXPECT_EQ(pool->heaps[1]->usedItems, 0u);
        for (size_t i = 0; i < perHeap; ++i) ASSERT_EQ(pool->alloc(), itemAt(*pool, 1, i)) << i;
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(pool->alloc(), itemAt(*pool, 0, i)) << i;
        EXPECT_EQ(pool->numHeaps, 2);
    }
}

TEST(PoolOrder, ItemFreedInAnOlderHeapIsReusedOnlyOnceTheNewestIsFull) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(16, 4, flags);
        ASSERT_TRUE(pool);
        size_t perHeap = pool->heaps[0]->totalItems;
        fillHeaps(*pool, 1);
        void* first = pool->alloc();  // adds heap 1
        ASSERT_EQ(first, itemAt(*pool, 1, 0));
        char* old = itemAt(*pool, 0, 7);
        pool->free(old);
        for (size_t i = 1; i < perHeap; ++i) ASSERT_EQ(pool->alloc(), itemAt(*pool, 1, i)) << i;
        EXPECT_EQ(pool->alloc(), old);
        EXPECT_EQ(pool->numHeaps, 2);
        void* third = pool->alloc();  // adds heap 2
        ASSERT_EQ(pool->numHeaps, 3);
        EXPECT_EQ(third, itemAt(*pool, 2, 0));
        EXPECT_EQ(pool->usedItems, 2 * perHeap + 1);
        EXPECT_EQ(pool->totalItems, 3 * perHeap);
    }
}

TEST(PoolFree, OnlyTheStartOfAnItemInUseIsTakenBack) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(16, 4, flags);
        ASSERT_TRUE(pool);
        size_t perHeap = pool->heaps[0]->totalItems;
        fillHeaps(*pool, 1);
        ASSERT_TRUE(pool->alloc());
        char* heap0 = pool->heaps[0]->heap;
        char* heap1 = pool->heaps[1]->heap;
        size_t len = head(*pool, 0).heapSize;
        int local = 0;
        struct Case {
            const char* name;
            const void* ptr;
            int heap;
            bool taken;
        } cases[] = {
            {"item-area start", heap0 + kPoolItemArea, 0, true},
            {"last item", itemAt(*pool, 0, perHeap - 1), 0, true},
            {"interior of an item", itemAt(*pool, 0, 5) + 4, 0, false},
            {"tail slack", itemAt(*pool, 0, perHeap), 0, false},
            {"last byte of the heap", heap0 + len - 1, 0, false},
            {"first head byte", heap0, -1, false},
            {"last head byte", heap0 + kPoolItemArea - 1, -1, false},
            {"head of the second heap", heap1 + 8, -1, false},
            {"item of the second heap", itemAt(*pool, 1, 0), 1, true},
            {"one past the end", heap1 + len, -1, false},
            {"foreign pointer", &local, -1, false},
            {"null", nullptr, -1, false},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            size_t used = pool->usedItems;
            EXPECT_EQ(pool->findHeap(c.ptr), c.heap);
            EXPECT_EQ(pool->addressInPool(c.ptr), c.heap >= 0 ? 1 : 0);
            pool->free(const_cast<void*>(c.ptr));
            EXPECT_EQ(pool->usedItems, c.taken ? used - 1 : used);
            size_t perHeapSum = 0;
            for (auto& h : pool->heaps) perHeapSum += h->usedItems;
            EXPECT_EQ(perHeapSum, pool->usedItems);
        }
        // The refused addresses were never linked: heap 0's free list holds
        // its last item, then its first, then ends.
        auto link = [](const void* item) {
            int64_t v;
            std::memcpy(&v, item, 8);
            return v;
        };
        EXPECT_EQ(head(*pool, 0).nextFreeItem, int64_t(16 * (perHeap - 1)));
        EXPECT_EQ(link(itemAt(*pool, 0, perHeap - 1)), 0);
        EXPECT_EQ(link(itemAt(*pool, 0, 0)), -1);
        EXPECT_EQ(head(*pool, 1).nextFreeItem, 0);
    }
}

TEST(PoolFree, HeapWithNoItemInUseIgnoresFrees) {
    auto pool = newPool(16, 4, 3);
    ASSERT_TRUE(pool);
    void* p = pool->alloc();
    pool->free(p);
    pool->free(p);  // a second free of the only item would wrap the counters
    EXPECT_EQ(pool->usedItems, 0u);
    EXPECT_EQ(pool->alloc(), p);
    EXPECT_EQ(pool->alloc(), itemAt(*pool, 0, 1));
}

TEST(PoolHeaps, ClearHeapAndFreeHeapKeepTheCountersTrue) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(16, 4, flags);
        ASSERT_TRUE(pool);
        size_t perHeap = pool->heaps[0]->totalItems;
        fillHeaps(*pool, 1);
        for (int i = 0; i < 5; ++i) pool->alloc();
        pool->clearHeap(0);
        EXPECT_EQ(pool->heaps[0]->usedItems, 0u);
        EXPECT_EQ(pool->usedItems, 5u);
        pool->clearHeap(2);   // past the heaps: nothing
        pool->clearHeap(-1);  // likewise
        EXPECT_EQ(pool->usedItems, 5u);
        pool->freeHeap(0);
        EXPECT_FALSE(pool->heaps[0]);
        EXPECT_EQ(pool->numHeaps, 2);
        EXPECT_EQ(pool->totalItems, perHeap);
        EXPECT_EQ(pool->usedItems, 5u);
        EXPECT_EQ(pool->findHeap(pool->heaps[1]->heap + kPoolItemArea), 1);
        // Heap 1 fills up, then a new heap is added: the null entry is passed over.
        for (size_t i = 5; i < perHeap; ++i) ASSERT_TRUE(pool->alloc());
        void* third = pool->alloc();  // adds heap 2
        ASSERT_EQ(pool->numHeaps, 3);
        EXPECT_EQ(third, itemAt(*pool, 2, 0));
        pool->clear();
        EXPECT_EQ(pool->usedItems, 0u);
    }
}

TEST(PoolHeaps, SharedHeapAddedWithItsOwnGeometryMustFitTheReservation) {
    auto pool = newPool(16, 4, 1);  // one page a heap, sixteen reserved
    ASSERT_TRUE(pool);
    size_t total = pool->totalItems;
    EXPECT_EQ(pool->allocHeap(16, page() * 15 / 16), 0);  // 16 pages with the head
    EXPECT_EQ(pool->numHeaps, 1);
    EXPECT_EQ(pool->totalItems, total);
    ASSERT_EQ(pool->allocHeap(16, page() * 14 / 16), 1);  // 15 pages
    EXPECT_EQ(pool->heaps[1]->heap, pool->heaps[0]->heap + page());
    EXPECT_EQ(pool->allocHeap(8, 1), 0);  // nothing left
    EXPECT_EQ(pool->numHeaps, 2);
}

TEST(PoolShared, SixteenHeapsShareOneMappingAndASeventeenthIsRefused) {
    auto pool = newPool(16, 4, 1);
    ASSERT_TRUE(pool);
    auto start = reinterpret_cast<uintptr_t>(pool->heaps[0]->heap);
    size_t len = head(*pool, 0).heapSize;
    uintptr_t end = start + kSharedPoolHeaps * len;
    test::expectOneReservationLine("/memfd:pool (deleted)", start, end);
    for (int n = 2; n <= kSharedPoolHeaps; ++n) {
        SCOPED_TRACE(n);
        fillHeaps(*pool, n);
        ASSERT_EQ(pool->numHeaps, n);
        EXPECT_EQ(pool->heaps[n - 1]->heap, pool->heaps[0]->heap + (n - 1) * len);
        test::expectOneReservationLine("/memfd:pool (deleted)", start, end);
    }
    size_t total = pool->totalItems;
    size_t used = pool->usedItems;
    EXPECT_EQ(used, total);
    EXPECT_EQ(pool->alloc(), nullptr);
    EXPECT_EQ(pool->allocHeap(16, 4), 0);
    EXPECT_EQ(pool->numHeaps, kSharedPoolHeaps);
    EXPECT_EQ(pool->totalItems, total);
    EXPECT_EQ(pool->usedItems, used);
    // A freed item is still served.
    void* p = itemAt(*pool, 3, 9);
    pool->free(p);
    EXPECT_EQ(pool->alloc(), p);
}

TEST(PoolShared, CreateDeleteCyclesLeaveNoDescriptorNoMapping) {
    std::vector<char> buf(4 << 20);
    std::set<int> fdsBefore = test::openDescriptors();
    for (uint16_t flags : kBothKinds) {
        for (int cycle = 0; cycle < 20; ++cycle) {
            SCOPED_TRACE(std::to_string(flags) + " cycle " + std::to_string(cycle));
            auto pool = newPool(16, 4, flags);
            ASSERT_TRUE(pool);
            fillHeaps(*pool, 2);
            auto ranges = test::heapRanges(*pool, head(*pool, 0).heapSize, flags);
            pool.reset();
            test::expectNoHeapMapped(buf, "/memfd:pool", ranges);
        }
    }
    EXPECT_EQ(test::openDescriptors(), fdsBefore);
}

TEST(PoolSemaphore, PoolsOfOneGeometryShareASetThatOutlivesThem) {
    size_t nitems = 0x20000 + (size_t(getpid()) & 0xffff);  // key 16 * nitems, this test's own
    auto key = key_t(16 * nitems);
    test::SetRemover remover{key};
    auto a = newPool(16, nitems, 0);
    auto b = newPool(16, nitems, kPoolPrivate);
    ASSERT_TRUE(a && a->Sem);
    ASSERT_TRUE(b && b->Sem);
    EXPECT_EQ(a->Sem->key, key);
    EXPECT_EQ(a->Sem->id, b->Sem->id);
    int id = a->Sem->id;
    semid_ds ds{};
    b.reset();
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &ds), 0) << "the destructor only closes";
    a->delSem();
    errno = 0;
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &ds), -1);
    EXPECT_TRUE(errno == EINVAL || errno == EIDRM) << errno;
    EXPECT_TRUE(a->alloc()) << "the pool lives on until destroyed";
}

uint64_t checksum(const void* p, size_t len) {
    uint64_t sum = 1469598103934665603ull;
    auto b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < len; ++i) sum = (sum ^ b[i]) * 1099511628211ull;
    return sum;
}

void fillPattern(char* item, size_t len, size_t seed) {
    for (size_t i = 0; i < len; ++i) item[i] = char(seed * 31 + i * 7 + 1);
}

// The child is forked right after the pool is made. The parent fills three
// heaps, sends their item addresses, destroys its pool and lets the child read.
// Shared: the child returns the parent's checksum. Private: the child finds
// heap 0 as it was at the fork and the later heaps not mapped.
void checkChildView(uint16_t flags) {
    auto pool = newPool(16, 4, flags);
    ASSERT_TRUE(pool);
    Pipe down, up;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        down.closeWrite();
        up.closeRead();
        uint64_t count = 0, sum = 0;
        bool ok = test::receiveValue(down.readEnd(), &count);
        std::vector<uint64_t> addresses(count);
        ok = ok && test::readAll(down.readEnd(), addresses.data(), count * 8);
        char go;
        ok = ok && test::readAll(down.readEnd(), &go, 1);
        for (uint64_t a : addresses) {
            auto item = reinterpret_cast<const char*>(a);
            if (!(flags & kPoolPrivate)) {
                sum = sum * 31 + checksum(item, 16);
            } else if (pool->findHeap(item) == 0) {
                // Before the fork, item i held the link to item i+1.
                size_t index = size_t(item - pool->heaps[0]->heap - kPoolItemArea) / 16;
                int64_t link;
                std::memcpy(&link, item, 8);
                ok = ok && link == (index + 1 < pool->heaps[0]->totalItems ? int64_t(16 * (index + 1)) : -1);
            } else {
                ok = ok && !test::isMapped(item);
            }
        }
        ok = ok && test::sendValue(up.writeEnd(), sum);
        _exit(ok ? 0 : 1);
    }
    down.closeRead();
    up.closeWrite();
    std::vector<char*> items = fillHeaps(*pool, 3);
    ASSERT_EQ(pool->numHeaps, 3);
    uint64_t sum = 0;
    std::vector<uint64_t> addresses;
    for (size_t i = 0; i < items.size(); ++i) {
        fillPattern(items[i], 16, i);
        sum = sum * 31 + checksum(items[i], 16);
        addresses.push_back(reinterpret_cast<uint64_t>(items[i]));
    }
    ASSERT_TRUE(test::sendValue(down.writeEnd(), uint64_t(addresses.size())));
    ASSERT_TRUE(test::writeAll(down.writeEnd(), addresses.data(), addresses.size() * 8));
    pool.reset();
    ASSERT_TRUE(test::writeAll(down.writeEnd(), "g", 1));
    uint64_t childSum = 0;
    EXPECT_TRUE(test::receiveValue(up.readEnd(), &childSum));
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (!(flags & kPoolPrivate)) {
        EXPECT_EQ(childSum, sum);
    }
}

TEST(PoolFork, ChildSeesSharedHeapsAddedAfterItsForkEvenAfterTheOwnerDestroysThePool) {
    checkChildView(kPoolNoSemaphore);
}

TEST(PoolFork, ChildOfAPrivatePoolKeepsHeapZeroAsAtTheForkAndNoLaterHeap) {
    checkChildView(kPoolNoSemaphore | kPoolPrivate);
}

TEST(PoolFork, ChildCannotChangeASharedPool) {
    auto pool = newPool(16, 4, 1);
    ASSERT_TRUE(pool);
    std::vector<char*> items = fillHeaps(*pool, 1);
    for (int i = 0; i < 40; ++i) items.push_back(static_cast<char*>(pool->alloc()));
    ASSERT_EQ(pool->numHeaps, 2);
    for (size_t i = 0; i < items.size(); ++i) fillPattern(items[i], 16, i);
    char* a = items[260];  // both in the newest heap, which serves first
    char* b = items[280];
    pool->free(a);
    pool->free(b);
    size_t used = pool->usedItems;

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Any write into a heap now faults and shows as a signal.
        for (auto& h : pool->heaps)
            mprotect(h->heap, reinterpret_cast<PoolHeapState*>(h->heap)->heapSize, PROT_READ);
        bool ok = pool->alloc() == nullptr;
        pool->free(items[0]);
        pool->clear();
        pool->clearHeap(0);
        ok = ok && pool->allocHeap(16, 4) == 0;
        pool->freeHeap(1);
        pool->delSem();
        ok = ok && pool->usedItems == used && pool->numHeaps == 2 && pool->heaps[1];
        pool.reset();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(pool->alloc(), b);
    EXPECT_EQ(pool->alloc(), a);
    EXPECT_EQ(pool->alloc(), items.back() + 16);
    for (size_t i = 0; i < items.size(); ++i) {
        char expect[16];
        fillPattern(expect, 16, i);
        size_t from = items[i] == a || items[i] == b ? 8 : 0;  // a freed item's link
        EXPECT_EQ(std::memcmp(items[i] + from, expect + from, 16 - from), 0) << i;
    }
}

// Random takes and returns against a reference set: nothing handed out
// twice, no two live items overlap, contents survive, counters agree.
TEST(PoolModel, RandomAllocAndFreeAcrossTwoHeapsAgreeWithAReferenceSet) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto pool = newPool(24, 150, flags);
        ASSERT_TRUE(pool);
        size_t size = head(*pool, 0).itemSize;
        std::mt19937 rng(20261210);
        std::vector<char*> live;
        std::set<uintptr_t> starts;
        for (int step = 0; step < 100000; ++step) {
            bool take = live.empty() || (live.size() < 300 && rng() % 100 < 55);
            if (take) {
                auto p = static_cast<char*>(pool->alloc());
                ASSERT_TRUE(p) << step;
                int heapno = pool->findHeap(p);
                ASSERT_GE(heapno, 0);
                size_t offset = size_t(p - pool->heaps[heapno]->heap - kPoolItemArea);
                ASSERT_EQ(offset % size, 0u);
                ASSERT_LT(offset / size, pool->heaps[heapno]->totalItems);
                auto u = reinterpret_cast<uintptr_t>(p);
                auto next = starts.lower_bound(u);
                ASSERT_TRUE(next == starts.end() || *next >= u + size) << step;
                ASSERT_TRUE(next == starts.begin() || *std::prev(next) + size <= u) << step;
                starts.insert(u);
                std::memset(p, int(u >> 4 & 0xff), size);
                live.push_back(p);
            } else {
                size_t i = rng() % live.size();
                char* p = live[i];
                auto u = reinterpret_cast<uintptr_t>(p);
                for (size_t k = 0; k < size; ++k) ASSERT_EQ(uint8_t(p[k]), uint8_t(u >> 4 & 0xff)) << step;
                pool->free(p);
                starts.erase(u);
                live[i] = live.back();
                live.pop_back();
            }
            ASSERT_EQ(pool->usedItems, live.size()) << step;
        }
        EXPECT_GE(pool->numHeaps, 2);
        size_t used = 0;
        for (auto& h : pool->heaps) used += h->usedItems;
        EXPECT_EQ(used, pool->usedItems);
    }
}

}  // namespace
}  // namespace ruva
