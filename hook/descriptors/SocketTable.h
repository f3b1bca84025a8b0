#pragma once

#include <atomic>
#include <cstdint>

// What the hook knows about each descriptor of its program, kept in flat
// tables indexed by descriptor number so that asking costs a memory load
// (past the first 65536 numbers, two: see DescriptorBlocks in Memory.h).
//
// A descriptor's kind is learnt when it is made or enters the program: a
// socket made, a connection accepted, a descriptor duplicated, the sockets
// the program inherited (looked at once when the hook is loaded, before the
// program can have sandboxed itself). A descriptor the hook did not see made
// (received from another process, made by a raw system call) is of unknown
// kind: the hook finds out what it is only from what the program's own call
// returns, or asks the kernel once the call names an IP peer and so must be
// decided anyway. A program that forbade itself
// system calls (seccomp) never meets one of the hook's own on the way.
namespace hook {

enum Kind : unsigned char { kUnknown = 0, kOther = 1, kTcpSocket = 2, kUdpSocket = 3 };

inline bool IsIpSocket(Kind kind) { return kind == kTcpSocket || kind == kUdpSocket; }

void SetKind(int fd, Kind kind);
Kind KnownKind(int fd);
// The kind for a call decided by what the hook knows (a send without an
// address): what it knows, or, once the kind of some IP socket could not be
// kept (no memory for the tables), what the kernel says of one it does not
// know. Never passed undecided for want of memory.
Kind KindToDecide(int fd);
// The kind, asking the kernel when the hook does not know it: only for a
// call that already involves an IP peer (it is decided, which reads the
// rules and may write the log).
Kind KindOf(int fd);
// The kind of a socket by its domain, type and protocol: UDP is what the
// rules call UDP (not ICMP "ping" datagrams, not raw sockets).
Kind KindFrom(int domain, int type, int protocol);
// Learns the kinds of the sockets the program inherited: once, at load.
void LearnInheritedDescriptors();
// Everything known about from goes to to as well (dup, dup2, F_DUPFD).
void CopyKnowledge(int from, int to);

// A TCP connection the program made to port 53: its answers teach names.
void SetDnsStream(int fd);
bool IsDnsStream(int fd);

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
// Changes whenever the number is forgotten: it tells a socket under the
// number from the next one given it. False past the tables.
bool GenerationOf(int fd, uint32_t& generation);

// Marks of the firewall's own, set only while a question about a connection
// is open or its answer is still to be told (see StandIns.h). A call on a
// descriptor looks at them only when some descriptor has one: one load.
enum Mark : unsigned char {
    kMarkRefused = 0x10,  // a connection refused by the user, not reported yet
    kMarkKept = 0x20,     // a socket or signal the firewall keeps aside: not the program's
    kMarkStandsIn = 0x40, // the number stands in for a socket kept aside
};
// Acquire: a thread that sees a mark go sees what was done before it went
// (the socket put back under its number); a plain load on x86.
extern std::atomic<int> g_markedDescriptors;
inline bool AnyMarks() { return g_markedDescriptors.load(std::memory_order_acquire) != 0; }
unsigned char MarksOf(int fd);
// False when there was no memory for the tables.
bool SetMark(int fd, Mark mark);
// Whether it was set.
bool ClearMark(int fd, Mark mark);
// The lowest descriptor in [first, last] with mark, into fd.
bool FirstMarkedIn(unsigned first, unsigned last, Mark mark, unsigned& fd);
// The lowest descriptor in [first, last] of known kind, into fd.
bool FirstKnownIn(unsigned first, unsigned last, unsigned& fd);

}  // namespace hook
