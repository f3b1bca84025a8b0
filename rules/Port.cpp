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

}  // namespace rules
