// IPv4 and IPv6 down to the SCTP packet they carry.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

// IANA protocol number of SCTP.
inline constexpr std::uint8_t kIpProtoSctp = 132;

// What a fragment says of its place in the datagram (RFC 791 3.1, RFC 8200 4.5).
struct IpFragment {
  std::uint32_t id = 0;
  std::uint32_t offset = 0;  // in octets
  bool more = false;
  // IPv4: the protocol; IPv6: the fragment header's next header.
  std::uint8_t protocol = 0;
  // The part every fragment repeats: the IPv4 header, or the IPv6 header with
  // the extension headers before the fragment header.
  std::uint16_t headerLength = 0;
  // IPv6: where the next-header field that names the fragment header is.
  std::uint16_t nextHeaderAt = 0;
};

struct IpView {
  // The transport packet, cut to the length the header states; for a
  // fragment (skip == ipFragment), the fragment's share of the datagram.
  Bytes payload;
  // Addresses, IPv4 ones in the first four octets; they key SCTP reassembly.
  std::array<std::uint8_t, 16> src{};
  std::array<std::uint8_t, 16> dst{};
  std::uint8_t version = 0;
  // True when the capture cut the datagram short (snap length).
  bool cut = false;
  Skip skip = Skip::none;
  // Set with skip == ipFragment, when the fragment can be reassembled.
  IpFragment fragment;
  explicit operator bool() const { return skip == Skip::none; }
};

// A fragment of an SCTP datagram gives Skip::ipFragment with its addresses,
// `fragment` and `payload` set, ready for IpReassembler.
IpView ipv4(Bytes packet);
IpView ipv6(Bytes packet);

// The common case of ipv4(), for the hot path: a datagram without options,
// not fragmented, carrying SCTP. True with the payload as ipv4() gives it (its
// addresses are octets 12 to 19); false when ipv4() must read the datagram.
inline bool ipv4Sctp(Bytes p, Bytes& payload) {
  // RFC 791 3.1: version 4 with a header of five words.
  constexpr std::size_t kHeader = 20;
  if (p.size() < kHeader || p[0] != 0x45) return false;
  const std::size_t totalLength = be16(p, 2);
  if (totalLength < kHeader) return false;
  // Flags and fragment offset (2 octets), TTL, protocol in one load: SCTP,
  // and neither More Fragments nor an offset.
  if ((be32(p, 6) & 0x3FFF00FFu) != kIpProtoSctp) return false;
  payload = Bytes(p.data() + kHeader, std::min(totalLength, p.size()) - kHeader);
  return true;
}

}  // namespace qs
