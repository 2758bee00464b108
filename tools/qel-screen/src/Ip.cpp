#include "Ip.hpp"

#include <algorithm>

namespace qs {

namespace {

// IPv6 extension headers (RFC 8200 4), walked to find the upper layer.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kAuthentication = 51;  // RFC 4302: length in 4-octet units minus 2
constexpr std::uint8_t kDestinationOptions = 60;
constexpr std::uint8_t kMobility = 135;
constexpr std::uint8_t kHip = 139;
constexpr std::uint8_t kShim6 = 140;
// More headers than this is not a datagram a signalling link sends.
constexpr int kMaxExtensionHeaders = 16;

// What may follow a fragment header in a datagram that can carry SCTP: other
// datagrams are not worth the memory of reassembly.
bool reassemblable(std::uint8_t next) {
  switch (next) {
    case kIpProtoSctp:
    case kHopByHop:
    case kRouting:
    case kAuthentication:
    case kDestinationOptions:
    case kMobility:
    case kHip:
    case kShim6:
      return true;
    default:
      return false;
  }
}

Skip readIpv4(Bytes p, IpView& v) {
  // RFC 791 3.1
  if (p.size() < 20) return Skip::truncated;
  if ((p[0] >> 4) != 4) return Skip::badIp;
  std::size_t headerLength = std::size_t{p[0] & 0x0Fu} * 4;
  std::size_t totalLength = be16(p, 2);
  if (headerLength < 20 || totalLength < headerLength) return Skip::badIp;
  if (p.size() < headerLength) return Skip::truncated;
  if (p[9] != kIpProtoSctp) return Skip::notSctp;

  v.version = 4;
  // Ethernet pads short frames: the stated length is the datagram's.
  v.cut = totalLength > p.size();
  v.payload = p.subspan(headerLength, std::min(totalLength, p.size()) - headerLength);
  std::copy_n(p.begin() + 12, 4, v.src.begin());
  std::copy_n(p.begin() + 16, 4, v.dst.begin());
  std::uint16_t fragment = be16(p, 6);
  if ((fragment & 0x3FFF) == 0) return Skip::none;
  v.fragment.id = be16(p, 4);
  v.fragment.offset = std::uint32_t{fragment & 0x1FFFu} * 8;
  v.fragment.more = (fragment & 0x2000) != 0;
  v.fragment.protocol = p[9];
  v.fragment.headerLength = static_cast<std::uint16_t>(headerLength);
  return Skip::ipFragment;
}

Skip readIpv6(Bytes p, IpView& v) {
  // RFC 8200 3
  if (p.size() < 40) return Skip::truncated;
  if ((p[0] >> 4) != 6) return Skip::badIp;
  std::size_t payloadLength = be16(p, 4);
  std::size_t end = payloadLength == 0 ? p.size() : 40 + payloadLength;  // 0: jumbogram
  v.version = 6;
  v.cut = end > p.size();
  end = std::min(end, p.size());
  std::copy_n(p.begin() + 8, 16, v.src.begin());
  std::copy_n(p.begin() + 24, 16, v.dst.begin());

  std::uint8_t next = p[6];
  std::size_t at = 40;
  std::size_t nextAt = 6;
  for (int n = 0; n <= kMaxExtensionHeaders; ++n) {
    switch (next) {
      case kIpProtoSctp:
        v.payload = p.subspan(at, end - at);
        return Skip::none;
      case kHopByHop:
      case kRouting:
      case kDestinationOptions:
      case kMobility:
      case kHip:
      case kShim6:
      case kAuthentication: {
        if (end < at + 8) return v.cut ? Skip::truncated : Skip::badIp;
        const std::size_t units = p[at + 1];
        const std::size_t length = next == kAuthentication ? (units + 2) * 4 : (units + 1) * 8;
        next = p[at];
        nextAt = at;
        at += length;
        break;
      }
      case kFragment: {
        if (end < at + 8) return v.cut ? Skip::truncated : Skip::badIp;
        std::uint16_t offsetFlags = be16(p, at + 2);
        // Offset 0 without M: an atomic fragment (RFC 6946), read as is.
        if ((offsetFlags & 0xFFF9) != 0) {
          if (!reassemblable(p[at])) return Skip::notSctp;
          v.payload = p.subspan(at + 8, end - at - 8);
          v.fragment.id = be32(p, at + 4);
          v.fragment.offset = offsetFlags & 0xFFF8u;
          v.fragment.more = (offsetFlags & 1) != 0;
          v.fragment.protocol = p[at];
          v.fragment.headerLength = static_cast<std::uint16_t>(at);
          v.fragment.nextHeaderAt = static_cast<std::uint16_t>(nextAt);
          return Skip::ipFragment;
        }
        next = p[at];
        nextAt = at;
        at += 8;
        break;
      }
      default:
        return Skip::notSctp;  // TCP, UDP, ESP, no next header, ...
    }
    if (at > end) return v.cut ? Skip::truncated : Skip::badIp;
  }
  return Skip::badIp;
}

// The view is filled in place and returned by name, so that it is built in
// the caller's storage: copying it out afterwards would read its addresses,
// just written a few bytes at a time, as whole words, a store-forwarding stall
// that cost more than the rest of the header parsing.
template <Skip (*kRead)(Bytes, IpView&)>
[[gnu::always_inline]] inline IpView viewOf(Bytes p) {
  IpView v;
  Skip s = kRead(p, v);
  if (s != Skip::none && s != Skip::ipFragment) v = IpView{};
  v.skip = s;
  return v;
}

}  // namespace

IpView ipv4(Bytes p) {
  return viewOf<readIpv4>(p);
}

IpView ipv6(Bytes p) {
  return viewOf<readIpv6>(p);
}

}  // namespace qs
