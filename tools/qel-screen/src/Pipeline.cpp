#include "Pipeline.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "OneLine.hpp"
#include "Records.hpp"
#include "Signals.hpp"
#include "px/sua/SuaMessage.hpp"

namespace qs {

namespace {

// Batches in flight per worker: one being worked on, one waiting, and room
// for the writer to lag a little; and a bound whatever the thread count, so
// that the batches (at most kMaxBatchOctets of messages and frames each, and
// their records) stay within some 40 MiB.
constexpr std::size_t kBatchesPerWorker = 3;
constexpr std::size_t kMaxBatches = 24;
// A batch is handed on before it holds more than this many frames (--write
// keeps them all) or octets.
constexpr std::size_t kFramesPerUnit = 4;
constexpr std::size_t kMaxBatchOctets = 1 << 19;
// SUA messages are kept with their converted addresses (about 1 KiB each).
constexpr std::size_t kMaxBatchSua = 256;
// Lent blocks (1 MiB each): a batch of frames is a quarter of one or less,
// so a few cover every batch in flight; more would only hold memory.
constexpr std::size_t kMaxLentBlocks = 8;
// A worker that finds nothing queued watches for a batch this long before it
// sleeps. The reader hands one on within that time but for a stall (a page
// fault, a block read, its vCPU taken for a moment), and a sleeping worker
// costs more than the wait: the wake-up, and on a virtual machine the halted
// vCPU given to someone else, its caches with it. (Measured: 2 to 10 % less
// time on two threads.) Not when threads outnumber cores, where a watching
// worker would take the core the reader needs, nor on live input, which may
// pause for any time.
constexpr auto kWatchBeforeSleep = std::chrono::microseconds(200);

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
  asm volatile("yield");
#endif
}

// A block a source reads its file into, lent by the pipeline: the messages
// and frames in it are not copied into batches, and it is not lent again
// before the last batch that points into it is written.
struct LentBlock {
  std::unique_ptr<std::uint8_t[]> bytes;
  std::uint32_t batches = 0;  // batches that point into it, the one being filled too
  bool withSource = false;    // the source reads into it still
};

// What a worker needs of one message, copied out of the reader's buffers
// unless it lies in a lent block.
struct BatchUnit {
  std::uint64_t frame = 0;
  std::uint32_t index = 0;
  const std::uint8_t* lent = nullptr;        // in a lent block; null: in Batch::bytes
  std::uint32_t bytesAt = 0, bytesSize = 0;  // in Batch::bytes
  std::uint32_t ipAt = 0, ipSize = 0;        // in Batch::fragmentFrames
  std::uint32_t sctpAt = 0, sctpSize = 0;
  std::int32_t sua = -1;  // in Batch::suas
  bool hasOrigin = false;
  MessageOrigin origin;
  // The worker's answer.
  Tally::PrefixCount prefix;
  bool deferred = false;
  bool selected = false;
  std::size_t recordEnd = 0;  // in Batch::records
  std::uint32_t commentAt = 0, commentSize = 0;
};

// --write: a frame as the capture writer needs it.
struct BatchFrame {
  Frame header;  // bytes empty: they are in a lent block or Batch::bytes
  const std::uint8_t* lent = nullptr;
  std::uint32_t bytesAt = 0, bytesSize = 0;
  bool heldFragment = false;
  std::uint32_t unitsEnd = 0;
};

// Grow-only storage reused from batch to batch: nothing is constructed or
// freed per message once it is large enough.
template <class T>
class Reused {
 public:
  std::size_t size() const { return _size; }
  bool empty() const { return _size == 0; }
  void clear() { _size = 0; }
  T* data() { return _items.data(); }
  const T* data() const { return _items.data(); }
  std::span<T> items() { return {_items.data(), _size}; }
  T& operator[](std::size_t i) { return _items[i]; }
  T& back() { return _items[_size - 1]; }
  // The next element, as the last batch left it.
  T& next() {
    if (_size == _room) [[unlikely]]
      grow(_size + 1);
    return _items[_size++];
  }
  // Copies `what` to the end; where it starts.
  std::uint32_t append(std::span<const T> what) {
    auto at = static_cast<std::uint32_t>(_size);
    if (what.empty()) return at;
    if (_room - _size < what.size()) grow(_size + what.size());
    std::memcpy(_items.data() + _size, what.data(), what.size() * sizeof(T));
    _size += what.size();
    return at;
  }

