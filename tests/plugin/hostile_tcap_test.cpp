// A denied operation must be denied whatever the TCAP bytes around it do: a
// deeply nested (valid) parameter, an unreadable component before it, an
// oversized invoke ID. Each Begin here is decoded from bytes by the host's
// TCAP decoder and screened by the filter.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes tlv(std::uint8_t tag, std::initializer_list<Bytes> parts) {
  const Bytes body = cat(parts);
  Bytes out{tag};
  if (body.size() >= 0x80) out.push_back(0x81);
  out.push_back(static_cast<std::uint8_t>(body.size()));
  return cat({out, body});
}
Bytes indefinite(std::uint8_t tag, std::initializer_list<Bytes> parts) {
  return cat({{tag, 0x80}, cat(parts), {0x00, 0x00}});
}
const Bytes kOtid = {0x48, 0x04, 0x00, 0x00, 0x00, 0x01};

// anyTimeInterrogation (71) whose extension container nests `depth` levels,
// everything in the indefinite form as some stacks send it.
Bytes atiBegin(int depth) {
  Bytes nested = {0x05, 0x00};
  for (int i = 0; i < depth - 2; ++i) nested = indefinite(0x30, {nested});
  const Bytes argument =
      indefinite(0x30, {tlv(0xA0, {tlv(0x80, {qeltest::tbcd("228012120109856")})}),
                        tlv(0xA1, {{0x80, 0x00}}), tlv(0x83, {{0x91, 0x44, 0x77, 0x79}}),
                        indefinite(0xA2, {indefinite(0xA1, {nested})})});
  return indefinite(
      0x62, {kOtid,
             indefinite(0x6C, {indefinite(0xA1, {{0x02, 0x01, 0x01, 0x02, 0x01, 71}, argument})})});
}

struct Case {
  const char* name;
  Bytes tcap;
};

TEST(HostileTcap, DeniedOperationIsDeniedWhateverSurroundsIt) {
  const Bytes nineOctetId = {0x02, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
  const Case cases[] = {
      {"extension container nested 29 deep", atiBegin(29)},
      {"extension container nested 40 deep", atiBegin(40)},
      {"extension container nested 1000 deep", atiBegin(1000)},
      {"unreadable first component",
       tlv(0x62, {kOtid, tlv(0x6C, {tlv(0xA1, {{0x02, 0x01, 0x01, 0x04, 0x01, 0x47}}),
                                    tlv(0xA1, {{0x02, 0x01, 0x02, 0x02, 0x01, 71}})})})},
      {"invoke ID of nine octets",
       tlv(0x62, {kOtid, tlv(0x6C, {tlv(0xA1, {nineOctetId, {0x02, 0x01, 71}})})})},
      {"damaged parameter after the code",
       tlv(0x62,
           {kOtid, tlv(0x6C, {tlv(0xA1, {{0x02, 0x01, 0x01, 0x02, 0x01, 71, 0x30, 0x05}})})})},
  };
  QelScreeningSCCP f;
  f.setDeniedOP(px::makeList({71}));
  f.setDefaultAllowTT(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PXSCCP_Packet p = qeltest::packet(qeltest::Address{}, qeltest::Address{});
    ASSERT_TRUE(p.mutableTcap().decode(c.tcap));
    ASSERT_NE(p.incomingTcapBegin(), nullptr);
    EXPECT_EQ(f.screenSccpPacketInbound(&p, nullptr), PXSccpScreening_explicitlyDenied);
  }
}

}  // namespace
