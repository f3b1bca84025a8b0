#pragma once

#include <optional>
#include <string>
#include <string_view>

// The host patterns rules may carry, as the engine reads them and the
// control panel writes them: "name", "*.domain", "*" (any looked-up name) or
// "?" (no name). Case, a trailing dot and blanks around do not count.
namespace rules {

// The pattern in the form the rules file keeps ("*.example.org"), or nullopt
// for a text that is none of the four (a '*' elsewhere, an address, a
// character no host name has, over 253 characters).
std::optional<std::string> NormalizeHostPattern(std::string_view text);

}  // namespace rules
