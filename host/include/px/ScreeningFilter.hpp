// The SCCP screening filter's operations beyond PXMTP3SCCPScreeningPluginProtocol.
//
// A host that has a PXPlugin from plugin_create reaches them with
// dynamic_cast<PXSccpScreeningFilter*>, as it reaches the screening protocol:
// calls go through the filter's own virtual table, so the module needs no
// exported symbol beyond its five entry points. The key function lives in
// libpxhost, which gives the class one type identity across host and plug-in.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "px/Error.hpp"
#include "px/ScreeningResult.hpp"
#include "px/Value.hpp"

class PXSCCP_Packet;

class PXSccpScreeningFilter {
 public:
  virtual ~PXSccpScreeningFilter();

  // The plug-in's name and a one-line description; constant texts that live
  // as long as the loaded module.
  virtual std::string_view filterName() const = 0;
  virtual std::string_view filterDescription() const = 0;

  // Outbound screening: the answer is always undefined and `err` is left as it is.
  virtual PXSccpScreening_result screenSccpPacketOutbound(const PXSCCP_Packet* packet,
                                                          PXErrorRef* err) = 0;

  // The list matchers: `found` on the first entry that hits, else undefined.
  // An absent number or list never hits.
  virtual PXSccpScreening_result screenNumber(std::optional<std::string_view> number,
                                              const PXListRef& arr,
                                              PXSccpScreening_result found) const = 0;
  virtual PXSccpScreening_result screenTT(std::int32_t number, const PXListRef& arr,
                                          PXSccpScreening_result found) const = 0;
  virtual PXSccpScreening_result screenFSM(std::optional<std::string_view> imsi,
                                           const PXListRef& arr,
                                           PXSccpScreening_result found) const = 0;

  // Per-layer hooks: always undefined, `err` left as it is.
  virtual PXSccpScreening_result screenSccpPacketInboundGsmmap(const PXSCCP_Packet* packet,
                                                               PXErrorRef* err) = 0;
  virtual PXSccpScreening_result screenSccpPacketInboundTcap(const PXSCCP_Packet* packet,
                                                             PXErrorRef* err) = 0;

  // Rule lists: the getter returns the very list the setter stored (never a
  // copy), or null when the field is absent; a list is replaced whole.
  virtual PXListRef allowedCallingSccpPrefixE164() const = 0;
  virtual void setAllowedCallingSccpPrefixE164(PXListRef list) = 0;
  virtual PXListRef allowedCallingSccpPrefixE212() const = 0;
  virtual void setAllowedCallingSccpPrefixE212(PXListRef list) = 0;
  virtual PXListRef allowedCallingSccpPrefixE214() const = 0;
  virtual void setAllowedCallingSccpPrefixE214(PXListRef list) = 0;
  virtual PXListRef allowedCalledSccpPrefixE164() const = 0;
  virtual void setAllowedCalledSccpPrefixE164(PXListRef list) = 0;
  virtual PXListRef allowedCalledSccpPrefixE212() const = 0;
  virtual void setAllowedCalledSccpPrefixE212(PXListRef list) = 0;
  virtual PXListRef allowedCalledSccpPrefixE214() const = 0;
  virtual void setAllowedCalledSccpPrefixE214(PXListRef list) = 0;
  virtual PXListRef deniedCallingSccpPrefixE164() const = 0;
  virtual void setDeniedCallingSccpPrefixE164(PXListRef list) = 0;
  virtual PXListRef deniedCallingSccpPrefixE212() const = 0;
  virtual void setDeniedCallingSccpPrefixE212(PXListRef list) = 0;
  virtual PXListRef deniedCallingSccpPrefixE214() const = 0;
  virtual void setDeniedCallingSccpPrefixE214(PXListRef list) = 0;
  virtual PXListRef deniedCalledSccpPrefixE164() const = 0;
  virtual void setDeniedCalledSccpPrefixE164(PXListRef list) = 0;
  virtual PXListRef deniedCalledSccpPrefixE212() const = 0;
  virtual void setDeniedCalledSccpPrefixE212(PXListRef list) = 0;
  virtual PXListRef deniedCalledSccpPrefixE214() const = 0;
  virtual void setDeniedCalledSccpPrefixE214(PXListRef list) = 0;
  virtual PXListRef allowedTT() const = 0;
  virtual void setAllowedTT(PXListRef list) = 0;
  virtual PXListRef deniedTT() const = 0;
  virtual void setDeniedTT(PXListRef list) = 0;
  virtual PXListRef allowedOP() const = 0;
  virtual void setAllowedOP(PXListRef list) = 0;
  virtual PXListRef deniedOP() const = 0;
  virtual void setDeniedOP(PXListRef list) = 0;
  virtual PXListRef allowedGOP() const = 0;
  virtual void setAllowedGOP(PXListRef list) = 0;
  virtual PXListRef deniedGOP() const = 0;
  virtual void setDeniedGOP(PXListRef list) = 0;
  virtual PXListRef allowedFSM_IMSI_PREFIX() const = 0;
  virtual void setAllowedFSM_IMSI_PREFIX(PXListRef list) = 0;
  virtual PXListRef deniedFSM_IMSI_PREFIX() const = 0;
  virtual void setDeniedFSM_IMSI_PREFIX(PXListRef list) = 0;

  // Default flags: one byte, stored and returned unchanged; non-zero is true.
  virtual std::uint8_t defaultAllowCalling() const = 0;
  virtual void setDefaultAllowCalling(std::uint8_t flag) = 0;
  virtual std::uint8_t defaultDenyCalling() const = 0;
  virtual void setDefaultDenyCalling(std::uint8_t flag) = 0;
  virtual std::uint8_t defaultAllowCalled() const = 0;
  virtual void setDefaultAllowCalled(std::uint8_t flag) = 0;
  virtual std::uint8_t defaultDenyCalled() const = 0;
  virtual void setDefaultDenyCalled(std::uint8_t flag) = 0;
  virtual std::uint8_t defaultAllowTT() const = 0;
  virtual void setDefaultAllowTT(std::uint8_t flag) = 0;
  virtual std::uint8_t defaultDenyTT() const = 0;
  virtual void setDefaultDenyTT(std::uint8_t flag) = 0;
};
