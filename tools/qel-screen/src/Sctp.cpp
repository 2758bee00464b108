#include "Sctp.hpp"

namespace qs {

namespace {
// A freed slot keeps this much storage for the next message; more is returned.
constexpr std::size_t kKeptCapacity = 16 * 1024;

// RFC 1982 serial number arithmetic: a comes before b.
bool before(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b) < 0;
}
}  // namespace

SctpReassembler::SctpReassembler(ReassemblyLimits limits)
    : _limits(limits), _slots(limits.maxPartialMessages) {}

SctpReassembler::Partial* SctpReassembler::find(const SctpFlow& flow) {
  for (auto& p : _slots)
    if (p.used && p.flow == flow) return &p;
  return nullptr;
}

void SctpReassembler::release(Partial& p) {
  _totalBytes -= p.bytes.size();
  p.used = false;
  p.bytes.clear();
  if (p.bytes.capacity() > kKeptCapacity) std::vector<std::uint8_t>().swap(p.bytes);
}

bool SctpReassembler::evictOldest(const Partial* keep, SkipCounts& dropped) {
  Partial* oldest = nullptr;
  for (auto& p : _slots)
    if (p.used && &p != keep && (!oldest || p.lastUse < oldest->lastUse)) oldest = &p;
  if (!oldest) return false;
  release(*oldest);
  dropped.add(Skip::reassemblyLimit);
  return true;
}

SctpReassembler::Partial* SctpReassembler::freeSlot() {
  for (auto& p : _slots)
    if (!p.used) return &p;
  return nullptr;
}

std::size_t SctpReassembler::pending() const {
  std::size_t n = 0;
  for (const auto& p : _slots) n += p.used;
  return n;
}

void SctpReassembler::clear() {
  for (auto& p : _slots)
    if (p.used) release(p);
}

SctpReassembler::Result SctpReassembler::add(const SctpFlow& flow, const DataChunk& c,
                                             SkipCounts& dropped) {
  Result r;
  if (_slots.empty()) {
    r.skip = Skip::reassemblyLimit;
    return r;
  }
  ++_clock;
  Partial* p = find(flow);
  if (c.begin()) {
    if (p) {
      // The previous message of this flow never got its last fragment.
      release(*p);
      dropped.add(Skip::reassemblyGap);
    } else {
      p = freeSlot();
      if (!p) {
        evictOldest(nullptr, dropped);
        p = freeSlot();
      }
    }
    // A slot freed by a completed message still holds that message's bytes.
    p->bytes.clear();
    if (p->bytes.capacity() > kKeptCapacity) std::vector<std::uint8_t>().swap(p->bytes);
    p->used = true;
    p->flow = flow;
    p->ppid = c.ppid;
    p->next = c.idata ? 1 : c.tsn + 1;
  } else {
    if (!p) {
      r.skip = Skip::reassemblyGap;
      return r;
    }
    std::uint32_t seq = c.idata ? c.fsn : c.tsn;
    if (before(seq, p->next)) {
      // A retransmission of a fragment already held.
      p->lastUse = _clock;
      return r;
    }
    if (seq != p->next) {
      release(*p);
      r.skip = Skip::reassemblyGap;
      return r;
    }
    p->next = seq + 1;
  }
  p->lastUse = _clock;

  std::size_t grown = p->bytes.size() + c.userData.size();
  if (grown > _limits.maxMessageBytes) {
    release(*p);
    r.skip = Skip::reassemblyLimit;
    return r;
  }
  while (_totalBytes + c.userData.size() > _limits.maxTotalBytes) {
    if (!evictOldest(p, dropped)) {
      release(*p);
      r.skip = Skip::reassemblyLimit;
      return r;
    }
  }
  p->bytes.insert(p->bytes.end(), c.userData.begin(), c.userData.end());
  _totalBytes += c.userData.size();

  if (!c.end()) return r;
  // The slot is free for the next add(); its bytes stay until then.
  r.skip = Skip::none;
  r.message = p->bytes;
  r.ppid = p->ppid;
  _totalBytes -= p->bytes.size();
  p->used = false;
  return r;
}

}  // namespace qs
