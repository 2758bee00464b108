// The inbound decision, case by case: address selection, translation type,
// defaults, the component walk and the precedence of the combination.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

using qeltest::Address;
using qeltest::Begin;
using qeltest::packet;

constexpr auto EP = PXSccpScreening_explicitlyPermitted;
constexpr auto IP = PXSccpScreening_implicitlyPermitted;
constexpr auto ED = PXSccpScreening_explicitlyDenied;
constexpr auto ID = PXSccpScreening_implicitlyDenied;
constexpr auto UN = PXSccpScreening_undefined;

struct Case {
  const char* name;
  std::function<void(QelScreeningSCCP&)> configure;
  std::function<PXSCCP_Packet(Begin&)> make;
  PXSccpScreening_result expected;
  PXScreeningDecider decider;
};

// Every field set to what no screening writes.
PXSccpScreeningTrace dirtyTrace() {
  PXSccpScreeningTrace t;
  constexpr auto junk = static_cast<PXSccpScreening_result>(77);
  t.callingAllowed = t.callingDenied = t.calledAllowed = t.calledDenied = junk;
  t.ttAllowed = t.ttDenied = t.fsmAllowed = t.fsmDenied = t.opAllowed = junk;
  t.callingResult = t.calledResult = t.ttResult = t.opResult = t.fsmResult = junk;
  t.walked = true;
  t.deniedComponent = 9;
  t.deniedOperationCode = 99;
  t.deniedGlobal = true;
  t.decidedBy = static_cast<PXScreeningDecider>(42);
  t.verdict = junk;
  t.setImsi("999999999999999");
  return t;
}

void expectSameTrace(const PXSccpScreeningTrace& a, const PXSccpScreeningTrace& b,
                     const std::string& name) {
  const auto fields = [](const PXSccpScreeningTrace& t) {
    return std::tuple(t.callingAllowed, t.callingDenied, t.calledAllowed, t.calledDenied,
                      t.ttAllowed, t.ttDenied, t.fsmAllowed, t.fsmDenied, t.opAllowed,
                      t.callingResult, t.calledResult, t.ttResult, t.opResult, t.fsmResult,
                      t.walked, t.deniedComponent, t.deniedOperationCode, t.deniedGlobal,
                      t.decidedBy, t.verdict, t.imsi());
  };
  EXPECT_TRUE(fields(a) == fields(b)) << name << ": a reused trace differs from a fresh one";
}

void runCases(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    QelScreeningSCCP f;
    c.configure(f);
    Begin storage;
    const PXSCCP_Packet p = c.make(storage);
    const auto before = std::make_shared<const PXError>("x", 1, nullptr);
    PXErrorRef err = before;
    EXPECT_EQ(f.screenSccpPacketInbound(&p, &err), c.expected) << c.name;
    EXPECT_EQ(err, before) << c.name;
    PXSccpScreeningTrace trace;
    EXPECT_EQ(f.screenSccpPacketInboundExplained(&p, nullptr, trace), c.expected) << c.name;
    EXPECT_EQ(trace.verdict, c.expected) << c.name;
    EXPECT_EQ(trace.decidedBy, c.decider)
        << c.name << ": decided by " << px::deciderName(trace.decidedBy);
    // A trace left over from other screenings comes back as a fresh one would.
    PXSccpScreeningTrace reused = dirtyTrace();
    f.screenSccpPacketInboundExplained(&p, nullptr, reused);
    expectSameTrace(reused, trace, c.name);
  }
}

const Address kSwissMobile{.nai = 4, .npi = 1, .tt = 0, .digits = "41791234567"};

PXSCCP_Packet callingOnly(const Address& a) {
  return packet(a, std::nullopt);
}