 private:
  [[gnu::noinline]] void grow(std::size_t atLeast) {
    _items.resize(std::max({std::size_t{16}, 2 * _room, atLeast}));
    _room = _items.size();
  }

  std::vector<T> _items;
  std::size_t _size = 0;
  std::size_t _room = 0;  // _items.size(), kept: a vector's divides by sizeof(T)
};

struct Batch {
  Reused<BatchUnit> units;
  Reused<BatchFrame> frames;
  Reused<std::uint8_t> bytes;
  Reused<std::uint64_t> fragmentFrames;
  std::vector<px::SuaMessage> suas;
  std::size_t suaCount = 0;
  OutputBuffer records{1 << 17};
  std::string comments;
  std::uint64_t denied = 0;
  bool done = false;
  // Handed on at the end of the frame: it holds as many frames, octets or
  // SUA messages as a batch may.
  bool full = false;
  // A unit was left to the writer stage as a segment.
  bool anyDeferred = false;
  // The lent blocks its units and frames point into, in the order lent.
  std::vector<LentBlock*> held;

  void clear() {
    units.clear();
    frames.clear();
    bytes.clear();
    fragmentFrames.clear();
    suaCount = 0;
    records.clear();
    comments.clear();
    denied = 0;
    done = false;
    full = false;
    anyDeferred = false;
    held.clear();
  }
  Bytes view(std::uint32_t at, std::uint32_t size) const { return Bytes(bytes.data() + at, size); }
  Bytes view(const BatchUnit& u) const {
    return u.lent ? Bytes(u.lent, u.bytesSize) : view(u.bytesAt, u.bytesSize);
  }
  Bytes view(const BatchFrame& f) const {
    return f.lent ? Bytes(f.lent, f.bytesSize) : view(f.bytesAt, f.bytesSize);
  }
  std::span<const std::uint64_t> frameList(std::uint32_t at, std::uint32_t size) const {
    return {fragmentFrames.data() + at, size};
  }
};

}  // namespace

struct Pipeline::State final : BlockLender {
  PipelineSetup setup;
  const RunOptions& options;
  std::vector<Batch> batches;
  // Workers' work and comparisons; the writer stage's.
  std::vector<std::unique_ptr<Comparison>> comparisons;
  std::vector<std::unique_ptr<MessageWork>> works;
  MessageWork whole;
  std::string jsonName;
  int linkType = 0;

  std::mutex mutex;
  std::condition_variable workReady;   // workers wait for a queued batch
  std::condition_variable batchFreed;  // the reader waits for a free batch
  std::vector<Batch*> free;
  std::deque<Batch*> queued;  // not yet taken by a worker
  // queued.size(), for a worker watching without the lock.
  std::atomic<std::size_t> queuedCount{0};
  std::deque<Batch*> ordered;  // every batch handed on and not yet written
  std::size_t inFlight = 0;    // handed on, not yet written
  bool stopping = false;
  // A thread is writing batches out (the writer stage): whoever finishes the
  // oldest batch writes it, and the batches done after it, while it holds this.
  bool writing = false;
  Batch* filling = nullptr;

  // Lent blocks: allocated when first needed, up to maxBlocks.
  std::vector<std::unique_ptr<LentBlock>> blocks;
  std::vector<LentBlock*> freeBlocks;
  std::size_t maxBlocks;
  // The block the source reads into now (the reader's alone).
  LentBlock* reading = nullptr;
  std::uintptr_t readingBegin = 0, readingEnd = 0;

  std::atomic<std::uint64_t> denied{0};
  std::vector<std::thread> threads;
  bool watch = false;  // workers watch for a batch before they sleep
  bool finished = false;

