#pragma once

#include "hook/descriptors/Peer.h"
#include "hook/decisions/Questions.h"

#include <cstdint>
#include <sys/socket.h>
#include <sys/uio.h>

// Datagram sockets exchange many datagrams with few peers: the verdict for
// each peer and direction is remembered per socket, so that a stream is
// decided (and logged) once per peer. A verdict holds only while the engine's
// verdict epoch stays the same (no reload, no change of block-all or of the
// pass-through state, no end of the answer for a time it came from; see
// protocol/hooksafe/HookLink.h). A datagram permitted in is an exchange the program may
// answer: its peer is permitted out on that socket too.
namespace hook {

enum class Recalled { kNothing, kPermitted, kDenied, kAsking };

Recalled RecallVerdict(int fd, int direction, const Peer& peer, uint32_t epoch);
// generation: the number's (GenerationOf) when the decision began; the
// verdict is kept only while it is still the same, so that a number closed
// and given to another socket meanwhile never inherits it. Null: kept.
void RememberVerdict(int fd, int direction, const Peer& peer, bool permitted, uint32_t epoch,
                     const uint32_t* generation = nullptr);

// A datagram the program sends while its peer is being asked about.
struct OutgoingDatagram {
    const iovec* parts = nullptr;
    size_t count = 0;
    const sockaddr* to = nullptr; // null: the connected peer
    socklen_t toLength = 0;
};

// The bytes of parts together, counted without overflow: SIZE_MAX when
// they are more than any send could carry (a program's lengths are not
// trusted to add up).
size_t TotalBytes(const iovec* parts, size_t count);

// Asks the user about peer without waiting (see Questions.h): until the
// answer the peer is being asked about, and its datagrams are held back, as
// datagrams delayed on their way: the last one sent to the peer leaves once
// the peer is permitted (sent is that one, or null), the others are lost, as
// are those that came from the peer meanwhile (the program's own retries go
// through after the answer). The answer is remembered as a verdict of epoch,
// unless the socket was closed or disconnected meanwhile, which withdraws
// the question. False when it could not be asked so (the caller asks and
// waits).
bool AskWithoutWaiting(int fd, int direction, const Peer& peer, uint32_t epoch, const Question& question,
                       const OutgoingDatagram* sent);
// Keeps sent as the datagram that leaves once peer is permitted, when peer
// is being asked about; false otherwise.
bool HoldBack(int fd, const Peer& peer, const OutgoingDatagram& sent);
// Waits while peer is being asked about, until deadlineMs (CLOCK_MONOTONIC;
// 0: no deadline); then what is remembered.
Recalled WaitForVerdict(int fd, int direction, const Peer& peer, uint32_t epoch, long long deadlineMs);

// The peer a connected datagram socket talks to (send, write without an
// address), as the hook saw it connected through this number: kept once the
// connect succeeded, forgotten when it starts (a failed one may leave the
// socket connected to its former peer, which the kernel then tells).
void SetConnectedPeer(int fd, const Peer& peer);
void ForgetConnectedPeer(int fd);
bool ConnectedPeer(int fd, Peer& peer);
// A socket under more than one number (dup): a connect through one changes
// where the others send, so its connected peer is never kept for either and
// is asked of the kernel at each send that names none.
void ShareDatagramSocket(int fd);

// closed: the number is free (else disconnected, and still shared if it was).
void ForgetDatagrams(int fd, bool closed = true);
void LockDatagramsForFork();
// In the child nothing is being asked: no thread answers there.
void UnlockDatagramsAfterFork(bool inChild);

}  // namespace hook
