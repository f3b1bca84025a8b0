#include "SocketTable.h"

#include "Memory.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace hook {

namespace {

struct Tables {
    std::atomic<unsigned char> kinds[kTrackedDescriptors];
    // Bit 16: the port is known; bits 0..15: the port.
    std::atomic<uint32_t> ports[kTrackedDescriptors];
    std::atomic<uint64_t> decidedPeers[kTrackedDescriptors];
};

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

}  // namespace

void SetKind(int fd, Kind kind)
{
    if (IsIpSocket(kind))
        g_hadIpSocket.store(true, std::memory_order_relaxed);
    if (Tracked(fd))
        if (Tables* tables = kind == kUnknown ? Existing() : Made())
            tables->kinds[fd].store(kind, std::memory_order_relaxed);
}

Kind KnownKind(int fd)
{
    const Tables* tables = Existing();
    return tables && Tracked(fd) ? static_cast<Kind>(tables->kinds[fd].load(std::memory_order_relaxed)) : kUnknown;
}

Kind KindOf(int fd)
{
    Kind kind = KnownKind(fd);
    if (kind != kUnknown)
        return kind;
    int domain = 0, type = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 || (domain != AF_INET && domain != AF_INET6)) {
        kind = kOther;
    } else {
        length = sizeof type;
        ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length);
        kind = type == SOCK_STREAM ? kTcpSocket : type == SOCK_DGRAM ? kUdpSocket : kOther;
        // Made behind our back (inherited, or by a raw call): its port is asked when needed.
        if (Tables* tables = Existing(); tables && Tracked(fd))
            tables->ports[fd].store(0, std::memory_order_relaxed);
    }
    SetKind(fd, kind);
    return kind;
}

bool HasHadIpSocket() { return g_hadIpSocket.load(std::memory_order_relaxed); }

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
    tables->kinds[fd].store(kUnknown, std::memory_order_relaxed);
    tables->ports[fd].store(0, std::memory_order_relaxed);
    tables->decidedPeers[fd].store(0, std::memory_order_relaxed);
}

}  // namespace hook
