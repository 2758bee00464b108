#include "px/map/ForwardSM.hpp"

#include <algorithm>

#include "px/BcdDigits.hpp"
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

// Whether `octets`, the last of a TBCD string, end with the filler. It is
// dropped only as the high nibble of the very last octet; anywhere else it is
// kept as 'f', and non-decimal nibbles as 'a'-'e', so that a prefix of
// decimal digits still matches the digits before them and never matches
// through them.
bool endsWithFiller(std::span<const std::uint8_t> octets) {
  return !octets.empty() && (octets.back() >> 4) == kFiller;
}

// IMSI ::= TBCD-STRING (SIZE (3..8)), here [0] IMPLICIT, primitive or, as BER
// allows for strings, constructed of primitive OCTET STRING segments. Sizes
// outside 1..kMaxOctets are refused.
//
// The constructed form, out of line: it is rare, and the common primitive one
// then needs few registers.
[[gnu::noinline]] bool decodeSegmentedImsi(const PXASN1Object& o, PXGSMMAP_IMSI& imsi) {
  char* const digits = imsi.digitBuffer();
  char* end = digits;
  std::size_t octets = 0;
  px::ber::BerReader r(o.contents());
  auto segment = r.next();
  while (segment) {
    if (!segment->is(Class::universal, false, kOctetString)) return false;
    const auto c = segment->contents();
    octets += c.size();
    if (octets > PXGSMMAP_IMSI::kMaxOctets) return false;
    auto following = r.next();
    end = px::writeBcdDigits(c, end);
    if (!following && endsWithFiller(c)) --end;
    segment = following;
  }
  if (r.damaged() || octets == 0) return false;
  imsi.setDigitCount(static_cast<std::size_t>(end - digits));
  return true;
}

// The primitive form, whose contents lie in `argument` (the argument's
// contents), which the digits may be loaded from beyond the IMSI's end.
bool decodeImsi(const PXASN1Object& o, std::span<const std::uint8_t> argument,
                PXGSMMAP_IMSI& imsi) {
  if (o.isConstructed()) return decodeSegmentedImsi(o, imsi);
  const auto c = o.contents();
  if (c.empty() || c.size() > PXGSMMAP_IMSI::kMaxOctets) return false;
  static_assert(PXGSMMAP_IMSI::kMaxDigits >= px::kBcdDigitsAtEndSlack);
  px::writeBcdDigitsAhead(argument, static_cast<std::size_t>(c.data() - argument.data()), c.size(),
                          imsi.digitBuffer());
  imsi.setDigitCount(2 * c.size() - (endsWithFiller(c) ? 1 : 0));
  return true;
}

}  // namespace

// Argument ::= SEQUENCE { sm-RP-DA SM-RP-DA, sm-RP-OA, sm-RP-UI, ... }, the
// same shape for MO-, MT- and the MAP v1/v2 forwardSM. Only the first element
// is read; the rest of the argument does not change what it says.
bool PXGSMMAP_ForwardSM_Arg::decodeSmRpDa(const PXASN1Object* params, PXGSMMAP_SM_RP_DA& da) {
  if (!params || !params->is(Class::universal, true, kSequence)) return false;
  px::ber::BerReader r(params->contents());
  PXASN1Object first;
  if (!r.next(first) || first.tagClass() != Class::contextSpecific) return false;
  switch (first.tagNumber()) {
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::imsi):
      return decodeImsi(first, params->contents(), da.mutableImsi());
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::lmsi):
      da.setChoice(PXGSMMAP_SM_RP_DA_Choice::lmsi);
      return true;
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA):
      da.setChoice(PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA);
      return true;
    case static_cast<std::uint32_t>(PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA):
      // NULL: never constructed.
      if (first.isConstructed()) return false;
      da.setChoice(PXGSMMAP_SM_RP_DA_Choice::noSM_RP_DA);
      return true;
    default:
      return false;
  }
}

// The argument is decoded where it is returned, not copied out of a temporary.
std::optional<PXGSMMAP_MO_ForwardSM_Arg> PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(
    const PXASN1Object* params, const void*) {
  std::optional<PXGSMMAP_MO_ForwardSM_Arg> argument(std::in_place);
  if (!decodeSmRpDa(params, argument->mutableSmRpDa())) argument.reset();
  return argument;
}

std::optional<PXGSMMAP_MT_ForwardSM_Arg> PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(
    const PXASN1Object* params, const void*) {
  std::optional<PXGSMMAP_MT_ForwardSM_Arg> argument(std::in_place);
  if (!decodeSmRpDa(params, argument->mutableSmRpDa())) argument.reset();
  return argument;
}
