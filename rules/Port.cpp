#include "rules/Port.h"

#include "rules/Words.h"
#include "platform/RulesFormat.h"

namespace rules {

Port Port::Numbered(int number)
{
    Port port;
    port.number = std::to_string(number);
    return port;
}

std::optional<int> Port::Number() const { return number ? PortOf(*number) : std::nullopt; }

std::vector<std::string> Port::ShownAddresses() const
{
    std::vector<std::string> shown;
    if (addresses)
        for (const std::string& address : *addresses)
            if (!hosts || address != platform::rules_format::kNoAddress)
                shown.push_back(address);
    return shown;
}

std::vector<Port> PortsForOlderReaders(const Port& port, Direction direction,
                                             Permission permission)
{
    // An empty host list beside addresses adds nothing here, but a reader
    // that knows no ADDRESSES would find the port covering nothing at all.
    if (port.hosts && port.hosts->empty() && port.addresses && !port.addresses->empty()) {
        Port addressed = port;
        addressed.hosts.reset();
        return {addressed};
    }
    if (!port.hosts || port.hosts->empty() || direction == Direction::kIncoming)
        return {port};
    Port named = port;
    const std::vector<std::string> addresses = port.ShownAddresses();
    if (permission == Permission::kPermit) {
        named.addresses = addresses.empty() ? std::vector<std::string> {platform::rules_format::kNoAddress} : addresses;
        return {named};
    }
    named.addresses.reset();
    if (addresses.empty())
        return {named};
    Port numbered = port;
    numbered.addresses = addresses;
    numbered.hosts.reset();
    return {numbered, named};
}

}  // namespace rules
