// Pieces that `screen`, `decode` and `diff` share: opening the inputs and the
// plug-in, the frame loop with its signals and progress line, the output.
#pragma once

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Extractor.hpp"
#include "FrameSource.hpp"
#include "OutputBuffer.hpp"
#include "PluginHost.hpp"
#include "Run.hpp"
#include "Summary.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace qs {

void printError(const std::string& message);

// A packet object exists when the decoder recognised a connectionless
// message; what it read before any damage is then in it.
inline bool packetFormed(px::SccpDecodeError e) {
  return e != px::SccpDecodeError::empty && e != px::SccpDecodeError::unsupportedMessageType;
}

// Inline: asked for every message.
inline bool Selection::selects(bool screened, std::int32_t verdict, bool damaged,
                               bool outbound) const {
  if (outbound) return (bits & (1u << kSlotOutbound)) != 0;
  if (damaged && (bits & (1u << kSlotUndecodable))) return true;
  return screened && (bits & (1u << slotOf(verdict)));
}

// Output is written in blocks of about this size.
inline constexpr std::size_t kFlushAt = 1 << 16;

struct Output {
  OutputBuffer buffer{2 * kFlushAt};
  Output();
  void maybeFlush() {
    if (buffer.size() >= kFlushAt) flush();
  }
  void flush();
};

// The captures (or the interface) of a run, every one checked. Null after
// one line on standard error says what is wrong.
struct Inputs {
  std::vector<std::unique_ptr<FrameSource>> sources;
  // Frames come as they are sent (a pipe, an interface): records are written
  // as they are made instead of in blocks.
  bool streaming = false;
};
std::unique_ptr<Inputs> openInputs(const RunOptions& options);

// The plug-in with a filter that has read `config` (checked with the host's
// reader first). Null after an error line.
std::unique_ptr<LoadedPlugin> loadFilter(const std::string& pluginPath, const std::string& config,
                                         bool explain);

// Reads `config` into the filter again, on another thread so that screening
// goes on; a file that does not parse leaves the rules as they are. Says
// what happened on standard error.
class Reloader {
 public:
  Reloader(PXMTP3SCCPScreeningPluginProtocol& filter, std::string config);
  ~Reloader();
  void request();

 private:
  struct State;
  std::unique_ptr<State> _state;
};

// `diff`: the second rule set's filter, and what the comparison adds up to.
struct Comparison {
  explicit Comparison(PXMTP3SCCPScreeningPluginProtocol& next, unsigned prefixDigits)
      : after(next), changed(prefixDigits) {}
  PXMTP3SCCPScreeningPluginProtocol& after;
  std::uint64_t compared = 0;
  std::map<std::pair<std::int32_t, std::int32_t>, std::uint64_t> pairs;
  // The changed messages, by their new verdict.
  Tally changed;

  // Adds what `other` (a pipeline worker's) counted.
  void merge(const Comparison& other);
  std::uint64_t changedCount() const;
  std::string summary(const ExtractorCounts& c, double seconds) const;
  std::string summaryJson(const ExtractorCounts& c, double seconds) const;
};

// The second filter of `diff`, with `configFile` read (checked first). Null
// after an error line.
std::shared_ptr<PXPlugin> loadSecondFilter(LoadedPlugin& plugin, const std::string& path,
                                           const std::string& configFile,
                                           PXMTP3SCCPScreeningPluginProtocol*& filter);

// Screens (or decodes) every message of the inputs; with `diff`, writes only
// the messages whose verdict the second rule set changes.
int run(const RunOptions& options, bool screening, const DiffOptions* diff);

// The text summary: counts by verdict (`counts`, slots of Summary.hpp), SCCP
// segments, what was skipped, and the top denied lists.
std::string summaryText(const ExtractorCounts& c, const std::array<std::uint64_t, kSlots>& counts,
                        const Tally& tally, const px::SccpReassembler& seg, bool screening,
                        double seconds);

struct LoopHooks {
  virtual ~LoopHooks() = default;
  // beginFrame and endFrame are called for every frame (false: never).
  bool frameHooks = true;
  virtual void beginSource(const FrameSource&) {}
  virtual void beginFrame(const FrameSource&, const Frame&) {}
  virtual void endFrame(const Extractor&) {}
  // After the last frame of a capture (or of what was read of it).
  virtual void endSource() {}
  // Between frames: nothing came for a moment, or output must not wait.
  virtual void flush() {}
  // SIGUSR1.
  virtual void report(const ExtractorCounts&, double) {}
  // SIGHUP.
  virtual void reload() {}
  // The end of a progress/status line: ", 12 denied".
  virtual std::string status() const { return {}; }
  // Where sources read their files into, when the frames' bytes must outlive
  // the next frame (null: the source's own memory).
  virtual BlockLender* blockLender() { return nullptr; }
};

struct LoopResult {
  ExtractorCounts total;
  std::vector<std::string> damage;
  int stoppedBy = 0;  // SIGINT or SIGTERM
  double seconds = 0;
  bool progressShown = false;
};

LoopResult readAll(Inputs& inputs, const RunOptions& options, UnitSink& sink, LoopHooks& hooks);

// Exit status after a signal stopped the run: 128 + its number.
int exitStatus(const LoopResult& r);

}  // namespace qs
