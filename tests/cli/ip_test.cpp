// IPv4 and IPv6 headers: the SCTP payload, fragments described for
// reassembly, impossible headers refused.
#include <gtest/gtest.h>

#include "Encode.hpp"
#include "Ip.hpp"

namespace {

using qs::Bytes;
using qs::Skip;

gen::Bytes sctpWithOneChunk() {
  return gen::net::sctp(2905, 2905, 1, {gen::net::dataChunk(3, 1, 1, 0, 3, {1, 2, 3, 4})});
}

TEST(ipv4, stops_at_fragments_and_other_transports) {
  auto s = sctpWithOneChunk();
  gen::net::Ip4 a{10, 0, 0, 1}, b{10, 0, 0, 2};
  EXPECT_EQ(qs::ipv4(gen::net::ipv4(a, b, 132, s, 1)).skip, Skip::none);
  EXPECT_EQ(qs::ipv4(gen::net::ipv4(a, b, 17, s, 1)).skip, Skip::notSctp);
  // Offset 8 octets: a later fragment, described for reassembly.
  auto later = qs::ipv4(gen::net::ipv4(a, b, 132, s, 0x1234, 0x0001));
  EXPECT_EQ(later.skip, Skip::ipFragment);
  EXPECT_EQ(later.fragment.offset, 8u);
  EXPECT_EQ(later.fragment.id, 0x1234u);
  EXPECT_FALSE(later.fragment.more);
  EXPECT_EQ(later.payload.size(), s.size());
  // MF with offset 0: the first fragment, held for reassembly too.
  auto first = qs::ipv4(gen::net::ipv4(a, b, 132, s, 1, 0x2000));
  EXPECT_EQ(first.skip, Skip::ipFragment);
  EXPECT_TRUE(first.fragment.more);
  EXPECT_EQ(first.fragment.headerLength, 20u);
  // Fragments of other transports are not kept.
  EXPECT_EQ(qs::ipv4(gen::net::ipv4(a, b, 17, s, 1, 0x2000)).skip, Skip::notSctp);
}

TEST(ipv4, cuts_the_payload_to_the_stated_length) {
  auto s = sctpWithOneChunk();
  auto p = gen::net::ipv4({1, 2, 3, 4}, {5, 6, 7, 8}, 132, s, 1);
  auto padded = p;
  padded.insert(padded.end(), 6, 0);  // Ethernet minimum-size padding
  auto v = qs::ipv4(padded);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(v.payload.size(), s.size());
  EXPECT_FALSE(v.cut);
  EXPECT_EQ(v.src[0], 1);
  EXPECT_EQ(v.dst[3], 8);
  auto shortened = qs::ipv4(Bytes(p.data(), p.size() - 3));
  EXPECT_TRUE(shortened.cut);
  EXPECT_EQ(shortened.payload.size(), s.size() - 3);
}

TEST(ipv4, rejects_impossible_headers) {
  auto p = gen::net::ipv4({1, 2, 3, 4}, {5, 6, 7, 8}, 132, sctpWithOneChunk(), 1);
  auto bad = p;
  bad[0] = 0x44;  // IHL 4
  EXPECT_EQ(qs::ipv4(bad).skip, Skip::badIp);
  bad = p;
  bad[2] = 0;
  bad[3] = 10;  // total length below the header
  EXPECT_EQ(qs::ipv4(bad).skip, Skip::badIp);
  bad = p;
  bad[0] = 0x4F;  // 60-octet header in a shorter packet
  bad[2] = 0;
  bad[3] = 200;
  EXPECT_EQ(qs::ipv4(Bytes(bad.data(), 40)).skip, Skip::truncated);
}

TEST(ipv6, walks_extension_headers) {
  auto s = sctpWithOneChunk();
  gen::net::Ip6 a{}, b{};
  // No Next Header (59) and ESP (50) end the walk without SCTP.
  EXPECT_EQ(qs::ipv6(gen::net::ipv6(a, b, 59, {})).skip, Skip::notSctp);
  EXPECT_EQ(qs::ipv6(gen::net::ipv6(a, b, 50, s)).skip, Skip::notSctp);
  // Routing header then SCTP.
  gen::Bytes routing{132, 0, 0, 0, 0, 0, 0, 0};
  gen::Bytes withRouting = routing;
  withRouting.insert(withRouting.end(), s.begin(), s.end());
  const gen::Bytes packet = gen::net::ipv6(a, b, 43, withRouting);
  auto v = qs::ipv6(packet);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(v.payload.size(), s.size());
  // A fragment header with a non-zero offset.
  gen::Bytes later{132, 0, 0x00, 0x08, 0, 0, 0, 1};
  later.insert(later.end(), s.begin(), s.end());
  EXPECT_EQ(qs::ipv6(gen::net::ipv6(a, b, 44, later)).skip, Skip::ipFragment);
  // An extension header longer than the packet.
  gen::Bytes tooLong{132, 200, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(qs::ipv6(gen::net::ipv6(a, b, 0, tooLong)).skip, Skip::badIp);
}

// Each extension header is skipped by its own length unit: 8 octets (length
// + 1) for most, 4 octets (length + 2) for the authentication header.
TEST(ipv6, skips_each_extension_header_by_its_own_length_unit) {
  const auto s = sctpWithOneChunk();
  // Hop-by-hop (length 1: 16 octets), then AH (length 4: 24 octets), then SCTP.
  gen::Bytes chain{51, 1};
  chain.resize(16, 0);
  chain.insert(chain.end(), {132, 4});
  chain.resize(16 + 24, 0);
  chain.insert(chain.end(), s.begin(), s.end());
  const gen::Bytes packet = gen::net::ipv6({}, {}, 0, chain);
  const auto v = qs::ipv6(packet);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(v.payload.size(), s.size());
  EXPECT_EQ(v.payload.data(), packet.data() + 40 + 16 + 24);
}

TEST(ipv6, bounds_the_number_of_extension_headers) {
  gen::Bytes chain;
  for (int i = 0; i < 40; ++i) chain.insert(chain.end(), {60, 0, 1, 4, 0, 0, 0, 0});
  EXPECT_EQ(qs::ipv6(gen::net::ipv6({}, {}, 60, chain)).skip, Skip::badIp);
}

}  // namespace
