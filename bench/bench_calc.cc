// Calc("+", "+") over every item of a document of n items (groups of 1,000): the time per
// item must not grow with n.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "bench_util.h"
#include "calc/calc.h"
#include "store/number_text.h"
#include "store/store.h"

namespace {

void BM_CalcSumOfSums(benchmark::State& state) {
  const int64_t n = state.range(0);
  vellix::Store store;
  store.settings().autoSave = false;
  std::mt19937 rng(1);
  for (int64_t i = 0; i < n; ++i) {
    // Integers and decimals, as item values usually are.
    const uint32_t r = rng();
    const std::string value = (r & 1) ? vellix::IntegerText(r % 100000)
                                      : vellix::FloatText(static_cast<float>(r % 100000) / 100.0f);
    store.SetItem("group" + vellix::IntegerText(i / 1000), "item" + vellix::IntegerText(i % 1000),
                  value);
  }
  for (auto _ : state) benchmark::DoNotOptimize(vellix::Calc(store, "+", "+"));
  benchutil::PerItem(state, n);
}
BENCHMARK(BM_CalcSumOfSums)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
