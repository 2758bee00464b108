// Decode and screen from bytes: what a node pays per inbound message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "BenchPackets.hpp"

namespace {

// The same addresses carrying a TCAP Begin with updateLocation (2) and a
// UDT without TCAP: with the ForwardSM, a mix of walk outcomes.
std::vector<std::uint8_t> withOperation(std::uint8_t code) {
  auto m = qelbench::kMoForwardSmUdt;
  m[47] = code;
  return m;
}

void decodeAndScreen(benchmark::State& state, const std::vector<std::vector<std::uint8_t>>& mix) {
  QelScreeningSCCP filter;
  qelbench::configureAddressRules(filter);
  qelbench::configureWalkRules(filter);
  PXSCCP_Packet packet;
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& bytes = mix[i];
    i = i + 1 == mix.size() ? 0 : i + 1;
    if (packet.decode(bytes) != SccpDecodeError::none) state.SkipWithError("undecodable");
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_DecodeAndScreenMoForwardSM(benchmark::State& state) {
  decodeAndScreen(state, {qelbench::kMoForwardSmUdt});
}
BENCHMARK(BM_DecodeAndScreenMoForwardSM);

void BM_DecodeAndScreenMix(benchmark::State& state) {
  decodeAndScreen(state, {qelbench::kMoForwardSmUdt, withOperation(2), withOperation(45),
                          withOperation(56), withOperation(70), withOperation(59)});
}
BENCHMARK(BM_DecodeAndScreenMix);

}  // namespace
