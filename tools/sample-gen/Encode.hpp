// Encoders for sample traffic: GSM MAP arguments, TCAP, SCCP, M3UA, M2PA,
// SUA, MTP, SCTP, IP, link layers and the pcap file format. Written for
// generating captures and test frames, not for parsing.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gen {

using Bytes = std::vector<std::uint8_t>;

inline void put8(Bytes& b, unsigned v) {
  b.push_back(static_cast<std::uint8_t>(v));
}
inline void put16(Bytes& b, unsigned v) {
  put8(b, v >> 8);
  put8(b, v);
}
inline void put32(Bytes& b, std::uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}
inline void append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const auto& p : parts) append(b, p);
  return b;
}
inline void pad4(Bytes& b) {
  while (b.size() % 4) b.push_back(0);
}

// ---- ASN.1 BER (X.690), definite lengths --------------------------------

inline Bytes tlv(std::uint8_t tag, const Bytes& value) {
  Bytes b{tag};
  std::size_t n = value.size();
  if (n < 0x80) {
    put8(b, static_cast<unsigned>(n));
  } else if (n < 0x100) {
    put8(b, 0x81);
    put8(b, static_cast<unsigned>(n));
  } else {
    put8(b, 0x82);
    put16(b, static_cast<unsigned>(n));
  }
  append(b, value);
  return b;
}
inline Bytes integer(std::uint8_t tag, std::int64_t v) {
  Bytes b;
  do {
    b.insert(b.begin(), static_cast<std::uint8_t>(v & 0xFF));
    v >>= 8;
  } while (v != 0 && v != -1);
  if (v == 0 && (b.front() & 0x80)) b.insert(b.begin(), 0);
  return tlv(tag, b);
}

// TBCD (3GPP TS 29.002 17.7.8): first digit in the low nibble, 0xF filler.
inline Bytes tbcd(std::string_view digits) {
  Bytes b;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    unsigned lo = static_cast<unsigned>(digits[i] - '0');
    unsigned hi = i + 1 < digits.size() ? static_cast<unsigned>(digits[i + 1] - '0') : 0xF;
    put8(b, hi << 4 | lo);
  }
  return b;
}
// AddressString: extension bit, nature of address 1 (international), plan 1 (E.164).
inline Bytes isdn(std::string_view digits) {
  return cat({{0x91}, tbcd(digits)});
}

