// Saving and loading a large document, beside each layer alone over the same bytes, so that
// what the file code adds can be read off one run. The document is 10,000 groups of 100
// items (a million items, about 34 MB of text).
//
//   Files_Save/MODE        the whole save ("On Save", text, cipher, compression, temporary
//                          file, flush, rename) in each of the four modes
//   Layer_WriteTextRC4     the text written into a reused buffer and enciphered in place:
//                          what a compressed and enciphered save must stay within 1.3 times of
//   Files_Replace          the crash-safe write of the file's bytes alone
//   Files_Load, Layer_*    the load and its layers: zlib inflate, RC4, ParseText, and the
//                          line-end scan alone (wide, in words, and memchr as a yardstick)
//   Layer_RC4/openssl      OpenSSL's RC4() over the same text, when pkg-config finds it
//   Layer_Deflate/L/C      zlib at level L over the plain (C=0) or enciphered (C=1) text,
//                          with the size it gives: how the save's levels were chosen
//   Layer_StoredBlocks     the stored blocks of an enciphered save, framed by Vellix
//
//   bench_files --memory=MODE   the peak memory of one save over the memory before it, where
//                               MODE is plain, enciphered, compressed or both
//   bench_files --write=MODE:PATH        writes the document to PATH in MODE, for the next one
//   bench_files --load-memory=MODE:PATH  in a fresh process: the time of one LoadFile of PATH
//                               and its peak memory above the document it leaves
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#ifdef HAVE_OPENSSL
// RC4 is deprecated in OpenSSL 3 but still there; it is only the benchmark's yardstick.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>
#endif

#include "bench_util.h"
#include "files/files.h"
#include "format/scan.h"
#include "format/text.h"
#include "io/blocks.h"
#include "io/file_io.h"
#include "store/store.h"

