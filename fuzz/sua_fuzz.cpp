#include "FuzzChecks.hpp"
#include "px/sua/SuaMessage.hpp"

// One message and one packet reused for every input, as a node would: a CLDT
// must leave nothing of the previous one behind in the packet it gives.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static px::SuaMessage message;
  static PXSCCP_Packet packet;
  const std::span<const std::uint8_t> input(data, size);
  if (px::suaCldt(input, message) != px::SuaDecodeError::none) return 0;
  fuzzcheck::inside(message.data, input);
  px::packetFromSua(packet, message);
  fuzzcheck::require(packet.data().data() == message.data.data());
  fuzzcheck::address(packet.incomingCalledPartyAddress(), 0xFFFF);
  fuzzcheck::address(packet.incomingCallingPartyAddress(), 0xFFFF);
  if (const auto* m = packet.tcapMessage()) fuzzcheck::tcap(*m, input);
  return 0;
}
