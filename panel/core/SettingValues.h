#pragma once

#include "protocol/Registry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace panel {

// The settings store as the control panel reads and writes it: failures are
// written to the error log, never thrown.

using protocol::registry::RootKey;

// A value's text; empty when it is missing or cannot be read (logged).
std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName);
// Writes a value whole; failures are logged under "GeneralMdl : SaveString".
bool SaveString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text);
bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName);

// A setting's text read as a boolean: "True"/"False" in any case, or a
// number (0 is false); nullopt for anything else.
std::optional<bool> TextToBoolean(std::string_view text);
// A whole decimal integer of 32 bits, blanks around it allowed.
std::optional<int32_t> TextToInteger(std::string_view text);

}  // namespace panel
