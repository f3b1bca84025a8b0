#include "panel/core/PanelSettings.h"

#include "os/Files.h"
#include "os/Paths.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/SettingValues.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFile.h"
#include "rules/RulesFormat.h"
#include "text/Strings.h"

#include <cerrno>

namespace panel {

namespace names = protocol::settings;
using protocol::registry::kSettingsKey;

SecurityMode SecurityModeOf(std::string_view word) { return word == "Normal" ? SecurityMode::kNormal : SecurityMode::kCustom; }

const char* WordOf(SecurityMode mode) { return mode == SecurityMode::kNormal ? "Normal" : "Custom"; }

void GetFilesFromReg(PanelSettings& s)
{
    const auto read = [](const char* name) { return panel::GetString(RootKey::LocalMachine, kSettingsKey, name); };
    s.XmlFilePath = os::SettingPath(read(names::kRulesFile));
    s.LogFilePath = os::SettingPath(read(names::kLogFilesPath));
    s.LOGFileCount = read(names::kLogFileCount);
    s.SecurityStatus = read(names::kSecurityStatus);
    s.LoadAtStartup = panel::GetString(RootKey::LocalMachine, protocol::registry::kRunKey, protocol::registry::kAutostartValue);
    s.Mode = SecurityModeOf(read(names::kSecurityMode));
    s.ErrLogsPath = os::SettingPath(read(names::kErrLogs));
    s.VRNFolder = os::SettingPath(read(names::kVrnFolder));
    if (!s.VRNFolder.empty() && s.VRNFolder.back() != '/')
        s.VRNFolder += '/';
    s.UdpMode = read(names::kUpdFullMode);
    const std::string applySettings = read(names::kApplySettings);
    const auto apply = TextToBoolean(applySettings);
    if (!apply)
        WriteErrLog("GeneralMdl : GetFilesFromReg",
                    std::string(names::kApplySettings) + " \"" + applySettings + "\" is neither True nor False");
    s.ApplySettingsMode = apply.value_or(false);
    s.FirstClose = read(names::kFirstClose);
    s.DebugPrint = read(names::kDebugPrint);
    s.AlertTimeout = read(names::kAlertTimeout);
    s.DecideEveryProgram = text::TrimBlanks(read(names::kDecideEveryProgram)) == "1";
    s.FirstRunShown = text::TrimBlanks(read(names::kFirstRunShown)) == "1";
}

std::optional<bool> BlockAllPressed(const std::string& securityStatus)
{
    const auto status = TextToInteger(securityStatus);
    if (!status) {
        WriteErrLog("GeneralMdl : UpdateBlockAllButton",
                    std::string(names::kSecurityStatus) + " \"" + securityStatus + "\" is not a number");
        return std::nullopt;
    }
    return *status == 0;
}

bool CheckRulesFile(const std::string& xmlFilePath)
{
    if (xmlFilePath.empty()) {
        WriteErrLog("GeneralMdl : CheckRulesFile", std::string(names::kRulesFile) + " is not set");
        return false;
    }
    // Only where nothing is lost: no file at all, or an empty one. Anything
    // else, readable or not, is the loading's to judge.
    const std::string target = rules::rules_file::PlaceForDefault(xmlFilePath);
    if (target.empty())
        return true;
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos && slash > 0)
        os::MakeDirectories(target.substr(0, slash));
    if (os::WriteFileAtomically(target, rules::rules_format::kDefaultRulesDocument))
        return true;
    WriteErrLogErrno("GeneralMdl : CheckRulesFile", "cannot write the default rules to " + target, errno);
    return false;
}

}  // namespace panel
