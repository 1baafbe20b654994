#include "bmod/unzipd/zip/vpool.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/common/pool_test_support.h"
#include "tests/support/test_support.h"

namespace ruva {
namespace {

using test::Pipe;

size_t page() {
    return size_t(sysconf(_SC_PAGESIZE));
}

const uint16_t kBothKinds[] = {kPoolNoSemaphore, kPoolNoSemaphore | kPoolPrivate};

int64_t offsetIn(const VPool& vp, int heapno, const void* p) {
    return p ? static_cast<const char*>(p) - vp.heaps[heapno]->heap : -1;
}

// (offset, size) of the general list's items, in list order.
std::vector<std::pair<int64_t, uint16_t>> generalList(const VPoolHeapState& h, size_t limit) {
    std::vector<std::pair<int64_t, uint16_t>> items;
    for (int64_t off = h.nextFreeItem; off >= 0 && items.size() < limit;) {
        uint16_t size;
        std::memcpy(&size, h.heap + off + 8, 2);
        items.emplace_back(off, size);
        std::memcpy(&off, h.heap + off, 8);
    }
    return items;
}

TEST(VPoolGeometry, HeapIsWholePagesCutIntoMaximumItems) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto vp = newVPool(5000, 380, flags);
        ASSERT_TRUE(vp);
        ASSERT_EQ(vp->numHeaps, 1);
        const VPoolHeapState& h = *vp->heaps[0];
        size_t len = (5000 + page() - 1) / page() * page();
        EXPECT_EQ(h.heapSize, len);
        EXPECT_EQ(h.maxItemSize, 384);
        EXPECT_EQ(vp->maxItemSize, 380);
        EXPECT_EQ(vp->heapSize, 5000u);
        EXPECT_EQ(vp->maxHeaps, flags & kPoolPrivate ? 0 : kSharedPoolHeaps);
        EXPECT_FALSE(vp->Sem);
        auto items = generalList(h, SIZE_MAX);
        ASSERT_EQ(items.size(), len / 384);
        for (size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(items[i].first, int64_t(i * 384));
            EXPECT_EQ(items[i].second, 384);
        }
        EXPECT_EQ(h.nextFree16Item, -1);
        EXPECT_EQ(h.nextFree32Item, -1);
        EXPECT_EQ(h.nextFree48Item, -1);
    }
}

TEST(VPoolGeometry, UnusableGeometriesGiveNull) {
    EXPECT_FALSE(newVPool(0, 384, 3));
    EXPECT_FALSE(newVPool(4096, 0, 3));
    EXPECT_FALSE(newVPool(4096, 8192, 3));      // no whole item in the heap
    EXPECT_FALSE(newVPool(1 << 20, 65521, 3));  // rounds past the 16-bit size field
    EXPECT_TRUE(newVPool(1 << 20, 65520, 3));
}

// Each step allocates (expecting an offset from the heap base, -1 = null)
// or frees at an offset, then checks allocSize and the four list heads.
struct Step {
    enum Kind { kAlloc, kFree } kind;
    size_t size;
    int64_t offset;
    size_t allocSize;
    int64_t general, list16, list32, list48;
};

struct SizeCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::pair<int64_t, uint16_t>> generalPrefix;  // after the last step
};

