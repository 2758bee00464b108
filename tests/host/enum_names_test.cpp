// Names of enumerations from their tables: every value named once, and a
// value outside the enumeration given the fallback rather than a stray name.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "px/EnumNames.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/asn1/BerReader.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

template <class E, class Name>
void expectDistinctNames(int first, int last, Name name) {
  std::set<std::string_view> seen;
  for (int v = first; v <= last; ++v) {
    const std::string_view n = name(static_cast<E>(v));
    EXPECT_NE(n, "unknown") << v;
    EXPECT_TRUE(seen.insert(n).second) << n << " twice";
  }
}

TEST(EnumNames, LookUpByValueWithAFallback) {
  enum class Colour { red = 3, green = -7 };
  constexpr px::EnumName<Colour> kNames[] = {{Colour::red, "red"}, {Colour::green, "green"}};
  static_assert(px::enumName(Colour::green, kNames) == "green");
  EXPECT_EQ(px::enumName(Colour::red, kNames), "red");
  EXPECT_EQ(px::enumName(static_cast<Colour>(0), kNames), "unknown");
  EXPECT_EQ(px::enumName(static_cast<Colour>(0), kNames, "?"), "?");
}

TEST(EnumNames, EveryDecoderErrorHasItsOwnName) {
  expectDistinctNames<px::ber::BerError>(
      0, static_cast<int>(px::ber::BerError::unexpectedEndOfContents), px::ber::berErrorName);
  EXPECT_EQ(px::ber::berErrorName(px::ber::BerError::indefinitePrimitive), "indefinitePrimitive");
  EXPECT_EQ(px::ber::berErrorName(static_cast<px::ber::BerError>(200)), "unknown");
  expectDistinctNames<px::SccpDecodeError>(
      0, static_cast<int>(px::SccpDecodeError::badOptionalPart), px::decodeErrorName);
  EXPECT_EQ(px::decodeErrorName(px::SccpDecodeError::badPointer), "badPointer");
  EXPECT_EQ(px::decodeErrorName(static_cast<px::SccpDecodeError>(200)), "unknown");
}

TEST(EnumNames, VerdictsAndDecidersAsTheRecordsShowThem) {
  static_assert(px::verdictName(PXSccpScreening_implicitlyDenied) == "implicitlyDenied");
  EXPECT_EQ(px::verdictName(PXSccpScreening_errorResult), "errorResult");
  EXPECT_EQ(px::verdictName(3), "unknown");
  expectDistinctNames<PXScreeningDecider>(0, static_cast<int>(PXScreeningDecider::allowedOperation),
                                          px::deciderName);
  static_assert(px::deciderName(PXScreeningDecider::deniedOperation) == "deniedOperation");
  EXPECT_EQ(px::deciderName(static_cast<PXScreeningDecider>(99)), "none");
}

}  // namespace