TEST(InboundAddresses, NumberingPlanAndNatureOfAddressChooseTheLists) {
  const auto allowE164 = [](QelScreeningSCCP& f) {
    f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
  };
  const auto denyE164 = [](QelScreeningSCCP& f) {
    f.setDeniedCallingSccpPrefixE164(px::makeList({"4179"}));
  };
  runCases({
      {"E.164 international, allowed prefix", allowE164,
       [](Begin&) { return callingOnly(kSwissMobile); }, EP, PXScreeningDecider::calling},
      {"E.164 international, allowed and denied",
       [](QelScreeningSCCP& f) {
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
         f.setDeniedCallingSccpPrefixE164(px::makeList({"417912"}));
       },
       [](Begin&) { return callingOnly(kSwissMobile); }, ED, PXScreeningDecider::calling},
      {"national number is not screened", denyE164,
       [](Begin&) { return callingOnly({.nai = 3, .npi = 1, .digits = "41791234567"}); }, UN,
       PXScreeningDecider::none},
      {"subscriber number is not screened", denyE164,
       [](Begin&) { return callingOnly({.nai = 1, .npi = 1, .digits = "41791234567"}); }, UN,
       PXScreeningDecider::none},
      {"nature of address 0 is not screened", denyE164,
       [](Begin&) { return callingOnly({.nai = 0, .npi = 1, .digits = "41791234567"}); }, UN,
       PXScreeningDecider::none},
      {"E.212 address ignores the E.164 lists", denyE164,
       [](Begin&) { return callingOnly({.nai = 4, .npi = 6, .digits = "41791234567"}); }, UN,
       PXScreeningDecider::none},
      {"E.212 address uses the E.212 lists",
       [](QelScreeningSCCP& f) { f.setDeniedCallingSccpPrefixE212(px::makeList({"22801"})); },
       [](Begin&) { return callingOnly({.nai = 4, .npi = 6, .digits = "228011234"}); }, ED,
       PXScreeningDecider::calling},
      {"E.214 address uses the E.214 lists",
       [](QelScreeningSCCP& f) { f.setAllowedCallingSccpPrefixE214(px::makeList({"4179"})); },
       [](Begin&) { return callingOnly({.nai = 4, .npi = 7, .digits = "41791234"}); }, EP,
       PXScreeningDecider::calling},
      {"E.214 lists do not serve E.164",
       [](QelScreeningSCCP& f) { f.setAllowedCallingSccpPrefixE214(px::makeList({"4179"})); },
       [](Begin&) { return callingOnly(kSwissMobile); }, UN, PXScreeningDecider::none},
      {"numbering plan 2 is not screened", denyE164,
       [](Begin&) { return callingOnly({.nai = 4, .npi = 2, .digits = "41791234567"}); }, UN,
       PXScreeningDecider::none},
      {"absent numbering plan reads 0", denyE164,
       [](Begin&) {
         PXSCCP_Packet p;
         p.mutableCallingPartyAddress().setNai(4).setAddress("4179");
         return p;
       },
       UN, PXScreeningDecider::none},
      {"absent digits match nothing", denyE164,
       [](Begin&) { return callingOnly({.nai = 4, .npi = 1}); }, UN, PXScreeningDecider::none},
      {"called E.164 denied",
       [](QelScreeningSCCP& f) { f.setDeniedCalledSccpPrefixE164(px::makeList({"882"})); },
       [](Begin&) { return packet(std::nullopt, Address{.digits = "88234"}); }, ED,
       PXScreeningDecider::called},
      {"called lists do not screen the calling address",
       [](QelScreeningSCCP& f) { f.setDeniedCalledSccpPrefixE164(px::makeList({"4179"})); },
       [](Begin&) { return callingOnly(kSwissMobile); }, UN, PXScreeningDecider::none},
      {"called E.212 allowed",
       [](QelScreeningSCCP& f) { f.setAllowedCalledSccpPrefixE212(px::makeList({"228"})); },
       [](Begin&) { return packet(std::nullopt, Address{.npi = 6, .digits = "22801"}); }, EP,
       PXScreeningDecider::called},
      {"called E.214 denied",
       [](QelScreeningSCCP& f) { f.setDeniedCalledSccpPrefixE214(px::makeList({"228"})); },
       [](Begin&) { return packet(std::nullopt, Address{.npi = 7, .digits = "22801"}); }, ED,
       PXScreeningDecider::called},
  });
}

