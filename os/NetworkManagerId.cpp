#include "os/NetworkManagerId.h"

#include "os/NetworkIdentity.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <systemd/sd-bus.h>

namespace os {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kPath = "/org/freedesktop/NetworkManager";
constexpr const char* kActiveInterface = "org.freedesktop.NetworkManager.Connection.Active";
constexpr uint64_t kCallTimeoutUs = 500000;

sd_bus* OpenBus()
{
    sd_bus* bus = nullptr;
    const char* address = std::getenv("ZEL_NM_BUS_ADDRESS");
    if (address && *address) {
        if (sd_bus_new(&bus) < 0)
            return nullptr;
        if (sd_bus_set_address(bus, address) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
            sd_bus_unref(bus);
            return nullptr;
        }
    } else if (sd_bus_open_system(&bus) < 0) {
        return nullptr;
    }
    sd_bus_set_method_call_timeout(bus, kCallTimeoutUs);
    return bus;
}

// A property of kind 's' or 'o'; empty when it cannot be had.
std::string Text(sd_bus* bus, const char* path, const char* interface, const char* name, char kind)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::string value;
    const char kinds[2] = {kind, '\0'};
    if (sd_bus_get_property(bus, kService, path, interface, name, &error, &reply, kinds) >= 0) {
        const char* text = nullptr;
        if (sd_bus_message_read_basic(reply, kind, &text) >= 0 && text)
            value = text;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return value;
}

std::string Ssid(sd_bus* bus, const char* accessPoint)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::string ssid;
    if (sd_bus_get_property(bus, kService, accessPoint, "org.freedesktop.NetworkManager.AccessPoint", "Ssid", &error,
                            &reply, "ay")
        >= 0) {
        const void* bytes = nullptr;
        size_t size = 0;
        // At most 32 bytes in 802.11; anything longer is cut.
        if (sd_bus_message_read_array(reply, 'y', &bytes, &size) >= 0 && bytes)
            ssid.assign(static_cast<const char*>(bytes), std::min<size_t>(size, 32));
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return ssid;
}

bool IsObject(const std::string& path) { return !path.empty() && path != "/"; }

int OnChange(sd_bus_message*, void* changed, sd_bus_error*)
{
    *static_cast<bool*>(changed) = true;
    return 0;
}

}  // namespace

std::string NetworkManagerId()
{
    sd_bus* bus = OpenBus();
    if (!bus)
        return {};
    std::string id;
    const std::string primary = Text(bus, kPath, "org.freedesktop.NetworkManager", "PrimaryConnection", 'o');
    if (IsObject(primary)) {
        const std::string type = Text(bus, primary.c_str(), kActiveInterface, "Type", 's');
        const std::string accessPoint = Text(bus, primary.c_str(), kActiveInterface, "SpecificObject", 'o');
        std::string ssid;
        if (type == "802-11-wireless" && IsObject(accessPoint))
            ssid = Ssid(bus, accessPoint.c_str());
        if (!ssid.empty()) {
            id = "ssid:" + EscapeNetworkText(ssid);
        } else if (const std::string name = Text(bus, primary.c_str(), kActiveInterface, "Id", 's'); !name.empty()) {
            id = "nm:" + EscapeNetworkText(name.substr(0, 128));
        }
    }
    sd_bus_flush_close_unref(bus);
    return id;
}

std::string CurrentNetworkId()
{
    std::string id = NetworkManagerId();
    return id.empty() ? GatewayNetworkId() : id;
}

NetworkManagerWatch::NetworkManagerWatch()
{
    bus_ = OpenBus();
    if (!bus_)
        return;
    // Any of NetworkManager's objects: the primary connection, its access point.
    if (sd_bus_match_signal(bus_, &slot_, kService, nullptr, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                            OnChange, &changed_)
        < 0)
        Close();
}

NetworkManagerWatch::~NetworkManagerWatch() { Close(); }

void NetworkManagerWatch::Close()
{
    slot_ = sd_bus_slot_unref(slot_);
    if (bus_)
        sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
}

int NetworkManagerWatch::Fd() const { return bus_ ? sd_bus_get_fd(bus_) : -1; }

bool NetworkManagerWatch::Drain()
{
    changed_ = false;
    // Bounded: a flood of messages is taken in a burst at most this long.
    for (int i = 0; bus_ && i < 256; ++i) {
        const int processed = sd_bus_process(bus_, nullptr);
        if (processed < 0) {
            // The bus went away: no more polling a closed socket. What
            // NetworkManager says is still asked when the routes change.
            Close();
            return true;
        }
        if (processed == 0)
            break;
    }
    return changed_;
}

}  // namespace os
