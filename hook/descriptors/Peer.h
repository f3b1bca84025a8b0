#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

namespace hook {

// The other end of a connection or datagram as the engine is told of it.
struct Peer {
    char address[INET6_ADDRSTRLEN] = {};
    unsigned port = 0;
};

// An IPv4 or IPv6 peer as text; IPv4-mapped IPv6 addresses are IPv4.
bool DescribePeer(const sockaddr* address, Peer& peer);
// The address alone, as DescribePeer writes it; false for other families.
bool AddressText(const sockaddr* address, char* text, unsigned size);
// The port alone; false for other families.
bool PortOf(const sockaddr* address, unsigned& port);
uint64_t PeerHash(const Peer& peer);
bool SamePeer(const Peer& a, const Peer& b);

}  // namespace hook
