// The five functions the host looks up by name; the only symbols exported.
#include "px/PluginEntryPoints.hpp"

#include "QelScreeningSCCP.hpp"

#define QEL_EXPORT extern "C" __attribute__((visibility("default")))

QEL_EXPORT const char* plugin_name() {
  return qel::kPluginName;
}

QEL_EXPORT int plugin_init(const PXDictionary*) {
  return 0;
}

QEL_EXPORT int plugin_exit() {
  return 0;
}

QEL_EXPORT PXPlugin* plugin_create() {
  auto filter = std::make_unique<QelScreeningSCCP>();
  if (!filter->init()) return nullptr;
  return filter.release();
}

QEL_EXPORT PXDictionary* plugin_info() {
  return new PXDictionary{{"name", PXValue(qel::kPluginName)},
                          {"type", PXValue(qel::kPluginType)},
                          {"version", PXValue(qel::kPluginVersion)}};
}

// The host resolves these by name; check the signatures against its types.
static_assert(std::is_same_v<decltype(plugin_name), px::plugin_name_fn>);
static_assert(std::is_same_v<decltype(plugin_init), px::plugin_init_fn>);
static_assert(std::is_same_v<decltype(plugin_exit), px::plugin_exit_fn>);
static_assert(std::is_same_v<decltype(plugin_create), px::plugin_create_fn>);
static_assert(std::is_same_v<decltype(plugin_info), px::plugin_info_fn>);
