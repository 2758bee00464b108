// Reassembly of segmented XUDT messages: a TCAP Begin cut at every octet,
// interleaved callers, and every way a segment can fail to fit.
#include <gtest/gtest.h>

#include <vector>

#include "DecoderTestSupport.hpp"
#include "px/sccp/SccpReassembly.hpp"

namespace {

using px::SccpDecodeError;
using px::SccpGiveUp;
using px::SccpMessageType;
using px::SccpReassembler;
using px::SccpReassemblyLimits;

using dectest::Bytes;
using dectest::hex;

// Begin with two invokes: sendRoutingInfoForSM (45), then anyTimeInterrogation (71).
const Bytes kBegin =
    hex("62 18 48 04 01 02 03 04 6c 10 a1 06 02 01 01 02 01 2d a1 06 02 01 02 02 01 47");
constexpr std::string_view kComponents = "invoke:1:L45;invoke:2:L71";

// An XUDT carrying `data`, with a segmentation parameter.
Bytes xudt(const Bytes& data, bool first, unsigned remaining, std::uint32_t ref,
           std::string_view callingDigitsHex = "65 87") {
  const Bytes called = hex("12 06 00 12 04 21 43");
  const Bytes calling = dectest::cat({hex("12 07 00 12 04"), hex(callingDigitsHex)});
  Bytes m = {0x11, 0x00, 0x0f, 0, 0, 0, 0};
  m[3] = static_cast<std::uint8_t>(m.size() - 3);
  m.push_back(static_cast<std::uint8_t>(called.size()));
  m.insert(m.end(), called.begin(), called.end());
  m[4] = static_cast<std::uint8_t>(m.size() - 4);
  m.push_back(static_cast<std::uint8_t>(calling.size()));
  m.insert(m.end(), calling.begin(), calling.end());
  m[5] = static_cast<std::uint8_t>(m.size() - 5);
  m.push_back(static_cast<std::uint8_t>(data.size()));
  m.insert(m.end(), data.begin(), data.end());
  m[6] = static_cast<std::uint8_t>(m.size() - 6);
  const std::uint8_t seg[] = {0x10,
                              0x04,
                              static_cast<std::uint8_t>((first ? 0x80 : 0) | remaining),
                              static_cast<std::uint8_t>(ref),
                              static_cast<std::uint8_t>(ref >> 8),
                              static_cast<std::uint8_t>(ref >> 16),
                              0x00};
  m.insert(m.end(), std::begin(seg), std::end(seg));
  return m;
}

struct Recorder : SccpReassembler::Listener {
  std::vector<std::pair<std::uint32_t, SccpGiveUp>> gaveUps;
  void gaveUp(const SccpReassembler::Pending& p, SccpGiveUp why) override {
    gaveUps.emplace_back(p.reference, why);
  }
};

struct Fixture {
  SccpReassembler r;
  Recorder listener;
  PXSCCP_Packet packet, joined;
  explicit Fixture(SccpReassemblyLimits l = {}) : r(l) {}
  SccpReassembler::Result add(const Bytes& bytes, std::uint64_t nowNs = 0, std::uint32_t opc = 1) {
    EXPECT_EQ(packet.decode(bytes), SccpDecodeError::none);
    return r.add(packet, bytes, opc, nowNs, joined, listener);
  }
};

Bytes part(std::size_t from, std::size_t to) {
  return Bytes(kBegin.begin() + static_cast<long>(from), kBegin.begin() + static_cast<long>(to));
}

TEST(SccpReassembly, TwoSegmentsAtEveryBoundary) {
  for (std::size_t cut = 1; cut < kBegin.size(); ++cut) {
    Fixture f;
    auto a = f.add(xudt(part(0, cut), true, 1, 7));
    ASSERT_EQ(a.status, SccpReassembler::Status::held) << cut;
    EXPECT_EQ(a.position, 1);
    EXPECT_EQ(a.total, 2);
    auto b = f.add(xudt(part(cut, kBegin.size()), false, 0, 7));
    ASSERT_EQ(b.status, SccpReassembler::Status::complete) << cut;
    EXPECT_EQ(b.position, 2);
    EXPECT_EQ(b.slot, a.slot);
    ASSERT_NE(f.joined.incomingTcapBegin(), nullptr) << cut;
    EXPECT_EQ(dectest::dumpComponents(f.joined.tcapMessage()), kComponents) << cut;
    EXPECT_EQ(f.joined.incomingCallingPartyAddress()->address(), "5678");
    EXPECT_EQ(f.joined.messageType(), SccpMessageType::xudt);
    EXPECT_EQ(f.r.pending(), 0u);
  }
}

TEST(SccpReassembly, ThreeSegmentsAtEveryPairOfBoundaries) {
  for (std::size_t i = 1; i < kBegin.size(); ++i)
    for (std::size_t j = i; j < kBegin.size(); ++j) {
      Fixture f;
      ASSERT_EQ(f.add(xudt(part(0, i), true, 2, 9)).status, SccpReassembler::Status::held);
      ASSERT_EQ(f.add(xudt(part(i, j), false, 1, 9)).status, SccpReassembler::Status::held);
      auto c = f.add(xudt(part(j, kBegin.size()), false, 0, 9));
      ASSERT_EQ(c.status, SccpReassembler::Status::complete) << i << "," << j;
      EXPECT_EQ(c.position, 3);
      EXPECT_EQ(dectest::dumpComponents(f.joined.tcapMessage()), kComponents) << i << "," << j;
    }
}

TEST(SccpReassembly, InterleavedCallersWithTheSameReference) {
  Fixture f;
  f.add(xudt(part(0, 10), true, 1, 5, "65 87"));
  f.add(xudt(part(0, 12), true, 1, 5, "11 11"));
  auto a = f.add(xudt(part(12, kBegin.size()), false, 0, 5, "11 11"));
  ASSERT_EQ(a.status, SccpReassembler::Status::complete);
  EXPECT_EQ(f.joined.incomingCallingPartyAddress()->address(), "1111");
  EXPECT_EQ(dectest::dumpComponents(f.joined.tcapMessage()), kComponents);
  auto b = f.add(xudt(part(10, kBegin.size()), false, 0, 5, "65 87"));
  ASSERT_EQ(b.status, SccpReassembler::Status::complete);
  EXPECT_EQ(f.joined.incomingCallingPartyAddress()->address(), "5678");
  EXPECT_EQ(dectest::dumpComponents(f.joined.tcapMessage()), kComponents);
  EXPECT_TRUE(f.listener.gaveUps.empty());
}

TEST(SccpReassembly, SameCallerFromAnotherPointCodeIsAnotherMessage) {
  Fixture f;
  f.add(xudt(part(0, 10), true, 1, 5), 0, 1);
  EXPECT_EQ(f.add(xudt(part(10, kBegin.size()), false, 0, 5), 0, 2).status,
            SccpReassembler::Status::alone);
  EXPECT_EQ(f.r.pending(), 1u);
}

struct Misfit {
  const char* name;
  unsigned secondRemaining;
  SccpGiveUp why;
};

TEST(SccpReassembly, SegmentsThatDoNotFitGiveUpTheirMessage) {
  // Three segments announced: the second must say 1 remaining.
  for (const Misfit& m : {Misfit{"out of order", 0, SccpGiveUp::outOfOrder},
                          Misfit{"duplicate of the first", 2, SccpGiveUp::duplicate},
                          Misfit{"over-count", 5, SccpGiveUp::countMismatch}}) {
    Fixture f;
    f.add(xudt(part(0, 8), true, 2, 3));
    auto r = f.add(xudt(part(8, 16), false, m.secondRemaining, 3));
    EXPECT_EQ(r.status, SccpReassembler::Status::alone) << m.name;
    ASSERT_EQ(f.listener.gaveUps.size(), 1u) << m.name;
    EXPECT_EQ(f.listener.gaveUps[0].second, m.why) << m.name;
    EXPECT_EQ(f.r.gaveUp(m.why), 1u) << m.name;
    EXPECT_EQ(f.r.pending(), 0u) << m.name;
  }
}

TEST(SccpReassembly, DuplicateLaterSegment) {
  Fixture f;
  f.add(xudt(part(0, 8), true, 2, 3));
  f.add(xudt(part(8, 16), false, 1, 3));
  EXPECT_EQ(f.add(xudt(part(8, 16), false, 1, 3)).status, SccpReassembler::Status::alone);
  EXPECT_EQ(f.r.gaveUp(SccpGiveUp::duplicate), 1u);
}

TEST(SccpReassembly, LaterSegmentWithoutFirstAndMissingLast) {
  Fixture f;
  EXPECT_EQ(f.add(xudt(part(8, 16), false, 0, 4)).status, SccpReassembler::Status::alone);
  EXPECT_EQ(f.r.gaveUp(SccpGiveUp::noFirstSegment), 1u);
  f.add(xudt(part(0, 8), true, 1, 4));
  f.r.finish(f.listener);
  ASSERT_EQ(f.listener.gaveUps.size(), 1u);
  EXPECT_EQ(f.listener.gaveUps[0].second, SccpGiveUp::finished);
}

TEST(SccpReassembly, NewFirstSegmentRestartsTheMessage) {
  Fixture f;
  f.add(xudt(part(0, 8), true, 1, 4));
  f.add(xudt(part(0, 10), true, 1, 4));
  EXPECT_EQ(f.r.gaveUp(SccpGiveUp::restarted), 1u);
  EXPECT_EQ(f.add(xudt(part(10, kBegin.size()), false, 0, 4)).status,
            SccpReassembler::Status::complete);
  EXPECT_EQ(dectest::dumpComponents(f.joined.tcapMessage()), kComponents);
}

TEST(SccpReassembly, SingleSegmentAndUnsegmentedPassThrough) {
  Fixture f;
  EXPECT_EQ(f.add(xudt(kBegin, true, 0, 1)).status, SccpReassembler::Status::unsegmented);
  EXPECT_EQ(f.r.pending(), 0u);
}

TEST(SccpReassembly, WaitingLongerThanTheAgeLimitGivesUp) {
  Fixture f;
  f.add(xudt(part(0, 8), true, 1, 1), 1'000'000'000);
  f.add(xudt(part(0, 8), true, 1, 2), 5'000'000'000);
  // 11 s after the first: it goes, the second stays.
  f.r.expire(11'000'000'001ull, f.listener);
  ASSERT_EQ(f.listener.gaveUps.size(), 1u);
  EXPECT_EQ(f.listener.gaveUps[0], std::make_pair(1u, SccpGiveUp::timeout));
  EXPECT_EQ(f.add(xudt(part(8, kBegin.size()), false, 0, 1), 11'000'000'002ull).status,
            SccpReassembler::Status::alone);
  EXPECT_EQ(f.add(xudt(part(8, kBegin.size()), false, 0, 2), 11'000'000'003ull).status,
            SccpReassembler::Status::complete);
}

TEST(SccpReassembly, AbandonedFirstSegmentsStayWithinTheBound) {
  Fixture f;
  for (std::uint32_t ref = 0; ref < 10'000; ++ref) f.add(xudt(part(0, 8), true, 15, ref));
  EXPECT_EQ(f.r.pending(), 1024u);
  EXPECT_EQ(f.r.gaveUp(SccpGiveUp::capacity), 10'000u - 1024u);
  // The oldest went first: the newest can still complete.
  auto last = f.add(xudt(part(8, 9), false, 14, 9'999));
  EXPECT_EQ(last.status, SccpReassembler::Status::held);
}

}  // namespace
