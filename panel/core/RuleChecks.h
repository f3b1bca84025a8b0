#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panel {

// What the rule editor accepts, and the ports list it offers names from.

// One address, blanks allowed around it but not inside it: dotted IPv4 in
// four parts of digits from 0 to 255, or IPv6 in any of its written forms
// (the engine reads no other); the empty text is valid (it stands for no
// address).
bool CheckSingleIp(std::string_view text);
// Items separated by ",", each an address as CheckSingleIp wants it or a
// prefix "address/length" of either family ("10.0.0.0/8", "2001:db8::/32").
bool CheckIpList(std::string_view text);
// The bounds of a range "low-high": addresses as CheckSingleIp wants them
// (an empty one is 0.0.0.0), of one family, low not above high.
bool CheckIpRange(std::string_view low, std::string_view high);
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
