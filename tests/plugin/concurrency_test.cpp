// Screens, setters and getters on one filter at once. Run under
// ThreadSanitizer (label tsan) it checks the publication protocol; in any
// build it checks that concurrent setters lose no write.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

constexpr int kRounds = 3000;

TEST(Concurrency, ConcurrentSettersLoseNoWrite) {
  QelScreeningSCCP f;
  using Setter = void (QelScreeningSCCP::*)(PXListRef);
  using Getter = PXListRef (QelScreeningSCCP::*)() const;
  const std::array<std::pair<Setter, Getter>, 4> fields = {{
      {&QelScreeningSCCP::setAllowedTT, &QelScreeningSCCP::allowedTT},
      {&QelScreeningSCCP::setDeniedTT, &QelScreeningSCCP::deniedTT},
      {&QelScreeningSCCP::setAllowedOP, &QelScreeningSCCP::allowedOP},
      {&QelScreeningSCCP::setDeniedOP, &QelScreeningSCCP::deniedOP},
  }};
  std::vector<PXListRef> last(std::size(fields));
  std::vector<std::thread> writers;
  for (std::size_t w = 0; w < std::size(fields); ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        auto list = px::makeList({i});
        (f.*fields[w].first)(list);
        last[w] = list;
      }
    });
  }
  std::thread flagWriter([&] {
    for (int i = 0; i < kRounds; ++i) f.setDefaultAllowCalled(static_cast<std::uint8_t>(i % 256));
  });
  for (auto& t : writers) t.join();
  flagWriter.join();
  for (std::size_t w = 0; w < std::size(fields); ++w) {
    EXPECT_EQ((f.*fields[w].second)().get(), last[w].get()) << "field " << w;
  }
  EXPECT_EQ(f.defaultAllowCalled(), (kRounds - 1) % 256);
  // All readers gone: at most the current set is alive after a final publish.
  f.setDeniedGOP(nullptr);
  EXPECT_EQ(f.ruleSetCell().liveCount(), 1u);
}

TEST(Concurrency, ScreensGettersAndSettersAtOnce) {
  QelScreeningSCCP f;
  const auto permitA = px::makeList({"4179"});
  const auto permitB = px::makeList({"41"});
  f.setAllowedCallingSccpPrefixE164(permitA);
  std::atomic<bool> stop{false};
  std::atomic<long> screened{0};

  qeltest::Begin storage;
  auto p = qeltest::packet(qeltest::Address{.digits = "41791234567"},
                           qeltest::Address{.tt = 0, .digits = "2280"});
  storage.addInvoke(p, 45);
  storage.addForwardSM(p, 46, 0x80, "228011234567890");

  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
        const auto v = f.screenSccpPacketInbound(&p, nullptr);
        // The calling address is always in the allowed list; other rules only
        // add operation permits or the deny of code 99 which never occurs.
        EXPECT_EQ(v, PXSccpScreening_explicitlyPermitted);
        screened.fetch_add(1, std::memory_order_relaxed);
      }
    });
  }
  threads.emplace_back([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      auto l = f.allowedCallingSccpPrefixE164();
      EXPECT_TRUE(l == permitA || l == permitB);
      auto op = f.allowedOP();
      if (op) {
        EXPECT_EQ(op->size(), 1u);
      }
    }
  });
  // Keep writing until the readers have screened a good while, however the
  // scheduler shares the cores.
  for (int i = 0; i < kRounds || screened.load(std::memory_order_relaxed) < 20000; ++i) {
    f.setAllowedCallingSccpPrefixE164(i % 2 ? permitA : permitB);
    f.setAllowedOP(px::makeList({45}));
    f.setDeniedOP(i % 3 ? px::makeList({99}) : nullptr);
    f.setDefaultAllowTT(0);
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_GT(screened.load(), 0);
  f.setAllowedOP(nullptr);
  EXPECT_EQ(f.ruleSetCell().liveCount(), 1u);
}

