// The SCCP screening filter: one object per plugin_create, holding the rules
// that configuration loading fills and inbound screening reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ListMatch.hpp"
#include "RuleSet.hpp"
#include "RuleSetCell.hpp"
#include "px/Plugin.hpp"
#include "px/ScreeningFilter.hpp"
#include "px/ScreeningTrace.hpp"

class PXSCCP_Packet;

namespace qel {
// The plug-in's constant name, type and version.
inline constexpr const char* kPluginName = "qel-screening-sccp";
inline constexpr const char* kPluginType = "sccp-screening";
inline constexpr const char* kPluginVersion = "2.0.0";
inline constexpr const char* kFilterDescription = "QEL SCCP Screening Filter";
inline constexpr const char* kReportDomain = "QEL-SCCP-SCREENING";
}  // namespace qel

class QelScreeningSCCP : public PXPlugin,
                         public PXMTP3SCCPScreeningPluginProtocol,
                         public PXSccpScreeningExplainer,
                         public PXSccpScreeningFilter {
 public:
  QelScreeningSCCP();
  ~QelScreeningSCCP() override;

  // Base initialisation first; false leaves the object unusable.
  bool init() override;

  std::string_view filterName() const override { return qel::kPluginName; }
  std::string_view filterDescription() const override { return qel::kFilterDescription; }

  // Keeps the name, then reloads from it.
  PXErrorRef loadConfigFromFile(const std::string& fileName) override;
  // Reads the "sccp-screening" group of the named file into the rules and
  // returns the reload report (code 0, "config": the group as JSON).
  PXErrorRef reloadConfig() override;
  // Does nothing: the filter keeps working.
  void close() override;

  PXSccpScreening_result screenSccpPacketInbound(const PXSCCP_Packet* packet,
                                                 PXErrorRef* err) override;
  PXSccpScreening_result screenSccpPacketInboundExplained(const PXSCCP_Packet* packet,
                                                          PXErrorRef* err,
                                                          PXSccpScreeningTrace& trace) override;
  // Outbound and per-layer hooks: always undefined.
  PXSccpScreening_result screenSccpPacketOutbound(const PXSCCP_Packet* packet,
                                                  PXErrorRef* err) override;

  // List matchers for hosts; the decision itself calls the inline qel:: ones.
  PXSccpScreening_result screenNumber(std::optional<std::string_view> number, const PXListRef& arr,
                                      PXSccpScreening_result found) const override;
  PXSccpScreening_result screenTT(std::int32_t number, const PXListRef& arr,
                                  PXSccpScreening_result found) const override;
  PXSccpScreening_result screenFSM(std::optional<std::string_view> imsi, const PXListRef& arr,
                                   PXSccpScreening_result found) const override;

  PXSccpScreening_result screenSccpPacketInboundGsmmap(const PXSCCP_Packet* packet,
                                                       PXErrorRef* err) override;
  PXSccpScreening_result screenSccpPacketInboundTcap(const PXSCCP_Packet* packet,
                                                     PXErrorRef* err) override;

  // Rule accessors: a getter returns the very list that was set, or null.
#define QEL_DECLARE_LIST_ACCESSORS(getter, setter, member) \
  PXListRef getter() const override;                       \
  void setter(PXListRef list) override;
  QEL_RULE_LISTS(QEL_DECLARE_LIST_ACCESSORS)
#undef QEL_DECLARE_LIST_ACCESSORS
#define QEL_DECLARE_FLAG_ACCESSORS(getter, setter, member) \
  std::uint8_t getter() const override;                    \
  void setter(std::uint8_t flag) override;
  QEL_RULE_FLAGS(QEL_DECLARE_FLAG_ACCESSORS)
#undef QEL_DECLARE_FLAG_ACCESSORS

  // For tests: rule sets alive and retired-but-not-yet-freed.
  const qel::RuleSetCell& ruleSetCell() const {
    return _rules;
  }

 protected:
  // The rules, published whole (fields _allowedCallingSccpPrefixE164 ... _defaultDenyTT).
  // The rules and the name of the configuration file (RuleSet::configFileName).
  qel::RuleSetCell _rules;
};
