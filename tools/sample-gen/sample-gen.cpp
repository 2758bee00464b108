// sample-gen: writes a capture of the inbound side of an SS7 interconnect
// link, as a mobile operator's signalling transfer point sees it.
//
// Numbering follows examples/screening.toml (all fictitious): the home
// network is country code 289 (GTs 28979..., IMSIs 00101...), roaming
// partners A (2851..., IMSIs 28501...) and B (2867..., 28602...); networks C
// (2831...) and D (2841...) have no agreement; 882/883 are international
// network codes.
//
//   sample-gen -o examples/sample.pcap              the sample (two cycles of the mix)
//   sample-gen -o big.pcap --count 1000000           at least that many messages
//   sample-gen -o t.pcap --link sll2                 other link types, for tests
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "Encode.hpp"

using namespace gen;

namespace {

struct Rng {
  std::uint64_t s;
  std::uint64_t next() {
    // splitmix64
    std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
  std::string digits(unsigned n) {
    std::string d;
    for (unsigned i = 0; i < n; ++i) d += static_cast<char>('0' + below(10));
    return d;
  }
};

enum class Link { ethernet, sll, sll2, raw, mtp2, mtp3, sccp, hex };

// Network nodes, by the global titles they use.
namespace gt {
const std::string homeHlr = "28979000020";
const std::string homeSmsc = "28979000100";
const std::string homeVlr = "289790001";        // + 3 digits
const std::string homeInternal = "2897900009";  // lawful intercept, OAM: never from abroad
const std::string partnerASmsc = "2851002";
const std::string partnerAVlr = "2851004";
const std::string partnerAHlr = "2851000";
const std::string partnerADeprecated = "28512";
const std::string partnerBSmsc = "2867003";
const std::string partnerBVlr = "2867004";
const std::string partnerBHlr = "2867000";
const std::string networkC = "2831";
const std::string networkD = "2841";
const std::string intlNetwork = "88299";
}  // namespace gt

sccp::Address e164(std::string digits, std::uint8_t ssn, std::uint8_t tt = 0) {
  sccp::Address a;
  a.digits = std::move(digits);
  a.ssn = ssn;
  a.tt = tt;
  return a;
}

// One SCCP message of the mix, with a line saying what it is.
struct Message {
  Bytes sccp;
  const char* what;
};

class Mix {
 public:
  explicit Mix(std::uint64_t seed) : _rng{seed} {}
  Rng& rng() { return _rng; }

  std::string homeImsi() { return "00101" + nonTestMsin(); }
  std::string homeMsisdn() { return "28979" + _rng.digits(7); }
  std::string homeVlr() { return gt::homeVlr + _rng.digits(3); }
  std::string partnerImsi(bool a) { return (a ? "28501" : "28602") + _rng.digits(10); }

  // The kinds of message, in the proportions of the mix.
  Message next() {
    static constexpr int kWeights[] = {14, 14, 2, 2, 8, 10, 10, 4, 2, 1,
                                       4,  1,  1, 1, 2, 6,  1,  2, 4, 3};
    unsigned total = 0;
    for (int w : kWeights) total += w;
    unsigned pick = _rng.below(total);
    int kind = 0;
    while (pick >= static_cast<unsigned>(kWeights[kind])) pick -= kWeights[kind++];
    return make(kind);
  }

