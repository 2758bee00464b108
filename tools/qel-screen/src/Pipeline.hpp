// --threads N: the run as an ordered parallel pipeline. The output is the
// same, byte for byte, as that of the single-threaded run.
//
// Where the state that crosses frames lives:
// - Reader stage (the thread that calls readAll): reading frames and the
//   Extractor, so IP and SCTP reassembly and the extractor's counts. It puts
//   each SCCP message in a batch (where its bytes lie, its origin, the frames
//   of its fragments) and hands full batches on. A pcap file is read into
//   blocks the pipeline lends, so the bytes of most messages are not copied:
//   a block is lent again only once the last batch pointing into it is
//   written. Messages that lie elsewhere (joined from fragments, or read
//   from pcapng, hex or by libpcap) are copied into the batch.
// - Workers (N - 1 threads, and the reader when every batch is in flight):
//   no state across messages but their counts. Each decodes, decides the
//   direction, screens and writes the records of a batch into the batch's
//   own buffer, and keeps the --write selections beside them. Segments of
//   segmented messages are left as they are.
// - Writer stage (one thread at a time, the one that finishes the oldest
//   batch; there is no writer thread to wake): batches strictly in capture
//   order. SCCP segment reassembly, the capture-time expiry of what waits in
//   it, the --write capture and the output itself. At the end the workers'
//   counts are merged into its own (sums: the order does not matter).
//
// A fixed number of batches exist, so memory does not grow with the capture.
// The signal handlers run on the reader's thread only: the others block
// SIGINT, SIGTERM, SIGHUP and SIGUSR1, so that a stop interrupts the read
// waiting on a pipe or an interface (a reload or report restarts it).
#pragma once

#include <memory>
#include <string>

#include "CaptureWriter.hpp"
#include "Extractor.hpp"
#include "MessageWork.hpp"
#include "PluginHost.hpp"
#include "Run.hpp"
#include "RunParts.hpp"

namespace qs {

struct PipelineSetup {
  const RunOptions* options = nullptr;
  LoadedPlugin* plugin = nullptr;
  Comparison* diff = nullptr;  // diff: the comparison the workers' counts end in
  CaptureWriter* writer = nullptr;
  Reloader* reloader = nullptr;
  Output* out = nullptr;
  bool colour = false;
  bool several = false;    // several captures: records name their file
  bool streaming = false;  // a record goes out as soon as it is made
  // Threads that decode and screen: the reader is one of them.
  unsigned workers = 2;
  std::size_t batchUnits = 1024;  // messages per batch
};

class Pipeline : public UnitSink, public LoopHooks {
 public:
  explicit Pipeline(const PipelineSetup& setup);
  ~Pipeline() override;
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Reader stage.
  void onUnit(const SccpUnit& unit, std::uint32_t index) override;
  void beginSource(const FrameSource& source) override;
  void beginFrame(const FrameSource&, const Frame& frame) override;
  void endFrame(const Extractor& extractor) override;
  void endSource() override;
  void flush() override;
  void report(const ExtractorCounts& sofar, double seconds) override;
  void reload() override;
  std::string status() const override;
  BlockLender* blockLender() override;

  // After the last source: everything written, the threads stopped, and the
  // counts of every stage in the returned writer stage's (and in `diff`).
  const MessageWork& finish();

 private:
  struct State;
  std::unique_ptr<State> _state;
};

}  // namespace qs
