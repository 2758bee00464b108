// Why a frame, or a part of it, yielded no SCCP message.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qs {

enum class Skip : std::uint8_t {
  none = 0,
  truncated,             // the frame ends inside a header or a chunk
  unsupportedLinkType,   // a capture link type the tool does not read
  notIp,                 // link layer carries something other than IPv4/IPv6
  badIp,                 // malformed IPv4/IPv6 header
  ipFragment,            // an IP fragment kept until its datagram is complete
  notSctp,               // IP carries another transport (TCP, UDP, ...)
  badSctp,               // malformed SCTP common header or chunk
  sctpNoData,            // SCTP control chunks only (INIT, SACK, HEARTBEAT, ...)
  sctpFragment,          // a fragment kept until its message is complete
  reassemblyGap,         // a fragment that does not continue a message (loss, reordering)
  reassemblyLimit,       // a fragmented message dropped to keep memory bounded
  reassemblyIncomplete,  // capture ended before the last fragment of a message
  sctpDuplicate,         // a retransmitted fragment of a message held or completed
  notSigtran,            // SCTP payload is neither M3UA, M2PA nor SUA
  m3uaNotData,           // M3UA management, ASP state/traffic, ...
  badM3ua,
  m2paNotData,  // M2PA link status, or user data without a message
  badM2pa,
  suaNotCldt,  // SUA other than connectionless data
  badSua,
  mtp2NotMsu,  // MTP2 fill-in or link status signal unit
  notSccp,     // MTP3 service indicator other than 3 (ISUP, management, ...)
  badHex,      // a line of a .hex file that is not hex bytes

  // IP datagrams given up in reassembly.
  ipReassemblyOverlap,     // fragments overlapping
  ipReassemblyBadLength,   // fragments past the datagram's end or 65,535 octets
  ipReassemblyLimit,       // dropped to keep memory bounded
  ipReassemblyTimeout,     // not completed within the timeout
  ipReassemblyIncomplete,  // capture ended before its last fragment

  count_
};

inline constexpr std::size_t kSkipCount = static_cast<std::size_t>(Skip::count_);

// A short, stable name: used in the summary and in tests.
std::string_view skipName(Skip s);
// A phrase for people: "not SCTP", "M3UA not DATA", ...
std::string_view skipDescription(Skip s);

// Per-reason counters.
struct SkipCounts {
  std::array<std::uint64_t, kSkipCount> n{};
  void add(Skip s, std::uint64_t k = 1) { n[static_cast<std::size_t>(s)] += k; }
  std::uint64_t operator[](Skip s) const { return n[static_cast<std::size_t>(s)]; }
  std::uint64_t total() const {
    std::uint64_t t = 0;
    for (std::size_t i = 1; i < kSkipCount; ++i) t += n[i];
    return t;
  }
  SkipCounts& operator+=(const SkipCounts& o) {
    for (std::size_t i = 0; i < kSkipCount; ++i) n[i] += o.n[i];
    return *this;
  }
};

}  // namespace qs
