// Random rule sets and random packets: the filter's verdict must equal the one
// a deliberately plain reading of the rules gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

// ---- The plain reading ------------------------------------------------------

struct PlainRules {
  // [calling|called][allowed|denied][E164|E212|E214]
  PXListRef prefixes[2][2][3];
  PXListRef allowedTT, deniedTT, allowedOP, deniedOP, allowedGOP, deniedGOP, allowedIMSI,
      deniedIMSI;
  bool defAllow[3] = {}, defDeny[3] = {};  // calling, called, tt
};

struct PlainComponent {
  std::int64_t code;
  bool local, global;
  std::optional<std::string> imsi;  // for 44/46: the IMSI the argument carries
};

struct PlainPacket {
  std::optional<qeltest::Address> calling, called;
  bool hasBegin = false;
  std::vector<PlainComponent> components;
};

bool startsWithAny(const PXListRef& list, const std::optional<std::string>& v) {
  if (!list || !v) return false;
  for (const auto& e : *list) {
    if (e.text() && !e.text()->empty() && v->rfind(*e.text(), 0) == 0) return true;
  }
  return false;
}

// The integer a number-list entry stands for, read with the C library: strtoll
// saturates at the 64-bit range, and the result is then clamped to 32 bits.
std::optional<std::int64_t> plainEntry(const PXValue& e) {
  constexpr std::int64_t kMin = INT32_MIN, kMax = INT32_MAX;
  if (const auto* n = e.integer()) return std::clamp(*n, kMin, kMax);
  if (const auto* d = e.real()) {
    if (std::isnan(*d)) return std::nullopt;
    return static_cast<std::int64_t>(std::clamp(std::trunc(*d), double(kMin), double(kMax)));
  }
  if (const auto* t = e.text())
    return std::clamp<std::int64_t>(std::strtoll(t->c_str(), nullptr, 10), kMin, kMax);
  return std::nullopt;
}

bool containsCode(const PXListRef& list, std::int64_t code) {
  if (!list) return false;
  for (const auto& e : *list) {
    if (plainEntry(e) == code) return true;
  }
  return false;
}

int plainVerdict(const PlainRules& r, const PlainPacket& p) {
  // A denied operation code anywhere in the Begin denies at once.
  const bool walk =
      r.allowedOP || r.deniedOP || r.allowedGOP || r.deniedGOP || r.allowedIMSI || r.deniedIMSI;
  bool opAllowed = false, imsiAllowed = false, imsiDenied = false;
  if (walk && p.hasBegin) {
    for (const auto& c : p.components) {
      if (c.code == 44 || c.code == 46) {
        imsiAllowed = startsWithAny(r.allowedIMSI, c.imsi);
        imsiDenied = startsWithAny(r.deniedIMSI, c.imsi);
      }
      if (c.local && containsCode(r.deniedOP, c.code)) return -1;
      if (c.local && containsCode(r.allowedOP, c.code)) opAllowed = true;
      if (c.global && containsCode(r.deniedGOP, c.code)) return -1;
      if (c.global && containsCode(r.allowedGOP, c.code)) opAllowed = true;
    }
  }
  bool allowed[3] = {}, denied[3] = {};
  const std::optional<qeltest::Address>* addresses[2] = {&p.calling, &p.called};
  for (int side = 0; side < 2; ++side) {
    const auto& a = *addresses[side];
    if (!a || a->nai != 4) continue;
    int plan = a->npi == 1 ? 0 : a->npi == 6 ? 1 : a->npi == 7 ? 2 : -1;
    if (plan < 0) continue;
    allowed[side] = startsWithAny(r.prefixes[side][0][plan], a->digits);
    denied[side] = startsWithAny(r.prefixes[side][1][plan], a->digits);
  }
  const std::int32_t tt = p.called && p.called->tt ? *p.called->tt : 0;
  allowed[2] = containsCode(r.allowedTT, tt);
  denied[2] = containsCode(r.deniedTT, tt);

  if (denied[0] || denied[1] || denied[2] || imsiDenied) return -1;
  bool anyImplicitDeny = false, anyImplicitAllow = false,
       anyExplicitAllow = opAllowed || imsiAllowed;
  for (int d = 0; d < 3; ++d) {
    if (allowed[d])
      anyExplicitAllow = true;
    else if (r.defDeny[d])
      anyImplicitDeny = true;
    else if (r.defAllow[d])
      anyImplicitAllow = true;
  }
  if (anyImplicitDeny) return -2;
  if (anyImplicitAllow) return 2;
  if (anyExplicitAllow) return 1;
  return 0;
}

