// Reading and writing INI text: a million items (10,000 groups of 100, about 30 MB with
// CR LF) parsed into an empty store and written back, beside the same work done by the
// peer libraries on the same text in the same run.
//
//   bench_text [benchmark options]     throughput of every reader and writer
//   bench_text --memory=NAME           resident memory of one loaded document, where NAME
//                                      is vellix, simpleini or inih
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "format/text.h"
#include "store/store.h"

#ifdef HAVE_SIMPLEINI
#include <SimpleIni.h>
#endif
#ifdef HAVE_INIH
#include <ini.h>
#endif

namespace {

constexpr int kGroups = 10000;
constexpr int kItemsPerGroup = 100;

std::string MakeText() {
  std::string text;
  text.reserve(34u << 20);
  char line[96];
  for (int g = 0; g < kGroups; ++g) {
    int n = std::snprintf(line, sizeof line, "[group%05d]\r\n", g);
    text.append(line, static_cast<size_t>(n));
    for (int i = 0; i < kItemsPerGroup; ++i) {
      n = std::snprintf(line, sizeof line, "item%03d=value-%07d-abcdefghij\r\n", i,
                        g * kItemsPerGroup + i);
      text.append(line, static_cast<size_t>(n));
    }
  }
  text.resize(text.size() - 2);  // no new line after the last line, as the writer does
  return text;
}

const std::string& Text() {
  static const std::string text = MakeText();
  return text;
}

std::unique_ptr<vellix::Store> LoadedStore() {
  auto store = std::make_unique<vellix::Store>();
  store->settings().autoSave = false;
  vellix::ParseText(*store, Text(), false, true);
  return store;
}

void BM_VellixParse(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<vellix::Store>();
    store->settings().autoSave = false;
    state.ResumeTiming();
    vellix::ParseText(*store, text, false, true);
    benchmark::DoNotOptimize(store->GroupCount());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_VellixParse)->Unit(benchmark::kMillisecond)->UseRealTime();

// One group with a long name and many short items. The parser looks its group up once per
// header, so the time per item must not grow with the name's length.
void BM_VellixParseLongGroupName(benchmark::State& state) {
  std::string text;
  text.append("[").append(static_cast<size_t>(state.range(0)), 'g').append("]\r\n");
  for (int i = 0; i < 2000; ++i) text.append("k").append(std::to_string(i)).append("=v\r\n");
  for (auto _ : state) {
    vellix::Store store;
    store.settings().autoSave = false;
    vellix::ParseText(store, text, false, true);
    benchmark::DoNotOptimize(store.TotalItems());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_VellixParseLongGroupName)->Arg(16)->Arg(1 << 10)->Arg(16 << 10)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VellixWrite(benchmark::State& state) {
  const auto store = LoadedStore();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = vellix::WriteText(*store);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  if (bytes != Text().size()) state.SkipWithError("the written text differs in size");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes));
}
BENCHMARK(BM_VellixWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef HAVE_SIMPLEINI
std::unique_ptr<CSimpleIniA> SimpleIniLoaded() {
  auto ini = std::make_unique<CSimpleIniA>(false, false, false);
  ini->LoadData(Text().data(), Text().size());
  return ini;
}

void BM_SimpleIniLoadData(benchmark::State& state) {
  const std::string& text = Text();
  for (auto _ : state) {
    state.PauseTiming();
    auto ini = std::make_unique<CSimpleIniA>(false, false, false);
    state.ResumeTiming();
    const SI_Error rc = ini->LoadData(text.data(), text.size());
    if (rc < 0) state.SkipWithError("LoadData failed");
    state.PauseTiming();
    ini.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_SimpleIniLoadData)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SimpleIniSave(benchmark::State& state) {
  const auto ini = SimpleIniLoaded();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out;
    ini->Save(out);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes));
}
BENCHMARK(BM_SimpleIniSave)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

#ifdef HAVE_INIH
using MapStore = std::map<std::string, std::map<std::string, std::string>>;

int InsertIntoMap(void* user, const char* section, const char* name, const char* value) {
  (*static_cast<MapStore*>(user))[section][name] = value;
  return 1;
}

void BM_InihIntoMap(benchmark::State& state) {
  const std::string& text = Text();
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
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_InihIntoMap)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// ------------------------------------------------------------------ memory

long StatusKiB(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  long value = -1;
  const size_t n = std::strlen(field);
  while (std::fgets(line, sizeof line, f) != nullptr) {
    if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
      value = std::strtol(line + n + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return value;
}

// Resident memory of one loaded document: the text is made, the document loaded from it,
// the text released; what stays is the document.
int MeasureMemory(const std::string& which) {
  const long base = StatusKiB("VmRSS");
  auto text = std::make_unique<std::string>(MakeText());
  const long withText = StatusKiB("VmRSS");
  std::shared_ptr<void> document;
  if (which == "vellix") {
    auto store = std::make_shared<vellix::Store>();
    store->settings().autoSave = false;
    vellix::ParseText(*store, *text, false, true);
    document = store;
#ifdef HAVE_SIMPLEINI
  } else if (which == "simpleini") {
    auto ini = std::make_shared<CSimpleIniA>(false, false, false);
    ini->LoadData(text->data(), text->size());
    document = ini;
#endif
#ifdef HAVE_INIH
  } else if (which == "inih") {
    auto map = std::make_shared<MapStore>();
    ini_parse_string(text->c_str(), &InsertIntoMap, map.get());
    document = map;
#endif
  } else {
    std::fprintf(stderr, "unknown or unavailable document kind: %s\n", which.c_str());
    return 2;
  }
  const long peak = StatusKiB("VmHWM");
  text.reset();
  const long loaded = StatusKiB("VmRSS");
  std::printf("%s: text %.1f MB, document %.1f MB resident, peak while loading %.1f MB\n",
              which.c_str(), (withText - base) / 1024.0, (loaded - base) / 1024.0,
              (peak - base) / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--memory=", 9) == 0) return MeasureMemory(argv[i] + 9);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