  explicit State(const PipelineSetup& s)
      : setup(s),
        options(*s.options),
        batches(std::min(s.workers * kBatchesPerWorker + 2, kMaxBatches)),
        whole(*s.options, s.plugin, s.diff, MessageWork::Role::whole),
        maxBlocks(std::clamp<std::size_t>(batches.size() / 4 + 2, 3, kMaxLentBlocks)),
        watch(!s.streaming && s.workers <= std::max(1u, std::thread::hardware_concurrency())) {
    whole.setOutput(s.out->buffer, s.out);
    whole.setWriter(s.writer);
    whole.setColour(s.colour);
    for (auto& b : batches) free.push_back(&b);
    // One for each worker thread, and the last for the reader when it helps.
    for (unsigned i = 0; i < s.workers; ++i) {
      Comparison* diff = nullptr;
      if (s.diff) {
        comparisons.push_back(std::make_unique<Comparison>(s.diff->after, options.prefixDigits));
        diff = comparisons.back().get();
      }
      works.push_back(
          std::make_unique<MessageWork>(options, s.plugin, diff, MessageWork::Role::worker));
      works.back()->setKeepSelections(s.writer != nullptr);
      works.back()->setColour(s.colour);
    }
    filling = takeFree();
    signals::BlockedHere blocked;
    try {
      for (unsigned i = 0; i + 1 < s.workers; ++i)
        threads.emplace_back([this, i] { workLoop(*works[i]); });
    } catch (...) {
      // The threads that did start end before the error goes on.
      stopThreads();
      throw;
    }
  }

  // A batch to fill. While every batch is in flight the workers are behind:
  // the reader works on a waiting batch itself rather than wait.
  Batch* takeFree() {
    std::unique_lock lock(mutex);
    while (free.empty())
      if (!helpWithQueued(lock)) batchFreed.wait(lock);
    Batch* b = free.back();
    free.pop_back();
    lock.unlock();
    b->clear();
    return b;
  }

  // Hands the batch being filled on, if it holds anything.
  void submit() {
    if (filling->units.empty() && filling->frames.empty()) return;
    {
      std::lock_guard lock(mutex);
      queued.push_back(filling);
      queuedCount.store(queued.size(), std::memory_order_relaxed);
      ordered.push_back(filling);
      ++inFlight;
    }
    workReady.notify_one();
    filling = takeFree();
  }

  // Everything handed on is written; the reader works on what is still queued.
  void drain() {
    submit();
    std::unique_lock lock(mutex);
    while (inFlight != 0)
      if (!helpWithQueued(lock)) batchFreed.wait(lock);
  }

  // With `lock` held: the reader works on the oldest queued batch, if there
  // is one (releasing the lock meanwhile); false when none is queued.
  bool helpWithQueued(std::unique_lock<std::mutex>& lock) {
    if (queued.empty()) return false;
    Batch* help = queued.front();
    queued.pop_front();
    queuedCount.store(queued.size(), std::memory_order_relaxed);
    lock.unlock();
    workOn(*works.back(), *help);
    finish(*help);
    lock.lock();
    return true;
  }

  void stop() {
    if (threads.empty()) return;
    drain();
    stopThreads();
  }

  void stopThreads() {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    workReady.notify_all();
    for (auto& t : threads) t.join();
    threads.clear();
  }

  void workLoop(MessageWork& work) {
    for (;;) {
      Batch* b;
      {
        std::unique_lock lock(mutex);
        if (watch && queued.empty() && !stopping) {
          lock.unlock();
          watchForBatch();
          lock.lock();
        }
        workReady.wait(lock, [&] { return !queued.empty() || stopping; });
        if (queued.empty()) return;
        b = queued.front();
        queued.pop_front();
        queuedCount.store(queued.size(), std::memory_order_relaxed);
      }
      workOn(work, *b);
      finish(*b);
    }
  }

  void watchForBatch() const {
    const auto until = std::chrono::steady_clock::now() + kWatchBeforeSleep;
    while (queuedCount.load(std::memory_order_relaxed) == 0 &&
           std::chrono::steady_clock::now() < until)
      cpuRelax();
  }

