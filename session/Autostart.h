#pragma once

#include <string>

// Starting the control panel at login. The autostart value (registry::kRunKey,
// registry::kAutostartValue) names the program; its mere presence tells the
// engine that the firewall is meant to run. The desktop's autostart entry
// ($XDG_CONFIG_HOME/autostart/korvel-firewall.desktop) is what really starts
// the panel at login. Both are written and removed together.
namespace session::autostart {

std::string EntryPath();

// The value's text, empty when autostart is off.
std::string Program();

// Writes the value and the desktop entry; false when either could not be written.
bool Enable(const std::string& program);
// Removes both; false when either is still there afterwards.
bool Disable();

}  // namespace session::autostart
