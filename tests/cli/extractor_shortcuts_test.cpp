// The extractor's shortcuts (Ethernet carrying IPv4, IPv4 not fragmented,
// M3UA DATA) against the general reading of every layer: the same frames,
// whole, cut and damaged, through an extractor with shortcuts and one
// without, must give the same messages, origins and counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Adaptation.hpp"
#include "Encode.hpp"
#include "Extractor.hpp"
#include "Ip.hpp"
#include "LinkLayer.hpp"

namespace {

using gen::Bytes;
using qs::Skip;

// Everything a sink can see of a message, with the bytes as a position in
// the frame (or their content, when they lie in reassembly storage).
struct Seen {
  bool inFrame = false;
  std::ptrdiff_t offset = 0;
  Bytes owned;
  std::size_t size = 0;
  bool sua = false;
  std::vector<std::uint64_t> ipFrames, sctpFrames;
  qs::MessageOrigin origin;
  std::uint32_t index = 0;
};

bool operator==(const qs::MessageOrigin& a, const qs::MessageOrigin& b) {
  return a.hasTime == b.hasTime && a.seconds == b.seconds && a.nanoseconds == b.nanoseconds &&
         a.nanoPrecision == b.nanoPrecision && a.opc == b.opc && a.dpc == b.dpc && a.si == b.si &&
         a.ipVersion == b.ipVersion && a.src == b.src && a.dst == b.dst && a.sctp == b.sctp &&
         a.sport == b.sport && a.dport == b.dport && a.stream == b.stream;
}

bool operator==(const Seen& a, const Seen& b) {
  return a.inFrame == b.inFrame && a.offset == b.offset && a.owned == b.owned && a.size == b.size &&
         a.sua == b.sua && a.ipFrames == b.ipFrames && a.sctpFrames == b.sctpFrames &&
         a.origin == b.origin && a.index == b.index;
}

struct Record : qs::UnitSink {
  Bytes frame;
  std::vector<Seen> seen;
  void onUnit(const qs::SccpUnit& u, std::uint32_t index) override {
    Seen s;
    const auto* begin = frame.data();
    s.inFrame = u.bytes.data() >= begin && u.bytes.data() + u.bytes.size() <= begin + frame.size();
    if (s.inFrame)
      s.offset = u.bytes.data() - begin;
    else
      s.owned.assign(u.bytes.begin(), u.bytes.end());
    s.size = u.bytes.size();
    s.sua = u.sua != nullptr;
    s.ipFrames.assign(u.ipFragmentFrames.begin(), u.ipFragmentFrames.end());
    s.sctpFrames.assign(u.sctpFragmentFrames.begin(), u.sctpFragmentFrames.end());
    s.origin = *u.origin;
    s.index = index;
    seen.push_back(std::move(s));
  }
};

void expectSameCounts(const qs::ExtractorCounts& a, const qs::ExtractorCounts& b) {
  EXPECT_EQ(a.frames, b.frames);
  EXPECT_EQ(a.framesWithSccp, b.framesWithSccp);
  EXPECT_EQ(a.messages, b.messages);
  EXPECT_EQ(a.framesWithout.n, b.framesWithout.n);
  EXPECT_EQ(a.other.n, b.other.n);
}

// Two extractors, one with shortcuts, fed the same frames.
class Pair {
 public:
  explicit Pair(int linkType) {
    _general.setShortcuts(false);
    _quick.start(linkType);
    _general.start(linkType);
  }
  // Returns the number of messages of the frame; any difference fails the test.
  std::size_t frame(const Bytes& bytes, std::int64_t timeNs = 0) {
    ++_number;
    Record q, g;
    q.frame = g.frame = bytes;
    _quick.setTime(true, timeNs, false);
    _general.setTime(true, timeNs, false);
    const qs::FrameInfo info{_number, timeNs, -1};
    const auto nq = _quick.frame(q.frame, q, info);
    const auto ng = _general.frame(g.frame, g, info);
    EXPECT_EQ(nq, ng);
    EXPECT_TRUE(q.seen == g.seen) << "messages differ";
    EXPECT_EQ(_quick.frameHeldFragment(), _general.frameHeldFragment());
    expectSameCounts(_quick.counts(), _general.counts());
    return q.seen.size();
  }
  void finish() {
    _quick.finish();
    _general.finish();
    expectSameCounts(_quick.counts(), _general.counts());
  }

