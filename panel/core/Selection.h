#pragma once

#include <string>

namespace panel {

// What the main window shows on its right-hand side: the system settings,
// a program's entry, the programs of a tree group, a traffic log, or the
// Protection page.
struct Selection {
    enum class View { kSystem, kApplication, kGroup, kLog, kProtection };
    View view = View::kSystem;
    std::string application; // kApplication: the program's name as the rules give it
    std::string group;       // kGroup: the group's node text
    std::string logKey;      // kLog: "Log1" to "Log4"

    bool Shows(View shown) const { return view == shown; }
};

}  // namespace panel
