// Decodes and screens the MO-ForwardSM UDT of the benchmarks N times, for an
// instruction count under callgrind (scripts/instructions.sh): counts are
// repeatable where timings are not.
#include <cstdio>
#include <cstdlib>

#include "BenchPackets.hpp"

int main(int argc, char** argv) {
  const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
  QelScreeningSCCP filter;
  qelbench::configureAddressRules(filter);
  qelbench::configureWalkRules(filter);
  PXSCCP_Packet packet;
  long permitted = 0;
  for (long i = 0; i < n; ++i) {
    if (packet.decode(qelbench::kMoForwardSmUdt) != SccpDecodeError::none) return 1;
    permitted += filter.screenSccpPacketInbound(&packet, nullptr) > 0;
  }
  std::printf("%ld of %ld permitted\n", permitted, n);
  return permitted == n ? 0 : 1;
}
