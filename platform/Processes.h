#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The process table, read from /proc. The proc root is a parameter so that
// tests can build a process table of their own in a temporary folder.
namespace platform::processes {

inline constexpr const char* kProcRoot = "/proc";

struct ProcessEntry {
    pid_t pid = 0;
    pid_t parentPid = 0;
    std::string exePath;   // empty when the executable cannot be read ("does not open")
    std::string imageName; // upper-cased file part of exePath; empty with it
};

std::optional<ProcessEntry> ReadProcess(const std::string& procRoot, pid_t pid);
std::vector<ProcessEntry> Snapshot(const std::string& procRoot = kProcRoot);

// The full path of the process's executable, without a trailing " (deleted)".
std::string ExecutablePath(const std::string& procRoot, pid_t pid);
std::string OwnExecutablePath();

// A copy's file name such as "SETUP (2).EXE" names the program SETUP.EXE:
// when the file part holds " (" with a "." after it, the text from " (" up to
// the "." is removed.
std::string CleanCarrierPath(std::string path);
// The upper-cased file part: the name the rules and the update string use,
// escaped where the rules file needs it (rules_format::ProgramName).
std::string CarrierExeName(std::string_view exePath);

// The processes that run a copy of a library named fileName whose file has
// since been replaced or removed (an upgrade installed a new one): they keep
// the old code until they restart. Processes that cannot be examined are
// left out.
std::vector<pid_t> ProcessesWithReplacedLibrary(const std::string& procRoot, std::string_view fileName);

// The service manager's image name: the upper-cased file name of pid 1's
// executable, or of its command name when the executable cannot be read
// (another user's process); "INIT" when neither can.
std::string ServiceManagerImage(const std::string& procRoot);

// The service manager (pid 1) started the process as a system service: its
// cgroup is a unit under system.slice; without such cgroups, its parent is
// pid 1 and it runs under a system account.
bool IsSystemService(const std::string& procRoot, pid_t pid);

}  // namespace platform::processes
