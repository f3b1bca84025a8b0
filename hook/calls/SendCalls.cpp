// The calls that send: a datagram to a peer the rules do not let out never
// leaves; a TCP Fast Open send is a connect, decided as one.
#include "hook/decisions/Decisions.h"

#include "hook/Vfork.h"
#include "hook/decisions/Datagrams.h"
#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/names/DnsReplies.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

using namespace hook;

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

// pwritev2 at offset -1 writes as writev does: on a datagram socket, a
// datagram sent.
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

PWRITEV2_WRAPPER(pwritev2, off_t)
PWRITEV2_WRAPPER(pwritev64v2, off64_t)