std::string describe(const PlainPacket& p) {
  std::string s;
  const std::optional<qeltest::Address>* addresses[2] = {&p.calling, &p.called};
  for (const auto* a : addresses) {
    if (!*a) {
      s += "[none] ";
      continue;
    }
    s += "[nai " + std::to_string((*a)->nai) + " npi " + std::to_string((*a)->npi) + " tt " +
         ((*a)->tt ? std::to_string(*(*a)->tt) : "-") + " " + (*a)->digits.value_or("-") + "] ";
  }
  s += p.hasBegin ? "begin:" : "no begin";
  for (const auto& c : p.components) {
    s += " " + std::to_string(c.code) + (c.local ? "L" : "") + (c.global ? "G" : "") +
         (c.imsi ? "/" + *c.imsi : "");
  }
  return s;
}

// ---- Random inputs ----------------------------------------------------------

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : _rng(seed) {}

  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(_rng); }
  bool chance(int percent) { return pick(100) < percent; }

  std::string digits(int minLen, int maxLen) {
    std::string s;
    const int n = minLen + pick(maxLen - minLen + 1);
    // A small alphabet so that prefixes hit often.
    for (int i = 0; i < n; ++i) s += static_cast<char>('1' + pick(3));
    return s;
  }

  PXListRef prefixList() {
    if (chance(55)) return nullptr;
    PXList l;
    for (int i = pick(4); i > 0; --i) l.push_back(chance(10) ? PXValue("") : PXValue(digits(1, 3)));
    return std::make_shared<const PXList>(std::move(l));
  }

  // Mostly small numbers and digit texts; now and then an entry that is read
  // through the clamp (beyond 32 bits, a fraction, a text with blanks, a sign,
  // trailing letters or too many digits) or one that never hits.
  PXValue codeEntry(int range) {
    static const PXValue kOdd[] = {
        PXValue(std::int64_t{4294967342}),
        PXValue(std::int64_t{INT32_MAX}),
        PXValue(std::int64_t{INT32_MIN}),
        PXValue(std::int64_t{-2147483649}),
        PXValue(std::int64_t{INT64_MAX}),
        PXValue(std::int64_t{-1}),
        PXValue(46.9),
        PXValue(-0.5),
        PXValue(1e20),
        PXValue(-1e20),
        PXValue(std::nan("")),
        PXValue("4294967342"),
        PXValue(" 46"),
        PXValue("+44x"),
        PXValue("-2147483649"),
        PXValue("99999999999999999999"),
        PXValue("2147483647"),
        PXValue(""),
        PXValue("abc"),
        PXValue(px::makeList({46})),
        PXValue(PXOther{}),
    };
    if (chance(15)) return kOdd[pick(static_cast<int>(std::size(kOdd)))];
    const int v = pick(range);
    return chance(30) ? PXValue(std::to_string(v)) : PXValue(v);
  }

  PXListRef codeList(int range) {
    if (chance(60)) return nullptr;
    PXList l;
    for (int i = pick(4); i > 0; --i) l.push_back(codeEntry(range));
    return std::make_shared<const PXList>(std::move(l));
  }

  std::optional<qeltest::Address> address() {
    if (chance(10)) return std::nullopt;
    static constexpr int kNai[] = {4, 4, 4, 3, 1, 0};
    static constexpr int kNpi[] = {1, 1, 6, 7, 2, 0};
    qeltest::Address a{
        .nai = kNai[pick(6)], .npi = kNpi[pick(6)], .tt = pick(4), .digits = digits(0, 6)};
    if (chance(10)) a.digits.reset();
    if (chance(10)) a.tt.reset();
    return a;
  }

  std::pair<PlainRules, std::unique_ptr<QelScreeningSCCP>> rules() {
    PlainRules r;
    auto f = std::make_unique<QelScreeningSCCP>();
    using Setter = void (QelScreeningSCCP::*)(PXListRef);
    const Setter setters[2][2][3] = {{{&QelScreeningSCCP::setAllowedCallingSccpPrefixE164,
                                       &QelScreeningSCCP::setAllowedCallingSccpPrefixE212,
                                       &QelScreeningSCCP::setAllowedCallingSccpPrefixE214},
                                      {&QelScreeningSCCP::setDeniedCallingSccpPrefixE164,
                                       &QelScreeningSCCP::setDeniedCallingSccpPrefixE212,
                                       &QelScreeningSCCP::setDeniedCallingSccpPrefixE214}},
                                     {{&QelScreeningSCCP::setAllowedCalledSccpPrefixE164,
                                       &QelScreeningSCCP::setAllowedCalledSccpPrefixE212,
                                       &QelScreeningSCCP::setAllowedCalledSccpPrefixE214},
                                      {&QelScreeningSCCP::setDeniedCalledSccpPrefixE164,
                                       &QelScreeningSCCP::setDeniedCalledSccpPrefixE212,
                                       &QelScreeningSCCP::setDeniedCalledSccpPrefixE214}}};
    for (int side = 0; side < 2; ++side)
      for (int kind = 0; kind < 2; ++kind)
        for (int plan = 0; plan < 3; ++plan) {
          r.prefixes[side][kind][plan] = prefixList();
          // Taken out of the array first: GCC's bounds check misreads the
          // subscript of an array of pointers to virtual members.
          const Setter set = setters[side][kind][plan];
          (f.get()->*set)(r.prefixes[side][kind][plan]);
        }
    f->setAllowedTT(r.allowedTT = codeList(4));
    f->setDeniedTT(r.deniedTT = codeList(4));
    f->setAllowedOP(r.allowedOP = codeList(50));
    f->setDeniedOP(r.deniedOP = codeList(50));
    f->setAllowedGOP(r.allowedGOP = codeList(50));
    f->setDeniedGOP(r.deniedGOP = codeList(50));
    f->setAllowedFSM_IMSI_PREFIX(r.allowedIMSI = prefixList());
    f->setDeniedFSM_IMSI_PREFIX(r.deniedIMSI = prefixList());
    using FlagSetter = void (QelScreeningSCCP::*)(std::uint8_t);
    const FlagSetter allow[3] = {&QelScreeningSCCP::setDefaultAllowCalling,
                                 &QelScreeningSCCP::setDefaultAllowCalled,
                                 &QelScreeningSCCP::setDefaultAllowTT};
    const FlagSetter deny[3] = {&QelScreeningSCCP::setDefaultDenyCalling,
                                &QelScreeningSCCP::setDefaultDenyCalled,
                                &QelScreeningSCCP::setDefaultDenyTT};
    for (int d = 0; d < 3; ++d) {
      const int a = chance(20) ? 1 + pick(255) : 0;
      const int n = chance(15) ? 1 + pick(255) : 0;
      r.defAllow[d] = a != 0;
      r.defDeny[d] = n != 0;
      const FlagSetter setAllow = allow[d], setDeny = deny[d];
      (f.get()->*setAllow)(static_cast<std::uint8_t>(a));
      (f.get()->*setDeny)(static_cast<std::uint8_t>(n));
    }
    return {std::move(r), std::move(f)};
  }

  PlainPacket plainPacket() {
    PlainPacket p{address(), address(), chance(70), {}};
    for (int i = pick(4); i > 0; --i) {
      static constexpr std::int64_t kCodes[] = {44, 46, 2, 45, 56, 59, 70, 71};
      // Codes at and beyond the 32-bit range meet the clamped entries.
      static constexpr std::int64_t kFarCodes[] = {INT32_MAX, std::int64_t{INT32_MAX} + 1,
                                                   INT32_MIN, std::int64_t{INT32_MIN} - 1,
                                                   -1,        4294967342,
                                                   0,         INT64_MAX};
      const std::int64_t code = chance(10)   ? kFarCodes[pick(8)]
                                : chance(70) ? kCodes[pick(8)]
                                             : pick(50);
      PlainComponent c{code, true, false, std::nullopt};
      if (chance(20)) std::swap(c.local, c.global);
      if (chance(5)) {
        // A component without operation code (a ReturnError, say) reads as code 0.
        c.local = c.global = false;
        c.code = 0;
      }
      if ((c.code == 44 || c.code == 46) && chance(80)) c.imsi = digits(5, 8);
      p.components.push_back(c);
    }
    return p;
  }

 private:
  std::mt19937 _rng;
};

PXSCCP_Packet build(const PlainPacket& plain, qeltest::Begin& storage) {
  PXSCCP_Packet p = qeltest::packet(plain.calling, plain.called);
  if (!plain.hasBegin) return p;
  p.mutableTcap().mutableComponentPortion();
  for (const auto& c : plain.components) {
    PXTCAP_itu_asn1_componentPDU pdu(PXTCAP_ComponentKind::invoke);
    if ((c.code == 44 || c.code == 46) && c.imsi) {
      storage.storage.reserve(16);
      storage.storage.push_back(qeltest::forwardSmArgument(0x80, *c.imsi));
      pdu.setParams(qeltest::Begin::asSequence(storage.storage.back()));
    } else if (c.code == 44 || c.code == 46) {
      storage.storage.reserve(16);
      storage.storage.push_back(qeltest::forwardSmArgument(0x84, ""));
      pdu.setParams(qeltest::Begin::asSequence(storage.storage.back()));
    }
    if (c.local) pdu.setLocalOperationCode(c.code);
    if (c.global) pdu.setGlobalOperationCode(c.code);
    if (!c.local && !c.global) {
      pdu = PXTCAP_itu_asn1_componentPDU(PXTCAP_ComponentKind::returnError);
    }
    p.mutableTcap().mutableComponentPortion().add(pdu);
  }
  return p;
}

