#include "Adaptation.hpp"

#include "px/sigtran/ParameterReader.hpp"

namespace qs {

namespace {

View skip(Skip s) {
  return View{{}, s};
}

// RFC 4165 2.1.
constexpr std::uint8_t kM2paVersion = 1;
constexpr std::uint8_t kM2paClass = 11;
constexpr std::uint8_t kM2paTypeUserData = 1;
// Common header (8) and BSN/FSN (8).
constexpr std::size_t kM2paHeader = 16;

// Q.704 2.2: SIO (1) and the ITU routing label (4).
constexpr std::size_t kMtp3Header = 5;

}  // namespace

UserAdaptation userAdaptation(std::uint32_t ppid, std::uint16_t srcPort, std::uint16_t dstPort) {
  switch (ppid) {
    case kPpidM3ua:
      return UserAdaptation::m3ua;
    case kPpidSua:
      return UserAdaptation::sua;
    case kPpidM2pa:
      return UserAdaptation::m2pa;
    default:
      break;
  }
  for (std::uint16_t port : {dstPort, srcPort}) {
    if (port == kPortM3ua) return UserAdaptation::m3ua;
    if (port == kPortM2pa) return UserAdaptation::m2pa;
    if (port == kPortSua) return UserAdaptation::sua;
  }
  return UserAdaptation::none;
}

View m3uaSccp(Bytes m) {
  // Common header (RFC 4666 3.1): version, reserved, class, type, length (4).
  if (m.size() < 8) return skip(Skip::truncated);
  if (m[0] != kM3uaVersion) return skip(Skip::badM3ua);
  if (m[2] != kM3uaClassTransfer || m[3] != kM3uaTypeData) return skip(Skip::m3uaNotData);
  std::size_t length = be32(m, 4);
  if (length < 8) return skip(Skip::badM3ua);
  if (length > m.size()) return skip(Skip::truncated);
  px::sigtran::ParameterReader r(m.subspan(8, length - 8));
  for (px::sigtran::Parameter p; r.next(p);) {
    if (p.tag == kM3uaProtocolData) {
      // OPC (4), DPC (4), SI, NI, MP, SLS, then the user part.
      if (p.value.size() < 12) return skip(Skip::badM3ua);
      if (p.value[8] != kServiceIndicatorSccp) return skip(Skip::notSccp);
      View v{p.value.subspan(12)};
      v.routed = true;
      v.opc = be32(p.value, 0);
      v.dpc = be32(p.value, 4);
      v.si = p.value[8];
      return v;
    }
  }
  return skip(Skip::badM3ua);
}

View m2paMtp3(Bytes m) {
  if (m.size() < 8) return skip(Skip::truncated);
  if (m[0] != kM2paVersion || m[2] != kM2paClass) return skip(Skip::badM2pa);
  if (m[3] != kM2paTypeUserData) return skip(Skip::m2paNotData);
  std::size_t length = be32(m, 4);
  if (length < kM2paHeader) return skip(Skip::badM2pa);
  if (length > m.size()) return skip(Skip::truncated);
  // An acknowledgement carries no data; otherwise one priority octet (the
  // place of MTP2's length indicator) precedes the SIO.
  if (length == kM2paHeader) return skip(Skip::m2paNotData);
  if (length == kM2paHeader + 1) return skip(Skip::badM2pa);
  return View{m.subspan(kM2paHeader + 1, length - kM2paHeader - 1)};
}

View mtp2Mtp3(Bytes su, bool extended) {
  // Basic: BSN/BIB, FSN/FIB, LI (6 bits). Extended: 2 octets each, LI 9 bits.
  std::size_t header = extended ? 6 : 3;
  if (su.size() < header) return skip(Skip::truncated);
  unsigned li = extended ? (su[4] | ((su[5] & 0x01u) << 8)) : (su[2] & 0x3Fu);
  // LI 0: fill-in signal unit; 1 or 2: link status signal unit.
  if (li < 3) return skip(Skip::mtp2NotMsu);
  if (su.size() == header) return skip(Skip::truncated);
  return View{su.subspan(header)};
}

View mtp3Sccp(Bytes m) {
  if (m.empty()) return skip(Skip::truncated);
  if ((m[0] & 0x0F) != kServiceIndicatorSccp) return skip(Skip::notSccp);
  if (m.size() <= kMtp3Header) return skip(Skip::truncated);
  // Q.704 2.2.4: DPC (14 bits), OPC (14 bits), SLS (4 bits), least significant bit first.
  const std::uint32_t label = std::uint32_t{m[1]} | std::uint32_t{m[2]} << 8 |
                              std::uint32_t{m[3]} << 16 | std::uint32_t{m[4]} << 24;
  View v{m.subspan(kMtp3Header)};
  v.routed = true;
  v.dpc = label & 0x3FFF;
  v.opc = (label >> 14) & 0x3FFF;
  v.si = m[0] & 0x0F;
  return v;
}

}  // namespace qs
