#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace panel {

// Which programs run: the running-process list, the programs started today
// that still run, and those still running an engine an update replaced.

// The running programs as one text: for each, the separator, "+" for a
// system service (when showSystem; otherwise services are left out), then
// the upper-cased full path (fullPaths) or file name. The control panel and
// the interceptor are never listed: they are recognised by their exact file
// names, not by a part of a folder name. Processes that cannot be examined
// (another user's) are left out. keepCase keeps paths as they are (Linux
// file names are case-sensitive), for an entry that records the path.
std::string GetWindowsProcess(const std::string& separator, bool fullPaths, bool showSystem,
                              const std::string& procRoot, bool keepCase = false);

// The programs today's log in logFolder records as started that still run
// (system services only withServices): their full paths, each once, in the
// log's order.
std::vector<std::string> StartedProgramsRunning(const std::string& logFolder, const std::string& procRoot,
                                                std::time_t now, bool withServices);

// Of the paths, those a running process was started from (its executable
// exactly), in their order: a program that ended, or another of the same
// name, is not the one the log names.
std::vector<std::string> StillRunning(const std::vector<std::string>& paths, const std::string& procRoot);

// The programs (names as the rules give them, each once, sorted) still
// running a firewall engine whose file an upgrade replaced: they decide by
// the rules as that engine reads them (rules by host name, for one, were
// unknown to older engines, which then block more) until they restart.
std::vector<std::string> ProgramsOnReplacedEngine(const std::string& procRoot);

// The service manager's image name: the upper-cased file name of pid 1's
// executable, or of its command name when the executable cannot be read
// (another user's process); "INIT" when neither can.
std::string ServiceManagerImage(const std::string& procRoot);

}  // namespace panel