  void workOn(MessageWork& work, Batch& b) {
    work.setOutput(b.records, nullptr);
    const std::uint64_t deniedBefore = work.denied();
    for (BatchUnit& u : b.units.items()) {
      work.beginUnit();
      work.beginFrame(u.frame);
      SccpUnit unit{b.view(u), nullptr, b.frameList(u.ipAt, u.ipSize),
                    b.frameList(u.sctpAt, u.sctpSize), u.hasOrigin ? &u.origin : nullptr};
      if (u.sua >= 0) {
        px::SuaMessage& sua = b.suas[static_cast<std::size_t>(u.sua)];
        sua.data = unit.bytes;
        unit.sua = &sua;
      }
      work.onUnit(unit, u.index);
      u.deferred = work.deferred();
      b.anyDeferred |= u.deferred;
      u.prefix = work.takePrefix();
      u.recordEnd = b.records.size();
      u.selected = work.selected();
      if (u.selected) {
        u.commentAt = static_cast<std::uint32_t>(b.comments.size());
        u.commentSize = static_cast<std::uint32_t>(work.selection().size());
        b.comments += work.selection();
      }
    }
    b.denied = work.denied() - deniedBefore;
  }

  // `b` is worked on. The writer stage, in capture order: if no thread is
  // writing, this one writes the oldest batches for as long as they are done,
  // so that a batch finished while it writes is written too. A thread that
  // finds another writing leaves its batch to it.
  void finish(Batch& b) {
    std::unique_lock lock(mutex);
    b.done = true;
    if (writing) return;
    writing = true;
    while (!ordered.empty() && ordered.front()->done) {
      Batch* w = ordered.front();
      ordered.pop_front();
      lock.unlock();
      write(*w);
      lock.lock();
      const bool more = !ordered.empty() && ordered.front()->done;
      if (setup.streaming && !more) {
        // Nothing else is ready: what was made goes out now.
        lock.unlock();
        setup.out->flush();
        std::fflush(stdout);
        lock.lock();
      }
      release(*w);
      free.push_back(w);
      --inFlight;
      batchFreed.notify_all();
    }
    writing = false;
  }

  // With the lock held: `b` is written, and the blocks it alone pointed into
  // and that the source is done with may be lent again.
  void release(Batch& b) {
    for (LentBlock* k : b.held)
      if (--k->batches == 0 && !k->withSource) freeBlocks.push_back(k);
    b.held.clear();
  }

  std::uint8_t* borrow() override {
    std::unique_lock lock(mutex);
    LentBlock* k = nullptr;
    for (;;) {
      if (!freeBlocks.empty()) {
        k = freeBlocks.back();
        freeBlocks.pop_back();
        break;
      }
      if (blocks.size() < maxBlocks) {
        blocks.push_back(std::make_unique<LentBlock>());
        k = blocks.back().get();
        k->bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
        break;
      }
      // Every block is with the source or with batches: the batch being
      // filled goes on, so that its blocks come free once it is written.
      if (!filling->held.empty()) {
        lock.unlock();
        submit();
        lock.lock();
        continue;
      }
      if (!helpWithQueued(lock)) batchFreed.wait(lock);
    }
    k->withSource = true;
    reading = k;
    readingBegin = reinterpret_cast<std::uintptr_t>(k->bytes.get());
    readingEnd = readingBegin + kBlockSize;
    return k->bytes.get();
  }

  void giveBack(std::uint8_t* block) override {
    std::lock_guard lock(mutex);
    auto it = std::find_if(blocks.begin(), blocks.end(),
                           [&](const auto& k) { return k->bytes.get() == block; });
    if (it == blocks.end()) return;
    LentBlock* k = it->get();
    k->withSource = false;
    if (k == reading) reading = nullptr, readingBegin = readingEnd = 0;
    if (k->batches == 0) freeBlocks.push_back(k);
  }

  // `bytes` lie in the block the source reads into now: then `b` keeps that
  // block from being lent again until it is written.
  bool holdIfLent(Batch& b, Bytes bytes) {
    const auto at = reinterpret_cast<std::uintptr_t>(bytes.data());
    if (at < readingBegin || at >= readingEnd || bytes.size() > readingEnd - at) return false;
    if (b.held.empty() || b.held.back() != reading) [[unlikely]]
      hold(b);
    return true;
  }

  // `b`, the batch being filled, points into the block read into now: counted
  // at once, since a batch written meanwhile may leave it to `b` alone.
  [[gnu::noinline]] void hold(Batch& b) {
    b.held.push_back(reading);
    std::lock_guard lock(mutex);
    ++reading->batches;
  }

