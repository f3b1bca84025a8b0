// The calls that receive on a socket: a datagram from a peer the rules do
// not let in is taken off the queue unseen, as if it never arrived, and the
// call goes on to the next; what arrives from a name server may teach names.
#include "hook/decisions/Decisions.h"

#include "hook/decisions/Datagrams.h"
#include "hook/names/DnsReplies.h"
#include "hook/EngineHost.h"
#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/Vfork.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

namespace hook {

namespace {

// Receives one datagram the way the program's call does (receiveOnce makes
// the same system call into message, with msg_name the hook's own), skipping
// those from denied peers: they never arrived, as far as the program can
// tell. A blocking call waits for the next one as the kernel does with a
// datagram it discards, but never past the receive time-out the program set
// (deadlineMs: a deadline of the caller's own; 0 none). message->msg_name
// gets the peer when the caller asked for it.
//
// On a descriptor the hook did not see made, what the call returned tells
// whether there is anything to decide: a sender with an IP address makes it
// an IP datagram socket, anything else is handed over as it came, and no
// system call of the hook's own is made for it.
template <typename ReceiveOnce>
ssize_t ReceiveDecided(int fd, msghdr* message, int flags, long long deadlineMs, ReceiveOnce receiveOnce)
{
    const long long start = NowMs();
    bool timeoutKnown = deadlineMs != 0;
    bool known = KnownKind(fd) == kUdpSocket;
    sockaddr_storage from {};
    void* const callerName = message->msg_name;
    const socklen_t callerLength = message->msg_namelen;
    for (;;) {
        message->msg_name = &from;
        message->msg_namelen = sizeof from;
        const ssize_t n = receiveOnce(message, flags);
        const socklen_t fromLength = message->msg_namelen;
        message->msg_name = callerName;
        message->msg_namelen = callerLength;
        if (n < 0)
            return n;
        const auto deliver = [&] {
            if (callerName) {
                std::memcpy(callerName, &from, callerLength < fromLength ? callerLength : fromLength);
                message->msg_namelen = fromLength;
            }
            return n;
        };
        Peer peer;
        const bool fromPeer = fromLength > 0 && DescribePeer(reinterpret_cast<sockaddr*>(&from), peer);
        if (!known) {
            if (!fromPeer) {
                if (fromLength > 0)
                    SetKind(fd, kOther); // a local socket: nothing on it is ever decided
                return deliver();
            }
            // From an IP peer: this is IP traffic, which is decided.
            if (KindOf(fd) != kUdpSocket)
                return deliver();
            known = true;
        }
        // A blocking call waits for an open question's answer only as long
        // as its time-out lets it.
        if (fromPeer && !timeoutKnown && !IsNonBlocking(fd, flags)) {
            timeoutKnown = true;
            if (const long long timeout = ReceiveTimeoutMs(fd))
                deadlineMs = start + timeout;
        }
        const Verdict verdict = fromPeer ? PermitsDatagram(fd, kIncoming, peer, flags, deadlineMs) : Verdict::kPermitted;
        if (verdict == Verdict::kPermitted) {
            // An answer from a name server teaches when it answers a query
            // this socket sent there (DnsAnswers.h).
            if (fromPeer && peer.port == 53 && !(flags & MSG_PEEK) && !InParentsMemory()) {
                size_t room = 0;
                for (size_t i = 0; i < message->msg_iovlen; ++i)
                    room += message->msg_iov[i].iov_len;
                LearnFromDnsDatagram(fd, peer, message->msg_iov, message->msg_iovlen,
                                     static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room);
            }
            deliver();
            return CountTraffic(fd, kReceivedCounter, n);
        }
        if (flags & MSG_PEEK) {
            // Peeked at a datagram that is not let in (now): take it off the queue.
            REAL(recvfrom);
            char discard;
            real_recvfrom(fd, &discard, 1, MSG_DONTWAIT, nullptr, nullptr);
        }
        if (verdict == Verdict::kInterrupted) {
            errno = EINTR;
            return -1;
        }
        // Non-blocking: the next real call says EAGAIN when nothing is left.
        if (IsNonBlocking(fd, flags))
            continue;
        if (!timeoutKnown) {
            timeoutKnown = true;
            if (const long long timeout = ReceiveTimeoutMs(fd))
                deadlineMs = start + timeout;
        }
        if (deadlineMs) {
            const int ready = WaitReadable(fd, deadlineMs);
            if (ready == 0)
                errno = EAGAIN;
            if (ready <= 0)
                return -1;
        }
    }
}

}  // namespace

ssize_t ReceiveByRecvmsg(int fd, msghdr* message, int flags, long long deadlineMs)
{
    REAL(recvmsg);
    return ReceiveDecided(fd, message, flags, deadlineMs,
                          [&](msghdr* into, int how) { return real_recvmsg(fd, into, how); });
}

// recv and recvfrom are the same system call.
ssize_t ReceiveByRecvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength)
{
    REAL(recvfrom);
    iovec part {buffer, length};
    msghdr message {};
    message.msg_name = from;
    message.msg_namelen = from && fromLength ? *fromLength : 0;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    const ssize_t n = ReceiveDecided(fd, &message, flags, 0, [&](msghdr* into, int how) {
        return real_recvfrom(fd, into->msg_iov[0].iov_base, into->msg_iov[0].iov_len, how,
                             static_cast<sockaddr*>(into->msg_name), &into->msg_namelen);
    });
    if (n >= 0 && from && fromLength)
        *fromLength = message.msg_namelen;
    return n;
}

}  // namespace hook

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
        const ssize_t n = ReceiveDecided(fd, &messages[0].msg_hdr, flags & ~MSG_WAITFORONE, 0,
                                         [&](msghdr* into, int how) {
                                             mmsghdr one {*into, 0};
                                             const int got = real_recvmmsg(fd, &one, 1, how, timeout);
                                             *into = one.msg_hdr;
                                             return got == 1 ? static_cast<ssize_t>(one.msg_len) : got;
                                         });
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
