// SUA connectionless data (RFC 3868 3.3.1): its addresses converted into the
// SCCP addresses screening reads, and its data.
#pragma once

#include <cstdint>

#include "Bytes.hpp"
#include "SkipReason.hpp"
#include "px/sccp/SccpAddress.hpp"

namespace qs {

struct SuaMessage {
  SccpAddress calling;  // from the Source Address parameter
  SccpAddress called;   // from the Destination Address parameter
  Bytes data;           // the Data parameter: what SCCP would carry as its data
  std::uint8_t protocolClass = 0;
};

// Why an address parameter did not convert.
enum class SuaAddressError : std::uint8_t { none, truncated, badParameter, badDigits };

// Converts the value of a Source or Destination Address parameter (RFC 3868
// 3.10.2): routing indicator, address indicator, then GT / PC / SSN
// parameters.
SuaAddressError suaAddress(Bytes value, SccpAddress& out);

// Skip::none when `message` is a CLDT with both addresses and data.
Skip suaCldt(Bytes message, SuaMessage& out);

}  // namespace qs
