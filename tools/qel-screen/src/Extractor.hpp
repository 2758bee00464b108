// From a captured frame to the SCCP messages it carries: link layer, IP,
// SCTP (with reassembly), M3UA / M2PA / SUA, MTP2 / MTP3.
#pragma once

#include <cstdint>
#include <span>

#include "Adaptation.hpp"
#include "Bytes.hpp"
#include "FrameSource.hpp"
#include "IpReassembly.hpp"
#include "LinkLayer.hpp"
#include "Origin.hpp"
#include "Sctp.hpp"
#include "SkipReason.hpp"
#include "px/sua/SuaMessage.hpp"

namespace qs {

// One SCCP message found in a frame.
struct SccpUnit {
  // An SCCP message; for SUA, the data its CLDT carries.
  Bytes bytes;
  // For SUA: the message with its addresses converted; nullptr otherwise.
  const px::SuaMessage* sua = nullptr;
  // When the message came in a reassembled IP datagram: the frames of all
  // its fragments, in arrival order (the current frame among them).
  std::span<const std::uint64_t> ipFragmentFrames;
  // When it was reassembled from SCTP fragments: the frames that carried
  // them, in sequence order.
  std::span<const std::uint64_t> sctpFragmentFrames;
  // Time, routing, addresses and ports of the message.
  const MessageOrigin* origin = nullptr;
  // The number of the frame it was found in (that completed it).
  std::uint64_t frame = 0;
};

// Where a frame sits in its capture.
struct FrameInfo {
  std::uint64_t number = 0;
  std::int64_t timeNs = 0;  // capture time; IP reassembly times out on it
  int linkType = -1;        // -1: the capture's, as given to start()
};

class UnitSink {
 public:
  virtual ~UnitSink() = default;
  // `index`: position of the message within its frame, from 0.
  virtual void onUnit(const SccpUnit& unit, std::uint32_t index) = 0;
};

struct ExtractorCounts {
  std::uint64_t frames = 0;
  std::uint64_t framesWithSccp = 0;
  std::uint64_t messages = 0;
  // Frames that gave no SCCP message, by the first reason met in the frame.
  SkipCounts framesWithout;
  // Other losses: parts of frames that also gave messages, fragmented
  // messages dropped or never completed.
  SkipCounts other;

  ExtractorCounts& operator+=(const ExtractorCounts& o) {
    frames += o.frames;
    framesWithSccp += o.framesWithSccp;
    messages += o.messages;
    framesWithout += o.framesWithout;
    other += o.other;
    return *this;
  }
};

class Extractor {
 public:
  explicit Extractor(ReassemblyLimits limits = {}, IpReassemblyLimits ipLimits = {});

  // Starts a capture of the given link type (forgets partial messages).
  void start(int linkType);
  // Hands every SCCP message of the frame to `sink`; returns their number.
  std::uint32_t frame(Bytes bytes, UnitSink& sink, const FrameInfo& info = {});
  // The same for a frame of a FrameSource, with its time (setTime()); an
  // unreadable one is counted as such (unreadableFrame()).
  std::uint32_t frame(const Frame& f, UnitSink& sink);
  // The capture time of the frames that follow.
  void setTime(bool hasTime, std::int64_t timeNs, bool nano) {
    constexpr std::int64_t kNs = 1'000'000'000;
    _origin.hasTime = hasTime;
    _origin.nanoPrecision = nano;
    // Frames come a few per second or more: the second of the last one
    // usually holds this one too, and spares the division.
    if (timeNs < _secondNs ||
        static_cast<std::uint64_t>(timeNs) - static_cast<std::uint64_t>(_secondNs) >= kNs) {
      _origin.seconds = timeNs / kNs - (timeNs % kNs < 0 ? 1 : 0);
      _secondNs = _origin.seconds * kNs;
    }
    _origin.nanoseconds = static_cast<std::uint32_t>(timeNs - _secondNs);
  }
  // Counts a frame that could not even be read as one (a bad hex line).
  void unreadableFrame(Skip why);
  // Ends the capture: messages and datagrams still waiting for fragments are
  // counted lost.
  void finish();

  const ExtractorCounts& counts() const { return _counts; }
  // The last frame carried a part of an IP datagram or SCTP message that is
  // not complete yet (--write may need the frame later).
  bool frameHeldFragment() const { return _heldFragment; }
  const SctpReassembler& reassembler() const { return _reassembler; }
  // True when `view` lies inside storage the extractor owns (reassembly
  // buffers): with the frame itself, the only places a unit may point into.
  // A layer that keeps its own buffer must answer for it here.
  bool owns(Bytes view) const { return _reassembler.owns(view) || _ipReassembler.owns(view); }

  // The common frames (Ethernet carrying IPv4 not fragmented, SCTP DATA
  // chunks carrying M3UA DATA) take shortcuts past the general reading of
  // each layer; they give exactly what it gives. Tests turn them off to
  // compare the two.
  void setShortcuts(bool on) { _shortcuts = on; }

 private:
  void note(Skip s);
  // frame() once the frame's number and time are in _frame.
  std::uint32_t links(Bytes bytes, int linkType, UnitSink& sink);
  void network(Network network, Bytes bytes, UnitSink& sink);
  // IPv4 through the shortcut when it applies, else ip().
  void ipv4Datagram(Bytes bytes, UnitSink& sink);
  void ip(Bytes bytes, bool v6, UnitSink& sink);
  // The chunks of an SCTP packet; the IP addresses are in _origin already.
  void sctp(Bytes packet, UnitSink& sink);
  void sctpUserMessage(std::uint32_t ppid, std::uint16_t srcPort, std::uint16_t dstPort,
                       Bytes message, UnitSink& sink);
  void mtp3(Bytes bytes, UnitSink& sink);
  // One DATA or I-DATA chunk, by the general reading of every layer.
  void dataChunk(const DataChunk& c, std::uint16_t srcPort, std::uint16_t dstPort, UnitSink& sink);
  void emit(Bytes sccp, const px::SuaMessage* sua, UnitSink& sink) {
    ++_counts.messages;
    _unit.bytes = sccp;
    _unit.sua = sua;
    // Here rather than once: the extractor may have been moved since.
    _unit.origin = &_origin;
    sink.onUnit(_unit, _index++);
  }
  // The routing label of `v` (when it has one) becomes the origin; then its
  // SCCP message is emitted, or its skip noted.
  void emitRouted(const View& v, UnitSink& sink);

  MessageOrigin _origin;
  std::int64_t _secondNs = 0;  // _origin.seconds in nanoseconds
  SctpReassembler _reassembler;
  IpReassembler _ipReassembler;
  FrameInfo _frame;
  // The unit handed out, kept between messages: its fragment frames are
  // those of the IP datagram and of the SCTP message being read.
  SccpUnit _unit;
  bool _heldFragment = false;
  px::SuaMessage _sua;
  ExtractorCounts _counts;
  // Frames whose only SCCP was a fragment wait for its message; those whose
  // message never completes are counted as such, not as fragments.
  void settleAbandonedFrames();

  int _linkType = 0;
  bool _shortcuts = true;
  std::uint32_t _index = 0;
  Skip _frameSkip = Skip::none;
  SctpReassembler::Handle _frameFragment;
};

}  // namespace qs
