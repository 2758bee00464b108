#include "Run.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "ConfigRules.hpp"
#include "Extractor.hpp"
#include "FrameSource.hpp"
#include "LinkLayer.hpp"
#include "OneLine.hpp"
#include "OutputBuffer.hpp"
#include "PluginHost.hpp"
#include "Records.hpp"
#include "px/Config.hpp"
#include "px/Plugin.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sua/SuaMessage.hpp"

namespace qs {

namespace {

using Clock = std::chrono::steady_clock;

// Output is written in blocks of about this size.
constexpr std::size_t kFlushAt = 1 << 16;
// Frames between looks at the clock for the progress line.
constexpr std::uint64_t kProgressEvery = 1 << 15;

// Counting slots: the verdicts, then any other value, undecodable messages,
// and undecodable messages that were still screened.
constexpr std::array<std::int32_t, 6> kVerdicts = {
    PXSccpScreening_explicitlyPermitted, PXSccpScreening_implicitlyPermitted,
    PXSccpScreening_explicitlyDenied,    PXSccpScreening_implicitlyDenied,
    PXSccpScreening_undefined,           PXSccpScreening_errorResult};
constexpr std::size_t kSlotOther = kVerdicts.size();
constexpr std::size_t kSlotUndecodable = kVerdicts.size() + 1;
// Undecodable messages that still formed a packet, and were screened.
constexpr std::size_t kSlotPartlyScreened = kVerdicts.size() + 2;
// Messages that leave the home network: not screened.
constexpr std::size_t kSlotOutbound = kVerdicts.size() + 3;
constexpr std::size_t kSlots = kVerdicts.size() + 4;

std::size_t slotOf(std::int32_t verdict) {
  for (std::size_t i = 0; i < kVerdicts.size(); ++i)
    if (kVerdicts[i] == verdict) return i;
  return kSlotOther;
}

void error(const std::string& message) {
  fmt::print(stderr, "qel-screen: {}\n", oneLine(message));
}

struct Output {
  OutputBuffer buffer{2 * kFlushAt};
  Output() {
    // Records go out in large blocks; nothing is flushed per record.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  }
  void maybeFlush() {
    if (buffer.size() >= kFlushAt) flush();
  }
  void flush() {
    if (!buffer.empty()) std::fwrite(buffer.data(), 1, buffer.size(), stdout);
    buffer.clear();
  }
};

// A packet object exists when the decoder recognised a connectionless
// message; what it read before any damage is then in it.
bool packetFormed(SccpDecodeError e) {
  return e != SccpDecodeError::empty && e != SccpDecodeError::unsupportedMessageType;
}

std::uint64_t nanosecondsOf(const MessageOrigin& o) {
  if (!o.hasTime || o.seconds < 0) return 0;
  return static_cast<std::uint64_t>(o.seconds) * 1'000'000'000ull + o.nanoseconds;
}

class Sink : public UnitSink, private SccpReassembler::Listener {
 public:
  Sink(Output& out, const RunOptions& options, LoadedPlugin* plugin)
      : _out(out), _options(options), _plugin(plugin), _segments(options.segmentLimits) {
    _records.resize(options.segmentLimits.maxMessages);
  }

  void setFrame(const std::string* file, std::uint64_t frame) {
    _file = file;
    _frame = frame;
  }

