// Hostile bytes in the capture layers: parameter walks that must stop at the
// end, ambiguous SUA addresses, and frames whose message never completes.
#include <gtest/gtest.h>

#include <vector>

#include "Adaptation.hpp"
#include "Encode.hpp"
#include "Extractor.hpp"
#include "LinkLayer.hpp"
#include "Sua.hpp"

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
  // The same in a SUA CLDT.
  std::vector<std::uint8_t> cldt{1, 0, 7, 1, 0, 0, 0, 13, 0x00, 0x06, 0, 5, 0xAB};
  qs::SuaMessage m;
  EXPECT_EQ(qs::suaCldt(cldt, m), Skip::badSua);
  // And in an address: routing indicator, then a 5-octet parameter.
  std::vector<std::uint8_t> address{0, 1, 0, 0, 0x80, 0x05, 0, 5, 0xAB};
  SccpAddress a;
  EXPECT_EQ(qs::suaAddress(address, a), qs::SuaAddressError::none);
}

TEST(sua, refuses_an_address_with_two_global_titles) {
  gen::Bytes v{0,    1,    0, 5,                                             // route on GT
               0x80, 0x01, 0, 14, 0, 0, 0, 4, 4, 0, 1, 4, 0x21, 0x43, 0, 0,  // GT 1234
               0x80, 0x01, 0, 14, 0, 0, 0, 4, 4, 0, 1, 4, 0x65, 0x87, 0, 0,  // GT 5678
               0x80, 0x03, 0, 8,  0, 0, 0, 7};
  SccpAddress a;
  EXPECT_EQ(qs::suaAddress(v, a), qs::SuaAddressError::badParameter);
}

TEST(sua, refuses_a_repeated_address_or_data_parameter) {
  gen::sccp::Address x;
  x.digits = "1234";
  x.ssn = 6;
  auto cldt = gen::sigtran::suaCldt(x, x, {0x62, 0});
  qs::SuaMessage m;
  ASSERT_EQ(qs::suaCldt(cldt, m), Skip::none);
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
      EXPECT_EQ(qs::suaCldt(twice, m), Skip::badSua) << "tag " << tag;
    }
    at += padded;
  }
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
