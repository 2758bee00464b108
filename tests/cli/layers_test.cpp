// The layers between a captured frame and its SCCP messages.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Adaptation.hpp"
#include "Encode.hpp"
#include "Extractor.hpp"
#include "Ip.hpp"
#include "LinkLayer.hpp"
#include "Sua.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

using qs::Bytes;
using qs::Skip;

std::vector<std::uint8_t> fromHex(std::string_view hex) {
  std::vector<std::uint8_t> b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  return b;
}

struct Collect : qs::UnitSink {
  std::vector<std::vector<std::uint8_t>> units;
  std::vector<std::uint32_t> indexes;
  std::vector<bool> sua;
  void onUnit(const qs::SccpUnit& u, std::uint32_t index) override {
    units.emplace_back(u.bytes.begin(), u.bytes.end());
    indexes.push_back(index);
    sua.push_back(u.sua != nullptr);
  }
};

struct Vector {
  std::string name;
  int linkType;
  std::vector<std::uint8_t> frame;
};

std::vector<Vector> loadFrames() {
  std::ifstream in(QEL_TEST_DATA_DIR "/frames.txt");
  std::vector<Vector> v;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    Vector x;
    std::string hex;
    s >> x.name >> x.linkType >> hex;
    x.frame = fromHex(hex);
    v.push_back(std::move(x));
  }
  return v;
}

// What tshark read in every vector of frames.txt.
constexpr std::string_view kCalling = "286700329739";
constexpr std::string_view kCalled = "289791026845";

TEST(frames_checked_with_tshark, give_the_sccp_message_tshark_found) {
  auto vectors = loadFrames();
  ASSERT_EQ(vectors.size(), 10u);
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.name);
    qs::Extractor x;
    x.start(v.linkType);
    Collect c;
    x.frame(v.frame, c);
    ASSERT_EQ(c.units.size(), v.name == "eth_bundle" ? 2u : 1u);
    for (std::size_t i = 0; i < c.units.size(); ++i) {
      EXPECT_EQ(c.indexes[i], i);
      PXSCCP_Packet p;
      ASSERT_EQ(p.decode(c.units[i]), SccpDecodeError::none);
      ASSERT_TRUE(p.incomingCallingPartyAddress());
      EXPECT_EQ(p.incomingCallingPartyAddress()->address(), kCalling);
      EXPECT_EQ(p.incomingCalledPartyAddress()->address(), kCalled);
      ASSERT_TRUE(p.incomingTcapBegin());
      EXPECT_EQ(p.incomingTcapBegin()->componentPortion()->arrayOfComponents()[0].operationCode(),
                45);
    }
    EXPECT_EQ(x.counts().framesWithSccp, 1u);
  }
}

// A frame cut anywhere gives no message that reaches past the cut, and no
// more messages than the whole frame.
TEST(frames_checked_with_tshark, survive_truncation_at_every_length) {
  for (const auto& v : loadFrames()) {
    SCOPED_TRACE(v.name);
    qs::Extractor whole;
    whole.start(v.linkType);
    Collect all;
    whole.frame(v.frame, all);
    for (std::size_t n = 0; n < v.frame.size(); ++n) {
      std::vector<std::uint8_t> cut(v.frame.begin(), v.frame.begin() + static_cast<long>(n));
      qs::Extractor x;
      x.start(v.linkType);
      Collect c;
      x.frame(cut, c);
      EXPECT_LE(c.units.size(), all.units.size()) << "cut at " << n;
      if (c.units.empty()) {
        EXPECT_EQ(x.counts().framesWithout.total(), 1u) << "cut at " << n;
      }
    }
  }
}

// ---- link layer --------------------------------------------------------

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

// ---- IP ----------------------------------------------------------------

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

TEST(ipv6, bounds_the_number_of_extension_headers) {
  gen::Bytes chain;
  for (int i = 0; i < 40; ++i) chain.insert(chain.end(), {60, 0, 1, 4, 0, 0, 0, 0});
  EXPECT_EQ(qs::ipv6(gen::net::ipv6({}, {}, 60, chain)).skip, Skip::badIp);
}

