// The calls that make, close, copy or set descriptors: what the hook knows
// of each follows them, and on a number that stands in for a socket kept
// aside while the user decides (StandIns.h) they reach the socket.
#include "hook/decisions/Decisions.h"

#include "hook/Vfork.h"
#include "hook/decisions/Datagrams.h"
#include "hook/decisions/StandIns.h"
#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Lifecycle.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/names/DnsReplies.h"

#include <cstdarg>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

namespace {

// A call that reads or sets a socket's state, made on the socket a number
// stands in for while the user decides about its connection.
template <typename Call>
auto OnSocket(int fd, Call call) -> decltype(call(fd))
{
    if (AnyMarks() && (MarksOf(fd) & kMarkStandsIn)) {
        const int socket = HoldKeptSocket(fd);
        if (socket >= 0) {
            const auto result = call(socket);
            const int error = errno;
            ReleaseKeptSocket();
            errno = error;
            return result;
        }
    }
    return call(fd);
}

}  // namespace

// ---- Descriptors ----------------------------------------------------------------

ZEL_HOOK int socket(int domain, int type, int protocol) noexcept
{
    REAL(socket);
    const int fd = real_socket(domain, type, protocol);
    if (fd >= 0 && !InParentsMemory()) {
        ForgetDescriptor(fd);
        const Kind kind = KindFrom(domain, type, protocol);
        SetKind(fd, kind);
        if (IsIpSocket(kind))
            SetBoundPort(fd, 0, true);
    }
    return fd;
}

ZEL_HOOK int socketpair(int domain, int type, int protocol, int fds[2]) noexcept
{
    REAL(socketpair);
    const int result = real_socketpair(domain, type, protocol, fds);
    if (result == 0 && !InParentsMemory())
        for (int i = 0; i < 2; ++i) {
            ForgetDescriptor(fds[i]);
            SetKind(fds[i], kOther);
        }
    return result;
}

ZEL_HOOK int close(int fd)
{
    REAL(close);
    // One of the firewall's own: whatever the program means to close, it
    // never opened this one.
    if (IsGuarded(fd))
        return 0;
    if (AnyMarks()) {
        const unsigned char marks = MarksOf(fd);
        if (marks & kMarkKept)
            return 0;
        // Closing a number that stands in withdraws its questions (the
        // parent's, which a vfork child's close leaves alone).
        if ((marks & kMarkStandsIn) && !InParentsMemory())
            Withdraw(fd);
    }
    ForgetDescriptor(fd);
    return real_close(fd);
}

namespace {

// The lowest descriptor in [first, last] the program's close calls must leave alone.
bool FirstProtectedIn(unsigned first, unsigned last, unsigned& fd)
{
    unsigned guarded = 0, kept = 0;
    const bool isGuarded = FirstGuardedIn(first, last, guarded);
    const bool isKept = AnyMarks() && FirstMarkedIn(first, last, kMarkKept, kept);
    if (!isGuarded && !isKept)
        return false;
    fd = !isKept || (isGuarded && guarded < kept) ? guarded : kept;
    return true;
}

}  // namespace

ZEL_HOOK int close_range(unsigned int first, unsigned int last, int flags) noexcept
{
    REAL(close_range);
    unsigned guarded = 0;
    if (!(flags & CLOSE_RANGE_CLOEXEC) && AnyMarks() && !InParentsMemory())
        for (unsigned from = first; from <= last && FirstMarkedIn(from, last, kMarkStandsIn, guarded); from = guarded + 1)
            Withdraw(static_cast<int>(guarded));
    if ((flags & CLOSE_RANGE_CLOEXEC) || !FirstProtectedIn(first, last, guarded)) {
        const int result = real_close_range(first, last, flags);
        if (result == 0 && !(flags & CLOSE_RANGE_CLOEXEC))
            ForgetRange(first, last);
        return result;
    }
    // Closed around the firewall's own descriptors.
    int result = 0;
    for (unsigned from = first; result == 0 && from <= last;) {
        if (!FirstProtectedIn(from, last, guarded)) {
            result = real_close_range(from, last, flags);
            break;
        }
        if (guarded > from)
            result = real_close_range(from, guarded - 1, flags);
        if (guarded == last)
            break;
        from = guarded + 1;
    }
    ForgetRange(first, last);
    return result;
}

ZEL_HOOK void closefrom(int lowest) noexcept
{
    close_range(static_cast<unsigned>(lowest < 0 ? 0 : lowest), ~0u, 0);
}

// A copy of a number that stands in is a copy of the socket itself.
ZEL_HOOK int dup(int fd) noexcept
{
    REAL(dup);
    return Duplicated(fd, OnSocket(fd, [&](int socket) { return real_dup(socket); }));
}

namespace {

// The program puts a file under to: a descriptor of the firewall's there
// moves, questions about a socket that stood in there are withdrawn.
// A vfork child replaces its own copy: ours stay where the parent has them.
void Replacing(int from, int to)
{
    if (InParentsMemory())
        return;
    if (IsGuarded(to))
        MoveGuardedAside(to);
    if (AnyMarks()) {
        const unsigned char marks = MarksOf(to);
        if (marks & kMarkKept)
            MoveKeptAside(to);
        if (marks & kMarkStandsIn)
            Withdraw(to);
    }
}

}  // namespace

ZEL_HOOK int dup2(int from, int to) noexcept
{
    REAL(dup2);
    if (from == to)
        return real_dup2(from, to);
    Replacing(from, to);
    return Duplicated(from, OnSocket(from, [&](int socket) { return real_dup2(socket, to); }));
}

ZEL_HOOK int dup3(int from, int to, int flags) noexcept
{
    REAL(dup3);
    if (from == to)
        return real_dup3(from, to, flags);
    Replacing(from, to);
    return Duplicated(from, OnSocket(from, [&](int socket) { return real_dup3(socket, to, flags); }));
}

// fcntl duplicates too (F_DUPFD); its third argument is passed on as the C
// library reads it. On a number that stands in, everything but the
// number's own flags (close-on-exec) concerns the socket.
#define FCNTL_WRAPPER(name)                                                                        \
    ZEL_HOOK int name(int fd, int command, ...)                                                    \
    {                                                                                              \
        REAL(name);                                                                                \
        va_list arguments;                                                                         \
        va_start(arguments, command);                                                              \
        void* argument = va_arg(arguments, void*);                                                 \
        va_end(arguments);                                                                         \
        const int result = command == F_GETFD || command == F_SETFD                                \
            ? real_##name(fd, command, argument)                                                   \
            : OnSocket(fd, [&](int socket) { return real_##name(socket, command, argument); });   \
        if (command == F_DUPFD || command == F_DUPFD_CLOEXEC)                                      \
            Duplicated(fd, result);                                                                \
        return result;                                                                             \
    }

FCNTL_WRAPPER(fcntl)
FCNTL_WRAPPER(fcntl64)

ZEL_HOOK int ioctl(int fd, unsigned long request, ...) noexcept
{
    REAL(ioctl);
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (request == FIOCLEX || request == FIONCLEX)
        return real_ioctl(fd, request, argument);
    return OnSocket(fd, [&](int socket) { return real_ioctl(socket, request, argument); });
}

ZEL_HOOK int bind(int fd, const sockaddr* address, socklen_t length) noexcept
{
    REAL(bind);
    const int result = OnSocket(fd, [&](int socket) { return real_bind(socket, address, length); });
    unsigned port = 0;
    if (result == 0 && IsIpSocket(KnownKind(fd)) && PortOf(address, port))
        SetBoundPort(fd, port, port != 0);
    return result;
}

ZEL_HOOK int listen(int fd, int backlog) noexcept
{
    REAL(listen);
    return OnSocket(fd, [&](int socket) { return real_listen(socket, backlog); });
}

ZEL_HOOK int shutdown(int fd, int how) noexcept
{
    REAL(shutdown);
    return OnSocket(fd, [&](int socket) { return real_shutdown(socket, how); });
}

ZEL_HOOK int getsockname(int fd, sockaddr* address, socklen_t* length) noexcept
{
    REAL(getsockname);
    return OnSocket(fd, [&](int socket) { return real_getsockname(socket, address, length); });
}

ZEL_HOOK int getpeername(int fd, sockaddr* address, socklen_t* length) noexcept
{
    REAL(getpeername);
    return OnSocket(fd, [&](int socket) { return real_getpeername(socket, address, length); });
}

// A connection the user refused reports it once, as a refused one does.
ZEL_HOOK int getsockopt(int fd, int level, int name, void* value, socklen_t* length) noexcept
{
    REAL(getsockopt);
    if (AnyMarks() && level == SOL_SOCKET && name == SO_ERROR && value && length && *length >= sizeof(int)
        && TakeRefusal(fd)) {
        const int refused = ECONNREFUSED;
        std::memcpy(value, &refused, sizeof refused);
        *length = sizeof refused;
        return 0;
    }
    return OnSocket(fd, [&](int socket) { return real_getsockopt(socket, level, name, value, length); });
}

ZEL_HOOK int setsockopt(int fd, int level, int name, const void* value, socklen_t length) noexcept
{
    REAL(setsockopt);
    return OnSocket(fd, [&](int socket) { return real_setsockopt(socket, level, name, value, length); });
}

// The program's epoll sets learn nothing of a stand-in: what it registers
// for the number is followed, and the socket takes its place when it comes back.
ZEL_HOOK int epoll_ctl(int epoll, int op, int fd, epoll_event* event) noexcept
{
    REAL(epoll_ctl);
    int result;
    if (AnyMarks() && (MarksOf(fd) & kMarkStandsIn) && EpollControl(epoll, op, fd, event, result))
        return result;
    return real_epoll_ctl(epoll, op, fd, event);
}