TEST(VPoolSizes, ItemsComeFromTheListOfTheirSizeOrSplitTheFirstFit) {
    using K = Step::Kind;
    // Steps: kind, size, offset, allocSize after, then the heads: general, 16, 32, 48.
    const SizeCase cases[] = {
        {"20 is handed out as 32 and freed with 20 onto the 32 list",
         {{K::kAlloc, 20, 0, 32, 32, -1, -1, -1},
          {K::kFree, 20, 0, 0, 32, -1, 0, -1},
          {K::kAlloc, 32, 0, 32, 32, -1, -1, -1}},
         {{32, 352}, {384, 384}}},
        {"0 counts as 16", {{K::kAlloc, 0, 0, 16, 16, -1, -1, -1}}, {{16, 368}}},
        {"336 leaves 48 on its list; 16, 16, 16 follow from 336, 352, 368",
         {{K::kAlloc, 336, 0, 336, 384, -1, -1, 336},
          {K::kAlloc, 16, 336, 352, 384, -1, 352, -1},
          {K::kAlloc, 16, 352, 368, 384, 368, -1, -1},
          {K::kAlloc, 16, 368, 384, 384, -1, -1, -1}},
         {{384, 384}}},
        {"32 from a 48 leaves 16",
         {{K::kAlloc, 336, 0, 336, 384, -1, -1, 336}, {K::kAlloc, 32, 336, 368, 384, 368, -1, -1}},
         {}},
        {"100 takes 112; the remaining 272 takes the item's place",
         {{K::kAlloc, 100, 0, 112, 112, -1, -1, -1}},
         {{112, 272}, {384, 384}}},
        {"an exact fit is unlinked", {{K::kAlloc, 384, 0, 384, 384, -1, -1, -1}}, {{384, 384}, {768, 384}}},
        {"a 32 rest goes onto the 32 list", {{K::kAlloc, 352, 0, 352, 384, -1, 352, -1}}, {{384, 384}}},
        {"a freed general size goes to the front of the general list",
         {{K::kAlloc, 100, 0, 112, 112, -1, -1, -1}, {K::kFree, 100, 0, 0, 0, -1, -1, -1}},
         {{0, 112}, {112, 272}, {384, 384}}},
        {"first fit skips an item too small",
         {{K::kAlloc, 100, 0, 112, 112, -1, -1, -1},
          {K::kFree, 100, 0, 0, 0, -1, -1, -1},
          {K::kAlloc, 200, 112, 208, 0, -1, -1, -1}},
         {{0, 112}, {320, 64}, {384, 384}}},
        {"385 is refused", {{K::kAlloc, 385, -1, 0, 0, -1, -1, -1}}, {{0, 384}}},
    };
    for (uint16_t flags : kBothKinds) {
        for (const SizeCase& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " flags " + std::to_string(flags));
            auto vp = newVPool(4096, 384, flags);
            ASSERT_TRUE(vp);
            const VPoolHeapState& h = *vp->heaps[0];
            for (size_t i = 0; i < c.steps.size(); ++i) {
                const Step& s = c.steps[i];
                SCOPED_TRACE("step " + std::to_string(i));
                if (s.kind == Step::kAlloc)
                    EXPECT_EQ(offsetIn(*vp, 0, vp->alloc(s.size)), s.offset);
                else
                    vp->free(h.heap + s.offset, s.size);
                EXPECT_EQ(vp->allocSize, s.allocSize);
                EXPECT_EQ(h.allocSize, s.allocSize);
                EXPECT_EQ(h.nextFreeItem, s.general);
                EXPECT_EQ(h.nextFree16Item, s.list16);
                EXPECT_EQ(h.nextFree32Item, s.list32);
                EXPECT_EQ(h.nextFree48Item, s.list48);
            }
            EXPECT_EQ(generalList(h, c.generalPrefix.size()), c.generalPrefix);
            EXPECT_EQ(vp->numHeaps, 1);
        }
    }
}

TEST(VPoolSizes, StrdupCopiesTheTextWithItsNul) {
    auto vp = newVPool(4096, 384, 3);
    ASSERT_TRUE(vp);
    char* a = vp->strdup("library");
    ASSERT_TRUE(a);
    EXPECT_STREQ(a, "library");
    EXPECT_EQ(vp->allocSize, 16u);
    char* empty = vp->strdup("");
    ASSERT_TRUE(empty);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(empty, a + 16);
    EXPECT_FALSE(vp->strdup(nullptr));
    vp->free(a, std::strlen(a) + 1);
    EXPECT_EQ(vp->allocSize, 16u);
    EXPECT_EQ(vp->strdup("x"), a);
}

TEST(VPoolLimits, OversizeRequestsAddNoHeapEvenWhenAllAreFull) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto vp = newVPool(4096, 384, flags);
        ASSERT_TRUE(vp);
        std::string longest(383, 'n');
        std::string tooLong(384, 'n');
        size_t items = vp->heaps[0]->heapSize / 384;
        for (size_t i = 0; i < items; ++i) ASSERT_TRUE(vp->strdup(longest.c_str()));
        EXPECT_EQ(vp->allocSize, items * 384);
        EXPECT_FALSE(vp->strdup(tooLong.c_str()));
        EXPECT_FALSE(vp->alloc(385));
        EXPECT_FALSE(vp->alloc(SIZE_MAX));
        EXPECT_EQ(vp->numHeaps, 1);
        char* next = vp->strdup(longest.c_str());
        ASSERT_TRUE(next);
        EXPECT_EQ(vp->numHeaps, 2);
        EXPECT_EQ(offsetIn(*vp, 1, next), 0);
        EXPECT_EQ(vp->allocItem(0, 16), nullptr);  // heap 0 is full; allocItem adds none
        EXPECT_EQ(vp->numHeaps, 2);
    }
}

