// What the hook decides before a call goes on: the engine's verdict for a
// connection or a datagram's peer, asking the user, what a send becomes,
// the answer a refusal gives, and the name and traffic bookkeeping around
// the calls that move bytes (Decisions.h).
#include "hook/decisions/Decisions.h"

#include "hook/decisions/Datagrams.h"
#include "hook/names/DnsReplies.h"
#include "hook/EngineHost.h"
#include "hook/descriptors/Kernel.h"
#include "hook/names/Names.h"
#include "hook/descriptors/Peer.h"
#include "hook/decisions/Questions.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"
#include "hook/decisions/StandIns.h"
#include "hook/Vfork.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace hook {

namespace {

// The socket's own address, looked up only for a peer the engine would
// take as this computer itself: the connection from 127.0.0.1 to a server
// on 127.0.0.2 is then decided, as it is on the side that connected.
// Empty when not bound to one address or not known.
void OwnEnd(int socket, const Peer& peer, char* text, unsigned size)
{
    text[0] = '\0';
    if (socket < 0 || (std::strcmp(peer.address, "127.0.0.1") != 0 && std::strcmp(peer.address, "::1") != 0))
        return;
    sockaddr_storage own {};
    socklen_t length = sizeof own;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&own), &length) != 0
        || !AddressText(reinterpret_cast<const sockaddr*>(&own), text, size))
        text[0] = '\0';
}

}  // namespace

// The engine's verdict without asking the user: kUndecided when the user
// must answer, with the question to ask filled in.
Verdict Assess(int direction, const Peer& peer, int protocol, int socket, unsigned localPort, Question& question)
{
    switch (EnsureEngine()) {
    case EngineState::kPassThrough:
        return Verdict::kPermitted;
    case EngineState::kUndecidable:
        return Verdict::kDenied; // asked again at the next decision
    case EngineState::kReady:
        break;
    }
    Inside inside;
    const EngineBinding& engine = Engine();
    // Every name the program knows the peer by: for rules by host name, the
    // log and the alert. The engine looks at all of them, so the verdict
    // does not depend on which was learnt last. An incoming peer has none
    // for the rules; the alert still names it when the program looked it up.
    KnownNames known;
    NamesOf(peer.address, known);
    const char* names[kNamesPerAddress];
    for (unsigned i = 0; i < known.count; ++i)
        names[i] = known.names[i];
    int used = known.count > 0 ? 0 : -1;
    int result;
    char ownEnd[sizeof peer.address];
    OwnEnd(socket, peer, ownEnd, sizeof ownEnd);
    if (engine.ApproveNamesAt)
        result = engine.ApproveNamesAt(localPort, direction, peer.address, names, known.count, protocol, peer.port, &used,
                                       ownEnd);
    else if (engine.ApproveNames)
        result = engine.ApproveNames(localPort, direction, peer.address, names, known.count, protocol, peer.port, &used);
    else if (engine.ApproveNamed)
        result = engine.ApproveNamed(localPort, direction, peer.address, used >= 0 ? names[used] : nullptr, protocol,
                                     peer.port);
    else
        result = engine.Approve(localPort, direction, peer.address, protocol, peer.port);
    if (result != 2)
        return result == 1 ? Verdict::kPermitted : Verdict::kDenied;
    if (used < 0 && known.count > 0)
        used = 0;
    question.localPort = localPort;
    question.direction = direction;
    question.protocol = protocol;
    question.remotePort = peer.port;
    std::memcpy(question.address, peer.address, sizeof question.address);
    question.name[0] = '\0';
    if (used >= 0)
        std::memcpy(question.name, names[used], sizeof question.name);
    return Verdict::kUndecided;
}

// Asks the user and waits, on the calling thread.
Verdict AskNow(const Question& question)
{
    Inside inside;
    errno = 0;
    const int result = Engine().UserApprove(question.localPort, question.direction, question.address,
                                            question.name[0] ? question.name : question.address, question.protocol,
                                            question.remotePort);
    if (result == 0 && errno == EINTR)
        return Verdict::kInterrupted;
    return result == 1 ? Verdict::kPermitted : Verdict::kDenied;
}

// How a question's thread asks (see Questions.h): withdrawn when the
// program closes the socket, where the engine can take a question back.
UserAnswer AskEngine(const Question& question, int withdrawFd)
{
    Inside inside;
    const EngineBinding& engine = Engine();
    const char* name = question.name[0] ? question.name : question.address;
    errno = 0;
    const int result = engine.UserApproveWithdrawable
        ? engine.UserApproveWithdrawable(question.localPort, question.direction, question.address, name,
                                         question.protocol, question.remotePort, withdrawFd)
        : engine.UserApprove(question.localPort, question.direction, question.address, name, question.protocol,
                             question.remotePort);
    if (result == 0 && errno == ECANCELED)
        return UserAnswer::kWithdrawn;
    return result == 1 ? UserAnswer::kPermitted : UserAnswer::kDenied;
}

