// The filter as a host runs it: the plug-in module loaded with dlopen, a
// filter from plugin_create, the rules from a configuration file. What the
// module pays and a static link hides (calls across the library boundary,
// thread-local access from a dlopen'ed library) is then part of the figure.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <stdexcept>
#include <string>

#include "px/PluginEntryPoints.hpp"

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
    _handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!_handle) throw std::runtime_error(dlerror());
    auto* create = reinterpret_cast<plugin_create_fn*>(dlsym(_handle, "plugin_create"));
    if (!create) throw std::runtime_error(modulePath + ": no plugin_create");
    _plugin = px::adoptPlugin(create());
    _filter = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(_plugin.get());
    if (!_filter) throw std::runtime_error(modulePath + ": not an SCCP screening filter");
    _filter->loadConfigFromFile(configFile);
    // The report's code is 0 even for an unreadable file; the group says more.
    if (!_plugin->config()) throw std::runtime_error(configFile + ": no [sccp-screening] group");
  }
  ~PluginModule() {
    _plugin.reset();
    if (_handle) dlclose(_handle);
  }
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  PXMTP3SCCPScreeningPluginProtocol& filter() { return *_filter; }

 private:
  void* _handle = nullptr;
  std::shared_ptr<PXPlugin> _plugin;
  PXMTP3SCCPScreeningPluginProtocol* _filter = nullptr;
};

}  // namespace qelbench