TEST(InboundDefaults, DefaultsApplyWhenNoAllowedListMatched) {
  runCases({
      {"nothing configured", [](QelScreeningSCCP&) {},
       [](Begin&) { return packet(kSwissMobile, kSwissMobile); }, UN, PXScreeningDecider::none},
      {"allow default alone, no addresses",
       [](QelScreeningSCCP& f) { f.setDefaultAllowCalling(1); },
       [](Begin&) { return packet(std::nullopt, std::nullopt); }, IP, PXScreeningDecider::calling},
      {"deny default with allowed match",
       [](QelScreeningSCCP& f) {
         f.setDefaultDenyCalling(1);
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
       },
       [](Begin&) { return callingOnly(kSwissMobile); }, EP, PXScreeningDecider::calling},
      {"deny default, other calling address",
       [](QelScreeningSCCP& f) {
         f.setDefaultDenyCalling(1);
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
       },
       [](Begin&) { return callingOnly({.digits = "33612"}); }, ID, PXScreeningDecider::calling},
      {"deny default, no calling address",
       [](QelScreeningSCCP& f) {
         f.setDefaultDenyCalling(1);
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
       },
       [](Begin&) { return packet(std::nullopt, kSwissMobile); }, ID, PXScreeningDecider::calling},
      {"deny default outranks allow default",
       [](QelScreeningSCCP& f) {
         f.setDefaultDenyCalling(1);
         f.setDefaultAllowCalling(1);
       },
       [](Begin&) { return callingOnly(kSwissMobile); }, ID, PXScreeningDecider::calling},
      {"allow default outranks an explicit match elsewhere",
       [](QelScreeningSCCP& f) {
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
         f.setDefaultAllowCalled(1);
       },
       [](Begin&) { return packet(kSwissMobile, Address{.digits = "33"}); }, IP,
       PXScreeningDecider::called},
      {"called deny default beats a calling match",
       [](QelScreeningSCCP& f) {
         f.setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
         f.setDefaultDenyCalled(1);
       },
       [](Begin&) { return packet(kSwissMobile, Address{.digits = "33"}); }, ID,
       PXScreeningDecider::called},
      {"tt allow default applies to every packet",
       [](QelScreeningSCCP& f) { f.setDefaultAllowTT(1); },
       [](Begin&) { return packet(std::nullopt, std::nullopt); }, IP, PXScreeningDecider::tt},
      {"explicit denial beats every default",
       [](QelScreeningSCCP& f) {
         f.setDefaultAllowCalling(1);
         f.setDefaultAllowCalled(1);
         f.setDefaultAllowTT(1);
         f.setDeniedCalledSccpPrefixE164(px::makeList({"41"}));
       },
       [](Begin&) { return packet(kSwissMobile, kSwissMobile); }, ED, PXScreeningDecider::called},
  });
}

TEST(InboundTranslationType, EveryPacketIsScreenedOnTheCalledTranslationType) {
  runCases({
      {"tt in both lists",
       [](QelScreeningSCCP& f) {
         f.setAllowedTT(px::makeList({10}));
         f.setDeniedTT(px::makeList({10}));
       },
       [](Begin&) { return packet(std::nullopt, Address{.tt = 10}); }, ED, PXScreeningDecider::tt},
      {"no called address reads tt 0",
       [](QelScreeningSCCP& f) { f.setDeniedTT(px::makeList({0})); },
       [](Begin&) { return packet(kSwissMobile, std::nullopt); }, ED, PXScreeningDecider::tt},
      {"absent tt reads 0", [](QelScreeningSCCP& f) { f.setAllowedTT(px::makeList({"0"})); },
       [](Begin&) { return packet(std::nullopt, Address{.tt = std::nullopt}); }, EP,
       PXScreeningDecider::tt},
      {"tt of a national called address is screened",
       [](QelScreeningSCCP& f) { f.setAllowedTT(px::makeList({0})); },
       [](Begin&) { return packet(std::nullopt, Address{.nai = 3, .npi = 0}); }, EP,
       PXScreeningDecider::tt},
      {"calling tt is not screened", [](QelScreeningSCCP& f) { f.setDeniedTT(px::makeList({9})); },
       [](Begin&) { return packet(Address{.tt = 9}, Address{.tt = 0}); }, UN,
       PXScreeningDecider::none},
      {"op permit with tt deny default",
       [](QelScreeningSCCP& f) {
         f.setAllowedOP(px::makeList({45}));
         f.setDefaultDenyTT(1);
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, Address{.tt = 3});
         b.addInvoke(p, 45);
         return p;
       },
       ID, PXScreeningDecider::tt},
  });
}

