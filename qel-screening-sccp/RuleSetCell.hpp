// The one published RuleSet of a filter, read without locks or shared writes.
//
// Readers protect the set they use with a hazard pointer: a slot of their own
// in a cache-line-padded table shared by every filter of the plug-in. The table
// grows in blocks that never move and are never freed, and a slot goes back to
// it when its thread ends, so it holds as many slots as threads ever read at
// once. Writers build a new set, publish it with a compare-and-swap (retrying
// when another writer got there first, so no write is lost), retire the old
// set and free every retired set that no slot holds: the sets alive are the
// current one plus at most one per slot, whatever the number of threads.
// A nested read on one thread borrows a free slot for its length. Only when a
// block cannot be allocated does a reader fall back to a shared count that
// makes writers defer freeing; correct, only slower.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "RuleSet.hpp"

namespace qel {

class RuleSetCell {
  struct Node {
    RuleSet rules;
    Node* retiredNext = nullptr;
  };

 public:
  // Starts with an empty rule set: every list absent, every flag false.
  RuleSetCell();
  ~RuleSetCell();
  RuleSetCell(const RuleSetCell&) = delete;
  RuleSetCell& operator=(const RuleSetCell&) = delete;

  // Keeps the rule set it was given alive until it goes out of scope.
  class Reader {
   public:
    Reader(Reader&& other) noexcept : _node(other._node), _slot(other._slot), _owner(other._owner) {
      other._node = nullptr;
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    Reader& operator=(Reader&&) = delete;
    ~Reader() { release(); }

    const RuleSet& operator*() const { return _node->rules; }
    const RuleSet* operator->() const { return &_node->rules; }

   private:
    friend class RuleSetCell;
    Reader(Node* node, void* slot, void* owner) : _node(node), _slot(slot), _owner(owner) {}
    void release();

    Node* _node;
    void* _slot;   // the hazard slot, or nullptr for the shared fallback
    void* _owner;  // the thread's own slot record, or nullptr for a borrowed slot
  };

  Reader read() const;
  // Slots the table holds (for tests: it grows with the threads that read at once).
  static std::size_t slotCount();

  // Publishes change(copy of the current set). `change` may run more than once
  // (once per lost race), each time on a fresh copy of the then current set.
  template <class Change>
  void update(Change&& change) {
    for (;;) {
      // Holding the base set keeps its address from being reused before the
      // compare-and-swap, which would otherwise succeed against a newer set.
      Reader base = read();
      NodePtr next = copyOf(*base);
      change(next->rules);
      reindex(next->rules);
      if (tryPublish(base, next)) return;
    }
  }

  // Retired sets not yet freed, and sets alive in all (current + retired).
  std::size_t retiredCount() const;
  std::size_t liveCount() const { return _live.load(std::memory_order_acquire); }
  // Frees every retired set that no reader holds; writers do this themselves.
  void reclaim();

 private:
  struct NodeDeleter {
    const RuleSetCell* cell;
    void operator()(Node* n) const;
  };
  using NodePtr = std::unique_ptr<Node, NodeDeleter>;

  NodePtr copyOf(const RuleSet& rules);
  Reader readSlow() const;
  Node* protect(void* slot) const;
  // Publishes next in place of base's set; on success releases base, retires
  // its set and frees what it can.
  bool tryPublish(Reader& base, NodePtr& next);
  void retire(Node* node);
  void destroy(Node* node) const;

  std::atomic<Node*> _current;
  std::atomic<Node*> _retired{nullptr};
  mutable std::atomic<std::size_t> _live{0};
};

}  // namespace qel
