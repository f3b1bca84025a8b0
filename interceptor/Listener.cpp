#include "Listener.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Presence.h"
#include "platform/Text.h"

#include <fcntl.h>
#include <unistd.h>

namespace listener {

std::string LockPath() { return platform::RuntimePath("zelconn.lock"); }

pid_t RunningPid()
{
    const std::string path = LockPath();
    if (path.empty() || !platform::presence::IsLockFileHeld(path))
        return 0;
    const auto text = platform::ReadFile(path, 64, false);
    const auto pid = static_cast<pid_t>(platform::ParseDecimal(text.value_or("")));
    return pid > 0 ? pid : 0;
}

}  // namespace listener
