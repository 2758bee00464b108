// The indexes screening reads must answer exactly as the list scans that
// define the rules: every random list and value, and the edges of both.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "ListIndex.hpp"
#include "ListMatch.hpp"
#include "RuleSetCell.hpp"

namespace {

std::string randomDigits(std::mt19937& rng, std::size_t length) {
  // Few symbols, so that entries and values share prefixes often.
  static constexpr char kSymbols[] = {'2', '8', '9', 'a', '0'};
  std::string s;
  for (std::size_t i = 0; i < length; ++i) s += kSymbols[rng() % std::size(kSymbols)];
  return s;
}

PXValue randomPrefixEntry(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0:
      return PXValue(static_cast<std::int64_t>(rng() % 100));
    case 1:
      return PXValue(px::makeList({randomDigits(rng, 2)}));
    default:
      return PXValue(randomDigits(rng, rng() % 14));  // empty, short, 8 and longer
  }
}

TEST(PrefixIndex, AnswersAsThePrefixScanOnRandomListsAndValues) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 3000; ++round) {
    std::vector<PXValue> entries;
    for (std::size_t n = rng() % 7; n > 0; --n) entries.push_back(randomPrefixEntry(rng));
    const PXListRef list = rng() % 20 ? std::make_shared<const PXList>(entries) : nullptr;
    const qel::PrefixIndex index(list);
    for (int v = 0; v < 40; ++v) {
      // Values made from an entry (equal, longer, one shorter) and at random.
      std::string value = randomDigits(rng, rng() % 17);
      if (list && !list->empty() && rng() % 2) {
        const std::string* text = (*list)[rng() % list->size()].text();
        if (text) value = text->substr(0, text->size() - (rng() % 2 && !text->empty())) + value;
      }
      ASSERT_EQ(index.hits(value), qel::prefixListHits(list.get(), value))
          << "value " << value << " round " << round;
    }
  }
}

TEST(PrefixIndex, EveryEntryLengthAgainstEveryValueLength) {
  const std::string digits = "28979000012345678";
  for (std::size_t n = 0; n <= 12; ++n) {
    const auto list = px::makeList({digits.substr(0, n)});
    const qel::PrefixIndex index(list);
    for (std::size_t m = 0; m <= digits.size(); ++m) {
      std::string value = digits.substr(0, m);
      EXPECT_EQ(index.hits(value), n != 0 && n <= m) << n << " " << m;
      if (!value.empty()) value.back() = 'x';  // differs in its last digit
      EXPECT_EQ(index.hits(value), qel::prefixListHits(list.get(), value)) << n << " " << m;
    }
  }
}

// Texts may hold any byte, NUL included: a short value padded with zeros
// must not meet an entry longer than itself that ends in zeros.
TEST(PrefixIndex, EntriesEndingInNulBytesAreLongerThanTheirDigits) {
  using namespace std::string_literals;
  const auto list = px::makeList({"4\0"s, "49\0\0\0\0\0\0\0"s});
  const qel::PrefixIndex index(list);
  for (const std::string& value : {"4"s, "4\0"s, "49"s, "49\0\0\0\0\0\0"s, "49\0\0\0\0\0\0\0"s})
    EXPECT_EQ(index.hits(value), qel::prefixListHits(list.get(), value)) << value.size();
  EXPECT_FALSE(index.hits("4"));
  EXPECT_TRUE(index.hits("4\0"s));
}

TEST(NumberIndex, AnswersAsTheNumberScanForEveryEntryKind) {
  const double nan = std::nan("");
  const PXListRef lists[] = {
      nullptr,
      px::makeList({}),
      px::makeList({0, 255, 256, -1}),
      px::makeList({"  +17abc", "-3", "x", ""}),
      px::makeList({9.9, -0.5, 255.5, nan, 1e300, -1e300}),
      px::makeList({std::int64_t{4294967342}, std::numeric_limits<std::int64_t>::min()}),
      px::makeList({PXValue(px::makeList({3})), PXOther{}, 3}),
  };
  std::vector<std::int64_t> values = {std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max(),
                                      INT32_MIN,
                                      INT32_MAX,
                                      std::int64_t{INT32_MIN} - 1,
                                      std::int64_t{INT32_MAX} + 1,
                                      4294967342,
                                      0xFFFFFFFFLL};
  for (std::int64_t v = -300; v <= 300; ++v) values.push_back(v);
  for (const auto& list : lists) {
    const qel::NumberIndex index(list);
    for (const std::int64_t v : values)
      EXPECT_EQ(index.hits(v), qel::numberListHits(list.get(), v)) << v;
  }
}

// A setter publishes a set whose index was built from the list it set; the
// lists it did not touch keep theirs.
TEST(RuleSetIndex, FollowsEveryPublishedChange) {
  qel::RuleSetCell cell;
  EXPECT_FALSE(cell.read()->_deniedTTIndex.hits(9));
  cell.update([](qel::RuleSet& r) { r._deniedTT = px::makeList({9}); });
  EXPECT_TRUE(cell.read()->_deniedTTIndex.hits(9));
  const PXList* before = cell.read()->_deniedTTIndex.source();
  cell.update([](qel::RuleSet& r) { r._allowedTT = px::makeList({0}); });
  EXPECT_EQ(cell.read()->_deniedTTIndex.source(), before);
  EXPECT_TRUE(cell.read()->_allowedTTIndex.hits(0));
  cell.update([](qel::RuleSet& r) { r._deniedTT = nullptr; });
  EXPECT_FALSE(cell.read()->_deniedTTIndex.hits(9));
  cell.update([](qel::RuleSet& r) { r._deniedCallingSccpPrefixE164 = px::makeList({"28979"}); });
  EXPECT_TRUE(cell.read()->_deniedCallingSccpPrefixE164Index.hits("289790001"));
}

}  // namespace
