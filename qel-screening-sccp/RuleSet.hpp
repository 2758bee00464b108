// The filter's rules as one immutable value: 20 lists and 6 default flags.
//
// A filter publishes one RuleSet at a time; a setter or a load builds a new
// one that differs only in the fields it changes (the other lists are shared,
// not copied) and publishes it whole, so a screening sees one consistent set.
//
// QEL_RULES is the one definition of the rules: the members of RuleSet, the
// filter's accessors, the configuration key table (ConfigRules.hpp), the gate
// of the component walk and the tests' field list are all expanded from it.
// docs/adding-a-rule-key.md lists what a new row still needs by hand.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "ListIndex.hpp"
#include "px/Value.hpp"

// One row per rule, in the order a load applies the configuration keys:
//   X(rule, key, getter, setter, opensWalk, A)
// `rule` is a ConfigRule enumerator (what a configuration value does to the
// field), `key` the configuration key, `getter` and `setter` the filter's
// accessors; the member is `_` followed by the getter's name. `opensWalk`
// says whether a present list opens the component walk. `A` is passed through
// unchanged, for expansions that need an argument of their own.
#define QEL_RULES(X, A)                                                                          \
  X(prefixList, "allow-calling-sccp-prefix-e164", allowedCallingSccpPrefixE164,                  \
    setAllowedCallingSccpPrefixE164, false, A)                                                   \
  X(prefixList, "allow-calling-sccp-prefix-e212", allowedCallingSccpPrefixE212,                  \
    setAllowedCallingSccpPrefixE212, false, A)                                                   \
  X(prefixList, "allow-calling-sccp-prefix-e214", allowedCallingSccpPrefixE214,                  \
    setAllowedCallingSccpPrefixE214, false, A)                                                   \
  X(prefixList, "allow-called-sccp-prefix-e164", allowedCalledSccpPrefixE164,                    \
    setAllowedCalledSccpPrefixE164, false, A)                                                    \
  X(prefixList, "allow-called-sccp-prefix-e212", allowedCalledSccpPrefixE212,                    \
    setAllowedCalledSccpPrefixE212, false, A)                                                    \
  X(prefixList, "allow-called-sccp-prefix-e214", allowedCalledSccpPrefixE214,                    \
    setAllowedCalledSccpPrefixE214, false, A)                                                    \
  X(prefixList, "deny-calling-sccp-prefix-e164", deniedCallingSccpPrefixE164,                    \
    setDeniedCallingSccpPrefixE164, false, A)                                                    \
  X(prefixList, "deny-calling-sccp-prefix-e212", deniedCallingSccpPrefixE212,                    \
    setDeniedCallingSccpPrefixE212, false, A)                                                    \
  X(prefixList, "deny-calling-sccp-prefix-e214", deniedCallingSccpPrefixE214,                    \
    setDeniedCallingSccpPrefixE214, false, A)                                                    \
  X(prefixList, "deny-called-sccp-prefix-e164", deniedCalledSccpPrefixE164,                      \
    setDeniedCalledSccpPrefixE164, false, A)                                                     \
  X(prefixList, "deny-called-sccp-prefix-e212", deniedCalledSccpPrefixE212,                      \
    setDeniedCalledSccpPrefixE212, false, A)                                                     \
  X(prefixList, "deny-called-sccp-prefix-e214", deniedCalledSccpPrefixE214,                      \
    setDeniedCalledSccpPrefixE214, false, A)                                                     \
  X(prefixList, "allowed-fsm-imsi-prefix", allowedFSM_IMSI_PREFIX, setAllowedFSM_IMSI_PREFIX,    \
    true, A)                                                                                     \
  X(prefixList, "denied-fsm-imsi-prefix", deniedFSM_IMSI_PREFIX, setDeniedFSM_IMSI_PREFIX, true, \
    A)                                                                                           \
  X(numberList, "allowed-operation", allowedOP, setAllowedOP, true, A)                           \
  X(numberList, "denied-operation", deniedOP, setDeniedOP, true, A)                              \
  X(numberList, "allowed-global-operation", allowedGOP, setAllowedGOP, true, A)                  \
  X(numberList, "denied-global-operation", deniedGOP, setDeniedGOP, true, A)                     \
  X(numberList, "allowed-tt", allowedTT, setAllowedTT, false, A)                                 \
  X(numberList, "denied-tt", deniedTT, setDeniedTT, false, A)                                    \
  X(flag, "default-allow-calling-sccp-address", defaultAllowCalling, setDefaultAllowCalling,     \
    false, A)                                                                                    \
  X(flag, "default-deny-calling-sccp-address", defaultDenyCalling, setDefaultDenyCalling, false, \
    A)                                                                                           \
  X(flag, "default-allow-called-sccp-address", defaultAllowCalled, setDefaultAllowCalled, false, \
    A)                                                                                           \
  X(flag, "default-deny-called-sccp-address", defaultDenyCalled, setDefaultDenyCalled, false, A) \
  X(flag, "default-allow-tt", defaultAllowTT, setDefaultAllowTT, false, A)                       \
  X(flag, "default-deny-tt", defaultDenyTT, setDefaultDenyTT, false, A)

