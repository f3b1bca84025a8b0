#include "hook/descriptors/Kernel.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace hook::kernel {

int Close(int fd)
{
    REAL(close);
    return real_close(fd);
}

int Fcntl(int fd, int command, long argument)
{
    REAL(fcntl);
    return real_fcntl(fd, command, argument);
}

int Dup3(int from, int to, int flags)
{
    REAL(dup3);
    return real_dup3(from, to, flags);
}

ssize_t Read(int fd, void* buffer, size_t size)
{
    REAL(read);
    return real_read(fd, buffer, size);
}

ssize_t Write(int fd, const void* buffer, size_t size)
{
    REAL(write);
    return real_write(fd, buffer, size);
}

int EpollControl(int epoll, int op, int fd, epoll_event* event)
{
    REAL(epoll_ctl);
    return real_epoll_ctl(epoll, op, fd, event);
}

int Connect(int fd, const sockaddr* address, socklen_t length)
{
    REAL(connect);
    return real_connect(fd, address, length);
}

int Accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    REAL(accept4);
    return real_accept4(fd, address, length, flags);
}

int GetSocketOption(int fd, int level, int name, void* value, socklen_t* length)
{
    REAL(getsockopt);
    return real_getsockopt(fd, level, name, value, length);
}

int GetPeerName(int fd, sockaddr* address, socklen_t* length)
{
    REAL(getpeername);
    return real_getpeername(fd, address, length);
}

int SetSocketOption(int fd, int level, int name, const void* value, socklen_t length)
{
    REAL(setsockopt);
    return real_setsockopt(fd, level, name, value, length);
}

int Shutdown(int fd, int how)
{
    REAL(shutdown);
    return real_shutdown(fd, how);
}

ssize_t SendTo(int fd, const void* buffer, size_t size, int flags, const sockaddr* to, socklen_t length)
{
    REAL(sendto);
    return real_sendto(fd, buffer, size, flags, to, length);
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    REAL(poll);
    return real_poll(fds, count, timeoutMs);
}

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