TEST(InboundWalk, OperationCodesAndForwardSmImsis) {
  runCases({
      {"no list: the walk does not run", [](QelScreeningSCCP&) {},
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 2);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"only an empty allowedOP: nothing hits",
       [](QelScreeningSCCP& f) { f.setAllowedOP(px::makeList({})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 2);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"only allowedOP, no Begin", [](QelScreeningSCCP& f) { f.setAllowedOP(px::makeList({2})); },
       [](Begin&) { return packet(kSwissMobile, kSwissMobile); }, UN, PXScreeningDecider::none},
      {"code in both lists",
       [](QelScreeningSCCP& f) {
         f.setAllowedOP(px::makeList({2}));
         f.setDeniedOP(px::makeList({2}));
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 2);
         return p;
       },
       ED, PXScreeningDecider::deniedOperation},
      {"denied code after an allowed one",
       [](QelScreeningSCCP& f) {
         f.setAllowedOP(px::makeList({45}));
         f.setDeniedOP(px::makeList({70}));
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 45);
         b.addInvoke(p, 70);
         return p;
       },
       ED, PXScreeningDecider::deniedOperation},
      {"opAllowed is never reset", [](QelScreeningSCCP& f) { f.setAllowedOP(px::makeList({45})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 45);
         b.addInvoke(p, 99);
         return p;
       },
       EP, PXScreeningDecider::allowedOperation},
      {"denied operation outranks every permit",
       [](QelScreeningSCCP& f) {
         f.setAllowedCallingSccpPrefixE164(px::makeList({"41"}));
         f.setDefaultAllowTT(1);
         f.setDeniedOP(px::makeList({"71"}));
       },
       [](Begin& b) {
         auto p = packet(kSwissMobile, kSwissMobile);
         b.addInvoke(p, 71);
         return p;
       },
       ED, PXScreeningDecider::deniedOperation},
      {"global code is compared with the global lists only",
       [](QelScreeningSCCP& f) { f.setAllowedOP(px::makeList({70})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 70, true);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"denied local list ignores a global code",
       [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({70})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 70, true);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"denied global code", [](QelScreeningSCCP& f) { f.setDeniedGOP(px::makeList({70})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 70, true);
         return p;
       },
       ED, PXScreeningDecider::deniedOperation},
      {"allowed global code", [](QelScreeningSCCP& f) { f.setAllowedGOP(px::makeList({3})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 3, true);
         return p;
       },
       EP, PXScreeningDecider::allowedOperation},
      {"entry -1 hits only -1", [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({-1})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 0xFFFFFFFFLL);
         b.addInvoke(p, 255);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"entry -1 hits -1", [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({-1})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, -1);
         return p;
       },
       ED, PXScreeningDecider::deniedOperation},
      {"text 4294967342 does not deny 46",
       [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({"4294967342"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 46);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"component without operation code only gets the ForwardSM step",
       [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({0})); },
       [](Begin&) {
         auto p = packet(std::nullopt, std::nullopt);
         p.mutableTcap().mutableComponentPortion().add(
             PXTCAP_itu_asn1_componentPDU(PXTCAP_ComponentKind::returnError));
         return p;
       },
       UN, PXScreeningDecider::none},
      {"a Continue is not walked", [](QelScreeningSCCP& f) { f.setDeniedOP(px::makeList({2})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 2);
         p.mutableTcap().setMessageType(PXTCAP_MessageType::continue_);
         return p;
       },
       UN, PXScreeningDecider::none},
  });
}

