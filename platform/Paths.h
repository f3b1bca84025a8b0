#pragma once

#include <string>

namespace platform {

// The settings store: ZEL_REGISTRY_ROOT, else $XDG_CONFIG_HOME/korvel/registry
// (or ~/.config/korvel/registry).
std::string RegistryRoot();

// Live objects of one running instance: ZEL_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/korvel (or /tmp/korvel-$UID). Created with mode 0700 when
// missing; returns the path whether or not creation succeeded.
std::string RuntimeDir();

// $XDG_CONFIG_HOME, $XDG_STATE_HOME, $XDG_DATA_HOME with their defaults.
std::string ConfigHome();
std::string StateHome();
std::string DataHome();

}  // namespace platform
