#include "Run.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>

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
constexpr std::size_t kSlots = kVerdicts.size() + 3;

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

// Fills a packet from a SUA CLDT, the way the SCCP decoder fills it from a UDT.
void packetFromSua(PXSCCP_Packet& packet, const SuaMessage& sua) {
  packet.clear();
  packet.setMessageType(SccpMessageType::udt);
  packet.setProtocolClassOrCause(sua.protocolClass);
  packet.mutableCallingPartyAddress() = sua.calling;
  packet.mutableCalledPartyAddress() = sua.called;
  packet.setData(sua.data);
  if (!packet.mutableTcap().decode(sua.data)) packet.removeTcap();
}

// A packet object exists when the decoder recognised a connectionless
// message; what it read before any damage is then in it.
bool packetFormed(SccpDecodeError e) {
  return e != SccpDecodeError::empty && e != SccpDecodeError::unsupportedMessageType;
}

class Sink : public UnitSink {
 public:
  Sink(Output& out, const RunOptions& options, LoadedPlugin* plugin)
      : _out(out), _options(options), _plugin(plugin) {}

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
    SccpDecodeError e = SccpDecodeError::none;
    if (unit.sua)
      packetFromSua(_packet, *unit.sua);
    else
      e = _packet.decode(unit.bytes);
    if (e != SccpDecodeError::none) {
      m.error = decodeErrorName(e);
      ++_counts[kSlotUndecodable];
    } else if (const auto* tcap = _packet.tcapMessage(); tcap && tcap->isDamaged()) {
      // A sound SCCP message whose TCAP could be read only in part is as
      // undecodable as a damaged SCCP message: screening saw less than was sent.
      m.error = kTcapDamagedError;
      m.tcapDamaged = true;
      ++_counts[kSlotUndecodable];
    }
    if (packetFormed(e)) m.packet = &_packet;

    if (!_plugin) {
      ++_decoded;
      if (_options.format == Format::jsonl)
        appendDecodeJson(_out.buffer, m);
      else
        appendDecodeText(_out.buffer, m);
      _out.maybeFlush();
      return;
    }

    Verdict v;
    if (m.packet) {
      v.screened = true;
      PXErrorRef err;
      if (_options.explain) {
        _trace = PXSccpScreeningTrace{};
        v.code = _plugin->explainer()->screenSccpPacketInboundExplained(&_packet, &err, _trace);
        v.trace = &_trace;
      } else {
        v.code = _plugin->filter().screenSccpPacketInbound(&_packet, &err);
      }
      ++_counts[slotOf(v.code)];
      if (m.error) ++_counts[kSlotPartlyScreened];
    }
    if (!_options.only.selects(v.screened, v.code, m.error.has_value())) return;
    if (_options.format == Format::jsonl)
      appendScreenJson(_out.buffer, m, v);
    else
      appendScreenText(_out.buffer, m, v, _colour);
    _out.maybeFlush();
  }

  void setColour(bool c) { _colour = c; }
  const std::array<std::uint64_t, kSlots>& counts() const { return _counts; }

 private:
  Output& _out;
  const RunOptions& _options;
  LoadedPlugin* _plugin;
  PXSCCP_Packet _packet;
  PXSccpScreeningTrace _trace;
  const std::string* _file = nullptr;
  std::uint64_t _frame = 0;
  std::uint64_t _decoded = 0;
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
        fmt::format_to(it, "  {:<21} {:>9}\n", verdictName(kVerdicts[i]), n[i]);
    if (n[kSlotOther]) fmt::format_to(it, "  {:<21} {:>9}\n", "unknown verdict", n[kSlotOther]);
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
    config.allowSingleGroup("sccp-screening");
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
  Sink sink(out, options, plugin.get());
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
      std::string name(verdictName(kVerdicts[i]));
      for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (n == name) s.bits |= 1u << i, found = true;
    }
    if (n == "undecodable") s.bits |= 1u << kSlotUndecodable, found = true;
    if (n == "permitted") s.bits |= 0b0011, found = true;
    if (n == "denied") s.bits |= 0b1100, found = true;
    if (!found) {
      bad = raw;
      return std::nullopt;
    }
  }
  return s;
}

bool Selection::selects(bool screened, std::int32_t verdict, bool damaged) const {
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
