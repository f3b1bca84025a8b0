#include "core/HostPorts.h"

#include "platform/RulesFormat.h"

namespace panel {

std::vector<rules::Port> PortsForOlderReaders(const rules::Port& port, rules::Direction direction,
                                             rules::Permission permission)
{
    if (!port.hosts || port.hosts->empty() || direction == rules::Direction::kIncoming)
        return {port};
    rules::Port named = port;
    const std::vector<std::string> addresses = port.ShownAddresses();
    if (permission == rules::Permission::kPermit) {
        named.addresses = addresses.empty() ? std::vector<std::string> {platform::rules_format::kNoAddress} : addresses;
        return {named};
    }
    named.addresses.reset();
    if (addresses.empty())
        return {named};
    rules::Port numbered = port;
    numbered.addresses = addresses;
    numbered.hosts.reset();
    return {numbered, named};
}

}  // namespace panel
