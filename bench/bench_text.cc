// Reading and writing INI text, beside the peer libraries doing the same work on the same
// text in the same run, for two shapes of a million items (bench_util.h):
//
//   common    10,000 groups of 100 items (about 30 MB with CR LF)
//   onegroup  one group of 1,000,000 items (about 37 MB)
//
// Benchmarks are named OPERATION/LIBRARY/SHAPE and run shape by shape, each operation for
// Vellix first and then for the peers, so that compared figures are taken side by side:
//
//   parse/vellix             ParseText into an empty store
//   parse/inih               inih's parser alone, its handler keeping nothing
//   parse/inih_map           inih into std::map<section, std::map<name, value>>
//   parse/simpleini          SimpleIni's LoadData
//   write_warm/vellix        WriteText into a string reused from the iteration before: the
//   write_warm/simpleini     writer alone (SimpleIni's Save appending to a cleared string)
//   write_cold/vellix        WriteText into a new string each time, in memory the process
//   write_cold/simpleini     has not touched yet: end to end, with the allocation, its page
//                            faults and its release
//
//   bench_text [benchmark options]               the benchmarks
//   bench_text --memory=NAME [--shape=SHAPE]     resident memory of one loaded document,
//                                                where NAME is vellix, simpleini or inih_map
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_util.h"
#include "format/text.h"
#include "store/store.h"

#ifdef HAVE_SIMPLEINI
#include <SimpleIni.h>
#endif
#ifdef HAVE_INIH
#include <ini.h>
#endif

