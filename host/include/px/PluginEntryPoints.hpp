// The five functions a screening plug-in exports, as the host looks them up
// with dlsym. Ownership across the boundary:
//  - plugin_name: the plug-in's constant name (a string literal); the caller owns nothing.
//  - plugin_init: the host's start-up dictionary, borrowed, possibly null; returns 0.
//  - plugin_exit: returns 0; filter objects stay alive and working.
//  - plugin_create: a new filter object that the caller takes over (wrap it with
//    px::adoptPlugin); null when its initialisation fails.
//  - plugin_info: a new dictionary with "name", "type" and "version" that the
//    caller takes over (px::adoptDictionary).
#pragma once

#include <memory>
#include <string>

#include "px/Plugin.hpp"
#include "px/Value.hpp"

namespace px {

extern "C" {
using plugin_name_fn = const char*();
using plugin_init_fn = int(const PXDictionary* dict);
using plugin_exit_fn = int();
using plugin_create_fn = PXPlugin*();
using plugin_info_fn = PXDictionary*();
}

inline std::shared_ptr<PXPlugin> adoptPlugin(PXPlugin* plugin) {
  return std::shared_ptr<PXPlugin>(plugin);
}
inline std::shared_ptr<const PXDictionary> adoptDictionary(PXDictionary* dict) {
  return std::shared_ptr<const PXDictionary>(dict);
}

}  // namespace px
