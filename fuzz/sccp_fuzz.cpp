#include "FuzzChecks.hpp"

// One packet reused for every input, as a host would: decoding must also
// leave nothing of the previous message behind.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static PXSCCP_Packet packet;
  const std::span<const std::uint8_t> input(data, size);
  const auto error = packet.decode(input);
  (void)px::decodeErrorName(error);
  fuzzcheck::inside(packet.data(), input);
  fuzzcheck::address(packet.incomingCalledPartyAddress());
  fuzzcheck::address(packet.incomingCallingPartyAddress());
  if (const auto* m = packet.tcapMessage()) fuzzcheck::tcap(*m, input);
  if (const auto* b = packet.incomingTcapBegin())
    fuzzcheck::require(b->messageType() == PXTCAP_MessageType::begin);
  return 0;
}
