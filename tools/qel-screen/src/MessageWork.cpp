#include "MessageWork.hpp"

#include <fmt/format.h>

#include <utility>

#include "px/Plugin.hpp"
#include "px/sua/SuaMessage.hpp"

namespace qs {

using px::SccpDecodeError;
using px::SccpGiveUp;
using px::SccpReassembler;
using px::SccpReassemblyLimits;

namespace {

// A worker never joins segments: its reassembler only answers pending().
SccpReassemblyLimits limitsFor(MessageWork::Role role, SccpReassemblyLimits limits) {
  if (role == MessageWork::Role::worker) limits.maxMessages = 1;
  return limits;
}

}  // namespace

std::uint64_t nanosecondsOf(const MessageOrigin& o) {
  if (!o.hasTime || o.seconds < 0) return 0;
  return static_cast<std::uint64_t>(o.seconds) * 1'000'000'000ull + o.nanoseconds;
}

MessageWork::MessageWork(const RunOptions& options, LoadedPlugin* plugin, Comparison* diff,
                         Role role)
    : _options(options),
      _plugin(plugin),
      _diff(diff),
      _role(role),
      _tally(options.prefixDigits),
      _segments(limitsFor(role, options.segmentLimits)) {
  if (role == Role::whole) _records.resize(options.segmentLimits.maxMessages);
  if (role == Role::worker) counting().leavePrefixes();
}

void MessageWork::onUnit(const SccpUnit& unit, std::uint32_t index) {
  MessageView m;
  m.file = _file;
  m.frame = _frame;
  m.index = index;
  m.sua = unit.sua != nullptr;
  m.origin = unit.origin;
  SccpDecodeError e = SccpDecodeError::none;
  if (unit.sua)
    px::packetFromSua(_packet, *unit.sua);
  else
    e = _packet.decode(unit.bytes);
  if (e == SccpDecodeError::none && !unit.sua && _packet.segmentation() && _role == Role::worker) {
    // Whether it is joined, held or given up depends on the messages before
    // it: the writer stage does all of it, in capture order.
    _deferred = true;
    return;
  }
  if (e != SccpDecodeError::none) {
    m.error = px::decodeErrorName(e);
  } else if (const auto* tcap = _packet.tcapMessage(); tcap && tcap->isDamaged()) {
    // A sound SCCP message whose TCAP could be read only in part is as
    // undecodable as a damaged SCCP message: screening saw less than was sent.
    m.error = kTcapDamagedError;
    m.tcapDamaged = true;
  }
  if (m.error) ++_counts[kSlotUndecodable];
  if (packetFormed(e)) m.packet = &_packet;
  // Waiting messages time out in capture time, whatever traffic follows.
  if (m.origin && m.origin->hasTime && _segments.pending())
    _segments.expire(nanosecondsOf(*m.origin), *this);

  if (_plugin) {
    const bool inbound =
        _options.home.everything() || (m.origin && _options.home.inbound(*m.origin, m.packet));
    m.direction = inbound ? MessageView::Direction::inbound : MessageView::Direction::outbound;
    if (!inbound) {
      // A node is not asked about what it sends.
      ++_counts[kSlotOutbound];
      _tally.addOutbound();
      if (_diff || !_options.only.selects(false, 0, m.error.has_value(), true)) return;
      if (selecting()) select(unit, fmt::format("message {}: outbound (not screened)", m.index));
      write(m, Verdict{});
      return;
    }
  }

  if (e == SccpDecodeError::none && !unit.sua && _packet.segmentation()) {
    const MessageOrigin none;
    const MessageOrigin& o = m.origin ? *m.origin : none;
    auto r =
        _segments.add(_packet, unit.bytes, o.opc.value_or(0), nanosecondsOf(o), _joined, *this);
    switch (r.status) {
      case SccpReassembler::Status::unsegmented:
        break;
      case SccpReassembler::Status::held:
        keep(r.slot, m, r.position, unit);
        _frameHeldSegment = true;
        return;
      case SccpReassembler::Status::complete: {
        keep(r.slot, m, r.position, unit);
        writeMessage(r.slot, r.total, &_joined, false);
        return;
      }
      case SccpReassembler::Status::alone:
        // A later segment without its message: screened by itself.
        m.incomplete = true;
        m.segment = static_cast<std::uint8_t>(0);
        break;
    }
  }
  Verdict v = screen(m.packet);
  if (!take(m, v)) return;
  if (selecting()) select(unit, comment(m, v));
  write(m, v);
}

void MessageWork::keep(std::uint32_t slot, const MessageView& m, std::uint8_t position,
                       const SccpUnit& unit) {
  auto& list = _records[slot];
  if (position == 1) list.clear();
  Held h{m.file,
         m.frame,
         m.index,
         position,
         m.origin != nullptr,
         m.origin ? *m.origin : MessageOrigin{},
         {}};
  if (_writer) {
    h.frames.push_back(m.frame);
    h.frames.insert(h.frames.end(), unit.ipFragmentFrames.begin(), unit.ipFragmentFrames.end());
    h.frames.insert(h.frames.end(), unit.sctpFragmentFrames.begin(), unit.sctpFragmentFrames.end());
  }
  list.push_back(std::move(h));
}

void MessageWork::gaveUp(const SccpReassembler::Pending& p, SccpGiveUp) {
  // The first segment decodes as it did on arrival.
  _firstOnly.decode(p.firstSegment());
  writeMessage(p.slot, p.total, &_firstOnly, true);
}

// Screens a whole (or given-up) message once; every kept segment gets a
// record with its verdict, and with --write every segment's frame.
void MessageWork::writeMessage(std::uint32_t slot, std::uint8_t total, const PXSCCP_Packet* packet,
                               bool incomplete) {
  Verdict v = screen(packet);
  for (const Held& h : _records[slot]) {
    MessageView m;
    m.file = h.file;
    m.frame = h.frame;
    m.index = h.index;
    m.packet = packet;
    m.origin = h.hasOrigin ? &h.origin : nullptr;
    m.segment = h.position;
    m.segments = total;
    m.incomplete = incomplete;
    if (_plugin) m.direction = MessageView::Direction::inbound;
    if (!take(m, v)) continue;
    if (_writer)
      _writer->selectFrames(h.frames,
                            fmt::format("segment {} of {}: {}", h.position, total, comment(m, v)));
    write(m, v);
  }
  _records[slot].clear();
}

inline Verdict MessageWork::screen(const PXSCCP_Packet* packet) {
  Verdict v;
  if (!_plugin || !packet) return v;
  v.screened = true;
  PXErrorRef err;
  // The explaining variant whenever there is one: the IMSI shown is the one
  // it read, and the trace names the decider for the summary and comments.
  if (auto* explainer = _plugin->explainer()) {
    // The filter writes the whole trace: it needs no clearing.
    v.code = explainer->screenSccpPacketInboundExplained(packet, &err, _trace);
    v.imsi = _trace.imsi();
    v.trace = &_trace;
  } else {
    v.code = _plugin->filter().screenSccpPacketInbound(packet, &err);
  }
  if (_diff) {
    _old = v;
    _old.trace = nullptr;
    v.code = _diff->after.screenSccpPacketInbound(packet, &err);
    v.trace = nullptr;
    v.before = &_old;
  }
  return v;
}

// Counts a message's record; whether it is written.
inline bool MessageWork::take(const MessageView& m, const Verdict& v) {
  if (!_plugin) {
    return true;
  }
  if (v.screened) {
    ++_counts[slotOf(v.code)];
    if (m.error) ++_counts[kSlotPartlyScreened];
  }
  if (_diff) {
    if (!v.screened) return false;
    ++_diff->compared;
    if (v.before->code == v.code) return false;
    ++_diff->pairs[{v.before->code, v.code}];
    _diff->changed.add(m.packet, v.code, nullptr, std::nullopt);
    return true;
  }
  _tally.add(m.packet, v.screened ? std::optional(v.code) : std::nullopt, v.trace, m.error);
  return _options.only.selects(v.screened, v.code, m.error.has_value());
}

inline void MessageWork::write(const MessageView& m, Verdict v) {
  if (!_options.explain) v.trace = nullptr;
  if (!_plugin) {
    if (_options.format == Format::jsonl)
      appendDecodeJson(*_buffer, m);
    else
      appendDecodeText(*_buffer, m);
  } else if (_options.format == Format::jsonl) {
    appendScreenJson(*_buffer, m, v);
  } else {
    appendScreenText(*_buffer, m, v, _colour);
  }
  if (_flushTo) _flushTo->maybeFlush();
}

void MessageWork::select(const SccpUnit& unit, std::string comment) {
  if (_writer) {
    _writer->select({unit.ipFragmentFrames, unit.sctpFragmentFrames}, comment);
  } else {
    _selected = true;
    _selection = std::move(comment);
  }
}

std::string MessageWork::comment(const MessageView& m, const Verdict& v) {
  if (!v.screened)
    return fmt::format("message {}: undecodable ({})", m.index, m.error.value_or("?"));
  std::string s = fmt::format("message {}: {}", m.index, px::verdictName(v.code));
  if (m.error) s += fmt::format(" (undecodable: {})", *m.error);
  if (v.trace) s += ' ' + whyText(*v.trace, m.tcapDamaged);
  return s;
}

void MessageWork::merge(const MessageWork& other) {
  for (std::size_t i = 0; i < _counts.size(); ++i) _counts[i] += other._counts[i];
  _tally.merge(other._tally);
}

std::uint64_t MessageWork::denied() const {
  const auto& v = _tally.verdicts();
  return v[slotOf(PXSccpScreening_explicitlyDenied)] + v[slotOf(PXSccpScreening_implicitlyDenied)];
}

}  // namespace qs
