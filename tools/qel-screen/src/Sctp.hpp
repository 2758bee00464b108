// SCTP (RFC 9260, formerly RFC 4960): the DATA and I-DATA chunks of a packet,
// and the reassembly of user messages sent in fragments.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

// RFC 9260 3.2 chunk types; I-DATA from RFC 8260 2.1.
inline constexpr std::uint8_t kChunkData = 0;
inline constexpr std::uint8_t kChunkIData = 64;
// RFC 9260 3.3.1 DATA flags.
inline constexpr std::uint8_t kFlagEnd = 0x01;
inline constexpr std::uint8_t kFlagBegin = 0x02;
inline constexpr std::uint8_t kFlagUnordered = 0x04;

struct DataChunk {
  Bytes userData;
  std::uint32_t tsn = 0;
  std::uint32_t ppid = 0;  // for an I-DATA fragment without B: 0 (its field is the FSN)
  std::uint32_t mid = 0;   // I-DATA message identifier
  std::uint32_t fsn = 0;   // I-DATA fragment sequence number (0 for the first)
  std::uint16_t stream = 0;
  std::uint8_t flags = 0;
  bool idata = false;

  bool begin() const { return flags & kFlagBegin; }
  bool end() const { return flags & kFlagEnd; }
  bool unordered() const { return flags & kFlagUnordered; }
  bool whole() const { return begin() && end(); }
};

struct SctpPacketInfo {
  std::uint16_t srcPort = 0;
  std::uint16_t dstPort = 0;
  int dataChunks = 0;
  // A problem that ended the walk (the chunks before it were delivered).
  Skip skip = Skip::none;
};

// sctpChunks() without a handler for whole chunks: every one goes to onData.
struct NoWholeHandler {
  bool operator()(std::uint32_t, std::uint16_t, Bytes) const { return false; }
};

// Calls onData(const DataChunk&) for every DATA and I-DATA chunk in order.
// A chunk that holds a whole message (B and E set) goes first to
// onWhole(ppid, stream, userData): when that returns true it has taken the
// chunk, and onData does not see it. The hot path reads its messages there
// without a DataChunk being filled in for each.
template <class OnData, class OnWhole = NoWholeHandler>
SctpPacketInfo sctpChunks(Bytes p, OnData&& onData, OnWhole&& onWhole = {}) {
  SctpPacketInfo info;
  // Common header (RFC 9260 3.1): ports, verification tag, checksum.
  if (p.size() < 12) {
    info.skip = Skip::truncated;
    return info;
  }
  info.srcPort = be16(p, 0);
  info.dstPort = be16(p, 2);
  std::size_t at = 12;
  while (at < p.size()) {
    if (p.size() - at < 4) {
      info.skip = Skip::truncated;
      return info;
    }
    // Type, flags and length in one load.
    const std::uint32_t head = be32(p, at);
    const std::uint8_t type = static_cast<std::uint8_t>(head >> 24);
    const std::uint8_t flags = static_cast<std::uint8_t>(head >> 16);
    const std::size_t length = head & 0xFFFFu;
    if (length < 4) {
      info.skip = Skip::badSctp;
      return info;
    }
    if (length > p.size() - at) {
      info.skip = Skip::truncated;
      return info;
    }
    if (type == kChunkData || type == kChunkIData) {
      // RFC 9260 3.3.1 DATA: TSN (4), stream (2), stream sequence (2), PPID (4).
      // RFC 8260 2.1 I-DATA: TSN (4), stream (2), reserved (2), MID (4), PPID or FSN (4).
      const bool idata = type == kChunkIData;
      const std::size_t header = idata ? 20 : 16;
      if (length < header) {
        info.skip = Skip::badSctp;
        return info;
      }
      ++info.dataChunks;
      const Bytes userData(p.data() + at + header, length - header);
      // One call site each, so that the handlers are inlined into the walk.
      // With B set, the PPID is the last field of either header.
      if ((flags & (kFlagBegin | kFlagEnd)) != (kFlagBegin | kFlagEnd) ||
          !onWhole(be32(p, at + header - 4), be16(p, at + 8), userData)) {
        DataChunk c;
        c.flags = flags;
        c.tsn = be32(p, at + 4);
        c.stream = be16(p, at + 8);
        if (idata) {
          c.idata = true;
          c.mid = be32(p, at + 12);
          if (c.begin())
            c.ppid = be32(p, at + 16);
          else
            c.fsn = be32(p, at + 16);
        } else {
          c.ppid = be32(p, at + 12);
        }
        c.userData = userData;
        onData(c);
      }
    }
    // Chunks are padded to four octets; the last one's padding may be missing.
    at += (length + 3) & ~std::size_t{3};
  }
  return info;
}

// One direction of an association plus a stream: fragments of one user
// message all carry the same flow.
struct SctpFlow {
  std::array<std::uint8_t, 16> src{};
  std::array<std::uint8_t, 16> dst{};
  std::uint16_t srcPort = 0;
  std::uint16_t dstPort = 0;
  std::uint16_t stream = 0;
  bool unordered = false;
  bool idata = false;
  std::uint32_t mid = 0;  // I-DATA only: fragments of different messages interleave

