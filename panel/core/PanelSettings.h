#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace panel {

// The settings the control panel keeps while it runs, read from the settings
// key at start-up. A missing value reads as the empty text: no default is
// put in its place (the installation creates them).

// "SecurityMode": the system settings follow a preset level ("Normal"), or
// defaults set by hand ("Custom"; any other word is read so).
enum class SecurityMode { kNormal, kCustom };
SecurityMode SecurityModeOf(std::string_view word);
const char* WordOf(SecurityMode mode);

struct PanelSettings {
    std::string XmlFilePath;    // "RulesFile"
    std::string LogFilePath;    // "LogFilesPath"
    std::string LOGFileCount;   // "LogFileCount"
    std::string SecurityStatus; // "SecurityStatus"
    std::string LoadAtStartup;  // the autostart value
    SecurityMode Mode = SecurityMode::kCustom; // "SecurityMode"
    std::string ErrLogsPath;    // "ErrLogs"
    std::string VRNFolder;      // "VRNFolder", ending in "/"
    std::string UdpMode;        // "UpdFullMode"
    bool ApplySettingsMode = false; // "ApplySettings"
    std::string FirstClose;     // "FirstClose"
    std::string DebugPrint;     // "DebugPrint"
    std::string AlertTimeout;   // "AlertTimeout": seconds before an alert answers Block, "0" never
    bool DecideEveryProgram = false; // "DecideEveryProgram" is "1": the session's programs start under the hook
    bool FirstRunShown = false; // "FirstRunShown" is "1": the first-run window was shown
};

// Reads every setting, in the documented order. Paths are taken as the
// engine takes them (blanks around them removed, relative ones from the home
// folder), so that the panel writes the rules file the engines read.
void GetFilesFromReg(PanelSettings& settings);

// Whether the "Block All" button shows pressed for this "SecurityStatus":
// true for a number that is 0, false for another number, nullopt (logged)
// when it is not a number, and the button keeps its state.
std::optional<bool> BlockAllPressed(const std::string& securityStatus);

// Before the rules are loaded: a rules file that is missing or empty is
// replaced by the default document. False when it could not be written.
bool CheckRulesFile(const std::string& xmlFilePath);

}  // namespace panel
