// Decode and screen from bytes: what a node pays per inbound message.
//
// Three rule sets: the worst case of the linear scans (BenchPackets.hpp), the
// example configuration loaded through loadConfigFromFile, and the example
// configuration in the plug-in module loaded with dlopen, as a host runs it.
// One filter is shared by all threads, each thread decodes into its own packet.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "BenchPackets.hpp"
#include "PluginModule.hpp"

namespace {

const std::string kExampleConfig = QEL_SOURCE_DIR "/examples/screening.toml";

using Mix = std::vector<std::vector<std::uint8_t>>;

// The MO-ForwardSM UDT and the same message carrying updateLocation (2),
// sendRoutingInfoForSM (45), sendAuthenticationInfo (56), provideSubscriberInfo
// (70) and anyTimeInterrogation (71): a mix of walk outcomes.
const Mix& interconnectMix() {
  static const Mix mix = {qelbench::kMoForwardSmUdt,   qelbench::withOperation(2),
                          qelbench::withOperation(45), qelbench::withOperation(56),
                          qelbench::withOperation(70), qelbench::withOperation(71)};
  return mix;
}

void decodeAndScreen(benchmark::State& state, PXMTP3SCCPScreeningPluginProtocol& filter,
                     const Mix& mix) {
  PXSCCP_Packet packet;
  std::size_t i = 0;
  for (auto _ : state) {
    const auto& bytes = mix[i];
    i = i + 1 == mix.size() ? 0 : i + 1;
    if (packet.decode(bytes) != px::SccpDecodeError::none) state.SkipWithError("undecodable");
    benchmark::DoNotOptimize(filter.screenSccpPacketInbound(&packet, nullptr));
  }
  state.SetItemsProcessed(state.iterations());
}

struct WorstCase {
  QelScreeningSCCP filter;
  WorstCase() {
    qelbench::configureAddressRules(filter);
    qelbench::configureWalkRules(filter);
  }
};
QelScreeningSCCP& worstCaseFilter() {
  static WorstCase rules;
  return rules.filter;
}

struct Example {
  QelScreeningSCCP filter;
  Example() { filter.loadConfigFromFile(kExampleConfig); }
};
QelScreeningSCCP& exampleFilter() {
  static Example rules;
  return rules.filter;
}

PXMTP3SCCPScreeningPluginProtocol& exampleModule() {
  static qelbench::PluginModule module(qelbench::builtModulePath(), kExampleConfig);
  return module.filter();
}

const Mix kOne = {qelbench::kMoForwardSmUdt};

void BM_DecodeAndScreenMoForwardSM(benchmark::State& state) {
  decodeAndScreen(state, worstCaseFilter(), kOne);
}
BENCHMARK(BM_DecodeAndScreenMoForwardSM)->Threads(1)->Threads(2)->UseRealTime();

void BM_DecodeAndScreenMix(benchmark::State& state) {
  decodeAndScreen(state, worstCaseFilter(), interconnectMix());
}
BENCHMARK(BM_DecodeAndScreenMix)->Threads(1)->Threads(2)->UseRealTime();

void BM_DecodeAndScreenMoForwardSMExampleConfig(benchmark::State& state) {
  decodeAndScreen(state, exampleFilter(), kOne);
}
BENCHMARK(BM_DecodeAndScreenMoForwardSMExampleConfig)->Threads(1)->Threads(2)->UseRealTime();

void BM_DecodeAndScreenMixExampleConfig(benchmark::State& state) {
  decodeAndScreen(state, exampleFilter(), interconnectMix());
}
BENCHMARK(BM_DecodeAndScreenMixExampleConfig)->Threads(1)->Threads(2)->UseRealTime();

// Through the dlopen'ed module: calls into the module and its thread-local
// hazard slot cost what they cost a host.
void BM_DecodeAndScreenMoForwardSMModule(benchmark::State& state) {
  decodeAndScreen(state, exampleModule(), kOne);
}
BENCHMARK(BM_DecodeAndScreenMoForwardSMModule)->Threads(1)->Threads(2)->UseRealTime();

// Decoding alone, for the share of the decoder in the figures above.
void BM_DecodeMoForwardSM(benchmark::State& state) {
  PXSCCP_Packet packet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(packet.decode(qelbench::kMoForwardSmUdt));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DecodeMoForwardSM);

}  // namespace
