#pragma once

#include "Peer.h"

#include <cstdint>

// Datagram sockets exchange many datagrams with few peers: the verdict for
// each peer and direction is remembered per socket, so that a stream is
// decided (and logged) once per peer. A verdict holds only while the engine's
// verdict epoch stays the same (no reload, no change of block-all or of the
// pass-through state). A datagram permitted in is an exchange the program may
// answer: its peer is permitted out on that socket too.
namespace hook {

enum class Recalled { kNothing, kPermitted, kDenied };

Recalled RecallVerdict(int fd, int direction, const Peer& peer, uint32_t epoch);
void RememberVerdict(int fd, int direction, const Peer& peer, bool permitted, uint32_t epoch);

// The peer a connected datagram socket talks to (send, write without an address).
void SetConnectedPeer(int fd, const Peer& peer);
bool ConnectedPeer(int fd, Peer& peer);

void ForgetDatagrams(int fd);
void LockDatagramsForFork();
void UnlockDatagramsAfterFork();

}  // namespace hook
