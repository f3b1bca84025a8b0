#pragma once

#include <string>
#include <string_view>

namespace os {

// The settings store: ZEL_REGISTRY_ROOT, else $XDG_CONFIG_HOME/korvel/registry
// (or ~/.config/korvel/registry).
std::string RegistryRoot();

// Live objects of one running instance: ZEL_RUNTIME_DIR, else
// $XDG_RUNTIME_DIR/korvel, else $XDG_STATE_HOME/korvel/run-HOST, created with
// mode 0700 when missing. Empty when the folder is not safe to use (see
// RuntimeFolder.h).
std::string RuntimeDir();
// A file of the runtime folder; empty when the folder is not safe to use.
std::string RuntimePath(std::string_view leaf);
// Why the runtime folder is not used, as one line; empty when it is.
std::string RuntimeDirProblem();
// The runtime folder, why it is not used (empty when it is), and whether it
// lies under the home because the session has no XDG_RUNTIME_DIR.
struct RuntimeFolderState {
    std::string path;
    std::string problem;
    bool underHome = false;
};
RuntimeFolderState RuntimeDirState();

// $HOME (else the account's home folder), $XDG_CONFIG_HOME, $XDG_STATE_HOME,
// $XDG_DATA_HOME with their defaults.
std::string HomeFolder();
std::string ConfigHome();
std::string StateHome();
std::string DataHome();

// A path as a setting holds it, made usable: blanks and line breaks around
// it removed, "~/" and a relative path taken from the home folder, so that
// a path never depends on the working folder of the program that reads it.
std::string SettingPath(std::string_view text);

}  // namespace os
