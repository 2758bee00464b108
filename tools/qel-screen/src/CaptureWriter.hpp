// --write: the frames that hold selected messages, copied into a new capture
// with their original timestamps, link type and bytes. Classic pcap goes
// through libpcap's dump functions; pcapng (which libpcap cannot write) is
// written block by block here, so that every frame can carry a comment naming
// its messages, their verdicts and why.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FrameSource.hpp"

namespace qs {

class CaptureWriter {
 public:
  virtual ~CaptureWriter() = default;

  // pcapng when `path` ends in .pcapng, classic pcap otherwise (with
  // nanosecond timestamps when `nanosecond`; pcap holds one link type,
  // `linkType`). Null with `error` set when the file cannot be created.
  static std::unique_ptr<CaptureWriter> open(const std::string& path, int linkType, bool nanosecond,
                                             std::string& error);
  // Whether a file of this name would be pcapng (several link types fit).
  static bool isPcapng(std::string_view path);

  // The frame whose messages come next. Its bytes must stay valid until
  // endFrame().
  void beginFrame(int linkType, const Frame& frame);
  // A message of the current frame was selected. `frames` lists the frames
  // that fed it when it was reassembled (the current one may be among them),
  // one list per layer that reassembles (IP, SCTP); they are written too.
  // `comment` says what was decided (pcapng only).
  void select(std::initializer_list<std::span<const std::uint64_t>> frames,
              std::string_view comment);
  // A message reassembled from SCCP segments was selected: `frames` are the
  // frames of one of its segments (the current one among them or not), each
  // written with `comment`. Unlike select(), the current frame is written only
  // when it is listed.
  void selectFrames(std::span<const std::uint64_t> frames, std::string_view comment);
  // Writes the held frames selected outside any frame (messages given up at
  // the end of a capture).
  void writeSelectedHeld();
  // A new capture: its frame numbers start again, so nothing held before
  // can be asked for.
  void newSource();
  // Writes the frame if a message selected it. `keep`: it carries part of a
  // message still being reassembled, so it may have to be written later.
  void endFrame(bool keep);
  // Flushes; false (with `error()`) when writing failed at any point.
  bool close();
  const std::string& error() const { return _error; }

  std::uint64_t framesWritten() const { return _written; }
  // Fragment frames needed by a selected message but no longer held.
  std::uint64_t framesLost() const { return _lost; }

  // Frames held for messages still in reassembly are bounded.
  static constexpr std::size_t kMaxHeldFrames = 4096;
  static constexpr std::size_t kMaxHeldBytes = 8u << 20;

 protected:
  struct Stored {
    int linkType = 0;
    std::uint64_t number = 0;
    std::int64_t timeNs = 0;
    std::uint32_t originalLength = 0;
  };
  virtual void write(const Stored& header, Bytes bytes, std::string_view comment) = 0;
  virtual bool finish() = 0;
  void fail(std::string why) {
    if (_error.empty()) _error = std::move(why);
  }

  std::string _path;

 private:
  struct Held {
    Stored header;
    std::vector<std::uint8_t> bytes;
    bool written = false;
  };
  Held* held(std::uint64_t number);

  struct Needed {
    std::uint64_t number;
    std::string comment;
  };
  void writeNeeded();

  Stored _current;
  Bytes _currentBytes;
  bool _inFrame = false;
  bool _currentSelected = false;
  std::string _comment;
  std::vector<Needed> _needed;
  std::deque<Held> _held;
  std::size_t _heldBytes = 0;
  std::uint64_t _written = 0;
  std::uint64_t _lost = 0;
  std::string _error;
};

}  // namespace qs