namespace {

using vellix::Store;

constexpr int kGroups = 10000;
constexpr int kItems = 100;
constexpr const char* kKey = "a key of some length, as users pick them";

void Fill(Store& store) {
  store.settings().autoSave = false;
  char name[64];
  char value[64];
  char group[32];
  for (int g = 0; g < kGroups; ++g) {
    std::snprintf(group, sizeof group, "group %d", g);
    for (int i = 0; i < kItems; ++i) {
      std::snprintf(name, sizeof name, "item%d", i);
      std::snprintf(value, sizeof value, "value %d of group %d", i * 7919 % 100003, g);
      store.SetItem(group, name, value);
    }
  }
}

// A scratch folder for the files, removed at exit.
struct Folder {
  std::string path;
  Folder() {
    char pattern[] = "/tmp/vellix-bench-files-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

struct Document {
  Store store;
  std::string text;        // WriteText of the store
  std::string enciphered;  // the text after RC4
  std::string block;       // the compressed block of the enciphered text: the file's bytes
  Folder folder;
  std::string path;

  Document() {
    Fill(store);
    text = vellix::WriteText(store);
    enciphered = text;
    vellix::CipherBlock(enciphered, kKey);
    block = vellix::CompressBlock(enciphered);
    path = folder.path + "/document.ini";
    vellix::ReplaceFile(path, block);
  }
};

Document& Doc() {
  static Document doc;
  return doc;
}

void SetBytes(benchmark::State& state, size_t bytesPerIteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytesPerIteration));
}

// ---- the whole file operations

void Files_Save(benchmark::State& state, bool compressed, bool encrypted) {
  Document& d = Doc();
  const std::string path = d.folder.path + "/saved.ini";
  bool ok = true;
  benchutil::Measure(state, [&](benchutil::Clock&) {
    ok = vellix::SaveFile(d.store, path, compressed, encrypted, kKey).ok() && ok;
  });
  if (!ok) state.SkipWithError("the save failed");
  SetBytes(state, d.text.size());
}
// Each benchmark here runs a fixed number of timed iterations after an untimed one, or one
// cold (bench_util.h).
void Fixed(benchmark::internal::Benchmark* b, benchmark::IterationCount iterations) {
  b->Iterations(benchutil::Iterations(iterations))->Unit(benchmark::kMillisecond)->UseRealTime();
}
void Fixed5(benchmark::internal::Benchmark* b) { Fixed(b, 5); }
void Fixed10(benchmark::internal::Benchmark* b) { Fixed(b, 10); }
void Fixed2(benchmark::internal::Benchmark* b) { Fixed(b, 2); }

BENCHMARK_CAPTURE(Files_Save, plain, false, false)->Apply(Fixed5);
BENCHMARK_CAPTURE(Files_Save, enciphered, false, true)->Apply(Fixed5);
BENCHMARK_CAPTURE(Files_Save, compressed, true, false)->Apply(Fixed5);
BENCHMARK_CAPTURE(Files_Save, both, true, true)->Apply(Fixed5);

// The reference for the compressed and enciphered save: its text and its cipher, warm.
void Layer_WriteTextRC4(benchmark::State& state) {
  Document& d = Doc();
  std::string text;
  benchutil::Measure(state, [&](benchutil::Clock&) {
    vellix::WriteText(d.store, text);
    vellix::CipherBlock(text, kKey);
    benchmark::DoNotOptimize(text.data());
  });
  SetBytes(state, d.text.size());
}
BENCHMARK(Layer_WriteTextRC4)->Apply(Fixed10);

// The crash-safe write of the file's bytes alone: temporary file, flush, rename.
void Files_Replace(benchmark::State& state) {
  Document& d = Doc();
  benchutil::Measure(state, [&](benchutil::Clock&) {
    const bool ok = vellix::ReplaceFile(d.path, d.block).ok();
    benchmark::DoNotOptimize(ok);
  });
  SetBytes(state, d.block.size());
}
BENCHMARK(Files_Replace)->Apply(Fixed5);

void Files_Load(benchmark::State& state) {
  Document& d = Doc();
  bool ok = true;
  benchutil::Measure(state, [&](benchutil::Clock& clock) {
    clock.Pause();
    auto store = std::make_unique<Store>();
    store->settings().autoSave = false;
    clock.Resume();
    ok = vellix::LoadFile(*store, d.path, true, true, kKey) && ok;
    clock.Pause();
    store.reset();  // tearing the document down is not part of loading it
    clock.Resume();
  });
  if (!ok) state.SkipWithError("the load failed");
  SetBytes(state, d.text.size());
}
BENCHMARK(Files_Load)->Apply(Fixed5);

// ---- each layer alone

// zlib's uncompress of the file's stream, into a buffer made once.
void Layer_ZlibUncompress(benchmark::State& state) {
  const std::string& block = Doc().block;
  std::string out(Doc().enciphered.size(), '\0');
  for (auto _ : state) {
    uLongf length = out.size();
    uncompress(reinterpret_cast<Bytef*>(out.data()), &length,
               reinterpret_cast<const Bytef*>(block.data()) + 4, block.size() - 4);
    benchmark::DoNotOptimize(length);
  }
  SetBytes(state, out.size());
}
BENCHMARK(Layer_ZlibUncompress)->Unit(benchmark::kMillisecond)->UseRealTime();

// RC4 over the whole text in place, as load and save run it: ours, and OpenSSL's RC4() over
// the same bytes with the same key right after it.
void Layer_RC4(benchmark::State& state) {
  std::string buffer = Doc().text;
  benchutil::Measure(state, [&](benchutil::Clock&) {
    vellix::CipherBlock(buffer, kKey);
    benchmark::DoNotOptimize(buffer.data());
  });
  SetBytes(state, buffer.size());
}
BENCHMARK(Layer_RC4)->Name("Layer_RC4/vellix")->Apply(Fixed10);

#ifdef HAVE_OPENSSL
void Layer_RC4_OpenSSL(benchmark::State& state) {
  std::string buffer = Doc().text;
  std::string ours = buffer;
  vellix::CipherBlock(ours, kKey);
  auto* bytes = reinterpret_cast<unsigned char*>(buffer.data());
  const auto* key = reinterpret_cast<const unsigned char*>(kKey);
  RC4_KEY rc4;
  RC4_set_key(&rc4, static_cast<int>(std::strlen(kKey)), key);
  RC4(&rc4, buffer.size(), bytes, bytes);
  if (buffer != ours) state.SkipWithError("OpenSSL's RC4 gives other bytes than ours");
  benchutil::Measure(state, [&](benchutil::Clock&) {
    RC4_set_key(&rc4, static_cast<int>(std::strlen(kKey)), key);  // as CipherBlock starts
    RC4(&rc4, buffer.size(), bytes, bytes);
    benchmark::DoNotOptimize(buffer.data());
  });
  SetBytes(state, buffer.size());
}
BENCHMARK(Layer_RC4_OpenSSL)->Name("Layer_RC4/openssl")->Apply(Fixed10);
#endif

// The line-end scan alone over the text: the wide form the parser uses, the word form it
// falls back to elsewhere, and memchr for LF alone as the yardstick.
template <const char* (*Find)(const char*, const char*)>
void Layer_LineEnds(benchmark::State& state) {
  const std::string& text = Doc().text;
  size_t lines = 0;
  for (auto _ : state) {
    const char* end = text.data() + text.size();
    for (const char* p = Find(text.data(), end); p < end; p = Find(p + 1, end)) ++lines;
  }
  benchmark::DoNotOptimize(lines);
  SetBytes(state, text.size());
}
const char* FindLf(const char* p, const char* end) {
  const void* hit = std::memchr(p, '\n', static_cast<size_t>(end - p));
  return hit != nullptr ? static_cast<const char*>(hit) : end;
}
BENCHMARK(Layer_LineEnds<vellix::scan::FindLineEnd>)->Name("Layer_LineEnds/wide")->Apply(Fixed10);
BENCHMARK(Layer_LineEnds<vellix::scan::FindLineEndInWords>)
    ->Name("Layer_LineEnds/words")
    ->Apply(Fixed10);
BENCHMARK(Layer_LineEnds<FindLf>)->Name("Layer_LineEnds/memchr_lf")->Apply(Fixed10);

void Layer_ParseText(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    store->settings().autoSave = false;
    state.ResumeTiming();
    vellix::ParseText(*store, d.text);
    benchmark::DoNotOptimize(store.get());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  SetBytes(state, d.text.size());
}
BENCHMARK(Layer_ParseText)->Unit(benchmark::kMillisecond)->UseRealTime();

// zlib's deflate over the whole text at one level, into a buffer made once; "ratio" is the
// compressed size over the text's.
void Layer_Deflate(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  const std::string& in = state.range(1) == 0 ? Doc().text : Doc().enciphered;
  std::string out(compressBound(in.size()), '\0');
  uLongf length = 0;
  benchutil::Measure(state, [&](benchutil::Clock&) {
    length = out.size();
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(in.data()), in.size(), level);
    benchmark::DoNotOptimize(length);
  });
  SetBytes(state, in.size());
  state.counters["ratio"] = static_cast<double>(length) / static_cast<double>(in.size());
}
// The stored blocks an enciphered, compressed save writes, over the enciphered text in the
// save's pieces into a buffer made once: beside zlib's level 0 over the same bytes
// (Layer_Deflate/level:0/enciphered:1), which they replace.
void Layer_StoredBlocks(benchmark::State& state) {
  const std::string& in = Doc().enciphered;
  constexpr size_t kPiece = size_t{128} << 10;
  std::string out;
  out.reserve(in.size() + in.size() / 1024 + 64);
  benchutil::Measure(state, [&](benchutil::Clock&) {
    out.clear();
    vellix::StringWriter writer(out);
    vellix::BlockCompressor compressor(vellix::BlockContent::kEnciphered, writer);
    const std::string_view text(in);
    for (size_t at = 0; at < text.size(); at += kPiece) compressor.Add(text.substr(at, kPiece));
    compressor.Finish();
    benchmark::DoNotOptimize(out.data());
  });
  SetBytes(state, in.size());
}
BENCHMARK(Layer_StoredBlocks)->Apply(Fixed10);

