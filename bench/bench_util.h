// What several benchmark programs share: the INI texts they read, made one way so that every
// program (and every peer library) measures the same bytes, the time per item as a counter,
// the kernel's share of the time, and how the benchmarks of scripts/bench.sh's table run.
//
// A document of `groups` groups of `items` items each, with CR LF and no new line after the
// last line (as the writer writes it):
//
//   [group00000]
//   item000=value-0000000-abcdefghij
//
// Item names have as many digits as the largest index needs (at least three), values carry
// the item's number in the whole document. 10,000 x 100 is about 30 MB; 1 x 1,000,000 about
// 37 MB.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace benchutil {

// A field of /proc/self/status in KiB (VmRSS: resident now, VmHWM: the peak), or -1.
inline long StatusKiB(const char* field) {
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

inline std::string MakeIniText(int64_t groups, int64_t items) {
  int digits = 3;
  for (int64_t top = 1000; top < items; top *= 10) ++digits;
  std::string text;
  text.reserve(static_cast<size_t>(groups * (15 + items * (30 + digits))) + 64);
  char line[128];
  for (int64_t g = 0; g < groups; ++g) {
    int n = std::snprintf(line, sizeof line, "[group%05lld]\r\n", static_cast<long long>(g));
    text.append(line, static_cast<size_t>(n));
    for (int64_t i = 0; i < items; ++i) {
      n = std::snprintf(line, sizeof line, "item%0*lld=value-%07lld-abcdefghij\r\n", digits,
                        static_cast<long long>(i), static_cast<long long>(g * items + i));
      text.append(line, static_cast<size_t>(n));
    }
  }
  if (text.size() >= 2) text.resize(text.size() - 2);
  return text;
}

// The time per unit as a counter, for `units` units of work in each iteration.
inline benchmark::Counter TimePer(const benchmark::State& state, int64_t units) {
  return benchmark::Counter(static_cast<double>(state.iterations() * units),
                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Items per second, and the time per item as "ns_per_item", for `n` items an iteration.
inline void PerItem(benchmark::State& state, int64_t n) {
  state.SetItemsProcessed(state.iterations() * n);
  state.counters["ns_per_item"] = TimePer(state, n);
}

// Kernel time and minor page faults of the calling thread so far. Memory the process has not
// touched before reaches it a page at a time, each page a fault the kernel serves; on the
// virtual machines these run on that is a few microseconds a page.
struct KernelUse {
  double seconds = 0;
  double faults = 0;
  static KernelUse Now() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return {static_cast<double>(u.ru_stime.tv_sec) + static_cast<double>(u.ru_stime.tv_usec) * 1e-6,
            static_cast<double>(u.ru_minflt)};
  }
};

// How the benchmarks of scripts/bench.sh's table run. A harness that runs "until half a second
// has passed" settles, on a busy machine, for a single first iteration, whose memory is fresh
// from the system, and then compares it with a peer's warm figure. So these benchmarks run a
// fixed number of timed iterations after one untimed warm-up (warm), or, with
// VELLIX_BENCH_COLD=1 in the environment, exactly one timed iteration with nothing before it
// (cold: run alone in a fresh process, it is the first load a user feels). VELLIX_BENCH_QUICK=1
// cuts the warm count to two, to check that everything runs.
inline bool ColdRun() {
  static const bool cold = std::getenv("VELLIX_BENCH_COLD") != nullptr &&
                           std::strcmp(std::getenv("VELLIX_BENCH_COLD"), "1") == 0;
  return cold;
}

// The timed iterations of a benchmark that warm runs give `warm`.
inline benchmark::IterationCount Iterations(benchmark::IterationCount warm) {
  if (ColdRun()) return 1;
  const char* quick = std::getenv("VELLIX_BENCH_QUICK");
  if (quick != nullptr && std::strcmp(quick, "1") == 0 && warm > 2) return 2;
  return warm;
}

// The clock a benchmark's operation may stop around its setup and teardown: the benchmark's
// own while timed, nothing during the warm-up.
class Clock {
 public:
  explicit Clock(benchmark::State* state) : state_(state) {}
  void Pause() {
    if (state_ != nullptr) state_->PauseTiming();
  }
  void Resume() {
    if (state_ != nullptr) state_->ResumeTiming();
  }

 private:
  benchmark::State* state_;
};

// Runs `op(Clock&)` once untimed (unless cold), then `start()`, then `op` once per timed
// iteration.
template <class Op, class Start>
void Measure(benchmark::State& state, Op op, Start start) {
  if (!ColdRun()) {
    Clock untimed(nullptr);
    op(untimed);
  }
  start();
  Clock timed(&state);
  for (auto _ : state) op(timed);
}
template <class Op>
void Measure(benchmark::State& state, Op op) {
  Measure(state, op, [] {});
}

}  // namespace benchutil
