// Screening only, on packets built in memory: the cost of the decision itself.
// The threaded variants share one filter and one packet, as screenings of one
// filter on several threads of a node do.
#include <benchmark/benchmark.h>

#include <string>

#include "BenchPackets.hpp"

namespace {

const std::string kExampleConfig = QEL_SOURCE_DIR "/examples/screening.toml";

void screen(benchmark::State& state, QelScreeningSCCP& filter, const PXSCCP_Packet& packet) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}

// Addresses and translation type against lists of 10 entries.
void BM_ScreenAddressesAndTT(benchmark::State& state) {
  static QelScreeningSCCP filter;
  static PXSCCP_Packet packet;
  if (state.thread_index() == 0) {
    qelbench::configureAddressRules(filter);
    qelbench::addresses(packet);
  }
  screen(state, filter, packet);
}
BENCHMARK(BM_ScreenAddressesAndTT)->Threads(1)->Threads(2)->UseRealTime();

// The scan is linear by design: the same with prefix lists of N entries.
void BM_ScreenLongPrefixLists(benchmark::State& state) {
  QelScreeningSCCP filter;
  qelbench::configureAddressRules(filter, static_cast<int>(state.range(0)));
  PXSCCP_Packet packet;
  qelbench::addresses(packet);
  screen(state, filter, packet);
}
BENCHMARK(BM_ScreenLongPrefixLists)->Arg(10)->Arg(1000)->Arg(10000);

void withForwardSM(PXSCCP_Packet& packet) {
  qelbench::addresses(packet);
  packet.mutableTcap().mutableComponentPortion().clear();
  packet.mutableTcap().mutableComponentPortion().add(PXTCAP_itu_asn1_componentPDU::invoke(
      46, false,
      PXASN1Object(PXASN1TagClass::universal, true, 16,
                   std::span<const std::uint8_t>(qelbench::kMoForwardSmArgument).subspan(2))));
}

// The full rule set with the walk over a Begin with an MO-ForwardSM invoke.
void BM_ScreenFullRuleSetForwardSM(benchmark::State& state) {
  static QelScreeningSCCP filter;
  static PXSCCP_Packet packet;
  if (state.thread_index() == 0) {
    qelbench::configureAddressRules(filter);
    qelbench::configureWalkRules(filter);
    withForwardSM(packet);
  }
  screen(state, filter, packet);
}
BENCHMARK(BM_ScreenFullRuleSetForwardSM)->Threads(1)->Threads(2)->UseRealTime();

// The same packet under the example configuration (examples/screening.toml).
void BM_ScreenExampleConfigForwardSM(benchmark::State& state) {
  static QelScreeningSCCP filter;
  static PXSCCP_Packet packet;
  if (state.thread_index() == 0) {
    filter.loadConfigFromFile(kExampleConfig);
    withForwardSM(packet);
  }
  screen(state, filter, packet);
}
BENCHMARK(BM_ScreenExampleConfigForwardSM)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
