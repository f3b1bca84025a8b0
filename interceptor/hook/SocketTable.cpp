#include "SocketTable.h"

#include "Memory.h"
#include "OpenDescriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hook {

std::atomic<int> g_markedDescriptors {0};

namespace {

struct Tables {
    // Bits 0..1: the kind; bits 4..6: marks (SocketTable.h); bit 7: a TCP
    // connection to port 53.
    std::atomic<unsigned char> kinds[kTrackedDescriptors];
    // Bit 16: the port is known; bits 0..15: the port.
    std::atomic<uint32_t> ports[kTrackedDescriptors];
    std::atomic<uint64_t> decidedPeers[kTrackedDescriptors];
    std::atomic<uint32_t> generations[kTrackedDescriptors];
};

constexpr unsigned char kKindBits = 0x03;
constexpr unsigned char kDnsStreamBit = 0x80;
constexpr unsigned char kMarkBits = kMarkRefused | kMarkKept | kMarkStandsIn;

int CountMarks(unsigned char bits)
{
    return ((bits & kMarkRefused) != 0) + ((bits & kMarkKept) != 0) + ((bits & kMarkStandsIn) != 0);
}

// Made at the program's first socket: a program without any never pays for them.
std::atomic<Tables*> g_tables {nullptr};
std::atomic<bool> g_hadIpSocket {false};

constexpr uint32_t kPortKnown = 1u << 16;

bool Tracked(int fd) { return fd >= 0 && fd < kTrackedDescriptors; }

Tables* Existing() { return g_tables.load(std::memory_order_acquire); }

Tables* Made()
{
    if (Tables* tables = Existing())
        return tables;
    return MapOnce(g_tables);
}

unsigned AskLocalPort(int fd)
{
    sockaddr_storage local {};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
    if (local.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
    return 0;
}

// What the kernel says the descriptor is; kUnknown when it is no socket.
Kind AskKind(int fd)
{
    int domain = 0, type = 0, protocol = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0)
        return kUnknown;
    if (domain != AF_INET && domain != AF_INET6)
        return kOther;
    length = sizeof type;
    ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
    length = sizeof protocol;
    ::getsockopt(fd, SOL_SOCKET, SO_PROTOCOL, &protocol, &length);
    return KindFrom(domain, type, protocol);
}

// An inherited socket: learnt as made, its port asked when needed. Other
// descriptors stay unknown, which costs a program without sockets nothing.
void LearnInherited(int fd)
{
    const Kind kind = AskKind(fd);
    if (IsIpSocket(kind)) {
        SetKind(fd, kind);
        SetBoundPort(fd, 0, false);
    }
}

}  // namespace

Kind KindFrom(int domain, int type, int protocol)
{
    if (domain != AF_INET && domain != AF_INET6)
        return kOther;
    const int base = type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (base == SOCK_STREAM && (protocol == 0 || protocol == IPPROTO_TCP))
        return kTcpSocket;
    if (base == SOCK_DGRAM && (protocol == 0 || protocol == IPPROTO_UDP || protocol == IPPROTO_UDPLITE))
        return kUdpSocket;
    return kOther;
}

void SetKind(int fd, Kind kind)
{
    if (IsIpSocket(kind))
        g_hadIpSocket.store(true, std::memory_order_relaxed);
    // Only an IP socket brings the tables: a program with local sockets
    // alone (a sandboxed one among them) never maps them, and its
    // descriptors stay of unknown kind, which costs it nothing either.
    if (Tracked(fd))
        if (Tables* tables = IsIpSocket(kind) ? Made() : Existing()) {
            // Marks stay: they are the firewall's, not the program's.
            unsigned char old = tables->kinds[fd].load(std::memory_order_relaxed);
            while (!tables->kinds[fd].compare_exchange_weak(old, static_cast<unsigned char>((old & kMarkBits) | kind),
                                                            std::memory_order_relaxed)) {
            }
        }
}

Kind KnownKind(int fd)
{
    const Tables* tables = Existing();
    return tables && Tracked(fd)
        ? static_cast<Kind>(tables->kinds[fd].load(std::memory_order_relaxed) & kKindBits)
        : kUnknown;
}

Kind KindOf(int fd)
{
    Kind kind = KnownKind(fd);
    if (kind != kUnknown)
        return kind;
    kind = AskKind(fd);
    if (kind == kUnknown)
        kind = kOther;
    // Made behind our back: its port is asked when needed.
    if (Tables* tables = Existing(); tables && Tracked(fd))
        tables->ports[fd].store(0, std::memory_order_relaxed);
    SetKind(fd, kind);
    return kind;
}

bool HasHadIpSocket() { return g_hadIpSocket.load(std::memory_order_relaxed); }

namespace {

// Descriptors from first on, as /proc lists them.
void LearnInheritedFromProc(int first)
{
    ForEachOpenDescriptor(first, [](int fd, int, const char*, void*) { LearnInherited(fd); }, nullptr);
}

}  // namespace

