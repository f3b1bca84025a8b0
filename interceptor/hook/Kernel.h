#pragma once

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

// System calls the hook makes on its own descriptors while it holds its own
// locks: straight to the kernel, never through the program's calls that the
// hook itself stands in for (which would take the same locks again).
namespace hook::kernel {

inline int Close(int fd) { return static_cast<int>(::syscall(SYS_close, fd)); }
inline int Fcntl(int fd, int command, long argument = 0)
{
    return static_cast<int>(::syscall(SYS_fcntl, fd, command, argument));
}
inline int Dup3(int from, int to, int flags) { return static_cast<int>(::syscall(SYS_dup3, from, to, flags)); }
inline ssize_t Read(int fd, void* buffer, size_t size) { return ::syscall(SYS_read, fd, buffer, size); }
inline ssize_t Write(int fd, const void* buffer, size_t size) { return ::syscall(SYS_write, fd, buffer, size); }
inline int EpollControl(int epoll, int op, int fd, epoll_event* event)
{
    return static_cast<int>(::syscall(SYS_epoll_ctl, epoll, op, fd, event));
}
inline int Connect(int fd, const sockaddr* address, socklen_t length)
{
    return static_cast<int>(::syscall(SYS_connect, fd, address, length));
}
inline int Accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    return static_cast<int>(::syscall(SYS_accept4, fd, address, length, flags));
}
inline int GetSocketOption(int fd, int level, int name, void* value, socklen_t* length)
{
    return static_cast<int>(::syscall(SYS_getsockopt, fd, level, name, value, length));
}
inline int SetSocketOption(int fd, int level, int name, const void* value, socklen_t length)
{
    return static_cast<int>(::syscall(SYS_setsockopt, fd, level, name, value, length));
}
inline int Shutdown(int fd, int how) { return static_cast<int>(::syscall(SYS_shutdown, fd, how)); }
inline int Poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    const timespec timeout {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    return static_cast<int>(::syscall(SYS_ppoll, fds, count, timeoutMs < 0 ? nullptr : &timeout, nullptr, _NSIG / 8));
}

// A descriptor of the firewall's own moved far above the numbers a program
// uses (select() cannot watch numbers past 1023, so they stay the
// program's), with close-on-exec; the original is closed. When there is no
// room up there it stays where it is.
int MoveHigh(int fd);

}  // namespace hook::kernel
