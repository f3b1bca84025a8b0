#pragma once

#include <string>

struct nlmsghdr;
#include <string_view>

// Which network the computer is on, as a short id a profile names: the
// default gateway of the main routing table with its hardware address,
// "gw:ADDRESS/MAC" ("gw:ADDRESS" while the neighbour table does not know
// it yet), or empty without a default route. NetworkManager's view, where it
// runs, is os/NetworkManagerId.h.
namespace os {

std::string GatewayNetworkId();

// Bytes from outside (an SSID, a connection's name) as an id may hold them:
// '\' and every byte that is a control character or no part of clean UTF-8
// become "\xHH", so that an id is one printable line, shown as it is stored.
std::string EscapeNetworkText(std::string_view bytes);

// A socket on the kernel's route, neighbour, address and link notices, to
// poll; Fd is -1 when it could not be had.
class RouteWatch {
public:
    RouteWatch();
    ~RouteWatch();
    RouteWatch(const RouteWatch&) = delete;
    RouteWatch& operator=(const RouteWatch&) = delete;

    int Fd() const { return fd_; }
    // Neighbour notices count only for this address (an id's "gw:ADDRESS"
    // part; anything else: none), as every host of a busy network has them.
    void FollowNeighbour(std::string_view id);
    // Reads every notice waiting; true when one of them counts.
    bool Drain();

private:
    bool Counts(const ::nlmsghdr* message) const;

    int fd_ = -1;
    int family_ = 0; // of the neighbour followed; 0: none
    unsigned char neighbour_[16] = {};
};

}  // namespace os
