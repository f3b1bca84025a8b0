#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The processes that have a rule engine loaded. Each registers itself with a
// file in the runtime folder holding its program's name, and keeps a lock on
// it for as long as it lives; the interceptor's process reads the folder to
// know whose reloads to wait for and whose end to report, also after a crash.
namespace platform::hosts {

struct HostRecord {
    pid_t pid = 0;
    std::string exeName;
    bool alive = false;
};

std::string HostsFolder();

// Registers the calling process; returns the descriptor to keep open (-1 on failure).
int RegisterHost(pid_t pid, const std::string& exeName);
std::vector<HostRecord> ListHosts();
void ForgetHost(pid_t pid);

}  // namespace platform::hosts
