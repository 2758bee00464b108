// The filter as a host runs it: the plug-in module loaded with dlopen, a
// filter from plugin_create, the rules from a configuration file. What the
// module pays and a static link hides (calls across the library boundary,
// thread-local access from a dlopen'ed library) is then part of the figure.
#pragma once

#include <unistd.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>

#include "px/PluginModule.hpp"

namespace qelbench {

// qel-screening-sccp.so in ../lib next to the running executable, as built.
inline std::string builtModulePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string exe = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string("./x");
  return exe.substr(0, exe.rfind('/')) + "/../lib/qel-screening-sccp.so";
}

class PluginModule {
 public:
  // Throws std::runtime_error when the module or the configuration cannot be used.
  PluginModule(const std::string& modulePath, const std::string& configFile) {
    std::string why;
    _module = px::PluginModule::open(modulePath, why);
    if (!_module) throw std::runtime_error(why);
    _plugin = px::adoptPlugin(_module->create());
    _filter = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(_plugin.get());
    if (!_filter) throw std::runtime_error(modulePath + ": not an SCCP screening filter");
    _filter->loadConfigFromFile(configFile);
    // The report's code is 0 even for an unreadable file; the group says more.
    if (!_plugin->config()) throw std::runtime_error(configFile + ": no [sccp-screening] group");
  }

  PXMTP3SCCPScreeningPluginProtocol& filter() { return *_filter; }

 private:
  // Declared first, destroyed last: the filter's code lives in the module.
  std::unique_ptr<px::PluginModule> _module;
  std::shared_ptr<PXPlugin> _plugin;
  PXMTP3SCCPScreeningPluginProtocol* _filter = nullptr;
};

}  // namespace qelbench
