#include "RuleSetCell.hpp"

#include <array>
#include <vector>

// Memory ordering. A reader stores the set it is about to use into its slot
// and then re-reads the cell, both seq_cst; a writer swaps the cell and then
// reads the slots, both seq_cst. In the single total order of seq_cst
// operations either the reader's slot store comes before the writer's slot
// scan, and the writer sees the hazard and keeps the set, or the scan comes
// first; then the writer's swap, which precedes its scan, also precedes the
// reader's re-read, which therefore sees the new set and retries instead of
// using the retired one. The fallback reader count follows the same argument
// with the count in place of a slot.

namespace qel {

namespace {

constexpr std::size_t kHazardSlots = 128;

struct alignas(64) HazardSlot {
  std::atomic<const void*> hazard{nullptr};
  std::atomic<bool> claimed{false};
};

std::array<HazardSlot, kHazardSlots> gSlots;
// Slots at or above this index have never been claimed; scans stop there.
std::atomic<std::size_t> gSlotsInUse{0};
std::atomic<std::size_t> gFallbackReaders{0};

// A thread's claim on a slot. Constant-initialised and trivially destructible,
// so reaching it costs no initialisation guard: the slot goes back to the
// table through SlotReturn instead.
struct ThreadSlot {
  HazardSlot* slot = nullptr;
  // The slot while no read is in progress on this thread, else null; the one
  // field the common read tests.
  HazardSlot* idle = nullptr;
  bool claimTried = false;
};

// In a dlopen'ed library this is reached through one __tls_get_addr call per
// read (about 13 instructions). The initial-exec model would save those but
// takes static TLS that the C library may not have left for a library loaded
// late (dlopen then fails); not worth it for 13 instructions.
constinit thread_local ThreadSlot tThreadSlot;

// Gives the thread's slot back when the thread ends. A read that still comes
// after it (from another thread_local destructor) takes the shared fallback.
struct SlotReturn {
  ~SlotReturn() {
    ThreadSlot& t = tThreadSlot;
    HazardSlot* s = t.slot;
    t.slot = t.idle = nullptr;
    if (s) s->claimed.store(false, std::memory_order_release);
  }
};

// The thread's first read: claims a free slot, if any is left.
void claim(ThreadSlot& t) {
  t.claimTried = true;
  [[maybe_unused]] thread_local SlotReturn slotReturn;
  for (std::size_t i = 0; i < kHazardSlots; ++i) {
    bool expected = false;
    if (gSlots[i].claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
      t.slot = t.idle = &gSlots[i];
      std::size_t inUse = gSlotsInUse.load(std::memory_order_relaxed);
      while (inUse < i + 1 &&
             !gSlotsInUse.compare_exchange_weak(inUse, i + 1, std::memory_order_seq_cst)) {
      }
      return;
    }
  }
}

}  // namespace

void RuleSetCell::NodeDeleter::operator()(Node* n) const {
  cell->destroy(n);
}

RuleSetCell::RuleSetCell() : _current(nullptr) {
  _live.fetch_add(1, std::memory_order_relaxed);
  _current.store(new Node{}, std::memory_order_release);
}

RuleSetCell::~RuleSetCell() {
  // The owner destroys a filter only when nothing uses it any more.
  destroy(_current.load(std::memory_order_acquire));
  for (Node* n = _retired.exchange(nullptr); n;) {
    Node* next = n->retiredNext;
    destroy(n);
    n = next;
  }
}

void RuleSetCell::destroy(Node* node) const {
  if (!node) return;
  delete node;
  _live.fetch_sub(1, std::memory_order_acq_rel);
}

RuleSetCell::Reader RuleSetCell::read() const {
  ThreadSlot* t = &tThreadSlot;
  // Computed once: the compiler would otherwise repeat the lookup at each use.
  asm("" : "+r"(t));
  HazardSlot* slot = t->idle;
  if (!slot && !t->claimTried) [[unlikely]] {
    claim(*t);
    slot = t->idle;
  }
  if (slot) [[likely]] {
    t->idle = nullptr;  // a nested read on this thread takes the fallback
    Node* p = _current.load(std::memory_order_relaxed);
    for (;;) {
      slot->hazard.store(p, std::memory_order_seq_cst);
      Node* q = _current.load(std::memory_order_seq_cst);
      if (q == p) break;
      p = q;
    }
    return Reader(p, t);
  }
  gFallbackReaders.fetch_add(1, std::memory_order_seq_cst);
  return Reader(_current.load(std::memory_order_seq_cst), nullptr);
}

void RuleSetCell::Reader::release() {
  if (!_node) return;
  _node = nullptr;
  if (_slot) {
    auto* t = static_cast<ThreadSlot*>(_slot);
    t->slot->hazard.store(nullptr, std::memory_order_release);
    t->idle = t->slot;
  } else {
    gFallbackReaders.fetch_sub(1, std::memory_order_release);
  }
}

RuleSetCell::NodePtr RuleSetCell::copyOf(const RuleSet& rules) {
  _live.fetch_add(1, std::memory_order_relaxed);
  return NodePtr(new Node{rules, nullptr}, NodeDeleter{this});
}

bool RuleSetCell::tryPublish(Reader& base, NodePtr& next) {
  Node* expected = base._node;
  if (!_current.compare_exchange_strong(expected, next.get(), std::memory_order_seq_cst)) {
    return false;
  }
  Node* old = expected;
  next.release();
  base.release();
  retire(old);
  reclaim();
  return true;
}

void RuleSetCell::retire(Node* node) {
  Node* head = _retired.load(std::memory_order_relaxed);
  do {
    node->retiredNext = head;
  } while (!_retired.compare_exchange_weak(head, node, std::memory_order_acq_rel,
                                           std::memory_order_relaxed));
}

void RuleSetCell::reclaim() {
  Node* list = _retired.exchange(nullptr, std::memory_order_acq_rel);
  if (!list) return;
  std::vector<Node*> keep;
  if (gFallbackReaders.load(std::memory_order_seq_cst) != 0) {
    for (Node* n = list; n; n = n->retiredNext) keep.push_back(n);
  } else {
    const std::size_t inUse = gSlotsInUse.load(std::memory_order_seq_cst);
    std::vector<const void*> hazards;
    hazards.reserve(inUse);
    for (std::size_t i = 0; i < inUse; ++i) {
      if (const void* h = gSlots[i].hazard.load(std::memory_order_seq_cst)) hazards.push_back(h);
    }
    for (Node* n = list; n;) {
      Node* next = n->retiredNext;
      bool held = false;
      for (const void* h : hazards) held |= (h == n);
      if (held)
        keep.push_back(n);
      else
        destroy(n);
      n = next;
    }
  }
  for (Node* n : keep) retire(n);
}

std::size_t RuleSetCell::retiredCount() const {
  std::size_t count = 0;
  for (Node* n = _retired.load(std::memory_order_acquire); n; n = n->retiredNext) ++count;
  return count;
}

}  // namespace qel
