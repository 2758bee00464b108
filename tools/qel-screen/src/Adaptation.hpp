// The layers between SCTP (or a signalling link) and SCCP: M3UA, M2PA, MTP2
// and MTP3. SUA, which replaces SCCP rather than carrying it, is
// decoded by the host library (px/sua/SuaMessage.hpp).
#pragma once

#include <cstdint>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

// IANA SCTP payload protocol identifiers and registered ports.
inline constexpr std::uint32_t kPpidM3ua = 3;  // RFC 4666 1.4.8
inline constexpr std::uint32_t kPpidSua = 4;   // RFC 3868 1.4.7
inline constexpr std::uint32_t kPpidM2pa = 5;  // RFC 4165 1.5
inline constexpr std::uint16_t kPortM3ua = 2905;
inline constexpr std::uint16_t kPortM2pa = 3565;
inline constexpr std::uint16_t kPortSua = 14001;

// RFC 4666 3.1.2 message classes and 3.2 parameter tags.
inline constexpr std::uint8_t kM3uaVersion = 1;
inline constexpr std::uint8_t kM3uaClassTransfer = 1;
inline constexpr std::uint8_t kM3uaTypeData = 1;
inline constexpr std::uint16_t kM3uaRoutingContext = 0x0006;
inline constexpr std::uint16_t kM3uaProtocolData = 0x0210;

// MTP3 service indicator of SCCP (Q.704 14.2.1).
inline constexpr std::uint8_t kServiceIndicatorSccp = 3;

enum class UserAdaptation : std::uint8_t { none, m3ua, m2pa, sua };

// The payload protocol identifier decides; a payload without one of the
// three identifiers is recognised by its registered port (either end).
UserAdaptation userAdaptation(std::uint32_t ppid, std::uint16_t srcPort, std::uint16_t dstPort);

struct View {
  Bytes bytes;
  Skip skip = Skip::none;
  // The MTP3 routing label or M3UA protocol data header, when the layer has one.
  bool routed = false;
  std::uint32_t opc = 0;
  std::uint32_t dpc = 0;
  std::uint8_t si = 0;
  explicit operator bool() const { return skip == Skip::none; }
};

// M3UA DATA (RFC 4666 3.3.1): the SCCP message of its Protocol Data.
View m3uaSccp(Bytes message);
// The common case of m3uaSccp(), for the hot path: a DATA message whose
// Protocol Data carries SCCP, with sound parameters up to it (a Routing
// Context usually comes first). True with `v` set as m3uaSccp() would return
// it; false (with `v` untouched) when m3uaSccp() must read the message.
inline bool m3uaSccpQuick(Bytes m, View& v) {
  // RFC 4666 3.1: version, reserved, class, type, length (4); 3.2: each
  // parameter a tag and a length (2 each) with its header, padded to four.
  // Version, class and type in one load; the reserved octet is not read.
  constexpr std::uint32_t kDataHeader =
      std::uint32_t{kM3uaVersion} << 24 | std::uint32_t{kM3uaClassTransfer} << 8 | kM3uaTypeData;
  if (m.size() < 8 || (be32(m, 0) & 0xFF00FFFFu) != kDataHeader) return false;
  const std::size_t length = be32(m, 4);
  if (length < 8 || length > m.size()) return false;
  // The Protocol Data at `at`, `parameterLength` octets with its header.
  auto protocolData = [&](std::size_t at, std::size_t parameterLength) {
    // OPC (4), DPC (4), SI, NI, MP, SLS, then the user part.
    if (parameterLength < 16 || parameterLength > length - at ||
        m[at + 12] != kServiceIndicatorSccp)
      return false;
    v.bytes = Bytes(m.data() + at + 16, parameterLength - 16);
    v.skip = Skip::none;
    v.routed = true;
    v.opc = be32(m, at + 4);
    v.dpc = be32(m, at + 8);
    v.si = kServiceIndicatorSccp;
    return true;
  };
  // The usual layout, read straight: a Routing Context of one context
  // (length 8), then the Protocol Data.
  constexpr std::uint32_t kOneContext = std::uint32_t{kM3uaRoutingContext} << 16 | 8;
  if (length >= 20 && be32(m, 8) == kOneContext && be16(m, 16) == kM3uaProtocolData)
    return protocolData(16, be16(m, 18));
  // Any other: the walk of m3uaSccp().
  for (std::size_t at = 8; length - at >= 4;) {
    const std::uint32_t header = be32(m, at);
    const std::size_t parameterLength = header & 0xFFFFu;
    if (parameterLength < 4 || parameterLength > length - at) return false;
    if (header >> 16 == kM3uaProtocolData) return protocolData(at, parameterLength);
    at += (parameterLength + 3) & ~std::size_t{3};
    if (at >= length) return false;
  }
  return false;
}
// M2PA User Data (RFC 4165 2.3.2): the MTP3 message it carries.
View m2paMtp3(Bytes message);
// MTP2 message signal unit (Q.703 2.2, Annex A for extended sequence
// numbers): the MTP3 message (SIO and SIF). The capture holds no check bits.
View mtp2Mtp3(Bytes signalUnit, bool extendedSequenceNumbers);
// ITU MTP3 message (Q.704 2.2, 2.3): the SCCP message behind the routing label.
View mtp3Sccp(Bytes message);

}  // namespace qs
