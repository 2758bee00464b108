// SUA connectionless data: addresses converted into the SCCP addresses
// screening reads, damage refused, and the packet it gives.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Encode.hpp"
#include "px/sccp/SccpPacket.hpp"
#include "px/sua/SuaMessage.hpp"

namespace {

using Bytes = std::span<const std::uint8_t>;

// Called: GT of an even count with TT and NP, SSN. Calling: GT of an odd
// count, SSN and PC.
std::pair<gen::sccp::Address, gen::sccp::Address> addresses() {
  gen::sccp::Address called, calling;
  called.digits = "28979123";
  called.ssn = 6;
  called.tt = 3;
  called.np = 7;
  calling.digits = "2851002";
  calling.ssn = 8;
  calling.pc = 0x0222;
  return {called, calling};
}

TEST(sua, converts_addresses_into_sccp_addresses) {
  const auto [called, calling] = addresses();
  gen::Bytes data{0x62, 0x00};
  px::SuaMessage m;
  const gen::Bytes cldt = gen::sigtran::suaCldt(called, calling, data);  // m views it
  ASSERT_EQ(px::suaCldt(cldt, m), px::SuaDecodeError::none);
  EXPECT_EQ(m.called.address(), "28979123");
  EXPECT_EQ(m.called.tt()->tt(), 3);
  EXPECT_EQ(m.called.npi()->npi(), 7);
  EXPECT_EQ(m.called.nai()->nai(), 4);
  EXPECT_EQ(m.called.globalTitleIndicator(), 4);
  EXPECT_EQ(m.called.subsystemNumber(), 6);
  EXPECT_EQ(m.called.encodingScheme(), 2);
  EXPECT_EQ(m.calling.address(), "2851002");
  EXPECT_EQ(m.calling.encodingScheme(), 1);
  EXPECT_EQ(m.calling.pointCode(), 0x0222);
  EXPECT_EQ(m.calling.routingIndicator(), px::SccpRoutingIndicator::globalTitle);
  EXPECT_EQ(std::vector<std::uint8_t>(m.data.begin(), m.data.end()), data);
  EXPECT_EQ(m.protocolClass, 0);
}

TEST(sua, keeps_only_the_fields_of_the_global_title_indicator) {
  // GTI 2: translation type only, as in an SCCP address.
  gen::Bytes v{0,    1,    0, 5,  // route on GT; GT and SSN
               0x80, 0x01, 0, 14, 0, 0, 0, 2, 4, 9, 1, 4, 0x21, 0x43, 0, 0,  // GT: 4 digits
               0x80, 0x03, 0, 8,  0, 0, 0, 7};
  SccpAddress a;
  ASSERT_EQ(px::suaAddress(v, a), px::SuaAddressError::none);
  EXPECT_EQ(a.globalTitleIndicator(), 2);
  ASSERT_TRUE(a.tt());
  EXPECT_EQ(a.tt()->tt(), 9);
  EXPECT_FALSE(a.npi());
  EXPECT_FALSE(a.nai());
  EXPECT_EQ(a.address(), "1234");
  EXPECT_EQ(a.subsystemNumber(), 7);
  // More digits than octets.
  auto bad = v;
  bad[4 + 8] = 9;
  EXPECT_EQ(px::suaAddress(bad, a), px::SuaAddressError::badDigits);
  // Route on SSN + PC.
  gen::Bytes ssnOnly{0, 2, 0, 3, 0x80, 0x02, 0, 8, 0, 0, 0x01, 0x01, 0x80, 0x03, 0, 8, 0, 0, 0, 6};
  ASSERT_EQ(px::suaAddress(ssnOnly, a), px::SuaAddressError::none);
  EXPECT_EQ(a.routingIndicator(), px::SccpRoutingIndicator::subsystemNumber);
  EXPECT_EQ(a.pointCode(), 0x0101);
  EXPECT_FALSE(a.address());
}

TEST(sua, refuses_other_messages_and_damage) {
  px::SuaMessage m;
  gen::sccp::Address a;
  a.digits = "1234";
  a.ssn = 6;
  auto cldt = gen::sigtran::suaCldt(a, a, {1});
  auto cldr = cldt;
  cldr[3] = 2;
  EXPECT_EQ(px::suaCldt(cldr, m), px::SuaDecodeError::notCldt);
  EXPECT_EQ(px::suaCldt(Bytes(cldt.data(), cldt.size() - 1), m), px::SuaDecodeError::truncated);
  // Without its data parameter (the last one).
  auto noData = gen::sigtran::header(7, 1, {0, 0x06, 0, 8, 0, 0, 0, 1});
  EXPECT_EQ(px::suaCldt(noData, m), px::SuaDecodeError::malformed);
}

// Each buffer is exactly as long as the message, so that a read past its end
// is a heap overflow the sanitizer reports.
TEST(sua, stops_at_the_end_when_a_length_is_not_a_multiple_of_four) {
  // A CLDT whose only parameter (5 octets) ends the message: its padded step
  // goes 3 octets past the end.
  std::vector<std::uint8_t> cldt{1, 0, 7, 1, 0, 0, 0, 13, 0x00, 0x06, 0, 5, 0xAB};
  px::SuaMessage m;
  EXPECT_EQ(px::suaCldt(cldt, m), px::SuaDecodeError::malformed);
  // And in an address: routing indicator, then a 5-octet parameter.
  std::vector<std::uint8_t> address{0, 1, 0, 0, 0x80, 0x05, 0, 5, 0xAB};
  SccpAddress a;
  EXPECT_EQ(px::suaAddress(address, a), px::SuaAddressError::none);
}

TEST(sua, refuses_an_address_with_two_global_titles) {
  gen::Bytes v{0,    1,    0, 5,                                             // route on GT
               0x80, 0x01, 0, 14, 0, 0, 0, 4, 4, 0, 1, 4, 0x21, 0x43, 0, 0,  // GT 1234
               0x80, 0x01, 0, 14, 0, 0, 0, 4, 4, 0, 1, 4, 0x65, 0x87, 0, 0,  // GT 5678
               0x80, 0x03, 0, 8,  0, 0, 0, 7};
  SccpAddress a;
  EXPECT_EQ(px::suaAddress(v, a), px::SuaAddressError::badParameter);
}

TEST(sua, refuses_a_repeated_address_or_data_parameter) {
  gen::sccp::Address x;
  x.digits = "1234";
  x.ssn = 6;
  auto cldt = gen::sigtran::suaCldt(x, x, {0x62, 0});
  px::SuaMessage m;
  ASSERT_EQ(px::suaCldt(cldt, m), px::SuaDecodeError::none);
  // Each address and data parameter in turn, repeated at the end.
  for (std::size_t at = 8; at < cldt.size();) {
    std::size_t len = (static_cast<std::size_t>(cldt[at + 2]) << 8 | cldt[at + 3]);
    std::uint16_t tag = static_cast<std::uint16_t>(cldt[at] << 8 | cldt[at + 1]);
    std::size_t padded = (len + 3) & ~std::size_t{3};
    if (tag == 0x0102 || tag == 0x0103 || tag == 0x010B) {
      auto twice = cldt;
      twice.insert(twice.end(), cldt.begin() + static_cast<long>(at),
                   cldt.begin() + static_cast<long>(at + padded));
      std::uint32_t total = static_cast<std::uint32_t>(twice.size());
      twice[4] = static_cast<std::uint8_t>(total >> 24);
      twice[5] = static_cast<std::uint8_t>(total >> 16);
      twice[6] = static_cast<std::uint8_t>(total >> 8);
      twice[7] = static_cast<std::uint8_t>(total);
      EXPECT_EQ(px::suaCldt(twice, m), px::SuaDecodeError::malformed) << "tag " << tag;
    }
    at += padded;
  }
}

// The packet of a CLDT reads as the UDT with the same addresses and data would.
TEST(sua, gives_the_packet_of_the_udt_it_replaces) {
  const auto [called, calling] = addresses();
  const gen::Bytes data =
      gen::tcap::begin(7, {}, gen::tcap::invoke(1, 46, gen::tlv(0x30, gen::tlv(0x80, {0x21}))));
  const gen::Bytes cldt = gen::sigtran::suaCldt(called, calling, data);
  const gen::Bytes udt = gen::sccp::udt(called, calling, data);
  px::SuaMessage m;
  ASSERT_EQ(px::suaCldt(cldt, m), px::SuaDecodeError::none);
  PXSCCP_Packet fromSua, fromSccp;
  px::packetFromSua(fromSua, m);
  ASSERT_EQ(fromSccp.decode(udt), px::SccpDecodeError::none);
  EXPECT_EQ(fromSua.messageType(), px::SccpMessageType::udt);
  EXPECT_EQ(fromSua.protocolClassOrCause(), 0);
  for (auto side :
       {&PXSCCP_Packet::incomingCallingPartyAddress, &PXSCCP_Packet::incomingCalledPartyAddress}) {
    const SccpAddress* s = (fromSua.*side)();
    const SccpAddress* c = (fromSccp.*side)();
    ASSERT_TRUE(s && c);
    EXPECT_EQ(s->address(), c->address());
    EXPECT_EQ(s->nai()->nai(), c->nai()->nai());
    EXPECT_EQ(s->npi()->npi(), c->npi()->npi());
    EXPECT_EQ(s->tt()->tt(), c->tt()->tt());
    EXPECT_EQ(s->globalTitleIndicator(), c->globalTitleIndicator());
    EXPECT_EQ(s->encodingScheme(), c->encodingScheme());
    EXPECT_EQ(s->routingIndicator(), c->routingIndicator());
    EXPECT_EQ(s->pointCode(), c->pointCode());
    EXPECT_EQ(s->subsystemNumber(), c->subsystemNumber());
  }
  EXPECT_TRUE(std::equal(fromSua.data().begin(), fromSua.data().end(), fromSccp.data().begin(),
                         fromSccp.data().end()));
  ASSERT_TRUE(fromSua.incomingTcapBegin());
  EXPECT_EQ(fromSua.incomingTcapBegin()->componentPortion()->arrayOfComponents()[0].operationCode(),
            46);
  // Data that are not TCAP leave the packet without a TCAP message.
  const gen::Bytes notTcap = gen::sigtran::suaCldt(called, calling, {0x01, 0x02});
  ASSERT_EQ(px::suaCldt(notTcap, m), px::SuaDecodeError::none);
  px::packetFromSua(fromSua, m);
  EXPECT_FALSE(fromSua.tcapMessage());
  EXPECT_EQ(fromSua.data().size(), 2u);
}

}  // namespace
