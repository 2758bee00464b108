// Loads a screening plug-in as the host does: dlopen, the five entry points
// looked up by name, a filter object from plugin_create.
#pragma once

#include <memory>
#include <string>

#include "px/Plugin.hpp"
#include "px/PluginModule.hpp"
#include "px/ScreeningTrace.hpp"

namespace qs {

class LoadedPlugin {
 public:
  // Null with `error` set ("PATH: reason") when the library cannot be used.
  static std::unique_ptr<LoadedPlugin> load(const std::string& path, std::string& error);
  ~LoadedPlugin();

  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  PXPlugin& plugin() { return *_plugin; }
  // Another filter from the same library (plugin_create again); null when
  // the plug-in gives none. It must not outlive this object.
  std::shared_ptr<PXPlugin> createAnother();
  PXMTP3SCCPScreeningPluginProtocol& filter() { return *_filter; }
  // Null when the plug-in cannot explain its verdicts.
  PXSccpScreeningExplainer* explainer() { return _explainer; }
  const std::string& name() const { return _name; }
  const std::string& version() const { return _version; }
  // The "name" entry of plugin_info.
  const std::string& infoName() const { return _infoName; }

 private:
  LoadedPlugin() = default;

  std::unique_ptr<px::PluginModule> _module;
  std::shared_ptr<PXPlugin> _plugin;
  PXMTP3SCCPScreeningPluginProtocol* _filter = nullptr;
  PXSccpScreeningExplainer* _explainer = nullptr;
  std::string _name;
  std::string _version;
  std::string _infoName;
};

// What --version prints: the tool's version, then the name and version that
// the plug-in at `pluginPath` gives in plugin_info (or why it cannot be loaded).
std::string versionText(const std::string& toolVersion, const std::string& pluginPath);

// The plug-in installed next to the running executable: ../lib/NAME (and
// ../LIBDIR/NAME when the install's library directory differs).
std::string defaultPluginPath();

}  // namespace qs