TEST(Concurrency, MoreThreadsThanHazardSlotsStillScreenCorrectly) {
  QelScreeningSCCP f;
  f.setDefaultDenyTT(1);
  f.setDefaultAllowTT(1);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 160; ++t) {
    threads.emplace_back([&] {
      PXSCCP_Packet p;
      for (int i = 0; i < 50 && !stop.load(); ++i) {
        const auto v = f.screenSccpPacketInbound(&p, nullptr);
        EXPECT_TRUE(v == PXSccpScreening_implicitlyDenied ||
                    v == PXSccpScreening_implicitlyPermitted);
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    f.setDefaultDenyTT(i % 2 ? 1 : 0);
    f.setDefaultAllowTT(1);
  }
  stop = true;
  for (auto& t : threads) t.join();
  f.setDefaultAllowTT(1);
  EXPECT_EQ(f.ruleSetCell().liveCount(), 1u);
}

// Slots are claimed on a thread's first screening and must go back to the
// table when the thread ends; otherwise, once as many threads as there are
// slots have come and gone, every reader falls back to the shared count.
TEST(Concurrency, ThreadsThatEndGiveTheirHazardSlotBack) {
  QelScreeningSCCP f;
  PXSCCP_Packet p;
  for (int t = 0; t < 300; ++t) {
    std::thread([&] { f.screenSccpPacketInbound(&p, nullptr); }).join();
  }
  // A reader on a slot of its own keeps only the set it holds alive; on the
  // shared fallback it would keep every retired set alive.
  std::atomic<bool> reading{false};
  std::atomic<bool> done{false};
  std::thread reader([&] {
    auto held = f.ruleSetCell().read();
    reading = true;
    while (!done) std::this_thread::yield();
  });
  while (!reading) std::this_thread::yield();
  f.setAllowedTT(px::makeList({1}));  // retires the set the reader holds
  f.setAllowedTT(px::makeList({2}));  // retires a set nobody holds
  EXPECT_EQ(f.ruleSetCell().liveCount(), 2u);
  done = true;
  reader.join();
}

// With more threads screening than one block of hazard slots holds, memory
// stays bounded while the rules change: every retired set that no thread
// holds is freed, so the sets alive never exceed the current one plus one
// per thread.
TEST(Concurrency, RuleSetsStayBoundedWithMoreThreadsThanSlots) {
  constexpr int kThreads = 160;
  constexpr int kReplacements = 300;
  QelScreeningSCCP f;
  std::vector<PXValue> entries;
  for (int i = 0; i < 20000; ++i) entries.emplace_back(std::to_string(1000000 + i));
  const PXListRef big = std::make_shared<const PXList>(std::move(entries));
  f.setDeniedCallingSccpPrefixE164(big);
  std::atomic<bool> stop{false};
  std::atomic<int> started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      PXSCCP_Packet p;
      f.screenSccpPacketInbound(&p, nullptr);
      started.fetch_add(1);
      // Each thread holds a set most of the time, as a slow screening does,
      // and sleeps while it does so that the writer is not starved.
      while (!stop.load(std::memory_order_relaxed)) {
        f.screenSccpPacketInbound(&p, nullptr);
        const auto held = f.ruleSetCell().read();
        std::this_thread::sleep_for(std::chrono::microseconds(300));
      }
    });
  }
  while (started.load() < kThreads) std::this_thread::yield();
  EXPECT_GE(qel::RuleSetCell::slotCount(), static_cast<std::size_t>(kThreads));
  std::size_t mostAlive = 0;
  for (int i = 0; i < kReplacements; ++i) {
    // A fresh list each time, as a reload gives: a set kept too long keeps it.
    f.setAllowedOP(px::makeList({i}));
    f.setDefaultAllowTT(static_cast<std::uint8_t>(i % 2));
    mostAlive = std::max(mostAlive, f.ruleSetCell().liveCount());
  }
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_LE(mostAlive, static_cast<std::size_t>(kThreads) + 2);
  f.setAllowedOP(nullptr);
  EXPECT_EQ(f.ruleSetCell().liveCount(), 1u);
}

// A nested read borrows a slot of its own: a set retired under it is kept,
// and one nobody holds is freed at once.
TEST(Concurrency, NestedReadsHoldOnlyTheirOwnSet) {
  QelScreeningSCCP f;
  qel::RuleSetCell& cell = const_cast<qel::RuleSetCell&>(f.ruleSetCell());
  {
    auto outer = cell.read();
    auto inner = cell.read();
    f.setAllowedTT(px::makeList({1}));  // retires the set both hold
    f.setAllowedTT(px::makeList({2}));  // retires a set nobody holds
    EXPECT_EQ(cell.liveCount(), 2u);
  }
  f.setAllowedTT(px::makeList({3}));
  EXPECT_EQ(cell.liveCount(), 1u);
}

}  // namespace
