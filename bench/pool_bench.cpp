// Pool fill-and-drain against malloc/free: 8192 items of 24 bytes taken,
// then returned in the order taken.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "common/pool.h"

namespace {

constexpr size_t kItems = 8192;
constexpr size_t kItemSize = 24;

void fillAndDrain(ruva::Pool& pool, std::vector<void*>& items) {
    for (size_t i = 0; i < kItems; ++i) items[i] = pool.alloc();
    benchmark::DoNotOptimize(items.data());
    for (size_t i = 0; i < kItems; ++i) pool.free(items[i]);
}

void mallocFillAndDrain(std::vector<void*>& items) {
    for (size_t i = 0; i < kItems; ++i) items[i] = std::malloc(kItemSize);
    benchmark::DoNotOptimize(items.data());
    for (size_t i = 0; i < kItems; ++i) std::free(items[i]);
}

void BM_PoolFillDrain(benchmark::State& state) {
    auto flags = static_cast<uint16_t>(state.range(0));
    auto pool = ruva::newPool(kItemSize, kItems, flags);
    std::vector<void*> items(kItems);
    if (!pool) {
        state.SkipWithError("newPool failed");
        return;
    }
    // Checked once before timing: distinct items, all returned.
    fillAndDrain(*pool, items);
    if (std::set<void*>(items.begin(), items.end()).size() != kItems || pool->usedItems != 0 ||
        pool->numHeaps != 1) {
        state.SkipWithError("pool handed out wrong items");
        return;
    }
    for (auto _ : state) fillAndDrain(*pool, items);
    state.SetItemsProcessed(int64_t(state.iterations() * kItems));
    state.SetLabel(flags & ruva::kPoolPrivate ? "private" : "shared");
}
BENCHMARK(BM_PoolFillDrain)->Arg(ruva::kPoolNoSemaphore | ruva::kPoolPrivate)->Arg(ruva::kPoolNoSemaphore);

void BM_MallocFillDrain(benchmark::State& state) {
    std::vector<void*> items(kItems);
    for (auto _ : state) mallocFillAndDrain(items);
    state.SetItemsProcessed(int64_t(state.iterations() * kItems));
}
BENCHMARK(BM_MallocFillDrain);

}  // namespace

BENCHMARK_MAIN();
