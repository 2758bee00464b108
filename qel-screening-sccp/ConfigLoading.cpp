// Placeholder until the configuration reader lands: a load keeps the name and
// reports the absent group.
#include "QelScreeningSCCP.hpp"

PXErrorRef QelScreeningSCCP::loadConfigFromFile(const std::string& fileName) {
  _configFileName.store(std::make_shared<const std::string>(fileName));
  return reloadConfig();
}

PXErrorRef QelScreeningSCCP::reloadConfig() {
  auto info = std::make_shared<const PXDictionary>(
      PXDictionary{{"config", PXValue(jsonString(static_cast<const PXDictionary*>(nullptr)))}});
  return std::make_shared<const PXError>(qel::kReportDomain, 0, std::move(info));
}