 private:
  qs::Extractor _quick, _general;
  std::uint64_t _number = 0;
};

// ---- frames ------------------------------------------------------------------

constexpr gen::net::Ip4 kA{10, 0, 0, 1}, kB{10, 0, 0, 2};

Bytes sccpOf(std::size_t n) {
  gen::sccp::Address called, calling;
  called.digits = "289791026845";
  called.ssn = 6;
  calling.digits = "286700329739";
  calling.ssn = 8;
  return gen::sccp::udt(called, calling, Bytes(n, 0x5A));
}

// M3UA DATA with the given parameters before and after the Protocol Data.
Bytes m3ua(const Bytes& before, std::uint8_t si = 3, const Bytes& after = {}) {
  Bytes pd;
  gen::put32(pd, 0x2101);
  gen::put32(pd, 0x0101);
  gen::append(pd, {si, 0, 0, 7});
  gen::append(pd, sccpOf(40));
  Bytes body = before;
  gen::sigtran::parameter(body, 0x0210, pd);
  gen::append(body, after);
  return gen::sigtran::header(1, 1, body);
}

Bytes routingContext() {
  Bytes b;
  gen::sigtran::parameter(b, 0x0006, {0, 0, 0, 100});
  return b;
}

Bytes overIp(const Bytes& sctp) {
  return gen::net::ipv4(kA, kB, 132, sctp, 7);
}
Bytes ether(const Bytes& ip) {
  return gen::net::ethernet(gen::net::etherIpv4, ip);
}
Bytes data(std::uint32_t ppid, const Bytes& payload, std::uint8_t flags = 3,
           std::uint32_t tsn = 1) {
  return gen::net::dataChunk(flags, tsn, 1, 0, ppid, payload);
}

struct Named {
  std::string name;
  int linkType;
  Bytes frame;
};

std::vector<Named> frames() {
  using namespace gen::net;
  const Bytes plain = m3ua(routingContext());
  std::vector<Named> v{
      {"m3ua_rc_first", 1, ether(overIp(sctp(2905, 2905, 1, {data(3, plain)})))},
      {"m3ua_pd_only", 1, ether(overIp(sctp(2905, 2905, 1, {data(3, m3ua({}))})))},
      {"m3ua_pd_then_correlation", 1,
       ether(overIp(sctp(2905, 2905, 1, {data(3, m3ua(routingContext(), 3, routingContext()))})))},
      {"m3ua_isup", 1, ether(overIp(sctp(2905, 2905, 1, {data(3, m3ua(routingContext(), 5))})))},
      {"m3ua_beat", 1, ether(overIp(sctp(2905, 2905, 1, {data(3, gen::sigtran::m3uaBeat())})))},
      {"m3ua_by_port", 1, ether(overIp(sctp(2905, 9, 1, {data(0, plain)})))},
      {"bundle", 1,
       ether(overIp(
           sctp(2905, 2905, 1,
                {sackChunk(5), data(3, plain, 3, 1), data(3, m3ua({}), 3, 2), data(4, plain, 3, 3),
                 data(3, gen::sigtran::m3uaBeat(), 3, 4), data(3, plain, 3, 5)})))},
      {"sack_only", 1, ether(overIp(sctp(2905, 2905, 1, {sackChunk(5)})))},
      {"fragment_first", 1, ether(overIp(sctp(2905, 2905, 1, {data(3, plain, 2, 10)})))},
      {"idata_whole", 1, ether(overIp(sctp(2905, 2905, 1, {iDataChunk(3, 1, 1, 4, 3, plain)})))},
      {"vlan", 1, ethernet(etherIpv4, overIp(sctp(2905, 2905, 1, {data(3, plain)})), {100})},
      {"ipv6", 1, ethernet(etherIpv6, ipv6({}, {}, 132, sctp(2905, 2905, 1, {data(3, plain)})))},
      {"raw_ipv4", 101, overIp(sctp(2905, 2905, 1, {data(3, plain)}))},
      {"sll_ipv4", 113, sll(etherIpv4, overIp(sctp(2905, 2905, 1, {data(3, plain)})))},
      {"ip_fragment", 1,
       ether(ipv4(kA, kB, 132, sctp(2905, 2905, 1, {data(3, plain)}), 9, 0x2000))},
  };
  // Options in the IPv4 header (IHL 6: four octets more, in the total length).
  Bytes withOptions = overIp(sctp(2905, 2905, 1, {data(3, plain)}));
  withOptions[0] = 0x46;
  withOptions[3] = static_cast<std::uint8_t>(withOptions[3] + 4);
  if (withOptions[3] < 4) ++withOptions[2];
  withOptions.insert(withOptions.begin() + 20, {1, 1, 1, 0});
  v.push_back({"ipv4_options", 1, ether(withOptions)});
  // Ethernet padding behind a short datagram.
  Bytes padded = ether(overIp(sctp(2905, 2905, 1, {data(3, plain)})));
  padded.resize(padded.size() + 9, 0);
  v.push_back({"ethernet_padding", 1, padded});

  // The frames tshark checked.
  std::ifstream in(QEL_TEST_DATA_DIR "/frames.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream s(line);
    Named x;
    std::string hex;
    s >> x.name >> x.linkType >> hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      x.frame.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    v.push_back(std::move(x));
  }
  return v;
}

// ---- the comparisons ---------------------------------------------------------

TEST(extractor_shortcuts, give_what_the_general_reading_gives_for_every_frame) {
  // How many messages each frame gives, so that the comparison is not one of
  // two readings that both find nothing.
  const std::vector<std::pair<std::string, std::size_t>> expected{{"m3ua_rc_first", 1},
                                                                  {"m3ua_pd_only", 1},
                                                                  {"m3ua_pd_then_correlation", 1},
                                                                  {"m3ua_isup", 0},
                                                                  {"m3ua_beat", 0},
                                                                  {"m3ua_by_port", 1},
                                                                  {"bundle", 3},
                                                                  {"sack_only", 0},
                                                                  {"fragment_first", 0},
                                                                  {"idata_whole", 1},
                                                                  {"vlan", 1},
                                                                  {"ipv6", 1},
                                                                  {"raw_ipv4", 1},
                                                                  {"sll_ipv4", 1},
                                                                  {"ip_fragment", 0},
                                                                  {"ipv4_options", 1},
                                                                  {"ethernet_padding", 1},
                                                                  {"eth_bundle", 2}};
  for (const auto& f : frames()) {
    SCOPED_TRACE(f.name);
    Pair p(f.linkType);
    const std::size_t n = p.frame(f.frame);
    for (const auto& [name, count] : expected)
      if (name == f.name) {
        EXPECT_EQ(n, count);
      }
  }
}

TEST(extractor_shortcuts, agree_on_every_cut_and_every_damaged_octet) {
  for (const auto& f : frames()) {
    SCOPED_TRACE(f.name);
    // One pair for all the variants of a frame: reassembly and the time
    // carry over from one frame to the next as in a capture.
    Pair p(f.linkType);
    std::int64_t t = 1'709'546'400'000'000'000;
    for (std::size_t n = 0; n <= f.frame.size(); ++n) {
      SCOPED_TRACE("cut at " + std::to_string(n));
      p.frame(Bytes(f.frame.begin(), f.frame.begin() + static_cast<std::ptrdiff_t>(n)), t += 7);
    }
    for (std::size_t i = 0; i < f.frame.size(); ++i)
      for (int change : {0x00, 0xFF, 0x01, 0x80, 0x04}) {
        Bytes b = f.frame;
        b[i] = change == 0x00 || change == 0xFF ? static_cast<std::uint8_t>(change)
                                                : static_cast<std::uint8_t>(b[i] ^ change);
        SCOPED_TRACE("octet " + std::to_string(i) + " changed to " + std::to_string(b[i]));
        p.frame(b, t += 400'000'000);
        if (::testing::Test::HasFailure()) return;
      }
    p.finish();
  }
}

// Random frames built from the pieces above, with random lengths and
// parameters: a wider net than single octets.
TEST(extractor_shortcuts, agree_on_random_sequences_of_frames) {
  std::mt19937 rng(20261208);
  auto below = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  Pair p(qs::dlt::ethernet);
  std::int64_t t = 0;
  for (int i = 0; i < 4000; ++i) {
    Bytes before, after;
    for (unsigned k = below(3); k; --k) {
      Bytes value(below(9), static_cast<std::uint8_t>(below(256)));
      gen::sigtran::parameter(before, static_cast<std::uint16_t>(below(2) ? 0x0006 : below(0x300)),
                              value);
    }
    if (below(4) == 0) gen::sigtran::parameter(after, 0x0013, {0, 0, 0, 1});
    Bytes m = m3ua(before, below(8) ? 3 : 5, after);
    // Damage a length now and then: the message's, a parameter's, or the end.
    switch (below(8)) {
      case 0:
        m[7] = static_cast<std::uint8_t>(m[7] + below(9) - 4);
        break;
      case 1:
        if (m.size() > 11) m[11] = static_cast<std::uint8_t>(m[11] + below(9) - 4);
        break;
      case 2:
        m.resize(below(static_cast<unsigned>(m.size()) + 1));
        break;
      default:
        break;
    }
    std::uint8_t flags = below(6) ? 3 : static_cast<std::uint8_t>(below(4));
    std::uint32_t ppid = below(6) ? 3 : below(6);
    Bytes chunks = gen::net::dataChunk(flags, static_cast<std::uint32_t>(i),
                                       static_cast<std::uint16_t>(below(3)), 0, ppid, m);
    if (below(3) == 0) gen::append(chunks, data(3, m3ua(routingContext()), 3, 100000u + i));
    Bytes s = gen::net::sctp(2905, static_cast<std::uint16_t>(below(2) ? 2905 : 3565), 1, {chunks});
    Bytes frame = ether(
        gen::net::ipv4(kA, kB, 132, s, static_cast<std::uint16_t>(i), below(10) ? 0x4000 : 0x2000));
    if (below(5) == 0) frame.resize(below(static_cast<unsigned>(frame.size()) + 1));
    SCOPED_TRACE("frame " + std::to_string(i));
    p.frame(frame, t += 1'000'000);
    if (::testing::Test::HasFailure()) return;
  }
  p.finish();
}

// The shortcuts one by one: each takes exactly what its general reader reads
// without a skip (in the layout it is for), and gives the same view.
TEST(ipv4_sctp, takes_what_ipv4_reads_without_skip) {
  const Bytes ip = overIp(gen::net::sctp(1, 2, 3, {data(3, m3ua({}))}));
  for (std::size_t i = 0; i < 20; ++i)
    for (int v = 0; v < 256; ++v) {
      Bytes b = ip;
      b[i] = static_cast<std::uint8_t>(v);
      for (std::size_t n : {b.size(), std::size_t{19}, std::size_t{24}, b.size() - 1}) {
        qs::Bytes cut(b.data(), std::min(n, b.size()));
        qs::Bytes payload;
        const bool quick = qs::ipv4Sctp(cut, payload);
        const qs::IpView general = qs::ipv4(cut);
        // Headers with options (or no IPv4 at all) are left to ipv4(); a
        // header of five words is taken whenever ipv4() reads it whole.
        if (b[0] == 0x45)
          ASSERT_EQ(quick, general.skip == Skip::none) << i << " " << v << " " << n;
        else
          ASSERT_FALSE(quick) << i << " " << v << " " << n;
        if (quick) {
          EXPECT_EQ(payload.data(), general.payload.data());
          EXPECT_EQ(payload.size(), general.payload.size());
        }
      }
    }
}

TEST(m3ua_sccp_quick, takes_what_m3ua_sccp_reads_without_skip) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    Bytes before;
    for (unsigned k = rng() % 4; k; --k)
      gen::sigtran::parameter(before, static_cast<std::uint16_t>(rng() % 2 ? 0x0006 : 0x0210),
                              Bytes(rng() % 14, 3));
    Bytes m = m3ua(before, rng() % 4 ? 3 : 5);
    for (int k = static_cast<int>(rng() % 3); k; --k)
      m[rng() % m.size()] = static_cast<std::uint8_t>(rng());
    m.resize(rng() % 5 ? m.size() : rng() % (m.size() + 1));
    qs::View quick;
    const bool took = qs::m3uaSccpQuick(m, quick);
    const qs::View general = qs::m3uaSccp(m);
    ASSERT_EQ(took, general.skip == Skip::none) << i;
    if (took) {
      EXPECT_EQ(quick.bytes.data(), general.bytes.data());
      EXPECT_EQ(quick.bytes.size(), general.bytes.size());
      EXPECT_EQ(quick.routed, general.routed);
      EXPECT_EQ(quick.opc, general.opc);
      EXPECT_EQ(quick.dpc, general.dpc);
      EXPECT_EQ(quick.si, general.si);
    }
  }
}

}  // namespace
