#pragma once

#include "protocol/hooksafe/CarrierRegistration.h"

#include <string>
#include <sys/types.h>
#include <vector>

// The processes that have a rule engine loaded, as the interceptor's
// process reads them (registration itself is in CarrierRegistration.h).
namespace protocol::carriers {

struct CarrierRecord {
    pid_t pid = 0;
    std::string exeName;
    bool alive = false;
};

// Empty when the runtime folder is not safe to use.
std::string CarriersFolder();

// Registers the calling process; returns the descriptor to keep open (-1 on failure).
int RegisterCarrier(pid_t pid, const std::string& exeName);
std::vector<CarrierRecord> ListCarriers();
void ForgetCarrier(pid_t pid);

}  // namespace protocol::carriers
