// IP fragment reassembly on a sequence of datagrams: [flags][length (2)]
// [datagram]... with small bounds, so that eviction, timeouts and every
// give-up are reached; the bounds must hold after every fragment.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Ip.hpp"
#include "IpReassembly.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qs::IpReassemblyLimits limits;
  limits.maxDatagrams = 4;
  limits.maxTotalBytes = 96 * 1024;
  limits.timeoutNs = 30;
  qs::IpReassembler r(limits);
  qs::SkipCounts givenUp;
  std::int64_t time = 0;
  std::uint64_t frame = 0;
  std::size_t at = 0;
  while (size - at >= 3) {
    std::uint8_t flags = data[at];
    std::size_t length = std::size_t{data[at + 1]} << 8 | data[at + 2];
    at += 3;
    if (length > size - at) length = size - at;
    // Each datagram in storage of its own, so that a view kept past add()
    // is caught by the sanitizer.
    std::vector<std::uint8_t> packet(data + at, data + at + length);
    at += length;
    time += flags & 0x0F;
    qs::IpView v = (flags & 0x80) ? qs::ipv6(packet) : qs::ipv4(packet);
    if (v.skip != qs::Skip::ipFragment) continue;
    auto result = r.add(v, packet, ++frame, time, givenUp);
    packet.assign(packet.size(), 0xEE);
    if (r.pending() > limits.maxDatagrams) std::abort();
    if (r.heldBytes() > limits.maxTotalBytes) std::abort();
    if (result.skip != qs::Skip::none) continue;
    if (result.frames.empty() || result.frames.back() != frame) std::abort();
    unsigned sum = 0;
    for (auto b : result.datagram) sum += b;
    // The datagram reads as one never fragmented (or, for IPv6, one that
    // carried a second fragment header).
    qs::IpView whole = (flags & 0x80) ? qs::ipv6(result.datagram) : qs::ipv4(result.datagram);
    if (!(flags & 0x80) && whole.skip == qs::Skip::ipFragment) std::abort();
    if (whole && whole.payload.size() > result.datagram.size()) std::abort();
    (void)sum;
  }
  r.clear();
  if (r.pending() != 0 || r.heldBytes() != 0) std::abort();
  return 0;
}
