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

struct ThreadSlot {
  HazardSlot* slot = nullptr;
  bool claimTried = false;
  bool busy = false;  // a read is in progress on this thread

  ~ThreadSlot() {
    if (slot) slot->claimed.store(false, std::memory_order_release);
  }

  void claim() {
    claimTried = true;
    for (std::size_t i = 0; i < kHazardSlots; ++i) {
      bool expected = false;
      if (gSlots[i].claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        slot = &gSlots[i];
        std::size_t inUse = gSlotsInUse.load(std::memory_order_relaxed);
        while (inUse < i + 1 &&
               !gSlotsInUse.compare_exchange_weak(inUse, i + 1, std::memory_order_seq_cst)) {
        }
        return;
      }
    }
  }
};

thread_local ThreadSlot tThreadSlot;

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
  ThreadSlot& t = tThreadSlot;
  if (!t.claimTried) t.claim();
  if (t.slot && !t.busy) {
    t.busy = true;
    Node* p = _current.load(std::memory_order_relaxed);
    for (;;) {
      t.slot->hazard.store(p, std::memory_order_seq_cst);
      Node* q = _current.load(std::memory_order_seq_cst);
      if (q == p) break;
      p = q;
    }
    return Reader(p, &t);
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
    t->busy = false;
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
