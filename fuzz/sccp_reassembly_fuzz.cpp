#include "FuzzChecks.hpp"
#include "px/sccp/SccpReassembly.hpp"

namespace {

using px::SccpDecodeError;
using px::SccpGiveUp;
using px::sccpGiveUpName;
using px::SccpReassembler;
using px::SccpReassemblyLimits;

struct Counter : SccpReassembler::Listener {
  std::size_t gaveUps = 0;
  void gaveUp(const SccpReassembler::Pending& p, SccpGiveUp why) override {
    fuzzcheck::require(p.inUse && p.received >= 1 && p.received < p.total);
    fuzzcheck::require(p.total <= SccpReassembler::kMaxSegments);
    (void)sccpGiveUpName(why);
    ++gaveUps;
  }
};

}  // namespace

// The input is a run of messages, each one octet of length, one octet that
// picks the originating point code and advances the clock, then the SCCP
// message. A small bound makes the oldest-first eviction run often.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SccpReassemblyLimits limits;
  limits.maxMessages = 4;
  limits.maxAgeNs = 1000;
  SccpReassembler r(limits);
  Counter listener;
  PXSCCP_Packet packet, joined;
  std::uint64_t now = 0;
  std::size_t at = 0;
  while (size - at >= 2) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 2);
    const std::uint8_t control = data[at + 1];
    const std::span<const std::uint8_t> message(data + at + 2, length);
    at += 2 + length;
    now += (control >> 4) * 100u;
    if (packet.decode(message) != SccpDecodeError::none) continue;
    const auto result = r.add(packet, message, control & 0x03, now, joined, listener);
    fuzzcheck::require(r.pending() <= limits.maxMessages);
    if (result.status == SccpReassembler::Status::complete) {
      fuzzcheck::require(result.position == result.total && result.total >= 2);
      fuzzcheck::address(joined.incomingCallingPartyAddress());
      (void)joined.tcapMessage();
    }
  }
  r.finish(listener);
  fuzzcheck::require(r.pending() == 0);
  return 0;
}
