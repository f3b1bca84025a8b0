#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The settings store. A key is a folder below the registry root, a value a
// file holding its text. Key and value names compare without regard to case;
// a key path may use "\" or "/" between its parts. Only string values exist.
namespace platform::registry {

enum class RootKey { LocalMachine };

inline constexpr std::string_view kSettingsKey = "Software\\KORVEL\\QRB";
inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr std::string_view kAutostartValue = "Korvel Firewall";

// Parses "HKLM", "HKEY_LOCAL_MACHINE" (any case); nullopt for other roots.
std::optional<RootKey> ParseRootKey(std::string_view name);

// A value whose location is resolved once, so that repeated reads cost one
// open and one read. Cheap to copy.
class Value {
public:
    Value(RootKey root, std::string_view subKey, std::string_view valueName);

    // The text up to its first NUL, or nullopt when the value is missing.
    std::optional<std::string> Read() const;
    // The same into a caller's buffer (NUL-terminated, cut to fit); false when missing.
    bool ReadInto(char* buffer, size_t size) const;
    bool Exists() const;

private:
    int Open() const;

    RootKey root_;
    std::string subKey_;
    std::string name_;
    std::string exactPath_;
};

// Returns an empty text when the value is missing.
std::string GetString(RootKey root, std::string_view subKey, std::string_view valueName);
std::optional<std::string> Query(RootKey root, std::string_view subKey, std::string_view valueName);
// Creates the key when needed; replaces the value atomically.
bool SetString(RootKey root, std::string_view subKey, std::string_view valueName, std::string_view text);
// True when the value is gone afterwards (also when it never existed).
bool DeleteValue(RootKey root, std::string_view subKey, std::string_view valueName);
// Values of a key in name order; empty when the key is missing.
std::vector<std::pair<std::string, std::string>> ListValues(RootKey root, std::string_view subKey);

// A value name the store can hold: not empty, no '/', no NUL, not "." or "..".
bool IsValidName(std::string_view name);

}  // namespace platform::registry
