#include "px/PluginModule.hpp"

#include <dlfcn.h>

namespace px {

namespace {

template <class Fn>
Fn* entryPoint(void* handle, const char* name) {
  return reinterpret_cast<Fn*>(dlsym(handle, name));
}

}  // namespace

std::unique_ptr<PluginModule> PluginModule::open(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    error = why ? why : (path + ": cannot be loaded");
    return nullptr;
  }
  auto* name = entryPoint<plugin_name_fn>(handle, "plugin_name");
  auto* init = entryPoint<plugin_init_fn>(handle, "plugin_init");
  auto* exit = entryPoint<plugin_exit_fn>(handle, "plugin_exit");
  auto* create = entryPoint<plugin_create_fn>(handle, "plugin_create");
  auto* info = entryPoint<plugin_info_fn>(handle, "plugin_info");
  if (!name || !init || !exit || !create || !info) {
    dlclose(handle);
    error = path + ": not a screening plug-in (an entry point is missing)";
    return nullptr;
  }
  return std::unique_ptr<PluginModule>(new PluginModule(handle, name, init, exit, create, info));
}

PluginModule::PluginModule(void* handle, plugin_name_fn* name, plugin_init_fn* init,
                           plugin_exit_fn* exit, plugin_create_fn* create, plugin_info_fn* info)
    : name(name), init(init), exit(exit), create(create), info(info), _handle(handle) {}

PluginModule::~PluginModule() {
  dlclose(_handle);
}

}  // namespace px
