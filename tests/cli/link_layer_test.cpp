// The first layer of a frame: from the capture's link type to its network layer.
#include <gtest/gtest.h>

#include <vector>

#include "LinkLayer.hpp"

namespace {

using qs::Skip;

TEST(link_layer, reads_each_supported_type) {
  struct Case {
    const char* name;
    int dlt;
    std::vector<std::uint8_t> frame;
    qs::Network network;
    std::size_t payloadAt;
    Skip skip;
  };
  const std::vector<std::uint8_t> ip4{0x45, 0, 0, 20};
  const std::vector<std::uint8_t> ip6{0x60, 0, 0, 0};
  auto eth = [](std::vector<std::uint8_t> tail) {
    std::vector<std::uint8_t> f(12, 0xAA);
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
  };
  std::vector<Case> cases = {
      {"ethernet ipv4", qs::dlt::ethernet, eth({0x08, 0x00, 0x45}), qs::Network::ipv4, 14,
       Skip::none},
      {"ethernet ipv6", qs::dlt::ethernet, eth({0x86, 0xDD, 0x60}), qs::Network::ipv6, 14,
       Skip::none},
      {"802.1Q", qs::dlt::ethernet, eth({0x81, 0, 0, 5, 0x08, 0x00, 0x45}), qs::Network::ipv4, 18,
       Skip::none},
      {"old QinQ", qs::dlt::ethernet, eth({0x91, 0, 0, 5, 0x81, 0, 0, 6, 0x08, 0x00, 0x45}),
       qs::Network::ipv4, 22, Skip::none},
      {"ARP", qs::dlt::ethernet, eth({0x08, 0x06, 0, 1}), qs::Network::ipv4, 0, Skip::notIp},
      {"802.3 length", qs::dlt::ethernet, eth({0x00, 0x40, 0xAA}), qs::Network::ipv4, 0,
       Skip::notIp},
      {"five tags", qs::dlt::ethernet,
       eth({0x81, 0, 0, 1, 0x81, 0, 0, 1, 0x81, 0, 0, 1, 0x81, 0, 0, 1, 0x81, 0, 0, 1, 0x08, 0}),
       qs::Network::ipv4, 0, Skip::notIp},
      {"ethernet cut in the type", qs::dlt::ethernet, eth({0x08}), qs::Network::ipv4, 0,
       Skip::truncated},
      {"raw v4 (101)", qs::dlt::raw, ip4, qs::Network::ipv4, 0, Skip::none},
      {"raw v6 (12)", qs::dlt::rawBsd, ip6, qs::Network::ipv6, 0, Skip::none},
      {"raw v4 (14)", qs::dlt::rawOpenBsd, ip4, qs::Network::ipv4, 0, Skip::none},
      {"raw, version 5", qs::dlt::raw, {0x50, 0}, qs::Network::ipv4, 0, Skip::notIp},
      {"raw, empty", qs::dlt::raw, {}, qs::Network::ipv4, 0, Skip::truncated},
      {"BSD loopback", qs::dlt::null, {2, 0, 0, 0, 0x45}, qs::Network::ipv4, 4, Skip::none},
      {"MTP2 phdr basic",
       qs::dlt::mtp2WithPhdr,
       {0, 0, 0, 0, 0x80},
       qs::Network::mtp2,
       4,
       Skip::none},
      {"MTP2 phdr annex A",
       qs::dlt::mtp2WithPhdr,
       {0, 1, 0, 0, 0x80},
       qs::Network::mtp2Extended,
       4,
       Skip::none},
      {"MTP2", qs::dlt::mtp2, {0x80}, qs::Network::mtp2, 0, Skip::none},
      {"MTP3", qs::dlt::mtp3, {0x83}, qs::Network::mtp3, 0, Skip::none},
      {"SCCP", qs::dlt::sccp, {0x09}, qs::Network::sccp, 0, Skip::none},
      {"USB", 189, {0, 0}, qs::Network::ipv4, 0, Skip::unsupportedLinkType},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = qs::linkLayer(c.dlt, c.frame);
    EXPECT_EQ(v.skip, c.skip);
    if (c.skip != Skip::none) continue;
    EXPECT_EQ(v.network, c.network);
    EXPECT_EQ(v.payload.data(), c.frame.data() + c.payloadAt);
  }
}

}  // namespace
