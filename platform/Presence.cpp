#include "platform/Presence.h"

#include "platform/Paths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform::presence {

std::string ControlPanelLockPath() { return RuntimeDir() + "/zel.lock"; }

int HoldControlPanelLock(const std::string& lockPath)
{
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsControlPanelRunning(const std::string& lockPath)
{
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    // Closing the descriptor also drops the shared lock taken when nobody held it.
    ::close(fd);
    return held;
}

}  // namespace platform::presence
