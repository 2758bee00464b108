// Hostile bytes in the capture layers: parameter walks that must stop at the
// end, and frames whose message never completes.
#include <gtest/gtest.h>

#include <vector>

#include "Adaptation.hpp"
#include "Encode.hpp"
#include "Extractor.hpp"
#include "LinkLayer.hpp"

namespace {

using qs::Skip;

struct Count : qs::UnitSink {
  int units = 0;
  void onUnit(const qs::SccpUnit&, std::uint32_t) override { ++units; }
};

// Each buffer is exactly as long as the message, so that a read past its end
// is a heap overflow the sanitizer reports.
TEST(parameter_walks, stop_at_the_end_when_a_length_is_not_a_multiple_of_four) {
  // M3UA DATA whose only parameter (5 octets) ends the message: its padded
  // step goes 3 octets past the end.
  std::vector<std::uint8_t> m3ua{1, 0, 1, 1, 0, 0, 0, 13, 0x00, 0x06, 0, 5, 0xAB};
  EXPECT_EQ(qs::m3uaSccp(m3ua).skip, Skip::badM3ua);
  // The same walk in SUA messages and addresses is tested with the SUA decoder.
}

// A frame holding only a fragment counts as "completed later" while its
// message may still complete; once it cannot, as never completed.
TEST(extractor, counts_frames_of_messages_never_completed_as_incomplete) {
  auto frameOf = [](std::uint8_t flags, std::uint32_t tsn, std::uint16_t stream) {
    auto s = gen::net::sctp(2905, 2905, 1,
                            {gen::net::dataChunk(flags, tsn, stream, 0, 3, gen::Bytes(40, 0x11))});
    return gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1);
  };
  qs::Extractor x;
  x.start(qs::dlt::raw);
  Count c;
  x.frame(frameOf(0x02, 1, 1), c);  // B, stream 1: never ends
  x.frame(frameOf(0x00, 2, 1), c);
  x.frame(frameOf(0x02, 10, 2), c);  // B, stream 2: blocked by a new first fragment
  x.frame(frameOf(0x02, 11, 2), c);
  EXPECT_EQ(x.counts().framesWithout[Skip::sctpFragment], 3u);
  EXPECT_EQ(x.counts().framesWithout[Skip::reassemblyIncomplete], 1u);
  x.finish();
  EXPECT_EQ(x.counts().framesWithout[Skip::sctpFragment], 0u);
  EXPECT_EQ(x.counts().framesWithout[Skip::reassemblyIncomplete], 4u);
  EXPECT_EQ(x.counts().frames, 4u);
  EXPECT_EQ(x.counts().framesWithout.total(), 4u);
}

TEST(extractor, screens_a_message_whose_first_fragment_was_retransmitted) {
  gen::sccp::Address called, calling;
  called.digits = "123";
  calling.digits = "456";
  gen::Bytes sccp = gen::sccp::udt(called, calling, gen::Bytes(90, 0x5A));
  gen::Bytes m3ua = gen::sigtran::m3uaData(1, 2, 3, 0, sccp);
  std::size_t third = m3ua.size() / 3;
  auto frameOf = [&](std::uint8_t flags, std::uint32_t tsn, int part) {
    auto from = m3ua.begin() + static_cast<long>(part * third);
    auto to = part == 2 ? m3ua.end() : from + static_cast<long>(third);
    auto s = gen::net::sctp(2905, 2905, 1,
                            {gen::net::dataChunk(flags, tsn, 1, 0, 3, gen::Bytes(from, to))});
    return gen::net::ipv4({1, 1, 1, 1}, {2, 2, 2, 2}, 132, s, 1);
  };
  qs::Extractor x;
  x.start(qs::dlt::raw);
  Count c;
  x.frame(frameOf(0x02, 5, 0), c);
  x.frame(frameOf(0x00, 6, 1), c);
  x.frame(frameOf(0x02, 5, 0), c);
  EXPECT_EQ(x.frame(frameOf(0x01, 7, 2), c), 1u);
  x.finish();
  EXPECT_EQ(c.units, 1);
  EXPECT_EQ(x.counts().framesWithout[Skip::sctpDuplicate], 1u);
  EXPECT_EQ(x.counts().other.total(), 0u);
}

}  // namespace
