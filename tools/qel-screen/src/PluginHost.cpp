#include "PluginHost.hpp"

#include <unistd.h>

#include <climits>
#include <string_view>

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
  p->_module =
      px::PluginModule::open(path.find('/') == std::string::npos ? "./" + path : path, error);
  if (!p->_module) return nullptr;
  const px::PluginModule& m = *p->_module;
  if (const char* n = m.name()) p->_name = n;
  if (auto dict = px::adoptDictionary(m.info())) {
    if (const PXValue* v = dict->find("version"); v && v->text()) p->_version = *v->text();
    if (const PXValue* v = dict->find("name"); v && v->text()) p->_infoName = *v->text();
  }
  PXDictionary startup;
  m.init(&startup);
  p->_plugin = px::adoptPlugin(m.create());
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

std::shared_ptr<PXPlugin> LoadedPlugin::createAnother() {
  return px::adoptPlugin(_module->create());
}

LoadedPlugin::~LoadedPlugin() {
  // The filter's code lives in the library: destroy it before unloading.
  _filter = nullptr;
  _explainer = nullptr;
  _plugin.reset();
  if (_module) _module->exit();
}

std::string versionText(const std::string& toolVersion, const std::string& pluginPath) {
  std::string text = "qel-screen " + toolVersion + "\n";
  std::string error;
  if (auto plugin = LoadedPlugin::load(pluginPath, error))
    return text + "plug-in " + plugin->infoName() + " " + plugin->version() + " (" + pluginPath +
           ")";
  return text + "plug-in not loaded: " + error;
}

}  // namespace qs
