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
#include <system_error>
#include <thread>

#include "CaptureWriter.hpp"
#include "ConfigRules.hpp"
#include "Extractor.hpp"
#include "FrameSource.hpp"
#include "LinkLayer.hpp"
#include "LiveSource.hpp"
#include "MessageWork.hpp"
#include "OneLine.hpp"
#include "OutputBuffer.hpp"
#include "Pipeline.hpp"
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

// The frame loop of readAll(), for hooks of type H: with a final class its
// calls for every frame are direct. Kept out of run() so that profiles show
// the loop apart.
template <class H>
[[gnu::noinline]] LoopResult readFrames(Inputs& inputs, const RunOptions& options, UnitSink& sink,
                                        H& hooks);

// The single-threaded run: the frame loop's hooks around one MessageWork.
class Hooks final : public LoopHooks {
 public:
  Hooks(MessageWork& work, Output& out, bool screening, CaptureWriter* writer, Reloader* reloader,
        bool several, const RunOptions& options)
      : _work(work),
        _out(out),
        _screening(screening),
        _writer(writer),
        _reloader(reloader),
        _several(several),
        _options(options) {}

  void beginSource(const FrameSource& source) override {
    // Records carry the name as JSON text, which must be UTF-8.
    _jsonName = validUtf8(source.name());
    _work.setFile(_several ? &_jsonName : nullptr);
    if (_several && _options.format == Format::text) appendFileHeading(_out.buffer, source.name());
    _linkType = source.linkType();
    if (_writer) _writer->newSource();
  }
  void beginFrame(const FrameSource&, const Frame& frame) override {
    _work.beginFrame(frame.number);
    if (_writer) _writer->beginFrame(frame.linkType < 0 ? _linkType : frame.linkType, frame);
  }
  void endFrame(const Extractor& extractor) override {
    if (_writer) _writer->endFrame(extractor.frameHeldFragment() || _work.frameHeldSegment());
  }
  void endSource() override {
    _work.finishSegments();
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
    std::string s =
        summaryText(sofar, _work.counts(), _work.tally(), _work.segments(), _screening, seconds);
    std::fputs(s.c_str(), stderr);
  }
  std::string status() const override {
    if (!_screening) return {};
    return fmt::format(", {} denied", _work.denied());
  }

 private:
  MessageWork& _work;
  Output& _out;
  bool _screening;
  CaptureWriter* _writer;
  Reloader* _reloader;
  bool _several;
  const RunOptions& _options;
  std::string _jsonName;
  int _linkType = 0;
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

}  // namespace

std::string summaryText(const ExtractorCounts& c, const std::array<std::uint64_t, kSlots>& n,
                        const Tally& tally, const SccpReassembler& seg, bool screening,
                        double seconds) {
  std::string s;
  auto it = std::back_inserter(s);
  double rate = seconds > 0 ? static_cast<double>(c.messages) / seconds : 0;
  fmt::format_to(it, "qel-screen: {} frames, {} SCCP messages in {:.3f} s ({:.0f} msgs/s)\n",
                 c.frames, c.messages, seconds, rate);
  if (screening) {
    for (std::size_t i = 0; i < kVerdicts.size(); ++i)
      if (n[i] || kVerdicts[i] != PXSccpScreening_errorResult)
        fmt::format_to(it, "  {:<21} {:>9}\n", px::verdictName(kVerdicts[i]), n[i]);
    if (n[kSlotOther]) fmt::format_to(it, "  {:<21} {:>9}\n", "unknown verdict", n[kSlotOther]);
    if (n[kSlotOutbound])
      fmt::format_to(it, "  {:<21} {:>9} (not screened)\n", "outbound", n[kSlotOutbound]);
  }
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
  if (screening) s += tally.topText("denied", true);
  return s;
}

