#pragma once

#include <string>

struct sd_bus;
struct sd_bus_slot;

// The network as NetworkManager knows it, over D-Bus (the system bus, or the
// bus at ZEL_NM_BUS_ADDRESS, which tests set): its primary connection's
// Wi-Fi network "ssid:NAME", or for any other kind of connection
// "nm:ID" (the connection's name); both escaped (os::EscapeNetworkText).
// Apart from os/ proper, as it links libsystemd, which the engine never may.
namespace os {

// Empty when NetworkManager does not run or has no primary connection.
// Every call on the bus waits at most half a second.
std::string NetworkManagerId();
// NetworkManager's id where it has one, else the default gateway's
// (os::GatewayNetworkId); empty: no network.
std::string CurrentNetworkId();

// Notices of NetworkManager's changes: Fd to poll, Drain after it was
// readable (true when NetworkManager told of a change).
class NetworkManagerWatch {
public:
    NetworkManagerWatch();
    ~NetworkManagerWatch();
    NetworkManagerWatch(const NetworkManagerWatch&) = delete;
    NetworkManagerWatch& operator=(const NetworkManagerWatch&) = delete;

    int Fd() const; // -1 without a bus
    bool Drain();

private:
    void Close();

    ::sd_bus* bus_ = nullptr;
    ::sd_bus_slot* slot_ = nullptr;
    bool changed_ = false;
};

}  // namespace os
