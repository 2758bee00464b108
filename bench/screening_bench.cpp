// Screening only, on packets built in memory: the cost of the decision itself.
#include <benchmark/benchmark.h>

#include "BenchPackets.hpp"

namespace {

void BM_ScreenAddressesAndTT(benchmark::State& state) {
  static QelScreeningSCCP filter;
  static PXSCCP_Packet packet;
  if (state.thread_index() == 0) {
    qelbench::configureAddressRules(filter);
    qelbench::addresses(packet);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenAddressesAndTT)->Threads(1)->Threads(2)->UseRealTime();

void BM_ScreenLongPrefixLists(benchmark::State& state) {
  QelScreeningSCCP filter;
  qelbench::configureAddressRules(filter, static_cast<int>(state.range(0)));
  PXSCCP_Packet packet;
  qelbench::addresses(packet);
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenLongPrefixLists)->Arg(10)->Arg(1000)->Arg(10000);

// The full rule set with the walk over a Begin with an MO-ForwardSM invoke.
void BM_ScreenFullRuleSetForwardSM(benchmark::State& state) {
  static QelScreeningSCCP filter;
  static PXSCCP_Packet packet;
  // SEQUENCE { imsi [0] 228011234567890, serviceCentreAddressOA [4], sm-RP-UI }
  static const std::vector<std::uint8_t> argument = {
      0x30, 0x17, 0x80, 0x08, 0x22, 0x08, 0x11, 0x32, 0x54, 0x76, 0x98, 0xF0, 0x84,
      0x04, 0x91, 0x44, 0x97, 0x00, 0x04, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};
  if (state.thread_index() == 0) {
    qelbench::configureAddressRules(filter);
    qelbench::configureWalkRules(filter);
    qelbench::addresses(packet);
    packet.mutableTcap().mutableComponentPortion().clear();
    packet.mutableTcap().mutableComponentPortion().add(PXTCAP_itu_asn1_componentPDU::invoke(
        46, false,
        PXASN1Object(PXASN1TagClass::universal, true, 16,
                     std::span<const std::uint8_t>(argument).subspan(2))));
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScreenFullRuleSetForwardSM)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace
