// The filter's 26 configuration keys with their rule and the filter's accessors
// for the field each one fills.
#pragma once

#include <array>
#include <cstdint>

#include "QelScreeningSCCP.hpp"

namespace configtest {

using F = QelScreeningSCCP;

enum class Rule { prefix, number, flag };

// Written out here rather than taken from the filter, so that a misspelt or
// misrouted key in the filter shows up.
struct Field {
  const char* key;
  Rule rule;
  PXListRef (F::*getList)() const = nullptr;
  void (F::*setList)(PXListRef) = nullptr;
  std::uint8_t (F::*getFlag)() const = nullptr;
  void (F::*setFlag)(std::uint8_t) = nullptr;
};

#define PREFIX(key, name, setter) \
  { key, Rule::prefix, &F::name, &F::setter, nullptr, nullptr }
#define NUMBER(key, name, setter) \
  { key, Rule::number, &F::name, &F::setter, nullptr, nullptr }
#define FLAG(key, name, setter) \
  { key, Rule::flag, nullptr, nullptr, &F::name, &F::setter }
inline const std::array<Field, 26> kFields = {{
    PREFIX("allow-calling-sccp-prefix-e164", allowedCallingSccpPrefixE164,
           setAllowedCallingSccpPrefixE164),
    PREFIX("allow-calling-sccp-prefix-e212", allowedCallingSccpPrefixE212,
           setAllowedCallingSccpPrefixE212),
    PREFIX("allow-calling-sccp-prefix-e214", allowedCallingSccpPrefixE214,
           setAllowedCallingSccpPrefixE214),
    PREFIX("allow-called-sccp-prefix-e164", allowedCalledSccpPrefixE164,
           setAllowedCalledSccpPrefixE164),
    PREFIX("allow-called-sccp-prefix-e212", allowedCalledSccpPrefixE212,
           setAllowedCalledSccpPrefixE212),
    PREFIX("allow-called-sccp-prefix-e214", allowedCalledSccpPrefixE214,
           setAllowedCalledSccpPrefixE214),
    PREFIX("deny-calling-sccp-prefix-e164", deniedCallingSccpPrefixE164,
           setDeniedCallingSccpPrefixE164),
    PREFIX("deny-calling-sccp-prefix-e212", deniedCallingSccpPrefixE212,
           setDeniedCallingSccpPrefixE212),
    PREFIX("deny-calling-sccp-prefix-e214", deniedCallingSccpPrefixE214,
           setDeniedCallingSccpPrefixE214),
    PREFIX("deny-called-sccp-prefix-e164", deniedCalledSccpPrefixE164,
           setDeniedCalledSccpPrefixE164),
    PREFIX("deny-called-sccp-prefix-e212", deniedCalledSccpPrefixE212,
           setDeniedCalledSccpPrefixE212),
    PREFIX("deny-called-sccp-prefix-e214", deniedCalledSccpPrefixE214,
           setDeniedCalledSccpPrefixE214),
    PREFIX("allowed-fsm-imsi-prefix", allowedFSM_IMSI_PREFIX, setAllowedFSM_IMSI_PREFIX),
    PREFIX("denied-fsm-imsi-prefix", deniedFSM_IMSI_PREFIX, setDeniedFSM_IMSI_PREFIX),
    NUMBER("allowed-operation", allowedOP, setAllowedOP),
    NUMBER("denied-operation", deniedOP, setDeniedOP),
    NUMBER("allowed-global-operation", allowedGOP, setAllowedGOP),
    NUMBER("denied-global-operation", deniedGOP, setDeniedGOP),
    NUMBER("allowed-tt", allowedTT, setAllowedTT),
    NUMBER("denied-tt", deniedTT, setDeniedTT),
    FLAG("default-allow-calling-sccp-address", defaultAllowCalling, setDefaultAllowCalling),
    FLAG("default-deny-calling-sccp-address", defaultDenyCalling, setDefaultDenyCalling),
    FLAG("default-allow-called-sccp-address", defaultAllowCalled, setDefaultAllowCalled),
    FLAG("default-deny-called-sccp-address", defaultDenyCalled, setDefaultDenyCalled),
    FLAG("default-allow-tt", defaultAllowTT, setDefaultAllowTT),
    FLAG("default-deny-tt", defaultDenyTT, setDefaultDenyTT),
}};
#undef PREFIX
#undef NUMBER
#undef FLAG

}  // namespace configtest