  friend bool operator==(const SctpFlow&, const SctpFlow&) = default;
};

// Bounds on what reassembly may hold, so that memory does not grow with the
// capture: fragments that would exceed them are dropped and counted.
struct ReassemblyLimits {
  std::size_t maxMessageBytes = 64 * 1024;  // an M3UA message with an LUDT is far below
  std::size_t maxTotalBytes = 1024 * 1024;
  std::size_t maxPartialMessages = 64;
  // Fragments of one message, and how far apart (in TSN or FSN) the fragments
  // of one message may be: a fragment further from every partial message of
  // its flow starts a message of its own.
  std::size_t maxFragments = 1024;
};

// Fragments are joined by sequence number (TSN for DATA, FSN within a message
// identifier for I-DATA), whatever order they arrive in; a fragment already
// held, or belonging to a message recently completed, is a retransmission and
// leaves the message in progress as it is.
class SctpReassembler {
 public:
  explicit SctpReassembler(ReassemblyLimits limits = {});

  // Names a partial message across add() calls; stale once the message
  // completes or is dropped.
  struct Handle {
    std::uint32_t slot = 0;
    std::uint64_t generation = 0;
  };

  struct Result {
    // none: `message` is complete; sctpFragment: held until its message is
    // complete; sctpDuplicate: a retransmission, ignored.
    Skip skip = Skip::sctpFragment;
    Bytes message;  // valid until the next add() or clear()
    std::uint32_t ppid = 0;
    Handle partial;  // with sctpFragment: the message the fragment waits in
    // With none: the frames whose fragments made up `message`, in sequence
    // order (a frame may appear more than once); valid as long as `message`.
    std::span<const std::uint64_t> frames;
  };

  // Adds one fragment (a chunk that is not both B and E), carried by frame
  // `frame`. Partial messages dropped to make room, or found unable to
  // complete, are counted in `dropped`.
  Result add(const SctpFlow& flow, const DataChunk& chunk, SkipCounts& dropped,
             std::uint64_t frame = 0);

  // A frame whose only SCCP was a fragment of `partial` waits for it: when the
  // message is dropped instead of completed, the frame is counted in
  // abandonedFrames(). False when that message is already gone.
  bool frameWaits(Handle partial);
  // Frames whose message was dropped (or never completed, after clear())
  // since the last call.
  std::uint64_t takeAbandonedFrames() { return std::exchange(_abandonedFrames, 0); }
  bool hasAbandonedFrames() const { return _abandonedFrames != 0; }

  // Partial messages held now.
  std::size_t pending() const;
  std::size_t heldBytes() const { return _totalBytes; }
  // True when `view` lies inside storage the reassembler owns.
  bool owns(Bytes view) const;
  // Forgets every partial message (keeps storage).
  void clear();

 private:
  struct Fragment {
    std::uint32_t seq = 0;
    std::uint32_t offset = 0;  // into Partial::bytes
    std::uint32_t length = 0;
    std::uint64_t frame = 0;  // that carried it (for --write)
  };
  struct Partial {
    SctpFlow flow;
    std::vector<std::uint8_t> bytes;  // fragments in arrival order
    std::vector<Fragment> fragments;
    std::uint64_t lastUse = 0;
    std::uint64_t generation = 0;
    std::uint64_t waitingFrames = 0;
    std::uint32_t lo = 0;  // lowest and highest sequence number held
    std::uint32_t hi = 0;
    std::uint32_t ppid = 0;
    bool hasBegin = false;  // `lo` is the first fragment
    bool hasEnd = false;    // `hi` is the last fragment
    bool inOrder = true;    // `bytes` already in sequence order
    bool used = false;
  };
  // A message completed or dropped: later copies of its fragments are
  // recognised instead of starting a message that would never complete.
  struct Finished {
    SctpFlow flow;
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    bool hasEnd = false;
    bool completed = false;  // else dropped: its later fragments are out of sequence
    bool used = false;
  };

  Partial* partialFor(const SctpFlow& flow, const DataChunk& c, std::uint32_t seq, bool& duplicate);
  Finished* finishedFor(const SctpFlow& flow, std::uint32_t seq, bool begin);
  void remember(const Partial& p, bool completed);
  Partial* freeSlot();
  // Forgets a partial message; `completed` false counts its waiting frames.
  void release(Partial& p, bool completed);
  // Frees the least recently used partial other than `keep`; false when none.
  bool evictOldest(const Partial* keep, SkipCounts& dropped);
  // DATA: partials next to `p` that can no longer complete.
  void dropBlocked(const Partial& p, SkipCounts& dropped);
  Result complete(Partial& p);

  ReassemblyLimits _limits;
  std::vector<Partial> _slots;
  std::vector<Finished> _finished;
  std::size_t _nextFinished = 0;
  std::vector<std::uint8_t> _assembled;
  std::vector<std::uint64_t> _frames;  // of the message last completed
  std::size_t _totalBytes = 0;
  std::size_t _live = 0;  // partial messages held: slots in use
  std::uint64_t _clock = 0;
  std::uint64_t _generation = 0;
  std::uint64_t _abandonedFrames = 0;
};

}  // namespace qs
