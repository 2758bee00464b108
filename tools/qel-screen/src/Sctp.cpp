#include "Sctp.hpp"

#include <algorithm>
#include <limits>

namespace qs {

namespace {
// A freed slot keeps this much storage for the next message; more is returned.
constexpr std::size_t kKeptCapacity = 16 * 1024;
constexpr std::size_t kKeptFragments = 64;

// RFC 1982 serial number arithmetic: a comes before b.
bool before(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}

// a <= x <= b in serial number arithmetic.
bool within(std::uint32_t x, std::uint32_t a, std::uint32_t b) {
  return !before(x, a) && !before(b, x);
}

template <class T>
void emptyKeeping(std::vector<T>& v, std::size_t keep) {
  v.clear();
  if (v.capacity() > keep) std::vector<T>().swap(v);
}
}  // namespace

SctpReassembler::SctpReassembler(ReassemblyLimits limits)
    : _limits(limits), _slots(limits.maxPartialMessages), _finished(limits.maxPartialMessages) {}

void SctpReassembler::remember(const Partial& p, bool completed) {
  if (_finished.empty()) return;
  Finished& f = _finished[_nextFinished];
  _nextFinished = (_nextFinished + 1) % _finished.size();
  f.flow = p.flow;
  f.lo = p.lo;
  f.hi = p.hi;
  f.hasEnd = p.hasEnd;
  f.completed = completed;
  f.used = true;
}

void SctpReassembler::release(Partial& p, bool completed) {
  remember(p, completed);
  _totalBytes -= p.bytes.size();
  if (!completed) _abandonedFrames += p.waitingFrames;
  p.waitingFrames = 0;
  p.used = false;
  --_live;
  emptyKeeping(p.bytes, kKeptCapacity);
  emptyKeeping(p.fragments, kKeptFragments);
}

bool SctpReassembler::evictOldest(const Partial* keep, SkipCounts& dropped) {
  Partial* oldest = nullptr;
  for (auto& p : _slots)
    if (p.used && &p != keep && (!oldest || p.lastUse < oldest->lastUse)) oldest = &p;
  if (!oldest) return false;
  release(*oldest, false);
  dropped.add(Skip::reassemblyLimit);
  return true;
}

SctpReassembler::Partial* SctpReassembler::freeSlot() {
  for (auto& p : _slots)
    if (!p.used) return &p;
  return nullptr;
}

std::size_t SctpReassembler::pending() const {
  return _live;
}

bool SctpReassembler::owns(Bytes view) const {
  auto inside = [&](const std::vector<std::uint8_t>& v) {
    return view.data() >= v.data() && view.data() + view.size() <= v.data() + v.size();
  };
  if (inside(_assembled)) return true;
  for (const auto& p : _slots)
    if (inside(p.bytes)) return true;
  return false;
}

void SctpReassembler::clear() {
  for (auto& p : _slots) {
    if (!p.used) continue;
    _abandonedFrames += p.waitingFrames;
    p.waitingFrames = 0;
    _totalBytes -= p.bytes.size();
    p.used = false;
    --_live;
    emptyKeeping(p.bytes, kKeptCapacity);
    emptyKeeping(p.fragments, kKeptFragments);
  }
  for (auto& f : _finished) f.used = false;
}

bool SctpReassembler::frameWaits(Handle h) {
  if (h.slot >= _slots.size()) return false;
  Partial& p = _slots[h.slot];
  if (!p.used || p.generation != h.generation) return false;
  ++p.waitingFrames;
  return true;
}

SctpReassembler::Partial* SctpReassembler::partialFor(const SctpFlow& flow, const DataChunk& c,
                                                      std::uint32_t seq, bool& duplicate) {
  Partial* best = nullptr;
  std::uint32_t bestDistance = std::numeric_limits<std::uint32_t>::max();
  // Mostly one message or none is in progress: the scan ends at the last.
  std::size_t left = _live;
  for (auto& p : _slots) {
    if (left == 0) break;
    if (!p.used) continue;
    --left;
    if (!(p.flow == flow)) continue;
    std::uint32_t distance;
    if (within(seq, p.lo, p.hi)) {
      for (const auto& f : p.fragments)
        if (f.seq == seq) {
          duplicate = true;
          return nullptr;
        }
      // A hole: only a middle fragment fills it.
      if (c.begin() || c.end()) continue;
      distance = 0;
    } else if (before(seq, p.lo)) {
      if (p.hasBegin || c.end()) continue;
      distance = p.lo - seq;
    } else {
      if (p.hasEnd || c.begin()) continue;
      distance = seq - p.hi;
    }
    if (distance >= _limits.maxFragments) continue;
    if (distance < bestDistance) best = &p, bestDistance = distance;
  }
  return best;
}

SctpReassembler::Finished* SctpReassembler::finishedFor(const SctpFlow& flow, std::uint32_t seq,
                                                        bool begin) {
  // Every new message asks: the sequence numbers, cheap to compare, go first.
  for (auto& f : _finished) {
    if (!f.used) continue;
    bool covers =
        within(seq, f.lo, f.hi) || (!f.completed && !f.hasEnd && !begin && seq == f.hi + 1);
    if (covers && f.flow == flow) return &f;
  }
  return nullptr;
}

void SctpReassembler::dropBlocked(const Partial& p, SkipCounts& dropped) {
  // The fragments of a DATA message have consecutive TSNs (RFC 9260 6.9): a
  // message whose next TSN is another message's first fragment, or whose
  // previous TSN is another's last, can never complete.
  std::size_t left = _live - 1;  // the others
  for (auto& q : _slots) {
    if (left == 0) break;
    if (!q.used || &q == &p) continue;
    --left;
    if (!(q.flow == p.flow)) continue;
    if ((p.hasBegin && !q.hasEnd && q.hi + 1 == p.lo) ||
        (p.hasEnd && !q.hasBegin && q.lo == p.hi + 1)) {
      release(q, false);
      dropped.add(Skip::reassemblyGap);
    }
  }
}

SctpReassembler::Result SctpReassembler::complete(Partial& p) {
  Result r;
  r.skip = Skip::none;
  r.ppid = p.ppid;
  if (p.inOrder) {
    r.message = p.bytes;
  } else {
    std::uint32_t lo = p.lo;
    std::sort(p.fragments.begin(), p.fragments.end(),
              [lo](const Fragment& a, const Fragment& b) { return a.seq - lo < b.seq - lo; });
    _assembled.clear();
    for (const auto& f : p.fragments)
      _assembled.insert(_assembled.end(), p.bytes.begin() + f.offset,
                        p.bytes.begin() + f.offset + f.length);
    r.message = _assembled;
  }
  // The fragments are in sequence order by now.
  _frames.clear();
  for (const auto& f : p.fragments) _frames.push_back(f.frame);
  r.frames = _frames;
  // The slot is free for the next add(); its bytes stay until then.
  remember(p, true);
  _totalBytes -= p.bytes.size();
  p.waitingFrames = 0;
  p.used = false;
  --_live;
  return r;
}

SctpReassembler::Result SctpReassembler::add(const SctpFlow& flow, const DataChunk& c,
                                             SkipCounts& dropped, std::uint64_t frame) {
  Result r;
  if (_slots.empty()) {
    r.skip = Skip::reassemblyLimit;
    return r;
  }
  ++_clock;
  // The first fragment of an I-DATA message has FSN 0 (its field holds the PPID).
  std::uint32_t seq = c.idata ? (c.begin() ? 0 : c.fsn) : c.tsn;
  bool duplicate = false;
  Partial* p = partialFor(flow, c, seq, duplicate);
  if (duplicate) {
    r.skip = Skip::sctpDuplicate;
    return r;
  }
  bool first = false;
  if (!p) {
    if (Finished* f = finishedFor(flow, seq, c.begin())) {
      if (f->completed) {
        r.skip = Skip::sctpDuplicate;
        return r;
      }
      // The rest of a message already dropped.
      if (!before(seq, f->lo) && before(f->hi, seq)) {
        f->hi = seq;
        f->hasEnd = c.end();
      }
      r.skip = Skip::reassemblyGap;
      return r;
    }
    p = freeSlot();
    if (!p) {
      evictOldest(nullptr, dropped);
      p = freeSlot();
    }
    // A slot freed by a completed message still holds that message's bytes.
    p->bytes.clear();
    p->fragments.clear();
    p->used = true;
    ++_live;
    p->flow = flow;
    p->generation = ++_generation;
    p->waitingFrames = 0;
    p->lo = p->hi = seq;
    p->ppid = 0;
    p->hasBegin = p->hasEnd = false;
    p->inOrder = true;
    first = true;
  }
  p->lastUse = _clock;

  // The range first: a message dropped below still covers this fragment.
  if (!first) {
    if (before(seq, p->lo)) {
      p->lo = seq;
      p->inOrder = false;
    } else if (before(p->hi, seq)) {
      p->hi = seq;
    } else {
      p->inOrder = false;
    }
  }
  if (c.begin()) {
    p->hasBegin = true;
    p->ppid = c.ppid;
  }
  if (c.end()) p->hasEnd = true;

  std::size_t length = c.userData.size();
  if (p->fragments.size() >= _limits.maxFragments ||
      p->bytes.size() + length > _limits.maxMessageBytes) {
    release(*p, false);
    r.skip = Skip::reassemblyLimit;
    return r;
  }
  while (_totalBytes + length > _limits.maxTotalBytes) {
    if (!evictOldest(p, dropped)) {
      release(*p, false);
      r.skip = Skip::reassemblyLimit;
      return r;
    }
  }
  p->fragments.push_back(Fragment{seq, static_cast<std::uint32_t>(p->bytes.size()),
                                  static_cast<std::uint32_t>(length), frame});
  p->bytes.insert(p->bytes.end(), c.userData.begin(), c.userData.end());
  _totalBytes += length;

  if (!c.idata) dropBlocked(*p, dropped);
  if (p->hasBegin && p->hasEnd && p->hi - p->lo + 1 == p->fragments.size()) return complete(*p);
  r.partial = Handle{static_cast<std::uint32_t>(p - _slots.data()), p->generation};
  return r;
}

}  // namespace qs
