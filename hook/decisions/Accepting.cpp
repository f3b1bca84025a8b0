// An incoming connection's decision, made as the program's accept returns it.
#include "hook/decisions/Decisions.h"

#include "hook/descriptors/Kernel.h"
#include "hook/descriptors/Lifecycle.h"
#include "hook/descriptors/Peer.h"
#include "hook/descriptors/SocketTable.h"
#include "hook/decisions/StandIns.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hook {

// Accepts as the program's call does (acceptOnce makes the same system call
// into the hook's own address; flags are accept4's), and decides an incoming
// IP connection. A listener the program does not wait on (a
// non-blocking one, or one with a receive time-out) never waits for the
// user: a connection the user must decide is held back meanwhile (see
// StandIns.h) and the call goes on to the next, or ends as the kernel's
// would (EAGAIN, at once or at the time-out).
int Accepted(int fd, sockaddr* address, socklen_t* length, int flags, AcceptOnce acceptOnce)
{
    const Kind kind = t_inside == 0 ? KnownKind(fd) : kOther;
    if (kind == kOther || kind == kUdpSocket) {
        const int connection = acceptOnce(fd, address, length, flags);
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
            connection = acceptOnce(fd, reinterpret_cast<sockaddr*>(&from), &fromLength, flags);
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
        Verdict verdict = Assess(kIncoming, peer, kTcp, connection, localPort, question);
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

}  // namespace hook
