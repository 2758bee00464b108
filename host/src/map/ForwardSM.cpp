#include "px/map/ForwardSM.hpp"

#include <algorithm>

bool PXGSMMAP_IMSI::setDigits(std::string_view digits) {
  if (digits.size() > kMaxDigits) return false;
  std::copy(digits.begin(), digits.end(), _digits.begin());
  _length = static_cast<std::uint8_t>(digits.size());
  return true;
}

// Placeholder until the BER-based decoder lands: nothing decodes.
std::optional<PXGSMMAP_SM_RP_DA> PXGSMMAP_ForwardSM_Arg::decodeSmRpDa(const PXASN1Object*) {
  return std::nullopt;
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
