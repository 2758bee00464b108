// Reassembly of segmented SCCP connectionless messages (XUDT, XUDTS, LUDT,
// LUDTS; ITU-T Q.714 4.1.1.3), so that screening sees the whole message.
//
// Segments belong together by calling party address, segmentation local
// reference and originating point code. The first segment announces how many
// follow; each later one must carry the next lower remaining count. Memory is
// bounded: a fixed number of messages in reassembly, at most 16 segments and
// kMaxMessageOctets of data each, and a message that waits longer than the
// age limit (in the caller's clock, e.g. capture time) is given up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "px/sccp/SccpPacket.hpp"

namespace px {

// Why a message left reassembly without being completed.
enum class SccpGiveUp : std::uint8_t {
  outOfOrder,      // a later segment skipped one (lost or reordered)
  duplicate,       // a later segment repeated the previous one
  countMismatch,   // a later segment announced more remaining than the message can have
  restarted,       // a new first segment arrived for the same reference
  noFirstSegment,  // a later segment for which no first segment is waiting
  timeout,         // waited longer than the age limit
  capacity,        // the oldest message made room for a new one
  tooLong,         // the joined data would exceed kMaxMessageOctets
  finished,        // still waiting when the input ended
};
inline constexpr std::size_t kSccpGiveUpReasons = 9;
std::string_view sccpGiveUpName(SccpGiveUp r);

struct SccpReassemblyLimits {
  std::size_t maxMessages = 1024;
  // Nanoseconds of the caller's clock.
  std::uint64_t maxAgeNs = 10'000'000'000ull;
};

class SccpReassembler {
 public:
  // 16 segments fit the remaining count's 4 bits.
  static constexpr std::size_t kMaxSegments = 16;
  // More than the 16 * 3952 octets Q.714 lets a message have in segments.
  static constexpr std::size_t kMaxMessageOctets = 1 << 16;

  // A message in reassembly. `slot` (below maxMessages) names it from its
  // first segment until it completes or is given up, so that a caller can
  // keep its own per-segment data beside it.
  struct Pending {
    std::uint32_t slot = 0;
    std::uint8_t total = 0;     // segments announced by the first one
    std::uint8_t received = 0;  // segments joined so far
    // The first segment as it arrived (its addresses and type are the message's).
    std::span<const std::uint8_t> firstSegment() const { return first; }
    std::vector<std::uint8_t> first;
    std::vector<std::uint8_t> data;
    std::uint64_t startNs = 0;
    std::uint32_t opc = 0;
    std::uint32_t reference = 0;
    std::uint64_t generation = 0;
    bool inUse = false;
  };

  // Told about every message given up, before its slot is reused.
  class Listener {
   public:
    virtual ~Listener();
    virtual void gaveUp(const Pending& message, SccpGiveUp why) = 0;
  };

  enum class Status : std::uint8_t {
    unsegmented,  // no segmentation parameter, or a single segment: use the packet as it is
    held,         // kept; `slot` names its message
    complete,     // the last segment: `joined` holds the whole message, `slot` its message
    alone,        // a later segment that belongs to no message (given up: noFirstSegment)
  };
  struct Result {
    Status status = Status::unsegmented;
    std::uint32_t slot = 0;
    std::uint8_t position = 0;  // 1-based position of this segment
    std::uint8_t total = 0;     // segments of its message
  };

  explicit SccpReassembler(SccpReassemblyLimits limits = {});
  ~SccpReassembler();
  SccpReassembler(const SccpReassembler&) = delete;
  SccpReassembler& operator=(const SccpReassembler&) = delete;

  // Offers one decoded message; `bytes` are those `packet` was decoded from.
  // On `complete`, `joined` is filled from the first segment's addresses and
  // type and the joined data (decoded as TCAP); it views storage that stays
  // valid until the next call. Messages older than the age limit at `nowNs`
  // are given up first. `opc`: the originating point code, 0 when unknown.
  Result add(const PXSCCP_Packet& packet, std::span<const std::uint8_t> bytes, std::uint32_t opc,
             std::uint64_t nowNs, PXSCCP_Packet& joined, Listener& listener);

  // Gives up every message still waiting (reason `finished`).
  void finish(Listener& listener);
  // Gives up the messages older than the age limit at `nowNs`.
  void expire(std::uint64_t nowNs, Listener& listener);

  std::size_t pending() const { return _byKey.size(); }
  std::uint64_t completed() const { return _completed; }
  std::uint64_t gaveUp(SccpGiveUp r) const { return _gaveUp[static_cast<std::size_t>(r)]; }
  const Pending& message(std::uint32_t slot) const { return _slots[slot]; }

 private:
  void giveUp(Pending& p, SccpGiveUp why, Listener& listener);
  static std::string key(std::span<const std::uint8_t> calling, std::uint32_t reference,
                         std::uint32_t opc);

  SccpReassemblyLimits _limits;
  std::vector<Pending> _slots;
  std::vector<std::uint32_t> _free;
  // Slots and generations in the order their first segments arrived, the
  // oldest in front; entries of slots since reused are skipped.
  std::deque<std::pair<std::uint32_t, std::uint64_t>> _order;
  std::unordered_map<std::string, std::uint32_t> _byKey;
  std::vector<std::string> _keyOf;
  // The last joined message, which `joined` views.
  std::vector<std::uint8_t> _joinedData;
  std::vector<std::uint8_t> _joinedFirst;
  std::uint64_t _completed = 0;
  std::uint64_t _gaveUp[kSccpGiveUpReasons] = {};
};

}  // namespace px
