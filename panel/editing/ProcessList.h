#pragma once

#include "settings/PanelState.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

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

// The programs (names as the rules give them, each once, sorted) still
// running a firewall engine whose file an upgrade replaced: they decide by
// the rules as that engine reads them (rules by host name, for one, were
// unknown to older engines, which then block more) until they restart.
std::vector<std::string> ProgramsOnReplacedEngine(const std::string& procRoot);

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
// process that cannot be examined changes nothing (logged). pathHint is the
// program's path as its engine sent it, used when the process has ended.
std::optional<AlertedApp> SetNewApp(PanelState& state, int alertCode, uint32_t processId,
                                    const std::string& procRoot, const std::string& endedExeName = "",
                                    const std::string& pathHint = "");

// Codes 7 and 8: an outgoing answer the user applied to one host. The
// program gets a rule, first among its rules, that blocks (7) or permits (8)
// its outgoing connections to hostName on every port; an entry is made for a
// program without one, with the general defaults. A rule made so earlier for
// the same host gives way. hostName must be a normalised exact name; anything
// else, like a process that cannot be examined, changes nothing (logged).
std::optional<AlertedApp> SetHostRule(PanelState& state, int alertCode, uint32_t processId,
                                      const std::string& procRoot, const std::string& hostName,
                                      const std::string& pathHint = "");

}  // namespace panel
