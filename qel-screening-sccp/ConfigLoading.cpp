// Filling the rules from the "sccp-screening" group of the configuration file.
//
// A load changes only the fields whose keys it finds with a value of a kind
// the key accepts; everything else keeps its value, so keys removed from the
// file keep what an earlier load gave them. The changes of one load are
// published as one rule set: a screening sees all of a load or none of it.
#include <array>
#include <string_view>

#include "QelScreeningSCCP.hpp"
#include "px/Config.hpp"

namespace {

constexpr std::string_view kGroup = "sccp-screening";
// Declared to the reader as well, but never read by this filter.
constexpr std::string_view kMtp3Group = "mtp3-screening";

enum class Rule : std::uint8_t {
  prefixList,  // a text (wrapped as a one-element list) or a list
  numberList,  // a number (wrapped as a one-element list) or a list
  flag,        // a number, a text, or a list whose first element is one
};

struct KeyRule {
  std::string_view key;
  Rule rule;
  PXListRef qel::RuleSet::*list = nullptr;
  std::uint8_t qel::RuleSet::*flag = nullptr;
};

constexpr KeyRule prefixKey(std::string_view key, PXListRef qel::RuleSet::*list) {
  return {key, Rule::prefixList, list, nullptr};
}
constexpr KeyRule numberKey(std::string_view key, PXListRef qel::RuleSet::*list) {
  return {key, Rule::numberList, list, nullptr};
}
constexpr KeyRule flagKey(std::string_view key, std::uint8_t qel::RuleSet::*flag) {
  return {key, Rule::flag, nullptr, flag};
}

using R = qel::RuleSet;

// In the order of processing. The address and default keys say "allow"/"deny",
// the IMSI, operation and translation-type keys "allowed"/"denied".
constexpr std::array<KeyRule, 26> kKeys = {{
    prefixKey("allow-calling-sccp-prefix-e164", &R::_allowedCallingSccpPrefixE164),
    prefixKey("allow-calling-sccp-prefix-e212", &R::_allowedCallingSccpPrefixE212),
    prefixKey("allow-calling-sccp-prefix-e214", &R::_allowedCallingSccpPrefixE214),
    prefixKey("allow-called-sccp-prefix-e164", &R::_allowedCalledSccpPrefixE164),
    prefixKey("allow-called-sccp-prefix-e212", &R::_allowedCalledSccpPrefixE212),
    prefixKey("allow-called-sccp-prefix-e214", &R::_allowedCalledSccpPrefixE214),
    prefixKey("deny-calling-sccp-prefix-e164", &R::_deniedCallingSccpPrefixE164),
    prefixKey("deny-calling-sccp-prefix-e212", &R::_deniedCallingSccpPrefixE212),
    prefixKey("deny-calling-sccp-prefix-e214", &R::_deniedCallingSccpPrefixE214),
    prefixKey("deny-called-sccp-prefix-e164", &R::_deniedCalledSccpPrefixE164),
    prefixKey("deny-called-sccp-prefix-e212", &R::_deniedCalledSccpPrefixE212),
    prefixKey("deny-called-sccp-prefix-e214", &R::_deniedCalledSccpPrefixE214),
    prefixKey("allowed-fsm-imsi-prefix", &R::_allowedFSM_IMSI_PREFIX),
    prefixKey("denied-fsm-imsi-prefix", &R::_deniedFSM_IMSI_PREFIX),
    numberKey("allowed-operation", &R::_allowedOP),
    numberKey("denied-operation", &R::_deniedOP),
    numberKey("allowed-global-operation", &R::_allowedGOP),
    numberKey("denied-global-operation", &R::_deniedGOP),
    numberKey("allowed-tt", &R::_allowedTT),
    numberKey("denied-tt", &R::_deniedTT),
    flagKey("default-allow-calling-sccp-address", &R::_defaultAllowCalling),
    flagKey("default-deny-calling-sccp-address", &R::_defaultDenyCalling),
    flagKey("default-allow-called-sccp-address", &R::_defaultAllowCalled),
    flagKey("default-deny-called-sccp-address", &R::_defaultDenyCalled),
    flagKey("default-allow-tt", &R::_defaultAllowTT),
    flagKey("default-deny-tt", &R::_defaultDenyTT),
}};

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A text is true when its first character that is not blank, a sign or the
// digit 0 is a digit 1-9 or one of Y, y, T, t ("yes", " +1", "true", "007").
bool textTruth(std::string_view text) {
  for (char c : text) {
    if (isSpace(c) || c == '+' || c == '-' || c == '0') continue;
    return (c >= '1' && c <= '9') || c == 'Y' || c == 'y' || c == 'T' || c == 't';
  }
  return false;
}

// The truth value of a number or a text; none for any other kind.
std::optional<std::uint8_t> truth(const PXValue& value) {
  if (const std::int64_t* n = value.integer()) return *n != 0;
  if (const double* d = value.real()) return *d != 0.0;
  if (const std::string* s = value.text()) return textTruth(*s);
  return std::nullopt;
}

void applyKey(const KeyRule& k, const PXValue& value, qel::RuleSet& rules) {
  switch (k.rule) {
    case Rule::prefixList:
      if (value.isText()) {
        rules.*k.list = makeList({value});
      } else if (value.isList()) {
        rules.*k.list = value.list();
      }
      return;
    case Rule::numberList:
      if (value.isNumber()) {
        rules.*k.list = makeList({value});
      } else if (value.isList()) {
        rules.*k.list = value.list();
      }
      return;
    case Rule::flag:
      if (auto t = truth(value)) {
        rules.*k.flag = *t;
      } else if (const PXListRef& list = value.list(); list && !list->empty()) {
        if (auto first = truth(list->front())) rules.*k.flag = *first;
      }
      return;
  }
}

void applyGroup(const PXDictionary& group, qel::RuleSet& rules) {
  for (const KeyRule& k : kKeys) {
    if (const PXValue* value = group.find(k.key)) applyKey(k, *value, rules);
  }
}

}  // namespace

PXErrorRef QelScreeningSCCP::loadConfigFromFile(const std::string& fileName) {
  _configFileName.store(std::make_shared<const std::string>(fileName));
  return reloadConfig();
}

PXErrorRef QelScreeningSCCP::reloadConfig() {
  const auto fileName = _configFileName.load();
  // Before any loadConfigFromFile there is no name; the reader then reports
  // that it cannot open "" and yields no group.
  PXConfig reader(fileName ? *fileName : std::string());
  reader.allowSingleGroup(kMtp3Group);
  reader.allowSingleGroup(kGroup);
  // Whether the file could be read is the reader's to report to the host: an
  // unreadable file simply yields no group, and no field changes.
  (void)reader.read();
  const PXDictionaryRef group = reader.getSingleGroup(kGroup);

  setConfig(group);
  if (group) {
    // Runs again on a fresh copy if a setter published in between, so the
    // setter's write is kept and this load's fields are applied over it.
    _rules.update([&](qel::RuleSet& rules) { applyGroup(*group, rules); });
  }

  auto info = std::make_shared<const PXDictionary>(
      PXDictionary{{"config", PXValue(jsonString(group.get()))}});
  return std::make_shared<const PXError>(qel::kReportDomain, 0, std::move(info));
}