  void onUnit(const SccpUnit& unit, std::uint32_t index) override {
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
    if (e != SccpDecodeError::none) {
      m.error = px::decodeErrorName(e);
      ++_counts[kSlotUndecodable];
    } else if (const auto* tcap = _packet.tcapMessage(); tcap && tcap->isDamaged()) {
      // A sound SCCP message whose TCAP could be read only in part is as
      // undecodable as a damaged SCCP message: screening saw less than was sent.
      m.error = kTcapDamagedError;
      m.tcapDamaged = true;
      ++_counts[kSlotUndecodable];
    }
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
        if (_options.only.selects(false, 0, m.error.has_value(), true)) write(m, Verdict{});
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
          keep(r.slot, m, r.position);
          return;
        case SccpReassembler::Status::complete: {
          keep(r.slot, m, r.position);
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
    handle(m, m.packet);
  }

  // Messages still in reassembly are screened from their first segments.
  void finish() { _segments.finish(*this); }

  void setColour(bool c) { _colour = c; }
  const std::array<std::uint64_t, kSlots>& counts() const { return _counts; }
  const SccpReassembler& segments() const { return _segments; }

 private:
  // What a held segment's record needs once its message is whole.
  struct Held {
    const std::string* file;
    std::uint64_t frame;
    std::uint32_t index;
    std::uint8_t position;
    bool hasOrigin;
    MessageOrigin origin;
  };

  void keep(std::uint32_t slot, const MessageView& m, std::uint8_t position) {
    auto& list = _records[slot];
    if (position == 1) list.clear();
    list.push_back(Held{m.file, m.frame, m.index, position, m.origin != nullptr,
                        m.origin ? *m.origin : MessageOrigin{}});
  }

  void gaveUp(const SccpReassembler::Pending& p, SccpGiveUp) override {
    // The first segment decodes as it did on arrival.
    _firstOnly.decode(p.firstSegment());
    writeMessage(p.slot, p.total, &_firstOnly, true);
  }

  // Screens a whole (or given-up) message once; every kept segment gets a record with its verdict.
  void writeMessage(std::uint32_t slot, std::uint8_t total, const PXSCCP_Packet* packet,
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
      if (_plugin) {
        m.direction = MessageView::Direction::inbound;
        count(v, m);
        if (!_options.only.selects(v.screened, v.code, false)) continue;
      }
      write(m, v);
    }
    _records[slot].clear();
  }

  Verdict screen(const PXSCCP_Packet* packet) {
    Verdict v;
    if (!_plugin || !packet) return v;
    v.screened = true;
    PXErrorRef err;
    // The explaining variant whenever there is one: the IMSI shown is the one it read.
    if (auto* explainer = _plugin->explainer()) {
      _trace = PXSccpScreeningTrace{};
      v.code = explainer->screenSccpPacketInboundExplained(packet, &err, _trace);
      v.imsi = _trace.imsi();
      if (_options.explain) v.trace = &_trace;
    } else {
      v.code = _plugin->filter().screenSccpPacketInbound(packet, &err);
    }
    return v;
  }

  void count(const Verdict& v, const MessageView& m) {
    if (!v.screened) return;
    ++_counts[slotOf(v.code)];
    if (m.error) ++_counts[kSlotPartlyScreened];
  }

  void handle(MessageView& m, const PXSCCP_Packet* packet) {
    if (!_plugin) {
      write(m, Verdict{});
      return;
    }
    Verdict v = screen(packet);
    count(v, m);
    if (!_options.only.selects(v.screened, v.code, m.error.has_value())) return;
    write(m, v);
  }

  void write(const MessageView& m, const Verdict& v) {
    if (!_plugin) {
      if (_options.format == Format::jsonl)
        appendDecodeJson(_out.buffer, m);
      else
        appendDecodeText(_out.buffer, m);
    } else if (_options.format == Format::jsonl) {
      appendScreenJson(_out.buffer, m, v);
    } else {
      appendScreenText(_out.buffer, m, v, _colour);
    }
    _out.maybeFlush();
  }

