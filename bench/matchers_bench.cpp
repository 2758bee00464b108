// The list matchers alone: prefix lists and number lists of growing length,
// with the hit at the end (the worst case of the linear scan).
#include <benchmark/benchmark.h>

#include <string>

#include "QelScreeningSCCP.hpp"

namespace {

PXListRef prefixes(int n, const std::string& last) {
  PXList l;
  for (int i = 0; i + 1 < n; ++i) l.emplace_back(std::to_string(100000 + i));
  l.emplace_back(last);
  return std::make_shared<const PXList>(std::move(l));
}

void BM_ScreenNumber(benchmark::State& state) {
  const auto list = prefixes(static_cast<int>(state.range(0)), "4179");
  const std::string digits = "41791234567";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        qel::screenNumber(std::string_view(digits), list, PXSccpScreening_explicitlyPermitted));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenNumber)->Arg(1)->Arg(10)->Arg(1000)->Arg(10000);

void BM_ScreenTT(benchmark::State& state) {
  PXList l;
  for (int i = 0; i < state.range(0); ++i) l.emplace_back(100 + i);
  l.emplace_back("10");  // a text entry, read on every scan
  const auto list = std::make_shared<const PXList>(std::move(l));
  for (auto _ : state) {
    benchmark::DoNotOptimize(qel::screenTT(10, list, PXSccpScreening_explicitlyDenied));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenTT)->Arg(1)->Arg(10)->Arg(1000);

}  // namespace
