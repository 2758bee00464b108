// The layers between SCTP (or a signalling link) and SCCP: M3UA, M2PA, MTP2
// and MTP3.
#include <gtest/gtest.h>

#include <vector>

#include "Adaptation.hpp"
#include "Encode.hpp"

namespace {

using qs::Bytes;
using qs::Skip;

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

}  // namespace
