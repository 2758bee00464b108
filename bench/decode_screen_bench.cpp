// Decode and screen from bytes: what a node pays per inbound message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "BenchPackets.hpp"

namespace {

// UDT, called and calling GT (GTI 4, E.164, international) with SSN 8, data:
// TCAP Begin { otid, component portion { invoke 1, mo-ForwardSM (46),
// SEQUENCE { imsi [0] 228011234567890, serviceCentreAddressOA [4], sm-RP-UI } } }
const std::vector<std::uint8_t> kMoForwardSmUdt = {
    0x09, 0x80, 0x03, 0x0e, 0x19,
    // called party: AI 0x12, SSN 8, TT 0, E.164/BCD odd, NAI 4, 41794999002
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x14, 0x97, 0x94, 0x99, 0x00, 0x02,
    // calling party: 41794999001
    0x0b, 0x12, 0x08, 0x00, 0x11, 0x04, 0x14, 0x97, 0x94, 0x99, 0x00, 0x01,
    // data
    0x2b, 0x62, 0x29, 0x48, 0x04, 0x01, 0x02, 0x03, 0x04, 0x6c, 0x21, 0xa1, 0x1f, 0x02, 0x01, 0x01,
    0x02, 0x01, 0x2e, 0x30, 0x17, 0x80, 0x08, 0x22, 0x08, 0x11, 0x32, 0x54, 0x76, 0x98, 0xf0, 0x84,
    0x04, 0x91, 0x44, 0x97, 0x00, 0x04, 0x05, 0x01, 0x02, 0x03, 0x04, 0x05};

// The same addresses carrying a TCAP Begin with updateLocation (2) and a
// UDT without TCAP: with the ForwardSM, a mix of walk outcomes.
std::vector<std::uint8_t> withOperation(std::uint8_t code) {
  auto m = kMoForwardSmUdt;
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
  decodeAndScreen(state, {kMoForwardSmUdt});
}
BENCHMARK(BM_DecodeAndScreenMoForwardSM);

void BM_DecodeAndScreenMix(benchmark::State& state) {
  decodeAndScreen(state, {kMoForwardSmUdt, withOperation(2), withOperation(45), withOperation(56),
                          withOperation(70), withOperation(59)});
}
BENCHMARK(BM_DecodeAndScreenMix);

}  // namespace
