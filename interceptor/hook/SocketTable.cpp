#include "SocketTable.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace hook {

namespace {

std::atomic<unsigned char> g_kinds[kTrackedDescriptors];
// Bit 16: the port is known; bits 0..15: the port.
std::atomic<uint32_t> g_ports[kTrackedDescriptors];
std::atomic<uint64_t> g_decidedPeers[kTrackedDescriptors];
std::atomic<bool> g_hadIpSocket {false};

constexpr uint32_t kPortKnown = 1u << 16;

bool Tracked(int fd) { return fd >= 0 && fd < kTrackedDescriptors; }

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
        g_kinds[fd].store(kind, std::memory_order_relaxed);
}

Kind KnownKind(int fd)
{
    return Tracked(fd) ? static_cast<Kind>(g_kinds[fd].load(std::memory_order_relaxed)) : kUnknown;
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
        if (Tracked(fd))
            g_ports[fd].store(0, std::memory_order_relaxed);
    }
    SetKind(fd, kind);
    return kind;
}

bool HasHadIpSocket() { return g_hadIpSocket.load(std::memory_order_relaxed); }

void SetBoundPort(int fd, unsigned port, bool known)
{
    if (Tracked(fd))
        g_ports[fd].store(known ? (kPortKnown | (port & 0xFFFFu)) : 0, std::memory_order_relaxed);
}

unsigned LocalPortOf(int fd)
{
    if (!Tracked(fd))
        return AskLocalPort(fd);
    const uint32_t port = g_ports[fd].load(std::memory_order_relaxed);
    if (port & kPortKnown)
        return port & 0xFFFFu;
    const unsigned asked = AskLocalPort(fd);
    // A port the kernel chose never changes; an unbound socket's 0 might.
    if (asked != 0)
        g_ports[fd].store(kPortKnown | asked, std::memory_order_relaxed);
    return asked;
}

unsigned ListeningPort(int fd) { return LocalPortOf(fd); }

void SetDecidedPeer(int fd, uint64_t peer)
{
    if (Tracked(fd))
        g_decidedPeers[fd].store(peer, std::memory_order_relaxed);
}

uint64_t DecidedPeer(int fd) { return Tracked(fd) ? g_decidedPeers[fd].load(std::memory_order_relaxed) : 0; }

void Forget(int fd)
{
    if (!Tracked(fd))
        return;
    g_kinds[fd].store(kUnknown, std::memory_order_relaxed);
    g_ports[fd].store(0, std::memory_order_relaxed);
    g_decidedPeers[fd].store(0, std::memory_order_relaxed);
}

}  // namespace hook
