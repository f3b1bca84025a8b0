#pragma once

#include <string>

namespace panel {

// The control panel's own fixed texts, in one place. The words of the rules
// file are rules::rules_format's, the names of the settings
// protocol::settings'.

inline constexpr const char* kWebSite = "https://tessary.org/";
inline constexpr const char* kContactAddress = "support@tessary.org";
inline constexpr const char* kContactSubject = "Korvel Personal Firewall";
// The ports list in the installation folder: "name port" per line.
inline constexpr const char* kPortsFileName = "VrnPorts.txt";

// The user guide installed for a program in binFolder, in the user's
// language where it is translated (share/tessary/help/LANGUAGE/), else
// in English.
std::string HelpPagePath(const std::string& binFolder);
// The user guide installed beside the running program.
std::string OwnHelpPagePath();

}  // namespace panel
