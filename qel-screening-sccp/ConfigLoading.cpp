// Filling the rules from the "sccp-screening" group of the configuration file.
//
// A load changes only the fields whose keys it finds with a value of a kind
// the key accepts; everything else keeps its value, so keys removed from the
// file keep what an earlier load gave them. The changes of one load are
// published as one rule set: a screening sees all of a load or none of it.
#include <string>

#include "ConfigRules.hpp"
#include "QelScreeningSCCP.hpp"
#include "px/Config.hpp"

PXErrorRef QelScreeningSCCP::loadConfigFromFile(const std::string& fileName) {
  auto name = std::make_shared<const std::string>(fileName);
  _rules.update([&](qel::RuleSet& rules) { rules.configFileName = name; });
  return reloadConfig();
}

PXErrorRef QelScreeningSCCP::reloadConfig() {
  const std::shared_ptr<const std::string> fileName = _rules.read()->configFileName;
  // Before any loadConfigFromFile there is no name; the reader then reports
  // that it cannot open "" and yields no group.
  PXConfig reader(fileName ? *fileName : std::string());
  reader.allowSingleGroup(qel::kMtp3ScreeningGroup);
  reader.allowSingleGroup(qel::kScreeningGroup);
  // Whether the file could be read is the reader's to report to the host: an
  // unreadable file simply yields no group, and no field changes.
  (void)reader.read();
  const PXDictionaryRef group = reader.getSingleGroup(qel::kScreeningGroup);

  setConfig(group);
  if (group) {
    // Runs again on a fresh copy if a setter published in between, so the
    // setter's write is kept and this load's fields are applied over it.
    _rules.update([&](qel::RuleSet& rules) { qel::applyConfigGroup(*group, rules); });
  }

  auto info = std::make_shared<const PXDictionary>(
      PXDictionary{{"config", PXValue(px::jsonString(group.get()))}});
  return std::make_shared<const PXError>(qel::kReportDomain, 0, std::move(info));
}
