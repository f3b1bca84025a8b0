#include "zelconn/Listener.h"

#include "protocol/Presence.h"

namespace zelconn::listener {

std::string LockPath() { return protocol::presence::InterceptorLockPath(); }

pid_t RunningPid() { return protocol::presence::InterceptorPid(); }

}  // namespace zelconn::listener