  // The reader's copy of what lies in no lent block; where it starts in
  // b.bytes.
  [[gnu::noinline]] std::uint32_t copy(Batch& b, Bytes bytes) {
    const std::uint32_t at = b.bytes.append(bytes);
    if (b.bytes.size() >= kMaxBatchOctets) b.full = true;
    return at;
  }

  [[gnu::noinline]] std::int32_t keepSua(Batch& b, const px::SuaMessage& sua) {
    if (b.suaCount == b.suas.size()) b.suas.emplace_back();
    b.suas[b.suaCount] = sua;  // its data is the unit's bytes, set again when used
    if (b.suaCount + 1 >= kMaxBatchSua) b.full = true;
    return static_cast<std::int32_t>(b.suaCount++);
  }

  // --write: the frame, for the writer stage to copy out.
  [[gnu::noinline]] void keepFrame(const Frame& frame) {
    Batch& b = *filling;
    BatchFrame& f = b.frames.next();
    f.header = frame;
    f.header.bytes = {};
    if (f.header.linkType < 0) f.header.linkType = linkType;
    f.bytesSize = static_cast<std::uint32_t>(frame.bytes.size());
    if (holdIfLent(b, frame.bytes)) {
      f.lent = frame.bytes.data();
    } else {
      f.lent = nullptr;
      f.bytesAt = copy(b, frame.bytes);
    }
    if (b.frames.size() >= kFramesPerUnit * setup.batchUnits) b.full = true;
  }
  void endKeptFrame(const Extractor& extractor) {
    Batch& b = *filling;
    b.frames.back().heldFragment = extractor.frameHeldFragment();
    b.frames.back().unitsEnd = static_cast<std::uint32_t>(b.units.size());
  }

  // The records of `from`, between `begin` and `end`, to the output.
  void emit(const Batch& from, std::size_t begin, std::size_t end) {
    if (end <= begin) return;
    Output& out = *setup.out;
    if (end - begin >= kFlushAt) {
      out.flush();
      std::fwrite(from.records.data() + begin, 1, end - begin, stdout);
    } else {
      out.buffer.append(std::string_view(from.records.data() + begin, end - begin));
      out.maybeFlush();
    }
  }

  void write(Batch& b) {
    const std::uint64_t deniedBefore = whole.denied();
    if (!setup.writer && !b.anyDeferred && !whole.segments().pending()) {
      // No segment to join or expire: the records go out whole, and only the
      // calling prefixes are counted here.
      for (const BatchUnit& u : b.units.items()) whole.addPrefix(u.prefix);
      emit(b, 0, b.records.size());
      denied.fetch_add(b.denied, std::memory_order_relaxed);
      return;
    }
    std::size_t written = 0;  // of b.records
    std::size_t start = 0;    // of the current unit's record
    auto unit = [&](BatchUnit& u) {
      const MessageOrigin* origin = u.hasOrigin ? &u.origin : nullptr;
      if (u.deferred) {
        emit(b, written, start);
        written = start;
        if (!setup.writer) whole.beginFrame(u.frame);
        // Never SUA: SUA carries no segmentation.
        whole.onUnit(SccpUnit{b.view(u), nullptr, b.frameList(u.ipAt, u.ipSize),
                              b.frameList(u.sctpAt, u.sctpSize), origin},
                     u.index);
      } else {
        if (whole.segments().pending() && origin && origin->hasTime) {
          emit(b, written, start);
          written = start;
          whole.expire(origin);
        }
        whole.addPrefix(u.prefix);
        if (u.selected)
          setup.writer->select({b.frameList(u.ipAt, u.ipSize), b.frameList(u.sctpAt, u.sctpSize)},
                               std::string_view(b.comments).substr(u.commentAt, u.commentSize));
      }
      start = u.recordEnd;
    };
    if (setup.writer) {
      std::size_t i = 0;
      for (const BatchFrame& f : b.frames.items()) {
        Frame frame = f.header;
        frame.bytes = b.view(f);
        setup.writer->beginFrame(frame.linkType, frame);
        whole.beginFrame(frame.number);
        for (; i < f.unitsEnd; ++i) unit(b.units[i]);
        setup.writer->endFrame(f.heldFragment || whole.frameHeldSegment());
      }
    } else {
      for (BatchUnit& u : b.units.items()) unit(u);
    }
    emit(b, written, b.records.size());
    denied.fetch_add(b.denied + whole.denied() - deniedBefore, std::memory_order_relaxed);
  }
};