// The list rows and the flag rows alone: X(getter, setter, member).
#define QEL_RULE_LISTS(X) QEL_RULES(QEL_RULE_IF_LIST_ROW, X)
#define QEL_RULE_FLAGS(X) QEL_RULES(QEL_RULE_IF_FLAG_ROW, X)

#define QEL_RULE_IF_LIST_ROW(rule, key, getter, setter, opensWalk, X) \
  QEL_RULE_IF_LIST_##rule(X(getter, setter, _##getter))
#define QEL_RULE_IF_FLAG_ROW(rule, key, getter, setter, opensWalk, X) \
  QEL_RULE_IF_FLAG_##rule(X(getter, setter, _##getter))
#define QEL_RULE_IF_LIST_prefixList(...) __VA_ARGS__
#define QEL_RULE_IF_LIST_numberList(...) __VA_ARGS__
#define QEL_RULE_IF_LIST_flag(...)
#define QEL_RULE_IF_FLAG_prefixList(...)
#define QEL_RULE_IF_FLAG_numberList(...)
#define QEL_RULE_IF_FLAG_flag(...) __VA_ARGS__

namespace qel {

enum class ConfigRule : std::uint8_t {
  prefixList,  // a text (wrapped as a one-element list) or a list
  numberList,  // a number (wrapped as a one-element list) or a list
  flag,        // a number, a text, or a list whose first element is one
};

// What a field of each rule holds: a shared list, or a flag byte.
template <ConfigRule kRule>
using RuleField = std::conditional_t<kRule == ConfigRule::flag, std::uint8_t, PXListRef>;
// What screening reads of a list field (a flag has nothing beside it).
template <ConfigRule kRule>
using RuleIndex = std::conditional_t<kRule == ConfigRule::prefixList, PrefixIndex, NumberIndex>;

#define QEL_COUNT_RULE(rule, key, getter, setter, opensWalk, A) +1
inline constexpr std::size_t kRuleCount = 0 QEL_RULES(QEL_COUNT_RULE, _);
#undef QEL_COUNT_RULE

struct RuleSet {
#define QEL_DECLARE_FIELD(rule, key, getter, setter, opensWalk, A) \
  RuleField<ConfigRule::rule> _##getter{};
  QEL_RULES(QEL_DECLARE_FIELD, _)
#undef QEL_DECLARE_FIELD
  // Not a rule: the file named by the last loadConfigFromFile (null before
  // it), published with the rules so that the load path, like the screening
  // path, takes no lock. Screening never reads it.
  std::shared_ptr<const std::string> configFileName;

  // Each list's index, named after its field with "Index" appended; rebuilt
  // by reindex() before the set is published, read by screening only.
#define QEL_DECLARE_INDEX(rule, key, getter, setter, opensWalk, A) \
  QEL_RULE_IF_LIST_##rule(RuleIndex<ConfigRule::rule> _##getter##Index{};)
  QEL_RULES(QEL_DECLARE_INDEX, _)
#undef QEL_DECLARE_INDEX
};

// Rebuilds the index of every list that is not the one its index was built from.
inline void reindex(RuleSet& r) {
#define QEL_REINDEX(rule, key, getter, setter, opensWalk, A)                    \
  QEL_RULE_IF_LIST_##rule(if (r._##getter##Index.source() != r._##getter.get()) \
                              r._##getter##Index = RuleIndex<ConfigRule::rule>(r._##getter);)
  QEL_RULES(QEL_REINDEX, _)
#undef QEL_REINDEX
}

// The component walk runs when any list that opens it is present, even empty.
inline bool walkGateOpen(const RuleSet& r) {
#define QEL_WALK_GATE_TERM(rule, key, getter, setter, opensWalk, A) || (opensWalk && r._##getter)
  return false QEL_RULES(QEL_WALK_GATE_TERM, _);
#undef QEL_WALK_GATE_TERM
}

// The lists of one numbering plan, indexed E.164, E.212, E.214.
enum class NumberingPlan : std::uint8_t { e164 = 0, e212 = 1, e214 = 2 };

using PlanIndexes = std::array<PrefixIndex RuleSet::*, 3>;
inline constexpr PlanIndexes kAllowedCallingLists = {&RuleSet::_allowedCallingSccpPrefixE164Index,
                                                     &RuleSet::_allowedCallingSccpPrefixE212Index,
                                                     &RuleSet::_allowedCallingSccpPrefixE214Index};
inline constexpr PlanIndexes kDeniedCallingLists = {&RuleSet::_deniedCallingSccpPrefixE164Index,
                                                    &RuleSet::_deniedCallingSccpPrefixE212Index,
                                                    &RuleSet::_deniedCallingSccpPrefixE214Index};
inline constexpr PlanIndexes kAllowedCalledLists = {&RuleSet::_allowedCalledSccpPrefixE164Index,
                                                    &RuleSet::_allowedCalledSccpPrefixE212Index,
                                                    &RuleSet::_allowedCalledSccpPrefixE214Index};
inline constexpr PlanIndexes kDeniedCalledLists = {&RuleSet::_deniedCalledSccpPrefixE164Index,
                                                   &RuleSet::_deniedCalledSccpPrefixE212Index,
                                                   &RuleSet::_deniedCalledSccpPrefixE214Index};

}  // namespace qel
