#include "panel/core/Options.h"

#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/LogCleanup.h"
#include "panel/core/SessionCoverage.h"
#include "panel/core/SettingValues.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/TimedAnswer.h"
#include "session/Autostart.h"

#include <algorithm>

namespace panel {

namespace names = protocol::settings;
using protocol::registry::kSettingsKey;

Options Options::Of(const PanelSettings& settings)
{
    Options options;
    options.logDays = settings.LOGFileCount;
    options.startAtLogin = !settings.LoadAtStartup.empty();
    options.decideEveryProgram = settings.DecideEveryProgram;
    options.udpFullMode = settings.UdpMode == "1";
    options.askBeforeApplyingToAll = settings.ApplySettingsMode;
    const auto seconds = TextToInteger(settings.AlertTimeout);
    if (seconds && *seconds >= 1 && *seconds <= names::kMaxAlertTimeout)
        options.alertTimeout = *seconds;
    options.awayAllows = panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kAwayAnswer) == "1";
    const auto away = TextToInteger(panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kAwayTimeout));
    if (away && *away >= 0 && *away <= names::kMaxAlertTimeout)
        options.awaySeconds = *away;
    const auto minutes = TextToInteger(panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kTimedAnswerMinutes));
    if (minutes && *minutes >= 1 && *minutes <= rules::kMaxTimedAnswerMinutes)
        options.timedAnswerMinutes = *minutes;
    options.journalRecords = panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kJournalRecords) == "1";
    return options;
}

void ShowMode(Options& options, const protocol::mode::State& stored, std::time_t now)
{
    options.mode = protocol::mode::Effective(stored, now);
    if (options.mode != protocol::mode::Mode::kLearn)
        return;
    constexpr std::time_t kDay = 24 * 60 * 60;
    const std::time_t left = stored.learnUntil - now;
    options.learnDays = static_cast<int>(std::clamp<std::time_t>((left + kDay - 1) / kDay, 1, names::kMaxLearnDays));
}

bool ModeChosenAnew(const Options& shown, const Options& chosen)
{
    return chosen.mode != shown.mode
        || (chosen.mode == protocol::mode::Mode::kLearn && chosen.learnDays != shown.learnDays);
}

OptionsStored StoreOptions(PanelSettings& settings, const Options& options, std::time_t now)
{
    const char* label = "ToolsOption : OkBtn_Click";
    OptionsStored result;
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kLogFileCount, options.logDays);
    settings.LOGFileCount = options.logDays;
    const auto count = TextToInteger(options.logDays);
    if (!count) {
        WriteErrLog(label, "\"" + options.logDays + "\" is not a number of days");
        return result;
    }
    DeleteOldLogFiles(settings.LogFilePath, *count, now);

    settings.UdpMode = options.udpFullMode ? "1" : "0";
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kUpdFullMode, settings.UdpMode);

    if (options.startAtLogin) {
        const std::string program = os::processes::OwnExecutablePath();
        if (!session::autostart::Enable(program))
            WriteErrLog(label, "the autostart entry cannot be written");
        settings.LoadAtStartup = program;
    } else {
        if (!session::autostart::Disable())
            WriteErrLog(label, "the autostart entry cannot be removed");
        settings.LoadAtStartup.clear();
    }

    if (options.decideEveryProgram != settings.DecideEveryProgram && SaveSessionOption(options.decideEveryProgram)) {
        settings.DecideEveryProgram = options.decideEveryProgram;
        ApplySessionOption(options.decideEveryProgram, settings.VRNFolder, true);
        result.sessionChanged = true;
    }

    if (options.askBeforeApplyingToAll != settings.ApplySettingsMode) {
        settings.ApplySettingsMode = options.askBeforeApplyingToAll;
        SaveString(RootKey::LocalMachine, kSettingsKey, names::kApplySettings,
                   settings.ApplySettingsMode ? "True" : "False");
    }

    const std::string timeout = options.alertTimeout ? std::to_string(*options.alertTimeout) : "0";
    if (timeout != settings.AlertTimeout && !(timeout == "0" && settings.AlertTimeout.empty())) {
        settings.AlertTimeout = timeout;
        SaveString(RootKey::LocalMachine, kSettingsKey, names::kAlertTimeout, timeout);
    }
    // Written when changed, or when it was not there: the engines read it at each alert.
    const auto storeChanged = [](const char* name, const std::string& value) {
        if (panel::GetString(RootKey::LocalMachine, kSettingsKey, name) != value)
            SaveString(RootKey::LocalMachine, kSettingsKey, name, value);
    };
    storeChanged(names::kAwayAnswer, options.awayAllows ? "1" : "2");
    storeChanged(names::kAwayTimeout, std::to_string(options.awaySeconds));
    storeChanged(names::kTimedAnswerMinutes, std::to_string(options.timedAnswerMinutes));
    // Read by the interceptor's process within a second; nothing written until chosen.
    if ((panel::GetString(RootKey::LocalMachine, kSettingsKey, names::kJournalRecords) == "1") != options.journalRecords)
        SaveString(RootKey::LocalMachine, kSettingsKey, names::kJournalRecords, options.journalRecords ? "1" : "0");
    result.stored = true;
    return result;
}

}  // namespace panel
