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
  _hopCounter.reset();
  _type = SccpMessageType::udt;
  _classOrCause = 0;
  _hasCalling = _hasCalled = _hasTcap = false;
}
