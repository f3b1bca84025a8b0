#pragma once

#include <atomic>
#include <cstdint>

// What the hook knows about each descriptor of its program, kept in flat
// tables indexed by descriptor number so that asking costs a memory load.
// Descriptors past the tables are asked of the kernel every time.
namespace hook {

enum Kind : unsigned char { kUnknown = 0, kOther = 1, kTcpSocket = 2, kUdpSocket = 3 };

inline bool IsIpSocket(Kind kind) { return kind == kTcpSocket || kind == kUdpSocket; }

constexpr int kTrackedDescriptors = 65536;

void SetKind(int fd, Kind kind);
Kind KnownKind(int fd);
// The kind, asking the kernel when the descriptor was made behind our back.
Kind KindOf(int fd);
// True once the program has had an IP socket: it is a program the firewall decides for.
bool HasHadIpSocket();

// The local port a socket was bound to, when known without asking (0: not
// bound, or bound to a port the kernel chose and not asked yet).
void SetBoundPort(int fd, unsigned port, bool known);
// The local port of a socket, asking the kernel only when it must.
unsigned LocalPortOf(int fd);
// The local port of a listening socket, asked once.
unsigned ListeningPort(int fd);

// One connection, one decision: the peer a TCP socket's connection was
// permitted to (a hash; 0 none), so that a second connect() finishing a
// non-blocking one goes straight to the kernel.
void SetDecidedPeer(int fd, uint64_t peer);
uint64_t DecidedPeer(int fd);

// Everything known about a descriptor goes when it is closed or replaced.
void Forget(int fd);

}  // namespace hook
