// The filter's rules as one immutable value: 20 lists and 6 default flags.
//
// A filter publishes one RuleSet at a time; a setter or a load builds a new
// one that differs only in the fields it changes (the other lists are shared,
// not copied) and publishes it whole, so a screening sees one consistent set.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "px/Value.hpp"

// Every rule list: accessor name, setter name, member.
#define QEL_RULE_LISTS(X)                                                                         \
  X(allowedCallingSccpPrefixE164, setAllowedCallingSccpPrefixE164, _allowedCallingSccpPrefixE164) \
  X(allowedCallingSccpPrefixE212, setAllowedCallingSccpPrefixE212, _allowedCallingSccpPrefixE212) \
  X(allowedCallingSccpPrefixE214, setAllowedCallingSccpPrefixE214, _allowedCallingSccpPrefixE214) \
  X(allowedCalledSccpPrefixE164, setAllowedCalledSccpPrefixE164, _allowedCalledSccpPrefixE164)    \
  X(allowedCalledSccpPrefixE212, setAllowedCalledSccpPrefixE212, _allowedCalledSccpPrefixE212)    \
  X(allowedCalledSccpPrefixE214, setAllowedCalledSccpPrefixE214, _allowedCalledSccpPrefixE214)    \
  X(deniedCallingSccpPrefixE164, setDeniedCallingSccpPrefixE164, _deniedCallingSccpPrefixE164)    \
  X(deniedCallingSccpPrefixE212, setDeniedCallingSccpPrefixE212, _deniedCallingSccpPrefixE212)    \
  X(deniedCallingSccpPrefixE214, setDeniedCallingSccpPrefixE214, _deniedCallingSccpPrefixE214)    \
  X(deniedCalledSccpPrefixE164, setDeniedCalledSccpPrefixE164, _deniedCalledSccpPrefixE164)       \
  X(deniedCalledSccpPrefixE212, setDeniedCalledSccpPrefixE212, _deniedCalledSccpPrefixE212)       \
  X(deniedCalledSccpPrefixE214, setDeniedCalledSccpPrefixE214, _deniedCalledSccpPrefixE214)       \
  X(allowedTT, setAllowedTT, _allowedTT)                                                          \
  X(deniedTT, setDeniedTT, _deniedTT)                                                             \
  X(allowedOP, setAllowedOP, _allowedOP)                                                          \
  X(deniedOP, setDeniedOP, _deniedOP)                                                             \
  X(allowedGOP, setAllowedGOP, _allowedGOP)                                                       \
  X(deniedGOP, setDeniedGOP, _deniedGOP)                                                          \
  X(allowedFSM_IMSI_PREFIX, setAllowedFSM_IMSI_PREFIX, _allowedFSM_IMSI_PREFIX)                   \
  X(deniedFSM_IMSI_PREFIX, setDeniedFSM_IMSI_PREFIX, _deniedFSM_IMSI_PREFIX)

// Every default flag: accessor name, setter name, member.
#define QEL_RULE_FLAGS(X)                                              \
  X(defaultAllowCalling, setDefaultAllowCalling, _defaultAllowCalling) \
  X(defaultDenyCalling, setDefaultDenyCalling, _defaultDenyCalling)    \
  X(defaultAllowCalled, setDefaultAllowCalled, _defaultAllowCalled)    \
  X(defaultDenyCalled, setDefaultDenyCalled, _defaultDenyCalled)       \
  X(defaultAllowTT, setDefaultAllowTT, _defaultAllowTT)                \
  X(defaultDenyTT, setDefaultDenyTT, _defaultDenyTT)

namespace qel {

struct RuleSet {
#define QEL_DECLARE_LIST(getter, setter, member) PXListRef member;
  QEL_RULE_LISTS(QEL_DECLARE_LIST)
#undef QEL_DECLARE_LIST
#define QEL_DECLARE_FLAG(getter, setter, member) std::uint8_t member = 0;
  QEL_RULE_FLAGS(QEL_DECLARE_FLAG)
#undef QEL_DECLARE_FLAG
  // Not a rule: the file named by the last loadConfigFromFile (null before
  // it), published with the rules so that the load path, like the screening
  // path, takes no lock. Screening never reads it.
  std::shared_ptr<const std::string> configFileName;
};

// The lists of one numbering plan, indexed E.164, E.212, E.214.
enum class NumberingPlan : std::uint8_t { e164 = 0, e212 = 1, e214 = 2 };

inline constexpr std::array<PXListRef RuleSet::*, 3> kAllowedCallingLists = {
    &RuleSet::_allowedCallingSccpPrefixE164, &RuleSet::_allowedCallingSccpPrefixE212,
    &RuleSet::_allowedCallingSccpPrefixE214};
inline constexpr std::array<PXListRef RuleSet::*, 3> kDeniedCallingLists = {
    &RuleSet::_deniedCallingSccpPrefixE164, &RuleSet::_deniedCallingSccpPrefixE212,
    &RuleSet::_deniedCallingSccpPrefixE214};
inline constexpr std::array<PXListRef RuleSet::*, 3> kAllowedCalledLists = {
    &RuleSet::_allowedCalledSccpPrefixE164, &RuleSet::_allowedCalledSccpPrefixE212,
    &RuleSet::_allowedCalledSccpPrefixE214};
inline constexpr std::array<PXListRef RuleSet::*, 3> kDeniedCalledLists = {
    &RuleSet::_deniedCalledSccpPrefixE164, &RuleSet::_deniedCalledSccpPrefixE212,
    &RuleSet::_deniedCalledSccpPrefixE214};

}  // namespace qel
