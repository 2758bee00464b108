#include "px/map/ForwardSM.hpp"

#include <gtest/gtest.h>

#include "DecoderTestSupport.hpp"
#include "px/asn1/BerReader.hpp"

namespace {

using namespace dectest;

// "choice" or "imsi:<digits>", or "absent", as the walk would read the argument.
std::string read(const Bytes& param) {
  std::size_t consumed = 0;
  const auto object = px::ber::readElement(param, consumed);
  const PXASN1Object* p = object ? &*object : nullptr;
  const auto mo = PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(p, nullptr);
  const auto mt = PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(p, nullptr);
  EXPECT_EQ(mo.has_value(), mt.has_value());
  if (!mo) return "absent";
  const auto* da = mo->sm_RP_DA();
  EXPECT_EQ(da->choice(), mt->sm_RP_DA()->choice());
  if (!da->imsi()) return choiceName(da->choice());
  EXPECT_EQ(*da->imsi()->imsiValue(), *mt->sm_RP_DA()->imsi()->imsiValue());
  return "imsi:" + std::string(*da->imsi()->imsiValue());
}

// sm-RP-OA and sm-RP-UI that follow SM-RP-DA.
const char* kRest = "84 04 91 44 77 f9 04 02 01 00";

Bytes sequence(const std::string& contents) {
  const Bytes body = hex(contents);
  Bytes out{0x30, static_cast<std::uint8_t>(body.size())};
  for (const auto b : body) out.push_back(b);
  return out;
}

std::string repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct Case {
  const char* name;
  Bytes param;
  std::string expected;
};

TEST(forward_sm, sm_rp_da_choices_and_imsi_digits) {
  const std::string rest = std::string(" ") + kRest;
  const Case cases[] = {
      {"odd IMSI with filler", sequence("80 08 22 08 21 21 10 90 58 f6" + rest),
       "imsi:228012120109856"},
      {"even IMSI", sequence("80 08 22 08 21 21 10 90 58 76" + rest), "imsi:2280121201098567"},
      {"IMSI alone in the SEQUENCE", sequence("80 03 21 43 f5"), "imsi:12345"},
      // A filler anywhere but the last high nibble, and TBCD's non-decimal
      // values, are kept as letters: a decimal prefix matches the digits
      // before them and can never match through them.
      {"filler in the middle", sequence("80 03 21 f3 45"), "imsi:123f54"},
      {"filler in the last low nibble", sequence("80 02 21 3f"), "imsi:12f3"},
      {"last octet all filler", sequence("80 02 21 ff"), "imsi:12f"},
      {"non-decimal nibbles", sequence("80 02 a1 cb"), "imsi:1abc"},
      {"one octet", sequence("80 01 f1"), "imsi:1"},
      {"empty IMSI", sequence(std::string("80 00") + rest), "absent"},
      {"IMSI of 32 octets", sequence("80 20" + repeat(" 11", 32)), "imsi:" + std::string(64, '1')},
      {"IMSI of 33 octets", sequence("80 21" + repeat(" 11", 33)), "absent"},
      {"IMSI in constructed segments", sequence("a0 0a 04 03 22 08 21 04 03 21 10 f0"),
       "imsi:22801212010"},
      {"constructed IMSI with a foreign segment", sequence("a0 05 04 01 21 02 00"), "absent"},
      {"constructed IMSI damaged", sequence("a0 04 04 05 21 43"), "absent"},
      {"constructed IMSI without segments", sequence("a0 00"), "absent"},
      {"lmsi", sequence("81 04 01 02 03 04" + rest), "lmsi"},
      {"service centre address", sequence("84 04 91 44 77 f9" + rest), "serviceCentreAddressDA"},
      {"no SM-RP-DA", sequence("85 00" + rest), "noSM-RP-DA"},
      {"no SM-RP-DA constructed", sequence("a5 00" + rest), "absent"},
      {"MAP v1 roaming number", sequence("83 03 91 44 77" + rest), "absent"},
      {"choice [2]", sequence("82 01 00"), "absent"},
      {"universal first element", sequence("04 02 21 43"), "absent"},
      {"empty SEQUENCE", sequence(""), "absent"},
      {"damaged first element", sequence("80 09 21 43"), "absent"},
      {"SET instead of SEQUENCE", hex("31 04 80 02 21 43"), "absent"},
      {"primitive parameter", hex("04 04 80 02 21 43"), "absent"},
      {"indefinite SEQUENCE", hex("30 80 80 03 21 43 f5 00 00"), "imsi:12345"},
      {"long-form lengths", hex("30 82 00 06 80 82 00 02 21 43"), "imsi:1234"},
      {"no parameter", {}, "absent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.param), c.expected);
  }
}

// An IMSI of up to 8 octets with 8 octets of the argument from its start on
// is spread into digits at once, any other octet by octet: every length of
// IMSI, odd and even, followed by every length of the rest of the argument,
// against the plain definition (low nibble first, 10-15 as a-f, the filler
// dropped only as the last high nibble).
TEST(forward_sm, imsi_of_every_length_before_every_length_of_the_rest) {
  constexpr char kDigit[] = "0123456789abcdef";
  for (std::size_t octets = 1; octets <= 12; ++octets) {
    for (std::size_t rest = 0; rest <= 10; ++rest) {
      for (const bool odd : {false, true}) {
        Bytes contents = {0x80, static_cast<std::uint8_t>(octets)};
        std::string expected = "imsi:";
        for (std::size_t i = 0; i < octets; ++i) {
          auto o = static_cast<std::uint8_t>(0x21 + 0x35 * i);
          // The last high nibble: the filler when odd, a digit when even.
          if (i + 1 == octets) o = static_cast<std::uint8_t>((odd ? 0xF0 : 0x70) | (o & 0x0F));
          contents.push_back(o);
          expected += kDigit[o & 0x0F];
          if (!(odd && i + 1 == octets)) expected += kDigit[o >> 4];
        }
        // Octets of sm-RP-OA and sm-RP-UI; their values must not reach the digits.
        for (std::size_t i = 0; i < rest; ++i) contents.push_back(0x99);
        Bytes param = {0x30, static_cast<std::uint8_t>(contents.size())};
        param.insert(param.end(), contents.begin(), contents.end());
        EXPECT_EQ(read(param), expected)
            << octets << " octets, " << rest << " after, " << (odd ? "odd" : "even");
      }
    }
  }
}

TEST(forward_sm, absent_parameter_gives_no_argument) {
  EXPECT_FALSE(PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(nullptr, nullptr));
  EXPECT_FALSE(PXGSMMAP_MT_ForwardSM_Arg::initWithASN1Object(nullptr, nullptr));
}

// The SEQUENCE's contents cut at every offset: the IMSI reads only when its
// element is complete, whatever follows it.
TEST(forward_sm, truncation_at_every_offset) {
  const Bytes contents = hex(std::string("80 08 22 08 21 21 10 90 58 f6 ") + kRest);
  for (std::size_t n = 0; n <= contents.size(); ++n) {
    SCOPED_TRACE(n);
    const PXASN1Object cut(PXASN1TagClass::universal, true, 16, std::span(contents).first(n));
    const auto mo = PXGSMMAP_MO_ForwardSM_Arg::initWithASN1Object(&cut, nullptr);
    ASSERT_EQ(mo.has_value(), n >= 10);
    if (mo) {
      EXPECT_EQ(*mo->sm_RP_DA()->imsi()->imsiValue(), "228012120109856");
    }
  }
}

}  // namespace
