#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

// The process table, read from /proc. The proc root is a parameter so that
// tests can build a process table of their own in a temporary folder.
namespace os::processes {

inline constexpr const char* kProcRoot = "/proc";

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parentPid = 0;
    std::string exePath;   // empty when the executable cannot be read ("does not open")
    std::string imageName; // upper-cased file part of exePath; empty with it
};

std::optional<ProcessEntry> ReadProcess(const std::string& procRoot, pid_t pid);
std::vector<ProcessEntry> Snapshot(const std::string& procRoot = kProcRoot);

// The ids, ascending, of the processes whose /proc folder belongs to owner:
// its effective uid (root while the process may not be examined). Reads
// nothing inside the folders.
std::vector<pid_t> ProcessIds(const std::string& procRoot, uid_t owner);

// What a process's stat file says of its parent and start.
struct ProcessStat {
    pid_t parentPid = 0;
    unsigned long long startTime = 0; // clock ticks after boot: with the pid, names one process
};
std::optional<ProcessStat> ReadStat(const std::string& procRoot, pid_t pid);

// The full path of the process's executable, without a trailing " (deleted)".
std::string ExecutablePath(const std::string& procRoot, pid_t pid);
std::string OwnExecutablePath();

// The processes that run a copy of a library named fileName whose file has
// since been replaced or removed (an upgrade installed a new one): they keep
// the old code until they restart. Processes that cannot be examined are
// left out.
std::vector<pid_t> ProcessesWithReplacedLibrary(const std::string& procRoot, std::string_view fileName);

// The service manager (pid 1) started the process as a system service: its
// cgroup is a unit under system.slice; without such cgroups, its parent is
// pid 1 and it runs under a system account.
bool IsSystemService(const std::string& procRoot, pid_t pid);

// The value of a "Name:" line of a /proc status file, without the blanks
// before it; empty when there is no such line.
std::string_view StatusField(std::string_view status, std::string_view name);

// The ordinary users' uids, from login.defs (UID_MIN, UID_MAX) as useradd
// takes them, else 1000 to 60000: everyone else's programs are the system's
// services.
std::pair<uid_t, uid_t> OrdinaryUsers(const std::string& loginDefs = "/etc/login.defs");

}  // namespace os::processes
