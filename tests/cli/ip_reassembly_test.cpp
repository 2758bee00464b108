// IP fragment reassembly: datagrams whole again whatever the order, overlaps
// and impossible lengths given up as a receiving host does, memory bounded.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "Encode.hpp"
#include "Extractor.hpp"
#include "IpReassembly.hpp"

namespace {

using qs::Skip;

constexpr std::int64_t kSecond = 1'000'000'000;

// An SCTP packet of `n` octets after its common header, easy to recognise.
gen::Bytes payload(std::size_t n) {
  gen::Bytes b(n);
  std::iota(b.begin(), b.end(), std::uint8_t{1});
  return b;
}

gen::Bytes v4(std::uint16_t id, std::uint32_t offset, bool more, const gen::Bytes& data,
              std::uint8_t host = 1) {
  auto fragment = static_cast<std::uint16_t>(offset / 8 | (more ? 0x2000 : 0));
  return gen::net::ipv4({10, 0, 0, host}, {10, 0, 0, 200}, 132, data, id, fragment);
}

// IPv6 with `before` (extension headers that precede the fragment header,
// their first octet naming the fragment header) when `first` is set.
gen::Bytes v6(std::uint32_t id, std::uint32_t offset, bool more, const gen::Bytes& data,
              const gen::Bytes& before = {}) {
  gen::Bytes b = before;
  gen::Bytes frag{132, 0};
  gen::put16(frag, offset | (more ? 1u : 0u));
  gen::put32(frag, id);
  gen::append(b, frag);
  gen::append(b, data);
  return gen::net::ipv6({0x20, 1, 0x0d, 0xb8}, {0x20, 1, 0x0d, 0xb8, 1}, before.empty() ? 44 : 0,
                        b);
}

gen::Bytes slice(const gen::Bytes& b, std::size_t from, std::size_t to) {
  return {b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to)};
}

struct Feed {
  qs::IpReassembler r;
  qs::SkipCounts givenUp;
  std::uint64_t frame = 0;
  gen::Bytes last;

  explicit Feed(qs::IpReassemblyLimits l = {}) : r(l) {}

  qs::IpReassembler::Result add(const gen::Bytes& packet, std::int64_t time = 0) {
    last = packet;  // the reassembler must not keep views into it
    auto v = (packet[0] >> 4) == 4 ? qs::ipv4(last) : qs::ipv6(last);
    EXPECT_EQ(v.skip, Skip::ipFragment);
    auto result = r.add(v, last, ++frame, time, givenUp);
    std::fill(last.begin(), last.end(), 0xEE);
    return result;
  }
};

template <class T>
std::vector<std::remove_const_t<T>> bytesOf(std::span<T> b) {
  return {b.begin(), b.end()};
}