  Output& _out;
  const RunOptions& _options;
  LoadedPlugin* _plugin;
  PXSCCP_Packet _packet;
  PXSCCP_Packet _joined;
  PXSCCP_Packet _firstOnly;
  SccpReassembler _segments;
  // By reassembly slot: the records waiting for their message.
  std::vector<std::vector<Held>> _records;
  PXSccpScreeningTrace _trace;
  const std::string* _file = nullptr;
  std::uint64_t _frame = 0;
  std::array<std::uint64_t, kSlots> _counts{};
  bool _colour = false;
};

void appendReasons(std::string& out, const SkipCounts& counts) {
  bool first = true;
  for (std::size_t i = 1; i < kSkipCount; ++i) {
    if (!counts.n[i]) continue;
    fmt::format_to(std::back_inserter(out), "{}{} {}", first ? "" : ", ",
                   skipDescription(static_cast<Skip>(i)), counts.n[i]);
    first = false;
  }
}

std::string summary(const ExtractorCounts& c, const Sink& sink, bool screening, double seconds) {
  std::string s;
  auto it = std::back_inserter(s);
  double rate = seconds > 0 ? static_cast<double>(c.messages) / seconds : 0;
  fmt::format_to(it, "qel-screen: {} frames, {} SCCP messages in {:.3f} s ({:.0f} msgs/s)\n",
                 c.frames, c.messages, seconds, rate);
  const auto& n = sink.counts();
  if (screening) {
    for (std::size_t i = 0; i < kVerdicts.size(); ++i)
      if (n[i] || kVerdicts[i] != PXSccpScreening_errorResult)
        fmt::format_to(it, "  {:<21} {:>9}\n", px::verdictName(kVerdicts[i]), n[i]);
    if (n[kSlotOther]) fmt::format_to(it, "  {:<21} {:>9}\n", "unknown verdict", n[kSlotOther]);
    if (n[kSlotOutbound])
      fmt::format_to(it, "  {:<21} {:>9} (not screened)\n", "outbound", n[kSlotOutbound]);
  }
  const SccpReassembler& seg = sink.segments();
  std::uint64_t gaveUp = 0;
  for (std::size_t i = 0; i < kSccpGiveUpReasons; ++i)
    gaveUp += seg.gaveUp(static_cast<SccpGiveUp>(i));
  if (seg.completed() || gaveUp) {
    fmt::format_to(it, "  {:<21} {:>9} reassembled, {} given up", "segmented messages",
                   seg.completed(), gaveUp);
    const char* sep = ": ";
    for (std::size_t i = 0; i < kSccpGiveUpReasons; ++i)
      if (auto k = seg.gaveUp(static_cast<SccpGiveUp>(i))) {
        fmt::format_to(it, "{}{} {}", sep, sccpGiveUpName(static_cast<SccpGiveUp>(i)), k);
        sep = ", ";
      }
    s += '\n';
  }
  fmt::format_to(it, "  {:<21} {:>9}", "undecodable", n[kSlotUndecodable]);
  if (n[kSlotPartlyScreened])
    fmt::format_to(it, " (screened as far as decoded: {})", n[kSlotPartlyScreened]);
  s += '\n';
  fmt::format_to(it, "  {:<21} {:>9}", "frames without SCCP", c.framesWithout.total());
  if (c.framesWithout.total()) {
    s += ": ";
    appendReasons(s, c.framesWithout);
  }
  s += '\n';
  if (c.other.total()) {
    fmt::format_to(it, "  {:<21} {:>9}: ", "also skipped", c.other.total());
    appendReasons(s, c.other);
    s += '\n';
  }
  return s;
}

int run(const RunOptions& options, bool screening) {
  // Every input is checked before anything is written.
  std::vector<std::unique_ptr<FrameSource>> sources;
  bool stdinUsed = false;
  for (const auto& path : options.captures) {
    if (path == "-") {
      if (stdinUsed) {
        error("standard input (-) given more than once");
        return 2;
      }
      stdinUsed = true;
    }
    std::string why;
    auto source = FrameSource::open(path, why);
    if (!source) {
      error(fmt::format("{}: {}", path == "-" ? "<stdin>" : path, why));
      return 2;
    }
    if (!linkTypeSupported(source->linkType())) {
      error(
          fmt::format("{}: link type {} is not supported (Ethernet, Linux SLL/SLL2, raw IP, "
                      "MTP2, MTP3 and SCCP are)",
                      source->name(), source->linkType()));
      return 2;
    }
    sources.push_back(std::move(source));
  }

  std::unique_ptr<LoadedPlugin> plugin;
  if (screening) {
    PXConfig config(options.config);
    config.allowSingleGroup(qel::kScreeningGroup);
    if (auto r = config.read(); !r.ok()) {
      error(r.message);
      return 2;
    }
    std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    std::string why;
    plugin = LoadedPlugin::load(path, why);
    if (!plugin) {
      error(fmt::format("cannot load the plug-in: {}", why));
      return 2;
    }
    if (options.explain && !plugin->explainer()) {
      error(fmt::format("{}: the plug-in cannot explain its verdicts (--explain)", path));
      return 2;
    }
    plugin->filter().loadConfigFromFile(options.config);
    if (!plugin->plugin().config())
      error(
          fmt::format("warning: {} has no [sccp-screening] table: every verdict will be "
                      "undefined",
                      options.config));
  }

  Output out;
  auto sinkOwner = std::make_unique<Sink>(out, options, plugin.get());
  Sink& sink = *sinkOwner;
  bool colour = options.format == Format::text && isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR");
  sink.setColour(colour);
  // On a terminal the records themselves show progress.
  bool progress = isatty(STDERR_FILENO) && !isatty(STDOUT_FILENO);
  bool several = sources.size() > 1;

  if (screening && options.format == Format::text)
    appendScreenTextHeader(out.buffer, options.explain);

  Extractor extractor(options.limits);
  ExtractorCounts total;
  std::vector<std::string> damage;
  auto start = Clock::now();
  auto lastProgress = start;
  bool progressShown = false;
  std::uint64_t framesSoFar = 0;

  for (auto& source : sources) {
    // Records carry the name as JSON text, which must be UTF-8.
    const std::string jsonName = validUtf8(source->name());
    const std::string* file = several ? &jsonName : nullptr;
    if (several && options.format == Format::text) appendFileHeading(out.buffer, source->name());
    extractor = Extractor(options.limits);
    extractor.start(source->linkType());
    Frame frame;
    for (;;) {
      auto next = source->next(frame);
      if (next == FrameSource::Next::end) break;
      if (next == FrameSource::Next::damaged) {
        damage.push_back(
            fmt::format("{}: damaged after frame {}: {}; the frames before it were "
                        "read",
                        source->name(), frame.number, source->damage()));
        break;
      }
      sink.setFrame(file, frame.number);
      extractor.setTime(frame.hasTime, frame.timeNs, frame.nanoPrecision);
      if (frame.unreadable != Skip::none)
        extractor.unreadableFrame(frame.unreadable);
      else
        extractor.frame(frame.bytes, sink, FrameInfo{frame.number, frame.timeNs, frame.linkType});
      if (progress && ++framesSoFar % kProgressEvery == 0) {
        auto now = Clock::now();
        if (now - lastProgress > std::chrono::milliseconds(500) &&
            now - start > std::chrono::seconds(1)) {
          lastProgress = now;
          double s = std::chrono::duration<double>(now - start).count();
          auto messages = total.messages + extractor.counts().messages;
          fmt::print(stderr, "\rqel-screen: {} frames, {} messages, {:.0f} msgs/s ",
                     total.frames + extractor.counts().frames, messages, messages / s);
          progressShown = true;
        }
      }
    }
    extractor.finish();
    sink.finish();
    total += extractor.counts();
  }
  out.flush();
  std::fflush(stdout);
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (progressShown) fmt::print(stderr, "\r\x1b[K");
  std::string s = summary(total, sink, screening, seconds);
  std::fputs(s.c_str(), stderr);
  for (const auto& d : damage) error(fmt::format("warning: {}", d));
  if (std::ferror(stdout)) {
    error("error writing the output");
    return 2;
  }
  return damage.empty() ? 0 : 1;
}

}  // namespace

std::optional<Selection> Selection::parse(const std::vector<std::string>& names, std::string& bad) {
  Selection s;
  s.bits = 0;
  for (const auto& raw : names) {
    std::string n;
    for (char c : raw) n += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (n.empty()) continue;
    bool found = false;
    for (std::size_t i = 0; i < kVerdicts.size(); ++i) {
      std::string name(px::verdictName(kVerdicts[i]));
      for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (n == name) s.bits |= 1u << i, found = true;
    }
    if (n == "undecodable") s.bits |= 1u << kSlotUndecodable, found = true;
    if (n == "outbound") s.bits |= 1u << kSlotOutbound, found = true;
    if (n == "permitted") s.bits |= 0b0011, found = true;
    if (n == "denied") s.bits |= 0b1100, found = true;
    if (!found) {
      bad = raw;
      return std::nullopt;
    }
  }
  return s;
}

std::vector<std::string> selectionWords() {
  std::vector<std::string> words;
  for (auto v : kVerdicts) words.emplace_back(px::verdictName(v));
  for (const char* w : {"undecodable", "permitted", "denied", "outbound"}) words.emplace_back(w);
  return words;
}

bool Selection::selects(bool screened, std::int32_t verdict, bool damaged, bool outbound) const {
  if (outbound) return (bits & (1u << kSlotOutbound)) != 0;
  if (damaged && (bits & (1u << kSlotUndecodable))) return true;
  return screened && (bits & (1u << slotOf(verdict)));
}

int runScreen(const RunOptions& options) {
  return run(options, true);
}
int runDecode(const RunOptions& options) {
  return run(options, false);
}

}  // namespace qs
