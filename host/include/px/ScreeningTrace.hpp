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
  none,             // nothing applied: undefined
  deniedOperation,  // a denied operation code ended the screening
  calling,
  called,
  tt,
  fsm,
  allowedOperation,  // an allowed operation list permitted (the "op" dimension)
};

namespace px {
constexpr std::string_view deciderName(PXScreeningDecider d) {
  constexpr px::EnumName<PXScreeningDecider> kNames[] = {
      {PXScreeningDecider::none, "none"},
      {PXScreeningDecider::deniedOperation, "deniedOperation"},
      {PXScreeningDecider::calling, "calling"},
      {PXScreeningDecider::called, "called"},
      {PXScreeningDecider::tt, "tt"},
      {PXScreeningDecider::fsm, "fsm"},
      {PXScreeningDecider::allowedOperation, "allowedOperation"},
  };
  return px::enumName(d, kNames, "none");
}
}  // namespace px

struct PXSccpScreeningTrace {
  // Partial verdicts of each dimension's allowed and denied lists. Operations
  // have only the allowed side here: a denied code ends the screening (below).
  PXSccpScreening_result callingAllowed = PXSccpScreening_undefined;
  PXSccpScreening_result callingDenied = PXSccpScreening_undefined;
  PXSccpScreening_result calledAllowed = PXSccpScreening_undefined;
  PXSccpScreening_result calledDenied = PXSccpScreening_undefined;
  PXSccpScreening_result ttAllowed = PXSccpScreening_undefined;
  PXSccpScreening_result ttDenied = PXSccpScreening_undefined;
  PXSccpScreening_result fsmAllowed = PXSccpScreening_undefined;
  PXSccpScreening_result fsmDenied = PXSccpScreening_undefined;
  PXSccpScreening_result opAllowed = PXSccpScreening_undefined;

  // Dimension results of the combination; undefined when it was not reached.
  PXSccpScreening_result callingResult = PXSccpScreening_undefined;
  PXSccpScreening_result calledResult = PXSccpScreening_undefined;
  PXSccpScreening_result ttResult = PXSccpScreening_undefined;
  PXSccpScreening_result opResult = PXSccpScreening_undefined;
  PXSccpScreening_result fsmResult = PXSccpScreening_undefined;

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

// Optional interface of a screening plug-in: the inbound screening with its
// trace. The filter writes every field of the trace (the IMSI digits up to
// imsiLength), so a host may hand in the same trace, uncleared, each time.
class PXSccpScreeningExplainer {
 public:
  virtual ~PXSccpScreeningExplainer();
  virtual PXSccpScreening_result screenSccpPacketInboundExplained(const PXSCCP_Packet* packet,
                                                                  PXErrorRef* err,
                                                                  PXSccpScreeningTrace& trace) = 0;
};
