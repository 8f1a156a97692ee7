// Wire-text number conversions: every numeric field of a host message goes through these.
#include <benchmark/benchmark.h>

#include <string_view>

#include "core/util/Conversions.h"
#include "core/util/NumberText.h"

namespace {

void BM_SafeStrToFloat(benchmark::State& state) {
  const std::string_view texts[] = {"101.125", " 3.5 ", "12-", "0.000125", "junk"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vorn::SafeStrToFloat(texts[i++ % std::size(texts)], 0));
  }
}
BENCHMARK(BM_SafeStrToFloat);

void BM_SafeStrToInt(benchmark::State& state) {
  const std::string_view texts[] = {"12345", " 7 ", "250-", "2147483647", "x1"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vorn::SafeStrToInt(texts[i++ % std::size(texts)], 0));
  }
}
BENCHMARK(BM_SafeStrToInt);

void BM_FloatToStr(benchmark::State& state) {
  const double values[] = {101.125, 0.1 + 0.2, 1.0 / 3.0, 123456789012345678.0, -2.5e-7};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(vorn::FloatToStr(values[i++ % std::size(values)]));
  }
}
BENCHMARK(BM_FloatToStr);

}  // namespace