// ---- SCTP --------------------------------------------------------------

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

// ---- adaptation layers -------------------------------------------------

TEST(user_adaptation, is_chosen_by_ppid_then_port) {
  EXPECT_EQ(qs::userAdaptation(3, 1, 1), qs::UserAdaptation::m3ua);
  EXPECT_EQ(qs::userAdaptation(5, 2905, 2905), qs::UserAdaptation::m2pa);
  EXPECT_EQ(qs::userAdaptation(0, 40000, 14001), qs::UserAdaptation::sua);
  EXPECT_EQ(qs::userAdaptation(0, 3565, 40000), qs::UserAdaptation::m2pa);
  EXPECT_EQ(qs::userAdaptation(46, 3868, 3868), qs::UserAdaptation::none);  // Diameter
}

TEST(m3ua, gives_sccp_of_data_with_service_indicator_3_only) {
  gen::Bytes sccp{0x09, 0x80, 3, 5, 7};
  const gen::Bytes m3ua = gen::sigtran::m3uaData(1, 2, 3, 0, sccp);  // the view points into it
  auto v = qs::m3uaSccp(m3ua);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.end()), sccp);
  EXPECT_EQ(qs::m3uaSccp(gen::sigtran::m3uaData(1, 2, 5, 0, sccp)).skip, Skip::notSccp);
  EXPECT_EQ(qs::m3uaSccp(gen::sigtran::m3uaBeat()).skip, Skip::m3uaNotData);
  EXPECT_EQ(qs::m3uaSccp(gen::sigtran::m3uaDava(5)).skip, Skip::m3uaNotData);
  auto m = gen::sigtran::m3uaData(1, 2, 3, 0, sccp);
  EXPECT_EQ(qs::m3uaSccp(Bytes(m.data(), m.size() - 1)).skip, Skip::truncated);
  auto bad = m;
  bad[0] = 2;
  EXPECT_EQ(qs::m3uaSccp(bad).skip, Skip::badM3ua);
  bad = m;
  bad[8 + 8 + 2] = 0xFF;  // protocol data length past the message
  EXPECT_EQ(qs::m3uaSccp(bad).skip, Skip::badM3ua);
}

TEST(m2pa, gives_the_mtp3_message_of_user_data) {
  gen::Bytes mtp3 = gen::mtp::mtp3(2, 3, 1, 2, 0, {0x09, 1});
  const gen::Bytes m2pa = gen::sigtran::m2paUserData(1, 1, mtp3);  // the view points into it
  auto v = qs::m2paMtp3(m2pa);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.end()), mtp3);
  // Link status (type 2), and user data that only acknowledges.
  gen::Bytes status{1, 0, 11, 2, 0, 0, 0, 20, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 9};
  EXPECT_EQ(qs::m2paMtp3(status).skip, Skip::m2paNotData);
  gen::Bytes ack{1, 0, 11, 1, 0, 0, 0, 16, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(qs::m2paMtp3(ack).skip, Skip::m2paNotData);
}

TEST(mtp, passes_only_sccp_message_signal_units) {
  gen::Bytes sccp{0x09, 1, 2};
  auto mtp3 = gen::mtp::mtp3(0, 3, 1, 2, 0, sccp);
  auto v = qs::mtp3Sccp(mtp3);
  ASSERT_EQ(v.skip, Skip::none);
  EXPECT_EQ(v.bytes.size(), sccp.size());
  EXPECT_EQ(qs::mtp3Sccp(gen::mtp::mtp3(0, 5, 1, 2, 0, sccp)).skip, Skip::notSccp);
  EXPECT_EQ(qs::mtp3Sccp(Bytes(mtp3.data(), 5)).skip, Skip::truncated);
  EXPECT_EQ(qs::mtp2Mtp3(gen::mtp::mtp2(1, 1, mtp3), false).bytes.size(), mtp3.size());
  gen::Bytes fisu{0x80, 0x80, 0}, lssu{0x80, 0x80, 1, 2};
  EXPECT_EQ(qs::mtp2Mtp3(fisu, false).skip, Skip::mtp2NotMsu);
  EXPECT_EQ(qs::mtp2Mtp3(lssu, false).skip, Skip::mtp2NotMsu);
  gen::Bytes extendedLssu{0xFF, 0x8F, 0x01, 0x80, 0x01, 0x00, 0x02};
  EXPECT_EQ(qs::mtp2Mtp3(extendedLssu, true).skip, Skip::mtp2NotMsu);
}

