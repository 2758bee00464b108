// Behaviour of the SCCP decoder on damage. The decoding of well-formed
// messages and address forms is compared with tshark in wire_vectors_test.cpp.
#include <gtest/gtest.h>

#include "DecoderTestSupport.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

using px::SccpDecodeError;
using px::SccpMessageType;

using namespace dectest;

std::uint8_t u8(std::size_t v) {
  return static_cast<std::uint8_t>(v);
}
Bytes lv(const Bytes& v) {
  return cat({{u8(v.size())}, v});
}

// GTI 4, SSN 8, E.164 international, 12 and 13 digits.
const Bytes kCalled = hex("12 08 00 12 04 44 77 00 09 10 32");
const Bytes kCalling = hex("12 08 00 11 04 44 77 00 09 10 32 04");
// Begin, mo-ForwardSM invoke with IMSI 228012120109856, then invoke 2 of code 2.
const Bytes kBegin =
    hex("62 2a 48 04 00 00 00 01 6c 22 a1 15 02 01 01 02 01 2e 30 0d 80 08 22 08 21 21 10 90 58 f6 "
        "84 01 00 a1 06 02 01 02 02 01 02");

Bytes udt(const Bytes& called, const Bytes& calling, const Bytes& data) {
  return cat({{0x09, 0x80, 3, u8(3 + called.size()), u8(3 + called.size() + calling.size())},
              lv(called),
              lv(calling),
              lv(data)});
}
Bytes xudt(const Bytes& called, const Bytes& calling, const Bytes& data, const Bytes& optional) {
  const std::size_t p1 = 4, p2 = p1 - 1 + 1 + called.size(), p3 = p2 - 1 + 1 + calling.size();
  const std::size_t p4 = optional.empty() ? 0 : p3 - 1 + 1 + data.size();
  return cat({{0x11, 0x80, 0x0F, u8(p1), u8(p2), u8(p3), u8(p4)},
              lv(called),
              lv(calling),
              lv(data),
              optional});
}
Bytes ludt(const Bytes& called, const Bytes& calling, const Bytes& data) {
  // Two-octet pointers count from their second octet (Q.713 2.3, as tshark reads them).
  const std::size_t p1 = 7, p2 = p1 - 2 + 1 + called.size(), p3 = p2 - 2 + 1 + calling.size();
  return cat({{0x13, 0x80, 0x0F, u8(p1), 0, u8(p2), 0, u8(p3), 0, 0, 0},
              lv(called),
              lv(calling),
              {u8(data.size()), u8(data.size() >> 8)},
              data});
}

struct Result {
  SccpDecodeError error;
  std::string called, calling, components;
};

Result decode(const Bytes& bytes) {
  PXSCCP_Packet p;
  const auto e = p.decode(bytes);
  return {e, dump(p.incomingCalledPartyAddress()), dump(p.incomingCallingPartyAddress()),
          p.incomingTcapBegin() ? dumpComponents(p.incomingTcapBegin()) : std::string("none")};
}

const std::string kCalledDump =
    "nat=0 ri=0 gti=4 pc=- ssn=8 tt=0 np=1 es=2 nai=4 digits=447700900123";
const std::string kCallingDump =
    "nat=0 ri=0 gti=4 pc=- ssn=8 tt=0 np=1 es=1 nai=4 digits=4477009001234";
const std::string kBoth = "invoke:1:L46;invoke:2:L2";

TEST(sccp_decode, well_formed_udt) {
  const auto r = decode(udt(kCalled, kCalling, kBegin));
  EXPECT_EQ(r.error, SccpDecodeError::none);
  EXPECT_EQ(r.called, kCalledDump);
  EXPECT_EQ(r.calling, kCallingDump);
  EXPECT_EQ(r.components, kBoth);
}

struct ErrorCase {
  const char* name;
  Bytes bytes;
  SccpDecodeError error;
  std::string called, calling, components;
};

