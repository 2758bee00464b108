#include "px/BcdDigits.hpp"
#include "px/BigEndian.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sigtran/ParameterReader.hpp"
#include "px/sua/SuaMessage.hpp"

namespace px {

namespace {

using Bytes = std::span<const std::uint8_t>;

// RFC 3868 3.1.2 and 3.10 parameter tags.
constexpr std::uint8_t kSuaVersion = 1;
constexpr std::uint8_t kSuaClassConnectionless = 7;
constexpr std::uint8_t kSuaTypeCldt = 1;
constexpr std::uint16_t kTagSourceAddress = 0x0102;
constexpr std::uint16_t kTagDestinationAddress = 0x0103;
constexpr std::uint16_t kTagData = 0x010B;
constexpr std::uint16_t kTagProtocolClass = 0x0115;
// RFC 3868 3.10.2 address parameters.
constexpr std::uint16_t kTagGlobalTitle = 0x8001;
constexpr std::uint16_t kTagPointCode = 0x8002;
constexpr std::uint16_t kTagSubsystemNumber = 0x8003;
// Routing indicator values (3.10.2).
constexpr std::uint16_t kRouteOnSsnPc = 2;
constexpr std::uint16_t kRouteOnSsnIp = 4;

SuaAddressError globalTitle(Bytes gt, SccpAddress& a) {
  // Reserved (3), GTI (1), number of digits, TT, NP, NAI, digits (BCD, the
  // first digit in the low nibble).
  if (gt.size() < 8) return SuaAddressError::truncated;
  std::uint8_t gti = gt[3] & 0x0F;
  std::size_t digits = gt[4];
  if ((digits + 1) / 2 > gt.size() - 8) return SuaAddressError::badDigits;
  a.setGlobalTitleIndicator(gti);
  // The fields Q.713 3.4.2.3 carries for the same GTI, so that the address
  // reads as its SCCP counterpart would.
  if (gti == 2 || gti == 3 || gti == 4) a.setTt(gt[5]);
  if (gti == 3 || gti == 4) {
    a.setNpi(gt[6]);
    a.setEncodingScheme(digits % 2 ? 1 : 2);  // BCD odd / even
  }
  if (gti == 1 || gti == 4) a.setNai(gt[7] & 0x7F);
  // At most 255 digits: the buffer holds them, and the filler of an odd count
  // lands just past them.
  writeBcdDigits(gt.subspan(8, (digits + 1) / 2), a.resizeDigits(digits));
  return SuaAddressError::none;
}

}  // namespace

SuaAddressError suaAddress(Bytes v, SccpAddress& a) {
  a.clear();
  if (v.size() < 4) return SuaAddressError::truncated;
  std::uint16_t ri = be16(v, 0);
  a.setRoutingIndicator(ri == kRouteOnSsnPc || ri == kRouteOnSsnIp
                            ? SccpRoutingIndicator::subsystemNumber
                            : SccpRoutingIndicator::globalTitle);
  SuaAddressError error = SuaAddressError::none;
  bool globalTitleSeen = false;
  sigtran::ParameterReader r(v.subspan(4));
  for (sigtran::Parameter p; error == SuaAddressError::none && r.next(p);) {
    switch (p.tag) {
      case kTagGlobalTitle:
        // A second one would have its digits appended to the first's: an
        // address that neither sender nor receiver meant.
        if (globalTitleSeen) {
          error = SuaAddressError::badParameter;
          break;
        }
        globalTitleSeen = true;
        error = globalTitle(p.value, a);
        break;
      case kTagPointCode:
        if (p.value.size() != 4) {
          error = SuaAddressError::badParameter;
        } else if (std::uint32_t pc = be32(p.value, 0); pc <= 0xFFFF) {
          // ITU point codes have 14 bits; wider ones do not fit an SCCP address.
          a.setPointCode(static_cast<std::uint16_t>(pc));
        }
        break;
      case kTagSubsystemNumber:
        if (p.value.size() != 4)
          error = SuaAddressError::badParameter;
        else
          a.setSubsystemNumber(p.value[3]);
        break;
      default:
        break;  // IP address, hostname: nothing SCCP screening reads
    }
  }
  if (r.damaged() && error == SuaAddressError::none) error = SuaAddressError::badParameter;
  return error;
}

SuaDecodeError suaCldt(Bytes m, SuaMessage& out) {
  // Common header (RFC 3868 3.1): version, reserved, class, type, length (4).
  if (m.size() < 8) return SuaDecodeError::truncated;
  if (m[0] != kSuaVersion) return SuaDecodeError::malformed;
  if (m[2] != kSuaClassConnectionless || m[3] != kSuaTypeCldt) return SuaDecodeError::notCldt;
  std::size_t length = be32(m, 4);
  if (length < 8) return SuaDecodeError::malformed;
  if (length > m.size()) return SuaDecodeError::truncated;
  bool calling = false, called = false, data = false;
  bool bad = false;
  out.protocolClass = 0;
  sigtran::ParameterReader r(m.subspan(8, length - 8));
  for (sigtran::Parameter p; r.next(p);) {
    // A repeated address or data parameter leaves it open which one the
    // receiver acts on: damage, not a choice made here.
    switch (p.tag) {
      case kTagSourceAddress:
        bad |= calling;
        calling = true;
        bad |= suaAddress(p.value, out.calling) != SuaAddressError::none;
        break;
      case kTagDestinationAddress:
        bad |= called;
        called = true;
        bad |= suaAddress(p.value, out.called) != SuaAddressError::none;
        break;
      case kTagData:
        bad |= data;
        data = true;
        out.data = p.value;
        break;
      case kTagProtocolClass:
        if (p.value.size() == 4) out.protocolClass = p.value[3] & 0x03;
        break;
      default:
        break;
    }
  }
  if (r.damaged() || bad || !calling || !called || !data) return SuaDecodeError::malformed;
  return SuaDecodeError::none;
}

void packetFromSua(PXSCCP_Packet& packet, const SuaMessage& sua) {
  packet.clear();
  packet.setMessageType(SccpMessageType::udt);
  packet.setProtocolClassOrCause(sua.protocolClass);
  packet.mutableCallingPartyAddress() = sua.calling;
  packet.mutableCalledPartyAddress() = sua.called;
  packet.setData(sua.data);
  if (!packet.mutableTcap().decode(sua.data)) packet.removeTcap();
}

}  // namespace px
