// The work on one SCCP message of `screen`, `decode` and `diff`: decode it,
// decide its direction, join its segments, screen it, apply --only, write its
// record and its --write selection, and count it for the summary.
//
// One object does it for the single-threaded run and for the writer stage of
// the pipeline (role `whole`); each pipeline worker has one of its own (role
// `worker`), which leaves segments of segmented messages to the writer stage:
// their reassembly and the capture-time expiry of what waits depend on every
// message before them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "CaptureWriter.hpp"
#include "Extractor.hpp"
#include "OutputBuffer.hpp"
#include "PluginHost.hpp"
#include "Records.hpp"
#include "Run.hpp"
#include "RunParts.hpp"
#include "Summary.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sccp/SccpReassembly.hpp"

namespace qs {

// Nanoseconds of capture time, 0 when the message has none.
std::uint64_t nanosecondsOf(const MessageOrigin& o);

class MessageWork : public UnitSink, private px::SccpReassembler::Listener {
 public:
  enum class Role : std::uint8_t { whole, worker };

  // `diff`: the comparison this object counts into (one per worker).
  MessageWork(const RunOptions& options, LoadedPlugin* plugin, Comparison* diff, Role role);

  void onUnit(const SccpUnit& unit, std::uint32_t index) override;

  // Records go into `buffer`; with `flushTo` (whose buffer it is), out in blocks.
  void setOutput(OutputBuffer& buffer, Output* flushTo) {
    _buffer = &buffer;
    _flushTo = flushTo;
  }
  // --write: role `whole` selects frames in the writer; a worker keeps what
  // it selected for the unit just done (selected(), selection()).
  void setWriter(CaptureWriter* writer) { _writer = writer; }
  void setKeepSelections(bool keep) { _keepSelections = keep; }
  void setColour(bool c) { _colour = c; }
  // The capture's name in records, when several are read; null otherwise.
  void setFile(const std::string* file) { _file = file; }

  void beginFrame(std::uint64_t number) {
    _frame = number;
    _frameHeldSegment = false;
  }
  // A segment of the current frame waits for its message (--write keeps the frame).
  bool frameHeldSegment() const { return _frameHeldSegment; }

  // The writer stage, before a message a worker finished: what waited too
  // long by its capture time is given up, as it would have been there.
  void expire(const MessageOrigin* origin) {
    if (origin && origin->hasTime && _segments.pending())
      _segments.expire(nanosecondsOf(*origin), *this);
  }
  // The end of a capture: messages still in reassembly are screened from
  // their first segments.
  void finishSegments() { _segments.finish(*this); }

  // Worker: before each unit.
  void beginUnit() {
    _deferred = false;
    _selected = false;
  }
  // Worker: the last unit was a segment, left for the writer stage.
  bool deferred() const { return _deferred; }
  // Worker with --write: the last unit was selected, with this comment.
  bool selected() const { return _selected; }
  const std::string& selection() const { return _selection; }

  // Worker: the calling prefix of the last unit, for the writer stage to
  // count (addPrefix) in capture order.
  Tally::PrefixCount takePrefix() { return counting().takePrefix(); }
  void addPrefix(Tally::PrefixCount p) { counting().addPrefix(p); }

  // Adds what `other` counted (a worker's counts into the writer stage's).
  void merge(const MessageWork& other);

  const std::array<std::uint64_t, kSlots>& counts() const { return _counts; }
  const Tally& tally() const { return _tally; }
  const px::SccpReassembler& segments() const { return _segments; }
  std::uint64_t denied() const;

 private:
  // What a held segment's record needs once its message is whole.
  struct Held {
    const std::string* file;
    std::uint64_t frame;
    std::uint32_t index;
    std::uint8_t position;
    bool hasOrigin;
    MessageOrigin origin;
    // With --write: the segment's frame and those of its IP/SCTP fragments.
    std::vector<std::uint64_t> frames;
  };

  void keep(std::uint32_t slot, const MessageView& m, std::uint8_t position, const SccpUnit& unit);
  void gaveUp(const px::SccpReassembler::Pending& p, px::SccpGiveUp) override;
  void writeMessage(std::uint32_t slot, std::uint8_t total, const PXSCCP_Packet* packet,
                    bool incomplete);
  Verdict screen(const PXSCCP_Packet* packet);
  bool take(const MessageView& m, const Verdict& v);
  void write(const MessageView& m, Verdict v);
  void select(const SccpUnit& unit, std::string comment);
  bool selecting() const { return _writer || _keepSelections; }
  // The tally a screened message is counted in: diff's changed messages, or all.
  Tally& counting() { return _diff ? _diff->changed : _tally; }
  static std::string comment(const MessageView& m, const Verdict& v);

  const RunOptions& _options;
  LoadedPlugin* _plugin;
  Comparison* _diff;
  Role _role;
  OutputBuffer* _buffer = nullptr;
  Output* _flushTo = nullptr;
  CaptureWriter* _writer = nullptr;
  bool _keepSelections = false;
  Tally _tally;
  PXSCCP_Packet _packet;
  PXSCCP_Packet _joined;
  PXSCCP_Packet _firstOnly;
  px::SccpReassembler _segments;
  // By reassembly slot: the records waiting for their message.
  std::vector<std::vector<Held>> _records;
  PXSccpScreeningTrace _trace;
  Verdict _old;  // diff: the first rule set's verdict
  const std::string* _file = nullptr;
  std::uint64_t _frame = 0;
  bool _frameHeldSegment = false;
  bool _deferred = false;
  bool _selected = false;
  std::string _selection;
  std::array<std::uint64_t, kSlots> _counts{};
  bool _colour = false;
};

}  // namespace qs