TEST(VPoolLimits, BytesAfterTheLastWholeItemAreNeverHandedOut) {
    auto vp = newVPool(4096, 384, 3);
    ASSERT_TRUE(vp);
    size_t end = vp->heaps[0]->heapSize / 384 * 384;
    ASSERT_LT(end, vp->heaps[0]->heapSize);
    while (vp->numHeaps == 1) {
        auto p = static_cast<char*>(vp->alloc(16));
        ASSERT_TRUE(p);
        if (vp->findHeap(p) == 0) {
            ASSERT_LE(size_t(p - vp->heaps[0]->heap) + 16, end);
        }
    }
}

TEST(VPoolFree, FreesThatCannotBeValidAreIgnored) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto vp = newVPool(4096, 384, flags);
        ASSERT_TRUE(vp);
        char* heap = vp->heaps[0]->heap;
        size_t end = vp->heaps[0]->heapSize / 384 * 384;
        char* first = static_cast<char*>(vp->alloc(16));  // offset 0
        ASSERT_EQ(first, heap);
        int local = 0;
        struct Case {
            const char* name;
            void* ptr;
            size_t size;
        } cases[] = {
            {"foreign pointer", &local, 16},
            {"null", nullptr, 16},
            {"off a 16-byte step", heap + 8, 16},
            {"size above the largest item", heap, 385},
            {"runs past the last item", heap + end - 16, 32},
            {"in the tail after the last item", heap + end, 16},
            {"more than the heap handed out", heap, 32},
            {"one past the heap", heap + vp->heaps[0]->heapSize, 16},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            VPoolHeapState before = *vp->heaps[0];
            auto listBefore = generalList(before, 4);
            vp->free(c.ptr, c.size);
            const VPoolHeapState& h = *vp->heaps[0];
            EXPECT_EQ(vp->allocSize, 16u);
            EXPECT_EQ(h.allocSize, 16u);
            EXPECT_EQ(h.nextFreeItem, before.nextFreeItem);
            EXPECT_EQ(h.nextFree16Item, before.nextFree16Item);
            EXPECT_EQ(h.nextFree32Item, before.nextFree32Item);
            EXPECT_EQ(h.nextFree48Item, before.nextFree48Item);
            EXPECT_EQ(generalList(h, 4), listBefore);
        }
        EXPECT_EQ(vp->findHeap(heap + vp->heaps[0]->heapSize - 1), 0);
        EXPECT_EQ(vp->addressInPool(heap + end), 1);
        EXPECT_EQ(vp->findHeap(heap - 1), -1);
        EXPECT_EQ(vp->addressInPool(&local), 0);
        vp->free(first, 1);
        EXPECT_EQ(vp->allocSize, 0u);
        EXPECT_EQ(vp->heaps[0]->nextFree16Item, 0);
    }
}

TEST(VPoolClear, SharedClearReleasesLaterHeapsAndCarvesThemAgain) {
    auto vp = newVPool(4096, 384, 1);
    ASSERT_TRUE(vp);
    char* inHeap2 = nullptr;
    while (vp->numHeaps < 3) inHeap2 = vp->strdup(std::string(300, 'x').c_str());
    ASSERT_EQ(vp->findHeap(inHeap2), 2);
    char* heap1 = vp->heaps[1]->heap;
    vp->clear();
    EXPECT_EQ(vp->numHeaps, 1);
    EXPECT_EQ(vp->heaps.size(), 1u);
    EXPECT_EQ(vp->allocSize, 0u);
    EXPECT_EQ(vp->heaps[0]->allocSize, 0u);
    EXPECT_EQ(vp->heaps[0]->nextFreeItem, 0);
    EXPECT_EQ(vp->heaps[0]->nextFree48Item, -1);
    EXPECT_EQ(vp->findHeap(inHeap2), -1);
    // The released pages read as zeros for every process that maps them.
    EXPECT_EQ(inHeap2[0], 0);
    size_t items = vp->heaps[0]->heapSize / 384;
    for (size_t i = 0; i < items; ++i) ASSERT_EQ(offsetIn(*vp, 0, vp->alloc(384)), int64_t(i * 384));
    char* again = static_cast<char*>(vp->alloc(384));
    EXPECT_EQ(vp->numHeaps, 2);
    EXPECT_EQ(again, heap1);
}

