#include "px/EnumNames.hpp"
#include "px/tcap/Tcap.hpp"

namespace px {

std::string_view messageTypeName(PXTCAP_MessageType t) {
  static constexpr EnumName<PXTCAP_MessageType> kNames[] = {
      {PXTCAP_MessageType::unidirectional, "unidirectional"},
      {PXTCAP_MessageType::begin, "begin"},
      {PXTCAP_MessageType::end, "end"},
      {PXTCAP_MessageType::continue_, "continue"},
      {PXTCAP_MessageType::abort, "abort"},
  };
  return enumName(t, kNames);
}

std::string_view componentKindName(PXTCAP_ComponentKind k) {
  static constexpr EnumName<PXTCAP_ComponentKind> kNames[] = {
      {PXTCAP_ComponentKind::invoke, "invoke"},
      {PXTCAP_ComponentKind::returnResultLast, "returnResultLast"},
      {PXTCAP_ComponentKind::returnError, "returnError"},
      {PXTCAP_ComponentKind::reject, "reject"},
      {PXTCAP_ComponentKind::returnResultNotLast, "returnResultNotLast"},
  };
  return enumName(k, kNames);
}

std::string_view tcapDamageName(PXTCAP_Damage d) {
  static constexpr EnumName<PXTCAP_Damage> kNames[] = {
      {PXTCAP_Damage::none, "none"},
      {PXTCAP_Damage::messageLength, "messageLength"},
      {PXTCAP_Damage::elementBeforeComponents, "elementBeforeComponents"},
      {PXTCAP_Damage::portionLength, "portionLength"},
      {PXTCAP_Damage::componentFraming, "componentFraming"},
      {PXTCAP_Damage::unknownComponent, "unknownComponent"},
      {PXTCAP_Damage::unreadableComponent, "unreadableComponent"},
      {PXTCAP_Damage::oversizedId, "oversizedId"},
      {PXTCAP_Damage::damagedParameter, "damagedParameter"},
  };
  return enumName(d, kNames);
}

}  // namespace px

PXTCAP_itu_asn1_componentPDU PXTCAP_itu_asn1_componentPDU::invoke(
    std::int64_t operationCode, bool global, std::optional<PXASN1Object> params) {
  PXTCAP_itu_asn1_componentPDU c(PXTCAP_ComponentKind::invoke);
  if (global)
    c.setGlobalOperationCode(operationCode);
  else
    c.setLocalOperationCode(operationCode);
  c.setParams(params);
  return c;
}
