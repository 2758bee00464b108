// SCTP: the DATA chunks of a packet, and reassembly that makes messages whole
// again with memory that stays bounded.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Encode.hpp"
#include "Sctp.hpp"

namespace {

using qs::Bytes;
using qs::Skip;

TEST(sctp_chunks, gives_every_data_chunk_of_a_bundle) {
  auto p = gen::net::sctp(1, 2, 3,
                          {gen::net::sackChunk(5), gen::net::dataChunk(3, 10, 1, 0, 3, {1}),
                           gen::net::heartbeatChunk(), gen::net::dataChunk(3, 11, 2, 0, 3, {2, 2}),
                           gen::net::dataChunk(1, 12, 3, 0, 5, {3, 3, 3})});
  std::vector<qs::DataChunk> seen;
  auto info = qs::sctpChunks(p, [&](const qs::DataChunk& c) { seen.push_back(c); });
  EXPECT_EQ(info.skip, Skip::none);
  EXPECT_EQ(info.srcPort, 1);
  EXPECT_EQ(info.dstPort, 2);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].tsn, 10u);
  EXPECT_EQ(seen[1].userData.size(), 2u);
  EXPECT_EQ(seen[2].ppid, 5u);
  EXPECT_TRUE(seen[2].end());
  EXPECT_FALSE(seen[2].begin());
}

TEST(sctp_chunks, delivers_chunks_before_damage) {
  auto p = gen::net::sctp(1, 2, 3,
                          {gen::net::dataChunk(3, 10, 1, 0, 3, {1, 2, 3, 4}),
                           gen::net::dataChunk(3, 11, 1, 0, 3, {5, 6, 7, 8})});
  int n = 0;
  auto cut = qs::sctpChunks(Bytes(p.data(), p.size() - 1), [&](const qs::DataChunk&) { ++n; });
  EXPECT_EQ(n, 1);
  EXPECT_EQ(cut.skip, Skip::truncated);

  auto zero = p;
  zero[12 + 20 + 2] = 0;
  zero[12 + 20 + 3] = 2;  // second chunk's length 2
  n = 0;
  EXPECT_EQ(qs::sctpChunks(zero, [&](const qs::DataChunk&) { ++n; }).skip, Skip::badSctp);
  EXPECT_EQ(n, 1);
}

TEST(sctp_chunks, reads_i_data) {
  auto p = gen::net::sctp(1, 2, 3,
                          {gen::net::iDataChunk(0x02, 7, 4, 99, 3, {1, 2}),
                           gen::net::iDataChunk(0x01, 8, 4, 99, 1, {3})});
  std::vector<qs::DataChunk> seen;
  qs::sctpChunks(p, [&](const qs::DataChunk& c) { seen.push_back(c); });
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(seen[0].idata);
  EXPECT_EQ(seen[0].ppid, 3u);
  EXPECT_EQ(seen[0].mid, 99u);
  EXPECT_EQ(seen[1].fsn, 1u);
  EXPECT_EQ(seen[1].ppid, 0u);
}

// The handler for whole chunks sees exactly those (DATA or I-DATA, not
// fragments), with what the DataChunk would hold; what it declines goes on to
// onData, in order with the rest.
TEST(sctp_chunks, offers_whole_chunks_first_and_passes_on_what_is_declined) {
  auto p = gen::net::sctp(
      1, 2, 3,
      {gen::net::dataChunk(3, 10, 1, 0, 3, {1}), gen::net::dataChunk(2, 11, 2, 0, 3, {2, 2}),
       gen::net::iDataChunk(0x03, 12, 3, 99, 3, {3}),
       gen::net::dataChunk(3, 13, 4, 0, 5, {4, 4, 4}), gen::net::dataChunk(3, 14, 5, 0, 3, {}),
       gen::net::iDataChunk(0x03, 15, 6, 100, 5, {6, 6})});
  std::vector<std::pair<char, std::uint16_t>> order;  // 'w' taken whole, 'd' onData; stream
  std::vector<qs::DataChunk> declined;
  auto info = qs::sctpChunks(
      p,
      [&](const qs::DataChunk& c) {
        order.emplace_back('d', c.stream);
        declined.push_back(c);
      },
      [&](std::uint32_t ppid, std::uint16_t stream, Bytes user) {
        if (ppid != 3) return false;
        EXPECT_EQ(user.size(), stream == 5 ? 0u : 1u);
        order.emplace_back('w', stream);
        return true;
      });
  EXPECT_EQ(info.skip, Skip::none);
  EXPECT_EQ(info.dataChunks, 6);
  const std::vector<std::pair<char, std::uint16_t>> expected{{'w', 1}, {'d', 2}, {'w', 3},
                                                             {'d', 4}, {'w', 5}, {'d', 6}};
  EXPECT_EQ(order, expected);
  ASSERT_EQ(declined.size(), 3u);
  EXPECT_EQ(declined[0].tsn, 11u);
  EXPECT_EQ(declined[1].ppid, 5u);
  EXPECT_EQ(declined[1].userData.size(), 3u);
  EXPECT_TRUE(declined[2].idata);
  EXPECT_EQ(declined[2].mid, 100u);
  EXPECT_EQ(declined[2].ppid, 5u);
  EXPECT_EQ(declined[2].userData.size(), 2u);
}

