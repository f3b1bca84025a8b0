// libzelhook.so: loaded into a program with LD_PRELOAD, it stands between the
// program and the socket calls of the C library. Every TCP connection made or
// accepted and every UDP datagram sent or received is put to the rule engine
// before it happens; a denied one never reaches the network. Everything that
// is not an IPv4 or IPv6 socket passes untouched.
//
// The hook is loaded into every program at its start, so it brings nothing
// along: no C++ runtime, no allocation at start, nothing resolved before it
// is needed. What a denial looks like to the program is what the kernel does
// in the nearest case: a refused connect, a connection reset before it was
// accepted, a datagram that never arrived.
#include "hook/decisions/Datagrams.h"
#include "hook/decisions/Decisions.h"
#include "hook/names/DnsReplies.h"
#include "hook/EngineHost.h"
#include "hook/descriptors/Kernel.h"
#include "hook/names/Names.h"
#include "hook/descriptors/Peer.h"
#include "hook/decisions/Questions.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/decisions/StandIns.h"
#include "hook/Vfork.h"
#include "os/hooksafe/Environment.h"

#include <atomic>
#include <cstdarg>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

namespace hook {

// Not from a vfork child: what it closes or replaces is its own copy of the
// number, and what the hook knows of it is the parent's (Vfork.h).
void ForgetDescriptor(int fd)
{
    if (InParentsMemory())
        return;
    if (KnownKind(fd) == kUdpSocket)
        ForgetDatagrams(fd);
    if (IsDnsStream(fd))
        EndDnsStream(fd);
    Forget(fd);
}

void ForgetRange(unsigned first, unsigned last)
{
    if (InParentsMemory())
        return;
    unsigned fd = 0;
    for (unsigned from = first; from <= last && FirstKnownIn(from, last, fd); from = fd + 1)
        ForgetDescriptor(static_cast<int>(fd));
}

// A descriptor duplicated: what is known of the original holds for the copy.
int Duplicated(int from, int to)
{
    if (to >= 0 && to != from && !InParentsMemory()) {
        ForgetDescriptor(to);
        CopyKnowledge(from, to);
        if (KnownKind(from) == kUdpSocket) {
            ShareDatagramSocket(from);
            ShareDatagramSocket(to);
        }
    }
    return to;
}

}  // namespace hook

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


