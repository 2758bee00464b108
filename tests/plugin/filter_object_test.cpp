// The filter object: its constants, accessors, constant hooks and rule-set lifetime.
#include <gtest/gtest.h>

#include "PacketBuilder.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

TEST(FilterObject, NewFilterHasNoRulesAndAnswersUndefined) {
  QelScreeningSCCP f;
  ASSERT_TRUE(f.init());
#define QEL_EXPECT_ABSENT(getter, setter, member) EXPECT_EQ(f.getter(), nullptr) << #getter;
  QEL_RULE_LISTS(QEL_EXPECT_ABSENT)
#undef QEL_EXPECT_ABSENT
#define QEL_EXPECT_FALSE(getter, setter, member) EXPECT_EQ(f.getter(), 0) << #getter;
  QEL_RULE_FLAGS(QEL_EXPECT_FALSE)
#undef QEL_EXPECT_FALSE
  EXPECT_EQ(f.filterName(), "qel-screening-sccp");
  EXPECT_EQ(f.filterDescription(), "QEL SCCP Screening Filter");
  EXPECT_EQ(f.config(), nullptr);
  auto p = qeltest::packet(qeltest::Address{.digits = "4179"}, qeltest::Address{.digits = "49"});
  EXPECT_EQ(f.screenSccpPacketInbound(&p, nullptr), PXSccpScreening_undefined);
  EXPECT_EQ(f.screenSccpPacketInbound(nullptr, nullptr), PXSccpScreening_undefined);
}

TEST(FilterObject, ListSetterStoresTheVeryListAndAbsentClearsIt) {
  QelScreeningSCCP f;
  int index = 0;
#define QEL_ROUND_TRIP(getter, setter, member)           \
  {                                                      \
    auto list = px::makeList({std::to_string(index++)}); \
    f.setter(list);                                      \
    EXPECT_EQ(f.getter().get(), list.get()) << #getter;  \
    auto empty = px::makeList({});                       \
    f.setter(empty);                                     \
    EXPECT_EQ(f.getter().get(), empty.get()) << #getter; \
    f.setter(nullptr);                                   \
    EXPECT_EQ(f.getter(), nullptr) << #getter;           \
    f.setter(list);                                      \
  }
  QEL_RULE_LISTS(QEL_ROUND_TRIP)
#undef QEL_ROUND_TRIP
  // Each setter touched only its own field.
  index = 0;
#define QEL_CHECK_OWN(getter, setter, member) \
  EXPECT_EQ(*f.getter()->front().text(), std::to_string(index++)) << #getter;
  QEL_RULE_LISTS(QEL_CHECK_OWN)
#undef QEL_CHECK_OWN
}

TEST(FilterObject, FlagBytesAreStoredUnchanged) {
  QelScreeningSCCP f;
#define QEL_FLAG_ROUND_TRIP(getter, setter, member) \
  f.setter(2);                                      \
  EXPECT_EQ(f.getter(), 2) << #getter;              \
  f.setter(255);                                    \
  EXPECT_EQ(f.getter(), 255) << #getter;            \
  f.setter(0);                                      \
  EXPECT_EQ(f.getter(), 0) << #getter;
  QEL_RULE_FLAGS(QEL_FLAG_ROUND_TRIP)
#undef QEL_FLAG_ROUND_TRIP
}

TEST(FilterObject, AFlagByteOfTwoCountsAsTrue) {
  QelScreeningSCCP f;
  f.setDefaultAllowCalling(2);
  EXPECT_EQ(f.screenSccpPacketInbound(nullptr, nullptr), PXSccpScreening_implicitlyPermitted);
  f.setDefaultDenyTT(2);
  EXPECT_EQ(f.screenSccpPacketInbound(nullptr, nullptr), PXSccpScreening_implicitlyDenied);
}

TEST(FilterObject, ConstantHooksAnswerUndefinedAndLeaveTheErrorPlaceAlone) {
  QelScreeningSCCP f;
  f.setDefaultDenyCalling(1);
  f.setDeniedOP(px::makeList({46}));
  auto p = qeltest::packet(qeltest::Address{.digits = "4179"}, std::nullopt);
  const auto before = std::make_shared<const PXError>("host", 7, nullptr);
  PXErrorRef err = before;
  for (const PXSCCP_Packet* packet :
       {static_cast<const PXSCCP_Packet*>(&p), static_cast<const PXSCCP_Packet*>(nullptr)}) {
    EXPECT_EQ(f.screenSccpPacketOutbound(packet, &err), PXSccpScreening_undefined);
    EXPECT_EQ(f.screenSccpPacketInboundGsmmap(packet, &err), PXSccpScreening_undefined);
    EXPECT_EQ(f.screenSccpPacketInboundTcap(packet, &err), PXSccpScreening_undefined);
    EXPECT_EQ(f.screenSccpPacketInbound(packet, &err), PXSccpScreening_implicitlyDenied);
    EXPECT_EQ(err, before);
  }
  PXErrorRef none;
  EXPECT_EQ(f.screenSccpPacketInbound(&p, &none), PXSccpScreening_implicitlyDenied);
  EXPECT_EQ(none, nullptr);
}

TEST(FilterObject, CloseChangesNothing) {
  QelScreeningSCCP f;
  const auto list = px::makeList({"4179"});
  f.setAllowedCallingSccpPrefixE164(list);
  f.setDefaultDenyCalled(1);
  auto p = qeltest::packet(qeltest::Address{.digits = "41791234"}, std::nullopt);
  const auto before = f.screenSccpPacketInbound(&p, nullptr);
  f.close();
  EXPECT_EQ(f.screenSccpPacketInbound(&p, nullptr), before);
  EXPECT_EQ(f.allowedCallingSccpPrefixE164(), list);
  EXPECT_EQ(f.defaultDenyCalled(), 1);
}

TEST(RuleSetLifetime, ARetiredSetIsFreedOnceNoScreeningHoldsIt) {
  QelScreeningSCCP f;
  const auto& cell = f.ruleSetCell();
  EXPECT_EQ(cell.liveCount(), 1u);
  f.setAllowedTT(px::makeList({1}));
  // Nobody was reading: the old set went at once.
  EXPECT_EQ(cell.liveCount(), 1u);
  EXPECT_EQ(cell.retiredCount(), 0u);

  {
    auto held = cell.read();  // as a screening in progress would
    f.setAllowedTT(px::makeList({2}));
    EXPECT_EQ(cell.liveCount(), 2u);
    EXPECT_EQ(cell.retiredCount(), 1u);
    EXPECT_EQ(*held->_allowedTT->front().integer(), 1);
  }
  // The next publish frees what nobody holds any more.
  f.setAllowedTT(px::makeList({3}));
  EXPECT_EQ(cell.liveCount(), 1u);
  EXPECT_EQ(cell.retiredCount(), 0u);
}

TEST(RuleSetLifetime, ListsOutliveTheirRuleSetWhileAGetterHoldsThem) {
  QelScreeningSCCP f;
  std::weak_ptr<const PXList> watch;
  PXListRef held;
  {
    auto list = px::makeList({"49"});
    watch = list;
    f.setDeniedCalledSccpPrefixE164(list);
    held = f.deniedCalledSccpPrefixE164();
  }
  f.setDeniedCalledSccpPrefixE164(nullptr);
  ASSERT_FALSE(watch.expired());
  EXPECT_EQ(*held->front().text(), "49");
  held.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