Pipeline::Pipeline(const PipelineSetup& setup) : _state(std::make_unique<State>(setup)) {
  // Only --write needs the frames themselves.
  frameHooks = setup.writer != nullptr;
}

Pipeline::~Pipeline() {
  _state->stop();
}

void Pipeline::onUnit(const SccpUnit& unit, std::uint32_t index) {
  State& s = *_state;
  Batch& b = *s.filling;
  // Every field is set: the element is the one a batch before left.
  BatchUnit& u = b.units.next();
  u.frame = unit.frame;
  u.index = index;
  u.bytesSize = static_cast<std::uint32_t>(unit.bytes.size());
  if (s.holdIfLent(b, unit.bytes)) [[likely]] {
    u.lent = unit.bytes.data();
  } else {
    u.lent = nullptr;
    u.bytesAt = s.copy(b, unit.bytes);
  }
  u.ipAt = b.fragmentFrames.append(unit.ipFragmentFrames);
  u.ipSize = static_cast<std::uint32_t>(unit.ipFragmentFrames.size());
  u.sctpAt = b.fragmentFrames.append(unit.sctpFragmentFrames);
  u.sctpSize = static_cast<std::uint32_t>(unit.sctpFragmentFrames.size());
  u.sua = unit.sua ? s.keepSua(b, *unit.sua) : -1;
  u.hasOrigin = unit.origin != nullptr;
  if (unit.origin) u.origin = *unit.origin;
  // Without --write a frame's messages may go in two batches: one is handed
  // on as soon as it is full.
  if (!s.setup.writer && (b.units.size() >= s.setup.batchUnits || b.full)) s.submit();
}

void Pipeline::beginSource(const FrameSource& source) {
  State& s = *_state;
  s.drain();
  // Records carry the name as JSON text, which must be UTF-8.
  s.jsonName = validUtf8(source.name());
  const std::string* file = s.setup.several ? &s.jsonName : nullptr;
  s.whole.setFile(file);
  for (auto& w : s.works) w->setFile(file);
  if (s.setup.several && s.options.format == Format::text)
    appendFileHeading(s.setup.out->buffer, source.name());
  s.linkType = source.linkType();
  if (s.setup.writer) s.setup.writer->newSource();
}

void Pipeline::beginFrame(const FrameSource&, const Frame& frame) {
  _state->keepFrame(frame);
}

void Pipeline::endFrame(const Extractor& extractor) {
  State& s = *_state;
  s.endKeptFrame(extractor);
  if (s.filling->units.size() >= s.setup.batchUnits || s.filling->full) s.submit();
}

void Pipeline::endSource() {
  State& s = *_state;
  s.drain();
  s.whole.finishSegments();
  if (s.setup.writer) s.setup.writer->writeSelectedHeld();
}

void Pipeline::flush() {
  // Streaming or idle: the writer stage writes the batch out once it is done.
  _state->submit();
}

void Pipeline::report(const ExtractorCounts& sofar, double seconds) {
  State& s = *_state;
  s.drain();
  auto counts = s.whole.counts();
  Tally tally = s.whole.tally();
  for (const auto& w : s.works) {
    for (std::size_t i = 0; i < counts.size(); ++i) counts[i] += w->counts()[i];
    tally.merge(w->tally());
  }
  std::string text =
      summaryText(sofar, counts, tally, s.whole.segments(), s.setup.plugin != nullptr, seconds);
  std::fputs(text.c_str(), stderr);
}

void Pipeline::reload() {
  if (_state->setup.reloader) _state->setup.reloader->request();
}

BlockLender* Pipeline::blockLender() {
  return _state.get();
}

std::string Pipeline::status() const {
  if (!_state->setup.plugin) return {};
  return fmt::format(", {} denied", _state->denied.load(std::memory_order_relaxed));
}

const MessageWork& Pipeline::finish() {
  State& s = *_state;
  s.stop();
  if (!s.finished) {
    s.finished = true;
    for (const auto& w : s.works) s.whole.merge(*w);
    for (const auto& c : s.comparisons) s.setup.diff->merge(*c);
  }
  return s.whole;
}

}  // namespace qs
