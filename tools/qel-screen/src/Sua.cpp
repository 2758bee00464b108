#include "Sua.hpp"

namespace qs {

namespace {

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

// Calls f(tag, value) for each parameter of [at, end); false on a bad length.
template <class F>
bool forEachParameter(Bytes b, std::size_t at, std::size_t end, F&& f) {
  // The padded step may pass `end` when the last parameter's length is not a
  // multiple of four.
  while (at < end && end - at >= 4) {
    std::uint16_t tag = be16(b, at);
    std::size_t len = be16(b, at + 2);
    if (len < 4 || len > end - at) return false;
    f(tag, b.subspan(at + 4, len - 4));
    at += (len + 3) & ~std::size_t{3};
  }
  return at >= end;
}

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
  a.setHasDigits();
  for (std::size_t i = 0; i < digits; ++i) {
    std::uint8_t octet = gt[8 + i / 2];
    if (!a.appendDigit(i % 2 ? octet >> 4 : octet & 0x0F)) return SuaAddressError::badDigits;
  }
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
  bool ok = forEachParameter(v, 4, v.size(), [&](std::uint16_t tag, Bytes value) {
    if (error != SuaAddressError::none) return;
    switch (tag) {
      case kTagGlobalTitle:
        // A second one would have its digits appended to the first's: an
        // address that neither sender nor receiver meant.
        if (globalTitleSeen) {
          error = SuaAddressError::badParameter;
          break;
        }
        globalTitleSeen = true;
        error = globalTitle(value, a);
        break;
      case kTagPointCode:
        if (value.size() != 4) {
          error = SuaAddressError::badParameter;
        } else if (std::uint32_t pc = be32(value, 0); pc <= 0xFFFF) {
          // ITU point codes have 14 bits; wider ones do not fit an SCCP address.
          a.setPointCode(static_cast<std::uint16_t>(pc));
        }
        break;
      case kTagSubsystemNumber:
        if (value.size() != 4)
          error = SuaAddressError::badParameter;
        else
          a.setSubsystemNumber(value[3]);
        break;
      default:
        break;  // IP address, hostname: nothing SCCP screening reads
    }
  });
  if (!ok && error == SuaAddressError::none) error = SuaAddressError::badParameter;
  return error;
}

Skip suaCldt(Bytes m, SuaMessage& out) {
  // Common header (RFC 3868 3.1): version, reserved, class, type, length (4).
  if (m.size() < 8) return Skip::truncated;
  if (m[0] != kSuaVersion) return Skip::badSua;
  if (m[2] != kSuaClassConnectionless || m[3] != kSuaTypeCldt) return Skip::suaNotCldt;
  std::size_t length = be32(m, 4);
  if (length < 8) return Skip::badSua;
  if (length > m.size()) return Skip::truncated;
  bool calling = false, called = false, data = false;
  bool bad = false;
  out.protocolClass = 0;
  bool ok = forEachParameter(m, 8, length, [&](std::uint16_t tag, Bytes value) {
    // A repeated address or data parameter leaves it open which one the
    // receiver acts on: damage, not a choice made here.
    switch (tag) {
      case kTagSourceAddress:
        bad |= calling;
        calling = true;
        bad |= suaAddress(value, out.calling) != SuaAddressError::none;
        break;
      case kTagDestinationAddress:
        bad |= called;
        called = true;
        bad |= suaAddress(value, out.called) != SuaAddressError::none;
        break;
      case kTagData:
        bad |= data;
        data = true;
        out.data = value;
        break;
      case kTagProtocolClass:
        if (value.size() == 4) out.protocolClass = value[3] & 0x03;
        break;
      default:
        break;
    }
  });
  if (!ok || bad || !calling || !called || !data) return Skip::badSua;
  return Skip::none;
}

}  // namespace qs
