// The filter's operations as a host reaches them: through PXSccpScreeningFilter,
// found with dynamic_cast on the PXPlugin that plugin_create hands out.
#include <gtest/gtest.h>

#include <memory>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"
#include "px/ScreeningFilter.hpp"

namespace {

constexpr auto P = PXSccpScreening_explicitlyPermitted;
constexpr auto D = PXSccpScreening_explicitlyDenied;
constexpr auto U = PXSccpScreening_undefined;

struct Host {
  std::shared_ptr<PXPlugin> plugin = std::make_shared<QelScreeningSCCP>();
  PXSccpScreeningFilter* filter = dynamic_cast<PXSccpScreeningFilter*>(plugin.get());
  PXMTP3SCCPScreeningPluginProtocol* protocol =
      dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(plugin.get());
};

TEST(FilterInterface, ReachedFromThePluginBase) {
  Host h;
  ASSERT_NE(h.filter, nullptr);
  ASSERT_NE(h.protocol, nullptr);
  EXPECT_EQ(h.filter->filterName(), "qel-screening-sccp");
  EXPECT_EQ(h.filter->filterDescription(), "QEL SCCP Screening Filter");
}

// What is set through the interface is what the screening reads.
TEST(FilterInterface, SettersChangeTheVerdict) {
  Host h;
  auto p = qeltest::packet(qeltest::Address{.digits = "4179123"}, qeltest::Address{.digits = "49"});
  EXPECT_EQ(h.protocol->screenSccpPacketInbound(&p, nullptr), U);
  h.filter->setDefaultDenyCalling(2);
  EXPECT_EQ(h.protocol->screenSccpPacketInbound(&p, nullptr), PXSccpScreening_implicitlyDenied);
  h.filter->setAllowedCallingSccpPrefixE164(px::makeList({"4179"}));
  EXPECT_EQ(h.protocol->screenSccpPacketInbound(&p, nullptr), P);
  h.filter->setDeniedCallingSccpPrefixE164(px::makeList({"41791"}));
  EXPECT_EQ(h.protocol->screenSccpPacketInbound(&p, nullptr), D);
  h.filter->setDeniedCallingSccpPrefixE164(nullptr);
  h.filter->setDeniedTT(px::makeList({0}));
  EXPECT_EQ(h.protocol->screenSccpPacketInbound(&p, nullptr), D);
}

// The virtual matchers give what the decision's inline ones give.
TEST(FilterInterface, MatchersAgreeWithTheDecisionsOwn) {
  Host h;
  const auto list = px::makeList({"262", "4179", 46, "-1"});
  for (const char* v : {"", "2", "262", "26201", "4179", "417", "46", "x"}) {
    EXPECT_EQ(h.filter->screenNumber(v, list, D), qel::screenNumber(v, list, D)) << v;
    EXPECT_EQ(h.filter->screenFSM(v, list, P), qel::screenFSM(v, list, P)) << v;
  }
  EXPECT_EQ(h.filter->screenNumber(std::nullopt, list, D), U);
  for (std::int32_t v : {0, 46, -1, 262, 4179, 47}) {
    EXPECT_EQ(h.filter->screenTT(v, list, P), qel::screenTT(v, list, P)) << v;
  }
  EXPECT_EQ(h.filter->screenTT(46, list, P), P);
  EXPECT_EQ(h.filter->screenTT(46, nullptr, P), U);
}

TEST(FilterInterface, ConstantHooksLeaveTheErrorPlace) {
  Host h;
  auto before = std::make_shared<const PXError>("host", 7, nullptr);
  auto p = qeltest::packet(qeltest::Address{.digits = "4179"}, qeltest::Address{.digits = "49"});
  h.filter->setDefaultDenyCalling(1);
  for (const PXSCCP_Packet* packet :
       {static_cast<const PXSCCP_Packet*>(&p), static_cast<const PXSCCP_Packet*>(nullptr)}) {
    PXErrorRef err = before;
    EXPECT_EQ(h.filter->screenSccpPacketOutbound(packet, &err), U);
    EXPECT_EQ(h.filter->screenSccpPacketInboundGsmmap(packet, &err), U);
    EXPECT_EQ(h.filter->screenSccpPacketInboundTcap(packet, &err), U);
    EXPECT_EQ(err, before);
  }
}

}  // namespace
