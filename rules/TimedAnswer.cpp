#include "rules/TimedAnswer.h"

#include "text/Strings.h"


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
    // Not a string stream: it would bring the C++ locale machinery into the
    // engine, which every networked program loads.
    const std::vector<std::string_view> words = text::Words(text, 7);
    if (words.size() != 6)
        return std::nullopt;
    const std::string direction(words[0]), permission(words[1]), until(words[2]), port(words[3]),
        address(words[4]), host(words[5]);
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
