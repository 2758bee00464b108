// The filter's configuration keys with their rule and the filter's accessors
// for the field each one fills, expanded from the rule definition. That the
// keys are spelt as the example and the reference spell them is checked in
// config_rules_test.
#pragma once

#include <array>
#include <cstdint>

#include "QelScreeningSCCP.hpp"

namespace configtest {

using F = QelScreeningSCCP;

enum class Rule { prefix, number, flag };

struct Field {
  const char* key;
  Rule rule;
  PXListRef (F::*getList)() const = nullptr;
  void (F::*setList)(PXListRef) = nullptr;
  std::uint8_t (F::*getFlag)() const = nullptr;
  void (F::*setFlag)(std::uint8_t) = nullptr;
};

constexpr Field field(const char* key, qel::ConfigRule rule, PXListRef (F::*get)() const,
                      void (F::*set)(PXListRef)) {
  return {key,     rule == qel::ConfigRule::prefixList ? Rule::prefix : Rule::number,
          get,     set,
          nullptr, nullptr};
}
constexpr Field field(const char* key, qel::ConfigRule, std::uint8_t (F::*get)() const,
                      void (F::*set)(std::uint8_t)) {
  return {key, Rule::flag, nullptr, nullptr, get, set};
}

inline const std::array<Field, qel::kRuleCount> kFields = {{
#define QEL_TEST_FIELD(rule, key, getter, setter, opensWalk, A) \
  field(key, qel::ConfigRule::rule, &F::getter, &F::setter),
    QEL_RULES(QEL_TEST_FIELD, _)
#undef QEL_TEST_FIELD
}};

}  // namespace configtest