// GSM 03.38 default alphabet packed into septets (USSD strings of ASCII
// digits and '*', '#', which map to themselves).
inline Bytes gsm7(std::string_view text) {
  Bytes b;
  unsigned acc = 0, bits = 0;
  for (char c : text) {
    acc |= static_cast<unsigned>(c & 0x7F) << bits;
    bits += 7;
    while (bits >= 8) {
      put8(b, acc & 0xFF);
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits) put8(b, acc);
  return b;
}

// ---- GSM MAP arguments (3GPP TS 29.002 chapter 17) ----------------------

namespace map {
inline constexpr int updateLocation = 2;
inline constexpr int insertSubscriberData = 7;
inline constexpr int mtForwardSM = 44;
inline constexpr int sendRoutingInfoForSM = 45;
inline constexpr int moForwardSM = 46;
inline constexpr int sendAuthenticationInfo = 56;
inline constexpr int processUnstructuredSSRequest = 59;
inline constexpr int provideSubscriberInfo = 70;
inline constexpr int anyTimeInterrogation = 71;

// Application context names 0.4.0.0.1.0.<ac>.<version> (17.3.3).
inline Bytes applicationContext(unsigned ac, unsigned version) {
  return {0x04,
          0x00,
          0x00,
          0x01,
          0x00,
          static_cast<std::uint8_t>(ac),
          static_cast<std::uint8_t>(version)};
}
inline constexpr unsigned acNetworkLocUp = 1;
inline constexpr unsigned acInfoRetrieval = 14;
inline constexpr unsigned acNetworkUnstructuredSs = 19;
inline constexpr unsigned acShortMsgGateway = 20;
inline constexpr unsigned acShortMsgMORelay = 21;
inline constexpr unsigned acShortMsgMTRelay = 25;
inline constexpr unsigned acSubscriberDataMngt = 16;
inline constexpr unsigned acSubscriberInfoEnquiry = 28;
inline constexpr unsigned acAnyTimeEnquiry = 29;

// SMS-DELIVER TPDU (3GPP TS 23.040 9.2.2.1), GSM 7-bit text.
inline Bytes smsDeliver(std::string_view originator, std::string_view text) {
  Bytes b{0x04};  // TP-MTI deliver, TP-MMS no more messages
  put8(b, static_cast<unsigned>(originator.size()));
  put8(b, 0x91);
  append(b, tbcd(originator));
  put8(b, 0x00);                                          // TP-PID
  put8(b, 0x00);                                          // TP-DCS: GSM 7-bit
  append(b, {0x42, 0x30, 0x40, 0x11, 0x00, 0x00, 0x40});  // TP-SCTS 2024-03-04 11:00:00 +04
  put8(b, static_cast<unsigned>(text.size()));
  append(b, gsm7(text));
  return b;
}
// SMS-SUBMIT TPDU (23.040 9.2.2.2).
inline Bytes smsSubmit(std::uint8_t reference, std::string_view destination,
                       std::string_view text) {
  Bytes b{0x01, reference};
  put8(b, static_cast<unsigned>(destination.size()));
  put8(b, 0x91);
  append(b, tbcd(destination));
  put8(b, 0x00);
  put8(b, 0x00);
  put8(b, static_cast<unsigned>(text.size()));
  append(b, gsm7(text));
  return b;
}

inline Bytes sriForSmArg(std::string_view msisdn, std::string_view serviceCentre) {
  return tlv(0x30,
             cat({tlv(0x80, isdn(msisdn)), tlv(0x81, {0xFF}), tlv(0x82, isdn(serviceCentre))}));
}
inline Bytes sriForSmRes(std::string_view imsi, std::string_view msc) {
  return tlv(0x30, cat({tlv(0x04, tbcd(imsi)), tlv(0xA0, tlv(0x81, isdn(msc)))}));
}
// MT-ForwardSM-Arg / forwardSM (v2) with an IMSI in SM-RP-DA.
inline Bytes forwardSmToImsi(std::string_view imsi, std::string_view serviceCentre,
                             const Bytes& tpdu) {
  return tlv(0x30, cat({tlv(0x80, tbcd(imsi)), tlv(0x84, isdn(serviceCentre)), tlv(0x04, tpdu)}));
}
// MO-ForwardSM-Arg: service centre in SM-RP-DA, MSISDN in SM-RP-OA.
inline Bytes moForwardSmArg(std::string_view serviceCentre, std::string_view msisdn,
                            const Bytes& tpdu) {
  return tlv(0x30, cat({tlv(0x84, isdn(serviceCentre)), tlv(0x82, isdn(msisdn)), tlv(0x04, tpdu)}));
}
inline Bytes updateLocationArg(std::string_view imsi, std::string_view msc, std::string_view vlr) {
  return tlv(0x30, cat({tlv(0x04, tbcd(imsi)), tlv(0x81, isdn(msc)), tlv(0x04, isdn(vlr)),
                        tlv(0xA6, tlv(0x80, {0x01}))}));  // vlr-Capability: supportedCamelPhases
}
inline Bytes sendAuthenticationInfoArg(std::string_view imsi) {
  return tlv(0x30, cat({tlv(0x80, tbcd(imsi)), integer(0x02, 5), tlv(0x05, {})}));
}
inline Bytes provideSubscriberInfoArg(std::string_view imsi) {
  return tlv(0x30, cat({tlv(0x80, tbcd(imsi)), tlv(0xA2, cat({tlv(0x80, {}), tlv(0x81, {})}))}));
}
inline Bytes anyTimeInterrogationArg(std::string_view msisdn, std::string_view gsmScf) {
  return tlv(0x30, cat({tlv(0xA0, tlv(0x81, isdn(msisdn))),
                        tlv(0xA1, cat({tlv(0x80, {}), tlv(0x81, {})})), tlv(0x83, isdn(gsmScf))}));
}
inline Bytes ussdArg(std::string_view text, std::string_view msisdn) {
  return tlv(0x30, cat({tlv(0x04, {0x0F}), tlv(0x04, gsm7(text)), tlv(0x80, isdn(msisdn))}));
}
inline Bytes insertSubscriberDataArg(std::string_view imsi, std::string_view msisdn) {
  return tlv(0x30, cat({tlv(0x80, tbcd(imsi)), tlv(0x81, isdn(msisdn)), tlv(0x82, {0x00}),
                        tlv(0x83, {0x00})}));  // category, subscriberStatus
}
}  // namespace map

// ---- TCAP (ITU-T Q.773) -------------------------------------------------

namespace tcap {
// Dialogue portion with an AARQ (Q.773 4.2.2) naming the application context.
inline Bytes dialogueRequest(const Bytes& applicationContext) {
  Bytes aarq = tlv(0x60, cat({tlv(0x80, {0x07, 0x80}),  // protocol-version 1
                              tlv(0xA1, tlv(0x06, applicationContext))}));
  Bytes external =
      tlv(0x28, cat({tlv(0x06, {0x00, 0x11, 0x86, 0x05, 0x01, 0x01, 0x01}), tlv(0xA0, aarq)}));
  return tlv(0x6B, external);
}
// Dialogue portion with an AARE, result accepted.
inline Bytes dialogueResponse(const Bytes& applicationContext) {
  Bytes aare =
      tlv(0x61, cat({tlv(0x80, {0x07, 0x80}), tlv(0xA1, tlv(0x06, applicationContext)),
                     tlv(0xA2, integer(0x02, 0)), tlv(0xA3, tlv(0xA1, integer(0x02, 0)))}));
  Bytes external =
      tlv(0x28, cat({tlv(0x06, {0x00, 0x11, 0x86, 0x05, 0x01, 0x01, 0x01}), tlv(0xA0, aare)}));
  return tlv(0x6B, external);
}
inline Bytes invoke(int invokeId, int opcode, const Bytes& parameter) {
  return tlv(0xA1, cat({integer(0x02, invokeId), integer(0x02, opcode), parameter}));
}
inline Bytes returnResultLast(int invokeId, int opcode, const Bytes& parameter) {
  return tlv(0xA2,
             cat({integer(0x02, invokeId), tlv(0x30, cat({integer(0x02, opcode), parameter}))}));
}
inline Bytes tid(std::uint32_t id) {
  Bytes b;
  put32(b, id);
  return b;
}
inline Bytes begin(std::uint32_t otid, const Bytes& dialogue, const Bytes& components) {
  return tlv(0x62, cat({tlv(0x48, tid(otid)), dialogue, tlv(0x6C, components)}));
}
inline Bytes continue_(std::uint32_t otid, std::uint32_t dtid, const Bytes& components) {
  return tlv(0x65, cat({tlv(0x48, tid(otid)), tlv(0x49, tid(dtid)), tlv(0x6C, components)}));
}
inline Bytes end(std::uint32_t dtid, const Bytes& dialogue, const Bytes& components) {
  return tlv(0x64, cat({tlv(0x49, tid(dtid)), dialogue, tlv(0x6C, components)}));
}
}  // namespace tcap

// ---- SCCP (ITU-T Q.713) -------------------------------------------------

namespace sccp {
// SSNs (Q.713 3.4.2.2, 3GPP TS 23.003 8.1).
inline constexpr std::uint8_t ssnHlr = 6, ssnVlr = 7, ssnMsc = 8, ssnGsmScf = 147;

struct Address {
  std::string digits;    // empty: no global title
  std::uint8_t ssn = 0;  // 0: none
  std::optional<std::uint16_t> pc;
  std::uint8_t tt = 0;
  std::uint8_t np = 1;   // E.164
  std::uint8_t nai = 4;  // international
  bool routeOnSsn = false;
};

// Q.713 3.4: address indicator, PC, SSN, GT of GTI 4 (TT, NP + ES, NAI, BCD).
inline Bytes address(const Address& a) {
  bool gt = !a.digits.empty();
  std::uint8_t ai = static_cast<std::uint8_t>((a.routeOnSsn ? 0x40 : 0) | (gt ? 4 << 2 : 0) |
                                              (a.ssn ? 0x02 : 0) | (a.pc ? 0x01 : 0));
  Bytes b{ai};
  if (a.pc) {
    put8(b, *a.pc & 0xFF);
    put8(b, *a.pc >> 8);
  }
  if (a.ssn) put8(b, a.ssn);
  if (gt) {
    put8(b, a.tt);
    put8(b, static_cast<unsigned>(a.np << 4 | (a.digits.size() % 2 ? 1 : 2)));
    put8(b, a.nai);
    append(b, tbcd(a.digits));
    if (a.digits.size() % 2) b.back() &= 0x0F;  // BCD odd: filler 0, not F
  }
  return b;
}

// The variable parameters at the end of a message, each after its length octet.
inline void appendParts(Bytes& b, std::initializer_list<Bytes> parts) {
  for (const Bytes& part : parts) {
    put8(b, static_cast<unsigned>(part.size()));
    append(b, part);
  }
}

inline Bytes udt(const Address& called, const Address& calling, const Bytes& data,
                 std::uint8_t protocolClass = 0x80) {
  Bytes cd = address(called), cg = address(calling);
  Bytes b{0x09, protocolClass};
  // Pointers count from their own octet.
  put8(b, 3);
  put8(b, static_cast<unsigned>(2 + 1 + cd.size()));
  put8(b, static_cast<unsigned>(1 + 1 + cd.size() + 1 + cg.size()));
  appendParts(b, {cd, cg, data});
  return b;
}

inline Bytes xudt(const Address& called, const Address& calling, const Bytes& data,
                  std::uint8_t hopCounter = 15, std::uint8_t protocolClass = 0x81) {
  Bytes cd = address(called), cg = address(calling);
  Bytes b{0x11, protocolClass, hopCounter};
  put8(b, 4);
  put8(b, static_cast<unsigned>(3 + 1 + cd.size()));
  put8(b, static_cast<unsigned>(2 + 1 + cd.size() + 1 + cg.size()));
  put8(b, 0);  // no optional part
  appendParts(b, {cd, cg, data});
  return b;
}
}  // namespace sccp

// ---- MTP (Q.703, Q.704), M3UA, M2PA, SUA ---------------------------------

namespace mtp {
// SIO: network indicator (bits 8-7) and service indicator (bits 4-1).
inline constexpr std::uint8_t siSccp = 3, siIsup = 5;
inline Bytes mtp3(std::uint8_t ni, std::uint8_t si, std::uint16_t dpc, std::uint16_t opc,
                  std::uint8_t sls, const Bytes& userPart) {
  Bytes b{static_cast<std::uint8_t>(ni << 6 | si)};
  std::uint32_t label =
      (dpc & 0x3FFFu) | (std::uint32_t{opc} & 0x3FFF) << 14 | std::uint32_t{sls & 0x0Fu} << 28;
  for (int i = 0; i < 4; ++i) put8(b, (label >> (8 * i)) & 0xFF);  // least significant first
  append(b, userPart);
  return b;
}
// MTP2 signal unit, basic format, without check bits.
inline Bytes mtp2(std::uint8_t bsn, std::uint8_t fsn, const Bytes& sioSif) {
  Bytes b{static_cast<std::uint8_t>(0x80 | bsn), static_cast<std::uint8_t>(0x80 | fsn)};
  put8(b, static_cast<unsigned>(sioSif.size() < 63 ? sioSif.size() : 63));
  append(b, sioSif);
  return b;
}
}  // namespace mtp

namespace sigtran {
inline void parameter(Bytes& b, std::uint16_t tag, const Bytes& value) {
  put16(b, tag);
  put16(b, static_cast<unsigned>(4 + value.size()));
  append(b, value);
  pad4(b);
}
inline Bytes header(std::uint8_t cls, std::uint8_t type, const Bytes& body) {
  Bytes b{1, 0, cls, type};
  put32(b, static_cast<std::uint32_t>(8 + body.size()));
  append(b, body);
  return b;
}
// M3UA DATA (RFC 4666 3.3.1) with a routing context and the protocol data.
inline Bytes m3uaData(std::uint32_t opc, std::uint32_t dpc, std::uint8_t si, std::uint8_t sls,
                      const Bytes& userPart, std::uint32_t routingContext = 100) {
  Bytes body;
  Bytes rc;
  put32(rc, routingContext);
  parameter(body, 0x0006, rc);
  Bytes pd;
  put32(pd, opc);
  put32(pd, dpc);
  put8(pd, si);
  put8(pd, 0);  // NI: international
  put8(pd, 0);  // MP
  put8(pd, sls);
  append(pd, userPart);
  parameter(body, 0x0210, pd);
  return header(1, 1, body);
}
// M3UA BEAT (ASPSM class 3, type 3) with heartbeat data.
inline Bytes m3uaBeat() {
  Bytes body;
  parameter(body, 0x0009, {0xDE, 0xAD, 0xBE, 0xEF});
  return header(3, 3, body);
}
// M3UA DAVA (SSNM class 2, type 2) for one point code.
inline Bytes m3uaDava(std::uint32_t pc) {
  Bytes body, v;
  put32(v, pc);
  parameter(body, 0x0012, v);
  return header(2, 2, body);
}
// M2PA User Data (RFC 4165 2.3.2): BSN, FSN, priority octet, MTP3 message.
inline Bytes m2paUserData(std::uint32_t bsn, std::uint32_t fsn, const Bytes& mtp3) {
  Bytes b{1, 0, 11, 1};
  put32(b, static_cast<std::uint32_t>(16 + 1 + mtp3.size()));
  put32(b, bsn & 0xFFFFFF);
  put32(b, fsn & 0xFFFFFF);
  put8(b, 0);
  append(b, mtp3);
  return b;
}
// SUA address parameter (RFC 3868 3.10.2): route on GT, GT + SSN present.
inline Bytes suaAddress(const sccp::Address& a) {
  Bytes v;
  put16(v, a.routeOnSsn ? 2 : 1);
  put16(v, (a.digits.empty() ? 0 : 4) | (a.pc ? 2 : 0) | (a.ssn ? 1 : 0));
  if (!a.digits.empty()) {
    Bytes gt{0, 0, 0, 4};  // GTI 4
    put8(gt, static_cast<unsigned>(a.digits.size()));
    put8(gt, a.tt);
    put8(gt, a.np);
    put8(gt, a.nai);
    append(gt, tbcd(a.digits));
    if (a.digits.size() % 2) gt.back() &= 0x0F;
    parameter(v, 0x8001, gt);
  }
  if (a.pc) {
    Bytes pc;
    put32(pc, *a.pc);
    parameter(v, 0x8002, pc);
  }
  if (a.ssn) parameter(v, 0x8003, {0, 0, 0, a.ssn});
  return v;
}
// SUA CLDT (RFC 3868 3.3.1).
inline Bytes suaCldt(const sccp::Address& called, const sccp::Address& calling, const Bytes& data) {
  Bytes body;
  parameter(body, 0x0006, {0, 0, 0, 1});     // routing context
  parameter(body, 0x0115, {0, 0, 0, 0x80});  // protocol class 0, return on error
  parameter(body, 0x0102, suaAddress(calling));
  parameter(body, 0x0103, suaAddress(called));
  parameter(body, 0x0116, {0, 0, 0, 0});  // sequence control
  parameter(body, 0x010B, data);
  return header(7, 1, body);
}
}  // namespace sigtran

// ---- SCTP (RFC 9260), IP, link layers -----------------------------------

namespace net {
inline std::uint32_t crc32c(const Bytes& b) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0x82F63B78 ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFF;
  for (auto x : b) c = table[(c ^ x) & 0xFF] ^ (c >> 8);
  return ~c;
}

inline Bytes dataChunk(std::uint8_t flags, std::uint32_t tsn, std::uint16_t stream,
                       std::uint16_t ssn, std::uint32_t ppid, const Bytes& data) {
  Bytes b{0, flags};
  put16(b, static_cast<unsigned>(16 + data.size()));
  put32(b, tsn);
  put16(b, stream);
  put16(b, ssn);
  put32(b, ppid);
  append(b, data);
  pad4(b);
  return b;
}
// I-DATA (RFC 8260 2.1).
inline Bytes iDataChunk(std::uint8_t flags, std::uint32_t tsn, std::uint16_t stream,
                        std::uint32_t mid, std::uint32_t ppidOrFsn, const Bytes& data) {
  Bytes b{64, flags};
  put16(b, static_cast<unsigned>(20 + data.size()));
  put32(b, tsn);
  put16(b, stream);
  put16(b, 0);
  put32(b, mid);
  put32(b, ppidOrFsn);
  append(b, data);
  pad4(b);
  return b;
}
inline Bytes sackChunk(std::uint32_t cumulativeTsn) {
  Bytes b{3, 0, 0, 16};
  put32(b, cumulativeTsn);
  put32(b, 65536);  // a_rwnd
  put16(b, 0);
  put16(b, 0);
  return b;
}
inline Bytes heartbeatChunk() {
  Bytes b{4, 0, 0, 12, 0, 1, 0, 8, 0x12, 0x34, 0x56, 0x78};
  return b;
}
inline Bytes sctp(std::uint16_t sport, std::uint16_t dport, std::uint32_t vtag,
                  std::initializer_list<Bytes> chunks) {
  Bytes b;
  put16(b, sport);
  put16(b, dport);
  put32(b, vtag);
  put32(b, 0);
  for (const auto& c : chunks) append(b, c);
  std::uint32_t crc = crc32c(b);
  // RFC 9260 appendix A: the CRC goes out least significant octet first.
  for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  return b;
}

using Ip4 = std::array<std::uint8_t, 4>;
using Ip6 = std::array<std::uint8_t, 16>;

inline Bytes ipv4(Ip4 src, Ip4 dst, std::uint8_t proto, const Bytes& payload, std::uint16_t id,
                  std::uint16_t fragment = 0x4000 /* DF */) {
  Bytes b{0x45, 0x00};
  put16(b, static_cast<unsigned>(20 + payload.size()));
  put16(b, id);
  put16(b, fragment);
  put8(b, 64);
  put8(b, proto);
  put16(b, 0);
  b.insert(b.end(), src.begin(), src.end());
  b.insert(b.end(), dst.begin(), dst.end());
  std::uint32_t sum = 0;
  for (int i = 0; i < 20; i += 2) sum += static_cast<std::uint32_t>(b[i] << 8 | b[i + 1]);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  b[10] = static_cast<std::uint8_t>(~sum >> 8);
  b[11] = static_cast<std::uint8_t>(~sum);
  append(b, payload);
  return b;
}
inline Bytes ipv6(const Ip6& src, const Ip6& dst, std::uint8_t nextHeader, const Bytes& payload) {
  Bytes b{0x60, 0, 0, 0};
  put16(b, static_cast<unsigned>(payload.size()));
  put8(b, nextHeader);
  put8(b, 64);
  b.insert(b.end(), src.begin(), src.end());
  b.insert(b.end(), dst.begin(), dst.end());
  append(b, payload);
  return b;
}
inline Bytes udp(std::uint16_t sport, std::uint16_t dport, const Bytes& payload) {
  Bytes b;
  put16(b, sport);
  put16(b, dport);
  put16(b, static_cast<unsigned>(8 + payload.size()));
  put16(b, 0);  // no checksum
  append(b, payload);
  return b;
}

inline constexpr std::uint16_t etherIpv4 = 0x0800, etherIpv6 = 0x86DD, etherArp = 0x0806;

// Ethernet II, with 802.1Q tags (outermost first) when given.
inline Bytes ethernet(std::uint16_t type, const Bytes& payload,
                      std::initializer_list<std::uint16_t> vlans = {}) {
  Bytes b{0x00, 0x1b, 0x21, 0x3a, 0x4c, 0x01, 0x00, 0x1b, 0x21, 0x3a, 0x4c, 0x02};
  bool outer = true;
  for (auto vlan : vlans) {
    put16(b, outer && vlans.size() > 1 ? 0x88A8 : 0x8100);
    put16(b, vlan);
    outer = false;
  }
  put16(b, type);
  append(b, payload);
  return b;
}
// Linux cooked capture v1: incoming packet from a host.
inline Bytes sll(std::uint16_t type, const Bytes& payload) {
  Bytes b{0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x1b, 0x21, 0x3a, 0x4c, 0x02, 0x00, 0x00};
  put16(b, type);
  append(b, payload);
  return b;
}
// Linux cooked capture v2.
inline Bytes sll2(std::uint16_t type, const Bytes& payload) {
  Bytes b;
  put16(b, type);
  put16(b, 0);
  put32(b, 2);  // interface index
  put16(b, 1);  // ARPHRD_ETHER
  put8(b, 0);   // to us
  put8(b, 6);
  append(b, {0x00, 0x1b, 0x21, 0x3a, 0x4c, 0x02, 0x00, 0x00});
  append(b, payload);
  return b;
}
}  // namespace net

