#pragma once

#include "platform/HostRegistration.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The processes that have a rule engine loaded, as the interceptor's
// process reads them (registration itself is in HostRegistration.h).
namespace platform::hosts {

struct HostRecord {
    pid_t pid = 0;
    std::string exeName;
    bool alive = false;
};

// Empty when the runtime folder is not safe to use.
std::string HostsFolder();

// Registers the calling process; returns the descriptor to keep open (-1 on failure).
int RegisterHost(pid_t pid, const std::string& exeName);
std::vector<HostRecord> ListHosts();
void ForgetHost(pid_t pid);

}  // namespace platform::hosts
