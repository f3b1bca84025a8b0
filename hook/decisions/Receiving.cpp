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

// One message by recvmmsg, decided as the others are.
ssize_t ReceiveAloneByRecvmmsg(int fd, msghdr* message, int flags, timespec* timeout)
{
    REAL(recvmmsg);
    return ReceiveDecided(fd, message, flags, 0, [&](msghdr* into, int how) {
        mmsghdr one {*into, 0};
        const int got = real_recvmmsg(fd, &one, 1, how, timeout);
        *into = one.msg_hdr;
        return got == 1 ? static_cast<ssize_t>(one.msg_len) : got;
    });
}

}  // namespace hook
