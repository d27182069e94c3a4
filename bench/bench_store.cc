// SetItem of n new items into one group, then GetItem and NthItemName of every item: the
// time per item must not grow with n (creation-order lists that copy on every append or
// scan on every removal would make it quadratic).
//
// BM_OneGroupParse and BM_OneGroupSetItem: one group of n items, read from text and made by
// SetItem, warm (bench_util.h). Their ns_per_item at 1e7 items must stay within twice the
// figure at 1e4: the group's index grows with n, and every rehash and every probe into a
// table larger than the caches is paid per item.
//
// BM_ChurnMemory: a document of 1,000 groups of 1,000 items changed for ten rounds, each
// round setting every item (values of five lengths, turning from round to round), deleting
// a third and renaming a third. What its items hold from the system must stay within 1.5
// times what the same final document holds when loaded fresh ("ratio").
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

// The allocator's bytes in use, its own mappings for large blocks included.
size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

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
  benchutil::KernelUse start;
  benchutil::Measure(
      state,
      [&](benchutil::Clock& clock) {
        auto store = std::make_unique<vellix::Store>();
        store->settings().autoSave = false;
        vellix::ParseText(*store, text, {.clearFirst = true});
        benchmark::DoNotOptimize(store->TotalItems());
        clock.Pause();
        store.reset();  // tearing the document down is not part of reading it
        clock.Resume();
      },
      [&] { start = benchutil::KernelUse::Now(); });
  benchutil::PerItem(state, n);
  KernelPerItem(state, n, start);
}

// A fixed number of timed iterations after an untimed one (bench_util.h), fewer as n grows:
// each size on its own, since the count is the benchmark's, not its argument's.
void BySize(benchmark::internal::Benchmark* b, benchmark::IterationCount iterations, int64_t n) {
  b->Arg(n)->Iterations(benchutil::Iterations(iterations))->Unit(benchmark::kMillisecond);
}
void Size1e4(benchmark::internal::Benchmark* b) { BySize(b, 200, 10000); }
void Size1e5(benchmark::internal::Benchmark* b) { BySize(b, 30, 100000); }
void Size1e6(benchmark::internal::Benchmark* b) { BySize(b, 5, 1000000); }
void Size1e7(benchmark::internal::Benchmark* b) { BySize(b, 2, 10000000); }
BENCHMARK(BM_OneGroupParse)->Apply(Size1e4);
BENCHMARK(BM_OneGroupParse)->Apply(Size1e5);
BENCHMARK(BM_OneGroupParse)->Apply(Size1e6);
BENCHMARK(BM_OneGroupParse)->Apply(Size1e7);

void BM_OneGroupSetItem(benchmark::State& state) {
  const int64_t n = state.range(0);
  const std::vector<std::string> names = Names(n);
  benchutil::KernelUse start;
  benchutil::Measure(
      state,
      [&](benchutil::Clock& clock) {
        auto store = std::make_unique<vellix::Store>();
        store->settings().autoSave = false;
        for (const std::string& name : names) store->SetItem("group", name, "value");
        benchmark::DoNotOptimize(store->TotalItems());
        clock.Pause();
        store.reset();
        clock.Resume();
      },
      [&] { start = benchutil::KernelUse::Now(); });
  benchutil::PerItem(state, n);
  KernelPerItem(state, n, start);
}
BENCHMARK(BM_OneGroupSetItem)->Apply(Size1e4);
BENCHMARK(BM_OneGroupSetItem)->Apply(Size1e5);
BENCHMARK(BM_OneGroupSetItem)->Apply(Size1e6);
BENCHMARK(BM_OneGroupSetItem)->Apply(Size1e7);

void BM_ChurnMemory(benchmark::State& state) {
  const int64_t n = state.range(0);
  constexpr int64_t kPerGroup = 1000;
  const auto group = [](int64_t k) {
    return std::string("group").append(vellix::IntegerText(k / kPerGroup));
  };
  const auto value = [](int64_t k, int64_t round) {
    return std::string(static_cast<size_t>((k + round) % 5 * 12), 'v') + vellix::IntegerText(k);
  };
  double churned = 0;
  double fresh = 0;
  for (auto _ : state) {
    vellix::Store store;
    store.settings().autoSave = false;
    std::vector<std::string> names = Names(n);
    for (int64_t round = 0; round < 10; ++round) {
      for (int64_t k = 0; k < n; ++k) store.SetItem(group(k), names[k], value(k, round));
      for (int64_t k = round % 3; k < n; k += 3) store.DeleteItem(group(k), names[k]);
      for (int64_t k = (round + 1) % 3; k < n; k += 3) {
        // Built by appending: "text" + std::string trips GCC 12's false -Wrestrict at -O3.
        std::string renamed = "r";
        renamed.append(vellix::IntegerText(round)).append("-").append(vellix::IntegerText(k));
        store.RenameItem(group(k), names[k], renamed, true);
        names[k] = std::move(renamed);
      }
    }
    churned = static_cast<double>(store.itemBytes());
    vellix::Store loaded;
    loaded.settings().autoSave = false;
    vellix::ParseText(loaded, vellix::WriteText(store), {.clearFirst = true});
    fresh = static_cast<double>(loaded.itemBytes());
  }
  state.counters["churned_MiB"] = churned / (1 << 20);
  state.counters["fresh_MiB"] = fresh / (1 << 20);
  state.counters["ratio"] = churned / fresh;
}
BENCHMARK(BM_ChurnMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
