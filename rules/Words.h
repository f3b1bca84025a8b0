#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The words of the rules file's values, and what every reader makes of
// them. Inside the code a permission and a direction are these enums; the
// words are only read and written at the file's edge.
namespace rules {

// The values are the engine's decisions: 0 refuses, 1 lets through, 2 asks.
enum class Permission : uint8_t { kDeny = 0, kPermit = 1, kAsk = 2 };
enum class Direction : uint8_t { kIncoming = 0, kOutgoing = 1 };

// "PERMIT" and "ASK" as they are; any other text refuses, as the engine has
// always read it.
Permission PermissionOf(std::string_view word);
// "INCOMING"; any other text is outgoing.
Direction DirectionOf(std::string_view word);
const char* WordOf(Permission permission);
const char* WordOf(Direction direction);

// A port number as NUMBER holds it: decimal digits (blanks around them
// aside) of a value up to 65535, 0 standing for every port; nullopt for
// anything else, the empty text included, so that a port entry nobody can
// read covers no port at all.
std::optional<int> PortOf(std::string_view text);

}  // namespace rules
