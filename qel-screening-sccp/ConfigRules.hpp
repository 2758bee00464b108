// How the "sccp-screening" group of a configuration file fills a RuleSet: the
// 26 keys in the order they are applied, the field each one fills, and what a
// value of each kind does to that field.
//
// Header-only and free of anything but the host's value types, so that a host
// tool can show what a file does to the rules by the very code the filter
// runs, without linking the filter.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "NumberEntry.hpp"
#include "RuleSet.hpp"
#include "px/Value.hpp"

namespace qel {

inline constexpr std::string_view kScreeningGroup = "sccp-screening";
// Declared to the reader as well, but never read by this filter.
inline constexpr std::string_view kMtp3ScreeningGroup = "mtp3-screening";

// One key of the group and the field it fills: `list` for the list rules,
// `flag` for the flag rule.
struct ConfigKey {
  std::string_view key;
  ConfigRule rule;
  PXListRef RuleSet::*list = nullptr;
  std::uint8_t RuleSet::*flag = nullptr;
};

namespace config_detail {
constexpr ConfigKey configKey(std::string_view key, ConfigRule rule, PXListRef RuleSet::*list) {
  return {key, rule, list, nullptr};
}
constexpr ConfigKey configKey(std::string_view key, ConfigRule rule, std::uint8_t RuleSet::*flag) {
  return {key, rule, nullptr, flag};
}
}  // namespace config_detail

// In the order of processing. The address and default keys say "allow"/"deny",
// the IMSI, operation and translation-type keys "allowed"/"denied".
inline constexpr std::array<ConfigKey, kRuleCount> kConfigKeys = {{
#define QEL_CONFIG_KEY(rule, key, getter, setter, opensWalk, A) \
  config_detail::configKey(key, ConfigRule::rule, &RuleSet::_##getter),
    QEL_RULES(QEL_CONFIG_KEY, _)
#undef QEL_CONFIG_KEY
}};

// The entry of kConfigKeys for `key`, or nullptr when the group has no such key.
constexpr const ConfigKey* findConfigKey(std::string_view key) {
  for (const ConfigKey& k : kConfigKeys) {
    if (k.key == key) return &k;
  }
  return nullptr;
}

// A text is true when its first character that is not blank, a sign or the
// digit 0 is a digit 1-9 or one of Y, y, T, t ("yes", " +1", "true", "007").
constexpr bool textTruth(std::string_view text) {
  for (const char c : text) {
    if (isBlank(c) || c == '+' || c == '-' || c == '0') continue;
    return (c >= '1' && c <= '9') || c == 'Y' || c == 'y' || c == 'T' || c == 't';
  }
  return false;
}

// The truth value of a number or a text; none for any other kind.
inline std::optional<std::uint8_t> valueTruth(const PXValue& value) {
  if (const std::int64_t* n = value.integer()) return *n != 0;
  if (const double* d = value.real()) return *d != 0.0;
  if (const std::string* s = value.text()) return textTruth(*s);
  return std::nullopt;
}

// Stores what `value` means under `key` in its field of `rules`. A value of a
// kind the key ignores leaves the field as it was; the result says whether the
// field was assigned. A list is stored as the very list object of the value.
inline bool applyConfigValue(const ConfigKey& key, const PXValue& value, RuleSet& rules) {
  switch (key.rule) {
    case ConfigRule::prefixList:
    case ConfigRule::numberList: {
      const bool single = key.rule == ConfigRule::prefixList ? value.isText() : value.isNumber();
      if (single) {
        rules.*key.list = px::makeList({value});
      } else if (value.isList()) {
        rules.*key.list = value.list();
      } else {
        return false;
      }
      return true;
    }
    case ConfigRule::flag: {
      std::optional<std::uint8_t> truth = valueTruth(value);
      if (!truth && value.isList() && !value.list()->empty())
        truth = valueTruth(value.list()->front());
      if (!truth) return false;
      rules.*key.flag = *truth;
      return true;
    }
  }
  return false;
}

// Applies every key of the group that is present, in table order; fields of
// absent keys keep their values.
inline void applyConfigGroup(const PXDictionary& group, RuleSet& rules) {
  for (const ConfigKey& k : kConfigKeys) {
    if (const PXValue* value = group.find(k.key)) applyConfigValue(k, *value, rules);
  }
}

}  // namespace qel
