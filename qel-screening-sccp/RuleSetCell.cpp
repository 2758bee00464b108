#include "RuleSetCell.hpp"

#include <array>
#include <new>
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
//
// The scan reaches every slot a reader may use: a reader's thread reads the
// high-water mark gSlotsInUse (or raises it), seq_cst, after claiming its slot
// and before its first hazard store. A scan that read a lower mark read it
// before that, so before the reader's hazard store and re-read: the case above
// where the re-read sees the new set. A scan that read the mark as covering the
// slot also finds the slot's block, whose link was published (seq_cst) before
// the mark was raised past it.

namespace qel {

namespace {

constexpr std::size_t kSlotsPerBlock = 128;

struct alignas(64) HazardSlot {
  std::atomic<const void*> hazard{nullptr};
  std::atomic<bool> claimed{false};
};

// Blocks are linked, never moved and never freed: a slot's address stays valid
// for every thread that holds it and every scan that reads it.
struct SlotBlock {
  std::array<HazardSlot, kSlotsPerBlock> slots;
  std::atomic<SlotBlock*> next{nullptr};
};

constinit SlotBlock gFirstBlock;
// Slots at or above this index (counted over the blocks in order) have never
// been claimed; scans stop there.
std::atomic<std::size_t> gSlotsInUse{0};
std::atomic<std::size_t> gFallbackReaders{0};

void raiseSlotsInUse(std::size_t n) {
  std::size_t inUse = gSlotsInUse.load(std::memory_order_seq_cst);
  while (inUse < n && !gSlotsInUse.compare_exchange_weak(inUse, n, std::memory_order_seq_cst)) {
  }
}

// A free slot, claimed; the table grows by a block when every slot is taken.
// Null only when a block cannot be allocated.
HazardSlot* claimSlot() {
  SlotBlock* block = &gFirstBlock;
  for (std::size_t base = 0;; base += kSlotsPerBlock) {
    for (std::size_t i = 0; i < kSlotsPerBlock; ++i) {
      HazardSlot& slot = block->slots[i];
      bool expected = false;
      if (!slot.claimed.load(std::memory_order_relaxed) &&
          slot.claimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        raiseSlotsInUse(base + i + 1);
        return &slot;
      }
    }
    SlotBlock* next = block->next.load(std::memory_order_seq_cst);
    if (!next) {
      auto* fresh = new (std::nothrow) SlotBlock;
      if (!fresh) return nullptr;
      if (block->next.compare_exchange_strong(next, fresh, std::memory_order_seq_cst)) {
        next = fresh;
      } else {
        delete fresh;  // another thread linked one first; `next` is that one
      }
    }
    block = next;
  }
}

void releaseSlot(HazardSlot* slot) {
  slot->hazard.store(nullptr, std::memory_order_release);
  slot->claimed.store(false, std::memory_order_release);
}

// A thread's claim on a slot. Constant-initialised and trivially destructible,
// so reaching it costs no initialisation guard: the slot goes back to the
// table through SlotReturn instead.
struct ThreadSlot {
  HazardSlot* slot = nullptr;
  // The slot while no read is in progress on this thread, else null; the one
  // field the common read tests.
  HazardSlot* idle = nullptr;
  // Set once the thread's slot has gone back (the thread is ending).
  bool ended = false;
};

// In a dlopen'ed library this is reached through one __tls_get_addr call per
// read (about 13 instructions). The initial-exec model would save those but
// takes static TLS that the C library may not have left for a library loaded
// late (dlopen then fails); not worth it for 13 instructions.
constinit thread_local ThreadSlot tThreadSlot;

// Gives the thread's slot back when the thread ends. A read that still comes
// after it (from another thread_local destructor) borrows a slot.
struct SlotReturn {
  ~SlotReturn() {
    ThreadSlot& t = tThreadSlot;
    HazardSlot* s = t.slot;
    t.slot = t.idle = nullptr;
    t.ended = true;
    if (s) releaseSlot(s);
  }
};

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

[[gnu::always_inline]] inline RuleSetCell::Node* RuleSetCell::protect(void* s) const {
  auto* slot = static_cast<HazardSlot*>(s);
  Node* p = _current.load(std::memory_order_relaxed);
  for (;;) {
    slot->hazard.store(p, std::memory_order_seq_cst);
    Node* q = _current.load(std::memory_order_seq_cst);
    if (q == p) return p;
    p = q;
  }
}

RuleSetCell::Reader RuleSetCell::read() const {
  ThreadSlot* t = &tThreadSlot;
  // Computed once: the compiler would otherwise repeat the lookup at each use.
  asm("" : "+r"(t));
  HazardSlot* slot = t->idle;
  if (slot) [[likely]] {
    t->idle = nullptr;  // a nested read on this thread borrows another slot
    return Reader(protect(slot), slot, t);
  }
  return readSlow();
}

// The thread's first read claims its slot. A nested read, or one after the
// thread's slot went back, borrows a free slot for its length. A thread whose
// claim failed (no memory for a block) tries again on its next read.
RuleSetCell::Reader RuleSetCell::readSlow() const {
  ThreadSlot& t = tThreadSlot;
  if (!t.slot && !t.ended) {
    if (HazardSlot* own = claimSlot()) {
      [[maybe_unused]] thread_local SlotReturn slotReturn;
      t.slot = own;
      return Reader(protect(own), own, &t);
    }
  } else if (HazardSlot* borrowed = claimSlot()) {
    return Reader(protect(borrowed), borrowed, nullptr);
  }
  gFallbackReaders.fetch_add(1, std::memory_order_seq_cst);
  return Reader(_current.load(std::memory_order_seq_cst), nullptr, nullptr);
}

void RuleSetCell::Reader::release() {
  if (!_node) return;
  _node = nullptr;
  auto* slot = static_cast<HazardSlot*>(_slot);
  if (!slot) {
    gFallbackReaders.fetch_sub(1, std::memory_order_release);
  } else if (_owner) {
    slot->hazard.store(nullptr, std::memory_order_release);
    static_cast<ThreadSlot*>(_owner)->idle = slot;
  } else {
    releaseSlot(slot);
  }
}

std::size_t RuleSetCell::slotCount() {
  std::size_t count = 0;
  for (const SlotBlock* b = &gFirstBlock; b; b = b->next.load(std::memory_order_acquire))
    count += kSlotsPerBlock;
  return count;
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
    std::size_t seen = 0;
    for (const SlotBlock* b = &gFirstBlock; b && seen < inUse;
         b = b->next.load(std::memory_order_seq_cst)) {
      for (std::size_t i = 0; i < kSlotsPerBlock && seen < inUse; ++i, ++seen) {
        if (const void* h = b->slots[i].hazard.load(std::memory_order_seq_cst))
          hazards.push_back(h);
      }
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