  Message make(int kind) {
    bool a = _rng.below(2) == 0;
    std::uint32_t otid = static_cast<std::uint32_t>(_rng.next());
    int id = 1 + static_cast<int>(_rng.below(127));
    switch (kind) {
      case 0: {  // SRI-for-SM from a partner SMSC to our HLR, addressed by MSISDN
        auto msisdn = homeMsisdn();
        return {udt(e164(msisdn, sccp::ssnHlr), e164(smsc(a), sccp::ssnMsc),
                    beginOf(otid, map::acShortMsgGateway, 3,
                            tcap::invoke(id, map::sendRoutingInfoForSM,
                                         map::sriForSmArg(msisdn, smsc(a))))),
                "sendRoutingInfoForSM from a partner SMSC"};
      }
      case 1:  // MT-ForwardSM to one of our subscribers
        return {mtForwardSm(a, homeImsi(), otid, id, _rng.below(5) == 0),
                "mt-ForwardSM to a home IMSI"};
      case 2:  // MT-ForwardSM to a test SIM card
        return {mtForwardSm(a, "001019" + _rng.digits(9), otid, id, false),
                "mt-ForwardSM to a test SIM"};
      case 3: {  // MAP v2 forwardSM (46) with an IMSI, from a network without agreement
        auto calling = e164(gt::networkC + _rng.digits(8), sccp::ssnMsc);
        auto imsi = homeImsi();
        Bytes arg = map::forwardSmToImsi(imsi, calling.digits,
                                         map::smsDeliver(gt::networkC + "55501", "Your code 4711"));
        return {
            udt(e164(homeVlr(), sccp::ssnMsc), calling,
                beginOf(otid, map::acShortMsgMTRelay, 2, tcap::invoke(id, map::moForwardSM, arg))),
            "forwardSM v2 from network C"};
      }
      case 4: {  // MO-ForwardSM of one of our subscribers roaming at a partner
        auto msisdn = homeMsisdn();
        Bytes arg = map::moForwardSmArg(
            gt::homeSmsc, msisdn,
            map::smsSubmit(static_cast<std::uint8_t>(id), homeMsisdn(), "On my way"));
        return {
            udt(e164(gt::homeSmsc, sccp::ssnMsc), e164(vlr(a), sccp::ssnMsc),
                beginOf(otid, map::acShortMsgMORelay, 3, tcap::invoke(id, map::moForwardSM, arg))),
            "mo-ForwardSM from a roaming home subscriber"};
      }
      case 5: {  // updateLocation of a home subscriber at a partner VLR, to our HLR by MGT
        auto msin = nonTestMsin();
        return {udt(mgt(msin), e164(vlr(a), sccp::ssnVlr),
                    beginOf(otid, map::acNetworkLocUp, 3,
                            tcap::invoke(id, map::updateLocation,
                                         map::updateLocationArg("00101" + msin, vlr(a), vlr(a))))),
                "updateLocation from a partner VLR"};
      }
      case 6: {  // sendAuthenticationInfo
        auto msin = nonTestMsin();
        return {udt(mgt(msin), e164(vlr(a), sccp::ssnVlr),
                    beginOf(otid, map::acInfoRetrieval, 3,
                            tcap::invoke(id, map::sendAuthenticationInfo,
                                         map::sendAuthenticationInfoArg("00101" + msin)))),
                "sendAuthenticationInfo from a partner VLR"};
      }
      case 7:  // provideSubscriberInfo from a partner HLR to our VLR (their roamer here)
        return {udt(e164(homeVlr(), sccp::ssnVlr), e164(hlr(a), sccp::ssnHlr),
                    beginOf(otid, map::acSubscriberInfoEnquiry, 3,
                            tcap::invoke(id, map::provideSubscriberInfo,
                                         map::provideSubscriberInfoArg(partnerImsi(a))))),
                "provideSubscriberInfo from a partner HLR"};
      case 8:  // anyTimeInterrogation from a network without agreement: location tracking
        return {udt(e164(gt::homeHlr, sccp::ssnHlr),
                    e164(gt::networkD + _rng.digits(8), sccp::ssnGsmScf),
                    beginOf(otid, map::acAnyTimeEnquiry, 3,
                            tcap::invoke(id, map::anyTimeInterrogation,
                                         map::anyTimeInterrogationArg(homeMsisdn(),
                                                                      gt::networkD + "00001")))),
                "anyTimeInterrogation from network D"};
      case 9:  // provideSubscriberInfo from Partner A's withdrawn range
        return {udt(e164(homeVlr(), sccp::ssnVlr),
                    e164(gt::partnerADeprecated + _rng.digits(7), sccp::ssnHlr),
                    beginOf(otid, map::acSubscriberInfoEnquiry, 3,
                            tcap::invoke(id, map::provideSubscriberInfo,
                                         map::provideSubscriberInfoArg(homeImsi())))),
                "provideSubscriberInfo from a withdrawn partner range"};
      case 10: {  // USSD of a home subscriber roaming at a partner
        auto msisdn = homeMsisdn();
        return {
            udt(e164(gt::homeHlr, sccp::ssnHlr), e164(vlr(a), sccp::ssnVlr),
                beginOf(otid, map::acNetworkUnstructuredSs, 2,
                        tcap::invoke(id, map::processUnstructuredSSRequest,
                                     map::ussdArg(_rng.below(2) ? "*100#" : "*121*3#", msisdn)))),
            "processUnstructuredSS-Request from a roaming home subscriber"};
      }
      case 11:  // a message claiming to come from our own HLR: spoofed
        return {udt(e164(homeVlr(), sccp::ssnVlr), e164(gt::homeHlr, sccp::ssnHlr),
                    beginOf(otid, map::acSubscriberInfoEnquiry, 3,
                            tcap::invoke(id, map::provideSubscriberInfo,
                                         map::provideSubscriberInfoArg(homeImsi())))),
                "provideSubscriberInfo with a spoofed home calling GT"};
      case 12: {  // SRI-for-SM from an international network code
        auto msisdn = homeMsisdn();
        return {
            udt(e164(msisdn, sccp::ssnHlr), e164(gt::intlNetwork + _rng.digits(6), sccp::ssnMsc),
                beginOf(otid, map::acShortMsgGateway, 3,
                        tcap::invoke(id, map::sendRoutingInfoForSM,
                                     map::sriForSmArg(msisdn, gt::intlNetwork + "000001")))),
            "sendRoutingInfoForSM from 882"};
      }
      case 13: {  // a national translation type on the interconnect
        auto msisdn = homeMsisdn();
        return {udt(e164(msisdn, sccp::ssnHlr, 10), e164(smsc(a), sccp::ssnMsc),
                    beginOf(otid, map::acShortMsgGateway, 3,
                            tcap::invoke(id, map::sendRoutingInfoForSM,
                                         map::sriForSmArg(msisdn, smsc(a))))),
                "sendRoutingInfoForSM with translation type 10"};
      }
      case 14: {  // a calling GT with a national nature of address
        auto calling = e164(_rng.digits(9), sccp::ssnMsc);
        calling.nai = 3;
        auto msisdn = homeMsisdn();
        return {udt(e164(msisdn, sccp::ssnHlr), calling,
                    beginOf(otid, map::acShortMsgGateway, 3,
                            tcap::invoke(id, map::sendRoutingInfoForSM,
                                         map::sriForSmArg(msisdn, calling.digits)))),
                "sendRoutingInfoForSM with a national calling GT"};
      }
      case 15: {  // TC-END: a partner HLR answers our SMSC's SRI-for-SM
        Bytes res = map::sriForSmRes(partnerImsi(a), hlr(a));
        Bytes data = tcap::end(
            otid, tcap::dialogueResponse(map::applicationContext(map::acShortMsgGateway, 3)),
            tcap::returnResultLast(id, map::sendRoutingInfoForSM, res));
        return {udt(e164(gt::homeSmsc, sccp::ssnMsc), e164(hlr(a), sccp::ssnHlr), data),
                "sendRoutingInfoForSM result from a partner HLR"};
      }
      case 16:  // addressed to an internal node
        return {
            udt(e164(gt::homeInternal + _rng.digits(2), sccp::ssnHlr), e164(hlr(a), sccp::ssnHlr),
                beginOf(otid, map::acSubscriberInfoEnquiry, 3,
                        tcap::invoke(id, map::provideSubscriberInfo,
                                     map::provideSubscriberInfoArg(homeImsi())))),
            "provideSubscriberInfo to an internal node"};
      case 17: {  // a partner VLR that presents an E.212 calling address
        auto calling = e164(partnerImsi(a), sccp::ssnVlr);
        calling.np = 6;
        auto msin = nonTestMsin();
        return {udt(mgt(msin), calling,
                    beginOf(otid, map::acInfoRetrieval, 3,
                            tcap::invoke(id, map::sendAuthenticationInfo,
                                         map::sendAuthenticationInfoArg("00101" + msin)))),
                "sendAuthenticationInfo with an E.212 calling address"};
      }
      case 18: {  // TC-CONTINUE: a partner HLR inserts subscriber data at our VLR
        Bytes data = tcap::continue_(
            otid, static_cast<std::uint32_t>(_rng.next()),
            tcap::invoke(
                id, map::insertSubscriberData,
                map::insertSubscriberDataArg(
                    partnerImsi(a), a ? "2851" + _rng.digits(7) : "2867" + _rng.digits(7))));
        return {xudt(e164(homeVlr(), sccp::ssnVlr), e164(hlr(a), sccp::ssnHlr), data),
                "insertSubscriberData from a partner HLR"};
      }
      default:  // an SRI-for-SM that a partner sends through a network without agreement
      {
        auto msisdn = homeMsisdn();
        auto calling = e164(gt::networkC + _rng.digits(8), sccp::ssnMsc);
        return {udt(e164(msisdn, sccp::ssnHlr), calling,
                    beginOf(otid, map::acShortMsgGateway, 3,
                            tcap::invoke(id, map::sendRoutingInfoForSM,
                                         map::sriForSmArg(msisdn, calling.digits)))),
                "sendRoutingInfoForSM from network C"};
      }
    }
  }