// ---- SUA ---------------------------------------------------------------

TEST(sua, converts_addresses_into_sccp_addresses) {
  gen::sccp::Address called, calling;
  called.digits = "28979123";
  called.ssn = 6;
  called.tt = 3;
  called.np = 7;
  calling.digits = "2851002";  // odd count
  calling.ssn = 8;
  calling.pc = 0x0222;
  gen::Bytes data{0x62, 0x00};
  qs::SuaMessage m;
  const gen::Bytes cldt = gen::sigtran::suaCldt(called, calling, data);  // m views it
  ASSERT_EQ(qs::suaCldt(cldt, m), Skip::none);
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
  EXPECT_EQ(m.calling.routingIndicator(), SccpRoutingIndicator::globalTitle);
  EXPECT_EQ(std::vector<std::uint8_t>(m.data.begin(), m.data.end()), data);
  EXPECT_EQ(m.protocolClass, 0);
}

TEST(sua, keeps_only_the_fields_of_the_global_title_indicator) {
  // GTI 2: translation type only, as in an SCCP address.
  gen::Bytes v{0,    1,    0, 5,  // route on GT; GT and SSN
               0x80, 0x01, 0, 14, 0, 0, 0, 2, 4, 9, 1, 4, 0x21, 0x43, 0, 0,  // GT: 4 digits
               0x80, 0x03, 0, 8,  0, 0, 0, 7};
  SccpAddress a;
  ASSERT_EQ(qs::suaAddress(v, a), qs::SuaAddressError::none);
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
  EXPECT_EQ(qs::suaAddress(bad, a), qs::SuaAddressError::badDigits);
  // Route on SSN + PC.
  gen::Bytes ssnOnly{0, 2, 0, 3, 0x80, 0x02, 0, 8, 0, 0, 0x01, 0x01, 0x80, 0x03, 0, 8, 0, 0, 0, 6};
  ASSERT_EQ(qs::suaAddress(ssnOnly, a), qs::SuaAddressError::none);
  EXPECT_EQ(a.routingIndicator(), SccpRoutingIndicator::subsystemNumber);
  EXPECT_EQ(a.pointCode(), 0x0101);
  EXPECT_FALSE(a.address());
}

TEST(sua, refuses_other_messages_and_damage) {
  qs::SuaMessage m;
  gen::sccp::Address a;
  a.digits = "1234";
  a.ssn = 6;
  auto cldt = gen::sigtran::suaCldt(a, a, {1});
  auto cldr = cldt;
  cldr[3] = 2;
  EXPECT_EQ(qs::suaCldt(cldr, m), Skip::suaNotCldt);
  EXPECT_EQ(qs::suaCldt(Bytes(cldt.data(), cldt.size() - 1), m), Skip::truncated);
  // Without its data parameter (the last one).
  auto noData = gen::sigtran::header(7, 1, {0, 0x06, 0, 8, 0, 0, 0, 1});
  EXPECT_EQ(qs::suaCldt(noData, m), Skip::badSua);
}

// ---- the whole pipeline --------------------------------------------------

