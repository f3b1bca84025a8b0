#include "rules/Words.h"

#include "rules/RulesFormat.h"
#include "text/Strings.h"

namespace rules {

namespace rf = rules::rules_format;

Permission PermissionOf(std::string_view word)
{
    if (word == rf::kPermit)
        return Permission::kPermit;
    if (word == rf::kAsk)
        return Permission::kAsk;
    return Permission::kDeny;
}

Direction DirectionOf(std::string_view word) { return word == rf::kIncoming ? Direction::kIncoming : Direction::kOutgoing; }

const char* WordOf(Permission permission)
{
    switch (permission) {
    case Permission::kPermit:
        return rf::kPermit;
    case Permission::kAsk:
        return rf::kAsk;
    case Permission::kDeny:
        break;
    }
    return rf::kDeny;
}

const char* WordOf(Direction direction) { return direction == Direction::kIncoming ? rf::kIncoming : rf::kOutgoing; }

std::optional<int> PortOf(std::string_view text)
{
    text = text::TrimBlanks(text);
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto value = text::ParseDecimal(text);
    if (value > 65535)
        return std::nullopt;
    return static_cast<int>(value);
}

}  // namespace rules