  // A long MT-ForwardSM (a concatenated SMS part), for the fragmented frames.
  Message longMtForwardSm() {
    std::string text(150, 'x');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = "Roaming tariffs update "[i % 23];
    Bytes arg = map::forwardSmToImsi(homeImsi(), smsc(true), map::smsDeliver("2851999", text));
    std::uint32_t otid = static_cast<std::uint32_t>(_rng.next());
    return {xudt(e164(homeVlr(), sccp::ssnMsc), e164(smsc(true), sccp::ssnMsc),
                 beginOf(otid, map::acShortMsgMTRelay, 3, tcap::invoke(1, map::mtForwardSM, arg))),
            "mt-ForwardSM in three SCTP fragments"};
  }

  // A UDT whose data pointer points past the end.
  Message damaged() {
    Message m = make(0);
    m.sccp[4] = 0xF0;
    m.what = "UDT with a broken data pointer";
    return m;
  }

 private:
  std::string nonTestMsin() {
    std::string msin = _rng.digits(10);
    if (msin[0] == '9') msin[0] = '1';  // 9xxxxxxxxx are test SIMs
    return msin;
  }
  std::string smsc(bool a) { return (a ? gt::partnerASmsc : gt::partnerBSmsc) + _rng.digits(5); }
  std::string vlr(bool a) { return (a ? gt::partnerAVlr : gt::partnerBVlr) + _rng.digits(5); }
  std::string hlr(bool a) { return (a ? gt::partnerAHlr : gt::partnerBHlr) + _rng.digits(5); }
  // E.214 mobile global title: our CC + NDC in place of MCC + MNC.
  sccp::Address mgt(const std::string& msin) {
    sccp::Address a = e164("28979" + msin, sccp::ssnHlr);
    a.np = 7;
    return a;
  }
  Bytes beginOf(std::uint32_t otid, unsigned ac, unsigned version, const Bytes& component) {
    return tcap::begin(otid, tcap::dialogueRequest(map::applicationContext(ac, version)),
                       component);
  }
  Bytes udt(const sccp::Address& called, const sccp::Address& calling, const Bytes& data) {
    return sccp::udt(called, calling, data, _rng.below(2) ? 0x80 : 0x81);
  }
  Bytes xudt(const sccp::Address& called, const sccp::Address& calling, const Bytes& data) {
    return sccp::xudt(called, calling, data, static_cast<std::uint8_t>(10 + _rng.below(6)));
  }
  Bytes mtForwardSm(bool a, const std::string& imsi, std::uint32_t otid, int id, bool extended) {
    std::string sc = smsc(a);
    Bytes arg =
        map::forwardSmToImsi(imsi, sc, map::smsDeliver(a ? "2851777" : "2867777", "See you at 8"));
    Bytes data = beginOf(otid, map::acShortMsgMTRelay, 3, tcap::invoke(id, map::mtForwardSM, arg));
    auto called = e164(homeVlr(), sccp::ssnMsc);
    auto calling = e164(sc, sccp::ssnMsc);
    return extended ? xudt(called, calling, data) : udt(called, calling, data);
  }