TEST(VPoolClear, PrivateClearUnmapsLaterHeaps) {
    auto vp = newVPool(4096, 384, 3);
    ASSERT_TRUE(vp);
    while (vp->numHeaps < 3) vp->alloc(300);
    char* heap2 = vp->heaps[2]->heap;
    vp->clear();
    EXPECT_EQ(vp->numHeaps, 1);
    EXPECT_EQ(vp->allocSize, 0u);
    EXPECT_FALSE(test::isMapped(heap2));
    EXPECT_EQ(offsetIn(*vp, 0, vp->alloc(384)), 0);
}

TEST(VPoolClear, ClearHeapAndFreeHeapTakeTheirBytesOutOfAllocSize) {
    auto vp = newVPool(4096, 384, 3);
    ASSERT_TRUE(vp);
    while (vp->numHeaps < 2) vp->alloc(384);
    vp->alloc(20);
    size_t heap0 = vp->heaps[0]->allocSize;
    vp->clearHeap(0);
    EXPECT_EQ(vp->allocSize, 384u + 32u);  // heap 1's share
    EXPECT_EQ(vp->heaps[0]->allocSize, 0u);
    EXPECT_GT(heap0, 0u);
    vp->freeHeap(1);
    EXPECT_EQ(vp->allocSize, 0u);
    EXPECT_FALSE(vp->heaps[1]);
    vp->clearHeap(1);  // a null entry: nothing
    vp->freeHeap(7);   // past the heaps: nothing
    EXPECT_EQ(offsetIn(*vp, 0, vp->alloc(16)), 0);
}

TEST(VPoolShared, SixteenHeapsShareOneMappingAndASeventeenthIsRefused) {
    auto vp = newVPool(4096, 384, 1);
    ASSERT_TRUE(vp);
    auto start = reinterpret_cast<uintptr_t>(vp->heaps[0]->heap);
    size_t len = vp->heaps[0]->heapSize;
    uintptr_t end = start + kSharedPoolHeaps * len;
    test::expectOneReservationLine("/memfd:vpool (deleted)", start, end);
    int heaps = 1;
    while (void* p = vp->alloc(384)) {
        if (vp->numHeaps == heaps) continue;
        heaps = vp->numHeaps;
        SCOPED_TRACE(heaps);
        EXPECT_EQ(vp->heaps[heaps - 1]->heap, vp->heaps[0]->heap + (heaps - 1) * len);
        EXPECT_EQ(vp->findHeap(p), heaps - 1);
        test::expectOneReservationLine("/memfd:vpool (deleted)", start, end);
    }
    EXPECT_EQ(vp->numHeaps, kSharedPoolHeaps);
    size_t used = vp->allocSize;
    EXPECT_EQ(used, kSharedPoolHeaps * (len / 384 * 384));
    EXPECT_EQ(vp->alloc(16), nullptr);
    EXPECT_EQ(vp->allocHeap(4096, 384), 0);
    EXPECT_EQ(vp->numHeaps, kSharedPoolHeaps);
    EXPECT_EQ(vp->allocSize, used);
}

TEST(VPoolShared, CreateDeleteCyclesLeaveNoDescriptorNoMapping) {
    std::vector<char> buf(4 << 20);
    std::set<int> fdsBefore = test::openDescriptors();
    for (uint16_t flags : kBothKinds) {
        for (int cycle = 0; cycle < 20; ++cycle) {
            SCOPED_TRACE(std::to_string(flags) + " cycle " + std::to_string(cycle));
            auto vp = newVPool(4096, 384, flags);
            ASSERT_TRUE(vp);
            while (vp->numHeaps < 2) vp->strdup("text");
            auto ranges = test::heapRanges(*vp, vp->heaps[0]->heapSize, flags);
            vp.reset();
            test::expectNoHeapMapped(buf, "/memfd:vpool", ranges);
        }
    }
    EXPECT_EQ(test::openDescriptors(), fdsBefore);
}

