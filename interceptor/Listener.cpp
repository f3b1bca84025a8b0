#include "Listener.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <fcntl.h>
#include <unistd.h>

namespace listener {

std::string LockPath() { return platform::RuntimeDir() + "/zelconn.lock"; }

pid_t RunningPid()
{
    const std::string path = LockPath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct flock query {};
    query.l_type = F_RDLCK;
    query.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_OFD_GETLK, &query) == 0 && query.l_type != F_UNLCK;
    ::close(fd);
    if (!held)
        return 0;
    const auto text = platform::ReadFile(path, 64);
    const auto pid = static_cast<pid_t>(platform::ParseDecimal(text.value_or("")));
    return pid > 0 ? pid : 0;
}

}  // namespace listener
