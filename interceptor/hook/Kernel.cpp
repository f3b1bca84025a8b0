#include "Kernel.h"

#include <sys/resource.h>

namespace hook::kernel {

int MoveHigh(int fd)
{
    constexpr int kFloor = 900;
    if (fd < 0)
        return fd;
    int moved = fd < kFloor ? Fcntl(fd, F_DUPFD_CLOEXEC, kFloor) : -1;
    if (moved < 0 && fd < kFloor) {
        rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
            && static_cast<long>(limit.rlim_cur) - 64 > fd)
            moved = Fcntl(fd, F_DUPFD_CLOEXEC, static_cast<long>(limit.rlim_cur) - 64);
    }
    if (moved < 0) {
        Fcntl(fd, F_SETFD, FD_CLOEXEC);
        return fd;
    }
    Close(fd);
    return moved;
}

}  // namespace hook::kernel
