#include "px/asn1/BerReader.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "DecoderTestSupport.hpp"

namespace {

using namespace dectest;
using px::ber::BerError;
using px::ber::BerReader;

struct ElementCase {
  const char* name;
  const char* bytes;
  BerError error;  // none: the element reads
  PXASN1TagClass tagClass = PXASN1TagClass::universal;
  std::uint32_t tagNumber = 0;
  const char* contents = "";
  std::size_t consumed = 0;
  bool indefinite = false;
};

// X.690 8.1 forms, hand-encoded.
const ElementCase kElements[] = {
    {"short_length", "02 01 05", BerError::none, PXASN1TagClass::universal, 2, "05", 3},
    {"long_form_one_octet", "30 81 03 02 01 05", BerError::none, PXASN1TagClass::universal, 16,
     "02 01 05", 6},
    {"long_form_non_minimal", "30 82 00 03 02 01 05", BerError::none, PXASN1TagClass::universal, 16,
     "02 01 05", 7},
    {"long_form_four_octets", "30 84 00 00 00 03 02 01 05", BerError::none,
     PXASN1TagClass::universal, 16, "02 01 05", 9},
    {"long_form_eight_octets", "30 88 00 00 00 00 00 00 00 03 02 01 05", BerError::none,
     PXASN1TagClass::universal, 16, "02 01 05", 13},
    {"long_form_nine_octets", "30 89 00 00 00 00 00 00 00 00 03 02 01 05", BerError::lengthTooLong},
    {"long_form_huge_value", "30 88 ff ff ff ff ff ff ff ff 02 01 05", BerError::lengthBeyondInput},
    {"reserved_length_ff", "30 ff 02 01 05", BerError::lengthTooLong},
    {"zero_length", "05 00", BerError::none, PXASN1TagClass::universal, 5, "", 2},
    {"indefinite", "30 80 02 01 05 00 00", BerError::none, PXASN1TagClass::universal, 16,
     "02 01 05", 7, true},
    {"indefinite_nested", "a1 80 30 80 02 01 05 00 00 00 00 ff", BerError::none,
     PXASN1TagClass::contextSpecific, 1, "30 80 02 01 05 00 00", 11, true},
    {"indefinite_with_zero_octets_inside_a_definite_child", "30 80 04 02 00 00 00 00",
     BerError::none, PXASN1TagClass::universal, 16, "04 02 00 00", 8, true},
    {"indefinite_empty", "6c 80 00 00", BerError::none, PXASN1TagClass::application, 12, "", 4,
     true},
    {"indefinite_without_end", "30 80 02 01 05", BerError::missingEndOfContents},
    {"indefinite_half_end", "30 80 02 01 05 00", BerError::missingEndOfContents},
    {"indefinite_nested_without_end", "30 80 30 80 02 01 05 00 00", BerError::missingEndOfContents},
    {"indefinite_child_beyond_input", "30 80 04 09 00 00", BerError::lengthBeyondInput},
    {"indefinite_primitive", "04 80 01 00 00", BerError::indefinitePrimitive},
    {"end_of_contents_with_length", "30 80 00 01 00 00 00", BerError::unexpectedEndOfContents},
    {"high_tag_number", "9f 81 00 01 07", BerError::none, PXASN1TagClass::contextSpecific, 128,
     "07", 5},
    {"high_tag_number_32_bits", "df 8f ff ff ff 7f 00", BerError::none, PXASN1TagClass::privateUse,
     0xFFFFFFFF, "", 7},
    {"high_tag_number_beyond_32_bits", "df 90 80 80 80 00 00", BerError::tagTooLarge},
    {"high_tag_number_truncated", "bf 81", BerError::truncated},
    {"identifier_only", "30", BerError::truncated},
    {"long_length_truncated", "30 82 00", BerError::truncated},
    {"length_beyond_input", "30 05 02 01", BerError::lengthBeyondInput},
    {"end_of_contents_alone", "00 00", BerError::unexpectedEndOfContents},
    {"empty", "", BerError::truncated},
};

class ber_element : public testing::TestWithParam<ElementCase> {};

TEST_P(ber_element, reads_or_names_the_damage) {
  const auto& c = GetParam();
  const Bytes bytes = hex(c.bytes);
  std::size_t consumed = 0;
  BerError error = BerError::none;
  const auto element = px::ber::readElement(bytes, consumed, &error);
  EXPECT_EQ(px::ber::berErrorName(error), px::ber::berErrorName(c.error));
  ASSERT_EQ(element.has_value(), c.error == BerError::none);
  if (!element) return;
  EXPECT_EQ(element->tagClass(), c.tagClass);
  EXPECT_EQ(element->tagNumber(), c.tagNumber);
  EXPECT_EQ(Bytes(element->contents().begin(), element->contents().end()), hex(c.contents));
  EXPECT_EQ(consumed, c.consumed);
  EXPECT_EQ(element->isIndefiniteLength(), c.indefinite);
}

INSTANTIATE_TEST_SUITE_P(forms, ber_element, testing::ValuesIn(kElements),
                         [](const auto& info) { return std::string(info.param.name); });

Bytes nestedIndefinite(unsigned depth) {
  Bytes b;
  for (unsigned i = 0; i < depth; ++i) b.insert(b.end(), {0x30, 0x80});
  b.insert(b.end(), {0x05, 0x00});
  for (unsigned i = 0; i < depth; ++i) b.insert(b.end(), {0x00, 0x00});
  return b;
}

// Nesting is counted, not limited: valid BER of any depth reads as one
// element, and the walk never recurses.
TEST(ber_element, indefinite_nesting_is_counted_not_limited) {
  for (const unsigned depth : {1u, 32u, 33u, 40u, 1000u, 200000u}) {
    SCOPED_TRACE(depth);
    const Bytes b = nestedIndefinite(depth);
    std::size_t consumed = 0;
    ASSERT_TRUE(px::ber::readElement(b, consumed));
    EXPECT_EQ(consumed, b.size());
    // One end-of-contents short: the outermost element has no end.
    BerError error = BerError::none;
    EXPECT_FALSE(px::ber::readElement(std::span(b).first(b.size() - 2), consumed, &error));
    EXPECT_EQ(error, BerError::missingEndOfContents);
  }
}

TEST(ber_element, every_truncation_of_a_nested_element_fails_cleanly) {
  const Bytes whole =
      hex("62 80 48 04 01 02 03 04 6c 80 a1 82 00 08 02 01 01 02 01 2e 30 00 00 00 00 00");
  std::size_t consumed = 0;
  ASSERT_TRUE(px::ber::readElement(whole, consumed));
  ASSERT_EQ(consumed, whole.size());
  for (std::size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(px::ber::readElement(std::span(whole).first(n), consumed));
  }
}

TEST(ber_reader, yields_children_in_order_then_stops_at_damage) {
  const Bytes bytes = hex("30 0b 02 01 01 30 80 05 00 00 00 04 09");
  std::size_t consumed = 0;
  const auto seq = px::ber::readElement(bytes, consumed);
  ASSERT_TRUE(seq);
  auto r = BerReader::children(*seq);
  const auto first = r.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->tagNumber(), 2u);
  const auto second = r.next();
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->isIndefiniteLength());
  EXPECT_FALSE(r.next());  // 04 09 runs past the end of the SEQUENCE
  EXPECT_TRUE(r.damaged());
  EXPECT_EQ(r.error(), BerError::lengthBeyondInput);
  EXPECT_FALSE(r.next());
}

