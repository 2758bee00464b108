// The three list matchers and the integer an entry of a number list carries.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ListMatch.hpp"
#include "QelScreeningSCCP.hpp"

namespace {

constexpr auto P = PXSccpScreening_explicitlyPermitted;
constexpr auto D = PXSccpScreening_explicitlyDenied;
constexpr auto U = PXSccpScreening_undefined;
namespace F = qel;

TEST(PrefixMatcher, AbsentAndEmptyListsNeverHit) {
  EXPECT_EQ(F::screenNumber("491", nullptr, P), U);
  EXPECT_EQ(F::screenNumber("491", px::makeList({}), P), U);
  EXPECT_EQ(F::screenFSM("26201", nullptr, D), U);
}

TEST(PrefixMatcher, HitsWhenValueBeginsWithAnEntry) {
  struct Case {
    const char* name;
    std::optional<std::string_view> value;
    PXListRef list;
    PXSccpScreening_result expected;
  };
  const Case cases[] = {
      {"second of three entries", "491", px::makeList({"44", "49", "491"}), P},
      {"entry longer than value", "49", px::makeList({"491"}), U},
      {"entry equal to value", "491", px::makeList({"491"}), P},
      {"empty entry never hits", "491", px::makeList({""}), U},
      {"empty entry then a hit", "491", px::makeList({"", "4"}), P},
      {"absent value", std::nullopt, px::makeList({"4"}), U},
      {"empty value against an entry", "", px::makeList({"4"}), U},
      {"case-sensitive hex digits", "4a1", px::makeList({"4A"}), U},
      {"hex digits match exactly", "4a1", px::makeList({"4a"}), P},
      {"number entry never hits", "491", px::makeList({491}), U},
      {"number entry 4 never hits", "491", px::makeList({4}), U},
      {"nested list never hits", "491", px::makeList({PXValue(px::makeList({"4"}))}), U},
      {"text with blanks is not trimmed", "491", px::makeList({" 49"}), U},
      {"no partial match in the middle", "1491", px::makeList({"49"}), U},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(F::screenNumber(c.value, c.list, P) == P ? P : U, c.expected) << c.name;
    EXPECT_EQ(F::screenFSM(c.value, c.list, P) == P ? P : U, c.expected) << c.name;
  }
}

// The comparison goes several bytes at a time: every length, and a difference
// at every position of the prefix, must still be seen.
TEST(PrefixMatcher, EveryDifferingPositionOfLongPrefixesIsSeen) {
  const std::string value = "2897900001234567890123";
  for (std::size_t n = 1; n <= value.size(); ++n) {
    const std::string prefix = value.substr(0, n);
    EXPECT_EQ(F::screenNumber(value, px::makeList({prefix}), P), P) << prefix;
    EXPECT_EQ(F::screenNumber(prefix, px::makeList({prefix}), P), P) << prefix;
    EXPECT_EQ(F::screenNumber(prefix.substr(0, n - 1), px::makeList({prefix}), P), U) << prefix;
    for (std::size_t k = 0; k < n; ++k) {
      std::string other = prefix;
      other[k] = other[k] == '9' ? '8' : '9';
      EXPECT_EQ(F::screenNumber(value, px::makeList({other}), P), U) << other;
    }
  }
}

// Lists are scanned several entries per turn: a hit at any position of lists
// of every length up to a few turns is found, and only there.
TEST(PrefixMatcher, AHitIsFoundAtEveryPositionOfTheList) {
  for (int length = 1; length <= 11; ++length) {
    for (int hit = 0; hit < length; ++hit) {
      PXList entries;
      for (int i = 0; i < length; ++i) entries.emplace_back(i == hit ? "2851" : "2852");
      const auto list = std::make_shared<const PXList>(std::move(entries));
      EXPECT_EQ(F::screenNumber("28511234", list, P), P) << length << " " << hit;
      EXPECT_EQ(F::screenNumber("28531234", list, P), U) << length << " " << hit;
    }
  }
}

TEST(NumberMatcher, AHitIsFoundAtEveryPositionOfTheList) {
  for (int length = 1; length <= 11; ++length) {
    for (int hit = 0; hit < length; ++hit) {
      PXList entries;
      for (int i = 0; i < length; ++i) entries.emplace_back(i == hit ? 46 : 100 + i);
      const auto list = std::make_shared<const PXList>(std::move(entries));
      EXPECT_EQ(F::screenTT(46, list, P), P) << length << " " << hit;
      EXPECT_EQ(F::screenTT(45, list, P), U) << length << " " << hit;
    }
  }
}

TEST(PrefixMatcher, ReturnsTheVerdictItIsGiven) {
  const auto list = px::makeList({"49"});
  EXPECT_EQ(F::screenNumber("491", list, D), D);
  EXPECT_EQ(F::screenNumber("441", list, D), U);
  EXPECT_EQ(F::screenNumber("491", list, PXSccpScreening_implicitlyPermitted),
            PXSccpScreening_implicitlyPermitted);
  EXPECT_EQ(F::screenNumber("491", list, PXSccpScreening_errorResult), PXSccpScreening_errorResult);
}

TEST(NumberMatcher, EntriesAreComparedByTheirIntegerValue) {
  struct Case {
    const char* name;
    std::int32_t value;
    PXListRef list;
    bool hit;
  };
  const Case cases[] = {
      {"number entry", 10, px::makeList({10}), true},
      {"text entry of digits", 10, px::makeList({"10"}), true},
      {"text that begins with no number reads 0", 0, px::makeList({"abc"}), true},
      {"empty text reads 0", 0, px::makeList({""}), true},
      {"text with trailing garbage", 10, px::makeList({"10abc"}), true},
      {"leading blanks and sign", -7, px::makeList({"  \t-7"}), true},
      {"plus sign", 7, px::makeList({"+7"}), true},
      {"two signs read 0", 0, px::makeList({"--7"}), true},
      {"two signs are not -7", -7, px::makeList({"--7"}), false},
      {"text too large clamps to INT32_MAX", std::numeric_limits<std::int32_t>::max(),
       px::makeList({"4294967342"}), true},
      {"clamped text never wraps to 46", 46, px::makeList({"4294967342"}), false},
      {"number too large clamps", std::numeric_limits<std::int32_t>::max(),
       px::makeList({std::int64_t{1} << 40}), true},
      {"large number never wraps", 46, px::makeList({std::int64_t{4294967342}}), false},
      {"negative text clamps to INT32_MIN", std::numeric_limits<std::int32_t>::min(),
       px::makeList({"-99999999999999999999"}), true},
      {"double truncates toward zero", 10, px::makeList({10.9}), true},
      {"negative double truncates toward zero", -10, px::makeList({-10.9}), true},
      {"NaN carries no integer", 0, px::makeList({std::nan("")}), false},
      {"something else never hits", 0, px::makeList({PXOther{}}), false},
      {"nested list never hits", 0, px::makeList({PXValue(px::makeList({0}))}), false},
      {"miss", 11, px::makeList({10, "12"}), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(F::screenTT(c.value, c.list, P), c.hit ? P : U) << c.name;
  }
}

TEST(NumberMatcher, SixtyFourBitCodesAreComparedWidened) {
  // A 64-bit operation code equals an entry only through the entry's sign-extended value.
  const auto list = px::makeList({-1});
  EXPECT_TRUE(qel::numberListHits(list.get(), -1));
  EXPECT_FALSE(qel::numberListHits(list.get(), 0xFFFFFFFFLL));
  EXPECT_FALSE(qel::numberListHits(list.get(), 0xFFFFFFFFFFFFLL));
  const auto big = px::makeList({std::int64_t{4294967342}});
  EXPECT_FALSE(qel::numberListHits(big.get(), 4294967342LL));
  EXPECT_FALSE(qel::numberListHits(big.get(), 46));
}

TEST(NumberMatcher, AbsentAndEmptyListsNeverHit) {
  EXPECT_EQ(F::screenTT(0, nullptr, D), U);
  EXPECT_EQ(F::screenTT(0, px::makeList({}), D), U);
  EXPECT_EQ(F::screenTT(0, px::makeList({0}), D), D);
}

}  // namespace
