// The first layer of a frame: from the capture's link type to the network
// layer it carries.
#pragma once

#include <cstdint>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

// pcap link-layer header types (tcpdump.org linktypes), as pcap_datalink()
// reports them on Linux.
namespace dlt {
inline constexpr int null = 0;  // BSD loopback, 4-octet address family
inline constexpr int ethernet = 1;
inline constexpr int rawBsd = 12;      // DLT_RAW as libpcap maps LINKTYPE_RAW
inline constexpr int rawOpenBsd = 14;  // DLT_RAW on OpenBSD
inline constexpr int raw = 101;        // LINKTYPE_RAW
inline constexpr int loop = 108;       // OpenBSD loopback, family in network order
inline constexpr int linuxSll = 113;
inline constexpr int mtp2WithPhdr = 139;
inline constexpr int mtp2 = 140;
inline constexpr int mtp3 = 141;
inline constexpr int sccp = 142;
inline constexpr int ipv4 = 228;
inline constexpr int ipv6 = 229;
inline constexpr int linuxSll2 = 276;
}  // namespace dlt

bool linkTypeSupported(int linkType);

// The IEEE 802 EtherType of IPv4.
inline constexpr std::uint16_t kEtherIpv4 = 0x0800;

enum class Network : std::uint8_t {
  ipv4,
  ipv6,
  mtp2,          // MTP2 signal unit, basic sequence numbers (Q.703 2.2)
  mtp2Extended,  // MTP2 signal unit, extended sequence numbers (Q.703 Annex A)
  mtp3,          // MTP3 message: SIO, routing label, user part
  sccp,          // an SCCP message
};

struct LinkView {
  Network network = Network::ipv4;
  Bytes payload;
  Skip skip = Skip::none;
  explicit operator bool() const { return skip == Skip::none; }
};

LinkView linkLayer(int linkType, Bytes frame);

// Ethernet carrying IPv4 (no VLAN tag), as nearly every frame of a
// signalling capture is: true with the IP datagram as linkLayer() gives it,
// false when linkLayer() must read the frame.
inline bool ethernetIpv4(Bytes frame, Bytes& ip) {
  // destination (6), source (6), EtherType (IEEE 802: IPv4)
  if (frame.size() < 14 || be16(frame, 12) != kEtherIpv4) return false;
  ip = frame.subspan(14);
  return true;
}

}  // namespace qs
