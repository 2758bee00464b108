// Where frames come from: a pcap file read with libpcap, a pcapng file (read
// by PcapngReader, so that each interface keeps its link type), standard
// input, or a text file of hex SCCP messages (one per line, '#' comments).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Bytes.hpp"
#include "SkipReason.hpp"

namespace qs {

struct Frame {
  Bytes bytes;
  std::uint64_t number = 0;  // from 1: pcap frame, or hex line number
  std::int64_t timeNs = 0;   // capture time since 1970; 0 for hex
  int linkType = -1;         // -1: the source's linkType()
  // timeNs is a capture time (not a hex line), recorded in nanoseconds
  // rather than microseconds.
  bool hasTime = false;
  bool nanoPrecision = false;
  // Skip::badHex for a hex line that is not hex; the bytes are then empty.
  Skip unreadable = Skip::none;
  // Length on the wire (0: as captured), for writing the frame out again.
  std::uint32_t originalLength = 0;
};

// Lends a source the blocks it reads a file into, so that the frames it hands
// out from them stay where they are after the next call: the pipeline's
// batches point at them instead of copying every message.
class BlockLender {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;

  virtual ~BlockLender() = default;
  // A block of kBlockSize octets to read into; may wait until one is free.
  virtual std::uint8_t* borrow() = 0;
  // `block` is read into no more. What was handed out from it stays valid
  // until the lender is done with it.
  virtual void giveBack(std::uint8_t* block) = 0;
};

class FrameSource {
 public:
  // idle: live input had nothing for a moment (a chance to flush output).
  enum class Next { frame, end, damaged, idle };

  virtual ~FrameSource() = default;

  // Opens `path` ("-": standard input) and recognises its format: pcap or
  // pcapng by its first octets; hex text only when the name ends in .hex or
  // `hex` is set. On failure returns null and sets `error` to the reason
  // (without the file name).
  static std::unique_ptr<FrameSource> open(const std::string& path, std::string& error,
                                           bool hex = false);

  // The pcap link type of the frames; the SCCP link type for hex input. For
  // pcapng, where each frame carries its interface's, the first supported
  // one among the interfaces described before the first frame.
  virtual int linkType() const = 0;
  // Timestamps were recorded to the nanosecond (a nanosecond pcap file).
  virtual bool nanosecond() const { return false; }
  // Live input: frames arrive when they are sent, so output must not wait.
  virtual bool live() const { return false; }
  // The next frame, valid until the next call (see lendBlocks).
  virtual Next next(Frame& frame) = 0;
  // From now on (until called with null) reads into blocks `lender` lends,
  // where it reads in blocks at all: a frame's bytes that lie in a lent block
  // stay valid after the next call. Null: the source reads into its own
  // memory again and gives back what it borrowed.
  virtual void lendBlocks(BlockLender*) {}
  // After Next::damaged: what is wrong, e.g. libpcap's "truncated dump file; ...".
  const std::string& damage() const { return _damage; }
  const std::string& name() const { return _name; }

 protected:
  std::string _name;
  std::string _damage;
};

// Parses one line of a hex file into `out` (cleared first). Blank and
// comment-only lines give false with `isMessage` false; a line with anything
// but hex digit pairs (spaces and ':' between octets allowed) gives false
// with `isMessage` true.
bool parseHexLine(std::string_view line, std::vector<std::uint8_t>& out, bool& isMessage);

}  // namespace qs
