#pragma once

#include "settings/PanelState.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

// Which programs run, and what the engines' alert answers make of them.
namespace panel {

// The running programs as one text: for each, the separator, "+" for a
// system service (when showSystem; otherwise services are left out), then
// the upper-cased full path (fullPaths) or file name. The control panel and
// the interceptor are never listed: they are recognised by their exact file
// names, not by a part of a folder name. Processes that cannot be examined
// (another user's) are left out. keepCase keeps paths as they are (Linux
// file names are case-sensitive), for an entry that records the path.
std::string GetWindowsProcess(const std::string& separator, bool fullPaths, bool showSystem,
                              const std::string& procRoot, bool keepCase = false);

// The programs today's log records as started that still run: their full
// paths each after "$$" (fullPaths), or, without fullPaths, each published
// on the update list so that their engines reload. Names are compared whole.
std::string UpdateLspWithRelatedProcList(PanelState& state, bool fullPaths, bool showSystem,
                                         const std::string& procRoot, std::time_t now);

// What an alert's answer made of a program: the name and description the
// window selects.
struct AlertedApp {
    std::string exeName;
    std::string description;
};

// Codes 1 to 4: the program of the process becomes an entry of its own with
// the answered direction's default (and the other direction's carried over),
// replacing an entry it had; saved and published. Code 5 (the program ended)
// takes exeName off the update list. nullopt when nothing was stored: a
// process that cannot be examined changes nothing (logged).
std::optional<AlertedApp> SetNewApp(PanelState& state, int alertCode, uint32_t processId,
                                    const std::string& procRoot, const std::string& endedExeName = "");

}  // namespace panel
