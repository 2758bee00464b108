// Decodes and screens the MO-ForwardSM UDT of the benchmarks N times through
// the plug-in module, for an instruction count under callgrind
// (scripts/instructions.sh): counts are repeatable where timings are not.
//
//   instructions_probe N CONFIG [MODULE]
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "BenchPackets.hpp"
#include "PluginModule.hpp"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s N CONFIG [MODULE]\n", argv[0]);
    return 2;
  }
  const long n = std::strtol(argv[1], nullptr, 10);
  try {
    qelbench::PluginModule module(argc > 3 ? argv[3] : qelbench::builtModulePath(), argv[2]);
    auto& filter = module.filter();
    PXSCCP_Packet packet;
    long permitted = 0;
    for (long i = 0; i < n; ++i) {
      if (packet.decode(qelbench::kMoForwardSmUdt) != px::SccpDecodeError::none) return 1;
      permitted += filter.screenSccpPacketInbound(&packet, nullptr) > 0;
    }
    std::printf("%ld of %ld permitted\n", permitted, n);
    return permitted == n ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "instructions_probe: %s\n", e.what());
    return 2;
  }
}