namespace {

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

unsigned threadCount(const RunOptions& options) {
  if (options.threads) return options.threads;
  unsigned n = std::thread::hardware_concurrency();
  return n ? n : 1;
}

// Messages per pipeline batch: QEL_SCREEN_BATCH (for tests: batch edges
// inside segmented messages) or the default.
std::size_t batchUnits() {
  if (const char* e = std::getenv("QEL_SCREEN_BATCH"))
    if (long n = std::strtol(e, nullptr, 10); n > 0) return static_cast<std::size_t>(n);
  return PipelineSetup{}.batchUnits;
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
  const bool colour = options.format == Format::text && useColour(options.colour);
  const bool several = inputs->sources.size() > 1;
  if (screening && options.format == Format::text)
    appendScreenTextHeader(out.buffer, options.explain && !diff);

  LoopResult r;
  // Large (a reassembly table): not on the stack.
  std::unique_ptr<MessageWork> single;
  std::unique_ptr<Pipeline> pipeline;
  const MessageWork* work = nullptr;
  const unsigned threads = threadCount(options);
  if (threads <= 1) {
    single = std::make_unique<MessageWork>(options, plugin.get(), comparison.get(),
                                           MessageWork::Role::whole);
    single->setOutput(out.buffer, &out);
    single->setWriter(writer.get());
    single->setColour(colour);
    Hooks hooks(*single, out, screening, writer.get(), reloader.get(), several, options);
    r = readFrames(*inputs, options, *single, hooks);
    work = single.get();
  } else {
    PipelineSetup setup;
    setup.options = &options;
    setup.plugin = plugin.get();
    setup.diff = comparison.get();
    setup.writer = writer.get();
    setup.reloader = reloader.get();
    setup.out = &out;
    setup.colour = colour;
    setup.several = several;
    setup.streaming = inputs->streaming;
    setup.workers = threads;
    setup.batchUnits = batchUnits();
    try {
      pipeline = std::make_unique<Pipeline>(setup);
    } catch (const std::system_error& e) {
      printError(fmt::format("--threads {}: cannot start the threads: {}", threads, e.what()));
      return 2;
    }
    r = readAll(*inputs, options, *pipeline, *pipeline);
    work = &pipeline->finish();
  }

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
                      ? summaryJson(work->tally(), r.total, work->segments(), r.seconds)
                      : summaryText(r.total, work->counts(), work->tally(), work->segments(),
                                    screening, r.seconds);
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
  signals::BlockedHere blocked;
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

namespace {

template <class H>
LoopResult readFrames(Inputs& inputs, const RunOptions& options, UnitSink& sink, H& hooks) {
  LoopResult result;
  bool live = !options.interface.empty();
  // Read once: the calls for every frame could change it, as far as the
  // compiler knows.
  const bool streaming = inputs.streaming;
  const bool frameHooks = hooks.frameHooks;
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
    source->lendBlocks(hooks.blockLender());
    extractor = Extractor(options.limits);
    extractor.start(source->linkType());
    Frame frame;
    for (;;) {
      auto next = source->next(frame);
      if (next != FrameSource::Next::frame) {
        // A read cut short by SIGINT/SIGTERM is not damage; a frame in hand
        // is finished first.
        if (signals::stopRequested() || next == FrameSource::Next::end) break;
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
        result.damage.push_back(
            fmt::format("{}: damaged after frame {}: {}; the frames before it were read",
                        source->name(), frame.number, source->damage()));
        break;
      }
      if (frameHooks) hooks.beginFrame(*source, frame);
      extractor.frame(frame, sink);
      if (frameHooks) hooks.endFrame(extractor);
      if (streaming) {
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
    source->lendBlocks(nullptr);
    extractor.finish();
    result.total += extractor.counts();
    // Counted once: a report after the last capture must not add it again.
    extractor = Extractor(options.limits);
    hooks.endSource();
  }
  between();
  result.stoppedBy = signals::stopRequested();
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

}  // namespace

LoopResult readAll(Inputs& inputs, const RunOptions& options, UnitSink& sink, LoopHooks& hooks) {
  return readFrames(inputs, options, sink, hooks);
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

int runScreen(const RunOptions& options) {
  return run(options, true, nullptr);
}
int runDecode(const RunOptions& options) {
  return run(options, false, nullptr);
}

}  // namespace qs
