#include "InboundDecision.hpp"

#include <array>

#include "ListMatch.hpp"
#include "QelScreeningSCCP.hpp"
#include "px/Maybe.hpp"
#include "px/map/ForwardSM.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qel {

namespace {

constexpr auto kPermitted = PXSccpScreening_explicitlyPermitted;
constexpr auto kDenied = PXSccpScreening_explicitlyDenied;
constexpr auto kUndefined = PXSccpScreening_undefined;

// Q.713 3.4.2.3: nature of address 4 is an international number; numbering
// plans 1 (E.164), 6 (E.212) and 7 (E.214). Other addresses are not screened
// by prefix.
constexpr std::int32_t kInternationalNumber = 4;

[[gnu::always_inline]] inline std::optional<NumberingPlan> screenedPlan(
    const SccpAddress* address) {
  const auto a = px::maybe(address);
  if (a.then(&SccpAddress::nai).then(&SccpNatureOfAddressIndicator::nai) != kInternationalNumber) {
    return std::nullopt;
  }
  switch (a.then(&SccpAddress::npi).then(&SccpNumberPlanIndicator::npi)) {
    case 1:
      return NumberingPlan::e164;
    case 6:
      return NumberingPlan::e212;
    case 7:
      return NumberingPlan::e214;
    default:
      return std::nullopt;
  }
}

struct AddressPartials {
  PXSccpScreening_result allowed = kUndefined;
  PXSccpScreening_result denied = kUndefined;
};

// `r` when the index hits, else undefined.
[[gnu::always_inline]] inline PXSccpScreening_result found(bool hit, PXSccpScreening_result r) {
  return hit ? r : kUndefined;
}
[[gnu::always_inline]] inline PXSccpScreening_result screenPrefix(
    std::optional<std::string_view> value, const PrefixIndex& index, PXSccpScreening_result r) {
  return found(value && index.hits(*value), r);
}

[[gnu::always_inline]] inline AddressPartials screenAddress(const RuleSet& rules,
                                                            const SccpAddress* address,
                                                            const PlanIndexes& allowedLists,
                                                            const PlanIndexes& deniedLists) {
  const auto plan = screenedPlan(address);
  if (!plan) return {};
  const auto digits = address->address();
  const auto i = static_cast<std::size_t>(*plan);
  return {screenPrefix(digits, rules.*allowedLists[i], kPermitted),
          screenPrefix(digits, rules.*deniedLists[i], kDenied)};
}

// Out of line: most messages carry no ForwardSM.
template <class Argument>
[[gnu::noinline]] void screenForwardSM(const RuleSet& rules, const PXASN1Object* params,
                                       AddressPartials& fsm, PXSccpScreeningTrace* trace) {
  // The IMSI text views the argument, which lives to the end of this call.
  const auto argument = Argument::initWithASN1Object(params, nullptr);
  const auto imsi = px::maybe(argument)
                        .then(&Argument::sm_RP_DA)
                        .then(&PXGSMMAP_SM_RP_DA::imsi)
                        .then(&PXGSMMAP_IMSI::imsiValue);
  // Each ForwardSM component replaces what an earlier one found, even without an IMSI.
  fsm.allowed = screenPrefix(imsi, rules._allowedFSM_IMSI_PREFIXIndex, kPermitted);
  fsm.denied = screenPrefix(imsi, rules._deniedFSM_IMSI_PREFIXIndex, kDenied);
  if (trace) trace->setImsi(imsi);
}

struct WalkOutcome {
  AddressPartials fsm;
  PXSccpScreening_result opAllowed = kUndefined;
  // Index of the component whose code was denied, or -1.
  std::int32_t deniedComponent = -1;
  std::int64_t deniedCode = 0;
  bool deniedGlobal = false;
};

// Screens one component's code against a denied and an allowed list: false
// when it is denied (the walk ends there).
[[gnu::always_inline]] inline bool screenCode(const NumberIndex& denied, const NumberIndex& allowed,
                                              std::int64_t code, std::int32_t index, bool global,
                                              WalkOutcome& out) {
  if (denied.hits(code)) {
    out.deniedComponent = index;
    out.deniedCode = code;
    out.deniedGlobal = global;
    return false;
  }
  if (allowed.hits(code)) out.opAllowed = kPermitted;
  return true;
}

// `trace`, when given, receives the IMSI read.
[[gnu::always_inline]] inline WalkOutcome walkComponents(const RuleSet& rules,
                                                         const PXSCCP_Packet* packet,
                                                         PXSccpScreeningTrace* trace) {
  WalkOutcome out;
  const auto components = px::maybe(packet)
                              .then(&PXSCCP_Packet::incomingTcapBegin)
                              .then(&PXTCAP_itu_asn1_begin::componentPortion)
                              .then(&PXTCAP_itu_asn1_componentPortion::arrayOfComponents);
  std::int32_t index = 0;
  for (const PXTCAP_itu_asn1_componentPDU& c : components) {
    const std::int64_t code = c.operationCode();
    px::withForwardSmArgument(code, [&]<class Argument>(std::type_identity<Argument>) {
      screenForwardSM<Argument>(rules, c.params(), out.fsm, trace);
    });
    if (c.hasLocalOperationCode() &&
        !screenCode(rules._deniedOPIndex, rules._allowedOPIndex, code, index, false, out))
      break;
    if (c.hasGlobalOperationCode() &&
        !screenCode(rules._deniedGOPIndex, rules._allowedGOPIndex, code, index, true, out))
      break;
    ++index;
  }
  return out;
}

// Explicit allow, then the deny default, then the allow default.
PXSccpScreening_result dimensionResult(PXSccpScreening_result allowed, std::uint8_t denyDefault,
                                       std::uint8_t allowDefault) {
  if (allowed == kPermitted) return kPermitted;
  if (denyDefault) return PXSccpScreening_implicitlyDenied;
  if (allowDefault) return PXSccpScreening_implicitlyPermitted;
  return kUndefined;
}

}  // namespace

