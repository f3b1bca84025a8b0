#pragma once

#include "hook/decisions/Datagrams.h"
#include "hook/names/DnsReplies.h"
#include "hook/EngineHost.h"
#include "hook/descriptors/Peer.h"
#include "hook/decisions/Questions.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/descriptors/SocketView.h"
#include "hook/decisions/StandIns.h"
#include "hook/descriptors/Lifecycle.h"
#include "hook/Vfork.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <ctime>

// What the hook's wrappers (calls/) decide before a call goes on: each is
// described where it is made (Decisions.cpp, Accepting.cpp, Receiving.cpp).
namespace hook {

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

// What becomes of a send: made; refused (-1 with errno); made by the hook
// already (a non-blocking Fast Open connect that waits for the user: -1
// with EINPROGRESS); or held back while the user decides about a datagram's
// peer, which looks to the program like a datagram lost on its way.
enum class Send { kMake, kRefused, kStarted, kHeldBack };

// Verdicts and questions.
// socket: the program's socket the connection or datagram is on, whose own
// address tells a connection between two loopback addresses from one
// within 127.0.0.1 (-1: not known).
Verdict Assess(int direction, const Peer& peer, int protocol, int socket, unsigned localPort, Question& question);
Verdict AskNow(const Question& question);
UserAnswer AskEngine(const Question& question, int withdrawFd);
Verdict PermitsDatagram(int fd, int direction, const Peer& peer, int flags = 0, long long deadlineMs = 0,
                        const OutgoingDatagram* sent = nullptr);
Verdict PermitsConnectedDatagram(int fd, Peer& peer, int flags = 0, const OutgoingDatagram* sent = nullptr);
Verdict PermitsDatagramTo(int fd, const sockaddr* to, socklen_t toLength, int flags, const OutgoingDatagram* sent,
                          Peer& peer);
Verdict PermitsConnection(SocketView& view, const Peer& peer, Question& question);
Verdict AskAboutConnection(SocketView& view, const sockaddr* address, socklen_t length, const Peer& peer,
                           const Question& question, int flags, bool useTimeout, int& result);
bool DescribeDestination(int fd, const sockaddr* to, Peer& peer);
Send DecideSend(int fd, const sockaddr* to, socklen_t toLength, int flags, const OutgoingDatagram* sent,
                Peer& datagramPeer);
int Refuse(Verdict verdict, int deniedError);

// Time and waiting.
bool IsNonBlocking(int fd, int flags);
long long NowMs();
long long ReceiveTimeoutMs(int fd);
int WaitReadable(int fd, long long deadline);

// Bytes moved, and what they teach.
size_t MessageBytes(const msghdr* message);
bool AsOutgoing(const msghdr* message, OutgoingDatagram& sent);
void NoteDnsDatagram(int fd, const Peer& to, const iovec* parts, size_t count);
void LearnReceivedDescriptors(const msghdr* message, ssize_t received);

// Receives decided (Receiving.cpp).
ssize_t ReceiveByRecvmsg(int fd, msghdr* message, int flags, long long deadlineMs = 0);
ssize_t ReceiveByRecvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from, socklen_t* fromLength);
ssize_t ReceiveAloneByRecvmmsg(int fd, msghdr* message, int flags, timespec* timeout);

// Connections accepted (Accepting.cpp): acceptOnce makes the program's own
// system call (accept or accept4 with flags) into the hook's address.
using AcceptOnce = int (*)(int fd, sockaddr* from, socklen_t* fromLength, int flags);
int Accepted(int fd, sockaddr* address, socklen_t* length, int flags, AcceptOnce acceptOnce);

// A send on a connected datagram socket: made (true), or ended with result.
bool MayMakeConnectedSend(int fd, int flags, const iovec* parts, size_t count, ssize_t& result);

// Around every call that moves bytes: inline, as they are on every read and write.
// Bytes moved on an IP socket go to the engine's traffic counters, once it
// is there (a program's first decision brings it); the result of the call
// is handed back unchanged.
inline ssize_t CountTraffic(int fd, int counter, ssize_t bytes)
{
    if (bytes > 0 && t_inside == 0 && IsEngineLoaded() && IsIpSocket(KnownKind(fd)))
        Engine().WriteTraffic(counter, static_cast<unsigned>(bytes));
    return bytes;
}

// What a TCP connection to port 53 answered teaches names, when it answers
// a query the program wrote on it. Bytes peeked at are read again later.
inline ssize_t FollowDnsStream(int fd, const iovec* parts, size_t count, ssize_t bytes, int flags = 0)
{
    if (bytes > 0 && !(flags & MSG_PEEK) && IsDnsStream(fd) && t_inside == 0 && !InParentsMemory())
        FeedDnsStream(fd, parts, count, static_cast<size_t>(bytes));
    return bytes;
}

// The queries the program wrote on a TCP connection it made to port 53:
// what was written, once it was.
inline ssize_t FollowDnsQueries(int fd, const iovec* parts, size_t count, ssize_t bytes)
{
    if (bytes > 0 && IsDnsStream(fd) && t_inside == 0 && !InParentsMemory())
        FeedDnsQueries(fd, parts, count, static_cast<size_t>(bytes));
    return bytes;
}

// A receive on a socket the hook decides (a known datagram socket) or may
// have to (one it did not see made).
inline bool MayDecideReceive(Kind kind) { return t_inside == 0 && (kind == kUdpSocket || kind == kUnknown); }
inline bool IsKnownDatagram(int fd) { return t_inside == 0 && KindToDecide(fd) == kUdpSocket; }

// Before a call that moves data on fd: false when it must not be made (errno set).
inline bool MayMoveData(int fd, bool sending, int flags)
{
    return !AnyMarks() || !(MarksOf(fd) & (kMarkStandsIn | kMarkRefused)) || BeforeData(fd, sending, flags) == 0;
}

}  // namespace hook
