#pragma once

#include <string>

// The control panel's own fixed texts, in one place. The words of the rules
// file are platform::rules_format's, the names of the settings
// platform::settings'.
namespace panel {

inline constexpr const char* kWebSite = "https://tessary.org/";
inline constexpr const char* kContactAddress = "support@tessary.org";
inline constexpr const char* kContactSubject = "Korvel Personal Firewall";
// The ports list in the installation folder: "name port" per line.
inline constexpr const char* kPortsFileName = "VrnPorts.txt";

// Where the help page is installed, for a program in binFolder.
std::string HelpPagePath(const std::string& binFolder);
// The help page beside the running program, as a URL.
std::string HelpPageUrl();

}  // namespace panel