template <bool kTrace>
PXSccpScreening_result decideInbound(const RuleSet& rules, const PXSCCP_Packet* packet,
                                     PXSccpScreeningTrace* trace) {
  const auto finish = [&](PXSccpScreening_result verdict, PXScreeningDecider by) {
    if constexpr (kTrace) {
      trace->verdict = verdict;
      trace->decidedBy = by;
    }
    return verdict;
  };

  if constexpr (kTrace) {
    // Written here only when the screening reaches them: a trace is filled
    // whole, so that a host can hand the same one in for every message.
    trace->callingResult = trace->calledResult = trace->ttResult = trace->opResult =
        trace->fsmResult = kUndefined;
    trace->setImsi(std::nullopt);
  }

  const SccpAddress* calling =
      px::maybe(packet).then(&PXSCCP_Packet::incomingCallingPartyAddress).get();
  const SccpAddress* called =
      px::maybe(packet).then(&PXSCCP_Packet::incomingCalledPartyAddress).get();

  const AddressPartials callingPartials =
      screenAddress(rules, calling, kAllowedCallingLists, kDeniedCallingLists);
  const AddressPartials calledPartials =
      screenAddress(rules, called, kAllowedCalledLists, kDeniedCalledLists);

  const std::int32_t tt =
      px::maybe(called).then(&SccpAddress::tt).then(&SccpTranslationTableNumber::tt);
  const AddressPartials ttPartials{found(rules._allowedTTIndex.hits(tt), kPermitted),
                                   found(rules._deniedTTIndex.hits(tt), kDenied)};

  WalkOutcome walk;
  const bool walked = walkGateOpen(rules);
  if (walked) walk = walkComponents(rules, packet, kTrace ? trace : nullptr);

  if constexpr (kTrace) {
    trace->callingAllowed = callingPartials.allowed;
    trace->callingDenied = callingPartials.denied;
    trace->calledAllowed = calledPartials.allowed;
    trace->calledDenied = calledPartials.denied;
    trace->ttAllowed = ttPartials.allowed;
    trace->ttDenied = ttPartials.denied;
    trace->fsmAllowed = walk.fsm.allowed;
    trace->fsmDenied = walk.fsm.denied;
    trace->opAllowed = walk.opAllowed;
    trace->walked = walked;
    trace->deniedComponent = walk.deniedComponent;
    trace->deniedOperationCode = walk.deniedCode;
    trace->deniedGlobal = walk.deniedGlobal;
  }
  if (walk.deniedComponent >= 0) return finish(kDenied, PXScreeningDecider::deniedOperation);

  if (callingPartials.denied == kDenied) return finish(kDenied, PXScreeningDecider::calling);
  if (calledPartials.denied == kDenied) return finish(kDenied, PXScreeningDecider::called);
  if (ttPartials.denied == kDenied) return finish(kDenied, PXScreeningDecider::tt);
  if (walk.fsm.denied == kDenied) return finish(kDenied, PXScreeningDecider::fsm);

  const std::array<std::pair<PXSccpScreening_result, PXScreeningDecider>, 5> results = {{
      {dimensionResult(callingPartials.allowed, rules._defaultDenyCalling,
                       rules._defaultAllowCalling),
       PXScreeningDecider::calling},
      {dimensionResult(calledPartials.allowed, rules._defaultDenyCalled, rules._defaultAllowCalled),
       PXScreeningDecider::called},
      {dimensionResult(ttPartials.allowed, rules._defaultDenyTT, rules._defaultAllowTT),
       PXScreeningDecider::tt},
      {walk.opAllowed == kPermitted ? kPermitted : kUndefined,
       PXScreeningDecider::allowedOperation},
      {walk.fsm.allowed == kPermitted ? kPermitted : kUndefined, PXScreeningDecider::fsm},
  }};
  if constexpr (kTrace) {
    trace->callingResult = results[0].first;
    trace->calledResult = results[1].first;
    trace->ttResult = results[2].first;
    trace->opResult = results[3].first;
    trace->fsmResult = results[4].first;
  }

  for (std::size_t i = 0; i < 3; ++i) {
    if (results[i].first == PXSccpScreening_implicitlyDenied) {
      return finish(PXSccpScreening_implicitlyDenied, results[i].second);
    }
  }
  // The greatest of the five; implicitlyPermitted (2) outranks explicitlyPermitted (1).
  auto best = std::pair{kUndefined, PXScreeningDecider::none};
  for (const auto& r : results) {
    if (r.first > best.first) best = r;
  }
  return finish(best.first, best.second);
}

template PXSccpScreening_result decideInbound<false>(const RuleSet&, const PXSCCP_Packet*,
                                                     PXSccpScreeningTrace*);
template PXSccpScreening_result decideInbound<true>(const RuleSet&, const PXSCCP_Packet*,
                                                    PXSccpScreeningTrace*);

}  // namespace qel
