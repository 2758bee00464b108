// Verdicts of SCCP screening. The numbers are part of the host interface:
// permits are positive, denials negative, and verdicts are combined by value.
#pragma once

#include <cstdint>
#include <string_view>

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
constexpr std::string_view verdictName(std::int32_t v) {
  switch (v) {
    case PXSccpScreening_undefined: return "undefined";
    case PXSccpScreening_explicitlyPermitted: return "explicitlyPermitted";
    case PXSccpScreening_implicitlyPermitted: return "implicitlyPermitted";
    case PXSccpScreening_explicitlyDenied: return "explicitlyDenied";
    case PXSccpScreening_implicitlyDenied: return "implicitlyDenied";
    case PXSccpScreening_errorResult: return "errorResult";
    default: return "unknown";
  }
}
