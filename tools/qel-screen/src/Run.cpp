#include "Run.hpp"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "CaptureWriter.hpp"
#include "ConfigRules.hpp"
#include "Extractor.hpp"
#include "FrameSource.hpp"
#include "LinkLayer.hpp"
#include "LiveSource.hpp"
#include "OneLine.hpp"
#include "OutputBuffer.hpp"
#include "PluginHost.hpp"
#include "Records.hpp"
#include "RunParts.hpp"
#include "Signals.hpp"
#include "Summary.hpp"
#include "px/Config.hpp"
#include "px/Plugin.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sua/SuaMessage.hpp"

namespace qs {

using px::kSccpGiveUpReasons;
using px::SccpDecodeError;
using px::SccpGiveUp;
using px::sccpGiveUpName;
using px::SccpReassembler;

namespace {

using Clock = std::chrono::steady_clock;

// Frames between looks at the clock for the progress line.
constexpr std::uint64_t kProgressEvery = 1 << 15;
// How often the status line of a live capture is refreshed.
constexpr auto kStatusEvery = std::chrono::seconds(2);

std::uint64_t nanosecondsOf(const MessageOrigin& o) {
  if (!o.hasTime || o.seconds < 0) return 0;
  return static_cast<std::uint64_t>(o.seconds) * 1'000'000'000ull + o.nanoseconds;
}

class Sink;
std::string summary(const ExtractorCounts& c, const Sink& sink, bool screening, double seconds);

class Sink : public UnitSink, public LoopHooks, private SccpReassembler::Listener {
 public:
  Sink(Output& out, const RunOptions& options, LoadedPlugin* plugin, CaptureWriter* writer,
       Reloader* reloader, Comparison* diff)
      : _out(out),
        _options(options),
        _plugin(plugin),
        _writer(writer),
        _reloader(reloader),
        _diff(diff),
        _tally(options.prefixDigits),
        _segments(options.segmentLimits) {
    _records.resize(options.segmentLimits.maxMessages);
  }

  void beginSource(const FrameSource& source) override {
    // Records carry the name as JSON text, which must be UTF-8.
    _jsonName = validUtf8(source.name());
    _file = _several ? &_jsonName : nullptr;
    if (_several && _options.format == Format::text) appendFileHeading(_out.buffer, source.name());
    _linkType = source.linkType();
    if (_writer) _writer->newSource();
  }
  void beginFrame(const FrameSource&, const Frame& frame) override {
    _frame = frame.number;
    _frameHeldSegment = false;
    if (_writer) _writer->beginFrame(frame.linkType < 0 ? _linkType : frame.linkType, frame);
  }
  void endFrame(const Extractor& extractor) override {
    if (_writer) _writer->endFrame(extractor.frameHeldFragment() || _frameHeldSegment);
  }
  void endSource() override {
    // Messages still in reassembly are screened from their first segments.
    _segments.finish(*this);
    if (_writer) _writer->writeSelectedHeld();
  }
  void flush() override {
    _out.flush();
    std::fflush(stdout);
  }
  void reload() override {
    if (_reloader) _reloader->request();
  }
  void report(const ExtractorCounts& sofar, double seconds) override {
    std::string s = summary(sofar, *this, _plugin != nullptr, seconds);
    std::fputs(s.c_str(), stderr);
  }
  std::string status() const override {
    if (!_plugin) return {};
    const auto& v = _tally.verdicts();
    return fmt::format(", {} denied", v[slotOf(PXSccpScreening_explicitlyDenied)] +
                                          v[slotOf(PXSccpScreening_implicitlyDenied)]);
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
        if (_writer)
          _writer->select({unit.ipFragmentFrames, unit.sctpFragmentFrames},
                          fmt::format("message {}: outbound (not screened)", m.index));
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
    if (_writer) _writer->select({unit.ipFragmentFrames, unit.sctpFragmentFrames}, comment(m, v));
    write(m, v);
  }