// Accepts as the program's call does (acceptOnce makes the same system call
// into the hook's own address; flags are accept4's), and decides an incoming
// IP connection. A listener the program does not wait on (a
// non-blocking one, or one with a receive time-out) never waits for the
// user: a connection the user must decide is held back meanwhile (see
// StandIns.h) and the call goes on to the next, or ends as the kernel's
// would (EAGAIN, at once or at the time-out).
template <typename AcceptOnce>
int Accepted(int fd, sockaddr* address, socklen_t* length, int flags, AcceptOnce acceptOnce)
{
    const Kind kind = t_inside == 0 ? KnownKind(fd) : kOther;
    if (kind == kOther || kind == kUdpSocket) {
        const int connection = acceptOnce(address, length);
        if (connection >= 0) {
            ForgetDescriptor(connection);
            SetKind(connection, kOther);
        }
        return connection;
    }
    // A receive time-out counts from the call's start, as the kernel counts it.
    const long long start = NowMs();
    long long deadline = -1; // not looked at yet; 0: none
    for (;;) {
        sockaddr_storage from {};
        socklen_t fromLength = sizeof from;
        bool handedOver = false;
        int connection = -2;
        if (AnyMarks() && (MarksOf(fd) & kMarkStandsIn)) {
            // A blocking listener waits for the stand-in to be readable: a
            // connection in the queue, or one held back that was permitted.
            if (!IsNonBlocking(fd, 0)) {
                if (deadline < 0) {
                    const long long timeout = ReceiveTimeoutMs(fd);
                    deadline = timeout ? start + timeout : 0;
                }
                const int ready = WaitReadable(fd, deadline);
                if (ready == 0)
                    errno = EAGAIN;
                if (ready <= 0)
                    return -1;
            }
            connection = AcceptOnStandIn(fd, reinterpret_cast<sockaddr*>(&from), &fromLength, flags, handedOver);
        }
        if (connection == -2)
            connection = acceptOnce(reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (connection < 0)
            return connection;
        const auto deliver = [&] {
            if (address && length) {
                std::memcpy(address, &from, *length < fromLength ? *length : fromLength);
                *length = fromLength;
            }
            return connection;
        };
        ForgetDescriptor(connection);
        Peer peer;
        if (fromLength == 0 || !DescribePeer(reinterpret_cast<sockaddr*>(&from), peer)) {
            if (fromLength > 0)
                SetKind(connection, kOther);
            return deliver();
        }
        // A connection from an IP peer: the listener was a TCP socket all along.
        if (kind == kUnknown)
            SetKind(fd, kTcpSocket);
        SetKind(connection, kTcpSocket);
        const unsigned localPort = ListeningPort(fd);
        SetBoundPort(connection, localPort, true);
        if (handedOver)
            return deliver(); // permitted while it was held back
        Question question;
        Verdict verdict = Assess(kIncoming, peer, kTcp, localPort, question);
        if (verdict == Verdict::kUndecided) {
            const bool nonBlocking = IsNonBlocking(fd, 0);
            if (!nonBlocking && deadline < 0) {
                const long long timeout = ReceiveTimeoutMs(fd);
                deadline = timeout ? start + timeout : 0;
            }
            if ((nonBlocking || deadline > 0)
                && HoldConnection(fd, connection, reinterpret_cast<sockaddr*>(&from), fromLength, question))
                continue;
            verdict = AskNow(question);
        }
        if (verdict != Verdict::kPermitted) {
            // What the kernel does with a connection reset before it was
            // accepted: accept hands it over and it reads as reset. Nothing of
            // what the other side sent reaches the program, nothing the
            // program writes reaches it, and the other side sees a reset.
            REAL(connect);
            sockaddr unspecified {};
            unspecified.sa_family = AF_UNSPEC;
            real_connect(connection, &unspecified, sizeof unspecified);
            if (verdict == Verdict::kInterrupted) {
                close(connection);
                errno = EINTR;
                return -1;
            }
        }
        return deliver();
    }
}

__attribute__((constructor)) void HookAttach()
{
    StartUp();
    SetAsker(AskEngine);
    // What the program inherited is looked at now, before it can have
    // forbidden itself the calls that tell.
    if (!os::IsSecureExecution())
        LearnInheritedDescriptors();
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

// ---- Connections -----------------------------------------------------------------

// A TCP connection is decided when it is made; a datagram socket's connect()
// only names the peer its datagrams go to, and they are decided when they
// leave or arrive: a socket connected only to learn a route (ping's probe, a
// browser's look for its own address) sends nothing and is never decided.
ZEL_HOOK int connect(int fd, const sockaddr* address, socklen_t length)
{
    REAL(connect);
    if (AnyMarks() && t_inside == 0) {
        int result;
        if (ConnectAgain(fd, result))
            return result;
        if (TakeRefusal(fd)) {
            errno = ECONNREFUSED;
            return -1;
        }
    }
    Peer peer;
    Kind kind = kUnknown;
    const bool toPeer = t_inside == 0 && address && DescribeDestination(fd, address, peer);
    if (t_inside == 0 && address && address->sa_family == AF_UNSPEC) {
        // A socket disconnected: whatever it connects to next is decided anew.
        ForgetDatagrams(fd, false);
        SetDecidedPeer(fd, 0);
    } else if (toPeer) {
        kind = KindOf(fd);
        if (kind == kTcpSocket) {
            Question question;
            Verdict verdict = PermitsConnection(fd, peer, question);
            int result = 0;
            if (verdict == Verdict::kUndecided
                && (verdict = AskAboutConnection(fd, address, length, peer, question, 0, true, result)) == Verdict::kAsking)
                return result;
            if (verdict != Verdict::kPermitted)
                return Refuse(verdict, ECONNREFUSED);
        } else if (kind == kUdpSocket) {
            // Until it is connected, its sends ask the kernel where they go.
            ForgetConnectedPeer(fd);
        }
    }
    int result = real_connect(fd, address, length);
    // Started before the kernel backstop was installed, the program had no
    // registration for it to take: it registers now and tries once more.
    if (result != 0 && errno == EPERM && toPeer && RegisterAgainWithBackstop())
        result = real_connect(fd, address, length);
    if (kind == kUdpSocket && result == 0)
        SetConnectedPeer(fd, peer);
    if (kind == kTcpSocket && peer.port == 53 && (result == 0 || errno == EINPROGRESS)) {
        const int error = errno;
        SetDnsStream(fd);
        StartDnsStream(fd);
        errno = error;
    }
    return result;
}

ZEL_HOOK int accept4(int fd, sockaddr* address, socklen_t* length, int flags)
{
    REAL(accept4);
    return Accepted(fd, address, length, flags,
                    [&](sockaddr* from, socklen_t* fromLength) { return real_accept4(fd, from, fromLength, flags); });
}

ZEL_HOOK int accept(int fd, sockaddr* address, socklen_t* length)
{
    REAL(accept);
    return Accepted(fd, address, length, 0,
                    [&](sockaddr* from, socklen_t* fromLength) { return real_accept(fd, from, fromLength); });
}

// ---- Sending -------------------------------------------------------------------------

ZEL_HOOK ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to, socklen_t toLength)
{
    REAL(sendto);
    if (!MayMoveData(fd, true, flags))
        return -1;
    const iovec part {const_cast<void*>(buffer), length};
    const OutgoingDatagram sent {&part, 1, to, toLength};
    Peer peer;
    switch (t_inside == 0 ? DecideSend(fd, to, toLength, flags, &sent, peer) : Send::kMake) {
    case Send::kMake:
        NoteDnsDatagram(fd, peer, &part, 1);
        break;
    case Send::kHeldBack:
        // It leaves once its peer is permitted: its answer may come then.
        NoteDnsDatagram(fd, peer, &part, 1);
        return static_cast<ssize_t>(length);
    case Send::kRefused:
    case Send::kStarted:
        return -1;
    }
    return CountTraffic(fd, kSentCounter,
                        FollowDnsQueries(fd, &part, 1, real_sendto(fd, buffer, length, flags, to, toLength)));
}

namespace {

// A send on a connected datagram socket: made (true), or ended with result.
bool MayMakeConnectedSend(int fd, int flags, const iovec* parts, size_t count, ssize_t& result)
{
    if (!MayMoveData(fd, true, flags)) {
        result = -1;
        return false;
    }
    if (!IsKnownDatagram(fd))
        return true;
    msghdr message {};
    message.msg_iov = const_cast<iovec*>(parts);
    message.msg_iovlen = count;
    const auto length = static_cast<ssize_t>(MessageBytes(&message));
    const OutgoingDatagram sent {parts, count, nullptr, 0};
    Peer peer;
    const Verdict verdict = PermitsConnectedDatagram(fd, peer, flags, &sent);
    if (verdict == Verdict::kPermitted || verdict == Verdict::kAsking)
        NoteDnsDatagram(fd, peer, parts, count);
    if (verdict == Verdict::kPermitted)
        return true;
    result = verdict == Verdict::kAsking ? length : Refuse(verdict, EPERM);
    return false;
}

}  // namespace

ZEL_HOOK ssize_t send(int fd, const void* buffer, size_t length, int flags)
{
    REAL(send);
    const iovec part {const_cast<void*>(buffer), length};
    ssize_t result;
    if (!MayMakeConnectedSend(fd, flags, &part, 1, result))
        return result;
    return CountTraffic(fd, kSentCounter, FollowDnsQueries(fd, &part, 1, real_send(fd, buffer, length, flags)));
}

ZEL_HOOK ssize_t sendmsg(int fd, const msghdr* message, int flags)
{
    REAL(sendmsg);
    if (!MayMoveData(fd, true, flags))
        return -1;
    Peer peer; // where a datagram goes
    if (message && t_inside == 0) {
        OutgoingDatagram sent;
        const bool holdable = AsOutgoing(message, sent);
        switch (DecideSend(fd, static_cast<const sockaddr*>(message->msg_name), message->msg_namelen, flags,
                           holdable ? &sent : nullptr, peer)) {
        case Send::kMake:
            NoteDnsDatagram(fd, peer, message->msg_iov, message->msg_iovlen);
            break;
        case Send::kHeldBack:
            NoteDnsDatagram(fd, peer, message->msg_iov, message->msg_iovlen);
            return static_cast<ssize_t>(MessageBytes(message));
        case Send::kRefused:
        case Send::kStarted:
            return -1;
        }
    }
    const ssize_t n = real_sendmsg(fd, message, flags);
    if (message)
        FollowDnsQueries(fd, message->msg_iov, message->msg_iovlen, n);
    return CountTraffic(fd, kSentCounter, n);
}

ZEL_HOOK int sendmmsg(int fd, mmsghdr* messages, unsigned int count, int flags)
{
    REAL(sendmmsg);
    if (!MayMoveData(fd, true, flags))
        return -1;
    unsigned allowed = count;
    Verdict refused = Verdict::kPermitted;
    Kind kind = t_inside == 0 ? KindToDecide(fd) : kOther;
    Peer first;
    if (kind == kUnknown && messages && count > 0 && messages[0].msg_hdr.msg_namelen > 0
        && DescribePeer(static_cast<const sockaddr*>(messages[0].msg_hdr.msg_name), first))
        kind = KindOf(fd); // sent to an IP peer: decided, so asked
    if (messages && count > 0 && kind == kTcpSocket && (flags & MSG_FASTOPEN)) {
        // A Fast Open connect, made by the first message (the others find
        // the socket connecting): decided as sendmsg decides it.
        const msghdr& header = messages[0].msg_hdr;
        Peer peer;
        switch (DecideSend(fd, static_cast<const sockaddr*>(header.msg_name), header.msg_namelen, flags, nullptr,
                           peer)) {
        case Send::kMake:
            break;
        case Send::kHeldBack: // not for a connection
        case Send::kRefused:
        case Send::kStarted:
            return -1;
        }
    }
    if (messages && kind == kUdpSocket) {
        for (unsigned i = 0; i < count; ++i) {
            const msghdr& header = messages[i].msg_hdr;
            Peer peer;
            OutgoingDatagram message;
            const OutgoingDatagram* sent = AsOutgoing(&header, message) ? &message : nullptr;
            const Verdict verdict = PermitsDatagramTo(fd, static_cast<const sockaddr*>(header.msg_name),
                                                      header.msg_namelen, flags, sent, peer);
            // The first one held back leaves as well (see below).
            if (verdict == Verdict::kPermitted || (i == 0 && verdict == Verdict::kAsking))
                NoteDnsDatagram(fd, peer, header.msg_iov, header.msg_iovlen);
            if (verdict != Verdict::kPermitted) {
                allowed = i;
                refused = verdict;
                break;
            }
        }
        if (allowed == 0 && count > 0) {
            if (refused != Verdict::kAsking)
                return Refuse(refused, EPERM);
            // Held back: as far as the program can tell, it left.
            messages[0].msg_len = static_cast<unsigned>(MessageBytes(&messages[0].msg_hdr));
            return 1;
        }
    }
    const int sent = real_sendmmsg(fd, messages, allowed, flags);
    for (int i = 0; i < sent; ++i) {
        const msghdr& message = messages[i].msg_hdr;
        FollowDnsQueries(fd, message.msg_iov, message.msg_iovlen, messages[i].msg_len);
        CountTraffic(fd, kSentCounter, messages[i].msg_len);
    }
    return sent;
}

ZEL_HOOK ssize_t write(int fd, const void* buffer, size_t length)
{
    REAL(write);
    const iovec part {const_cast<void*>(buffer), length};
    ssize_t result;
    if (!MayMakeConnectedSend(fd, 0, &part, 1, result))
        return result;
    return CountTraffic(fd, kSentCounter, FollowDnsQueries(fd, &part, 1, real_write(fd, buffer, length)));
}

ZEL_HOOK ssize_t writev(int fd, const iovec* parts, int count)
{
    REAL(writev);
    ssize_t result;
    const size_t partCount = count > 0 ? static_cast<size_t>(count) : 0;
    if (!MayMakeConnectedSend(fd, 0, parts, partCount, result))
        return result;
    return CountTraffic(fd, kSentCounter, FollowDnsQueries(fd, parts, partCount, real_writev(fd, parts, count)));
}

// preadv2 and pwritev2 at offset -1 read and write as readv and writev do:
// on a datagram socket, a datagram received or sent.
#define PREADV2_WRAPPER(name, offsetType)                                                                    \
    ZEL_HOOK ssize_t name(int fd, const iovec* parts, int count, offsetType offset, int flags)              \
    {                                                                                                        \
        REAL(name);                                                                                          \
        if (offset == -1 && count >= 0) {                                                                    \
            if (!MayMoveData(fd, false, 0))                                                                  \
                return -1;                                                                                   \
            if (IsKnownDatagram(fd)) {                                                                       \
                msghdr message {};                                                                           \
                message.msg_iov = const_cast<iovec*>(parts);                                                 \
                message.msg_iovlen = static_cast<size_t>(count);                                             \
                const ssize_t n = ReceiveByRecvmsg(fd, &message, (flags & RWF_NOWAIT) ? MSG_DONTWAIT : 0);  \
                if (n >= 0 || errno != ENOTSOCK)                                                             \
                    return n;                                                                                \
                SetKind(fd, kOther);                                                                         \
            }                                                                                                \
        }                                                                                                    \
        return real_##name(fd, parts, count, offset, flags);                                                 \
    }
#define PWRITEV2_WRAPPER(name, offsetType)                                                                   \
    ZEL_HOOK ssize_t name(int fd, const iovec* parts, int count, offsetType offset, int flags)              \
    {                                                                                                        \
        REAL(name);                                                                                          \
        ssize_t result;                                                                                      \
        if (offset == -1 && count >= 0                                                                       \
            && !MayMakeConnectedSend(fd, (flags & RWF_NOWAIT) ? MSG_DONTWAIT : 0, parts,                    \
                                     static_cast<size_t>(count), result))                                    \
            return result;                                                                                   \
        return real_##name(fd, parts, count, offset, flags);                                                 \
    }

PREADV2_WRAPPER(preadv2, off_t)
PREADV2_WRAPPER(preadv64v2, off64_t)
PWRITEV2_WRAPPER(pwritev2, off_t)
PWRITEV2_WRAPPER(pwritev64v2, off64_t)