TEST(extractor, counts_frames_without_sccp_by_their_first_reason) {
  qs::Extractor x;
  x.start(qs::dlt::ethernet);
  Collect c;
  gen::Bytes arp(28, 0);
  x.frame(gen::net::ethernet(gen::net::etherArp, arp), c);
  x.frame(gen::net::ethernet(gen::net::etherIpv4, gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 17,
                                                                 gen::net::udp(1, 2, {}), 1)),
          c);
  auto sackOnly = gen::net::sctp(2905, 2905, 1, {gen::net::sackChunk(1)});
  x.frame(gen::net::ethernet(gen::net::etherIpv4,
                             gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, sackOnly, 1)),
          c);
  auto isup = gen::net::sctp(
      2905, 2905, 1,
      {gen::net::dataChunk(3, 1, 1, 0, 3, gen::sigtran::m3uaData(1, 2, 5, 0, {1, 2}))});
  x.frame(gen::net::ethernet(gen::net::etherIpv4,
                             gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, isup, 1)),
          c);
  EXPECT_TRUE(c.units.empty());
  const auto& n = x.counts();
  EXPECT_EQ(n.frames, 4u);
  EXPECT_EQ(n.framesWithout[Skip::notIp], 1u);
  EXPECT_EQ(n.framesWithout[Skip::notSctp], 1u);
  EXPECT_EQ(n.framesWithout[Skip::sctpNoData], 1u);
  EXPECT_EQ(n.framesWithout[Skip::notSccp], 1u);
}

TEST(extractor, reassembles_a_message_across_frames) {
  gen::sccp::Address called, calling;
  called.digits = "123";
  called.ssn = 6;
  calling.digits = "456";
  calling.ssn = 8;
  gen::Bytes sccp = gen::sccp::udt(called, calling, gen::Bytes(300, 0x5A));
  gen::Bytes m3ua = gen::sigtran::m3uaData(1, 2, 3, 0, sccp);
  auto frameOf = [&](std::uint8_t flags, std::uint32_t tsn, std::size_t from, std::size_t to) {
    gen::Bytes piece(m3ua.begin() + static_cast<long>(from), m3ua.begin() + static_cast<long>(to));
    auto s = gen::net::sctp(2905, 2905, 1, {gen::net::dataChunk(flags, tsn, 1, 0, 3, piece)});
    return gen::net::ethernet(gen::net::etherIpv4,
                              gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1));
  };
  qs::Extractor x;
  x.start(qs::dlt::ethernet);
  Collect c;
  EXPECT_EQ(x.frame(frameOf(0x02, 7, 0, 100), c), 0u);
  EXPECT_EQ(x.frame(frameOf(0x00, 8, 100, 200), c), 0u);
  EXPECT_EQ(x.frame(frameOf(0x01, 9, 200, m3ua.size()), c), 1u);
  ASSERT_EQ(c.units.size(), 1u);
  EXPECT_EQ(c.units[0], sccp);
  EXPECT_EQ(x.counts().framesWithout[Skip::sctpFragment], 2u);
  // A first fragment that never ends is counted when the capture ends.
  x.frame(frameOf(0x02, 20, 0, 100), c);
  x.finish();
  EXPECT_EQ(x.counts().other[Skip::reassemblyIncomplete], 1u);
}

TEST(extractor, does_not_hold_fragments_of_payloads_without_sccp) {
  auto s =
      gen::net::sctp(3868, 3868, 1, {gen::net::dataChunk(0x02, 1, 1, 0, 46, gen::Bytes(100, 1))});
  qs::Extractor x;
  x.start(qs::dlt::raw);
  Collect c;
  x.frame(gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1), c);
  EXPECT_EQ(x.reassembler().pending(), 0u);
  EXPECT_EQ(x.counts().framesWithout[Skip::notSigtran], 1u);
}

TEST(extractor, hands_sua_messages_with_their_addresses) {
  gen::sccp::Address a;
  a.digits = "28979000020";
  a.ssn = 6;
  auto cldt = gen::sigtran::suaCldt(a, a, {0x62, 0});
  auto s = gen::net::sctp(14001, 14001, 1, {gen::net::dataChunk(3, 1, 1, 0, 4, cldt)});
  qs::Extractor x;
  x.start(qs::dlt::raw);
  Collect c;
  x.frame(gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1), c);
  ASSERT_EQ(c.units.size(), 1u);
  EXPECT_TRUE(c.sua[0]);
  EXPECT_EQ(c.units[0], (std::vector<std::uint8_t>{0x62, 0}));
}

}  // namespace
