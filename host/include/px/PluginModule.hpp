// A screening plug-in's shared library, opened as the host opens it: dlopen,
// then the five entry points looked up by their plain names.
#pragma once

#include <memory>
#include <string>

#include "px/PluginEntryPoints.hpp"

namespace px {

class PluginModule {
 public:
  // Null with `error` set when the library cannot be opened ("PATH: reason",
  // or the loader's own message) or lacks one of the five entry points. The
  // path goes to dlopen as it is: a name without a slash is searched for.
  static std::unique_ptr<PluginModule> open(const std::string& path, std::string& error);
  // Unloads the library: every object it made must be gone by then.
  ~PluginModule();

  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  plugin_name_fn* const name;
  plugin_init_fn* const init;
  plugin_exit_fn* const exit;
  plugin_create_fn* const create;
  plugin_info_fn* const info;

 private:
  PluginModule(void* handle, plugin_name_fn* name, plugin_init_fn* init, plugin_exit_fn* exit,
               plugin_create_fn* create, plugin_info_fn* info);

  void* const _handle;
};

}  // namespace px
