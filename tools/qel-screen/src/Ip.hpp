// IPv4 and IPv6 down to the SCTP packet they carry.
#pragma once

#include <array>
#include <cstdint>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

// IANA protocol number of SCTP.
inline constexpr std::uint8_t kIpProtoSctp = 132;

struct IpView {
  Bytes payload;  // the transport packet, cut to the length the header states
  // Addresses, IPv4 ones in the first four octets; they key SCTP reassembly.
  std::array<std::uint8_t, 16> src{};
  std::array<std::uint8_t, 16> dst{};
  std::uint8_t version = 0;
  // True when the datagram is the first fragment of several: its transport
  // packet ends early.
  bool firstFragment = false;
  // True when the capture cut the datagram short (snap length).
  bool cut = false;
  Skip skip = Skip::none;
  explicit operator bool() const { return skip == Skip::none; }
};

IpView ipv4(Bytes packet);
IpView ipv6(Bytes packet);

}  // namespace qs