TEST(VPoolSemaphore, DestructorLeavesTheSetAndDelSemRemovesIt) {
    auto maxItem = uint16_t(4096 + (getpid() & 0xfff));  // key 65536 * maxItem, this test's own
    auto key = key_t(65536 * maxItem);
    test::SetRemover remover{key};
    auto a = newVPool(65536, maxItem, 0);
    auto b = newVPool(65536, maxItem, kPoolPrivate);
    ASSERT_TRUE(a && a->Sem);
    ASSERT_TRUE(b && b->Sem);
    EXPECT_EQ(a->Sem->key, key);
    EXPECT_EQ(a->Sem->id, b->Sem->id);
    int id = a->Sem->id;
    semid_ds ds{};
    b.reset();
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &ds), 0);
    a->delSem();
    errno = 0;
    EXPECT_EQ(semctl(id, 0, IPC_STAT, &ds), -1);
    EXPECT_TRUE(errno == EINVAL || errno == EIDRM) << errno;
}

uint64_t checksum(const char* p, size_t len) {
    uint64_t sum = 1469598103934665603ull;
    for (size_t i = 0; i < len; ++i) sum = (sum ^ uint8_t(p[i])) * 1099511628211ull;
    return sum;
}

std::string textFor(size_t i) {
    std::string s = "name-" + std::to_string(i) + "-";
    s.resize(1 + (i * 37) % 300, char('a' + i % 26));
    return s;
}

// A private heap as made: zeros but for each item's link and size.
uint8_t freshByte(size_t off, size_t heapSize) {
    size_t items = heapSize / 384;
    size_t item = off / 384, within = off % 384;
    if (item >= items || within >= 10) return 0;
    int64_t link = item + 1 < items ? int64_t((item + 1) * 384) : -1;
    uint16_t size = 384;
    uint8_t bytes[10];
    std::memcpy(bytes, &link, 8);
    std::memcpy(bytes + 8, &size, 2);
    return bytes[within];
}

// The child is forked right after the pool is made. The parent fills three
// heaps with texts, sends their addresses, destroys its pool and lets the
// child read: shared, the child returns the parent's checksum; private, it
// finds heap 0 as made and the later heaps not mapped.
void checkChildView(uint16_t flags) {
    auto vp = newVPool(4096, 384, flags);
    ASSERT_TRUE(vp);
    Pipe down, up;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        down.closeWrite();
        up.closeRead();
        uint64_t count = 0, sum = 0;
        bool ok = test::receiveValue(down.readEnd(), &count);
        std::vector<uint64_t> texts(count * 2);
        ok = ok && test::readAll(down.readEnd(), texts.data(), texts.size() * 8);
        char go;
        ok = ok && test::readAll(down.readEnd(), &go, 1);
        for (size_t i = 0; ok && i < count; ++i) {
            auto text = reinterpret_cast<const char*>(texts[2 * i]);
            size_t len = texts[2 * i + 1];
            if (!(flags & kPoolPrivate)) {
                ok = std::strlen(text) == len;
                sum = sum * 31 + checksum(text, len);
            } else if (vp->findHeap(text) == 0) {
                size_t off = size_t(text - vp->heaps[0]->heap);
                for (size_t k = 0; ok && k <= len; ++k)
                    ok = uint8_t(text[k]) == freshByte(off + k, vp->heaps[0]->heapSize);
            } else {
                ok = !test::isMapped(text);
            }
        }
        ok = test::sendValue(up.writeEnd(), sum) && ok;
        _exit(ok ? 0 : 1);
    }
    down.closeRead();
    up.closeWrite();
    std::vector<uint64_t> texts;
    uint64_t sum = 0;
    for (size_t i = 0; vp->numHeaps < 3; ++i) {
        std::string s = textFor(i);
        char* copy = vp->strdup(s.c_str());
        ASSERT_TRUE(copy);
        texts.push_back(reinterpret_cast<uint64_t>(copy));
        texts.push_back(s.size());
        sum = sum * 31 + checksum(copy, s.size());
    }
    ASSERT_EQ(vp->numHeaps, 3);
    ASSERT_TRUE(test::sendValue(down.writeEnd(), uint64_t(texts.size() / 2)));
    ASSERT_TRUE(test::writeAll(down.writeEnd(), texts.data(), texts.size() * 8));
    vp.reset();
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

TEST(VPoolFork, ChildReadsTextsInSharedHeapsAddedAfterItsForkEvenAfterTheOwnerDestroysThePool) {
    checkChildView(kPoolNoSemaphore);
}

TEST(VPoolFork, ChildOfAPrivatePoolKeepsHeapZeroAsAtTheForkAndNoLaterHeap) {
    checkChildView(kPoolNoSemaphore | kPoolPrivate);
}

