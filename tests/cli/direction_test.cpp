// The home network: point codes, IP prefixes and called global titles, and
// how kinds combine into the inbound direction.
#include <gtest/gtest.h>

#include "Direction.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

TEST(Direction, PointCodes) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> pc;
  };
  for (const Case& c :
       {Case{"2-100-3", 2 * 2048 + 100 * 8 + 3}, Case{"0-0-0", 0}, Case{"7-255-7", 16383},
        Case{"257", 257}, Case{" 16383 ", 16383}, Case{"16777215", 16777215},
        Case{"16777216", std::nullopt}, Case{"8-0-0", std::nullopt}, Case{"1-256-0", std::nullopt},
        Case{"1-2", std::nullopt}, Case{"1-2-3-4", std::nullopt}, Case{"", std::nullopt},
        Case{"-1", std::nullopt}, Case{"0x10", std::nullopt}, Case{"12a", std::nullopt}})
    EXPECT_EQ(qs::parsePointCode(c.text), c.pc) << c.text;
}

std::array<std::uint8_t, 16> v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return {a, b, c, d};
}

TEST(Direction, IpPrefixes) {
  auto p = qs::IpPrefix::parse("10.1.0.0/15");
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->contains(4, v4(10, 0, 255, 1)));
  EXPECT_TRUE(p->contains(4, v4(10, 1, 0, 0)));
  EXPECT_FALSE(p->contains(4, v4(10, 2, 0, 0)));
  EXPECT_FALSE(p->contains(6, v4(10, 1, 0, 0)));
  auto host = qs::IpPrefix::parse("192.0.2.1");
  ASSERT_TRUE(host);
  EXPECT_TRUE(host->contains(4, v4(192, 0, 2, 1)));
  EXPECT_FALSE(host->contains(4, v4(192, 0, 2, 2)));
  auto v6 = qs::IpPrefix::parse("2001:db8::/33");
  ASSERT_TRUE(v6);
  std::array<std::uint8_t, 16> a{0x20, 0x01, 0x0d, 0xb8, 0x7f};
  EXPECT_TRUE(v6->contains(6, a));
  a[4] = 0x80;
  EXPECT_FALSE(v6->contains(6, a));
  EXPECT_TRUE(qs::IpPrefix::parse("0.0.0.0/0")->contains(4, v4(1, 2, 3, 4)));
  for (const char* bad :
       {"10.0.0.0/33", "2001:db8::/129", "10.0.0/8", "host", "10.0.0.0/", "10.0.0.0/x", ""})
    EXPECT_FALSE(qs::IpPrefix::parse(bad)) << bad;
}

PXSCCP_Packet calledTo(std::string_view digits) {
  PXSCCP_Packet p;
  p.mutableCalledPartyAddress().setAddress(digits);
  return p;
}

TEST(Direction, KindsCombineWithAndValuesWithOr) {
  qs::HomeNetwork home;
  std::string bad;
  qs::MessageOrigin o;
  EXPECT_TRUE(home.everything());
  EXPECT_TRUE(home.inbound(o, nullptr));

  ASSERT_TRUE(home.addPointCodes({"257", "2-100-3"}, bad));
  EXPECT_FALSE(home.inbound(o, nullptr)) << "no point code: not inbound";
  o.dpc = 4899;
  EXPECT_TRUE(home.inbound(o, nullptr));
  o.dpc = 258;
  EXPECT_FALSE(home.inbound(o, nullptr));
  o.dpc = 257;

  ASSERT_TRUE(home.addGlobalTitles({"28979", "4179"}, bad));
  auto home1 = calledTo("289790001");
  auto foreign = calledTo("28601");
  EXPECT_TRUE(home.inbound(o, &home1));
  EXPECT_FALSE(home.inbound(o, &foreign));
  EXPECT_FALSE(home.inbound(o, nullptr)) << "no called address: not inbound";
  PXSCCP_Packet noDigits;
  noDigits.mutableCalledPartyAddress();
  EXPECT_FALSE(home.inbound(o, &noDigits));

  ASSERT_TRUE(home.addIpPrefixes({"192.0.2.0/24"}, bad));
  EXPECT_FALSE(home.inbound(o, &home1)) << "no IP: not inbound";
  o.ipVersion = 4;
  o.dst = v4(192, 0, 2, 1);
  EXPECT_TRUE(home.inbound(o, &home1));
  o.dst = v4(198, 51, 100, 1);
  EXPECT_FALSE(home.inbound(o, &home1));
}

TEST(Direction, BadValuesAreNamed) {
  qs::HomeNetwork home;
  std::string bad;
  EXPECT_FALSE(home.addPointCodes({"1", "1-2"}, bad));
  EXPECT_EQ(bad, "1-2");
  EXPECT_FALSE(home.addIpPrefixes({"10.0.0.0/40"}, bad));
  EXPECT_EQ(bad, "10.0.0.0/40");
  EXPECT_FALSE(home.addGlobalTitles({"+4179"}, bad));
  EXPECT_EQ(bad, "+4179");
  EXPECT_FALSE(home.addGlobalTitles({""}, bad));
}

}  // namespace
