// Behaviour of the TCAP decoder on damage and unusual forms. The decoding of
// well-formed messages is compared with tshark in wire_vectors_test.cpp.
#include <gtest/gtest.h>

#include "DecoderTestSupport.hpp"
#include "px/tcap/Tcap.hpp"

namespace {

using namespace dectest;

// Definite short or long form, as the contents need.
Bytes tlv(std::uint8_t tag, std::initializer_list<Bytes> parts) {
  const Bytes body = cat(parts);
  Bytes out{tag};
  if (body.size() < 0x80) {
    out.push_back(static_cast<std::uint8_t>(body.size()));
  } else {
    out.insert(out.end(), {0x82, static_cast<std::uint8_t>(body.size() >> 8),
                           static_cast<std::uint8_t>(body.size())});
  }
  return cat({out, body});
}

Bytes integer(std::uint8_t v, std::uint8_t tag = 0x02) {
  return {tag, 0x01, v};
}
Bytes invoke(std::uint8_t id, std::uint8_t op, Bytes param = {}) {
  return tlv(0xA1, {integer(id), integer(op), param});
}
const Bytes kOtid = tlv(0x48, {{0x01, 0x02, 0x03, 0x04}});
const Bytes kDtid = tlv(0x49, {{0x0A, 0x0B}});
const Bytes kDialogue =
    hex("6b 1a 28 18 06 07 00 11 86 05 01 01 01 a0 0d 60 0b a1 09 06 07 04 00 00 01 00 15 03");
const Bytes kForwardSmArg = hex("30 0a 80 08 22 08 21 21 10 90 58 f6");

Bytes begin(std::initializer_list<Bytes> components) {
  return tlv(0x62, {kOtid, kDialogue, tlv(0x6C, components)});
}

std::string decoded(const Bytes& bytes) {
  PXTCAP_itu_asn1_message m;
  if (!m.decode(bytes)) return "absent";
  const std::string damage =
      m.isDamaged() ? " damaged(" + std::string(px::tcapDamageName(m.damage())) + ") " : " ";
  return std::string(px::messageTypeName(m.messageType())) + damage + dumpComponents(&m);
}

struct DamageCase {
  const char* name;
  Bytes bytes;
  const char* expected;
};

// A denied operation must not be hidden by anything around it: a component
// whose fields cannot be read is skipped and the next one is read; only broken
// framing of a component itself ends the portion.
TEST(tcap_damage, components_around_the_damage_are_kept) {
  const Bytes two = cat({invoke(1, 46, kForwardSmArg), invoke(2, 2)});
  const DamageCase cases[] = {
      {"unknown component tag", begin({two, tlv(0xA9, {integer(3)}), invoke(4, 3)}),
       "begin damaged(unknownComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"primitive component", begin({two, hex("81 01 00"), invoke(4, 3)}),
       "begin damaged(unknownComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"invoke without operation code", begin({two, tlv(0xA1, {integer(3)}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"operation code neither INTEGER nor OID",
       begin({two, tlv(0xA1, {integer(3), hex("04 01 03")}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"unterminated global operation code",
       begin({two, tlv(0xA1, {integer(3), hex("06 02 04 81")}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"empty invoke ID", begin({two, tlv(0xA1, {hex("02 00"), integer(3)}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"return result SEQUENCE without code",
       begin({two, tlv(0xA2, {integer(3), hex("30 00")}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"return result that is not a SEQUENCE",
       begin({two, tlv(0xA2, {integer(3), hex("04 00")}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"reject without problem", begin({two, tlv(0xA4, {integer(3)}), invoke(4, 3)}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2;invoke:4:L3"},
      {"damage in the first component", begin({hex("a1 03 02 01 01"), two}),
       "begin damaged(unreadableComponent) invoke:1:L46;invoke:2:L2"},
      // The parameter is opaque: its damage never costs the operation code.
      {"damaged parameter",
       begin({two, tlv(0xA1, {integer(3), integer(4), hex("30 05 02")}), invoke(5, 6)}),
       "begin damaged(damagedParameter) invoke:1:L46;invoke:2:L2;invoke:3:L4;invoke:5:L6"},
      // Broken framing of a component: nothing after it can be found.
      {"component length beyond the portion", begin({two, hex("a1 40 02 01 03")}),
       "begin damaged(componentFraming) invoke:1:L46;invoke:2:L2"},
      {"end-of-contents inside a definite portion", begin({two, hex("00 00"), invoke(4, 3)}),
       "begin damaged(componentFraming) invoke:1:L46;invoke:2:L2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.bytes), c.expected);
  }
}

// An unreadable first component must not hide a denied operation after it.
// tshark reads this Begin's second component as invoke 2, operation 71.
TEST(tcap_damage, unreadable_first_component_does_not_hide_the_next) {
  const Bytes bytes = begin({tlv(0xA1, {integer(1), hex("04 01 47")}), invoke(2, 71)});
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(bytes));
  EXPECT_EQ(m.damage(), PXTCAP_Damage::unreadableComponent);
  ASSERT_NE(m.componentPortion(), nullptr);
  EXPECT_EQ(m.componentPortion()->damage(), PXTCAP_Damage::unreadableComponent);
  EXPECT_EQ(dumpComponents(&m), "invoke:2:L71");
}

// An ID beyond 8 octets is an oversized value: the component keeps its
// operation code and parameter, and so do the components after it.
TEST(tcap_damage, oversized_ids_keep_the_component) {
  const Bytes nineOctets = hex("02 09 00 00 00 00 00 00 00 00 01");
  const Bytes linkedNine = hex("80 09 00 00 00 00 00 00 00 00 01");
  const DamageCase cases[] = {
      {"invoke ID of nine octets", begin({tlv(0xA1, {nineOctets, integer(71)}), invoke(2, 3)}),
       "begin damaged(oversizedId) invoke:-:L71;invoke:2:L3"},
      {"linked ID of nine octets",
       begin({tlv(0xA1, {integer(1), linkedNine, integer(71), kForwardSmArg})}),
       "begin damaged(oversizedId) invoke:1:L71"},
      {"return result with an invoke ID of nine octets",
       tlv(0x64, {kDtid, tlv(0x6C, {tlv(0xA2, {nineOctets, tlv(0x30, {integer(56)})})})}),
       "end damaged(oversizedId) returnResultLast:-:L56"},
      {"reject with an invoke ID of nine octets",
       tlv(0x64, {kDtid, tlv(0x6C, {tlv(0xA4, {nineOctets, hex("81 01 01")})})}),
       "end damaged(oversizedId) reject:-:-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.bytes), c.expected);
  }
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(begin({tlv(0xA1, {integer(1), linkedNine, integer(71), kForwardSmArg})})));
  const auto& c = m.componentPortion()->arrayOfComponents()[0];
  EXPECT_EQ(c.invokeId(), 1);
  EXPECT_FALSE(c.linkedId());
  EXPECT_NE(c.params(), nullptr);
}

// Valid BER nests as deep as it likes: the operation code before a parameter
// of 200 indefinite levels is read, and the parameter is kept whole.
TEST(tcap_damage, deeply_nested_parameter_keeps_the_operation) {
  Bytes nested = hex("05 00");
  for (int i = 0; i < 200; ++i) nested = cat({hex("30 80"), nested, hex("00 00")});
  const Bytes bytes = cat({hex("62 80"), kOtid, hex("6c 80 a1 80"), integer(1), integer(71), nested,
                           hex("00 00 00 00 00 00")});
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(bytes));
  EXPECT_FALSE(m.isDamaged());
  EXPECT_EQ(dumpComponents(&m), "invoke:1:L71");
  ASSERT_NE(m.componentPortion()->arrayOfComponents()[0].params(), nullptr);
  EXPECT_EQ(m.componentPortion()->arrayOfComponents()[0].params()->contents().size(),
            nested.size() - 4);
}

TEST(tcap_damage, damage_names) {
  EXPECT_EQ(px::tcapDamageName(PXTCAP_Damage::none), "none");
  EXPECT_EQ(px::tcapDamageName(PXTCAP_Damage::componentFraming), "componentFraming");
  EXPECT_EQ(px::tcapDamageName(PXTCAP_Damage::damagedParameter), "damagedParameter");
}

TEST(tcap_damage, message_cut_short_keeps_its_complete_components) {
  const Bytes whole = begin({invoke(1, 46, kForwardSmArg), invoke(2, 2), invoke(3, 71)});
  // Cut inside the third invoke: the outer lengths now run past the end.
  const Bytes cut(whole.begin(), whole.end() - 2);
  EXPECT_EQ(decoded(cut), "begin damaged(portionLength) invoke:1:L46;invoke:2:L2");

  const Bytes indefinite = cat({hex("62 80"), kOtid, hex("6c 80"), invoke(1, 46, kForwardSmArg),
                                invoke(2, 2), hex("00 00 00 00")});
  EXPECT_EQ(decoded(indefinite), "begin invoke:1:L46;invoke:2:L2");
  const Bytes noEnd(indefinite.begin(), indefinite.end() - 4);
  EXPECT_EQ(decoded(noEnd), "begin damaged(portionLength) invoke:1:L46;invoke:2:L2");
}

// Every prefix: no crash, and whatever is delivered is a prefix of the whole
// decoding, marked damaged.
TEST(tcap_damage, truncation_at_every_offset) {
  const Bytes whole =
      begin({invoke(1, 46, kForwardSmArg),
             tlv(0xA1, {integer(2), integer(0x80, 0x80), hex("06 07 04 00 00 01 00 15 03")}),
             invoke(3, 71)});
  PXTCAP_itu_asn1_message full;
  ASSERT_TRUE(full.decode(whole));
  ASSERT_FALSE(full.isDamaged());
  const auto all = full.componentPortion()->arrayOfComponents();
  ASSERT_EQ(all.size(), 3u);
  PXTCAP_itu_asn1_message m;
  for (std::size_t n = 0; n < whole.size(); ++n) {
    SCOPED_TRACE(n);
    const bool ok = m.decode(std::span(whole).first(n));
    // The header (tag, length, OTID) ends at octet 8.
    EXPECT_EQ(ok, n >= 2 + kOtid.size());
    if (!ok) continue;
    EXPECT_TRUE(m.isDamaged());
    const auto* portion = m.componentPortion();
    if (!portion) continue;
    EXPECT_TRUE(portion->isDamaged());
    const auto got = portion->arrayOfComponents();
    ASSERT_LT(got.size(), all.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(dump(got[i]), dump(all[i]));
  }
}

TEST(tcap_header, a_message_whose_header_cannot_be_read_is_absent) {
  const DamageCase cases[] = {
      {"empty", {}, "absent"},
      {"tag only", hex("62"), "absent"},
      {"long length cut", hex("62 82 00"), "absent"},
      {"begin without OTID", tlv(0x62, {kDialogue, tlv(0x6C, {invoke(1, 2)})}), "absent"},
      {"begin with a damaged OTID", hex("62 06 48 09 01 02 03 04"), "absent"},
      {"constructed OTID", tlv(0x62, {tlv(0x68, {hex("04 01 01")}), tlv(0x6C, {invoke(1, 2)})}),
       "absent"},
      {"continue without DTID", tlv(0x65, {kOtid, tlv(0x6C, {invoke(1, 2)})}), "absent"},
      {"continue with DTID first", tlv(0x65, {kDtid, kOtid, tlv(0x6C, {invoke(1, 2)})}), "absent"},
      {"end without DTID", tlv(0x64, {tlv(0x6C, {invoke(1, 2)})}), "absent"},
      {"abort without DTID", tlv(0x67, {hex("4a 01 01")}), "absent"},
      {"universal SEQUENCE", tlv(0x30, {kOtid}), "absent"},
      {"ANSI query with permission", hex("e2 0e c7 04 00 00 00 0b e8 06 e9 04 cf 01 00 d0"),
       "absent"},
      {"primitive application tag", hex("42 01 00"), "absent"},
      {"unknown application tag", tlv(0x63, {kOtid}), "absent"},
      {"SCCP management", hex("01 8e 02 05 00 00"), "absent"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.bytes), c.expected);
  }
}

TEST(tcap_forms, accepted_variants) {
  const DamageCase cases[] = {
      {"begin without component portion", tlv(0x62, {kOtid, kDialogue}), "begin -"},
      {"empty component portion", tlv(0x62, {kOtid, hex("6c 00")}), "begin -"},
      {"unknown element before the components is stepped over",
       tlv(0x62, {kOtid, hex("5f 20 01 00"), kDialogue, tlv(0x6C, {invoke(1, 2)})}),
       "begin invoke:1:L2"},
      {"bytes after the message are ignored", cat({begin({invoke(1, 2)}), hex("ff ff")}),
       "begin invoke:1:L2"},
      {"linked ID in its absent form", begin({tlv(0xA1, {integer(1), hex("81 00"), integer(2)})}),
       "begin invoke:1:L2"},
      {"elements after the parameter are not read",
       begin({tlv(0xA1, {integer(1), integer(2), hex("04 00 04 00")})}), "begin invoke:1:L2"},
      {"return error with a global code",
       tlv(0x64, {kDtid, tlv(0x6C, {tlv(0xA3, {integer(1), hex("06 03 04 00 22")})})}),
       "end returnError:1:EG34"},
      {"long operation code", begin({tlv(0xA1, {integer(1), hex("02 05 01 00 00 00 2e")})}),
       "begin invoke:1:L4294967342"},
      {"negative operation code", begin({tlv(0xA1, {integer(1), hex("02 01 ff")})}),
       "begin invoke:1:L-1"},
      {"abort with a dialogue portion", tlv(0x67, {kDtid, kDialogue}), "abort -"},
      {"unidirectional", tlv(0x61, {tlv(0x6C, {invoke(1, 46, kForwardSmArg)})}),
       "unidirectional invoke:1:L46"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.bytes), c.expected);
  }
}

// Invoke IDs and local operation codes of one octet are read in one step,
// every other form element by element: for every value, the one-octet form
// must decode as the same value in two octets does.
TEST(tcap_forms, one_octet_ids_and_codes_read_as_their_two_octet_forms) {
  for (unsigned v = 0; v < 256; ++v) {
    SCOPED_TRACE(v);
    const auto o = static_cast<std::uint8_t>(v);
    const Bytes two = {0x02, 0x02, static_cast<std::uint8_t>(v & 0x80 ? 0xFF : 0x00), o};
    const Bytes one = integer(o);
    const auto both = [&](auto build) { EXPECT_EQ(decoded(build(one)), decoded(build(two))); };
    both([&](const Bytes& i) { return begin({tlv(0xA1, {i, integer(46), kForwardSmArg})}); });
    both([&](const Bytes& i) { return begin({tlv(0xA1, {integer(1), i, kForwardSmArg})}); });
    both([&](const Bytes& i) { return begin({tlv(0xA1, {i, hex("80 01 05"), i})}); });
    both([&](const Bytes& i) {
      return tlv(0x64, {kDtid, tlv(0x6C, {tlv(0xA2, {i, tlv(0x30, {i, hex("04 00")})})})});
    });
  }
}

// Elements whose tag is expected are still read as any other element when
// their form or length is not the common one.
TEST(tcap_forms, expected_elements_in_other_forms) {
  const DamageCase cases[] = {
      {"transaction ID with a long-form length",
       tlv(0x62, {hex("48 81 04 01 02 03 04"), tlv(0x6C, {invoke(1, 2)})}), "begin invoke:1:L2"},
      {"transaction ID running past the message", hex("62 06 48 05 01 02 03 04"), "absent"},
      {"invoke ID with a long-form length", begin({tlv(0xA1, {hex("02 81 01 07"), integer(2)})}),
       "begin invoke:7:L2"},
      {"operation code with a long-form length",
       begin({tlv(0xA1, {integer(1), hex("02 81 01 2e")})}), "begin invoke:1:L46"},
      {"component ends after the invoke ID's tag and length",
       begin({tlv(0xA1, {integer(1), hex("02 01")}), invoke(2, 3)}),
       "begin damaged(unreadableComponent) invoke:2:L3"},
      {"component ends after the invoke ID", begin({tlv(0xA1, {integer(1)}), invoke(2, 3)}),
       "begin damaged(unreadableComponent) invoke:2:L3"},
      {"empty invoke ID", begin({tlv(0xA1, {hex("02 00"), integer(2)}), invoke(2, 3)}),
       "begin damaged(unreadableComponent) invoke:2:L3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decoded(c.bytes), c.expected);
  }
}

TEST(tcap_fields, invoke_fields_and_views) {
  const Bytes bytes =
      begin({tlv(0xA1, {integer(7), integer(3, 0x80), integer(46), kForwardSmArg})});
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(bytes));
  ASSERT_TRUE(m.otid());
  EXPECT_EQ(Bytes(m.otid()->begin(), m.otid()->end()), hex("01 02 03 04"));
  EXPECT_FALSE(m.dtid());
  const auto& c = m.componentPortion()->arrayOfComponents()[0];
  EXPECT_EQ(c.invokeId(), 7);
  EXPECT_EQ(c.linkedId(), 3);
  EXPECT_TRUE(c.hasLocalOperationCode());
  EXPECT_FALSE(c.hasGlobalOperationCode());
  ASSERT_NE(c.params(), nullptr);
  EXPECT_TRUE(c.params()->is(PXASN1TagClass::universal, true, 16));
  // The parameter views the input rather than a copy.
  EXPECT_GE(c.params()->contents().data(), bytes.data());
  EXPECT_LE(c.params()->contents().data() + c.params()->contents().size(),
            bytes.data() + bytes.size());
}

TEST(tcap_fields, return_error_code_is_not_an_operation_code) {
  const Bytes bytes =
      tlv(0x64, {kDtid, tlv(0x6C, {tlv(0xA3, {integer(1), integer(34), hex("30 00")})})});
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(bytes));
  const auto& c = m.componentPortion()->arrayOfComponents()[0];
  EXPECT_FALSE(c.hasLocalOperationCode());
  EXPECT_FALSE(c.hasGlobalOperationCode());
  EXPECT_EQ(c.operationCode(), 0);
  EXPECT_EQ(c.errorCode(), 34);
  EXPECT_NE(c.params(), nullptr);
}

TEST(tcap_reuse, a_reused_message_keeps_its_component_storage) {
  const Bytes big = begin({invoke(1, 2), invoke(2, 3), invoke(3, 4), invoke(4, 5)});
  const Bytes small = begin({invoke(9, 46, kForwardSmArg)});
  PXTCAP_itu_asn1_message m;
  ASSERT_TRUE(m.decode(big));
  const auto* storage = m.componentPortion()->arrayOfComponents().data();
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(m.decode(small));
    EXPECT_EQ(m.componentPortion()->arrayOfComponents().data(), storage);
    ASSERT_TRUE(m.decode(big));
    EXPECT_EQ(m.componentPortion()->arrayOfComponents().data(), storage);
  }
  EXPECT_FALSE(m.decode(hex("30 00")));
  EXPECT_EQ(m.componentPortion(), nullptr);
}

}  // namespace
