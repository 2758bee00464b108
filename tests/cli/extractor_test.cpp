// From a captured frame to its SCCP messages: the layers in sequence, against
// frames that tshark read, and the counts of what gave none.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Encode.hpp"
#include "Extractor.hpp"
#include "LinkLayer.hpp"
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
      ASSERT_EQ(p.decode(c.units[i]), px::SccpDecodeError::none);
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

// A frame as a FrameSource gives it: its capture time goes with its messages,
// its link type (when it has one) overrides the capture's, and a frame that
// could not be read is counted without reaching the layers.
TEST(extractor, reads_frames_of_a_source_with_their_time) {
  struct Times : qs::UnitSink {
    std::vector<std::pair<std::int64_t, std::uint32_t>> seen;
    void onUnit(const qs::SccpUnit& u, std::uint32_t) override {
      seen.emplace_back(u.origin->seconds, u.origin->nanoseconds);
    }
  };
  const auto s = gen::net::sctp(
      2905, 2905, 1,
      {gen::net::dataChunk(3, 1, 1, 0, 3, gen::sigtran::m3uaData(1, 2, 3, 0, {0x09, 0x00}))});
  const auto ip = gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1);
  const auto ether = gen::net::ethernet(gen::net::etherIpv4, ip);
  qs::Extractor x;
  x.start(qs::dlt::ethernet);
  Times t;
  qs::Frame f;
  f.bytes = ether;
  f.number = 1;
  f.hasTime = true;
  f.timeNs = 1'709'546'400'123'456'789;
  EXPECT_EQ(x.frame(f, t), 1u);
  f.number = 2;
  f.bytes = ip;
  f.linkType = qs::dlt::raw;
  f.timeNs += 2'000'000'000;
  EXPECT_EQ(x.frame(f, t), 1u);
  f.number = 3;
  f.bytes = {};
  f.unreadable = Skip::badHex;
  EXPECT_EQ(x.frame(f, t), 0u);
  const std::vector<std::pair<std::int64_t, std::uint32_t>> expected{{1'709'546'400, 123'456'789},
                                                                     {1'709'546'402, 123'456'789}};
  EXPECT_EQ(t.seen, expected);
  EXPECT_EQ(x.counts().frames, 3u);
  EXPECT_EQ(x.counts().framesWithSccp, 2u);
  EXPECT_EQ(x.counts().framesWithout[Skip::badHex], 1u);
  EXPECT_EQ(x.counts().framesWithout.total(), 1u);
}

}  // namespace
