// Verdicts of SCCP screening. The numbers are part of the host interface:
// permits are positive, denials negative, and verdicts are combined by value.
#pragma once

#include <cstdint>
#include <string_view>

#include "px/EnumNames.hpp"

enum PXSccpScreening_result : std::int32_t {
  PXSccpScreening_undefined = 0,
  PXSccpScreening_explicitlyPermitted = 1,
  PXSccpScreening_implicitlyPermitted = 2,
  PXSccpScreening_explicitlyDenied = -1,
  PXSccpScreening_implicitlyDenied = -2,
  PXSccpScreening_errorResult = -99,
};

static_assert(sizeof(PXSccpScreening_result) == 4);

// "explicitlyDenied" and so on; "unknown" for a value outside the enumeration.
namespace px {
constexpr std::string_view verdictName(std::int32_t v) {
  constexpr px::EnumName<std::int32_t> kNames[] = {
      {PXSccpScreening_undefined, "undefined"},
      {PXSccpScreening_explicitlyPermitted, "explicitlyPermitted"},
      {PXSccpScreening_implicitlyPermitted, "implicitlyPermitted"},
      {PXSccpScreening_explicitlyDenied, "explicitlyDenied"},
      {PXSccpScreening_implicitlyDenied, "implicitlyDenied"},
      {PXSccpScreening_errorResult, "errorResult"},
  };
  return px::enumName(v, kNames);
}
}  // namespace px
