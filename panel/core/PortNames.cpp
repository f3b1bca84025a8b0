#include "panel/core/PortNames.h"

#include "panel/core/SettingValues.h"
#include "text/Strings.h"

namespace panel {

PortNames PortNames::FromText(const std::string& text)
{
    std::vector<std::pair<std::string, int>> ports;
    text::ForEachLine(text, [&](std::string_view line) {
        const size_t blank = line.find(' ');
        if (blank == std::string_view::npos || blank == 0)
            return;
        const size_t digits = line.find_first_of("0123456789", blank);
        if (digits == std::string_view::npos)
            return;
        const size_t end = line.find_first_not_of("0123456789", digits);
        const std::string_view number = line.substr(digits, end == std::string_view::npos ? end : end - digits);
        if (const auto value = TextToInteger(number))
            ports.emplace_back(std::string(line.substr(0, blank)), *value);
    });
    return PortNames(std::move(ports));
}

std::string PortNames::NameOf(std::string_view port) const
{
    const auto number = TextToInteger(port);
    if (!number)
        return {};
    for (const auto& [name, value] : ports_)
        if (value == *number && !name.empty())
            return "(" + name + ")";
    return {};
}

}  // namespace panel