  void setColour(bool c) { _colour = c; }
  void setSeveral(bool s) { _several = s; }
  const std::array<std::uint64_t, kSlots>& counts() const { return _counts; }
  const Tally& tally() const { return _tally; }
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
    // With --write: the segment's frame and those of its IP/SCTP fragments.
    std::vector<std::uint64_t> frames;
  };

  void keep(std::uint32_t slot, const MessageView& m, std::uint8_t position, const SccpUnit& unit) {
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
      h.frames.insert(h.frames.end(), unit.sctpFragmentFrames.begin(),
                      unit.sctpFragmentFrames.end());
    }
    list.push_back(std::move(h));
  }

  void gaveUp(const SccpReassembler::Pending& p, SccpGiveUp) override {
    // The first segment decodes as it did on arrival.
    _firstOnly.decode(p.firstSegment());
    writeMessage(p.slot, p.total, &_firstOnly, true);
  }

  // Screens a whole (or given-up) message once; every kept segment gets a
  // record with its verdict, and with --write every segment's frame.
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
      if (_plugin) m.direction = MessageView::Direction::inbound;
      if (!take(m, v)) continue;
      if (_writer)
        _writer->selectFrames(
            h.frames, fmt::format("segment {} of {}: {}", h.position, total, comment(m, v)));
      write(m, v);
    }
    _records[slot].clear();
  }

  Verdict screen(const PXSCCP_Packet* packet) {
    Verdict v;
    if (!_plugin || !packet) return v;
    v.screened = true;
    PXErrorRef err;
    // The explaining variant whenever there is one: the IMSI shown is the one
    // it read, and the trace names the decider for the summary and comments.
    if (auto* explainer = _plugin->explainer()) {
      // Copied from a blank trace: value-initialising one clears its IMSI
      // buffer too, which only imsiLength says how much of to read.
      static const PXSccpScreeningTrace kBlank{};
      _trace = kBlank;
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
  bool take(const MessageView& m, const Verdict& v) {
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

  void write(const MessageView& m, Verdict v) {
    if (!_options.explain) v.trace = nullptr;
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

  static std::string comment(const MessageView& m, const Verdict& v) {
    if (!v.screened)
      return fmt::format("message {}: undecodable ({})", m.index, m.error.value_or("?"));
    std::string s = fmt::format("message {}: {}", m.index, px::verdictName(v.code));
    if (m.error) s += fmt::format(" (undecodable: {})", *m.error);
    if (v.trace) s += ' ' + whyText(*v.trace, m.tcapDamaged);
    return s;
  }

  Output& _out;
  const RunOptions& _options;
  LoadedPlugin* _plugin;
  CaptureWriter* _writer;
  Reloader* _reloader;
  Comparison* _diff;
  Tally _tally;
  PXSCCP_Packet _packet;
  PXSCCP_Packet _joined;
  PXSCCP_Packet _firstOnly;
  SccpReassembler _segments;
  // By reassembly slot: the records waiting for their message.
  std::vector<std::vector<Held>> _records;
  PXSccpScreeningTrace _trace;
  Verdict _old;  // diff: the first rule set's verdict
  std::string _jsonName;
  const std::string* _file = nullptr;
  int _linkType = 0;
  std::uint64_t _frame = 0;
  bool _frameHeldSegment = false;
  std::array<std::uint64_t, kSlots> _counts{};
  bool _colour = false;
  bool _several = false;
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
  if (screening) s += sink.tally().topText("denied", true);
  return s;
}

bool writeSummary(const RunOptions& options, const std::string& text) {
  if (options.summaryFile.empty()) {
    std::fputs(text.c_str(), stderr);
    return true;
  }
  std::FILE* f = std::fopen(options.summaryFile.c_str(), "w");
  bool ok = f && std::fputs(text.c_str(), f) >= 0;
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) printError(fmt::format("{}: cannot write the summary", options.summaryFile));
  return ok;
}

}  // namespace

int run(const RunOptions& options, bool screening, const DiffOptions* diff) {
  signals::install();
  auto inputs = openInputs(options);
  if (!inputs) return signals::stopRequested() ? 128 + signals::stopRequested() : 2;

  std::unique_ptr<LoadedPlugin> plugin;
  if (screening) {
    std::string path = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    plugin = loadFilter(path, diff ? diff->oldConfig : options.config, options.explain);
    if (!plugin) return 2;
  }
  std::shared_ptr<PXPlugin> second;
  std::unique_ptr<Comparison> comparison;
  if (diff) {
    PXMTP3SCCPScreeningPluginProtocol* after = nullptr;
    second =
        loadSecondFilter(*plugin, options.plugin.empty() ? defaultPluginPath() : options.plugin,
                         diff->newConfig, after);
    if (!second) return 2;
    comparison = std::make_unique<Comparison>(*after, options.prefixDigits);
  }

  std::unique_ptr<CaptureWriter> writer;
  if (!options.write.empty()) {
    auto& first = *inputs->sources.front();
    if (!CaptureWriter::isPcapng(options.write))
      for (auto& s : inputs->sources)
        if (s->linkType() != first.linkType()) {
          printError(
              fmt::format("--write {}: the captures have different link types ({} and "
                          "{}); a .pcapng file can hold them",
                          options.write, first.linkType(), s->linkType()));
          return 2;
        }
    std::string why;
    writer = CaptureWriter::open(options.write, first.linkType(), first.nanosecond(), why);
    if (!writer) {
      printError(fmt::format("--write {}: {}", options.write, why));
      return 2;
    }
  }
  if (!options.summaryFile.empty()) {
    // Found unwritable now rather than after the whole run.
    std::FILE* f = std::fopen(options.summaryFile.c_str(), "w");
    if (!f) {
      printError(fmt::format("--summary-file {}: {}", options.summaryFile, std::strerror(errno)));
      return 2;
    }
    std::fclose(f);
  }

  std::unique_ptr<Reloader> reloader;
  // A reload matters only while traffic keeps coming.
  if (plugin && inputs->streaming)
    reloader = std::make_unique<Reloader>(plugin->filter(), options.config);

  Output out;
  // Large (a reassembly table): not on the stack.
  auto sinkOwner = std::make_unique<Sink>(out, options, plugin.get(), writer.get(), reloader.get(),
                                          comparison.get());
  Sink& sink = *sinkOwner;
  sink.setColour(options.format == Format::text && useColour(options.colour));
  sink.setSeveral(inputs->sources.size() > 1);
  if (screening && options.format == Format::text)
    appendScreenTextHeader(out.buffer, options.explain && !diff);

  LoopResult r = readAll(*inputs, options, sink, sink);

  out.flush();
  std::fflush(stdout);
  int status = 0;
  if (writer && !writer->close()) {
    printError(fmt::format("--write: {}", writer->error()));
    status = 2;
  }
  if (r.progressShown) fmt::print(stderr, "\r\x1b[K");
  std::string s = comparison ? (options.summaryFormat == SummaryFormat::json
                                    ? comparison->summaryJson(r.total, r.seconds)
                                    : comparison->summary(r.total, r.seconds))
                  : options.summaryFormat == SummaryFormat::json && screening
                      ? summaryJson(sink.tally(), r.total, sink.segments(), r.seconds)
                      : summary(r.total, sink, screening, r.seconds);
  if (!writeSummary(options, s)) status = 2;
  if (writer && writer->framesLost())
    printError(
        fmt::format("warning: --write {}: {} fragment frames were no longer held and are "
                    "missing",
                    options.write, writer->framesLost()));
  for (const auto& d : r.damage) printError(fmt::format("warning: {}", d));
  if (std::ferror(stdout)) {
    printError("error writing the output");
    return 2;
  }
  if (r.stoppedBy) return exitStatus(r);
  if (status) return status;
  if (comparison) {
    // Damage makes the comparison incomplete: neither "same" nor "changed".
    if (!r.damage.empty()) return 2;
    return comparison->changedCount() ? 1 : 0;
  }
  return r.damage.empty() ? 0 : 1;
}

bool packetFormed(SccpDecodeError e) {
  return e != SccpDecodeError::empty && e != SccpDecodeError::unsupportedMessageType;
}

void printError(const std::string& message) {
  fmt::print(stderr, "qel-screen: {}\n", oneLine(message));
}

Output::Output() {
  // Records go out in large blocks; nothing is flushed per record.
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

void Output::flush() {
  if (!buffer.empty()) std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  buffer.clear();
}

bool useColour(Colour c) {
  if (c != Colour::automatic) return c == Colour::always;
  // https://no-color.org: present and not empty.
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) && !(noColour && *noColour);
}

std::unique_ptr<Inputs> openInputs(const RunOptions& options) {
  auto inputs = std::make_unique<Inputs>();
  if (!options.interface.empty()) {
    std::string why;
    auto source = openLive(options.interface, options.bpf, options.promiscuous, why);
    if (!source) {
      printError(fmt::format("{}: {}", options.interface, why));
      return nullptr;
    }
    if (!linkTypeSupported(source->linkType())) {
      printError(
          fmt::format("{}: link type {} is not supported", options.interface, source->linkType()));
      return nullptr;
    }
    inputs->sources.push_back(std::move(source));
    inputs->streaming = true;
    return inputs;
  }
  bool stdinUsed = false;
  for (const auto& path : options.captures) {
    if (path == "-") {
      if (stdinUsed) {
        printError("standard input (-) given more than once");
        return nullptr;
      }
      stdinUsed = true;
      struct stat st {};
      if (fstat(STDIN_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) inputs->streaming = true;
    }
    std::string why;
    auto source = FrameSource::open(path, why, options.hex);
    if (!source) {
      printError(fmt::format("{}: {}", path == "-" ? "<stdin>" : path, why));
      return nullptr;
    }
    if (!linkTypeSupported(source->linkType())) {
      printError(
          fmt::format("{}: link type {} is not supported (Ethernet, Linux SLL/SLL2, raw IP, "
                      "MTP2, MTP3 and SCCP are)",
                      source->name(), source->linkType()));
      return nullptr;
    }
    inputs->sources.push_back(std::move(source));
  }
  return inputs;
}

std::unique_ptr<LoadedPlugin> loadFilter(const std::string& path, const std::string& configFile,
                                         bool explain) {
  std::string why;
  auto plugin = LoadedPlugin::load(path, why);
  if (!plugin) {
    printError(fmt::format("cannot load the plug-in: {}", why));
    return nullptr;
  }
  if (explain && !plugin->explainer()) {
    printError(fmt::format("{}: the plug-in cannot explain its verdicts (--explain)", path));
    return nullptr;
  }
  plugin->filter().loadConfigFromFile(configFile);
  if (!plugin->plugin().config()) {
    // The filter read no group: the host's reader says why (a file that
    // cannot be read or parsed is an error; a file without the table is not).
    // A file that was read whole is read only once.
    PXConfig config(configFile);
    config.allowSingleGroup(qel::kScreeningGroup);
    if (auto r = config.read(); !r.ok()) {
      printError(r.message);
      return nullptr;
    }
    printError(fmt::format(
        "warning: {} has no [sccp-screening] table: every verdict will be undefined", configFile));
  }
  return plugin;
}

struct Reloader::State {
  PXMTP3SCCPScreeningPluginProtocol& filter;
  std::string config;
  std::mutex mutex;
  std::condition_variable wake;
  bool pending = false;
  bool done = false;
  std::thread thread;

  void work() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [&] { return pending || done; });
      if (!pending) return;
      pending = false;
      lock.unlock();
      PXConfig check(config);
      check.allowSingleGroup(qel::kScreeningGroup);
      if (auto r = check.read(); !r.ok()) {
        printError(fmt::format("{}; the rules in use are kept", r.message));
      } else {
        // The filter publishes the new rules at once; screening on the
        // main thread never waits for it.
        filter.loadConfigFromFile(config);
        printError(fmt::format("{}: configuration reloaded", config));
      }
      lock.lock();
    }
  }
};