TEST(ip_reassembly, joins_ipv4_fragments_in_every_order) {
  const gen::Bytes data = payload(60);
  const std::vector<gen::Bytes> parts = {v4(7, 0, true, slice(data, 0, 24)),
                                         v4(7, 24, true, slice(data, 24, 48)),
                                         v4(7, 48, false, slice(data, 48, 60))};
  std::vector<int> order{0, 1, 2};
  do {
    Feed f;
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
      EXPECT_EQ(f.add(parts[static_cast<std::size_t>(order[i])]).skip, Skip::ipFragment);
    auto r = f.add(parts[static_cast<std::size_t>(order.back())]);
    ASSERT_EQ(r.skip, Skip::none);
    auto whole = qs::ipv4(r.datagram);
    ASSERT_EQ(whole.skip, Skip::none);
    EXPECT_EQ(bytesOf(whole.payload), data);
    EXPECT_EQ(bytesOf(r.frames), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(f.r.pending(), 0u);
    EXPECT_EQ(f.r.heldBytes(), 0u);
    EXPECT_EQ(f.givenUp.total(), 0u);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(ip_reassembly, keeps_datagrams_of_different_sources_and_ids_apart) {
  Feed f;
  gen::Bytes a = payload(16), b(16, 0x77);
  f.add(v4(1, 0, true, slice(a, 0, 8), 1));
  f.add(v4(1, 0, true, slice(b, 0, 8), 2));    // same id, other source
  f.add(v4(2, 8, false, slice(b, 8, 16), 1));  // same source, other id
  EXPECT_EQ(f.r.pending(), 3u);
  auto r = f.add(v4(1, 8, false, slice(b, 8, 16), 2));
  ASSERT_EQ(r.skip, Skip::none);
  EXPECT_EQ(bytesOf(qs::ipv4(r.datagram).payload), b);
  EXPECT_EQ(bytesOf(r.frames), (std::vector<std::uint64_t>{2, 4}));
}

TEST(ip_reassembly, ignores_repeated_fragments_and_records_their_frames) {
  Feed f;
  gen::Bytes d = payload(24);
  f.add(v4(3, 0, true, slice(d, 0, 16)));
  EXPECT_EQ(f.add(v4(3, 0, true, slice(d, 0, 16))).skip, Skip::ipFragment);
  EXPECT_EQ(f.add(v4(3, 8, true, slice(d, 8, 16))).skip, Skip::ipFragment);  // inside: repeat
  auto r = f.add(v4(3, 16, false, slice(d, 16, 24)));
  ASSERT_EQ(r.skip, Skip::none);
  EXPECT_EQ(bytesOf(qs::ipv4(r.datagram).payload), d);
  EXPECT_EQ(bytesOf(r.frames), (std::vector<std::uint64_t>{1, 2, 3, 4}));
  EXPECT_EQ(f.givenUp.total(), 0u);
}

TEST(ip_reassembly, gives_up_datagrams_whose_fragments_overlap) {
  Feed f;
  gen::Bytes d = payload(32);
  f.add(v4(4, 0, true, slice(d, 0, 16)));
  f.add(v4(4, 8, true, gen::Bytes(16, 0xAA)));  // 8..24 over 0..16
  EXPECT_EQ(f.givenUp[Skip::ipReassemblyOverlap], 1u);
  EXPECT_EQ(f.r.pending(), 0u);
  // What follows starts a datagram that cannot complete.
  EXPECT_EQ(f.add(v4(4, 16, false, slice(d, 16, 32))).skip, Skip::ipFragment);
  EXPECT_EQ(f.r.pending(), 1u);
}

TEST(ip_reassembly, gives_up_impossible_lengths) {
  gen::Bytes d = payload(32);
  {
    Feed f;  // two different ends
    f.add(v4(5, 8, false, slice(d, 8, 16)));
    f.add(v4(5, 16, false, slice(d, 16, 32)));
    EXPECT_EQ(f.givenUp[Skip::ipReassemblyBadLength], 1u);
  }
  {
    Feed f;  // data past the end
    f.add(v4(5, 8, false, slice(d, 8, 16)));
    f.add(v4(5, 16, true, slice(d, 16, 32)));
    EXPECT_EQ(f.givenUp[Skip::ipReassemblyBadLength], 1u);
  }
  {
    Feed f;  // an end before data already held
    f.add(v4(5, 16, true, slice(d, 16, 32)));
    f.add(v4(5, 8, false, slice(d, 8, 16)));
    EXPECT_EQ(f.givenUp[Skip::ipReassemblyBadLength], 1u);
  }
  {
    Feed f;  // beyond 65,535 octets: the highest offset and more data
    f.add(v4(5, 0, true, slice(d, 0, 16)));
    f.add(v4(5, 0x1FFF * 8, false, slice(d, 0, 32)));
    EXPECT_EQ(f.givenUp[Skip::ipReassemblyBadLength], 1u);
    EXPECT_EQ(f.r.pending(), 0u);
  }
}

TEST(ip_reassembly, gives_up_a_datagram_after_thirty_seconds_of_capture_time) {
  Feed f;
  gen::Bytes d = payload(16);
  f.add(v4(6, 0, true, slice(d, 0, 8)), 0);
  EXPECT_EQ(f.add(v4(6, 8, false, slice(d, 8, 16)), 30 * kSecond).skip, Skip::none);
  f.add(v4(6, 0, true, slice(d, 0, 8)), 100 * kSecond);
  // Its end comes too late: a new datagram waits for a start.
  EXPECT_EQ(f.add(v4(6, 8, false, slice(d, 8, 16)), 130 * kSecond + 1).skip, Skip::ipFragment);
  EXPECT_EQ(f.givenUp[Skip::ipReassemblyTimeout], 1u);
  EXPECT_EQ(f.r.pending(), 1u);
}

TEST(ip_reassembly, joins_ipv6_fragments_after_the_unfragmentable_headers) {
  gen::Bytes d = payload(40);
  gen::Bytes hopByHop{44, 0, 1, 4, 0, 0, 0, 0};  // next: fragment; PadN
  Feed f;
  EXPECT_EQ(f.add(v6(0x01020304, 16, false, slice(d, 16, 40), hopByHop)).skip, Skip::ipFragment);
  auto r = f.add(v6(0x01020304, 0, true, slice(d, 0, 16), hopByHop));
  ASSERT_EQ(r.skip, Skip::none);
  auto whole = qs::ipv6(r.datagram);
  ASSERT_EQ(whole.skip, Skip::none);
  EXPECT_EQ(bytesOf(whole.payload), d);
  EXPECT_EQ(r.datagram.size(), 40u + 8 + 40);
}

TEST(ip_reassembly, drops_ipv6_fragments_not_a_multiple_of_eight) {
  Feed f;
  EXPECT_EQ(f.add(v6(9, 0, true, payload(12))).skip, Skip::badIp);
  EXPECT_EQ(f.r.pending(), 0u);
}

TEST(ip_reassembly, holds_a_bounded_number_of_datagrams_through_100000_unfinished_fragments) {
  qs::IpReassemblyLimits limits;
  Feed f(limits);
  gen::Bytes piece = payload(64);
  std::size_t most = 0, mostBytes = 0;
  for (std::uint32_t i = 0; i < 100'000; ++i) {
    // Never a last fragment: nothing completes.
    f.add(v4(static_cast<std::uint16_t>(i), 8, true, piece, static_cast<std::uint8_t>(i >> 16)),
          static_cast<std::int64_t>(i) * 1000);
    most = std::max(most, f.r.pending());
    mostBytes = std::max(mostBytes, f.r.heldBytes());
  }
  EXPECT_EQ(most, limits.maxDatagrams);
  EXPECT_LE(mostBytes, limits.maxTotalBytes);
  EXPECT_EQ(f.givenUp[Skip::ipReassemblyLimit], 100'000 - limits.maxDatagrams);
}

TEST(ip_reassembly, holds_a_bounded_number_of_bytes_when_datagrams_are_large) {
  qs::IpReassemblyLimits limits;
  limits.maxTotalBytes = 1 << 20;
  Feed f(limits);
  gen::Bytes piece = payload(1480);
  std::size_t mostBytes = 0;
  for (std::uint32_t i = 0; i < 5'000; ++i) {
    // Fragments far into their datagrams, so that each holds ~60 KiB.
    f.add(v4(static_cast<std::uint16_t>(i), 60000, true, piece), 0);
    mostBytes = std::max(mostBytes, f.r.heldBytes());
  }
  EXPECT_LE(mostBytes, limits.maxTotalBytes);
  EXPECT_GT(f.givenUp[Skip::ipReassemblyLimit], 4'900u);
}

// Through the extractor: the message is read in the frame of the last
// fragment, and knows the frames of all of them.
struct Frames : qs::UnitSink {
  std::vector<std::vector<std::uint64_t>> fragmentFrames;
  std::vector<std::vector<std::uint8_t>> units;
  void onUnit(const qs::SccpUnit& u, std::uint32_t) override {
    units.emplace_back(u.bytes.begin(), u.bytes.end());
    fragmentFrames.emplace_back(u.ipFragmentFrames.begin(), u.ipFragmentFrames.end());
  }
};

TEST(extractor, reads_a_message_from_fragmented_datagrams_in_the_frame_of_the_last) {
  gen::sccp::Address called, calling;
  called.digits = "123";
  called.ssn = 6;
  calling.digits = "456";
  calling.ssn = 8;
  gen::Bytes sccp = gen::sccp::udt(called, calling, gen::Bytes(200, 0x5A));
  gen::Bytes s = gen::net::sctp(
      2905, 2905, 1,
      {gen::net::dataChunk(3, 1, 1, 0, 3, gen::sigtran::m3uaData(1, 2, 3, 0, sccp))});
  qs::Extractor x;
  x.start(qs::dlt::raw);
  Frames c;
  EXPECT_EQ(x.frame(v4(9, 96, true, slice(s, 96, 200)), c, {5, 0, -1}), 0u);
  EXPECT_EQ(x.frame(v4(9, 200, false, slice(s, 200, s.size())), c, {6, 0, -1}), 0u);
  // Another link type for this frame alone, as pcapng interfaces give.
  auto first = gen::net::ethernet(gen::net::etherIpv4, v4(9, 0, true, slice(s, 0, 96)));
  EXPECT_EQ(x.frame(first, c, {7, 0, qs::dlt::ethernet}), 1u);
  ASSERT_EQ(c.units.size(), 1u);
  EXPECT_EQ(c.units[0], sccp);
  EXPECT_EQ(c.fragmentFrames[0], (std::vector<std::uint64_t>{5, 6, 7}));
  EXPECT_EQ(x.counts().framesWithout[Skip::ipFragment], 2u);
  // One that never completes is counted when the capture ends.
  x.frame(v4(10, 0, true, slice(s, 0, 96)), c, {8, 0, -1});
  x.finish();
  EXPECT_EQ(x.counts().other[Skip::ipReassemblyIncomplete], 1u);
}

}  // namespace
