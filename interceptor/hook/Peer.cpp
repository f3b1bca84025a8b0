#include "Peer.h"

#include <arpa/inet.h>
#include <cstring>

namespace hook {

bool AddressText(const sockaddr* address, char* text, unsigned size)
{
    if (!address)
        return false;
    if (address->sa_family == AF_INET)
        return ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, size) != nullptr;
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr))
            return ::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, size) != nullptr;
        return ::inet_ntop(AF_INET6, &in6->sin6_addr, text, size) != nullptr;
    }
    return false;
}

bool DescribePeer(const sockaddr* address, Peer& peer)
{
    if (!AddressText(address, peer.address, sizeof peer.address))
        return false;
    peer.port = address->sa_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in*>(address)->sin_port)
                                              : ntohs(reinterpret_cast<const sockaddr_in6*>(address)->sin6_port);
    return true;
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
