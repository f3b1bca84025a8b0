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
#include "Datagrams.h"
#include "DnsAnswers.h"
#include "EngineHost.h"
#include "Kernel.h"
#include "Names.h"
#include "Peer.h"
#include "Questions.h"
#include "SocketTable.h"
#include "StandIns.h"
#include "Vfork.h"
#include "platform/Environment.h"

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

namespace {

using namespace hook;

constexpr int kIncoming = 0;
constexpr int kOutgoing = 1;
constexpr int kTcp = 1;
constexpr int kUdp = 2;
// Counter A takes what the host received, counter B what it sent.
constexpr int kReceivedCounter = 1;
constexpr int kSentCounter = 0;


// kUndecided: the user decides (Assess); kAsking: the user is being asked
// and the program goes on meanwhile (see Questions.h).
enum class Verdict { kPermitted, kDenied, kInterrupted, kUndecided, kAsking };

// The engine's verdict without asking the user: kUndecided when the user
// must answer, with the question to ask filled in.
Verdict Assess(int direction, const Peer& peer, int protocol, unsigned localPort, Question& question)
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
    if (engine.ApproveNames)
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
Verdict PermitsDatagram(int fd, int direction, const Peer& peer, int flags = 0, long long deadlineMs = 0,
                        const OutgoingDatagram* sent = nullptr)
{
    switch (EnsureEngine()) {
    case EngineState::kPassThrough:
        return Verdict::kPermitted;
    case EngineState::kUndecidable:
        return Verdict::kDenied;
    case EngineState::kReady:
        break;
    }
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
                                                    : Assess(direction, peer, kUdp, LocalPortOf(fd), question);
    const bool nonBlocking = IsNonBlocking(fd, flags);
    // Only a send that does not wait leaves its datagram to the hook: one
    // that waits sends it itself once permitted, so it leaves once.
    if (verdict == Verdict::kAsking && sent && nonBlocking)
        HoldBack(fd, peer, *sent);
    if (verdict != Verdict::kUndecided && verdict != Verdict::kAsking) {
        RememberVerdict(fd, direction, peer, verdict == Verdict::kPermitted, epoch);
        return verdict;
    }
    if (verdict == Verdict::kUndecided) {
        if ((nonBlocking || deadlineMs) && AskWithoutWaiting(fd, direction, peer, epoch, question, sent)) {
            verdict = Verdict::kAsking;
        } else {
            verdict = AskNow(question);
            if (verdict != Verdict::kInterrupted)
                RememberVerdict(fd, direction, peer, verdict == Verdict::kPermitted, epoch);
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
Verdict PermitsConnectedDatagram(int fd, Peer& peer, int flags = 0, const OutgoingDatagram* sent = nullptr)
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
Verdict PermitsConnection(int fd, const Peer& peer, Question& question)
{
    const uint64_t key = PeerHash(peer);
    if (DecidedPeer(fd) == key)
        return Verdict::kPermitted;
    const Verdict verdict = Assess(kOutgoing, peer, kTcp, LocalPortOf(fd), question);
    if (verdict == Verdict::kPermitted)
        SetDecidedPeer(fd, key);
    return verdict;
}

// A connection the user must decide. A program that does not wait for its
// connect (a non-blocking socket, or a time-out it set) goes on while the
// user decides (see StandIns.h): kAsking, and what the call returns is in
// result. Otherwise the user is asked and the call waits, as before.
Verdict AskAboutConnection(int fd, const sockaddr* address, socklen_t length, const Peer& peer,
                           const Question& question, int flags, bool useTimeout, int& result)
{
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
        SetDecidedPeer(fd, PeerHash(peer));
    return verdict;
}

int Refuse(Verdict verdict, int deniedError)
{
    errno = verdict == Verdict::kInterrupted ? EINTR : deniedError;
    return -1;
}

// What becomes of a send: made; refused (-1 with errno); made by the hook
// already (a non-blocking Fast Open connect that waits for the user: -1
// with EINPROGRESS); or held back while the user decides about a datagram's
// peer, which looks to the program like a datagram lost on its way.
enum class Send { kMake, kRefused, kStarted, kHeldBack };

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
        Question question;
        verdict = PermitsConnection(fd, peer, question);
        deniedError = ECONNREFUSED;
        int result = 0;
        // Only a non-blocking one goes on meanwhile: a blocking Fast Open
        // send waits for the user, as before.
        if (verdict == Verdict::kUndecided
            && (verdict = AskAboutConnection(fd, to, toLength, peer, question, flags, false, result)) == Verdict::kAsking)
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

// Bytes moved on an IP socket go to the engine's traffic counters, once it
// is there (a program's first decision brings it); the result of the call
// is handed back unchanged.
ssize_t CountTraffic(int fd, int counter, ssize_t bytes)
{
    if (bytes > 0 && t_inside == 0 && IsEngineLoaded() && IsIpSocket(KnownKind(fd)))
        Engine().WriteTraffic(counter, static_cast<unsigned>(bytes));
    return bytes;
}

// What a TCP connection to port 53 answered teaches names, when it answers
// a query the program wrote on it. Bytes peeked at are read again later.
ssize_t FollowDnsStream(int fd, const iovec* parts, size_t count, ssize_t bytes, int flags = 0)
{
    if (bytes > 0 && !(flags & MSG_PEEK) && IsDnsStream(fd) && t_inside == 0 && !InParentsMemory())
        FeedDnsStream(fd, parts, count, static_cast<size_t>(bytes));
    return bytes;
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

// The queries the program wrote on a TCP connection it made to port 53:
// what was written, once it was.
ssize_t FollowDnsQueries(int fd, const iovec* parts, size_t count, ssize_t bytes)
{
    if (bytes > 0 && IsDnsStream(fd) && t_inside == 0 && !InParentsMemory())
        FeedDnsQueries(fd, parts, count, static_cast<size_t>(bytes));
    return bytes;
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
void ForgetDescriptor(int fd);
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

ssize_t ReceiveByRecvmsg(int fd, msghdr* message, int flags, long long deadlineMs = 0)
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

// A receive on a socket the hook decides (a known datagram socket) or may
// have to (one it did not see made).
bool MayDecideReceive(Kind kind) { return t_inside == 0 && (kind == kUdpSocket || kind == kUnknown); }
bool IsKnownDatagram(int fd) { return t_inside == 0 && KindToDecide(fd) == kUdpSocket; }

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

// Before a call that moves data on fd: false when it must not be made (errno set).
bool MayMoveData(int fd, bool sending, int flags)
{
    return !AnyMarks() || !(MarksOf(fd) & (kMarkStandsIn | kMarkRefused)) || BeforeData(fd, sending, flags) == 0;
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
    if (!platform::IsSecureExecution())
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

// ---- Bytes the kernel moves itself (sendfile, splice) --------------------------------------
// Into a datagram socket they leave as datagrams to its connected peer, out
// of one they are datagrams received: decided as a send or a receive is.

namespace {

// A datagram the kernel is to send from a file or pipe cannot be held back
// while the user decides: a call that does not wait hears "try again".
bool MaySendFromKernel(int fd, bool nonBlocking)
{
    if (!MayMoveData(fd, true, 0))
        return false;
    if (!IsKnownDatagram(fd))
        return true;
    Peer peer;
    const Verdict verdict = PermitsConnectedDatagram(fd, peer, nonBlocking ? MSG_DONTWAIT : 0);
    if (verdict == Verdict::kPermitted)
        return true;
    if (verdict == Verdict::kAsking)
        errno = EAGAIN;
    else
        Refuse(verdict, EPERM);
    return false;
}

// The next datagram is looked at first (MSG_PEEK): one that is not let in is
// taken off, as a receive does, and the kernel moves the next.
bool MayReceiveIntoKernel(int fd, bool nonBlocking)
{
    if (!MayMoveData(fd, false, 0))
        return false;
    if (!IsKnownDatagram(fd))
        return true;
    char first;
    iovec part {&first, 1};
    msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    return ReceiveByRecvmsg(fd, &message, MSG_PEEK | (nonBlocking ? MSG_DONTWAIT : 0)) >= 0;
}

}  // namespace

ZEL_HOOK ssize_t sendfile(int out, int in, off_t* offset, size_t count) noexcept
{
    REAL(sendfile);
    if (!MaySendFromKernel(out, false))
        return -1;
    return real_sendfile(out, in, offset, count);
}

ZEL_HOOK ssize_t sendfile64(int out, int in, off64_t* offset, size_t count) noexcept
{
    REAL(sendfile64);
    if (!MaySendFromKernel(out, false))
        return -1;
    return real_sendfile64(out, in, offset, count);
}

ZEL_HOOK ssize_t splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t length, unsigned int flags)
{
    REAL(splice);
    const bool nonBlocking = flags & SPLICE_F_NONBLOCK;
    if (!MayReceiveIntoKernel(in, nonBlocking) || !MaySendFromKernel(out, nonBlocking))
        return -1;
    return real_splice(in, inOffset, out, outOffset, length, flags);
}
