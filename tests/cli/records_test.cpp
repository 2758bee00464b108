// The record writers: their pieces against independent formatters, and whole
// records with every field as long as a message can make it, which must stay
// within the room the writer reserves (past it, the buffer aborts).
#include <arpa/inet.h>
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "OperationNames.hpp"
#include "OutputBuffer.hpp"
#include "Records.hpp"
#include "px/ScreeningResult.hpp"
#include "px/ScreeningTrace.hpp"
#include "px/Value.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

namespace put = qs::put;

std::string toChars(std::int64_t v) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}
std::string toChars(std::uint64_t v) {
  char b[32];
  return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
}
std::string rightAligned(std::string s, std::size_t width) {
  return s.size() < width ? std::string(width - s.size(), ' ') + s : s;
}

// Integers around every change of digit count, and the extremes.
std::vector<std::int64_t> integerVectors() {
  std::vector<std::int64_t> v = {0,
                                 1,
                                 -1,
                                 9,
                                 10,
                                 99,
                                 100,
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
  std::int64_t p = 1;
  for (int i = 0; i < 18; ++i) {
    p *= 10;
    for (std::int64_t d : {-1, 0, 1}) {
      v.push_back(p + d);
      v.push_back(-(p + d));
    }
  }
  return v;
}

TEST(RecordPieces, IntegersAreWrittenAsToCharsWritesThem) {
  char b[64];
  for (std::int64_t v : integerVectors()) {
    EXPECT_EQ(std::string(b, put::integer(b, v)), toChars(v)) << v;
    auto u = static_cast<std::uint64_t>(v);
    EXPECT_EQ(std::string(b, put::unsignedInteger(b, u)), toChars(u)) << u;
    for (std::size_t width : {0, 2, 3, 7, 20, 22}) {
      EXPECT_EQ(std::string(b, put::integerRight(b, v, width)), rightAligned(toChars(v), width));
      EXPECT_EQ(std::string(b, put::unsignedIntegerRight(b, u, width)),
                rightAligned(toChars(u), width));
    }
  }
  EXPECT_EQ(toChars(std::numeric_limits<std::int64_t>::min()).size(), put::kMaxInteger);
  EXPECT_EQ(toChars(std::numeric_limits<std::uint64_t>::max()).size(), put::kMaxInteger);
}

TEST(RecordPieces, TextIsCopiedAlignedAndPaddedAtEveryLength) {
  std::string all;
  for (int i = 0; i < 80; ++i) all += static_cast<char>('A' + i % 26);
  char b[256];
  for (std::size_t n = 0; n <= all.size(); ++n) {
    std::string s = all.substr(0, n);
    EXPECT_EQ(std::string(b, put::text(b, s)), s);
    for (std::size_t width : {0, 5, 16, 32, 40}) {
      std::string padded = s.size() < width ? s + std::string(width - s.size(), ' ') : s;
      EXPECT_EQ(std::string(b, put::padded(b, s, width)), padded) << n << " " << width;
      EXPECT_EQ(std::string(b, put::right(b, s, width)), rightAligned(s, width));
    }
  }
  EXPECT_EQ(std::string(b, put::spaces(b, 40)), std::string(40, ' '));
}

// Digit strings of every length around the eight-byte words the quick path
// reads, each with every byte value in each place: the same text as the host's
// JSON writer.
TEST(RecordPieces, DigitStringsAreWrittenAsTheJsonWriterWritesThem) {
  char b[256], expected[256];
  for (std::size_t n = 0; n <= 24; ++n) {
    const std::string digits = std::string("31415926535897932384626433").substr(0, n);
    for (std::size_t at = 0; at <= n; ++at)
      for (int c = 0; c < 256; ++c) {
        std::string s = digits;
        if (at < n) s[at] = static_cast<char>(c);
        const std::string want(expected, px::writeJsonString(expected, s));
        ASSERT_EQ(std::string(b, put::jsonDigitString(b, s)), want) << n << " " << at << " " << c;
        if (at == n) break;  // nothing replaced: once is enough
      }
  }
}

using Octets = std::vector<std::uint8_t>;

Octets cat(Octets a, const Octets& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Octets tlv(Octets tag, const Octets& value) {
  std::size_t n = value.size();
  if (n < 128) {
    tag.push_back(static_cast<std::uint8_t>(n));
  } else {
    tag.push_back(0x82);
    tag.push_back(static_cast<std::uint8_t>(n >> 8));
    tag.push_back(static_cast<std::uint8_t>(n));
  }
  return cat(tag, value);
}

// An LUDT (two-octet pointers, Q.713 4.10) carrying a TCAP message (Begin
// unless `tcapTag` says otherwise) with these components, between two global
// titles of `digitOctets` TBCD octets.
Octets ludt(std::size_t digitOctets, const Octets& components, std::uint8_t tcapTag = 0x62) {
  // Q.773: Begin has an originating transaction ID, End and Abort a
  // destination one, Continue both, Unidirectional none.
  Octets ids;
  if (tcapTag == 0x62 || tcapTag == 0x65) ids = cat(ids, tlv({0x48}, {1, 2, 3, 4}));
  if (tcapTag == 0x64 || tcapTag == 0x65 || tcapTag == 0x67)
    ids = cat(ids, tlv({0x49}, {5, 6, 7, 8}));
  auto tcap = tlv({tcapTag}, tcapTag == 0x67 ? ids : cat(ids, tlv({0x6C}, components)));
  // Indicator (GT, GTI 4, SSN), SSN, TT, numbering plan / even, NAI, digits.
  Octets address = {0x12, 0x08, 0x00, 0x12, 0x04};
  address.resize(address.size() + digitOctets, 0x11);
  Octets m = {0x13, 0x80, 0x0F};  // LUDT, class 0, hop counter
  // Each pointer counts from its second octet.
  std::size_t called = 11, calling = called + 1 + address.size(),
              data = calling + 1 + address.size();
  for (std::size_t at : {called - 4, calling - 6, data - 8, std::size_t{0}}) {
    m.push_back(static_cast<std::uint8_t>(at));
    m.push_back(static_cast<std::uint8_t>(at >> 8));
  }
  for (int i = 0; i < 2; ++i) {
    m.push_back(static_cast<std::uint8_t>(address.size()));
    m = cat(m, address);
  }
  m.push_back(static_cast<std::uint8_t>(tcap.size()));
  m.push_back(static_cast<std::uint8_t>(tcap.size() >> 8));
  return cat(m, tcap);
}

Octets invoke(std::uint8_t id, const Octets& codeAndArgument) {
  return tlv({0xA1}, cat(tlv({0x02}, {id}), codeAndArgument));
}

// The most negative local operation code, the longest number a record shows.
const Octets kMostNegativeCode = tlv({0x02}, {0x80, 0, 0, 0, 0, 0, 0, 0});

// Writes every kind of record for `packet` with the longest file name, frame
// and index numbers, names and trace numbers: the buffer aborts if a record
// outgrows the room its writer counted.
std::string everyRecord(const PXSCCP_Packet& packet) {
  // Control characters take six octets each in JSON.
  std::string file(300, '\x01');
  qs::MessageView m;
  m.file = &file;
  m.frame = std::numeric_limits<std::uint64_t>::max();
  m.index = std::numeric_limits<std::uint32_t>::max();
  m.packet = &packet;
  m.error = std::string_view("unsupportedMessageType");
  // The longest origin: negative time in nanoseconds, IPv6 addresses without zeros.
  qs::MessageOrigin origin;
  origin.hasTime = true;
  origin.seconds = std::numeric_limits<std::int64_t>::min() + 1;
  origin.nanoseconds = 999'999'999;
  origin.nanoPrecision = true;
  origin.opc = origin.dpc = std::numeric_limits<std::uint32_t>::max();
  origin.si = 255;
  origin.ipVersion = 6;
  origin.src.fill(0xff);
  origin.dst.fill(0xee);
  origin.sctp = true;
  origin.sport = origin.dport = origin.stream = 65535;
  m.origin = &origin;
  m.segment = 16;
  m.segments = 16;
  m.incomplete = true;
  PXSccpScreeningTrace trace;
  trace.setImsi(std::string(PXSccpScreeningTrace::kMaxImsiDigits, '8'));
  trace.callingAllowed = trace.calledDenied = trace.fsmResult = PXSccpScreening_explicitlyPermitted;
  trace.deniedComponent = std::numeric_limits<std::int32_t>::min();
  trace.deniedOperationCode = std::numeric_limits<std::int64_t>::min();
  trace.deniedGlobal = true;
  trace.walked = true;
  std::string all;
  for (auto decider : {PXScreeningDecider::deniedOperation, PXScreeningDecider::calling}) {
    trace.decidedBy = decider;
    for (const qs::Verdict& v :
         {qs::Verdict{true, PXSccpScreening_implicitlyPermitted, &trace, trace.imsi()},
          qs::Verdict{false, 0, nullptr, std::nullopt}}) {
      qs::OutputBuffer out(16);  // grown for each record
      m.direction =
          v.screened ? qs::MessageView::Direction::inbound : qs::MessageView::Direction::outbound;
      qs::appendScreenText(out, m, v, true);
      qs::appendScreenJson(out, m, v);
      qs::appendDecodeText(out, m);
      qs::appendDecodeJson(out, m);
      all.append(out.data(), out.size());
    }
  }
  return all;
}

TEST(Records, TheLongestAddressesAndImsisStayWithinTheRoomOfEveryRecord) {
  // Two 500-digit global titles; MT-ForwardSMs whose SM-RP-DA is a 64-digit
  // IMSI, between local and global codes.
  Octets components;
  for (std::uint8_t i = 0; i < 24; ++i) {
    if (i % 3 == 0) {
      auto argument = tlv({0x30}, cat(tlv({0x80}, Octets(32, 0x88)), tlv({0x84}, {0x91, 0x21})));
      components = cat(components, invoke(i, cat(tlv({0x02}, {44}), argument)));
    } else if (i % 3 == 1) {
      components = cat(components, invoke(i, kMostNegativeCode));
    } else {
      components = cat(components, invoke(i, tlv({0x06}, {0x04, 0x00, 0x00, 0x01, 0x00, 0x2C})));
    }
  }
  auto bytes = ludt(250, components);
  PXSCCP_Packet packet;
  ASSERT_EQ(packet.decode(bytes), px::SccpDecodeError::none);
  ASSERT_EQ(packet.incomingCallingPartyAddress()->address()->size(), 500u);
  ASSERT_EQ(packet.tcapMessage()->componentPortion()->arrayOfComponents().size(), 24u);

  std::string all = everyRecord(packet);
  EXPECT_NE(all.find(std::string(500, '1')), std::string::npos);
  EXPECT_NE(all.find(std::string(64, '8')), std::string::npos);
  EXPECT_NE(all.find("-9223372036854775808"), std::string::npos);
  EXPECT_NE(all.find("18446744073709551615"), std::string::npos);
}

TEST(Records, ManyShortComponentsStayWithinTheRoomOfEveryRecord) {
  // Short addresses leave no room to spare: each component must bring its own.
  Octets components;
  for (int i = 0; i < 150; ++i)
    components = cat(components, invoke(static_cast<std::uint8_t>(i), kMostNegativeCode));
  auto bytes = ludt(1, components);
  PXSCCP_Packet packet;
  ASSERT_EQ(packet.decode(bytes), px::SccpDecodeError::none);
  ASSERT_EQ(packet.tcapMessage()->componentPortion()->arrayOfComponents().size(), 150u);
  std::string all = everyRecord(packet);
  EXPECT_NE(all.find("-9223372036854775808,-9223372036854775808"), std::string::npos);
}

TEST(Records, ManyNamedOperationsStayWithinTheRoomOfEveryRecord) {
  // Every code MAP names, the longest names among them, one component each.
  Octets components;
  for (int code = 0; code < 128; ++code)
    components = cat(components, invoke(static_cast<std::uint8_t>(code),
                                        tlv({0x02}, {static_cast<std::uint8_t>(code)})));
  auto bytes = ludt(1, components);
  PXSCCP_Packet packet;
  ASSERT_EQ(packet.decode(bytes), px::SccpDecodeError::none);
  std::string all = everyRecord(packet);
  EXPECT_NE(all.find("62 anyTimeSubscriptionInterrogation"), std::string::npos);
  EXPECT_NE(all.find("\"62\":\"anyTimeSubscriptionInterrogation\""), std::string::npos);
}

// Addresses against libc's formatter, with zero groups placed to make runs
// of every length in every place, and the IPv4-compatible and -mapped forms.
TEST(Records, IpAddressesAsInetNtopWritesThem) {
  std::mt19937 random(7);
  qs::MessageOrigin o;
  char buffer[qs::kOriginJsonMax + 64];
  for (int n = 0; n < 20000; ++n) {
    o.ipVersion = n % 5 == 0 ? 4 : 6;
    for (std::size_t g = 0; g < 8; ++g) {
      const bool zero = random() % 2;
      const auto v = static_cast<std::uint16_t>(random() % 3 == 0 ? random() % 16 : random());
      o.dst[2 * g] = zero ? 0 : static_cast<std::uint8_t>(v >> 8);
      o.dst[2 * g + 1] = zero ? 0 : static_cast<std::uint8_t>(v);
    }
    if (n % 7 == 0) o.dst[10] = o.dst[11] = 0xFF;
    char expected[INET6_ADDRSTRLEN];
    inet_ntop(o.ipVersion == 6 ? AF_INET6 : AF_INET, o.dst.data(), expected, sizeof expected);
    std::string json(buffer, qs::originJson(buffer, &o));
    const auto at = json.find("\"dst\":\"") + 7;
    EXPECT_EQ(json.substr(at, json.find('"', at) - at), expected);
  }
}

// An origin over M3UA (OPC, DPC, SI 3), IPv4 and an SCTP stream.
qs::MessageOrigin sctpOrigin(std::uint32_t opc, std::uint32_t dpc, std::array<std::uint8_t, 4> src,
                             std::array<std::uint8_t, 4> dst, std::uint16_t sport,
                             std::uint16_t dport, std::uint16_t stream) {
  qs::MessageOrigin o;
  o.opc = opc;
  o.dpc = dpc;
  o.si = 3;
  o.ipVersion = 4;
  std::copy(src.begin(), src.end(), o.src.begin());
  std::copy(dst.begin(), dst.end(), o.dst.begin());
  o.sctp = true;
  o.sport = sport;
  o.dport = dport;
  o.stream = stream;
  return o;
}

TEST(Records, OriginKeys) {
  char buffer[qs::kOriginJsonMax + 64];
  auto json = [&](const qs::MessageOrigin* origin) {
    return std::string(buffer, qs::originJson(buffer, origin));
  };
  EXPECT_EQ(json(nullptr), R"(,"time":null,"opc":null,"dpc":null,"src":null,"dst":null)");
  qs::MessageOrigin o = sctpOrigin(8706, 257, {203, 0, 113, 20}, {192, 0, 2, 1}, 2905, 2906, 3);
  o.hasTime = true;
  o.seconds = 1709546400;
  o.nanoseconds = 21'314'000;
  EXPECT_EQ(json(&o),
            R"(,"time":1709546400.021314,"opc":8706,"dpc":257,"si":3,"src":"203.0.113.20",)"
            R"("dst":"192.0.2.1","sport":2905,"dport":2906,"stream":3)");
  o.nanoPrecision = true;
  o.nanoseconds = 5;
  o.ipVersion = 6;
  o.src = {0x20, 0x01, 0x0d, 0xb8};
  o.dst = {};
  o.dst[15] = 1;
  o.sctp = false;
  o.si.reset();
  EXPECT_EQ(json(&o), R"(,"time":1709546400.000000005,"opc":8706,"dpc":257,"src":"2001:db8::",)"
                      R"("dst":"::1")");
}

// Route texts are kept per route: origins that differ in any one field, met
// in turns, each get their own text every time.
TEST(Records, OriginKeysOfRoutesMetInTurns) {
  const qs::MessageOrigin base = sctpOrigin(1, 2, {10, 0, 0, 1}, {10, 0, 0, 2}, 2905, 2905, 1);
  struct Variant {
    const char* name;
    void (*change)(qs::MessageOrigin&);
    const char* expected;
  };
  const Variant variants[] = {
      {"as it is", [](qs::MessageOrigin&) {},
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2905,"stream":1)"},
      {"stream", [](qs::MessageOrigin& o) { o.stream = 2; },
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2905,"stream":2)"},
      {"dport", [](qs::MessageOrigin& o) { o.dport = 2906; },
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2906,"stream":1)"},
      {"opc absent", [](qs::MessageOrigin& o) { o.opc.reset(); },
       R"(,"time":null,"opc":null,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2905,"stream":1)"},
      {"opc 0", [](qs::MessageOrigin& o) { o.opc = 0; },
       R"(,"time":null,"opc":0,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2905,"stream":1)"},
      {"si absent", [](qs::MessageOrigin& o) { o.si.reset(); },
       R"(,"time":null,"opc":1,"dpc":2,"src":"10.0.0.1","dst":"10.0.0.2","sport":2905,"dport":2905,"stream":1)"},
      {"dst", [](qs::MessageOrigin& o) { o.dst[3] = 3; },
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.3","sport":2905,"dport":2905,"stream":1)"},
      {"not SCTP", [](qs::MessageOrigin& o) { o.sctp = false; },
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":"10.0.0.1","dst":"10.0.0.2")"},
      {"not IP", [](qs::MessageOrigin& o) { o.ipVersion = 0, o.sctp = false; },
       R"(,"time":null,"opc":1,"dpc":2,"si":3,"src":null,"dst":null)"},
  };
  char buffer[qs::kOriginJsonMax + 64];
  for (int round = 0; round < 3; ++round)
    for (std::size_t i = 0; i < std::size(variants); ++i) {
      // Forwards, backwards, then forwards again.
      const Variant& v = variants[round == 1 ? std::size(variants) - 1 - i : i];
      SCOPED_TRACE(v.name);
      qs::MessageOrigin o = base;
      v.change(o);
      EXPECT_EQ(std::string(buffer, qs::originJson(buffer, &o)), v.expected);
    }
}

// The texts a record copies instead of writing (operation codes and names,
// verdicts, TCAP types, frame numbers, the time) against the same fields
// written out here from the names' own tables.

std::string screenJson(const qs::MessageView& m, const qs::Verdict& v) {
  qs::OutputBuffer out(16);
  qs::appendScreenJson(out, m, v);
  return std::string(out.data(), out.size());
}
std::string screenText(const qs::MessageView& m, const qs::Verdict& v) {
  qs::OutputBuffer out(16);
  qs::appendScreenText(out, m, v, false);
  return std::string(out.data(), out.size());
}

// The text from `from` up to (not including) `to`.
std::string between(const std::string& s, std::string_view from, std::string_view to) {
  const auto at = s.find(from);
  if (at == std::string::npos) return "(no " + std::string(from) + ")";
  const auto end = s.find(to, at);
  return s.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// A local operation code as BER writes an INTEGER: the fewest octets.
Octets localCode(std::int64_t code) {
  Octets v;
  for (int shift = 56; shift > 0; shift -= 8) {
    const auto octet = static_cast<std::uint8_t>(code >> shift);
    const auto next = static_cast<std::uint8_t>(code >> (shift - 8));
    if (v.empty() && ((octet == 0 && !(next & 0x80)) || (octet == 0xFF && (next & 0x80)))) continue;
    v.push_back(octet);
  }
  v.push_back(static_cast<std::uint8_t>(code));
  return tlv({0x02}, v);
}
// A global operation code: an OID whose last arc is `arc` (< 128).
Octets globalCode(std::uint8_t arc) {
  return tlv({0x06}, {0x04, 0x00, 0x00, 0x01, 0x00, arc});
}

struct Operation {
  bool global;
  std::int64_t code;
};

// The operation fields as a record shows them, from the codes and MAP's names.
std::string expectedOperationsJson(const std::vector<Operation>& ops) {
  std::string local, global, names;
  std::vector<std::int64_t> named;
  for (const auto& op : ops) {
    std::string& list = op.global ? global : local;
    list += (list.empty() ? "" : ",") + std::to_string(op.code);
    if (op.global) continue;
    const auto name = qs::mapOperationName(op.code);
    if (!name || std::find(named.begin(), named.end(), op.code) != named.end()) continue;
    named.push_back(op.code);
    names += fmt::format("{}\"{}\":\"{}\"", names.empty() ? "" : ",", op.code, *name);
  }
  std::string s = fmt::format(R"("operations":[{}],"global_operations":[{}])", local, global);
  if (!names.empty()) s += fmt::format(R"(,"operation_names":{{{}}})", names);
  return s;
}
std::string expectedOperationsText(const std::vector<Operation>& ops) {
  std::string s;
  for (const auto& op : ops) {
    if (!s.empty()) s += ',';
    if (op.global) {
      s += fmt::format("g{}", op.code);
    } else if (const auto name = qs::mapOperationName(op.code)) {
      s += fmt::format("{} {}", op.code, *name);
    } else {
      s += std::to_string(op.code);
    }
  }
  return s.empty() ? "-" : s;
}

// Every code below 300 (all that MAP names and those around them), either side
// of the 64-bit range, alone, twice, after a global code and after another local one.
TEST(RecordTexts, OperationCodesAndNamesAsWrittenOut) {
  std::vector<std::int64_t> codes = {-1, -128, -129, std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::max()};
  for (std::int64_t c = 0; c < 300; ++c) codes.push_back(c);
  std::vector<std::vector<Operation>> cases;
  for (std::int64_t c : codes) {
    cases.push_back({{false, c}});
    cases.push_back({{false, c}, {false, c}});
    cases.push_back({{true, 44}, {false, c}});
    cases.push_back({{false, 71}, {false, c}});
  }
  for (std::uint8_t arc : {0, 2, 71, 127}) cases.push_back({{true, arc}});
  cases.push_back({});
  for (const auto& ops : cases) {
    Octets components;
    std::uint8_t id = 0;
    for (const auto& op : ops)
      components =
          cat(components, invoke(id++, op.global ? globalCode(static_cast<std::uint8_t>(op.code))
                                                 : localCode(op.code)));
    PXSCCP_Packet p;
    ASSERT_EQ(p.decode(ludt(2, components)), px::SccpDecodeError::none);
    qs::MessageView m;
    m.packet = &p;
    const qs::Verdict v{true, PXSccpScreening_explicitlyPermitted, nullptr, std::nullopt};
    const std::string json = screenJson(m, v);
    const std::string trace = fmt::format("{} {}", ops.empty() ? 0 : ops.back().code, ops.size());
    EXPECT_EQ(between(json, "\"operations\"", ",\"imsi\""), expectedOperationsJson(ops)) << trace;
    const std::string text = screenText(m, v);
    EXPECT_EQ(text.substr(96, text.size() - 97), expectedOperationsText(ops)) << trace;
  }
}

// Each direction with each verdict, usual or not, alone and beside an old one.
TEST(RecordTexts, DirectionsAndVerdictsAsWrittenOut) {
  PXSCCP_Packet p;
  ASSERT_EQ(p.decode(ludt(2, invoke(1, localCode(45)))), px::SccpDecodeError::none);
  const std::int32_t codes[] = {-3,
                                -2,
                                -1,
                                0,
                                1,
                                2,
                                3,
                                PXSccpScreening_errorResult,
                                std::numeric_limits<std::int32_t>::min(),
                                std::numeric_limits<std::int32_t>::max()};
  std::vector<qs::Verdict> verdicts = {{false, 0, nullptr, std::nullopt}};
  for (std::int32_t c : codes) verdicts.push_back({true, c, nullptr, std::nullopt});
  auto verdictJson = [](const qs::Verdict& v) {
    return v.screened ? fmt::format(R"("verdict":"{}","code":{})", px::verdictName(v.code), v.code)
                      : std::string(R"("verdict":null,"code":null)");
  };
  using D = qs::MessageView::Direction;
  for (D d : {D::none, D::inbound, D::outbound}) {
    const std::string direction = d == D::none      ? ""
                                  : d == D::inbound ? R"(,"direction":"inbound")"
                                                    : R"(,"direction":"outbound")";
    for (const qs::Verdict& v : verdicts) {
      qs::MessageView m;
      m.packet = &p;
      m.direction = d;
      EXPECT_EQ(between(screenJson(m, v), ",\"index\":0", ",\"time\""),
                ",\"index\":0" + direction + "," + verdictJson(v));
      for (const qs::Verdict& before : verdicts) {
        qs::Verdict both = v;
        both.before = &before;
        EXPECT_EQ(between(screenJson(m, both), ",\"index\":0", ",\"time\""),
                  fmt::format(R"(,"index":0{},"old":{{{}}},"new":{{{}}})", direction,
                              verdictJson(before), verdictJson(v)));
      }
      if (d == D::outbound) continue;
      const std::string text = screenText(m, v);
      const std::string_view shown = v.screened ? px::verdictName(v.code) : "undecodable";
      EXPECT_EQ(text.substr(75, shown.size() + 1), std::string(shown) + " ") << v.code;
    }
  }
}

TEST(RecordTexts, TcapTypesAsWrittenOut) {
  const std::pair<std::uint8_t, std::string_view> types[] = {
      {0x61, "uni"}, {0x62, "begin"}, {0x64, "end"}, {0x65, "cont"}, {0x67, "abort"}};
  for (const auto& [tag, shortName] : types) {
    PXSCCP_Packet p;
    ASSERT_EQ(p.decode(ludt(2, invoke(1, localCode(45)), tag)), px::SccpDecodeError::none);
    ASSERT_NE(p.tcapMessage(), nullptr) << int{tag};
    qs::MessageView m;
    m.packet = &p;
    const qs::Verdict v{true, PXSccpScreening_explicitlyPermitted, nullptr, std::nullopt};
    EXPECT_EQ(between(screenJson(m, v), "\"tcap\"", ",\"operations\""),
              fmt::format(R"("tcap":"{}")", px::messageTypeName(p.tcapMessage()->messageType())));
    EXPECT_EQ(screenText(m, v).substr(51, shortName.size() + 1), std::string(shortName) + " ");
  }
}

// Frame numbers one after the other across every change of digit count, the
// same frame again (several messages), frames out of turn and the extremes.
TEST(RecordTexts, FrameNumbersAsWrittenOut) {
  std::vector<std::uint64_t> frames;
  for (std::uint64_t f = 0; f < 1200; ++f) frames.push_back(f);
  for (std::uint64_t f : {7u, 7u, 3u, 99999u, 100000u, 100000u, 100001u, 1u}) frames.push_back(f);
  constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
  for (std::uint64_t f : {kMax - 2, kMax - 1, kMax, std::uint64_t{0}, kMax, std::uint64_t{1}})
    frames.push_back(f);
  for (std::uint64_t p = 10; p < kMax / 10; p *= 10)
    for (std::uint64_t f : {p - 2, p - 1, p, p + 1}) frames.push_back(f);
  // A few frames apart, across a change of digit count and up to the last frame.
  for (std::uint64_t step = 2; step <= 11; ++step) {
    for (std::uint64_t f = 9'980; f < 10'020; f += step) frames.push_back(f);
    for (std::uint64_t f = kMax - 30; f <= kMax - step; f += step) frames.push_back(f + step);
  }
  PXSCCP_Packet p;
  ASSERT_EQ(p.decode(ludt(2, invoke(1, localCode(45)))), px::SccpDecodeError::none);
  const qs::Verdict v{true, PXSccpScreening_explicitlyPermitted, nullptr, std::nullopt};
  for (std::uint64_t f : frames) {
    qs::MessageView m;
    m.packet = &p;
    m.frame = f;
    EXPECT_EQ(between(screenJson(m, v), "{", ",\"index\""), fmt::format("{{\"frame\":{}", f));
    EXPECT_EQ(screenText(m, v).substr(0, std::max<std::size_t>(7, toChars(f).size())),
              fmt::format("{:>7}", f));
  }
}

// Seconds either side of zero and at the extremes, met in turns (their text is
// kept), with fractions in micro- and nanoseconds.
TEST(RecordTexts, TimesAsWrittenOut) {
  const std::int64_t seconds[] = {0,
                                  1,
                                  -1,
                                  1709546400,
                                  1709546401,
                                  1709546400,
                                  std::numeric_limits<std::int64_t>::min() + 1,
                                  std::numeric_limits<std::int64_t>::max()};
  const std::uint32_t nanoseconds[] = {0, 5, 999, 1000, 1001, 21'314'000, 123'456'789, 999'999'999};
  char buffer[qs::kOriginJsonMax + 64];
  for (std::int64_t s : seconds)
    for (std::uint32_t ns : nanoseconds)
      for (bool nano : {false, true}) {
        qs::MessageOrigin o;
        o.hasTime = true;
        o.seconds = s;
        o.nanoseconds = ns;
        o.nanoPrecision = nano;
        const std::string json(buffer, qs::originJson(buffer, &o));
        EXPECT_EQ(json.substr(0, json.find(",\"opc\"")),
                  nano ? fmt::format(",\"time\":{}.{:09}", s, ns)
                       : fmt::format(",\"time\":{}.{:06}", s, ns / 1000));
      }
}

// More routes than the writer keeps texts for, met in turns: each gets its own
// text every time. And fields an origin leaves out (addresses off IP, ports
// off SCTP, absent point codes) may hold anything without changing the text.
TEST(RecordTexts, ManyRoutesAndTheFieldsTheyLeaveOut) {
  char buffer[qs::kOriginJsonMax + 64];
  auto json = [&](const qs::MessageOrigin& o) {
    return std::string(buffer, qs::originJson(buffer, &o));
  };
  for (int round = 0; round < 3; ++round)
    for (std::uint16_t stream = 0; stream < 300; ++stream) {
      const auto o = sctpOrigin(stream % 7, 2, {10, 0, 0, 1}, {10, 0, 0, 2}, 2905, 2905, stream);
      ASSERT_EQ(json(o), fmt::format(R"(,"time":null,"opc":{},"dpc":2,"si":3,"src":"10.0.0.1",)"
                                     R"("dst":"10.0.0.2","sport":2905,"dport":2905,"stream":{})",
                                     stream % 7, stream));
    }
  std::mt19937 random(11);
  for (int n = 0; n < 200; ++n) {
    qs::MessageOrigin o;
    for (auto& b : o.src) b = static_cast<std::uint8_t>(random());
    for (auto& b : o.dst) b = static_cast<std::uint8_t>(random());
    o.sport = static_cast<std::uint16_t>(random());
    o.stream = static_cast<std::uint16_t>(random());
    o.opc = static_cast<std::uint32_t>(random());
    o.opc.reset();
    o.si = 3;
    EXPECT_EQ(json(o), R"(,"time":null,"opc":null,"dpc":null,"si":3,"src":null,"dst":null)");
  }
}

// Digits a decoder wrote are copied into JSON as they are; digits a host set
// through setAddress may hold anything and are escaped.
TEST(Records, AddressDigitsSetByTheHostAreEscaped) {
  PXSCCP_Packet p;
  ASSERT_EQ(p.decode(ludt(2, invoke(1, tlv({0x02}, {0x2D})))), px::SccpDecodeError::none);
  ASSERT_TRUE(p.incomingCallingPartyAddress()->digitsFromBcd());
  qs::MessageView m;
  m.packet = &p;
  const qs::Verdict v{true, PXSccpScreening_explicitlyPermitted, nullptr, std::nullopt};
  auto record = [&] {
    qs::OutputBuffer out(16);
    qs::appendScreenJson(out, m, v);
    qs::appendDecodeJson(out, m);
    return std::string(out.data(), out.size());
  };
  EXPECT_NE(record().find(R"("calling_digits":"1111")"), std::string::npos) << record();
  p.mutableCallingPartyAddress().setAddress("12\"3\\\n");
  EXPECT_FALSE(p.incomingCallingPartyAddress()->digitsFromBcd());
  const std::string r = record();
  EXPECT_NE(r.find(R"("calling_digits":"12\"3\\\n")"), std::string::npos) << r;
  EXPECT_NE(r.find(R"("digits":"12\"3\\\n")"), std::string::npos) << r;
  // Decoding again makes them the decoder's.
  ASSERT_EQ(p.decode(ludt(2, invoke(1, tlv({0x02}, {0x2D})))), px::SccpDecodeError::none);
  EXPECT_TRUE(p.incomingCallingPartyAddress()->digitsFromBcd());
}

}  // namespace
