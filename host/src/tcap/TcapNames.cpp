#include "px/tcap/Tcap.hpp"

namespace px {

std::string_view messageTypeName(PXTCAP_MessageType t) {
  switch (t) {
    case PXTCAP_MessageType::unidirectional:
      return "unidirectional";
    case PXTCAP_MessageType::begin:
      return "begin";
    case PXTCAP_MessageType::end:
      return "end";
    case PXTCAP_MessageType::continue_:
      return "continue";
    case PXTCAP_MessageType::abort:
      return "abort";
  }
  return "unknown";
}

std::string_view componentKindName(PXTCAP_ComponentKind k) {
  switch (k) {
    case PXTCAP_ComponentKind::invoke:
      return "invoke";
    case PXTCAP_ComponentKind::returnResultLast:
      return "returnResultLast";
    case PXTCAP_ComponentKind::returnError:
      return "returnError";
    case PXTCAP_ComponentKind::reject:
      return "reject";
    case PXTCAP_ComponentKind::returnResultNotLast:
      return "returnResultNotLast";
  }
  return "unknown";
}

std::string_view tcapDamageName(PXTCAP_Damage d) {
  switch (d) {
    case PXTCAP_Damage::none:
      return "none";
    case PXTCAP_Damage::messageLength:
      return "messageLength";
    case PXTCAP_Damage::elementBeforeComponents:
      return "elementBeforeComponents";
    case PXTCAP_Damage::portionLength:
      return "portionLength";
    case PXTCAP_Damage::componentFraming:
      return "componentFraming";
    case PXTCAP_Damage::unknownComponent:
      return "unknownComponent";
    case PXTCAP_Damage::unreadableComponent:
      return "unreadableComponent";
    case PXTCAP_Damage::oversizedId:
      return "oversizedId";
    case PXTCAP_Damage::damagedParameter:
      return "damagedParameter";
  }
  return "unknown";
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
