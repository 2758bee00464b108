// Where one SCCP message came from: capture time, MTP3 / M3UA routing, IP
// addresses and SCTP ports and stream, as far as its layers tell.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace qs {

struct MessageOrigin {
  bool hasTime = false;
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;
  bool nanoPrecision = false;

  // From the MTP3 routing label or the M3UA protocol data; for SUA, the
  // addresses' point codes.
  std::optional<std::uint32_t> opc;
  std::optional<std::uint32_t> dpc;
  std::optional<std::uint8_t> si;

  // 4 or 6 when the message came over IP; IPv4 addresses in the first four octets.
  std::uint8_t ipVersion = 0;
  std::array<std::uint8_t, 16> src{};
  std::array<std::uint8_t, 16> dst{};

  // SCTP, when the message came in a DATA or I-DATA chunk.
  bool sctp = false;
  std::uint16_t sport = 0;
  std::uint16_t dport = 0;
  std::uint16_t stream = 0;

  // What a message inherits from its frame, before its own layers are read.
  void resetLayers() {
    // Assigned empty rather than reset(): reset() tests each first, and this
    // runs for every frame.
    opc = std::optional<std::uint32_t>();
    dpc = std::optional<std::uint32_t>();
    si = std::optional<std::uint8_t>();
    ipVersion = 0;
    sctp = false;
  }
};

}  // namespace qs
