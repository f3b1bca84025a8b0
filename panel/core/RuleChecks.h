#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the rule editor accepts, and the ports list it offers names from.
namespace panel {

// One dotted IPv4 address: four parts of digits from 0 to 255, blanks
// allowed around the address but not inside it (the engine reads nothing
// else); the empty text is valid (it stands for no address).
bool CheckSingleIp(std::string_view text);
// Addresses separated by ",", each as CheckSingleIp wants it.
bool CheckIpList(std::string_view text);
// Host patterns separated by ",": "name", "*.domain", "*" or "?", names in
// their ASCII form. The patterns as the rules file keeps them (lower case,
// no trailing dot), or nothing when any item is none.
std::optional<std::vector<std::string>> CheckHostList(std::string_view text);
// Empty (port 0, every port) or a whole decimal number of 32 bits.
bool CheckPortOk(std::string_view text);
// a·2^24 + b·2^16 + c·2^8 + d of a dotted address (0 for the empty text).
double longfromip(std::string_view text);

// The ports list: "name port" per line. Reading stops at the first line
// that gives no number (a trailing empty line among them).
std::vector<std::pair<std::string, int>> LoadPortsFile(const std::string& path);
// The same from the file's text.
std::vector<std::pair<std::string, int>> ParsePortsText(const std::string& text);

}  // namespace panel
