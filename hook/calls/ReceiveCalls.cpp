// The calls that receive: a datagram from a peer the rules do not let in
// is taken off the queue unseen (Receiving.cpp); what arrives from a name
// server may teach names.
#include "hook/decisions/Decisions.h"

#include "hook/Vfork.h"
#include "hook/decisions/Datagrams.h"
#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/names/DnsReplies.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

// ---- Receiving -------------------------------------------------------------------------

ZEL_HOOK ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength)
{
    REAL(recvfrom);
    if (!MayMoveData(fd, false, flags))
        return -1;
    if (MayDecideReceive(KnownKind(fd)))
        return ReceiveByRecvfrom(fd, buffer, length, flags, from, fromLength);
    const iovec part {buffer, length};
    const ssize_t n = real_recvfrom(fd, buffer, length, flags, from, fromLength);
    return CountTraffic(fd, kReceivedCounter, FollowDnsStream(fd, &part, 1, n, flags));
}

ZEL_HOOK ssize_t recv(int fd, void* buffer, size_t length, int flags)
{
    REAL(recv);
    if (!MayMoveData(fd, false, flags))
        return -1;
    if (MayDecideReceive(KnownKind(fd)))
        return ReceiveByRecvfrom(fd, buffer, length, flags, nullptr, nullptr);
    const iovec part {buffer, length};
    const ssize_t n = real_recv(fd, buffer, length, flags);
    return CountTraffic(fd, kReceivedCounter, FollowDnsStream(fd, &part, 1, n, flags));
}

ZEL_HOOK ssize_t recvmsg(int fd, msghdr* message, int flags)
{
    REAL(recvmsg);
    if (!MayMoveData(fd, false, flags))
        return -1;
    if (message && MayDecideReceive(KnownKind(fd))) {
        const ssize_t n = ReceiveByRecvmsg(fd, message, flags);
        LearnReceivedDescriptors(message, n);
        return n;
    }
    const ssize_t n = real_recvmsg(fd, message, flags);
    LearnReceivedDescriptors(message, n);
    if (message)
        FollowDnsStream(fd, message->msg_iov, message->msg_iovlen, n, flags);
    return CountTraffic(fd, kReceivedCounter, n);
}

ZEL_HOOK int recvmmsg(int fd, mmsghdr* messages, unsigned int count, int flags, struct timespec* timeout)
{
    REAL(recvmmsg);
    if (!MayMoveData(fd, false, flags))
        return -1;
    const Kind kind = KnownKind(fd);
    if (!messages || count == 0 || !MayDecideReceive(kind)) {
        const int received = real_recvmmsg(fd, messages, count, flags, timeout);
        for (int i = 0; i < received; ++i)
            LearnReceivedDescriptors(&messages[i].msg_hdr, messages[i].msg_len);
        return received;
    }
    if (kind == kUnknown) {
        // Not seen made: the first message, received as the program asked,
        // tells what the socket is. It comes alone, as recvmmsg may return.
        const ssize_t n = ReceiveAloneByRecvmmsg(fd, &messages[0].msg_hdr, flags & ~MSG_WAITFORONE, timeout);
        if (n < 0)
            return -1;
        messages[0].msg_len = static_cast<unsigned>(n);
        LearnReceivedDescriptors(&messages[0].msg_hdr, n);
        return 1;
    }
    // One datagram at a time, each decided, and never past the time-out.
    const long long deadline = timeout ? NowMs() + timeout->tv_sec * 1000 + timeout->tv_nsec / 1000000 : 0;
    const bool nonBlocking = IsNonBlocking(fd, flags);
    unsigned received = 0;
    int nextFlags = flags & ~MSG_WAITFORONE;
    while (received < count) {
        if (deadline && !nonBlocking && !(nextFlags & MSG_DONTWAIT)) {
            const int ready = WaitReadable(fd, deadline);
            if (ready <= 0) {
                if (received > 0)
                    break;
                if (ready == 0)
                    errno = EAGAIN;
                return -1;
            }
        }
        const ssize_t n = ReceiveByRecvmsg(fd, &messages[received].msg_hdr, nextFlags, deadline);
        if (n < 0) {
            if (received > 0)
                break;
            return -1;
        }
        messages[received++].msg_len = static_cast<unsigned>(n);
        if (flags & MSG_WAITFORONE)
            nextFlags |= MSG_DONTWAIT;
    }
    return static_cast<int>(received);
}

// read and readv are decided only on a datagram socket the hook saw made:
// on any other descriptor they go straight to the kernel.
ZEL_HOOK ssize_t read(int fd, void* buffer, size_t length)
{
    REAL(read);
    if (!MayMoveData(fd, false, 0))
        return -1;
    if (IsKnownDatagram(fd)) {
        iovec part {buffer, length};
        msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t n = ReceiveByRecvmsg(fd, &message, 0);
        if (n >= 0 || errno != ENOTSOCK)
            return n;
        // Closed behind our back (a raw system call) and reused for a file.
        SetKind(fd, kOther);
    }
    const iovec part {buffer, length};
    return CountTraffic(fd, kReceivedCounter, FollowDnsStream(fd, &part, 1, real_read(fd, buffer, length)));
}

ZEL_HOOK ssize_t readv(int fd, const iovec* parts, int count)
{
    REAL(readv);
    if (!MayMoveData(fd, false, 0))
        return -1;
    if (IsKnownDatagram(fd)) {
        msghdr message {};
        message.msg_iov = const_cast<iovec*>(parts);
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t n = ReceiveByRecvmsg(fd, &message, 0);
        if (n >= 0 || errno != ENOTSOCK)
            return n;
        SetKind(fd, kOther);
    }
    return CountTraffic(fd, kReceivedCounter,
                        FollowDnsStream(fd, parts, count > 0 ? static_cast<size_t>(count) : 0,
                                        real_readv(fd, parts, count)));
}

// A program built with _FORTIFY_SOURCE (as Debian builds its packages)
// receives through these where the buffer's size is known: the C library
// makes the call inside itself, out of the hook's reach, so they are the
// calls above with the size checked first.
extern "C" [[noreturn]] void __chk_fail();

ZEL_HOOK ssize_t __recvfrom_chk(int fd, void* buffer, size_t length, size_t size, int flags, sockaddr* from,
                                socklen_t* fromLength)
{
    if (length > size)
        __chk_fail();
    return recvfrom(fd, buffer, length, flags, from, fromLength);
}

ZEL_HOOK ssize_t __recv_chk(int fd, void* buffer, size_t length, size_t size, int flags)
{
    if (length > size)
        __chk_fail();
    return recv(fd, buffer, length, flags);
}

ZEL_HOOK ssize_t __read_chk(int fd, void* buffer, size_t length, size_t size)
{
    if (length > size)
        __chk_fail();
    return read(fd, buffer, length);
}


// preadv2 at offset -1 reads as readv does: on a datagram socket, a
// datagram received.
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

PREADV2_WRAPPER(preadv2, off_t)
PREADV2_WRAPPER(preadv64v2, off64_t)