BENCHMARK(Layer_Deflate)
    ->ArgNames({"level", "enciphered"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({4, 0})
    ->Args({5, 0})
    ->Args({6, 0})
    ->Args({0, 1})
    ->Args({6, 1})
    ->Apply(Fixed2);

// ------------------------------------------------------------------ memory

// The peak resident memory of one save over the resident memory before it. Only the
// document is in memory; the peak is reset just before the save (clear_refs), so what the
// save allocates, touches and frees again shows, and nothing before it does.
int MeasureSaveMemory(const std::string& mode) {
  const bool compressed = mode == "compressed" || mode == "both";
  const bool encrypted = mode == "enciphered" || mode == "both";
  if (!compressed && !encrypted && mode != "plain") {
    std::fprintf(stderr, "unknown save mode: %s\n", mode.c_str());
    return 2;
  }
  Store store;
  Fill(store);
  Folder folder;
  ::malloc_trim(0);
  FILE* reset = std::fopen("/proc/self/clear_refs", "w");
  if (reset == nullptr || std::fputs("5", reset) < 0 || std::fclose(reset) != 0) {
    std::fprintf(stderr, "cannot reset the peak through /proc/self/clear_refs\n");
    return 2;
  }
  const long before = benchutil::StatusKiB("VmRSS");
  const long peakBefore = benchutil::StatusKiB("VmHWM");
  if (!vellix::SaveFile(store, folder.path + "/saved.ini", compressed, encrypted, kKey)) {
    std::fprintf(stderr, "the save failed\n");
    return 1;
  }
  const long peak = benchutil::StatusKiB("VmHWM");
  std::printf("save %s: document %.1f MiB resident, peak during the save %+.2f MiB\n", mode.c_str(),
              before / 1024.0, (peak - std::max(before, peakBefore)) / 1024.0);
  return 0;
}

// "MODE:PATH" as the two halves of the file options.
bool ModeAndPath(const char* arg, bool& compressed, bool& encrypted, std::string& path) {
  const char* colon = std::strchr(arg, ':');
  if (colon == nullptr) return false;
  const std::string mode(arg, colon);
  compressed = mode == "compressed" || mode == "both";
  encrypted = mode == "enciphered" || mode == "both";
  path = colon + 1;
  return compressed || encrypted || mode == "plain";
}

int WriteFile(const char* arg) {
  bool compressed = false;
  bool encrypted = false;
  std::string path;
  if (!ModeAndPath(arg, compressed, encrypted, path)) return 2;
  Store store;
  Fill(store);
  return vellix::SaveFile(store, path, compressed, encrypted, kKey) ? 0 : 1;
}

// One load in a process that has done nothing else: its time (the first load a user feels)
// and its peak resident memory above what the loaded document keeps.
int MeasureLoadMemory(const char* arg) {
  bool compressed = false;
  bool encrypted = false;
  std::string path;
  if (!ModeAndPath(arg, compressed, encrypted, path)) return 2;
  auto store = std::make_unique<Store>();
  store->settings().autoSave = false;
  const long before = benchutil::StatusKiB("VmRSS");
  const auto start = std::chrono::steady_clock::now();
  if (!vellix::LoadFile(*store, path, compressed, encrypted, kKey)) return 1;
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  const long peak = benchutil::StatusKiB("VmHWM");
  const long after = benchutil::StatusKiB("VmRSS");
  std::printf("load: %.1f ms, document %.1f MiB resident, peak above the document %+.2f MiB\n",
              took.count(), (after - before) / 1024.0, (peak - after) / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--memory=", 9) == 0) return MeasureSaveMemory(argv[i] + 9);
    if (std::strncmp(argv[i], "--write=", 8) == 0) return WriteFile(argv[i] + 8);
    if (std::strncmp(argv[i], "--load-memory=", 14) == 0) return MeasureLoadMemory(argv[i] + 14);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
