// Sorted and overall access, and action 71's sort.
//   UniqueItemCount and NthOverallItem over n items in groups of 1,000 with n/10 distinct
//   names, the last of them on the last item: linear, so the time per item stays flat
//   from 1e4 to 1e6.
//   Sorting one group of n items by value (action 71, code 0, natural order): n log n; the
//   time per item at 1e7 must stay within twice the figure at 1e4.
//   Reading positions 1 to n of one group's ranking: the ranking is sorted once.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>

#include "bench_util.h"
#include "store/number_text.h"
#include "store/sorting.h"

namespace {

// prefix + decimal k. (Built by appending: "text" + std::string trips a false -Wrestrict
// warning of GCC 12 in optimised builds.)
std::string Numbered(const char* prefix, int64_t k) {
  std::string text(prefix);
  text += vellix::IntegerText(k);
  return text;
}

// n items, n/10 distinct names in a scattered order: the first n-1 items use n/10 - 1
// names, the last item brings the last one.
void FillDistinct(vellix::Store& store, int64_t n) {
  const int64_t distinct = n / 10;
  for (int64_t i = 0; i + 1 < n; ++i) {
    const int64_t k = (i * 7919) % (distinct - 1);
    store.SetItem(Numbered("group", i / 1000), Numbered("Name", k), "v");
  }
  store.SetItem(Numbered("group", (n - 1) / 1000), Numbered("Name", distinct - 1), "v");
}

void BM_UniqueItemCount(benchmark::State& state) {
  const int64_t n = state.range(0);
  vellix::Store store;
  store.settings().autoSave = false;
  FillDistinct(store, n);
  for (auto _ : state) benchmark::DoNotOptimize(vellix::CountDistinctItemNames(store));
  state.counters["distinct"] = static_cast<double>(vellix::CountDistinctItemNames(store));
  state.counters["ns_per_item"] = benchutil::TimePer(state, n);
}
BENCHMARK(BM_UniqueItemCount)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_NthOverallItem(benchmark::State& state) {
  const int64_t n = state.range(0);
  vellix::Store store;
  store.settings().autoSave = false;
  FillDistinct(store, n);
  for (auto _ : state) benchmark::DoNotOptimize(vellix::NthDistinctItemName(store, n / 10));
  state.counters["ns_per_item"] = benchutil::TimePer(state, n);
}
BENCHMARK(BM_NthOverallItem)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void FillOneGroup(vellix::Store& store, int64_t n) {
  std::mt19937 rng(3);
  for (int64_t i = 0; i < n; ++i) {
    store.SetItem("g", Numbered("item", i), Numbered("v", rng() % 1000000));
  }
}

void BM_SortGroupByValue(benchmark::State& state) {
  const int64_t n = state.range(0);
  std::unique_ptr<vellix::Store> store;
  for (auto _ : state) {
    state.PauseTiming();
    store = std::make_unique<vellix::Store>();  // the last store's teardown is not timed
    store->settings().autoSave = false;
    FillOneGroup(*store, n);
    state.ResumeTiming();
    vellix::ApplyGroupOperation(*store, vellix::kSortByValue, 0, "g", 0);
  }
  state.counters["ns_per_item"] = benchutil::TimePer(state, n);
}
// Each size on its own, with as many iterations as keep it short.
BENCHMARK(BM_SortGroupByValue)->Arg(10000)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortGroupByValue)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortGroupByValue)->Arg(10000000)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ReadRankingInOrder(benchmark::State& state) {
  const int64_t n = state.range(0);
  vellix::Store store;
  store.settings().autoSave = false;
  FillOneGroup(store, n);
  for (auto _ : state) {
    store.SetItem("g", "item0", "changed");  // every round starts from a new ranking
    size_t sink = 0;
    for (int64_t i = 1; i <= n; ++i) {
      sink += vellix::NthSortedEntry(store, "g", i)->value().size();
    }
    benchmark::DoNotOptimize(sink);
  }
  state.counters["ns_per_read"] = benchutil::TimePer(state, n);
}
BENCHMARK(BM_ReadRankingInOrder)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
