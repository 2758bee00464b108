// ConfigRules.hpp on its own: the truth value of texts and what one value does
// to its key's field, without a file or a filter.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "ConfigRules.hpp"
#include "px/Config.hpp"

namespace {

TEST(TextTruth, IsTrueByItsFirstSignificantCharacter) {
  struct Case {
    const char* text;
    bool truth;
  } cases[] = {
      {"1", true},      {"yes", true},   {"Y", true},      {"true", true}, {"T", true},
      {"  +007", true}, {"-1", true},    {"9lives", true}, {"", false},    {"0", false},
      {"000", false},   {"no", false},   {"false", false}, {"on", false},  {"enabled", false},
      {"0.5", false},   {" 0x1", false}, {"\t-+0y", true}, {"off", false}, {"N", false},
  };
  for (auto c : cases) EXPECT_EQ(qel::textTruth(c.text), c.truth) << '"' << c.text << '"';
}

const qel::ConfigKey& keyOf(std::string_view name) {
  const qel::ConfigKey* k = qel::findConfigKey(name);
  if (!k) ADD_FAILURE() << "no key " << name;
  return k ? *k : qel::kConfigKeys.front();
}

TEST(ApplyConfigValue, FollowsTheThreeRules) {
  const qel::ConfigKey& prefix = keyOf("deny-called-sccp-prefix-e164");
  const qel::ConfigKey& number = keyOf("denied-operation");
  const qel::ConfigKey& flag = keyOf("default-deny-tt");
  PXValue text("4179"), integer(std::int64_t{45}), list(px::makeList({"1", 2}));
  PXValue empty(px::makeList({})), nested(px::makeList({px::makeList({1})})), other(PXOther{});
  auto applies = [](const qel::ConfigKey& k, const PXValue& v) {
    qel::RuleSet rules;
    return qel::applyConfigValue(k, v, rules);
  };
  EXPECT_TRUE(applies(prefix, text));
  EXPECT_FALSE(applies(prefix, integer));
  EXPECT_TRUE(applies(number, integer));
  EXPECT_FALSE(applies(number, text));
  EXPECT_TRUE(applies(number, empty));
  EXPECT_FALSE(applies(flag, empty));
  EXPECT_FALSE(applies(flag, nested));
  EXPECT_FALSE(applies(flag, other));

  qel::RuleSet rules;
  qel::applyConfigValue(prefix, list, rules);
  EXPECT_EQ(rules.*prefix.list, list.list()) << "the value's own list";
  qel::applyConfigValue(flag, integer, rules);
  EXPECT_EQ(rules.*flag.flag, 1);
  qel::applyConfigValue(flag, px::makeList({"0", 1}), rules);  // the first element decides
  EXPECT_EQ(rules.*flag.flag, 0);
  qel::applyConfigValue(flag, list, rules);
  EXPECT_EQ(rules.*flag.flag, 1);
  qel::applyConfigValue(flag, other, rules);  // ignored: the flag keeps its value
  EXPECT_EQ(rules.*flag.flag, 1);
}

TEST(ConfigKeys, EachKeyFillsADistinctField) {
  for (std::size_t i = 0; i < qel::kConfigKeys.size(); ++i) {
    const qel::ConfigKey& a = qel::kConfigKeys[i];
    EXPECT_EQ(a.rule == qel::ConfigRule::flag, a.flag != nullptr) << a.key;
    EXPECT_EQ(a.rule != qel::ConfigRule::flag, a.list != nullptr) << a.key;
    EXPECT_EQ(qel::findConfigKey(a.key), &a);
    for (std::size_t j = i + 1; j < qel::kConfigKeys.size(); ++j) {
      const qel::ConfigKey& b = qel::kConfigKeys[j];
      EXPECT_NE(a.key, b.key);
      if (a.list && b.list) {
        EXPECT_NE(a.list, b.list) << a.key << " and " << b.key;
      }
      if (a.flag && b.flag) {
        EXPECT_NE(a.flag, b.flag) << a.key << " and " << b.key;
      }
    }
  }
  EXPECT_EQ(qel::findConfigKey("allowed-tt "), nullptr);
}

// The rule table is the one source of the keys, so their spelling is checked
// against what users read: the commented example and the reference.
TEST(ConfigKeys, AreTheKeysOfTheExampleAndOfTheReference) {
  PXConfig example(std::string(QEL_SOURCE_DIR) + "/examples/screening.toml");
  example.allowSingleGroup(qel::kScreeningGroup);
  ASSERT_TRUE(example.read().ok());
  const PXDictionaryRef group = example.getSingleGroup(qel::kScreeningGroup);
  ASSERT_NE(group, nullptr);
  std::set<std::string, std::less<>> exampleKeys;
  for (const auto& [key, value] : group->entries()) exampleKeys.insert(key);
  std::set<std::string, std::less<>> tableKeys;
  for (const qel::ConfigKey& k : qel::kConfigKeys) tableKeys.emplace(k.key);
  EXPECT_EQ(tableKeys, exampleKeys);

  std::ifstream in(std::string(QEL_SOURCE_DIR) + "/docs/configuration.md");
  const std::string reference((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(reference.empty());
  for (const qel::ConfigKey& k : qel::kConfigKeys) {
    EXPECT_NE(reference.find("`" + std::string(k.key) + "`"), std::string::npos) << k.key;
  }
}

TEST(ConfigKeys, OnlyOperationAndImsiListsOpenTheWalk) {
  for (const qel::ConfigKey& k : qel::kConfigKeys) {
    if (!k.list) continue;
    qel::RuleSet rules;
    EXPECT_FALSE(qel::walkGateOpen(rules));
    rules.*k.list = px::makeList({});
    const bool opens = k.key.find("operation") != std::string_view::npos ||
                       k.key.find("fsm-imsi") != std::string_view::npos;
    EXPECT_EQ(qel::walkGateOpen(rules), opens) << k.key;
  }
}

}  // namespace
