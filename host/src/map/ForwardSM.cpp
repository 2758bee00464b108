#include "px/map/ForwardSM.hpp"

#include <algorithm>
#include <array>

#include "px/asn1/BerReader.hpp"

bool PXGSMMAP_IMSI::setDigits(std::string_view digits) {
  if (digits.size() > kMaxDigits) return false;
  std::copy(digits.begin(), digits.end(), _digits.begin());
  _length = static_cast<std::uint8_t>(digits.size());
  return true;
}

namespace {

using Class = PXASN1TagClass;

// X.680 8.4: universal SEQUENCE and OCTET STRING.
constexpr std::uint32_t kSequence = 16;
constexpr std::uint32_t kOctetString = 4;
// 3GPP TS 29.002 7.6.1.2 / 17.7.1 TBCD-STRING: 0xF fills the last high nibble
// of an odd number of digits.
constexpr std::uint8_t kFiller = 0x0F;

// Appends the TBCD digits of `octets` to `out`. The filler is dropped only as
// the high nibble of the very last octet; anywhere else it is kept as 'f', and
// non-decimal nibbles as 'a'-'e', so that a prefix of decimal digits still
// matches the digits before them and never matches through them.
void appendTbcd(std::span<const std::uint8_t> octets, bool last, char* out, std::size_t& n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < octets.size(); ++i) {
    out[n++] = kDigits[octets[i] & 0x0F];
    const std::uint8_t high = octets[i] >> 4;
    if (!(last && i + 1 == octets.size() && high == kFiller)) out[n++] = kDigits[high];
  }
}

// IMSI ::= TBCD-STRING (SIZE (3..8)), here [0] IMPLICIT, primitive or, as BER
// allows for strings, constructed of primitive OCTET STRING segments. Sizes
// outside 1..kMaxOctets are refused.
std::optional<PXGSMMAP_IMSI> decodeImsi(const PXASN1Object& o) {
  std::array<char, PXGSMMAP_IMSI::kMaxDigits> digits;
  std::size_t n = 0;
  if (!o.isConstructed()) {
    const auto c = o.contents();
    if (c.empty() || c.size() > PXGSMMAP_IMSI::kMaxOctets) return std::nullopt;
    appendTbcd(c, true, digits.data(), n);
  } else {
    std::size_t octets = 0;
    px::ber::BerReader r(o.contents());
    auto segment = r.next();
    while (segment) {
      if (!segment->is(Class::universal, false, kOctetString)) return std::nullopt;
      const auto c = segment->contents();
      octets += c.size();
      if (octets > PXGSMMAP_IMSI::kMaxOctets) return std::nullopt;
      auto following = r.next();
      appendTbcd(c, !following, digits.data(), n);
      segment = following;
    }
    if (r.damaged() || octets == 0) return std::nullopt;
  }
  PXGSMMAP_IMSI imsi;
  imsi.setDigits(std::string_view(digits.data(), n));
  return imsi;
}

}  // namespace

// Argument ::= SEQUENCE { sm-RP-DA SM-RP-DA, sm-RP-OA, sm-RP-UI, ... }, the
// same shape for MO-, MT- and the MAP v1/v2 forwardSM. Only the first element
// is read; the rest of the argument does not change what it says.
std::optional<PXGSMMAP_SM_RP_DA> PXGSMMAP_ForwardSM_Arg::decodeSmRpDa(const PXASN1Object* params) {
  if (!params || !params->is(Class::universal, true, kSequence)) return std::nullopt;
  px::ber::BerReader r(params->contents());
  const auto first = r.next();
  if (!first || first->tagClass() != Class::contextSpecific) return std::nullopt;
  switch (first->tagNumber()) {
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::imsi): {
      const auto imsi = decodeImsi(*first);
      if (!imsi) return std::nullopt;
      PXGSMMAP_SM_RP_DA da;
      da.setImsi(*imsi);
      return da;
    }
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::lmsi):
      return PXGSMMAP_SM_RP_DA(PXGSMMAP_SM_RP_DA_Choice::lmsi);
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA):
      return PXGSMMAP_SM_RP_DA(PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA);
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA):
      // NULL: never constructed.
      if (first->isConstructed()) return std::nullopt;
      return PXGSMMAP_SM_RP_DA(PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA);
    default:
      return std::nullopt;
  }
}

std::optional<PXGSMMAP_MO_ForwardSM_Arg> PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(
    const PXASN1Object* params, const void*) {
  auto da = decodeSmRpDa(params);
  if (!da) return std::nullopt;
  return PXGSMMAP_MO_ForwardSM_Arg(*da);
}

std::optional<PXGSMMAP_MT_ForwardSM_Arg> PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(
    const PXASN1Object* params, const void*) {
  auto da = decodeSmRpDa(params);
  if (!da) return std::nullopt;
  return PXGSMMAP_MT_ForwardSM_Arg(*da);
}