TEST(InboundWalk, ForwardSmImsi) {
  runCases({
      {"MO-ForwardSM to a denied IMSI",
       [](QelScreeningSCCP& f) { f.setDeniedFSM_IMSI_PREFIX(px::makeList({"22801"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         return p;
       },
       ED, PXScreeningDecider::fsm},
      {"denied IMSI outranks an allowed calling match",
       [](QelScreeningSCCP& f) {
         f.setAllowedCallingSccpPrefixE164(px::makeList({"41"}));
         f.setDeniedFSM_IMSI_PREFIX(px::makeList({"22801"}));
       },
       [](Begin& b) {
         auto p = packet(kSwissMobile, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         return p;
       },
       ED, PXScreeningDecider::fsm},
      {"the last ForwardSM decides",
       [](QelScreeningSCCP& f) { f.setDeniedFSM_IMSI_PREFIX(px::makeList({"22801"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         b.addForwardSM(p, 44, 0x80, "26201123456789");
         return p;
       },
       UN, PXScreeningDecider::none},
      {"a later ForwardSM without IMSI resets",
       [](QelScreeningSCCP& f) { f.setAllowedFSM_IMSI_PREFIX(px::makeList({"22801"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         b.addForwardSM(p, 44, 0x84, "");
         return p;
       },
       UN, PXScreeningDecider::none},
      {"MT-ForwardSM to an allowed IMSI",
       [](QelScreeningSCCP& f) { f.setAllowedFSM_IMSI_PREFIX(px::makeList({"22801"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 44, 0x80, "22801123456789");
         return p;
       },
       EP, PXScreeningDecider::fsm},
      {"odd IMSI with filler",
       [](QelScreeningSCCP& f) { f.setDeniedFSM_IMSI_PREFIX(px::makeList({"228011234567890"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         return p;
       },
       ED, PXScreeningDecider::fsm},
      {"service centre address in SM-RP-DA",
       [](QelScreeningSCCP& f) {
         f.setAllowedFSM_IMSI_PREFIX(px::makeList({""}));
         f.setDeniedFSM_IMSI_PREFIX(px::makeList({"9"}));
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 44, 0x84, "");
         return p;
       },
       UN, PXScreeningDecider::none},
      {"lmsi and noSM-RP-DA carry no IMSI",
       [](QelScreeningSCCP& f) {
         f.setDeniedFSM_IMSI_PREFIX(px::makeList({"0", "1", "9"}));
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x81, "");
         b.addForwardSM(p, 46, 0x85, "");
         return p;
       },
       UN, PXScreeningDecider::none},
      {"ForwardSM without parameter",
       [](QelScreeningSCCP& f) { f.setDeniedFSM_IMSI_PREFIX(px::makeList({"2"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 46);
         return p;
       },
       UN, PXScreeningDecider::none},
      {"a global code 46 is a ForwardSM too",
       [](QelScreeningSCCP& f) { f.setDeniedFSM_IMSI_PREFIX(px::makeList({"22801"})); },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         auto& c = const_cast<PXTCAP_itu_asn1_componentPDU&>(
             p.tcapMessage()->componentPortion()->arrayOfComponents().back());
         c.setGlobalOperationCode(46);
         return p;
       },
       ED, PXScreeningDecider::fsm},
      {"IMSI lists alone open the gate; ops still screened",
       [](QelScreeningSCCP& f) {
         f.setAllowedFSM_IMSI_PREFIX(px::makeList({}));
         f.setAllowedOP(px::makeList({46}));
       },
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         return p;
       },
       EP, PXScreeningDecider::allowedOperation},
  });
}

TEST(InboundDecision, ScreeningAnAbsentPacketReadsAsNothing) {
  QelScreeningSCCP f;
  f.setDeniedTT(px::makeList({0}));
  EXPECT_EQ(f.screenSccpPacketInbound(nullptr, nullptr), ED);
  f.setDeniedTT(nullptr);
  f.setAllowedOP(px::makeList({2}));
  EXPECT_EQ(f.screenSccpPacketInbound(nullptr, nullptr), UN);
}

}  // namespace

namespace {

struct ImsiCase {
  const char* name;
  std::function<PXSCCP_Packet(Begin&)> make;
  std::optional<std::string_view> imsi;
};

// The trace names the IMSI the lists were matched against, and nothing the
// walk did not read.
TEST(InboundWalk, TheTraceCarriesTheImsiScreeningRead) {
  const std::vector<ImsiCase> cases = {
      {"MT-ForwardSM in a Begin",
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 44, 0x80, "228011234567890");
         return p;
       },
       "228011234567890"},
      {"the last ForwardSM, even without an IMSI",
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         b.addForwardSM(p, 46, 0x84, "41791234567");
         return p;
       },
       std::nullopt},
      {"a Unidirectional is not walked",
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addForwardSM(p, 46, 0x80, "228011234567890");
         p.mutableTcap().setMessageType(PXTCAP_MessageType::unidirectional);
         return p;
       },
       std::nullopt},
      {"no ForwardSM",
       [](Begin& b) {
         auto p = packet(std::nullopt, std::nullopt);
         b.addInvoke(p, 45);
         return p;
       },
       std::nullopt},
  };
  for (const auto& c : cases) {
    QelScreeningSCCP f;
    f.setDeniedFSM_IMSI_PREFIX(px::makeList({"9"}));
    Begin storage;
    const PXSCCP_Packet p = c.make(storage);
    PXSccpScreeningTrace trace;
    f.screenSccpPacketInboundExplained(&p, nullptr, trace);
    EXPECT_EQ(trace.imsi(), c.imsi) << c.name;
  }
  // Without an IMSI list or operation list the walk does not run: no IMSI.
  QelScreeningSCCP f;
  Begin storage;
  const PXSCCP_Packet p = cases[0].make(storage);
  PXSccpScreeningTrace trace;
  f.screenSccpPacketInboundExplained(&p, nullptr, trace);
  EXPECT_EQ(trace.imsi(), std::nullopt);
}

}  // namespace