TEST(ber_reader, primitive_elements_have_no_children) {
  const PXASN1Object octets(PXASN1TagClass::universal, false, 4, std::span<const std::uint8_t>());
  auto r = BerReader::children(octets);
  EXPECT_TRUE(r.atEnd());
  EXPECT_FALSE(r.next());
  EXPECT_FALSE(r.damaged());
}

struct IntegerCase {
  const char* contents;
  std::optional<std::int64_t> value;
};

TEST(ber_integer, twos_complement_up_to_eight_octets) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const IntegerCase cases[] = {
      {"", std::nullopt},
      {"00", 0},
      {"2e", 46},
      {"7f", 127},
      {"80", -128},
      {"ff", -1},
      {"00 80", 128},
      {"ff 7f", -129},
      {"00 00 2e", 46},  // redundant leading octets are read, not refused
      {"7f ff ff ff ff ff ff ff", kMax},
      {"80 00 00 00 00 00 00 00", kMin},
      {"00 00 00 01 00 00 00 2e", 0x10000002e},
      {"00 7f ff ff ff ff ff ff ff", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    EXPECT_EQ(px::ber::decodeInteger(hex(c.contents)), c.value);
  }
}

TEST(ber_object_identifier, last_arc) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const IntegerCase cases[] = {
      {"04 00 00 01 00 15 03", 3},      // 0.4.0.0.1.0.21.3
      {"04 00 00 01 00 15 03 2e", 46},  // 0.4.0.0.1.0.21.3.46
      {"2a 86 48 86 f7 0d", 113549},    // 1.2.840.113549
      {"2a", 2},                        // 1.2: one subidentifier holds two arcs
      {"00", 0},                        // 0.0
      {"51", 1},                        // 2.1
      {"88 37", 999},                   // 2.999
      {"2a 80 80 05", 5},               // padded subidentifier, read leniently
      {"2a ff ff ff ff ff ff ff ff 7f", kMax},
      {"2a 81 80 80 80 80 80 80 80 80 00", std::nullopt},  // beyond 63 bits
      {"2a 81", std::nullopt},                             // last subidentifier unterminated
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.contents);
    EXPECT_EQ(px::ber::objectIdentifierLastArc(hex(c.contents)), c.value);
  }
}

}  // namespace