struct Feed {
  qs::SctpReassembler r;
  qs::SkipCounts dropped;
  std::vector<std::uint8_t> storage;

  explicit Feed(qs::ReassemblyLimits l = {}) : r(l) {}

  qs::SctpReassembler::Result add(const qs::SctpFlow& f, std::uint8_t flags, std::uint32_t seq,
                                  std::vector<std::uint8_t> data, bool idata = false,
                                  std::uint32_t mid = 0) {
    storage = std::move(data);
    qs::DataChunk c;
    c.flags = flags;
    c.idata = idata;
    c.userData = storage;
    c.ppid = 3;
    c.mid = mid;
    if (idata)
      c.fsn = seq;
    else
      c.tsn = seq;
    return r.add(f, c, dropped);
  }
};

constexpr std::uint8_t B = qs::kFlagBegin, E = qs::kFlagEnd, M = 0;

qs::SctpFlow flow(std::uint16_t stream = 1, std::uint8_t host = 1) {
  qs::SctpFlow f;
  f.src[0] = host;
  f.srcPort = 2905;
  f.dstPort = 2905;
  f.stream = stream;
  return f;
}

std::vector<std::uint8_t> bytesOf(qs::Bytes b) {
  return {b.begin(), b.end()};
}

TEST(sctp_reassembly, joins_fragments_in_order) {
  Feed f;
  EXPECT_EQ(f.add(flow(), B, 10, {1, 2}).skip, Skip::sctpFragment);
  EXPECT_EQ(f.add(flow(), M, 11, {3}).skip, Skip::sctpFragment);
  auto r = f.add(flow(), E, 12, {4, 5});
  ASSERT_EQ(r.skip, Skip::none);
  EXPECT_EQ(bytesOf(r.message), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(r.ppid, 3u);
  EXPECT_EQ(f.r.pending(), 0u);
  EXPECT_EQ(f.r.heldBytes(), 0u);
}

TEST(sctp_reassembly, keeps_flows_apart) {
  Feed f;
  f.add(flow(1), B, 10, {1});
  f.add(flow(2), B, 20, {9});
  f.add(flow(1, 2), B, 30, {7});  // same stream, another association
  EXPECT_EQ(bytesOf(f.add(flow(2), E, 21, {8}).message), (std::vector<std::uint8_t>{9, 8}));
  EXPECT_EQ(bytesOf(f.add(flow(1), E, 11, {2}).message), (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(f.r.pending(), 1u);
}

TEST(sctp_reassembly, waits_for_a_missing_fragment) {
  Feed f;
  f.add(flow(), B, 10, {1});
  EXPECT_EQ(f.add(flow(), E, 12, {3}).skip, Skip::sctpFragment);
  EXPECT_EQ(f.r.pending(), 1u);
  EXPECT_EQ(bytesOf(f.add(flow(), M, 11, {2}).message), (std::vector<std::uint8_t>{1, 2, 3}));
  // A last fragment far from every message held starts one of its own.
  EXPECT_EQ(f.add(flow(), E, 40000, {3}).skip, Skip::sctpFragment);
  EXPECT_EQ(f.r.pending(), 1u);
}

// Retransmissions and reordering, as SCTP senders and capture points produce
// them: each ordering gives the message once, whole and in TSN order.
TEST(sctp_reassembly, joins_fragments_in_any_order_and_drops_copies) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> fragments;  // flags, TSN
  };
  const Case cases[] = {
      {"B1 M2 B1 E3: first fragment retransmitted", {{B, 1}, {M, 2}, {B, 1}, {E, 3}}},
      {"B1 M2 M2 E3", {{B, 1}, {M, 2}, {M, 2}, {E, 3}}},
      {"E3 M2 B1", {{E, 3}, {M, 2}, {B, 1}}},
      {"M2 E3 B1", {{M, 2}, {E, 3}, {B, 1}}},
      {"B1 E3 M2", {{B, 1}, {E, 3}, {M, 2}}},
      {"M2 B1 M2 E3", {{M, 2}, {B, 1}, {M, 2}, {E, 3}}},
      {"E3 E3 B1 M2", {{E, 3}, {E, 3}, {B, 1}, {M, 2}}},
  };
  for (const auto& k : cases) {
    Feed f;
    int completed = 0;
    for (auto [flags, tsn] : k.fragments) {
      auto r = f.add(flow(), flags, tsn, {static_cast<std::uint8_t>(tsn), 0xAA});
      if (r.skip == Skip::none) {
        ++completed;
        EXPECT_EQ(bytesOf(r.message), (std::vector<std::uint8_t>{1, 0xAA, 2, 0xAA, 3, 0xAA}))
            << k.name;
      }
    }
    EXPECT_EQ(completed, 1) << k.name;
    EXPECT_EQ(f.r.pending(), 0u) << k.name;
    EXPECT_EQ(f.r.heldBytes(), 0u) << k.name;
    EXPECT_EQ(f.dropped.total(), 0u) << k.name;
    // A copy arriving after the message completed is recognised as one.
    EXPECT_EQ(f.add(flow(), M, 2, {2, 0xAA}).skip, Skip::sctpDuplicate) << k.name;
    EXPECT_EQ(f.r.pending(), 0u) << k.name;
  }
}

TEST(sctp_reassembly, keeps_two_messages_of_a_stream_apart_when_reordered) {
  Feed f;
  // B1 M2 E3 and B4 E5, arriving B1 B4 M2 E5 E3.
  f.add(flow(), B, 1, {1});
  f.add(flow(), B, 4, {4});
  f.add(flow(), M, 2, {2});
  EXPECT_EQ(bytesOf(f.add(flow(), E, 5, {5}).message), (std::vector<std::uint8_t>{4, 5}));
  EXPECT_EQ(bytesOf(f.add(flow(), E, 3, {3}).message), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(f.dropped.total(), 0u);
}

TEST(sctp_reassembly, i_data_duplicates_are_dropped_by_mid_and_fsn) {
  Feed f;
  auto s = flow();
  s.idata = true;
  s.mid = 7;
  f.add(s, B, 0, {1}, true, 7);
  f.add(s, M, 1, {2}, true, 7);
  EXPECT_EQ(f.add(s, B, 0, {1}, true, 7).skip, Skip::sctpDuplicate);
  EXPECT_EQ(f.add(s, M, 1, {2}, true, 7).skip, Skip::sctpDuplicate);
  EXPECT_EQ(bytesOf(f.add(s, E, 2, {3}, true, 7).message), (std::vector<std::uint8_t>{1, 2, 3}));
  // Out of order: E before M.
  auto t = s;
  t.mid = 8;
  f.add(t, B, 0, {4}, true, 8);
  f.add(t, E, 2, {6}, true, 8);
  EXPECT_EQ(bytesOf(f.add(t, M, 1, {5}, true, 8).message), (std::vector<std::uint8_t>{4, 5, 6}));
}

TEST(sctp_reassembly, bounds_the_fragments_of_one_message) {
  Feed f(
      {.maxMessageBytes = 1000, .maxTotalBytes = 1000, .maxPartialMessages = 4, .maxFragments = 8});
  f.add(flow(), B, 1, {1});
  for (std::uint32_t t = 2; t <= 8; ++t) f.add(flow(), M, t, {1});
  EXPECT_EQ(f.add(flow(), M, 9, {1}).skip, Skip::reassemblyLimit);
  EXPECT_EQ(f.r.pending(), 0u);
  EXPECT_EQ(f.add(flow(), E, 10, {1}).skip, Skip::reassemblyGap);
}

TEST(sctp_reassembly, counts_a_message_abandoned_by_a_new_first_fragment) {
  Feed f;
  f.add(flow(), B, 10, {1});
  f.add(flow(), B, 11, {5});
  EXPECT_EQ(f.dropped[Skip::reassemblyGap], 1u);
  EXPECT_EQ(bytesOf(f.add(flow(), E, 12, {6}).message), (std::vector<std::uint8_t>{5, 6}));
}

TEST(sctp_reassembly, serial_numbers_wrap) {
  Feed f;
  f.add(flow(), B, 0xFFFFFFFF, {1});
  EXPECT_EQ(bytesOf(f.add(flow(), E, 0, {2}).message), (std::vector<std::uint8_t>{1, 2}));
}

TEST(sctp_reassembly, interleaves_i_data_messages_by_mid) {
  Feed f;
  auto s = flow();
  s.idata = true;
  auto s7 = s, s8 = s;
  s7.mid = 7;
  s8.mid = 8;
  f.add(s7, B, 0, {1}, true, 7);
  f.add(s8, B, 0, {5}, true, 8);
  f.add(s7, M, 1, {2}, true, 7);
  EXPECT_EQ(bytesOf(f.add(s8, E, 1, {6}, true, 8).message), (std::vector<std::uint8_t>{5, 6}));
  EXPECT_EQ(bytesOf(f.add(s7, E, 2, {3}, true, 7).message), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(sctp_reassembly, drops_a_message_longer_than_the_bound) {
  Feed f({.maxMessageBytes = 8, .maxTotalBytes = 100, .maxPartialMessages = 4});
  f.add(flow(), B, 1, std::vector<std::uint8_t>(6, 1));
  EXPECT_EQ(f.add(flow(), M, 2, std::vector<std::uint8_t>(6, 1)).skip, Skip::reassemblyLimit);
  EXPECT_EQ(f.r.pending(), 0u);
  EXPECT_EQ(f.r.heldBytes(), 0u);
  // The rest of that message finds nothing to continue.
  EXPECT_EQ(f.add(flow(), E, 3, {1}).skip, Skip::reassemblyGap);
}

TEST(sctp_reassembly, evicts_the_oldest_message_to_stay_within_the_total) {
  Feed f({.maxMessageBytes = 64, .maxTotalBytes = 100, .maxPartialMessages = 8});
  f.add(flow(1), B, 1, std::vector<std::uint8_t>(40, 1));
  f.add(flow(2), B, 1, std::vector<std::uint8_t>(40, 2));
  f.add(flow(3), B, 1, std::vector<std::uint8_t>(40, 3));  // flow 1 goes
  EXPECT_EQ(f.dropped[Skip::reassemblyLimit], 1u);
  EXPECT_LE(f.r.heldBytes(), 100u);
  EXPECT_EQ(f.add(flow(1), E, 2, {1}).skip, Skip::reassemblyGap);
  EXPECT_EQ(f.add(flow(3), E, 2, {3}).message.size(), 41u);
}

TEST(sctp_reassembly, evicts_the_oldest_message_when_all_slots_are_taken) {
  Feed f({.maxMessageBytes = 64, .maxTotalBytes = 1000, .maxPartialMessages = 2});
  f.add(flow(1), B, 1, {1});
  f.add(flow(2), B, 1, {2});
  f.add(flow(1), M, 2, {1});  // flow 1 is now the more recent
  f.add(flow(3), B, 1, {3});  // flow 2 goes
  EXPECT_EQ(f.dropped[Skip::reassemblyLimit], 1u);
  EXPECT_EQ(f.add(flow(2), E, 2, {2}).skip, Skip::reassemblyGap);
  EXPECT_EQ(f.add(flow(1), E, 3, {1}).message.size(), 3u);
}

// Whatever arrives, what is held stays within the bounds: a capture full of
// first fragments that never end does not make memory grow.
TEST(sctp_reassembly, memory_stays_bounded_on_unending_fragments) {
  qs::ReassemblyLimits limits{
      .maxMessageBytes = 4096, .maxTotalBytes = 64 * 1024, .maxPartialMessages = 16};
  Feed f(limits);
  for (std::uint32_t i = 0; i < 20000; ++i) {
    auto fl = flow(static_cast<std::uint16_t>(i % 1000), static_cast<std::uint8_t>(i % 7));
    f.add(fl, i % 3 == 0 ? B : M, i, std::vector<std::uint8_t>(1 + i % 3000, 0xEE));
    ASSERT_LE(f.r.heldBytes(), limits.maxTotalBytes);
    ASSERT_LE(f.r.pending(), limits.maxPartialMessages);
  }
  EXPECT_GT(f.dropped.total(), 0u);
}

}  // namespace
