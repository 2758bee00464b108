#include "LinkLayer.hpp"

namespace qs {

namespace {

// IEEE 802 EtherTypes (IPv4: LinkLayer.hpp).
constexpr std::uint16_t kEtherIpv6 = 0x86DD;
constexpr std::uint16_t kEtherVlan = 0x8100;     // IEEE 802.1Q C-tag
constexpr std::uint16_t kEtherQinQ = 0x88A8;     // IEEE 802.1ad S-tag
constexpr std::uint16_t kEtherQinQOld = 0x9100;  // pre-802.1ad double tagging
// Deeper stacks of tags than this are not real traffic.
constexpr int kMaxVlanTags = 4;

LinkView skip(Skip s) {
  return LinkView{Network::ipv4, {}, s};
}

LinkView byVersion(Bytes ip) {
  if (ip.empty()) return skip(Skip::truncated);
  switch (ip[0] >> 4) {
    case 4:
      return {Network::ipv4, ip};
    case 6:
      return {Network::ipv6, ip};
    default:
      return skip(Skip::notIp);
  }
}

// An EtherType at `at`, possibly behind VLAN tags, then the network layer.
LinkView byEtherType(Bytes frame, std::size_t at) {
  for (int tags = 0;; ++tags) {
    if (frame.size() < at + 2) return skip(Skip::truncated);
    std::uint16_t type = be16(frame, at);
    if (type == kEtherVlan || type == kEtherQinQ || type == kEtherQinQOld) {
      if (tags == kMaxVlanTags) return skip(Skip::notIp);
      at += 4;  // TPID was read; TCI (2) then the next type
      continue;
    }
    auto payload = frame.subspan(at + 2);
    if (type == kEtherIpv4) return {Network::ipv4, payload};
    if (type == kEtherIpv6) return {Network::ipv6, payload};
    return skip(Skip::notIp);
  }
}

}  // namespace

bool linkTypeSupported(int linkType) {
  switch (linkType) {
    case dlt::null:
    case dlt::ethernet:
    case dlt::rawBsd:
    case dlt::rawOpenBsd:
    case dlt::raw:
    case dlt::loop:
    case dlt::linuxSll:
    case dlt::mtp2WithPhdr:
    case dlt::mtp2:
    case dlt::mtp3:
    case dlt::sccp:
    case dlt::ipv4:
    case dlt::ipv6:
    case dlt::linuxSll2:
      return true;
    default:
      return false;
  }
}

LinkView linkLayer(int linkType, Bytes frame) {
  switch (linkType) {
    case dlt::ethernet:
      // destination (6), source (6), EtherType
      return byEtherType(frame, 12);
    case dlt::linuxSll:
      // packet type (2), ARPHRD type (2), address length (2), address (8), protocol
      return byEtherType(frame, 14);
    case dlt::linuxSll2:
      // protocol (2) first; then reserved, interface, ARPHRD, packet type,
      // address length, address: 20 octets in all.
      if (frame.size() < 20) return skip(Skip::truncated);
      {
        std::uint16_t type = be16(frame, 0);
        if (type == kEtherVlan || type == kEtherQinQ || type == kEtherQinQOld) {
          // Tags stay in the payload when the kernel did not strip them.
          if (frame.size() < 24) return skip(Skip::truncated);
          return byEtherType(frame, 22);
        }
        if (type == kEtherIpv4) return {Network::ipv4, frame.subspan(20)};
        if (type == kEtherIpv6) return {Network::ipv6, frame.subspan(20)};
        return skip(Skip::notIp);
      }
    case dlt::rawBsd:
    case dlt::rawOpenBsd:
    case dlt::raw:
    case dlt::ipv4:
    case dlt::ipv6:
      return byVersion(frame);
    case dlt::null:
    case dlt::loop:
      // The family's value differs between systems; the IP version says enough.
      if (frame.size() < 4) return skip(Skip::truncated);
      return byVersion(frame.subspan(4));
    case dlt::mtp2WithPhdr:
      // Pseudo-header: sent (1), annex A used (1; 1 = extended sequence
      // numbers), link number (2).
      if (frame.size() < 4) return skip(Skip::truncated);
      return {frame[1] == 1 ? Network::mtp2Extended : Network::mtp2, frame.subspan(4)};
    case dlt::mtp2:
      return {Network::mtp2, frame};
    case dlt::mtp3:
      return {Network::mtp3, frame};
    case dlt::sccp:
      return {Network::sccp, frame};
    default:
      return skip(Skip::unsupportedLinkType);
  }
}

}  // namespace qs