Reloader::Reloader(PXMTP3SCCPScreeningPluginProtocol& filter, std::string config)
    : _state(new State{filter, std::move(config), {}, {}, false, false, {}}) {
  _state->thread = std::thread([s = _state.get()] { s->work(); });
}

Reloader::~Reloader() {
  {
    std::lock_guard lock(_state->mutex);
    _state->done = true;
  }
  _state->wake.notify_one();
  _state->thread.join();
}

void Reloader::request() {
  {
    std::lock_guard lock(_state->mutex);
    _state->pending = true;
  }
  _state->wake.notify_one();
}

LoopResult readAll(Inputs& inputs, const RunOptions& options, UnitSink& sink, LoopHooks& hooks) {
  LoopResult result;
  bool live = !options.interface.empty();
  // On a terminal the records themselves show progress; live, a status line
  // shows that the capture is running.
  bool progress = isatty(STDERR_FILENO) && (live || !isatty(STDOUT_FILENO));
  auto start = Clock::now();
  auto lastProgress = start;
  std::uint64_t framesSoFar = 0;
  Extractor extractor(options.limits);

  auto statusLine = [&](const char* prefix) {
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    auto messages = result.total.messages + extractor.counts().messages;
    return fmt::format("{}qel-screen: {} frames, {} messages, {:.0f} msgs/s{} ", prefix,
                       result.total.frames + extractor.counts().frames, messages,
                       s > 0 ? messages / s : 0.0, hooks.status());
  };
  auto between = [&] {
    if (signals::takeReload()) hooks.reload();
    if (signals::takeReport()) {
      ExtractorCounts sofar = result.total;
      sofar += extractor.counts();
      hooks.report(sofar, std::chrono::duration<double>(Clock::now() - start).count());
    }
  };

  for (auto& source : inputs.sources) {
    if (signals::stopRequested()) break;
    hooks.beginSource(*source);
    extractor = Extractor(options.limits);
    extractor.start(source->linkType());
    Frame frame;
    for (;;) {
      auto next = source->next(frame);
      // A read cut short by SIGINT/SIGTERM is not damage.
      if (signals::stopRequested()) {
        if (next == FrameSource::Next::frame) {
          // Finish the frame in hand.
        } else {
          break;
        }
      }
      if (next == FrameSource::Next::end) break;
      if (next == FrameSource::Next::idle) {
        hooks.flush();
        between();
        if (progress) {
          auto now = Clock::now();
          if (now - lastProgress >= kStatusEvery) {
            lastProgress = now;
            fmt::print(stderr, "{}", statusLine("\r"));
            result.progressShown = true;
          }
        }
        continue;
      }
      if (next == FrameSource::Next::damaged) {
        result.damage.push_back(
            fmt::format("{}: damaged after frame {}: {}; the frames before it were read",
                        source->name(), frame.number, source->damage()));
        break;
      }
      hooks.beginFrame(*source, frame);
      extractor.setTime(frame.hasTime, frame.timeNs, frame.nanoPrecision);
      if (frame.unreadable != Skip::none)
        extractor.unreadableFrame(frame.unreadable);
      else
        extractor.frame(frame.bytes, sink, FrameInfo{frame.number, frame.timeNs, frame.linkType});
      hooks.endFrame(extractor);
      if (inputs.streaming) {
        hooks.flush();
        between();
      }
      if (signals::stopRequested()) break;
      if (progress && ++framesSoFar % (live ? 1 : kProgressEvery) == 0) {
        auto now = Clock::now();
        if ((live && now - lastProgress >= kStatusEvery) ||
            (!live && now - lastProgress > std::chrono::milliseconds(500) &&
             now - start > std::chrono::seconds(1))) {
          lastProgress = now;
          fmt::print(stderr, "{}", statusLine("\r"));
          result.progressShown = true;
        }
      }
    }
    extractor.finish();
    result.total += extractor.counts();
    hooks.endSource();
  }
  between();
  result.stoppedBy = signals::stopRequested();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

int exitStatus(const LoopResult& r) {
  return r.stoppedBy ? 128 + r.stoppedBy : 0;
}

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
  return run(options, true, nullptr);
}
int runDecode(const RunOptions& options) {
  return run(options, false, nullptr);
}

}  // namespace qs