// Each mandatory parameter is reached through its own pointer, so damage in
// one leaves the others readable; the first error in parameter order is returned.
TEST(sccp_decode, damage_keeps_what_can_be_read) {
  Bytes calledPointerZero = udt(kCalled, kCalling, kBegin);
  calledPointerZero[2] = 0;
  Bytes callingPointerOut = udt(kCalled, kCalling, kBegin);
  callingPointerOut[3] = 0xF0;
  Bytes dataPointerZero = udt(kCalled, kCalling, kBegin);
  dataPointerZero[4] = 0;
  Bytes calledLengthBeyond = udt(kCalled, kCalling, kBegin);
  calledLengthBeyond[5] = 0xFE;
  const Bytes cutData(kBegin.begin(), kBegin.end() - 3);
  Bytes dataCut = udt(kCalled, kCalling, kBegin);
  dataCut.resize(dataCut.size() - 3);

  const ErrorCase cases[] = {
      {"empty", {}, SccpDecodeError::empty, "-", "-", "none"},
      {"connection request", hex("01 00 00 01 02 03 04"), SccpDecodeError::unsupportedMessageType,
       "-", "-", "none"},
      {"udt without pointers", hex("09 80 03 05"), SccpDecodeError::truncated, "-", "-", "none"},
      {"xudt without optional pointer", hex("11 80 0f 04 05 06"), SccpDecodeError::truncated, "-",
       "-", "none"},
      {"ludt with one-octet pointers", hex("13 80 0f 04 05 06 07"), SccpDecodeError::truncated, "-",
       "-", "none"},
      {"called pointer zero", calledPointerZero, SccpDecodeError::badPointer, "-", kCallingDump,
       kBoth},
      {"calling pointer past the end", callingPointerOut, SccpDecodeError::badPointer, kCalledDump,
       "-", kBoth},
      {"data pointer zero", dataPointerZero, SccpDecodeError::badPointer, kCalledDump, kCallingDump,
       "none"},
      {"called length past the end", calledLengthBeyond, SccpDecodeError::badParameterLength, "-",
       kCallingDump, kBoth},
      {"empty called address", udt({}, kCalling, kBegin), SccpDecodeError::badCalledPartyAddress,
       "-", kCallingDump, kBoth},
      {"calling GTI 4 without its header", udt(kCalled, hex("12 08 00 11"), kBegin),
       SccpDecodeError::badCallingPartyAddress, kCalledDump, "-", kBoth},
      {"calling point code cut", udt(kCalled, hex("43 01"), kBegin),
       SccpDecodeError::badCallingPartyAddress, kCalledDump, "-", kBoth},
      {"called SSN missing", udt(hex("42"), kCalling, kBegin),
       SccpDecodeError::badCalledPartyAddress, "-", kCallingDump, kBoth},
      {"both addresses bad: the called one is named", udt(hex("10"), hex("10"), kBegin),
       SccpDecodeError::badCalledPartyAddress, "-", "-", kBoth},
      // Data running past the end are read as far as they go.
      {"data cut short", dataCut, SccpDecodeError::badParameterLength, kCalledDump, kCallingDump,
       "invoke:1:L46"},
      {"data of a damaged begin", udt(kCalled, kCalling, cutData), SccpDecodeError::none,
       kCalledDump, kCallingDump, "invoke:1:L46"},
      {"optional part without its end", xudt(kCalled, kCalling, kBegin, hex("12 01 03")),
       SccpDecodeError::badOptionalPart, kCalledDump, kCallingDump, kBoth},
      {"optional parameter past the end", xudt(kCalled, kCalling, kBegin, hex("12 05 03")),
       SccpDecodeError::badOptionalPart, kCalledDump, kCallingDump, kBoth},
      {"first segment", xudt(kCalled, kCalling, kBegin, hex("10 04 81 00 00 01 00")),
       SccpDecodeError::none, kCalledDump, kCallingDump, kBoth},
      // A later segment starts in the middle of a TCAP message: it is not one.
      {"later segment", xudt(kCalled, kCalling, kBegin, hex("10 04 01 00 00 01 00")),
       SccpDecodeError::none, kCalledDump, kCallingDump, "none"},
      {"empty data", udt(kCalled, kCalling, {}), SccpDecodeError::none, kCalledDump, kCallingDump,
       "none"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = decode(c.bytes);
    EXPECT_EQ(px::decodeErrorName(r.error), px::decodeErrorName(c.error));
    EXPECT_EQ(r.called, c.called);
    EXPECT_EQ(r.calling, c.calling);
    EXPECT_EQ(r.components, c.components);
  }
}

TEST(sccp_decode, only_a_begin_is_the_incoming_begin) {
  const Bytes end = hex("64 0d 49 04 00 00 00 01 6c 05 a2 03 02 01 01");
  PXSCCP_Packet p;
  EXPECT_EQ(p.decode(udt(kCalled, kCalling, end)), SccpDecodeError::none);
  ASSERT_NE(p.tcapMessage(), nullptr);
  EXPECT_EQ(p.tcapMessage()->messageType(), PXTCAP_MessageType::end);
  EXPECT_EQ(p.incomingTcapBegin(), nullptr);
}

TEST(sccp_decode, wire_fields) {
  PXSCCP_Packet p;
  Bytes x = xudt(kCalled, kCalling, kBegin, {});
  x[1] = 0x81;
  x[2] = 0x07;
  ASSERT_EQ(p.decode(x), SccpDecodeError::none);
  EXPECT_EQ(p.messageType(), SccpMessageType::xudt);
  EXPECT_EQ(p.protocolClassOrCause(), 0x81);
  EXPECT_EQ(p.hopCounter(), 7);
  EXPECT_EQ(Bytes(p.data().begin(), p.data().end()), kBegin);
  ASSERT_EQ(p.decode(udt(kCalled, kCalling, kBegin)), SccpDecodeError::none);
  EXPECT_FALSE(p.hopCounter());
}

// Every prefix of each message kind: a specific error, never a crash, and any
// address that is delivered is the complete one.
TEST(sccp_decode, truncation_at_every_offset) {
  const Bytes messages[] = {udt(kCalled, kCalling, kBegin),
                            xudt(kCalled, kCalling, kBegin, hex("12 01 03 00")),
                            ludt(kCalled, kCalling, kBegin)};
  PXSCCP_Packet p;
  for (const auto& whole : messages) {
    ASSERT_EQ(p.decode(whole), SccpDecodeError::none);
    for (std::size_t n = 0; n < whole.size(); ++n) {
      SCOPED_TRACE(testing::Message() << "type " << int(whole[0]) << " cut at " << n);
      EXPECT_NE(p.decode(std::span(whole).first(n)), SccpDecodeError::none);
      if (p.incomingCalledPartyAddress()) {
        EXPECT_EQ(dump(p.incomingCalledPartyAddress()), kCalledDump);
      }
      if (p.incomingCallingPartyAddress()) {
        EXPECT_EQ(dump(p.incomingCallingPartyAddress()), kCallingDump);
      }
      if (const auto* b = p.incomingTcapBegin()) {
        EXPECT_TRUE(b->isDamaged() || n >= whole.size() - 4);  // only the optional part is missing
        const std::string got = dumpComponents(b) == "-" ? "" : dumpComponents(b);
        EXPECT_EQ(kBoth.compare(0, got.size(), got), 0) << got;
      }
    }
  }
}

TEST(sccp_decode, reused_packet_keeps_component_storage) {
  const Bytes one = udt(kCalled, kCalling, kBegin);
  PXSCCP_Packet p;
  ASSERT_EQ(p.decode(one), SccpDecodeError::none);
  const auto* storage = p.incomingTcapBegin()->componentPortion()->arrayOfComponents().data();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(p.decode(one), SccpDecodeError::none);
    ASSERT_EQ(p.incomingTcapBegin()->componentPortion()->arrayOfComponents().data(), storage);
  }
  // A packet that fails leaves nothing behind from the one before.
  EXPECT_EQ(p.decode(hex("09 80")), SccpDecodeError::truncated);
  EXPECT_EQ(p.incomingCalledPartyAddress(), nullptr);
  EXPECT_EQ(p.incomingCallingPartyAddress(), nullptr);
  EXPECT_EQ(p.tcapMessage(), nullptr);
}

TEST(sccp_decode, error_names) {
  for (int e = 0; e <= static_cast<int>(SccpDecodeError::badOptionalPart); ++e)
    EXPECT_NE(px::decodeErrorName(static_cast<SccpDecodeError>(e)), "unknown") << e;
}

}  // namespace
