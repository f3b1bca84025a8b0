#include "rules/TimedAnswer.h"

#include "text/Strings.h"

#include <sstream>

namespace rules {

std::string AnswerText(const TimedAnswer& answer)
{
    const auto part = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    return std::string(WordOf(answer.direction)) + " " + WordOf(answer.permission) + " "
        + std::to_string(answer.until) + " " + std::to_string(answer.port) + " " + part(answer.address) + " "
        + part(answer.host);
}

std::optional<TimedAnswer> AnswerOfText(std::string_view text)
{
    std::istringstream in {std::string(text)};
    std::string direction, permission, until, port, address, host, more;
    if (!(in >> direction >> permission >> until >> port >> address >> host) || (in >> more))
        return std::nullopt;
    TimedAnswer answer;
    if (direction != WordOf(Direction::kIncoming) && direction != WordOf(Direction::kOutgoing))
        return std::nullopt;
    answer.direction = DirectionOf(direction);
    if (permission != WordOf(Permission::kPermit) && permission != WordOf(Permission::kDeny))
        return std::nullopt;
    answer.permission = PermissionOf(permission);
    if (until.empty() || until.size() > 18 || until.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    answer.until = text::ParseDecimal(until);
    const std::optional<int> number = PortOf(port);
    if (!number)
        return std::nullopt;
    answer.port = *number;
    answer.address = address == "-" ? std::string() : address;
    answer.host = host == "-" ? std::string() : host;
    if (!answer.address.empty() && !answer.host.empty())
        return std::nullopt;
    return answer;
}

}  // namespace rules