TEST(VPoolFork, ChildCannotChangeASharedPool) {
    auto vp = newVPool(4096, 384, 1);
    ASSERT_TRUE(vp);
    std::vector<std::pair<char*, std::string>> texts;
    for (size_t i = 0; vp->numHeaps < 2 || texts.size() < 60; ++i) {
        std::string s = textFor(i);
        texts.emplace_back(vp->strdup(s.c_str()), s);
        ASSERT_TRUE(texts.back().first);
    }
    auto a = static_cast<char*>(vp->alloc(100));
    auto b = static_cast<char*>(vp->alloc(100));
    ASSERT_TRUE(a && b);
    vp->free(a, 100);
    vp->free(b, 100);
    size_t allocSize = vp->allocSize;
    int heaps = vp->numHeaps;

    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // Any write into a heap now faults and shows as a signal.
        for (auto& h : vp->heaps) mprotect(h->heap, h->heapSize, PROT_READ);
        bool ok = vp->alloc(16) == nullptr && vp->strdup("x") == nullptr && vp->allocItem(0, 16) == nullptr;
        vp->free(texts[0].first, texts[0].second.size() + 1);
        vp->clear();
        vp->clearHeap(0);
        ok = ok && vp->allocHeap(4096, 384) == 0;
        vp->freeHeap(1);
        vp->delSem();
        ok = ok && vp->allocSize == allocSize && vp->numHeaps == heaps && vp->heaps[1];
        vp.reset();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(vp->alloc(100), b);
    EXPECT_EQ(vp->alloc(100), a);
    for (const auto& [copy, text] : texts) EXPECT_EQ(copy, text);
}

// Random takes and returns of 0-384 bytes against a reference map: nothing
// handed out twice, no live items overlap, contents survive, allocSize agrees.
TEST(VPoolModel, RandomAllocAndFreeAgreeWithAReferenceMap) {
    for (uint16_t flags : kBothKinds) {
        SCOPED_TRACE(flags);
        auto vp = newVPool(65536, 384, flags);
        ASSERT_TRUE(vp);
        std::mt19937 rng(20261210);
        struct Live {
            size_t asked, rounded;
        };
        std::map<uintptr_t, Live> live;
        std::vector<uintptr_t> order;
        size_t expected = 0;
        for (int step = 0; step < 100000; ++step) {
            bool take = order.empty() || (order.size() < 400 && rng() % 100 < 55);
            if (take) {
                size_t asked = rng() % 385;
                size_t rounded = asked == 0 ? 16 : (asked + 15) / 16 * 16;
                auto p = static_cast<char*>(vp->alloc(asked));
                if (!p) {
                    // Free items are never merged: a shared pool's sixteen
                    // heaps can run out of large items.
                    ASSERT_EQ(vp->numHeaps, kSharedPoolHeaps) << step;
                    ASSERT_EQ(vp->allocSize, expected) << step;
                    continue;
                }
                int heapno = vp->findHeap(p);
                ASSERT_GE(heapno, 0);
                const VPoolHeapState& h = *vp->heaps[heapno];
                size_t off = size_t(p - h.heap);
                ASSERT_EQ(off % 16, 0u);
                ASSERT_LE(off + rounded, h.heapSize / h.maxItemSize * h.maxItemSize);
                auto u = reinterpret_cast<uintptr_t>(p);
                auto next = live.lower_bound(u);
                ASSERT_TRUE(next == live.end() || next->first >= u + rounded) << step;
                ASSERT_TRUE(next == live.begin() ||
                            std::prev(next)->first + std::prev(next)->second.rounded <= u)
                    << step;
                live[u] = {asked, rounded};
                order.push_back(u);
                std::memset(p, int(u >> 4 & 0xff), rounded);
                expected += rounded;
            } else {
                size_t i = rng() % order.size();
                uintptr_t u = order[i];
                Live item = live[u];
                auto p = reinterpret_cast<char*>(u);
                for (size_t k = 0; k < item.rounded; ++k)
                    ASSERT_EQ(uint8_t(p[k]), uint8_t(u >> 4 & 0xff)) << step;
                vp->free(p, item.asked);
                live.erase(u);
                order[i] = order.back();
                order.pop_back();
                expected -= item.rounded;
            }
            ASSERT_EQ(vp->allocSize, expected) << step;
        }
        size_t perHeap = 0;
        for (auto& h : vp->heaps) perHeap += h->allocSize;
        EXPECT_EQ(perHeap, vp->allocSize);
    }
}

}  // namespace
}  // namespace ruva
