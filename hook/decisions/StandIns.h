#pragma once

#include "hook/decisions/Questions.h"

#include <cstdint>
#include <sys/epoll.h>
#include <sys/socket.h>

// A socket whose connection waits for the user's answer, while the program
// goes on. The kernel does the waiting, so that nothing spins: the
// program's descriptor stands in for the socket, referring to something
// genuinely not ready, and the socket is kept aside under a high number
// (close-on-exec) until the answer is known. Every call the program makes on
// its number meanwhile goes where it would on a socket in that state.
//
// A connection being made (a non-blocking connect, or one with a time-out):
// the number refers to the write end of a full pipe, which is never
// readable or writable, so poll, select and epoll report nothing. Once the
// connection is permitted the question's thread makes it; when the kernel
// reports it made or failed (at once for a denial), the socket goes back
// under the program's number and into every epoll set the program put the
// number in, and the pipe is emptied, which wakes a poll or select waiting
// on it. A denied socket comes back unconnected (it polls writable and hung
// up, as a refused one does) and reports ECONNREFUSED once: through SO_ERROR,
// a second connect, or its first send or receive. No packet leaves before
// the answer.
//
// A listener (a non-blocking accept, or one with a time-out, met a
// connection the user must decide): the connection is held back and the
// program told EAGAIN; the number refers to an epoll set of the firewall's
// holding the listening socket and a signal, so it is readable when a
// connection waits in the kernel's queue or a held one was permitted, which
// accept then hands over. A denied one is reset: the program never sees it.
//
// Closing the number (or replacing it with dup2) withdraws the questions; a
// fork gives the child the socket itself under the number; an exec takes
// the firewall's descriptors away. While nothing stands in, every call pays
// one load (AnyMarks in SocketTable.h).
namespace hook {

// ---- Connections being made ---------------------------------------------------------

// fd now stands in for the socket, which connects to address once the user
// permits it (peerKey and dnsStream as the hook marks a permitted one). False
// when that could not be set up: the caller asks and waits, as before.
bool StandInForConnection(int fd, const sockaddr* address, socklen_t length, const Question& question,
                          uint64_t peerKey, bool dnsStream);
// connect() again on a number that stands in: EALREADY on a non-blocking
// socket; a blocking one waits (within its SO_SNDTIMEO) as AwaitConnection.
// -1 with errno, or 0 once connected; false when fd stands in for no
// connection being made.
bool ConnectAgain(int fd, int& result);
// Waits until the connection fd stood in for is made or refused, or the
// deadline (milliseconds on CLOCK_MONOTONIC; 0: none) passed: 0 when made,
// else -1 with errno (the connection's error, EINPROGRESS at the deadline,
// EINTR when a signal's handler ran).
int AwaitConnection(int fd, long long deadlineMs);
// The refusal fd has to report, taken: true once.
bool TakeRefusal(int fd);

// ---- Listeners --------------------------------------------------------------------------

// Holds connection back from the program while the user decides about it;
// listener stands in from now on. False when it could not be (the caller
// asks and waits, as before); connection is then still the caller's.
bool HoldConnection(int listener, int connection, const sockaddr* peer, socklen_t peerLength,
                    const Question& question);
// accept on a number that stands in for a listener: a permitted connection
// held back (handedOver; peer filled in), else one from the kernel's queue,
// as accept4(flags) returns it. -2 when listener stands in for nothing.
int AcceptOnStandIn(int listener, sockaddr* peer, socklen_t* peerLength, int flags, bool& handedOver);

// ---- Every call on a number that stands in ----------------------------------------------

// The socket kept aside for fd, with the stand-ins' lock held until
// ReleaseKeptSocket: for calls that read or set the socket's state
// (getsockopt, setsockopt, getsockname, fcntl, ioctl, shutdown...). -1 (and
// no lock held) when fd stands in for nothing.
int HoldKeptSocket(int fd);
void ReleaseKeptSocket();
// Before a call moving data on fd: 0 to make it (on the socket, which may
// just have come back), or -1 with errno: EAGAIN while the connection is not
// made and the call may not wait (a blocking one waits, within the socket's
// time-out), ENOTCONN on a listener, ECONNREFUSED once after a refusal.
int BeforeData(int fd, bool sending, int flags);
// The program's epoll_ctl on a number that stands in: made, and followed.
// False when fd stands in for nothing.
bool EpollControl(int epoll, int op, int fd, epoll_event* event, int& result);
// The program closes fd, or puts another file under its number: the
// questions are withdrawn and the socket closed (the caller then closes fd).
void Withdraw(int fd);
// A number the program wants for itself (dup2) that holds one of the
// firewall's descriptors kept aside: ours moves elsewhere first.
void MoveKeptAside(int fd);

void LockStandInsForFork();
void UnlockStandInsAfterFork(bool inChild);

}  // namespace hook
