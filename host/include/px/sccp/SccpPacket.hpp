// One SCCP connectionless message (ITU-T Q.713 4.10-4.15) as the host hands
// it to screening: its two addresses and, when it carries one, its ITU TCAP
// message.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "px/sccp/SccpAddress.hpp"
#include "px/tcap/Tcap.hpp"

namespace px {

// Q.713 table 1: message type codes of the connectionless messages.
enum class SccpMessageType : std::uint8_t {
  udt = 0x09,
  udts = 0x0A,
  xudt = 0x11,
  xudts = 0x12,
  ludt = 0x13,
  ludts = 0x14,
};

// Why bytes did not decode as an SCCP connectionless message.
enum class SccpDecodeError : std::uint8_t {
  none = 0,
  empty,
  unsupportedMessageType,  // not UDT, UDTS, XUDT, XUDTS, LUDT or LUDTS
  truncated,               // the fixed part or a pointer runs past the end
  badPointer,              // a pointer is zero or points outside the message
  badParameterLength,      // a variable parameter's length runs past the end
  badCalledPartyAddress,
  badCallingPartyAddress,
  badOptionalPart,
};
std::string_view decodeErrorName(SccpDecodeError e);

// Q.713 3.17: the segmentation parameter of an XUDT, XUDTS, LUDT or LUDTS.
struct SccpSegmentation {
  bool first = false;                // F bit: the first segment of its message
  bool inSequence = false;           // C bit: class 1 was requested
  std::uint8_t remaining = 0;        // segments still to come after this one (0-15)
  std::uint32_t localReference = 0;  // 24 bits
};

}  // namespace px

class PXSCCP_Packet {
 public:
  PXSCCP_Packet() = default;

  // Decodes one SCCP message into this packet, reusing its storage. The packet
  // views `bytes` (data, TCAP parameters), which must outlive its use. On an
  // error the packet keeps what could be read before the damage.
  px::SccpDecodeError decode(std::span<const std::uint8_t> bytes);

  // Screened objects: nullptr when the packet has none.
  const SccpAddress* incomingCallingPartyAddress() const {
    return _hasCalling ? &_calling : nullptr;
  }
  const SccpAddress* incomingCalledPartyAddress() const { return _hasCalled ? &_called : nullptr; }
  // The ITU TCAP message, when it is a Begin.
  const PXTCAP_itu_asn1_begin* incomingTcapBegin() const {
    return _hasTcap && _tcap.messageType() == PXTCAP_MessageType::begin ? &_tcap : nullptr;
  }

  // Wire fields.
  px::SccpMessageType messageType() const { return _type; }
  // Protocol class (UDT, XUDT, LUDT) or return cause (the service variants).
  std::uint8_t protocolClassOrCause() const { return _classOrCause; }
  std::optional<std::uint8_t> hopCounter() const { return _hopCounter; }
  // The data parameter, a view of the decoded bytes.
  std::span<const std::uint8_t> data() const { return _data; }
  // The segmentation parameter, when the optional part has a whole one.
  const std::optional<px::SccpSegmentation>& segmentation() const { return _segmentation; }
  // The calling party address parameter as it was on the wire (without its
  // length octet); empty when the message has none or was built, not decoded.
  std::span<const std::uint8_t> callingPartyAddressBytes() const { return _callingBytes; }
  // The ITU TCAP message of any type, or nullptr when the data is none.
  const PXTCAP_itu_asn1_message* tcapMessage() const { return _hasTcap ? &_tcap : nullptr; }

  // Building, for decoders, tests and benchmarks.
  SccpAddress& mutableCallingPartyAddress() { return _hasCalling = true, _calling; }
  SccpAddress& mutableCalledPartyAddress() { return _hasCalled = true, _called; }
  PXTCAP_itu_asn1_message& mutableTcap() { return _hasTcap = true, _tcap; }
  void removeTcap() { _hasTcap = false; }
  void setMessageType(px::SccpMessageType t) { _type = t; }
  void setProtocolClassOrCause(std::uint8_t v) { _classOrCause = v; }
  void setData(std::span<const std::uint8_t> d) { _data = d; }
  // Forgets everything but keeps allocated capacity for the next message.
  void clear();

 private:
  SccpAddress _calling;
  SccpAddress _called;
  PXTCAP_itu_asn1_message _tcap;
  std::span<const std::uint8_t> _data;
  std::span<const std::uint8_t> _callingBytes;
  std::optional<px::SccpSegmentation> _segmentation;
  std::optional<std::uint8_t> _hopCounter;
  px::SccpMessageType _type = px::SccpMessageType::udt;
  std::uint8_t _classOrCause = 0;
  bool _hasCalling = false;
  bool _hasCalled = false;
  bool _hasTcap = false;
};
