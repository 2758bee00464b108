// Why a screening gave its verdict: the partial verdicts of one decision.
//
// A filter that implements PXSccpScreeningExplainer fills a trace from the very
// code path that gives the verdict, so a tool that shows it can never disagree
// with the verdict the host gets.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "px/EnumNames.hpp"
#include "px/Error.hpp"
#include "px/ScreeningResult.hpp"

class PXSCCP_Packet;

// The rule dimension that settled a verdict.
enum class PXScreeningDecider : std::uint8_t {
  none,       // nothing applied: undefined
  operation,  // a denied operation code ended the screening
  calling,
  called,
  tt,
  fsm,
  op,
};

namespace px {
constexpr std::string_view deciderName(PXScreeningDecider d) {
  constexpr px::EnumName<PXScreeningDecider> kNames[] = {
      {PXScreeningDecider::none, "none"},       {PXScreeningDecider::operation, "operation"},
      {PXScreeningDecider::calling, "calling"}, {PXScreeningDecider::called, "called"},
      {PXScreeningDecider::tt, "tt"},           {PXScreeningDecider::fsm, "fsm"},
      {PXScreeningDecider::op, "op"},
  };
  return px::enumName(d, kNames, "none");
}
}  // namespace px

struct PXSccpScreeningTrace {
  PXSccpScreening_result calling_allowed = PXSccpScreening_undefined;
  PXSccpScreening_result calling_denied = PXSccpScreening_undefined;
  PXSccpScreening_result called_allowed = PXSccpScreening_undefined;
  PXSccpScreening_result called_denied = PXSccpScreening_undefined;
  PXSccpScreening_result tt_allowed = PXSccpScreening_undefined;
  PXSccpScreening_result tt_denied = PXSccpScreening_undefined;
  PXSccpScreening_result fsm_allowed = PXSccpScreening_undefined;
  PXSccpScreening_result fsm_denied = PXSccpScreening_undefined;
  PXSccpScreening_result op_allowed = PXSccpScreening_undefined;

  // Dimension results of the combination; undefined when it was not reached.
  PXSccpScreening_result calling_result = PXSccpScreening_undefined;
  PXSccpScreening_result called_result = PXSccpScreening_undefined;
  PXSccpScreening_result tt_result = PXSccpScreening_undefined;
  PXSccpScreening_result op_result = PXSccpScreening_undefined;
  PXSccpScreening_result fsm_result = PXSccpScreening_undefined;

  bool walked = false;  // the component walk ran (some operation or IMSI list is configured)
  // When a denied operation code ended the screening: which component, which code.
  std::int32_t deniedComponent = -1;
  std::int64_t deniedOperationCode = 0;
  bool deniedGlobal = false;

  PXScreeningDecider decidedBy = PXScreeningDecider::none;
  PXSccpScreening_result verdict = PXSccpScreening_undefined;

  // The IMSI the IMSI lists were matched against (SM-RP-DA of the last
  // ForwardSM component walked), copied, since the argument it came from does
  // not outlive the screening; absent when the walk read none.
  static constexpr std::size_t kMaxImsiDigits = 64;
  std::array<char, kMaxImsiDigits> imsiDigits;
  std::uint8_t imsiLength = 0;
  bool imsiRead = false;

  std::optional<std::string_view> imsi() const {
    if (!imsiRead) return std::nullopt;
    return std::string_view(imsiDigits.data(), imsiLength);
  }
  void setImsi(std::optional<std::string_view> digits) {
    imsiRead = digits.has_value();
    imsiLength = 0;
    if (!digits) return;
    imsiLength = static_cast<std::uint8_t>(digits->size() < kMaxImsiDigits ? digits->size()
                                                                           : kMaxImsiDigits);
    digits->copy(imsiDigits.data(), imsiLength);
  }
};

// Optional interface of a screening plug-in: the inbound screening with its trace.
class PXSccpScreeningExplainer {
 public:
  virtual ~PXSccpScreeningExplainer();
  virtual PXSccpScreening_result screenSccpPacketInboundExplained(const PXSCCP_Packet* packet,
                                                                  PXErrorRef* err,
                                                                  PXSccpScreeningTrace& trace) = 0;
};
