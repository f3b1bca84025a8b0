#include "rules/Port.h"

#include "rules/Rule.h"
#include "rules/RulesFormat.h"
#include "rules/Words.h"

namespace rules {

Port Port::Numbered(int number)
{
    Port port;
    port.number = std::to_string(number);
    return port;
}

std::optional<int> Port::Number() const { return number ? PortOf(*number) : std::nullopt; }

RuleMeaning MeaningOf(const Rule& rule)
{
    RuleMeaning meaning;
    meaning.missing = !rule.inForce ? "STATE"
        : !*rule.inForce            ? nullptr
        : !rule.permission          ? "PERMISSION"
        : !rule.direction           ? "DIRECTION"
                                    : nullptr;
    if (rule.inForce == false)
        return meaning;
    if (!meaning.missing) {
        meaning.decides = true;
        meaning.permission = *rule.permission;
        meaning.direction = rule.direction;
        return meaning;
    }
    // Whether it is in force, what it does or which way: unknown. What it
    // could at most have done is permit: as a denial it never lets more through.
    meaning.decides = rule.permission != Permission::kPermit;
    meaning.direction = rule.direction;
    return meaning;
}

PortMeaning MeaningOf(const Port& port, Permission rulePermission)
{
    PortMeaning meaning;
    meaning.permission = rulePermission;
    meaning.number = port.Number();
    if (meaning.number)
        return meaning;
    meaning.unreadable = true;
    if (rulePermission != Permission::kPermit) {
        meaning.number = 0;
        meaning.permission = Permission::kDeny;
    }
    return meaning;
}

std::vector<std::string> Port::ShownAddresses() const
{
    std::vector<std::string> shown;
    if (addresses)
        for (const std::string& address : *addresses)
            if (!hosts || address != rules::rules_format::kNoAddress)
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
        named.addresses = addresses.empty() ? std::vector<std::string> {rules::rules_format::kNoAddress} : addresses;
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
