#include "PluginHost.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <string_view>

#include "px/PluginEntryPoints.hpp"

#ifndef QEL_PLUGIN_FILE
#define QEL_PLUGIN_FILE "qel-screening-sccp.so"
#endif
#ifndef QEL_INSTALL_LIBDIR
#define QEL_INSTALL_LIBDIR "lib"
#endif

namespace qs {

namespace {

std::string executableDirectory() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

template <class Fn>
Fn* symbol(void* handle, const char* name) {
  return reinterpret_cast<Fn*>(dlsym(handle, name));
}

}  // namespace

std::string defaultPluginPath() {
  std::string dir = executableDirectory();
  std::string first = dir + "/../lib/" QEL_PLUGIN_FILE;
  if (std::string_view(QEL_INSTALL_LIBDIR) != "lib" && access(first.c_str(), F_OK) != 0) {
    std::string other = dir + "/../" QEL_INSTALL_LIBDIR "/" QEL_PLUGIN_FILE;
    if (access(other.c_str(), F_OK) == 0) return other;
  }
  return first;
}

std::unique_ptr<LoadedPlugin> LoadedPlugin::load(const std::string& path, std::string& error) {
  std::unique_ptr<LoadedPlugin> p(new LoadedPlugin);
  // A path without a slash would make dlopen search the library path.
  std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
  p->_handle = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!p->_handle) {
    const char* why = dlerror();
    error = why ? why : (path + ": cannot be loaded");
    return nullptr;
  }
  auto* name = symbol<plugin_name_fn>(p->_handle, "plugin_name");
  auto* init = symbol<plugin_init_fn>(p->_handle, "plugin_init");
  auto* exit = symbol<plugin_exit_fn>(p->_handle, "plugin_exit");
  auto* create = symbol<plugin_create_fn>(p->_handle, "plugin_create");
  auto* info = symbol<plugin_info_fn>(p->_handle, "plugin_info");
  if (!name || !init || !exit || !create || !info) {
    error = path + ": not a screening plug-in (an entry point is missing)";
    return nullptr;
  }
  if (const char* n = name()) p->_name = n;
  if (auto dict = px::adoptDictionary(info()))
    if (const PXValue* v = dict->find("version"); v && v->text()) p->_version = *v->text();
  p->_exit = exit;
  PXDictionary startup;
  init(&startup);
  p->_plugin = px::adoptPlugin(create());
  if (!p->_plugin) {
    error = path + ": plugin_create gave no filter";
    return nullptr;
  }
  p->_filter = dynamic_cast<PXMTP3SCCPScreeningPluginProtocol*>(p->_plugin.get());
  if (!p->_filter) {
    error = path + ": its filter is not an SCCP screening filter";
    return nullptr;
  }
  p->_explainer = dynamic_cast<PXSccpScreeningExplainer*>(p->_plugin.get());
  return p;
}

LoadedPlugin::~LoadedPlugin() {
  // The filter's code lives in the library: destroy it before unloading.
  _filter = nullptr;
  _explainer = nullptr;
  _plugin.reset();
  if (_exit) _exit();
  if (_handle) dlclose(_handle);
}

}  // namespace qs
