#include "hook/descriptors/Peer.h"

#include <arpa/inet.h>
#include <cstring>

namespace hook {

namespace {

// A dotted quad, written directly: the C library's formats it through
// sprintf, which costs more than the rest of a decision.
bool FormatIpv4(const unsigned char* bytes, char* text, unsigned size)
{
    if (size < INET_ADDRSTRLEN)
        return false;
    char* at = text;
    for (int i = 0; i < 4; ++i) {
        unsigned value = bytes[i];
        if (value >= 100)
            *at++ = static_cast<char>('0' + value / 100);
        if (value >= 10)
            *at++ = static_cast<char>('0' + value / 10 % 10);
        *at++ = static_cast<char>('0' + value % 10);
        *at++ = i < 3 ? '.' : '\0';
    }
    return true;
}

}  // namespace

bool AddressText(const sockaddr* address, char* text, unsigned size)
{
    if (!address)
        return false;
    if (address->sa_family == AF_INET)
        return FormatIpv4(reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr),
                          text, size);
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return FormatIpv4(&in6->sin6_addr.s6_addr[12], text, size);
        return ::inet_ntop(AF_INET6, &in6->sin6_addr, text, size) != nullptr;
    }
    return false;
}

bool PortOf(const sockaddr* address, unsigned& port)
{
    if (!address || (address->sa_family != AF_INET && address->sa_family != AF_INET6))
        return false;
    port = address->sa_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port)
                                         : ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    return true;
}

bool DescribePeer(const sockaddr* address, Peer& peer)
{
    return AddressText(address, peer.address, sizeof peer.address) && PortOf(address, peer.port);
}

uint64_t PeerHash(const Peer& peer)
{
    uint64_t hash = 1469598103934665603ull;
    for (const char* c = peer.address; *c; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    hash = (hash ^ peer.port) * 1099511628211ull;
    return hash | 1; // never 0, which means "none"
}

bool SamePeer(const Peer& a, const Peer& b) { return a.port == b.port && std::strcmp(a.address, b.address) == 0; }

}  // namespace hook
