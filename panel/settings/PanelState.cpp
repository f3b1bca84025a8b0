#include "settings/PanelState.h"

#include "logs/LogCleanup.h"
#include "settings/GeneralMdl.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Settings.h"
#include "platform/Text.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace panel {

namespace names = platform::settings;
using platform::registry::kSettingsKey;

namespace {

// Error logs stay this many days.
constexpr int kErrorLogDays = 5;

// What saves killed midway (the panel ended by force) left beside the rules
// file, and beside the file it leads to when it is a link: saves write there.
void RemoveStaleSaves(const std::string& rulesFile)
{
    if (rulesFile.empty())
        return;
    std::vector<std::string> files = {rulesFile};
    char real[PATH_MAX];
    if (::realpath(rulesFile.c_str(), real) && real != rulesFile)
        files.emplace_back(real);
    for (const std::string& file : files)
        if (const int removed = platform::RemoveStaleTemporaries(file); removed > 0)
            WriteErrLog("MainForm : Form_Load", "removed " + std::to_string(removed)
                                                    + " unfinished copies of the rules file beside " + file);
}

}  // namespace

void PanelState::LoadSettings(std::time_t now)
{
    AppConsts.ActivateConsts();
    GetFilesFromReg(Settings);
    CheckRulesFile(Settings.XmlFilePath);
    ErrorLog& errors = TheErrorLog();
    errors.SetDebugPrint(Settings.DebugPrint == "1");
    if (!errors.Open(Settings.ErrLogsPath, now))
        std::fprintf(stderr, "zel: the error log cannot be opened in \"%s\"\n", Settings.ErrLogsPath.c_str());
    if (const auto days = TextToInteger(Settings.LOGFileCount))
        DeleteOldLogFiles(Settings.LogFilePath, *days, now);
    else
        WriteErrLog("MainForm : Form_Load",
                    std::string(names::kLogFileCount) + " \"" + Settings.LOGFileCount + "\" is not a number of days");
    DeleteOldErrFiles(Settings.ErrLogsPath, kErrorLogDays, now);
    RemoveStaleSaves(Settings.XmlFilePath);
    SliderFirstTime = true;
}

AppBuffer::LoadResult PanelState::LoadBuffer()
{
    const AppBuffer::LoadResult result = CurrBuffer.LoadRules(Settings.XmlFilePath);
    if (result.outcome == AppBuffer::LoadOutcome::kUnreadable)
        return result; // the last good copy (or none) stays as it is
    // The entry named "ANY", not one that merely has that description.
    GeneralApp = nullptr;
    for (const AppRecord& app : CurrBuffer.AllRules)
        if (!GeneralApp && platform::EqualsNoCase(app->ExeName, AppConsts.GENERAL_APP))
            GeneralApp = app;
    GenAppInDef = NormalStatIn = GeneralApp ? GeneralApp->InDef : std::string();
    GenAppOutDef = NormalStatOut = GeneralApp ? GeneralApp->OutDef : std::string();
    if (!GeneralApp)
        WriteErrLog("MainForm : Form_Load", "the rules have no entry for the system settings (ANY)");
    return result;
}

bool PanelState::SaveAndLoad()
{
    if (Settings.XmlFilePath.empty()) {
        WriteErrLog("GeneralMdl : SaveAndLoad", std::string(names::kRulesFile) + " is not set");
        return false;
    }
    return CurrBuffer.SaveRulesToXmlFile(Settings.XmlFilePath);
}

bool PanelState::StartHidden(uint32_t tickCount)
{
    const std::string stored = panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kTimeEnd);
    bool hidden = false;
    if (!stored.empty()) {
        long long number = 0;
        const auto [end, error] = std::from_chars(stored.data(), stored.data() + stored.size(), number);
        if (error == std::errc() && end == stored.data() + stored.size())
            hidden = static_cast<long long>(tickCount) < number;
        else
            WriteErrLog("MainForm : Form_Load", std::string(names::kTimeEnd) + " \"" + stored + "\" is not a number");
    }
    panel::DeleteValue(RootKey::LocalMachine, kSettingsKey, names::kTimeEnd);
    return hidden;
}

void PanelState::SaveOnExit(uint32_t tickCount)
{
    panel::SaveString(RootKey::LocalMachine, kSettingsKey, names::kSecurityMode, Settings.SecurityMode);
    panel::SaveString(RootKey::LocalMachine, kSettingsKey, names::kTimeEnd, std::to_string(tickCount));
}

}  // namespace panel