namespace {

struct Shape {
  const char* name;
  int64_t groups;
  int64_t items;
};
constexpr Shape kShapes[] = {{"common", 10000, 100}, {"onegroup", 1, 1000000}};

const std::string& Text(const Shape& shape) {
  static std::map<std::string, std::string> texts;
  std::string& text = texts[shape.name];
  if (text.empty()) text = benchutil::MakeIniText(shape.groups, shape.items);
  return text;
}

void SetBytes(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// ---------------------------------------------------------------- Vellix

std::unique_ptr<vellix::Store> NewStore() {
  auto store = std::make_unique<vellix::Store>();
  store->settings().autoSave = false;
  return store;
}

void VellixParse(benchmark::State& state, const Shape& shape) {
  const std::string& text = Text(shape);
  for (auto _ : state) {
    state.PauseTiming();
    auto store = NewStore();
    state.ResumeTiming();
    vellix::ParseText(*store, text, {.clearFirst = true});
    benchmark::DoNotOptimize(store->GroupCount());
    state.PauseTiming();
    store.reset();  // tearing the document down is not part of reading it
    state.ResumeTiming();
  }
  SetBytes(state, text.size());
}

// A cold write gets memory the process has not touched yet: what the allocator kept from the
// iteration before goes back to the system first (outside the timing), as it would between
// two saves far apart.
void ReleaseFreedMemory(benchmark::State& state) {
  state.PauseTiming();
  ::malloc_trim(0);
  state.ResumeTiming();
}

void VellixWrite(benchmark::State& state, const Shape& shape, bool warm) {
  auto store = NewStore();
  vellix::ParseText(*store, Text(shape), {.clearFirst = true});
  std::string reused;
  size_t bytes = 0;
  for (auto _ : state) {
    if (warm) {
      vellix::WriteText(*store, reused);
      bytes = reused.size();
      benchmark::DoNotOptimize(reused.data());
    } else {
      ReleaseFreedMemory(state);
      std::string out = vellix::WriteText(*store);
      bytes = out.size();
      benchmark::DoNotOptimize(out.data());
    }
  }
  if (bytes != Text(shape).size()) state.SkipWithError("the written text differs in size");
  SetBytes(state, bytes);
}

// One group with a long name and many short items. The parser looks its group up once per
// header, so the time per item must not grow with the name's length.
void VellixParseLongGroupName(benchmark::State& state) {
  std::string text;
  text.append("[").append(static_cast<size_t>(state.range(0)), 'g').append("]\r\n");
  for (int i = 0; i < 2000; ++i) text.append("k").append(std::to_string(i)).append("=v\r\n");
  for (auto _ : state) {
    vellix::Store store;
    store.settings().autoSave = false;
    vellix::ParseText(store, text, {.clearFirst = true});
    benchmark::DoNotOptimize(store.TotalItems());
  }
  SetBytes(state, text.size());
}

// ---------------------------------------------------------------- peers

#ifdef HAVE_SIMPLEINI
std::unique_ptr<CSimpleIniA> NewSimpleIni() {
  return std::make_unique<CSimpleIniA>(false, false, false);
}

void SimpleIniParse(benchmark::State& state, const Shape& shape) {
  const std::string& text = Text(shape);
  for (auto _ : state) {
    state.PauseTiming();
    auto ini = NewSimpleIni();
    state.ResumeTiming();
    if (ini->LoadData(text.data(), text.size()) < 0) state.SkipWithError("LoadData failed");
    state.PauseTiming();
    ini.reset();
    state.ResumeTiming();
  }
  SetBytes(state, text.size());
}

void SimpleIniWrite(benchmark::State& state, const Shape& shape, bool warm) {
  auto ini = NewSimpleIni();
  ini->LoadData(Text(shape).data(), Text(shape).size());
  std::string reused;
  size_t bytes = 0;
  for (auto _ : state) {
    if (warm) {
      reused.clear();
      ini->Save(reused);
      bytes = reused.size();
      benchmark::DoNotOptimize(reused.data());
    } else {
      ReleaseFreedMemory(state);
      std::string out;
      ini->Save(out);
      bytes = out.size();
      benchmark::DoNotOptimize(out.data());
    }
  }
  SetBytes(state, bytes);
}
#endif

#ifdef HAVE_INIH
using MapStore = std::map<std::string, std::map<std::string, std::string>>;

int InsertIntoMap(void* user, const char* section, const char* name, const char* value) {
  (*static_cast<MapStore*>(user))[section][name] = value;
  return 1;
}

int KeepNothing(void* user, const char*, const char*, const char*) {
  ++*static_cast<size_t*>(user);
  return 1;
}

void InihParse(benchmark::State& state, const Shape& shape) {
  const std::string& text = Text(shape);
  for (auto _ : state) {
    size_t lines = 0;
    if (ini_parse_string(text.c_str(), &KeepNothing, &lines) != 0) {
      state.SkipWithError("ini_parse_string failed");
    }
    benchmark::DoNotOptimize(lines);
  }
  SetBytes(state, text.size());
}

void InihIntoMap(benchmark::State& state, const Shape& shape) {
  const std::string& text = Text(shape);
  for (auto _ : state) {
    state.PauseTiming();
    auto map = std::make_unique<MapStore>();
    state.ResumeTiming();
    if (ini_parse_string(text.c_str(), &InsertIntoMap, map.get()) != 0) {
      state.SkipWithError("ini_parse_string failed");
    }
    state.PauseTiming();
    map.reset();
    state.ResumeTiming();
  }
  SetBytes(state, text.size());
}
#endif

void RegisterAll() {
  using Fn = std::function<void(benchmark::State&)>;
  auto add = [](const std::string& name, Fn fn) {
    benchmark::RegisterBenchmark(name.c_str(), fn)->Unit(benchmark::kMillisecond)->UseRealTime();
  };
  for (const Shape& shape : kShapes) {
    const std::string s = std::string("/") + shape.name;
    add("parse/vellix" + s, [&shape](benchmark::State& st) { VellixParse(st, shape); });
#ifdef HAVE_INIH
    add("parse/inih" + s, [&shape](benchmark::State& st) { InihParse(st, shape); });
    add("parse/inih_map" + s, [&shape](benchmark::State& st) { InihIntoMap(st, shape); });
#endif
#ifdef HAVE_SIMPLEINI
    add("parse/simpleini" + s, [&shape](benchmark::State& st) { SimpleIniParse(st, shape); });
#endif
    for (const bool warm : {true, false}) {
      const std::string op = warm ? "write_warm" : "write_cold";
      add(op + "/vellix" + s,
          [&shape, warm](benchmark::State& st) { VellixWrite(st, shape, warm); });
#ifdef HAVE_SIMPLEINI
      add(op + "/simpleini" + s,
          [&shape, warm](benchmark::State& st) { SimpleIniWrite(st, shape, warm); });
#endif
    }
  }
  benchmark::RegisterBenchmark("parse_long_group_name/vellix", VellixParseLongGroupName)
      ->Arg(16)
      ->Arg(1 << 10)
      ->Arg(16 << 10)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
}

// ------------------------------------------------------------------ memory

// Resident memory of one loaded document: the text is made, the document loaded from it,
// the text released; what stays is the document.
int MeasureMemory(const std::string& which, const Shape& shape) {
  const long base = benchutil::StatusKiB("VmRSS");
  auto text = std::make_unique<std::string>(benchutil::MakeIniText(shape.groups, shape.items));
  const long withText = benchutil::StatusKiB("VmRSS");
  std::shared_ptr<void> document;
  if (which == "vellix") {
    auto store = std::make_shared<vellix::Store>();
    store->settings().autoSave = false;
    vellix::ParseText(*store, *text, {.clearFirst = true});
    document = store;
#ifdef HAVE_SIMPLEINI
  } else if (which == "simpleini") {
    auto ini = std::make_shared<CSimpleIniA>(false, false, false);
    ini->LoadData(text->data(), text->size());
    document = ini;
#endif
#ifdef HAVE_INIH
  } else if (which == "inih_map") {
    auto map = std::make_shared<MapStore>();
    ini_parse_string(text->c_str(), &InsertIntoMap, map.get());
    document = map;
#endif
  } else {
    std::fprintf(stderr, "unknown or unavailable document kind: %s\n", which.c_str());
    return 2;
  }
  const long peak = benchutil::StatusKiB("VmHWM");
  text.reset();
  const long loaded = benchutil::StatusKiB("VmRSS");
  std::printf("%s %s: text %.1f MB, document %.1f MB resident, peak while loading %.1f MB\n",
              which.c_str(), shape.name, (withText - base) / 1024.0, (loaded - base) / 1024.0,
              (peak - base) / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string memory;
  const Shape* shape = &kShapes[0];
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--memory=", 9) == 0) memory = argv[i] + 9;
    if (std::strncmp(argv[i], "--shape=", 8) == 0) {
      shape = nullptr;
      for (const Shape& s : kShapes) {
        if (std::strcmp(argv[i] + 8, s.name) == 0) shape = &s;
      }
      if (shape == nullptr) {
        std::fprintf(stderr, "unknown shape: %s\n", argv[i] + 8);
        return 2;
      }
    }
  }
  if (!memory.empty()) return MeasureMemory(memory, *shape);
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