void LearnInheritedDescriptors()
{
    // The first 64 descriptors in one call (poll marks the closed ones):
    // what nearly every program inherits, for a few microseconds at its
    // start. Only a program that has the last of them open too is looked at
    // further, through /proc.
    constexpr int kFirst = 64;
    const int saved = errno;
    pollfd descriptors[kFirst];
    for (int fd = 0; fd < kFirst; ++fd)
        descriptors[fd] = {fd, 0, 0};
    if (::poll(descriptors, kFirst, 0) < 0) {
        LearnInheritedFromProc(0);
    } else {
        for (int fd = 0; fd < kFirst; ++fd)
            if (!(descriptors[fd].revents & POLLNVAL))
                LearnInherited(fd);
        if (!(descriptors[kFirst - 1].revents & POLLNVAL))
            LearnInheritedFromProc(kFirst);
    }
    errno = saved;
}

void CopyKnowledge(int from, int to)
{
    Tables* tables = Existing();
    if (!tables || !Tracked(to))
        return;
    if (!Tracked(from)) {
        Forget(to);
        return;
    }
    const unsigned char copied = tables->kinds[from].load(std::memory_order_relaxed) & ~kMarkBits;
    const unsigned char old = tables->kinds[to].exchange(copied, std::memory_order_acq_rel);
    if (old & kMarkBits)
        g_markedDescriptors.fetch_sub(CountMarks(old), std::memory_order_release);
    tables->ports[to].store(tables->ports[from].load(std::memory_order_relaxed), std::memory_order_relaxed);
    tables->decidedPeers[to].store(tables->decidedPeers[from].load(std::memory_order_relaxed),
                                   std::memory_order_relaxed);
}

void SetDnsStream(int fd)
{
    if (Tables* tables = Existing(); tables && Tracked(fd))
        tables->kinds[fd].fetch_or(kDnsStreamBit, std::memory_order_relaxed);
}

bool IsDnsStream(int fd)
{
    const Tables* tables = Existing();
    return tables && Tracked(fd) && (tables->kinds[fd].load(std::memory_order_relaxed) & kDnsStreamBit);
}

void SetBoundPort(int fd, unsigned port, bool known)
{
    if (Tables* tables = Made(); tables && Tracked(fd))
        tables->ports[fd].store(known ? (kPortKnown | (port & 0xFFFFu)) : 0, std::memory_order_relaxed);
}

unsigned LocalPortOf(int fd)
{
    Tables* tables = Existing();
    if (!tables || !Tracked(fd))
        return AskLocalPort(fd);
    const uint32_t port = tables->ports[fd].load(std::memory_order_relaxed);
    if (port & kPortKnown)
        return port & 0xFFFFu;
    const unsigned asked = AskLocalPort(fd);
    // A port the kernel chose never changes; an unbound socket's 0 might.
    if (asked != 0)
        tables->ports[fd].store(kPortKnown | asked, std::memory_order_relaxed);
    return asked;
}

unsigned ListeningPort(int fd) { return LocalPortOf(fd); }

void SetDecidedPeer(int fd, uint64_t peer)
{
    if (Tables* tables = peer ? Made() : Existing(); tables && Tracked(fd))
        tables->decidedPeers[fd].store(peer, std::memory_order_relaxed);
}

uint64_t DecidedPeer(int fd)
{
    const Tables* tables = Existing();
    return tables && Tracked(fd) ? tables->decidedPeers[fd].load(std::memory_order_relaxed) : 0;
}

void Forget(int fd)
{
    Tables* tables = Existing();
    if (!tables || !Tracked(fd))
        return;
    const unsigned char old = tables->kinds[fd].exchange(kUnknown, std::memory_order_acq_rel);
    if (old & kMarkBits)
        g_markedDescriptors.fetch_sub(CountMarks(old), std::memory_order_release);
    tables->ports[fd].store(0, std::memory_order_relaxed);
    tables->decidedPeers[fd].store(0, std::memory_order_relaxed);
    tables->generations[fd].fetch_add(1, std::memory_order_relaxed);
}

bool GenerationOf(int fd, uint32_t& generation)
{
    const Tables* tables = Existing();
    if (!tables || !Tracked(fd))
        return false;
    generation = tables->generations[fd].load(std::memory_order_relaxed);
    return true;
}

unsigned char MarksOf(int fd)
{
    const Tables* tables = Existing();
    return tables && Tracked(fd) ? tables->kinds[fd].load(std::memory_order_acquire) & kMarkBits : 0;
}

bool SetMark(int fd, Mark mark)
{
    Tables* tables = Tracked(fd) ? Made() : nullptr;
    if (!tables)
        return false;
    if (!(tables->kinds[fd].fetch_or(mark, std::memory_order_acq_rel) & mark))
        g_markedDescriptors.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

bool ClearMark(int fd, Mark mark)
{
    Tables* tables = Existing();
    if (!tables || !Tracked(fd))
        return false;
    const bool was = tables->kinds[fd].fetch_and(static_cast<unsigned char>(~mark), std::memory_order_acq_rel) & mark;
    if (was)
        g_markedDescriptors.fetch_sub(1, std::memory_order_acq_rel);
    return was;
}

bool FirstMarkedIn(unsigned first, unsigned last, Mark mark, unsigned& fd)
{
    const Tables* tables = Existing();
    if (!tables || !AnyMarks())
        return false;
    for (unsigned at = first; at <= last && at < static_cast<unsigned>(kTrackedDescriptors); ++at)
        if (tables->kinds[at].load(std::memory_order_relaxed) & mark) {
            fd = at;
            return true;
        }
    return false;
}

}  // namespace hook
