// Searches, deletion by pattern and merges over documents of n items (n/100 groups of 100
// items): each must stay linear in the document, so ns_per_item at 1e6 items must stay
// within twice its value at 1e4. A results list that copied itself on every append, a
// duplicate check that scanned the list, or combining by nested scans would make these
// quadratic in the number of results.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench_util.h"
#include "files/files.h"
#include "files/merge.h"
#include "search/search.h"
#include "search/search_results.h"
#include "store/store.h"

namespace {

using vellix::SearchResults;
using vellix::Store;

constexpr int kItemsPerGroup = 100;

// Values alternate between "even ..." and "odd ...", so "even*" matches half the items.
void Fill(Store& store, int64_t n) {
  store.settings().autoSave = false;
  char group[32];
  char name[32];
  char value[64];
  for (int64_t i = 0; i < n; ++i) {
    std::snprintf(group, sizeof group, "group %lld", static_cast<long long>(i / kItemsPerGroup));
    std::snprintf(name, sizeof name, "item%lld", static_cast<long long>(i % kItemsPerGroup));
    std::snprintf(value, sizeof value, "%s value %lld", i % 2 ? "odd" : "even",
                  static_cast<long long>(i * 7919 % 100003));
    store.SetItem(group, name, value);
  }
}

const Store& Document(int64_t n) {
  static std::map<int64_t, std::unique_ptr<Store>> documents;
  std::unique_ptr<Store>& doc = documents[n];
  if (!doc) {
    doc = std::make_unique<Store>();
    Fill(*doc, n);
  }
  return *doc;
}

void BM_SearchAll(benchmark::State& state) {
  const int64_t n = state.range(0);
  const Store& store = Document(n);
  SearchResults results;
  for (auto _ : state) {
    vellix::Search(store, &results, "*", "*", "*", 0, vellix::kSearchReplace);
    if (results.count() != static_cast<size_t>(n)) state.SkipWithError("wrong count");
  }
  benchutil::PerItem(state, n);
}

// The second run finds every result already present and adds nothing.
void BM_AddUniqueTwice(benchmark::State& state) {
  const int64_t n = state.range(0);
  const Store& store = Document(n);
  SearchResults results;
  for (auto _ : state) {
    results.Clear();
    vellix::Search(store, &results, "*", "*", "*", 0, vellix::kSearchAddUnique);
    vellix::Search(store, &results, "*", "*", "*", 0, vellix::kSearchAddUnique);
    if (results.count() != static_cast<size_t>(n)) state.SkipWithError("wrong count");
  }
  benchutil::PerItem(state, n);
}

// The second run toggles every result out again.
void BM_ToggleTwice(benchmark::State& state) {
  const int64_t n = state.range(0);
  const Store& store = Document(n);
  SearchResults results;
  for (auto _ : state) {
    results.Clear();
    vellix::Search(store, &results, "*", "*", "*", 0, 3);
    vellix::Search(store, &results, "*", "*", "*", 0, 3);
    if (!results.empty()) state.SkipWithError("list not emptied");
  }
  benchutil::PerItem(state, n);
}

void BM_DeleteHalf(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    Fill(*store, n);
    state.ResumeTiming();
    vellix::DeleteMatching(*store, "*", "*", "even*", true);
    if (store->TotalItems() != n / 2) state.SkipWithError("wrong count");
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  benchutil::PerItem(state, n);
}

// Merging a file of n items as the action does: read into a store of its own, then every
// item set into the object's store, which is empty or already holds all of them (each then
// overwritten).
void MergeFile(benchmark::State& state, bool full) {
  const int64_t n = state.range(0);
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("vellix_bench_merge_" + std::to_string(n) + ".ini"))
                               .string();
  {
    Store source;
    Fill(source, n);
    if (!vellix::SaveFile(source, path, false, false, "")) state.SkipWithError("cannot write");
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto target = std::make_unique<Store>();
    if (full) {
      Fill(*target, n);
    } else {
      target->settings().autoSave = false;
    }
    state.ResumeTiming();
    const std::unique_ptr<Store> source = vellix::MakeTemporaryStore(*target);
    if (!vellix::OpenFile(*source, path, vellix::OpenMode::kAdoptFile))
      state.SkipWithError("cannot read");
    vellix::MergeStore(*target, source.get(), true);
    if (target->TotalItems() != n) state.SkipWithError("wrong count");
    state.PauseTiming();
    target.reset();
    state.ResumeTiming();
  }
  std::filesystem::remove(path);
  benchutil::PerItem(state, n);
}

void BM_MergeFileIntoEmpty(benchmark::State& state) { MergeFile(state, false); }
void BM_MergeFileIntoFull(benchmark::State& state) { MergeFile(state, true); }

#define SIZES Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_SearchAll)->SIZES;
BENCHMARK(BM_AddUniqueTwice)->SIZES;
BENCHMARK(BM_ToggleTwice)->SIZES;
BENCHMARK(BM_DeleteHalf)->SIZES;
BENCHMARK(BM_MergeFileIntoEmpty)->SIZES;
BENCHMARK(BM_MergeFileIntoFull)->SIZES;

}  // namespace

BENCHMARK_MAIN();
