#pragma once

#include <string>
#include <sys/types.h>

// The interceptor's process is one per runtime folder: it holds a lock on
// its lock file, which also names its process id.
namespace zelconn::listener {

std::string LockPath();
// The pid of the running interceptor process, or 0.
pid_t RunningPid();

}  // namespace zelconn::listener