  Rng _rng;
};

// ---- Transport ----------------------------------------------------------

struct Association {
  net::Ip4 src, dst;
  std::uint16_t sport, dport;
  std::uint32_t vtag;
  std::uint32_t tsn;
  std::uint16_t ssn[4] = {};
  std::uint32_t ppid;
  std::uint32_t opc, dpc;  // M3UA point codes
};

const net::Ip4 kHome{192, 0, 2, 1};
const net::Ip4 kHubA{198, 51, 100, 10};
const net::Ip4 kHubB{203, 0, 113, 20};
const net::Ip6 kHome6{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const net::Ip6 kHubB6{0x20, 0x01, 0x0d, 0xb8, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x20};

class Writer {
 public:
  Writer(std::FILE* f, Link link) : _f(f), _link(link) {
    if (link != Link::hex) _pcap.emplace(f, linkType(link));
  }

  static std::uint32_t linkType(Link l) {
    switch (l) {
      case Link::ethernet:
        return 1;
      case Link::sll:
        return 113;
      case Link::sll2:
        return 276;
      case Link::raw:
        return 101;
      case Link::mtp2:
        return 139;
      case Link::mtp3:
        return 141;
      case Link::sccp:
      case Link::hex:
        return 142;
    }
    return 1;
  }
  bool overIp() const { return _link <= Link::raw; }

  void ip4Frame(const Bytes& ip, std::initializer_list<std::uint16_t> vlans = {}) {
    frame(net::etherIpv4, ip, vlans);
  }
  void ip6Frame(const Bytes& ip) { frame(net::etherIpv6, ip, {}); }
  void etherFrame(std::uint16_t type, const Bytes& payload) {
    if (_link == Link::ethernet) emit(net::ethernet(type, payload));
  }
  // The frames of signalling-link captures.
  void linkFrame(const Bytes& mtp3) {
    if (_link == Link::mtp3) {
      emit(mtp3);
    } else if (_link == Link::mtp2) {
      Bytes f{0, 0, 0, 0};  // pseudo-header: received, no annex A, link 0
      append(f, mtp::mtp2(_bsn, _fsn++ & 0x7F, mtp3));
      emit(f);
    }
  }
  void fisu() {
    if (_link != Link::mtp2) return;
    Bytes f{0, 0, 0, 0, 0x80, 0x80, 0x00};
    emit(f);
  }
  void sccpFrame(const Bytes& sccp, const char* what) {
    if (_link != Link::hex) return emit(sccp);
    // A .hex file: the message's kind as a comment, then its octets.
    std::fprintf(_f, "# %s\n", what);
    for (auto b : sccp) std::fprintf(_f, "%02x", b);
    std::fputc('\n', _f);
    ++_frames;
  }
  std::uint64_t frames() const { return _frames; }

 private:
  void frame(std::uint16_t type, const Bytes& ip, std::initializer_list<std::uint16_t> vlans) {
    switch (_link) {
      case Link::ethernet:
        emit(net::ethernet(type, ip, vlans));
        break;
      case Link::sll:
        emit(net::sll(type, ip));
        break;
      case Link::sll2:
        emit(net::sll2(type, ip));
        break;
      case Link::raw:
        emit(ip);
        break;
      default:
        break;
    }
  }
  void emit(const Bytes& f) {
    _time += 200 + (_frames * 7919) % 9000;  // a few milliseconds apart
    _pcap->write(_time, f);
    ++_frames;
  }

  std::FILE* _f;
  Link _link;
  std::optional<PcapWriter> _pcap;
  std::uint64_t _time = 1709546400ull * 1000000;  // 2024-03-04 10:00:00 UTC
  std::uint64_t _frames = 0;
  std::uint8_t _bsn = 0x7F, _fsn = 0;
};

class Generator {
 public:
  Generator(Writer& w, std::uint64_t seed, bool sccpLink) : _w(w), _mix(seed), _sccpLink(sccpLink) {
    _a = {kHubA, kHome, 2905, 2905, 0x1A2B3C4D, 1000, {}, 3, 0x2101, 0x0101};
    _b = {kHubB, kHome, 2905, 2905, 0x5E6F7081, 50000, {}, 3, 0x2202, 0x0101};
    _sua = {kHubA, kHome, 14001, 14001, 0x0BADF00D, 7000, {}, 4, 0, 0};
    _m2pa = {kHubB, kHome, 3565, 3565, 0x00C0FFEE, 9000, {}, 5, 0, 0};
  }

  std::uint64_t messages() const { return _messages; }

  // One cycle of the mix: about a hundred messages with every kind of frame.
  void cycle() {
    if (!_w.overIp()) return linkCycle();
    for (int step = 0; step < 80; ++step) {
      switch (step) {
        case 3:
          bundle(3);
          break;
        case 7:
          controlOnly();
          break;
        case 11:
          single(_a, {100});
          break;  // VLAN tagged
        case 12:
          fragmented(0);
          break;
        case 15:
          m3uaManagement();
          break;
        case 18:
          fragmented(1);
          break;
        case 19:
          suaFrame();
          break;
        case 22:
          fragmented(2);
          break;
        case 23:
          m2paFrame();
          break;
        case 27:
          isupFrame();
          break;
        case 31:
          bundle(2);
          break;
        case 35:
          ipv6Frame();
          break;
        case 39:
          otherTraffic();
          break;
        case 43:
          damagedFrame();
          break;
        case 47:
          single(_b, {200, 300});
          break;  // QinQ
        case 51:
          bundle(4);
          break;
        case 55:
          iDataFrame();
          break;
        case 63:
          controlOnly();
          break;
        case 71:
          bundle(2);
          break;
        default:
          single(_mix.rng().below(3) ? _a : _b, {});
      }
    }
  }

 private:
  Bytes m3ua(Association& as, const Bytes& sccp) {
    return sigtran::m3uaData(as.opc, as.dpc, mtp::siSccp,
                             static_cast<std::uint8_t>(_mix.rng().below(16)), sccp);
  }
  Bytes chunk(Association& as, const Bytes& payload, std::uint8_t flags = 0x03) {
    std::uint16_t stream = static_cast<std::uint16_t>(1 + _mix.rng().below(3));
    return net::dataChunk(flags, as.tsn++, stream, as.ssn[stream]++, as.ppid, payload);
  }
  Bytes ip(const Association& as, const Bytes& sctp) {
    return net::ipv4(as.src, as.dst, 132, sctp, _ipId++);
  }
  void single(Association& as, std::initializer_list<std::uint16_t> vlans) {
    Message m = _mix.next();
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag, {chunk(as, m3ua(as, m.sccp))})),
                vlans);
    ++_messages;
  }
  void bundle(int n) {
    Association& as = _b;
    Bytes chunks;
    for (int i = 0; i < n; ++i) {
      append(chunks, chunk(as, m3ua(as, _mix.next().sccp)));
      ++_messages;
    }
    Bytes s = net::sctp(as.sport, as.dport, as.vtag, {net::sackChunk(777), chunks});
    _w.ip4Frame(ip(as, s));
  }
  void controlOnly() {
    Association& as = _a;
    // Our own SACK going out, and a partner's heartbeat.
    _w.ip4Frame(net::ipv4(as.dst, as.src, 132,
                          net::sctp(as.dport, as.sport, 0x99887766, {net::sackChunk(as.tsn - 1)}),
                          _ipId++));
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag, {net::heartbeatChunk()})));
  }
  void m3uaManagement() {
    Association& as = _a;
    Bytes beat = sigtran::m3uaBeat();
    Bytes dava = sigtran::m3uaDava(0x2105);
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag,
                                 {net::dataChunk(0x03, as.tsn++, 0, as.ssn[0]++, 3, beat)})));
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag,
                                 {net::dataChunk(0x03, as.tsn++, 0, as.ssn[0]++, 3, dava)})));
  }
  // Frame `part` of a message split over three DATA chunks.
  void fragmented(int part) {
    Association& as = _b;
    if (part == 0) {
      _fragments = m3ua(as, _mix.longMtForwardSm().sccp);
      _fragmentTsn = as.tsn;
      _fragmentSsn = as.ssn[2]++;
      as.tsn += 3;
      ++_messages;
    }
    std::size_t third = (_fragments.size() + 2) / 3;
    std::size_t from = third * static_cast<std::size_t>(part);
    std::size_t to = std::min(_fragments.size(), from + third);
    Bytes piece(_fragments.begin() + static_cast<std::ptrdiff_t>(from),
                _fragments.begin() + static_cast<std::ptrdiff_t>(to));
    std::uint8_t flags = part == 0 ? 0x02 : part == 2 ? 0x01 : 0x00;
    _w.ip4Frame(
        ip(as, net::sctp(as.sport, as.dport, as.vtag,
                         {net::dataChunk(flags, _fragmentTsn + static_cast<std::uint32_t>(part), 2,
                                         _fragmentSsn, as.ppid, piece)})));
  }
  void suaFrame() {
    Association& as = _sua;
    Message m = _mix.make(0);  // an SRI-for-SM, carried over SUA instead of SCCP
    auto called = sccp::Address{};
    called.digits = _mix.homeMsisdn();
    called.ssn = sccp::ssnHlr;
    auto calling = sccp::Address{};
    calling.digits = gt::partnerASmsc + _mix.rng().digits(5);
    calling.ssn = sccp::ssnMsc;
    // The TCAP of the SCCP message: skip the UDT's header and addresses.
    std::size_t dataAt = 4 + m.sccp[4];
    Bytes data(m.sccp.begin() + static_cast<std::ptrdiff_t>(dataAt + 1), m.sccp.end());
    Bytes cldt = sigtran::suaCldt(called, calling, data);
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag, {chunk(as, cldt)})));
    ++_messages;
  }
  void m2paFrame() {
    Association& as = _m2pa;
    // A national link: route on SSN and point code, no global title.
    sccp::Address called, calling;
    called.routeOnSsn = calling.routeOnSsn = true;
    called.ssn = sccp::ssnHlr;
    called.pc = 0x0101;
    calling.ssn = sccp::ssnVlr;
    calling.pc = 0x0222;
    std::string msin = "1" + _mix.rng().digits(9);
    Bytes data =
        tcap::begin(static_cast<std::uint32_t>(_mix.rng().next()),
                    tcap::dialogueRequest(map::applicationContext(map::acInfoRetrieval, 3)),
                    tcap::invoke(1, map::sendAuthenticationInfo,
                                 map::sendAuthenticationInfoArg("00101" + msin)));
    Bytes mtp3 = mtp::mtp3(2, mtp::siSccp, 0x0101, 0x0222, 5, sccp::udt(called, calling, data));
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag,
                                 {chunk(as, sigtran::m2paUserData(as.tsn, as.tsn, mtp3))})));
    ++_messages;
  }
  void isupFrame() {
    Association& as = _a;
    // An ISUP IAM over M3UA: not SCCP.
    Bytes iam{0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x03, 0x02, 0x0a,
              0x08, 0x83, 0x90, 0x82, 0x97, 0x09, 0x00, 0x00, 0x0f, 0x00};
    Bytes m = sigtran::m3uaData(as.opc, as.dpc, mtp::siIsup, 3, iam);
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag, {chunk(as, m)})));
  }
  void ipv6Frame() {
    Association& as = _b;
    Message m = _mix.next();
    Bytes s = net::sctp(as.sport, as.dport, as.vtag, {chunk(as, m3ua(as, m.sccp))});
    _w.ip6Frame(net::ipv6(kHubB6, kHome6, 132, s));
    ++_messages;
  }
  void otherTraffic() {
    // NTP over UDP on the same link, and an ARP request.
    Bytes ntp(48, 0);
    ntp[0] = 0x23;
    _w.ip4Frame(net::ipv4(kHubA, kHome, 17, net::udp(123, 123, ntp), _ipId++));
    Bytes arp{0,   1,  8,   0,  6, 4, 0, 1, 0x00, 0x1b, 0x21, 0x3a, 0x4c, 0x02,
              198, 51, 100, 10, 0, 0, 0, 0, 0,    0,    192,  0,    2,    1};
    _w.etherFrame(net::etherArp, arp);
  }
  void damagedFrame() {
    Association& as = _a;
    Bytes s = net::sctp(as.sport, as.dport, as.vtag, {chunk(as, m3ua(as, _mix.damaged().sccp))});
    _w.ip4Frame(ip(as, s));
    ++_messages;
  }
  void iDataFrame() {
    // RFC 8260 I-DATA: one message, whole.
    Association& as = _b;
    Message m = _mix.next();
    Bytes c = net::iDataChunk(0x03, as.tsn++, 3, _mid++, as.ppid, m3ua(as, m.sccp));
    _w.ip4Frame(ip(as, net::sctp(as.sport, as.dport, as.vtag, {c})));
    ++_messages;
  }
  // MTP2 / MTP3 / SCCP link types: the mix without IP, one message a frame.
  void linkCycle() {
    for (int step = 0; step < 80; ++step) {
      Message m = step == 43 ? _mix.damaged() : _mix.next();
      ++_messages;
      if (_sccpLink) {
        _w.sccpFrame(m.sccp, m.what);
        continue;
      }
      if (step == 5) _w.fisu();
      if (step == 9) {
        Bytes iam{0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0a, 0x03, 0x02, 0x0a};
        _w.linkFrame(mtp::mtp3(0, mtp::siIsup, 0x0101, 0x0222, 1, iam));
      }
      _w.linkFrame(
          mtp::mtp3(0, mtp::siSccp, 0x0101, 0x0222, static_cast<std::uint8_t>(step & 15), m.sccp));
    }
  }

  Writer& _w;
  Mix _mix;
  Association _a, _b, _sua, _m2pa;
  Bytes _fragments;
  std::uint32_t _fragmentTsn = 0;
  std::uint16_t _fragmentSsn = 0;
  std::uint32_t _mid = 0;
  std::uint16_t _ipId = 1;
  std::uint64_t _messages = 0;
  bool _sccpLink;
};

