#include "px/sccp/SccpPacket.hpp"

#include <algorithm>

#include "px/EnumNames.hpp"

bool SccpAddress::setAddress(std::string_view digits) {
  if (digits.size() > kMaxDigits) return false;
  std::copy(digits.begin(), digits.end(), _digits.begin());
  _f.digitCount = static_cast<std::uint32_t>(digits.size());
  _f.hasDigits = true;
  _f.digitsFromBcd = false;
  return true;
}

void PXSCCP_Packet::clear() {
  _calling.clear();
  _called.clear();
  _tcap.clear();
  _data = {};
  _callingBytes = {};
  _segmentation.reset();
  _hopCounter.reset();
  _type = px::SccpMessageType::udt;
  _classOrCause = 0;
  _hasCalling = _hasCalled = _hasTcap = false;
}

namespace px {

std::string_view decodeErrorName(SccpDecodeError e) {
  static constexpr px::EnumName<SccpDecodeError> kNames[] = {
      {SccpDecodeError::none, "none"},
      {SccpDecodeError::empty, "empty"},
      {SccpDecodeError::unsupportedMessageType, "unsupportedMessageType"},
      {SccpDecodeError::truncated, "truncated"},
      {SccpDecodeError::badPointer, "badPointer"},
      {SccpDecodeError::badParameterLength, "badParameterLength"},
      {SccpDecodeError::badCalledPartyAddress, "badCalledPartyAddress"},
      {SccpDecodeError::badCallingPartyAddress, "badCallingPartyAddress"},
      {SccpDecodeError::badOptionalPart, "badOptionalPart"},
  };
  return px::enumName(e, kNames);
}

}  // namespace px
