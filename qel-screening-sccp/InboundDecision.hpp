// The inbound screening decision: a pure function of one rule set and one packet.
#pragma once

#include "RuleSet.hpp"
#include "px/ScreeningTrace.hpp"

class PXSCCP_Packet;

namespace qel {

// The verdict for `packet` under `rules`. With kTrace, `trace` receives every
// partial verdict and the dimension that decided; without, `trace` is unused
// and the decision does no extra work.
template <bool kTrace>
PXSccpScreening_result decideInbound(const RuleSet& rules, const PXSCCP_Packet* packet,
                                     PXSccpScreeningTrace* trace);

extern template PXSccpScreening_result decideInbound<false>(const RuleSet&, const PXSCCP_Packet*,
                                                            PXSccpScreeningTrace*);
extern template PXSccpScreening_result decideInbound<true>(const RuleSet&, const PXSCCP_Packet*,
                                                           PXSccpScreeningTrace*);

}  // namespace qel