int usage() {
  std::fputs(
      "usage: sample-gen -o FILE [--count N] [--seed N] "
      "[--link ethernet|sll|sll2|raw|mtp2|mtp3|sccp|hex]\n"
      "  Writes a pcap of SS7 interconnect traffic: cycles of the mix (about 80 messages each)\n"
      "  until at least N (default 160: the sample) SCCP messages are written.\n"
      "  --link hex writes a text file of SCCP messages, one per line.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out;
  std::uint64_t count = 160, seed = 20240304;
  Link link = Link::ethernet;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "-o") {
      out = value();
    } else if (a == "--count") {
      count = std::strtoull(value().c_str(), nullptr, 10);
    } else if (a == "--seed") {
      seed = std::strtoull(value().c_str(), nullptr, 10);
    } else if (a == "--link") {
      std::string l = value();
      if (l == "ethernet")
        link = Link::ethernet;
      else if (l == "sll")
        link = Link::sll;
      else if (l == "sll2")
        link = Link::sll2;
      else if (l == "raw")
        link = Link::raw;
      else if (l == "mtp2")
        link = Link::mtp2;
      else if (l == "mtp3")
        link = Link::mtp3;
      else if (l == "sccp")
        link = Link::sccp;
      else if (l == "hex")
        link = Link::hex;
      else
        return usage();
    } else {
      return usage();
    }
  }
  if (out.empty()) return usage();
  std::FILE* f = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "sample-gen: %s: %s\n", out.c_str(), std::strerror(errno));
    return 2;
  }
  static char buffer[1 << 20];
  std::setvbuf(f, buffer, _IOFBF, sizeof buffer);
  Writer w(f, link);
  Generator g(w, seed, link == Link::sccp || link == Link::hex);
  do {
    g.cycle();
  } while (g.messages() < count);
  if (std::fclose(f) != 0) {
    std::fprintf(stderr, "sample-gen: %s: %s\n", out.c_str(), std::strerror(errno));
    return 2;
  }
  std::fprintf(stderr, "sample-gen: %s: %llu frames, %llu SCCP messages\n", out.c_str(),
               static_cast<unsigned long long>(w.frames()),
               static_cast<unsigned long long>(g.messages()));
  return 0;
}
