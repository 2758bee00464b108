// Reading through absent objects: every link of a chain may be missing.
#include <gtest/gtest.h>

#include "px/Maybe.hpp"
#include "px/map/ForwardSM.hpp"
#include "px/sccp/SccpPacket.hpp"

namespace {

TEST(Maybe, AChainThroughAbsentLinksYieldsEmptyValues) {
  const PXSCCP_Packet* none = nullptr;
  const auto components = px::maybe(none)
                              .then(&PXSCCP_Packet::incomingTcapBegin)
                              .then(&PXTCAP_itu_asn1_begin::componentPortion)
                              .then(&PXTCAP_itu_asn1_componentPortion::arrayOfComponents);
  EXPECT_TRUE(components.empty());
  EXPECT_EQ(px::maybe(none)
                .then(&PXSCCP_Packet::incomingCalledPartyAddress)
                .then(&SccpAddress::tt)
                .then(&SccpTranslationTableNumber::tt),
            0);
  EXPECT_EQ(px::maybe(none).then(&PXSCCP_Packet::incomingCallingPartyAddress).then(
                &SccpAddress::address),
            std::nullopt);
}

TEST(Maybe, EachMissingLinkEndsTheChain) {
  PXSCCP_Packet p;
  const auto components = [&] {
    return px::maybe(&p)
        .then(&PXSCCP_Packet::incomingTcapBegin)
        .then(&PXTCAP_itu_asn1_begin::componentPortion)
        .then(&PXTCAP_itu_asn1_componentPortion::arrayOfComponents)
        .size();
  };
  EXPECT_EQ(components(), 0u);  // no TCAP
  p.mutableTcap().setMessageType(PXTCAP_MessageType::end);
  EXPECT_EQ(components(), 0u);  // not a Begin
  p.mutableTcap().setMessageType(PXTCAP_MessageType::begin);
  EXPECT_EQ(components(), 0u);  // no component portion
  p.mutableTcap().mutableComponentPortion().add(PXTCAP_itu_asn1_componentPDU::invoke(46));
  EXPECT_EQ(components(), 1u);

  auto& a = p.mutableCalledPartyAddress();
  const auto tt = [&] {
    return px::maybe(&p)
        .then(&PXSCCP_Packet::incomingCalledPartyAddress)
        .then(&SccpAddress::tt)
        .then(&SccpTranslationTableNumber::tt);
  };
  EXPECT_EQ(tt(), 0);
  a.setTt(10);
  EXPECT_EQ(tt(), 10);
}

TEST(Maybe, OptionalArgumentsAndInheritedMembersChain) {
  std::optional<PXGSMMAP_MO_ForwardSM_Arg> none;
  EXPECT_EQ(px::maybe(none)
                .then(&PXGSMMAP_MO_ForwardSM_Arg::sm_RP_DA)
                .then(&PXGSMMAP_SM_RP_DA::imsi)
                .then(&PXGSMMAP_IMSI::imsiValue),
            std::nullopt);
  PXGSMMAP_IMSI imsi;
  ASSERT_TRUE(imsi.setDigits("228011234567890"));
  PXGSMMAP_SM_RP_DA da;
  da.setImsi(imsi);
  std::optional<PXGSMMAP_MO_ForwardSM_Arg> arg(std::in_place, da);
  EXPECT_EQ(px::maybe(arg)
                .then(&PXGSMMAP_MO_ForwardSM_Arg::sm_RP_DA)
                .then(&PXGSMMAP_SM_RP_DA::imsi)
                .then(&PXGSMMAP_IMSI::imsiValue),
            "228011234567890");
  std::optional<PXGSMMAP_MT_ForwardSM_Arg> sc(std::in_place,
                                              PXGSMMAP_SM_RP_DA_Choice::serviceCentreAddressDA);
  EXPECT_EQ(px::maybe(sc)
                .then(&PXGSMMAP_MT_ForwardSM_Arg::sm_RP_DA)
                .then(&PXGSMMAP_SM_RP_DA::imsi)
                .then(&PXGSMMAP_IMSI::imsiValue),
            std::nullopt);
}

}  // namespace
