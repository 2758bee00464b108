// What every fuzz target does with a decoding: read every field, and abort
// when a view leaves the input or a decoded value breaks its own rules.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

#include "px/asn1/BerReader.hpp"
#include "px/map/ForwardSM.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/tcap/Tcap.hpp"

namespace fuzzcheck {

inline void require(bool ok) {
  if (!ok) std::abort();
}

inline void inside(std::span<const std::uint8_t> view, std::span<const std::uint8_t> input) {
  if (view.empty()) return;
  require(view.data() >= input.data() && view.data() + view.size() <= input.data() + input.size());
}

// Walks every element below `root` without recursion, to a bounded depth.
inline void walk(std::span<const std::uint8_t> root, std::span<const std::uint8_t> input) {
  constexpr int kDepth = 64;
  px::ber::BerReader stack[kDepth];
  int top = 0;
  stack[0] = px::ber::BerReader(root);
  while (top >= 0) {
    auto e = stack[top].next();
    if (!e) {
      --top;
      continue;
    }
    inside(e->contents(), input);
    if (e->isConstructed()) {
      if (top + 1 < kDepth) stack[++top] = px::ber::BerReader::children(*e);
    } else {
      (void)px::ber::decodeInteger(e->contents());
      (void)px::ber::objectIdentifierLastArc(e->contents());
    }
  }
}

inline void forwardSM(const PXASN1Object* params) {
  const auto mo = PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(params, nullptr);
  const auto mt = PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(params, nullptr);
  require(mo.has_value() == mt.has_value());
  if (!mo) return;
  if (const auto* imsi = mo->sm_RP_DA()->imsi()) {
    const auto digits = *imsi->imsiValue();
    require(!digits.empty() && digits.size() <= PXGSMMAP_IMSI::kMaxDigits);
    for (const char c : digits) require((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
  }
}

inline void tcap(const PXTCAP_itu_asn1_message& m, std::span<const std::uint8_t> input) {
  if (m.otid()) inside(*m.otid(), input);
  if (m.dtid()) inside(*m.dtid(), input);
  const auto* portion = m.componentPortion();
  if (!portion) return;
  if (portion->isDamaged()) require(m.isDamaged());
  for (const auto& c : portion->arrayOfComponents()) {
    require(!(c.hasLocalOperationCode() && c.hasGlobalOperationCode()));
    if (c.kind() == PXTCAP_ComponentKind::returnError)
      require(!c.hasLocalOperationCode() && !c.hasGlobalOperationCode());
    if (c.params()) {
      inside(c.params()->contents(), input);
      walk(c.params()->contents(), input);
    }
    forwardSM(c.params());
  }
}

// `maxPointCode`: 14 bits from SCCP; SUA carries 32 and keeps what fits 16.
inline void address(const SccpAddress* a, std::uint32_t maxPointCode = 0x3FFF) {
  if (!a) return;
  require(a->globalTitleIndicator() <= 15);
  if (a->pointCode()) require(*a->pointCode() <= maxPointCode);
  if (const auto d = a->address()) {
    require(d->size() <= SccpAddress::kMaxDigits);
    for (const char c : *d) require((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
  }
}

}  // namespace fuzzcheck
