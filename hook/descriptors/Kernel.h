#pragma once

#include <atomic>
#include <dlfcn.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/types.h>

// Calls the hook makes on its own descriptors while it holds its own locks:
// to the next definition after the hook's (the C library's, or a
// sanitizer's in front of it), never through the program's calls that the
// hook itself stands in for, which would take the same locks again.
// real_NAME: the C library's function the hook's own NAME stands in front
// of (the next definition after the hook's), found at its first use: a
// program that never calls it never pays for looking it up. Each use keeps
// its address in a section of its own, so that all of them can be looked up
// at once before the program installs a signal handler (see Signals.cpp):
// a handler may call write or close, and dlsym is no call for a handler.
namespace hook {

struct alignas(16) RealFunction {
    const char* name;
    std::atomic<void*> address;
};

// Finds function's address (dlsym), keeps it and returns it.
void* LookUp(RealFunction& function);
// Every function of the hook's REAL uses not looked up yet: once.
void LookUpAllRealFunctions();

}  // namespace hook

// A function the hook puts in front of the C library's of the same name.
#define ZEL_HOOK extern "C" __attribute__((visibility("default")))

#define REAL(name)                                                                                     \
    __attribute__((section("zel_real_functions"), used)) static constinit ::hook::RealFunction         \
        real_##name##_function {#name, {nullptr}};                                                     \
    void* real_##name##_address = real_##name##_function.address.load(std::memory_order_relaxed);    \
    if (!real_##name##_address)                                                                        \
        real_##name##_address = ::hook::LookUp(real_##name##_function);                                \
    const auto real_##name = reinterpret_cast<decltype(&::name)>(real_##name##_address)

namespace hook::kernel {

int Close(int fd);
int Fcntl(int fd, int command, long argument = 0);
int Dup3(int from, int to, int flags);
ssize_t Read(int fd, void* buffer, size_t size);
ssize_t Write(int fd, const void* buffer, size_t size);
int EpollControl(int epoll, int op, int fd, epoll_event* event);
int Connect(int fd, const sockaddr* address, socklen_t length);
int Accept4(int fd, sockaddr* address, socklen_t* length, int flags);
int GetSocketOption(int fd, int level, int name, void* value, socklen_t* length);
int GetPeerName(int fd, sockaddr* address, socklen_t* length);
int SetSocketOption(int fd, int level, int name, const void* value, socklen_t length);
int Shutdown(int fd, int how);
ssize_t SendTo(int fd, const void* buffer, size_t size, int flags, const sockaddr* to, socklen_t length);
int Poll(pollfd* fds, nfds_t count, int timeoutMs);

// A descriptor of the firewall's own moved far above the numbers a program
// uses (select() cannot watch numbers past 1023, so they stay the
// program's), with close-on-exec; the original is closed. When there is no
// room up there it stays where it is.
int MoveHigh(int fd);

}  // namespace hook::kernel
