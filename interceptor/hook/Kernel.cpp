#include "Kernel.h"

#include <atomic>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace hook::kernel {

namespace {

// The next definition of name after the hook's, found at its first use.
#define NEXT(name)                                                                    \
    static std::atomic<void*> next_##name##_found {nullptr};                          \
    void* next_##name##_address = next_##name##_found.load(std::memory_order_relaxed); \
    if (!next_##name##_address) {                                                     \
        next_##name##_address = ::dlsym(RTLD_NEXT, #name);                            \
        next_##name##_found.store(next_##name##_address, std::memory_order_relaxed);  \
    }                                                                                 \
    const auto next_##name = reinterpret_cast<decltype(&::name)>(next_##name##_address)

}  // namespace

int Close(int fd)
{
    NEXT(close);
    return next_close(fd);
}

int Fcntl(int fd, int command, long argument)
{
    NEXT(fcntl);
    return next_fcntl(fd, command, argument);
}

int Dup3(int from, int to, int flags)
{
    NEXT(dup3);
    return next_dup3(from, to, flags);
}

ssize_t Read(int fd, void* buffer, size_t size)
{
    NEXT(read);
    return next_read(fd, buffer, size);
}

ssize_t Write(int fd, const void* buffer, size_t size)
{
    NEXT(write);
    return next_write(fd, buffer, size);
}

int EpollControl(int epoll, int op, int fd, epoll_event* event)
{
    NEXT(epoll_ctl);
    return next_epoll_ctl(epoll, op, fd, event);
}

int Connect(int fd, const sockaddr* address, socklen_t length)
{
    NEXT(connect);
    return next_connect(fd, address, length);
}

int Accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    NEXT(accept4);
    return next_accept4(fd, address, length, flags);
}

int GetSocketOption(int fd, int level, int name, void* value, socklen_t* length)
{
    NEXT(getsockopt);
    return next_getsockopt(fd, level, name, value, length);
}

int SetSocketOption(int fd, int level, int name, const void* value, socklen_t length)
{
    NEXT(setsockopt);
    return next_setsockopt(fd, level, name, value, length);
}

int Shutdown(int fd, int how)
{
    NEXT(shutdown);
    return next_shutdown(fd, how);
}

ssize_t SendTo(int fd, const void* buffer, size_t size, int flags, const sockaddr* to, socklen_t length)
{
    NEXT(sendto);
    return next_sendto(fd, buffer, size, flags, to, length);
}

int Poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    NEXT(poll);
    return next_poll(fds, count, timeoutMs);
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
