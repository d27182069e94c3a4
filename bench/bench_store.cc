// SetItem of n new items into one group, then GetItem and NthItemName of every item: the
// time per item must not grow with n (creation-order lists that copy on every append or
// scan on every removal would make it quadratic).
//
// BM_OneGroupParse and BM_OneGroupSetItem: one group of n items, read from text and made by
// SetItem. Their ns_per_item at 1e7 items must stay within twice the figure at 1e4: the
// group's index grows with n, and every rehash and every probe into a table larger than the
// caches is paid per item.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "format/text.h"
#include "store/number_text.h"
#include "store/store.h"

namespace {

std::vector<std::string> Names(int64_t n) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) names.push_back("item" + vellix::IntegerText(i));
  return names;
}

size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_SetGetNth(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::vector<std::string> names = Names(n);
  double bytesPerItem = 0;
  for (auto _ : state) {
    const size_t before = HeapInUse();
    vellix::Store store;
    store.settings().autoSave = false;
    for (const std::string& name : names) store.SetItem("group", name, "value");
    bytesPerItem = static_cast<double>(HeapInUse() - before) / static_cast<double>(n);
    size_t found = 0;
    for (const std::string& name : names) found += store.GetItem("group", name, "").size();
    for (int64_t i = 1; i <= n; ++i) found += store.NthItemName("group", i, "").size();
    benchmark::DoNotOptimize(found);
  }
  benchutil::PerItem(state, n);
  state.counters["bytes_per_item"] = bytesPerItem;
}
BENCHMARK(BM_SetGetNth)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// Deleting items from the middle while reading by position: tombstones must not make the
// positional reads or the deletions linear in the group size.
void BM_DeleteWhileIndexing(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::vector<std::string> names = Names(n);
  for (auto _ : state) {
    state.PauseTiming();
    vellix::Store store;
    store.settings().autoSave = false;
    for (const std::string& name : names) store.SetItem("group", name, "value");
    state.ResumeTiming();
    size_t sink = 0;
    for (int64_t i = 0; i < n; i += 2) {
      store.DeleteItem("group", names[static_cast<size_t>(i)]);
      sink += store.NthItemName("group", store.ItemCount("group") / 2 + 1, "").size();
    }
    benchmark::DoNotOptimize(sink);
  }
  state.SetItemsProcessed(state.iterations() * n / 2);
}
BENCHMARK(BM_DeleteWhileIndexing)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// The kernel's share of the time per item: page faults for memory the process has not used
// yet. A small document reuses the memory of the iteration before; a large one gets most of
// its memory fresh from the system every time.
void KernelPerItem(benchmark::State& state, int64_t n, const benchutil::KernelUse& start) {
  const benchutil::KernelUse end = benchutil::KernelUse::Now();
  const double items = static_cast<double>(state.iterations() * n);
  state.counters["sys_ns_per_item"] = (end.seconds - start.seconds) * 1e9 / items;
}

void BM_OneGroupParse(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::string text = benchutil::MakeIniText(1, n);
  const benchutil::KernelUse start = benchutil::KernelUse::Now();
  for (auto _ : state) {
    auto store = std::make_unique<vellix::Store>();
    store->settings().autoSave = false;
    vellix::ParseText(*store, text, {.clearFirst = true});
    benchmark::DoNotOptimize(store->TotalItems());
    state.PauseTiming();
    store.reset();  // tearing the document down is not part of reading it
    state.ResumeTiming();
  }
  benchutil::PerItem(state, n);
  KernelPerItem(state, n, start);
}
BENCHMARK(BM_OneGroupParse)
    ->RangeMultiplier(10)
    ->Range(10000, 10000000)
    ->Unit(benchmark::kMillisecond);

void BM_OneGroupSetItem(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::vector<std::string> names = Names(n);
  const benchutil::KernelUse start = benchutil::KernelUse::Now();
  for (auto _ : state) {
    auto store = std::make_unique<vellix::Store>();
    store->settings().autoSave = false;
    for (const std::string& name : names) store->SetItem("group", name, "value");
    benchmark::DoNotOptimize(store->TotalItems());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  benchutil::PerItem(state, n);
  KernelPerItem(state, n, start);
}
BENCHMARK(BM_OneGroupSetItem)
    ->RangeMultiplier(10)
    ->Range(10000, 10000000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
