// Undo and redo at scale.
//
// BM_SetUndoRedo: one million SetItem calls in automatic mode with unlimited undo, each
// after BeginUndoBlock as the action frame does, then undo of every block, then redo of every
// block. Reports the CPU time per call of each phase (and of the same calls with undo off)
// and the heap the undo stack holds per record when every block is on it.
//
// Where the difference between SetItem with and without undo goes: unlimited undo keeps
// every record, some 120 to 150 bytes per call of memory the process has never touched, and
// the system hands that memory over a page at a time. set_sys_ns_per_call is the part of
// each call spent in the kernel doing so (minor page faults: set_faults_per_kcall per 1000
// calls); the rest is making the record (one allocation, the copies of the names and the old
// value) and the block it goes in.
//
// BM_UndoGroupDeletion: undoing the deletion of a 100-item group must cost the same whatever
// the size of the rest of the document, in many small groups or in few large ones.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <ctime>
#include <string>
#include <vector>

#include "bench_util.h"
#include "store/number_text.h"
#include "store/store.h"
#include "undo/undo.h"

namespace {

size_t HeapInUse() { return mallinfo2().uordblks; }

// Thread CPU time: the machines these run on are shared, and wall time counts the others.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

using benchutil::KernelUse;

std::vector<std::string> Names(const char* prefix, int64_t n) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) names.push_back(prefix + vellix::IntegerText(i));
  return names;
}

// range(0): 0 = every call creates an item (1000 groups of 1000 items), 1 = every call
// overwrites one of 1000 existing items, so each record keeps a previous value.
void BM_SetUndoRedo(benchmark::State& state) {
  constexpr int64_t kCalls = 1000000;
  const bool overwrite = state.range(0) == 1;
  const std::vector<std::string> groups = Names("group", 1000);
  const std::vector<std::string> items = Names("item", 1000);
  const std::vector<std::string> values = Names("value", 97);
  // The same calls with undo off, so that what recording adds can be seen.
  auto setAll = [&](vellix::Store& store, bool frame) {
    for (int64_t i = 0; i < kCalls; ++i) {
      if (frame) BeginUndoBlock(store);
      const std::string& value = values[static_cast<size_t>(i % 97)];
      if (overwrite) {
        store.SetItem("g", items[static_cast<size_t>(i % 1000)], value);
      } else {
        store.SetItem(groups[static_cast<size_t>(i / 1000)], items[static_cast<size_t>(i % 1000)],
                      value);
      }
    }
  };
  auto prepare = [&](vellix::Store& store) {
    store.settings().autoSave = false;
    if (overwrite) {
      for (const std::string& item : items) store.SetItem("g", item, "start");
    }
  };
  double plainNs = 0, setNs = 0, undoNs = 0, redoNs = 0, bytesPerRecord = 0, records = 0;
  double setSysNs = 0, setFaults = 0;
  for (auto _ : state) {
    {
      vellix::Store plain;
      prepare(plain);
      const double start = CpuSeconds();
      setAll(plain, false);
      plainNs = (CpuSeconds() - start) * 1e9 / kCalls;
    }
    vellix::Store store;
    prepare(store);
    UndoOf(store).undoDepth = -1;
    UndoOf(store).redoDepth = -1;
    // The records go into memory the process has not used yet, as an application's undo
    // history does while it grows, whatever ran before in this program.
    ::malloc_trim(0);

    double start = CpuSeconds();
    const KernelUse kernelStart = KernelUse::Now();
    setAll(store, true);
    setNs = (CpuSeconds() - start) * 1e9 / kCalls;
    const KernelUse kernelEnd = KernelUse::Now();
    setSysNs = (kernelEnd.seconds - kernelStart.seconds) * 1e9 / kCalls;
    setFaults = (kernelEnd.faults - kernelStart.faults) * 1000 / kCalls;

    start = CpuSeconds();
    while (UndoAvailable(store)) PerformUndo(store);
    undoNs = (CpuSeconds() - start) * 1e9 / kCalls;

    start = CpuSeconds();
    while (RedoAvailable(store)) PerformRedo(store);
    redoNs = (CpuSeconds() - start) * 1e9 / kCalls;

    // Redo left one block per call on the undo side again, with the same kinds of record
    // as the first pass: what clearing that stack gives back is what undo holds.
    records = 0;
    for (const auto& block : UndoOf(store).undo) records += static_cast<double>(block.size());
    const size_t peak = HeapInUse();
    ClearUndo(store, true, true);
    bytesPerRecord = static_cast<double>(peak - HeapInUse()) / records;
    benchmark::DoNotOptimize(store.GroupCount());
  }
  state.counters["records"] = records;
  state.counters["set_ns_no_undo"] = plainNs;
  state.counters["set_ns_per_call"] = setNs;
  state.counters["set_sys_ns_per_call"] = setSysNs;
  state.counters["set_faults_per_kcall"] = setFaults;
  state.counters["undo_ns_per_block"] = undoNs;
  state.counters["redo_ns_per_block"] = redoNs;
  state.counters["undo_bytes_per_record"] = bytesPerRecord;
}
BENCHMARK(BM_SetUndoRedo)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// range(0): items in the rest of the document; range(1): items per group there.
void BM_UndoGroupDeletion(benchmark::State& state) {
  const int64_t rest = state.range(0);
  const int64_t perGroup = state.range(1);
  vellix::Store store;
  store.settings().autoSave = false;
  const std::vector<std::string> items = Names("item", 1000);
  for (int64_t i = 0; i < rest; ++i) {
    store.SetItem("bulk" + vellix::IntegerText(i / perGroup),
                  items[static_cast<size_t>(i % perGroup)], "v");
  }
  for (int i = 0; i < 100; ++i) store.SetItem("target", items[static_cast<size_t>(i)], "value");
  UndoOf(store).undoDepth = -1;
  UndoOf(store).redoDepth = -1;
  for (auto _ : state) {
    state.PauseTiming();
    BeginUndoBlock(store);
    store.DeleteGroup("target");
    state.ResumeTiming();
    PerformUndo(store);
  }
  if (store.ItemCount("target") != 100) state.SkipWithError("the group did not come back");
  state.counters["document_items"] = static_cast<double>(rest + 100);
  state.counters["document_groups"] = static_cast<double>(store.GroupCount());
}
BENCHMARK(BM_UndoGroupDeletion)
    ->Args({1000, 1000})
    ->Args({100000, 1000})
    ->Args({1000000, 1000})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