// ---- pcap file format ------------------------------------------------------

class PcapWriter {
 public:
  // Classic pcap, microsecond timestamps, in the machine's byte order (the
  // magic number tells readers which).
  PcapWriter(std::FILE* f, std::uint32_t linkType) : _f(f) {
    const std::uint32_t magic = 0xA1B2C3D4;
    const std::uint16_t version[2] = {2, 4};
    const std::int32_t thisZone = 0;
    const std::uint32_t rest[3] = {0 /* sigfigs */, 262144 /* snaplen */, linkType};
    std::fwrite(&magic, 4, 1, f);
    std::fwrite(version, 2, 2, f);
    std::fwrite(&thisZone, 4, 1, f);
    std::fwrite(rest, 4, 3, f);
  }
  void write(std::uint64_t microseconds, const Bytes& frame) {
    std::uint32_t rec[4] = {static_cast<std::uint32_t>(microseconds / 1000000),
                            static_cast<std::uint32_t>(microseconds % 1000000),
                            static_cast<std::uint32_t>(frame.size()),
                            static_cast<std::uint32_t>(frame.size())};
    std::fwrite(rec, 4, 4, _f);
    std::fwrite(frame.data(), 1, frame.size(), _f);
  }

 private:
  std::FILE* _f;
};

}  // namespace gen
