#include "QelScreeningSCCP.hpp"

#include "InboundDecision.hpp"
#include "ListMatch.hpp"

QelScreeningSCCP::QelScreeningSCCP() = default;
QelScreeningSCCP::~QelScreeningSCCP() = default;

bool QelScreeningSCCP::init() {
  return PXPlugin::init();
}

void QelScreeningSCCP::close() {}

PXSccpScreening_result QelScreeningSCCP::screenSccpPacketInbound(const PXSCCP_Packet* packet,
                                                                 PXErrorRef*) {
  auto rules = _rules.read();
  return qel::decideInbound<false>(*rules, packet, nullptr);
}

PXSccpScreening_result QelScreeningSCCP::screenSccpPacketInboundExplained(
    const PXSCCP_Packet* packet, PXErrorRef*, PXSccpScreeningTrace& trace) {
  auto rules = _rules.read();
  return qel::decideInbound<true>(*rules, packet, &trace);
}

PXSccpScreening_result QelScreeningSCCP::screenSccpPacketOutbound(const PXSCCP_Packet*,
                                                                  PXErrorRef*) {
  return PXSccpScreening_undefined;
}

PXSccpScreening_result QelScreeningSCCP::screenNumber(std::optional<std::string_view> number,
                                                      const PXListRef& arr,
                                                      PXSccpScreening_result found) const {
  return qel::screenNumber(number, arr, found);
}

PXSccpScreening_result QelScreeningSCCP::screenTT(std::int32_t number, const PXListRef& arr,
                                                  PXSccpScreening_result found) const {
  return qel::screenTT(number, arr, found);
}

PXSccpScreening_result QelScreeningSCCP::screenFSM(std::optional<std::string_view> imsi,
                                                   const PXListRef& arr,
                                                   PXSccpScreening_result found) const {
  return qel::screenFSM(imsi, arr, found);
}

PXSccpScreening_result QelScreeningSCCP::screenSccpPacketInboundGsmmap(const PXSCCP_Packet*,
                                                                       PXErrorRef*) {
  return PXSccpScreening_undefined;
}

PXSccpScreening_result QelScreeningSCCP::screenSccpPacketInboundTcap(const PXSCCP_Packet*,
                                                                     PXErrorRef*) {
  return PXSccpScreening_undefined;
}

#define QEL_DEFINE_LIST_ACCESSORS(getter, setter, member)     \
  PXListRef QelScreeningSCCP::getter() const {                \
    return _rules.read()->member;                             \
  }                                                           \
  void QelScreeningSCCP::setter(PXListRef list) {             \
    _rules.update([&](qel::RuleSet& r) { r.member = list; }); \
  }
QEL_RULE_LISTS(QEL_DEFINE_LIST_ACCESSORS)
#undef QEL_DEFINE_LIST_ACCESSORS

#define QEL_DEFINE_FLAG_ACCESSORS(getter, setter, member)     \
  std::uint8_t QelScreeningSCCP::getter() const {             \
    return _rules.read()->member;                             \
  }                                                           \
  void QelScreeningSCCP::setter(std::uint8_t flag) {          \
    _rules.update([&](qel::RuleSet& r) { r.member = flag; }); \
  }
QEL_RULE_FLAGS(QEL_DEFINE_FLAG_ACCESSORS)
#undef QEL_DEFINE_FLAG_ACCESSORS