bool IsNonBlocking(int fd, int flags)
{
    if (flags & MSG_DONTWAIT)
        return true;
    const int status = ::fcntl(fd, F_GETFL);
    return status >= 0 && (status & O_NONBLOCK);
}

long long NowMs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A time-out the program set on a socket (SO_RCVTIMEO, SO_SNDTIMEO), in
// milliseconds; 0 none.
long long TimeoutMs(int fd, int option)
{
    timeval timeout {};
    socklen_t length = sizeof timeout;
    if (::getsockopt(fd, SOL_SOCKET, option, &timeout, &length) != 0)
        return 0;
    return static_cast<long long>(timeout.tv_sec) * 1000 + (timeout.tv_usec + 999) / 1000;
}

long long ReceiveTimeoutMs(int fd) { return TimeoutMs(fd, SO_RCVTIMEO); }

// One verdict per peer and direction of a datagram socket, for as long as
// the engine's verdict epoch stays the same. When the user must answer, a
// call that waits (blocking, with no time-out of its own) waits for the
// answer as before; any other asks without waiting, and the datagram is held
// back (kAsking) while the question is open. A blocking receive with a
// time-out (deadlineMs, 0: none) waits for the answer until then. sent: the
// datagram that is being sent, held back while the peer is asked about.
Verdict PermitsDatagram(int fd, int direction, const Peer& peer, int flags, long long deadlineMs,
                        const OutgoingDatagram* sent)
{
    switch (EnsureEngine()) {
    case EngineState::kPassThrough:
        return Verdict::kPermitted;
    case EngineState::kUndecidable:
        return Verdict::kDenied;
    case EngineState::kReady:
        break;
    }
    // The socket under the number now: a verdict is kept for it alone.
    uint32_t generation = 0;
    const uint32_t* numbered = GenerationOf(fd, generation) ? &generation : nullptr;
    uint32_t epoch;
    {
        Inside inside;
        epoch = VerdictEpoch();
    }
    Recalled recalled = RecallVerdict(fd, direction, peer, epoch);
    switch (recalled) {
    case Recalled::kPermitted:
        return Verdict::kPermitted;
    case Recalled::kDenied:
        return Verdict::kDenied;
    case Recalled::kAsking:
    case Recalled::kNothing:
        break;
    }
    Question question;
    Verdict verdict = recalled == Recalled::kAsking ? Verdict::kAsking
                                                    : Assess(direction, peer, kUdp, fd, LocalPortOf(fd), question);
    const bool nonBlocking = IsNonBlocking(fd, flags);
    // Only a send that does not wait leaves its datagram to the hook: one
    // that waits sends it itself once permitted, so it leaves once.
    if (verdict == Verdict::kAsking && sent && nonBlocking)
        HoldBack(fd, peer, *sent);
    if (verdict != Verdict::kUndecided && verdict != Verdict::kAsking) {
        RememberVerdict(fd, direction, peer, verdict == Verdict::kPermitted, epoch, numbered);
        return verdict;
    }
    if (verdict == Verdict::kUndecided) {
        if ((nonBlocking || deadlineMs) && AskWithoutWaiting(fd, direction, peer, epoch, question, sent)) {
            verdict = Verdict::kAsking;
        } else {
            verdict = AskNow(question);
            if (verdict != Verdict::kInterrupted)
                RememberVerdict(fd, direction, peer, verdict == Verdict::kPermitted, epoch, numbered);
            return verdict;
        }
    }
    if (nonBlocking)
        return Verdict::kAsking;
    switch (WaitForVerdict(fd, direction, peer, epoch, deadlineMs)) {
    case Recalled::kPermitted:
        return Verdict::kPermitted;
    case Recalled::kDenied:
        return Verdict::kDenied;
    default:
        return Verdict::kAsking;
    }
}

// A program naming the unspecified address (0.0.0.0, ::) as where to go
// reaches this host: the kernel sends to the socket's own IPv4 address
// when it has one, else to loopback. It is decided as where it arrives, so
// that a rule about a local address cannot be passed by naming it so.
bool DescribeDestination(int fd, const sockaddr* to, Peer& peer)
{
    if (!DescribePeer(to, peer))
        return false;
    if (std::strcmp(peer.address, "::") == 0) {
        std::strcpy(peer.address, "::1");
    } else if (std::strcmp(peer.address, "0.0.0.0") == 0) {
        sockaddr_storage own {};
        socklen_t length = sizeof own;
        Peer bound;
        const bool boundToOne = ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) == 0
            && AddressText(reinterpret_cast<const sockaddr*>(&own), bound.address, sizeof bound.address)
            && !std::strchr(bound.address, ':') && std::strcmp(bound.address, "0.0.0.0") != 0;
        std::strcpy(peer.address, boundToOne ? bound.address : "127.0.0.1");
    }
    return true;
}