TEST(DecisionProperty, VerdictEqualsThePlainReadingOfTheRules) {
  Generator gen(20261208);
  int counts[5] = {};
  for (int round = 0; round < 300; ++round) {
    auto [plainRules, filter] = gen.rules();
    for (int i = 0; i < 100; ++i) {
      const PlainPacket plain = gen.plainPacket();
      qeltest::Begin storage;
      const PXSCCP_Packet packet = build(plain, storage);
      const int expected = plainVerdict(plainRules, plain);
      PXSccpScreeningTrace trace;
      const int got = filter->screenSccpPacketInboundExplained(&packet, nullptr, trace);
      ASSERT_EQ(got, expected) << "round " << round << " packet " << i << " decided by "
                               << px::deciderName(trace.decidedBy) << "; " << describe(plain)
                               << "; partials calling " << trace.callingAllowed << "/"
                               << trace.callingDenied << " called " << trace.calledAllowed << "/"
                               << trace.calledDenied << " tt " << trace.ttAllowed << "/"
                               << trace.ttDenied << " fsm " << trace.fsmAllowed << "/"
                               << trace.fsmDenied << " walked " << trace.walked;
      ASSERT_EQ(filter->screenSccpPacketInbound(&packet, nullptr), got);
      ++counts[got + 2];
    }
  }
  // The generator must exercise every verdict, or the comparison proves little.
  for (int v = 0; v < 5; ++v) EXPECT_GT(counts[v], 200) << "verdict " << v - 2;
}

}  // namespace
