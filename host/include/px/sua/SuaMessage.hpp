// SUA connectionless data (RFC 3868 3.3.1): its addresses converted into the
// SCCP addresses screening reads, and its data, so that a node that speaks SUA
// screens it as the SCCP message it replaces.
#pragma once

#include <cstdint>
#include <span>

#include "px/sccp/SccpAddress.hpp"

class PXSCCP_Packet;

namespace px {

struct SuaMessage {
  SccpAddress calling;                 // from the Source Address parameter
  SccpAddress called;                  // from the Destination Address parameter
  std::span<const std::uint8_t> data;  // the Data parameter: what SCCP would carry as its data
  std::uint8_t protocolClass = 0;
};

// Why bytes did not decode as a SUA CLDT.
enum class SuaDecodeError : std::uint8_t {
  none = 0,
  truncated,  // shorter than its common header or its stated length
  notCldt,    // a SUA message of another class or type
  malformed,  // bad version, length or parameter; a missing or repeated address or data
};

// Why an address parameter did not convert.
enum class SuaAddressError : std::uint8_t { none, truncated, badParameter, badDigits };

// Converts the value of a Source or Destination Address parameter (RFC 3868
// 3.10.2): routing indicator, address indicator, then GT / PC / SSN
// parameters.
SuaAddressError suaAddress(std::span<const std::uint8_t> value, SccpAddress& out);

// SuaDecodeError::none when `message` is a CLDT with both addresses and data.
// `out` views `message`, which must outlive its use.
SuaDecodeError suaCldt(std::span<const std::uint8_t> message, SuaMessage& out);

// Fills a packet from a SUA CLDT, the way the SCCP decoder fills it from a UDT.
void packetFromSua(PXSCCP_Packet& packet, const SuaMessage& sua);

}  // namespace px