// A datagram sent without an address goes to the socket's connected peer
// (into peer; its port stays 0 when the socket is not connected).
Verdict PermitsConnectedDatagram(int fd, Peer& peer, int flags, const OutgoingDatagram* sent)
{
    if (!ConnectedPeer(fd, peer)) {
        sockaddr_storage remote {};
        socklen_t length = sizeof remote;
        // Not connected: the kernel refuses the send by itself.
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &length) != 0
            || !DescribePeer(reinterpret_cast<sockaddr*>(&remote), peer)) {
            peer = Peer();
            return Verdict::kPermitted;
        }
        SetConnectedPeer(fd, peer);
    }
    return PermitsDatagram(fd, kOutgoing, peer, flags, 0, sent);
}

// Where the kernel sends a datagram with address to (toLength bytes): to an
// IP peer (into peer), to the socket's connected peer (kConnected: no
// address, or a message's address of length 0, which the kernel passes
// over), or nowhere (kNone: an address the kernel refuses). An address of
// family AF_UNSPEC is an IPv4 one to an IPv4 socket and none to an IPv6 one.
enum class Destination { kPeer, kConnected, kNone };
Destination DatagramDestination(int fd, const sockaddr* to, socklen_t toLength, Peer& peer)
{
    if (!to || toLength == 0)
        return Destination::kConnected;
    if (DescribeDestination(fd, to, peer))
        return Destination::kPeer;
    if (to->sa_family != AF_UNSPEC)
        return Destination::kNone;
    int domain = 0;
    socklen_t size = sizeof domain;
    if (kernel::GetSocketOption(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_INET)
        return Destination::kConnected;
    if (toLength < sizeof(sockaddr_in))
        return Destination::kNone;
    sockaddr_in in {};
    std::memcpy(&in, to, sizeof in);
    in.sin_family = AF_INET;
    return DescribeDestination(fd, reinterpret_cast<const sockaddr*>(&in), peer) ? Destination::kPeer
                                                                                  : Destination::kNone;
}

// A datagram sent to to: decided for the peer it goes to.
Verdict PermitsDatagramTo(int fd, const sockaddr* to, socklen_t toLength, int flags, const OutgoingDatagram* sent,
                          Peer& peer)
{
    switch (DatagramDestination(fd, to, toLength, peer)) {
    case Destination::kPeer:
        return PermitsDatagram(fd, kOutgoing, peer, flags, 0, sent);
    case Destination::kConnected:
        return PermitsConnectedDatagram(fd, peer, flags, sent);
    case Destination::kNone:
        break;
    }
    peer = Peer();
    return Verdict::kPermitted; // the kernel refuses it
}

// A TCP connection to peer, decided once however often connect() is called
// for it (a non-blocking connect is finished by calling it again).
// kUndecided with the question when the user must answer.
Verdict PermitsConnection(SocketView& view, const Peer& peer, Question& question)
{
    const uint64_t key = PeerHash(peer);
    if (view.decidedPeer == key)
        return Verdict::kPermitted;
    const Verdict verdict = Assess(kOutgoing, peer, kTcp, view.fd, LocalPortOf(view), question);
    if (verdict == Verdict::kPermitted)
        SetDecidedPeer(view, key);
    return verdict;
}

// A connection the user must decide. A program that does not wait for its
// connect (a non-blocking socket, or a time-out it set) goes on while the
// user decides (see StandIns.h): kAsking, and what the call returns is in
// result. Otherwise the user is asked and the call waits, as before.
Verdict AskAboutConnection(SocketView& view, const sockaddr* address, socklen_t length, const Peer& peer,
                           const Question& question, int flags, bool useTimeout, int& result)
{
    const int fd = view.fd;
    const bool nonBlocking = IsNonBlocking(fd, flags);
    const long long timeout = nonBlocking || !useTimeout ? 0 : TimeoutMs(fd, SO_SNDTIMEO);
    if ((nonBlocking || timeout)
        && StandInForConnection(fd, address, length, question, PeerHash(peer), peer.port == 53)) {
        if (nonBlocking) {
            errno = EINPROGRESS;
            result = -1;
        } else {
            result = AwaitConnection(fd, NowMs() + timeout);
        }
        return Verdict::kAsking;
    }
    const Verdict verdict = AskNow(question);
    if (verdict == Verdict::kPermitted)
        SetDecidedPeer(view, PeerHash(peer));
    return verdict;
}

int Refuse(Verdict verdict, int deniedError)
{
    errno = verdict == Verdict::kInterrupted ? EINTR : deniedError;
    return -1;
}


// A datagram is decided per peer; a TCP Fast Open send is a connect. Only a
// destination that is an IP peer makes the hook ask the kernel what the
// socket is, when it did not see it made.
// sent: the datagram (null when it carries control data, which is not kept).
// datagramPeer: where a datagram goes (port 0 for anything else).
Send DecideSend(int fd, const sockaddr* to, socklen_t toLength, int flags, const OutgoingDatagram* sent,
                Peer& datagramPeer)
{
    Peer peer;
    const bool toPeer = to && toLength > 0 && DescribeDestination(fd, to, peer);
    // An AF_UNSPEC address is an IPv4 one to an IPv4 datagram socket.
    const Kind kind = toPeer || (to && toLength > 0 && to->sa_family == AF_UNSPEC) ? KindOf(fd) : KindToDecide(fd);
    Verdict verdict = Verdict::kPermitted;
    int deniedError = EPERM;
    if (kind == kUdpSocket) {
        verdict = PermitsDatagramTo(fd, to, toLength, flags, sent, datagramPeer);
    } else if (kind == kTcpSocket && (flags & MSG_FASTOPEN) && toPeer) {
        SocketView view = View(fd);
        Question question;
        verdict = PermitsConnection(view, peer, question);
        deniedError = ECONNREFUSED;
        int result = 0;
        // Only a non-blocking one goes on meanwhile: a blocking Fast Open
        // send waits for the user, as before.
        if (verdict == Verdict::kUndecided
            && (verdict = AskAboutConnection(view, to, toLength, peer, question, flags, false, result)) == Verdict::kAsking)
            return Send::kStarted;
    }
    if (verdict == Verdict::kPermitted)
        return Send::kMake;
    if (verdict == Verdict::kAsking)
        return Send::kHeldBack;
    Refuse(verdict, deniedError);
    return Send::kRefused;
}

// What a send held back reports as sent; never negative, whatever the
// program's lengths add up to.
size_t MessageBytes(const msghdr* message)
{
    const size_t bytes = message ? TotalBytes(message->msg_iov, message->msg_iovlen) : 0;
    return bytes > SSIZE_MAX ? SSIZE_MAX : bytes;
}

// A message as a datagram the hook may hold back: not one with control data.
bool AsOutgoing(const msghdr* message, OutgoingDatagram& sent)
{
    if (!message || message->msg_controllen > 0)
        return false;
    sent.parts = message->msg_iov;
    sent.count = message->msg_iovlen;
    sent.to = static_cast<const sockaddr*>(message->msg_name);
    sent.toLength = message->msg_namelen;
    return true;
}

// Only the answers to the program's own queries teach names (DnsAnswers.h);
// a vfork child's are not the parent's. A query in a datagram the program
// sends to a name server's port 53 (to: where it goes) is remembered before
// it leaves, so that another thread reading its answer at once finds it.
void NoteDnsDatagram(int fd, const Peer& to, const iovec* parts, size_t count)
{
    if (to.port == 53 && t_inside == 0 && !InParentsMemory())
        NoteDnsQuery(fd, to, parts, count);
}

// Waits until the socket has something to read or the deadline passed
// (deadline 0: no deadline). 1 readable, 0 time is up, -1 error (errno).
int WaitReadable(int fd, long long deadline)
{
    const long long left = deadline ? deadline - NowMs() : -1;
    if (deadline && left <= 0)
        return 0;
    pollfd waiting {fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, deadline ? static_cast<int>(left) : -1);
    return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

// Descriptors that came in a message's control data are new to the program:
// whatever was known of their numbers is gone, and what they are is found
// out from the calls made on them.
void LearnReceivedDescriptors(const msghdr* message, ssize_t received)
{
    if (received < 0 || !message || !message->msg_control || message->msg_controllen < sizeof(cmsghdr))
        return;
    for (cmsghdr* part = CMSG_FIRSTHDR(const_cast<msghdr*>(message)); part;
         part = CMSG_NXTHDR(const_cast<msghdr*>(message), part)) {
        if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_RIGHTS || part->cmsg_len < CMSG_LEN(0))
            continue;
        const size_t count = (part->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        const auto* fds = reinterpret_cast<const unsigned char*>(CMSG_DATA(part));
        for (size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, fds + i * sizeof fd, sizeof fd);
            ForgetDescriptor(fd);
        }
    }
}

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

}  // namespace hook
