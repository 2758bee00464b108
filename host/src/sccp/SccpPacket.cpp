#include "px/sccp/SccpPacket.hpp"

#include <algorithm>

bool SccpAddress::setAddress(std::string_view digits) {
  if (digits.size() > kMaxDigits) return false;
  std::copy(digits.begin(), digits.end(), _digits.begin());
  _digitCount = static_cast<std::uint16_t>(digits.size());
  _hasDigits = true;
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
  _type = SccpMessageType::udt;
  _classOrCause = 0;
  _hasCalling = _hasCalled = _hasTcap = false;
}

std::string_view decodeErrorName(SccpDecodeError e) {
  switch (e) {
    case SccpDecodeError::none: return "none";
    case SccpDecodeError::empty: return "empty";
    case SccpDecodeError::unsupportedMessageType: return "unsupportedMessageType";
    case SccpDecodeError::truncated: return "truncated";
    case SccpDecodeError::badPointer: return "badPointer";
    case SccpDecodeError::badParameterLength: return "badParameterLength";
    case SccpDecodeError::badCalledPartyAddress: return "badCalledPartyAddress";
    case SccpDecodeError::badCallingPartyAddress: return "badCallingPartyAddress";
    case SccpDecodeError::badOptionalPart: return "badOptionalPart";
  }
  return "unknown";
}
