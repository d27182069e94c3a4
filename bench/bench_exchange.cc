// Exchange with other objects at the sizes users reach: a million items (10,000 groups of
// 100) as separated text in both layouts, beside the INI writer and parser on the same
// document in the same run; and a 1000 x 1000 array copied into a group and back.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "exchange/arrays.h"
#include "exchange/csv.h"
#include "format/text.h"
#include "store/number_text.h"
#include "store/store.h"

namespace {

using vellix::Store;

constexpr int kGroups = 10000;
constexpr int kItemsPerGroup = 100;
constexpr int kSide = 1000;

std::unique_ptr<Store> EmptyStore() {
  auto store = std::make_unique<Store>();
  store->settings().autoSave = false;
  return store;
}

const Store& Document() {
  static const std::unique_ptr<Store> store = [] {
    auto s = EmptyStore();
    for (int g = 0; g < kGroups; ++g) {
      const std::string group = "group" + vellix::IntegerText(g);
      for (int i = 0; i < kItemsPerGroup; ++i)
        s->SetItem(group, "item" + vellix::IntegerText(i),
                   "value-" + vellix::IntegerText(g * kItemsPerGroup + i) + "-abcdefghij");
    }
    return s;
  }();
  return *store;
}

// Times `write` producing a text from the document, in bytes of that text per second.
template <class Write>
void Export(benchmark::State& state, Write write) {
  const Store& store = Document();
  size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = write(store);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// Times `read` filling an empty store from `text`, in bytes of the text per second.
template <class Read>
void Import(benchmark::State& state, const std::string& text, Read read) {
  for (auto _ : state) {
    state.PauseTiming();
    auto store = EmptyStore();
    state.ResumeTiming();
    read(*store, text);
    benchmark::DoNotOptimize(store->GroupCount());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}

void BM_IniWrite(benchmark::State& state) {
  Export(state, [](const Store& s) { return vellix::WriteText(s); });
}
BENCHMARK(BM_IniWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IniParse(benchmark::State& state) {
  static const std::string text = vellix::WriteText(Document());
  Import(state, text,
         [](Store& s, const std::string& t) { vellix::ParseText(s, t, {.clearFirst = true}); });
}
BENCHMARK(BM_IniParse)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CsvExportPairs(benchmark::State& state) {
  Export(state, [](const Store& s) { return vellix::CsvText(s, "", ","); });
}
BENCHMARK(BM_CsvExportPairs)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CsvImportPairs(benchmark::State& state) {
  static const std::string text = vellix::CsvText(Document(), "", ",");
  Import(state, text, [](Store& s, const std::string& t) { vellix::ImportCsvText(s, t, "", ","); });
}
BENCHMARK(BM_CsvImportPairs)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CsvExportTable(benchmark::State& state) {
  Export(state, [](const Store& s) { return vellix::CsvTable(s, ","); });
}
BENCHMARK(BM_CsvExportTable)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CsvImportTable(benchmark::State& state) {
  static const std::string text = vellix::CsvTable(Document(), ",");
  Import(state, text,
         [](Store& s, const std::string& t) { vellix::ImportCsvTableText(s, t, ","); });
}
BENCHMARK(BM_CsvImportTable)->Unit(benchmark::kMillisecond)->UseRealTime();

// The time per cell is reported as the "per_cell" counter (seconds).
void PerCell(benchmark::State& state) {
  state.counters["per_cell"] = benchutil::TimePer(state, static_cast<int64_t>(kSide) * kSide);
}

vellix::ArrayShape Shape() { return vellix::ArrayShape{kSide, kSide, 1, true, false, false}; }

void BM_ArrayLoadIntoGroup(benchmark::State& state) {
  vellix::ArrayCells cells;
  cells.shape = Shape();
  for (int i = 0; i < kSide * kSide; ++i) cells.numbers.push_back(i);
  for (auto _ : state) {
    state.PauseTiming();
    auto store = EmptyStore();
    state.ResumeTiming();
    vellix::LoadArray(*store, "cells", cells);
    benchmark::DoNotOptimize(store->ItemCount("cells"));
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  PerCell(state);
}
BENCHMARK(BM_ArrayLoadIntoGroup)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ArrayPutFromGroup(benchmark::State& state) {
  vellix::ArrayCells cells;
  cells.shape = Shape();
  cells.numbers.assign(static_cast<size_t>(kSide) * kSide, 7);
  auto store = EmptyStore();
  vellix::LoadArray(*store, "cells", cells);
  std::vector<int32_t> target(static_cast<size_t>(kSide) * kSide, 0);
  for (auto _ : state) {
    vellix::PutArray(*store, "cells", Shape(), target.data());
    benchmark::DoNotOptimize(target.data());
  }
  PerCell(state);
}
BENCHMARK(BM_ArrayPutFromGroup)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
