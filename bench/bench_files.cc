// Saving and loading a large document compressed and enciphered, beside each layer alone
// over the same bytes, so that what the file code adds can be read off one run:
//
//   save  ~  WriteText + RC4 + zlib compress       (Files/Save vs the sum of the three)
//   load  ~  zlib uncompress + RC4 + ParseText     (Files/Load vs the sum of the three)
//
// The document is 10,000 groups of 100 items (a million items, about 30 MB of text). The
// file layers own no copies or passes beyond one read buffer, one decompressed buffer and
// one compressed buffer; Files/Replace shows the cost of the crash-safe write itself
// (temporary file, flush, rename), which the layer sum does not contain.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "files/blocks.h"
#include "files/file_io.h"
#include "files/files.h"
#include "format/text.h"
#include "store/store.h"

namespace {

using vellix::Store;

constexpr int kGroups = 10000;
constexpr int kItems = 100;
constexpr const char* kKey = "a key of some length, as users pick them";

struct Document {
  Store store;
  std::string text;        // WriteText of the store
  std::string enciphered;  // the text after RC4: what compression sees on save
  std::string block;       // the compressed block of the enciphered text: the file's bytes
  std::string folder;
  std::string path;

  Document() {
    store.settings().autoSave = false;
    store.settings().compressFile = true;
    store.settings().encrypt = true;
    store.settings().encryptionKey = kKey;
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
    text = vellix::WriteText(store);
    enciphered = text;
    vellix::CipherBlock(enciphered, kKey);
    block = vellix::CompressBlock(enciphered);

    char pattern[] = "/tmp/vellix-bench-files-XXXXXX";
    folder = ::mkdtemp(pattern);
    path = folder + "/document.ini";
    vellix::ReplaceFile(path, block);
  }
  ~Document() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
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

void Files_Save(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    const bool ok = vellix::SaveFile(d.store, d.path, true, true, kKey);
    benchmark::DoNotOptimize(ok);
  }
  SetBytes(state, d.text.size());
}

void Files_Load(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    store->settings().autoSave = false;
    state.ResumeTiming();
    const bool ok = vellix::LoadFile(*store, d.path, true, true, kKey);
    benchmark::DoNotOptimize(ok);
    state.PauseTiming();
    store.reset();  // tearing the document down is not part of loading it
    state.ResumeTiming();
  }
  SetBytes(state, d.text.size());
}

// The crash-safe write of the file's bytes alone: temporary file, flush, rename.
void Files_Replace(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    const bool ok = vellix::ReplaceFile(d.path, d.block);
    benchmark::DoNotOptimize(ok);
  }
  SetBytes(state, d.block.size());
}

// ---- each layer alone

void Layer_WriteText(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    std::string text = vellix::WriteText(d.store);
    benchmark::DoNotOptimize(text.data());
  }
  SetBytes(state, d.text.size());
}

void Layer_ParseText(benchmark::State& state) {
  Document& d = Doc();
  for (auto _ : state) {
    state.PauseTiming();
    auto store = std::make_unique<Store>();
    store->settings().autoSave = false;
    state.ResumeTiming();
    vellix::ParseText(*store, d.text, false, false);
    benchmark::DoNotOptimize(store.get());
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  SetBytes(state, d.text.size());
}

void Layer_RC4(benchmark::State& state) {
  std::string buffer = Doc().text;
  for (auto _ : state) {
    vellix::CipherBlock(buffer, kKey);  // in place, as load and save run it
    benchmark::DoNotOptimize(buffer.data());
  }
  SetBytes(state, buffer.size());
}

// zlib's compress over a text, into a buffer made once.
void CompressAlone(benchmark::State& state, const std::string& in) {
  std::string out(compressBound(in.size()), '\0');
  for (auto _ : state) {
    uLongf length = out.size();
    compress(reinterpret_cast<Bytef*>(out.data()), &length,
             reinterpret_cast<const Bytef*>(in.data()), in.size());
    benchmark::DoNotOptimize(length);
  }
  SetBytes(state, in.size());
}

// zlib's compress over the enciphered text, as a save runs it.
void Layer_ZlibCompress(benchmark::State& state) { CompressAlone(state, Doc().enciphered); }

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

// For comparison only: compress over the plain text (what a compressed, unenciphered file
// costs).
void Layer_ZlibCompressPlainText(benchmark::State& state) { CompressAlone(state, Doc().text); }

BENCHMARK(Files_Save)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_WriteText)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_RC4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_ZlibCompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Files_Replace)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Files_Load)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_ZlibUncompress)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_ParseText)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Layer_ZlibCompressPlainText)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
