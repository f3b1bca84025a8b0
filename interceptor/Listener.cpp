#include "Listener.h"

#include "platform/Presence.h"

namespace listener {

std::string LockPath() { return platform::presence::InterceptorLockPath(); }

pid_t RunningPid() { return platform::presence::InterceptorPid(); }

}  // namespace listener
