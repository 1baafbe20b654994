// Pool fill-and-drain against malloc/free: 8192 items of 24 bytes taken,
// then returned in the order taken.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "bench/ratio_reporter.h"
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

void BM_PoolFillDrain(benchmark::State& state, uint16_t flags) {
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
}

void BM_MallocFillDrain(benchmark::State& state) {
    std::vector<void*> items(kItems);
    for (auto _ : state) mallocFillAndDrain(items);
    state.SetItemsProcessed(int64_t(state.iterations() * kItems));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("malloc/fill_drain_24B", BM_MallocFillDrain);
    benchmark::RegisterBenchmark("pool_private/fill_drain_24B", BM_PoolFillDrain,
                                 uint16_t(ruva::kPoolNoSemaphore | ruva::kPoolPrivate));
    benchmark::RegisterBenchmark("pool_shared/fill_drain_24B", BM_PoolFillDrain,
                                 uint16_t(ruva::kPoolNoSemaphore));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ruva::bench::RatioReporter reporter("malloc", {"pool_private", "pool_shared"});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
