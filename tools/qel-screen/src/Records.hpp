// The output records of `screen` and `decode`, as JSON lines or as text for
// a terminal. Each function appends to a buffer that the caller flushes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Origin.hpp"
#include "OutputBuffer.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qs {

// The IMSI in the SM-RP-DA of the last MO- or MT-ForwardSM component
// (operation code 44 or 46, whatever the component's kind or code form).
class ImsiText {
 public:
  // Longer IMSIs are cut (an IMSI has at most 15 digits).
  static constexpr std::size_t kMaxDigits = 64;

  std::optional<std::string_view> get() const {
    if (!_present) return std::nullopt;
    return std::string_view(_digits.data(), _length);
  }
  void set(std::optional<std::string_view> digits);

 private:
  std::array<char, kMaxDigits> _digits;  // the first _length are set
  std::uint8_t _length = 0;
  bool _present = false;
};

// The IMSI of one component, when it is a ForwardSM with one.
std::optional<std::string_view> forwardSmImsi(const PXTCAP_itu_asn1_componentPDU& c,
                                              ImsiText& storage);

// One SCCP message as the writers see it.
struct MessageView {
  const std::string* file = nullptr;  // set when several captures are read
  std::uint64_t frame = 0;
  std::uint32_t index = 0;
  // The decoded packet; null when no packet could be formed.
  const PXSCCP_Packet* packet = nullptr;
  bool sua = false;
  // The decoder's complaint, when the bytes were damaged.
  std::optional<std::string_view> error;
  // The SCCP message was sound but its TCAP message was read only in part:
  // screening saw the components that could be read.
  bool tcapDamaged = false;
  // Time, routing and transport of the message; null when unknown.
  const MessageOrigin* origin = nullptr;
  // screen only: whether the message arrives at the home network.
  enum class Direction : std::uint8_t { none, inbound, outbound } direction = Direction::none;
  // A segment of a segmented message: its 1-based position and the count
  // (0 when unknown); 0 for an unsegmented message.
  std::uint8_t segment = 0;
  std::uint8_t segments = 0;
  // The message could not be reassembled: the fields are its first segment's alone.
  bool incomplete = false;
};

// The error of a message whose TCAP portion is damaged.
inline constexpr std::string_view kTcapDamagedError = "damagedTcap";

struct Verdict {
  bool screened = false;  // false when there was no packet to screen
  std::int32_t code = 0;
  const PXSccpScreeningTrace* trace = nullptr;  // with --explain
  // The IMSI screening read (from its trace), if any.
  std::optional<std::string_view> imsi;
  // `diff`: the verdict of the old rules (this one is the new rules').
  const Verdict* before = nullptr;
};

// The WHY column: "by operation 71 (component 0)", ...
std::string whyText(const PXSccpScreeningTrace& t, bool tcapDamaged = false);

// The keys "time", "opc", "dpc", "si", "src", "dst", "sport", "dport",
// "stream" (each after a comma), as far as the origin has them. At most
// kOriginJsonMax bytes.
inline constexpr std::size_t kOriginJsonMax = 256;
char* originJson(char* w, const MessageOrigin* origin);

// Local operation codes with their MAP names, ',' between components; `g`
// marks a global code (never named).
char* operationsText(char* w, const PXTCAP_itu_asn1_componentPortion* cp);

// "UDT", "XUDT", ...; "CLDT" for SUA.
std::string_view messageTypeText(const MessageView& m);

void appendScreenJson(OutputBuffer& out, const MessageView& m, const Verdict& v);
void appendScreenTextHeader(OutputBuffer& out, bool explain);
void appendScreenText(OutputBuffer& out, const MessageView& m, const Verdict& v, bool colour);

void appendDecodeJson(OutputBuffer& out, const MessageView& m);
void appendDecodeText(OutputBuffer& out, const MessageView& m);

// A file heading between the records of several captures (text formats).
void appendFileHeading(OutputBuffer& out, std::string_view file);

}  // namespace qs
