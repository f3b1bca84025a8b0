#include "panel/core/PanelCore.h"

#include "os/FileDigest.h"
#include "os/Files.h"
#include "os/Processes.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/LogCleanup.h"
#include "panel/core/ProcessList.h"
#include "panel/core/SettingValues.h"
#include "protocol/Registry.h"
#include "protocol/SettingNames.h"
#include "rules/RulesFormat.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace panel {

namespace names = protocol::settings;
namespace rf = rules::rules_format;
using protocol::registry::kSettingsKey;
using rules::Direction;
using rules::Permission;

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
        if (const int removed = os::RemoveStaleTemporaries(file); removed > 0)
            WriteErrLog("MainForm : Form_Load", "removed " + std::to_string(removed)
                                                    + " unfinished copies of the rules file beside " + file);
}

// A service is never asked: its "ASK" becomes "DENY".
std::optional<Permission> ForService(const rules::Application* app, std::optional<Permission> permission)
{
    return app && app->service && permission == Permission::kAsk ? Permission::kDeny : permission;
}

}  // namespace

const std::string& PanelCore::ServiceManager() const
{
    if (serviceManager_.empty())
        serviceManager_ = panel::ServiceManagerImage(os::processes::kProcRoot);
    return serviceManager_;
}

void PanelCore::LoadSettings(std::time_t now)
{
    GetFilesFromReg(settings_);
    CheckRulesFile(settings_.XmlFilePath);
    ErrorLog& errors = TheErrorLog();
    errors.SetDebugPrint(settings_.DebugPrint == "1");
    if (!errors.Open(settings_.ErrLogsPath, now))
        std::fprintf(stderr, "zel: the error log cannot be opened in \"%s\"\n", settings_.ErrLogsPath.c_str());
    if (const auto days = TextToInteger(settings_.LOGFileCount))
        DeleteOldLogFiles(settings_.LogFilePath, *days, now);
    else
        WriteErrLog("MainForm : Form_Load",
                    std::string(names::kLogFileCount) + " \"" + settings_.LOGFileCount + "\" is not a number of days");
    DeleteOldErrFiles(settings_.ErrLogsPath, kErrorLogDays, now);
    RemoveStaleSaves(settings_.XmlFilePath);
}

RulesStore::LoadResult PanelCore::LoadRules()
{
    const RulesStore::LoadResult result = rules_.Load(settings_.XmlFilePath);
    if (result.outcome != RulesStore::LoadOutcome::kUnreadable && !rules_.Document().General())
        WriteErrLog("MainForm : Form_Load", "the rules have no entry for the system settings (ANY)");
    // Also when the file could not be read: what shows the rules shows why not.
    changes_.Announce({Change::Kind::kRulesReplaced, {}});
    return result;
}

bool PanelCore::Save()
{
    if (settings_.XmlFilePath.empty()) {
        WriteErrLog("GeneralMdl : SaveAndLoad", std::string(names::kRulesFile) + " is not set");
        return false;
    }
    std::vector<std::string> changedOutside;
    const bool saved = rules_.Save(settings_.XmlFilePath, &changedOutside);
    // Another writer's changes, taken into this save: told as their own.
    for (const std::string& name : changedOutside)
        PublishChange(name);
    return saved;
}

std::optional<Permission> PanelCore::GeneralDefault(Direction direction) const
{
    const rules::Application* general = rules_.Document().General();
    if (!general)
        return std::nullopt;
    return direction == Direction::kIncoming ? general->incoming : general->outgoing;
}

SecurityDisplay PanelCore::Security() const
{
    return DescribeSecurity(settings_.Mode, GeneralDefault(Direction::kIncoming), GeneralDefault(Direction::kOutgoing),
                            settings_.SecurityStatus);
}

std::optional<bool> PanelCore::BlockAll() const { return BlockAllPressed(settings_.SecurityStatus); }

void PanelCore::SetBlockAll(bool on)
{
    settings_.SecurityStatus = on ? "0" : "1";
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kSecurityStatus, settings_.SecurityStatus);
    changes_.Announce({Change::Kind::kSettingChanged, names::kSecurityStatus});
}

void PanelCore::SetMode(SecurityMode mode)
{
    if (settings_.Mode == mode)
        return;
    settings_.Mode = mode;
    changes_.Announce({Change::Kind::kSettingChanged, names::kSecurityMode});
}

bool PanelCore::SetFirewallMode(protocol::mode::Mode mode, std::time_t now, int learnDays)
{
    protocol::mode::State state;
    state.mode = mode;
    if (mode == protocol::mode::Mode::kLearn)
        state.learnUntil = now + static_cast<std::time_t>(std::max(learnDays, 1)) * 24 * 60 * 60;
    if (!protocol::mode::Write(state)) {
        WriteErrLog("PanelCore : SetFirewallMode", "the mode could not be stored");
        return false;
    }
    changes_.Announce({Change::Kind::kSettingChanged, names::kFirewallMode});
    return true;
}

bool PanelCore::EndLearningIfOver(std::time_t now)
{
    return protocol::mode::LearningOver(FirewallMode(), now) && SetFirewallMode(protocol::mode::Mode::kAsk, now, 0);
}

void PanelCore::SetTrayNoticeShown(bool shown)
{
    settings_.FirstClose = shown ? "1" : "0";
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kFirstClose, settings_.FirstClose);
}

void PanelCore::SetFirstRunShown()
{
    settings_.FirstRunShown = true;
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kFirstRunShown, "1");
}

rules::Application* PanelCore::Changed(std::string_view name, const char* label)
{
    rules::Application* app = rules_.Find(name);
    if (!app)
        WriteErrLog(label, std::string(name) + " is not in the rules");
    return app;
}

bool PanelCore::Commit(std::string_view name)
{
    const bool saved = Save();
    PublishChange(name);
    changes_.Announce({Change::Kind::kApplicationChanged, std::string(name)});
    return saved;
}

void PanelCore::SetGeneralDefaults(std::optional<Permission> incoming, std::optional<Permission> outgoing,
                                   bool applyToAll)
{
    rules::Application* general = Changed(rf::kGeneralApp, "setSecurity : ApplyNewSecurityToRule");
    if (!general)
        return;
    general->incoming = incoming;
    general->outgoing = outgoing;
    if (!applyToAll)
        return;
    for (rules::Application& app : rules_.Document().applications) {
        if (app.IsGeneral() || !app.name)
            continue;
        app.incoming = incoming;
        app.outgoing = outgoing;
    }
}

bool PanelCore::ApplyDefaults(std::string_view name, const ChosenDefaults& chosen, bool followSystem, int level)
{
    if (name != rf::kGeneralApp) {
        rules::Application* app = Changed(name, "SaveChanges : SaveNewSettings");
        if (!app)
            return false;
        ChosenDefaults defaults;
        if (!followSystem) {
            defaults = chosen;
            if (!defaults.incoming && !defaults.outgoing)
                defaults = {ForService(app, GeneralDefault(Direction::kIncoming)),
                            ForService(app, GeneralDefault(Direction::kOutgoing))};
        }
        app->incoming = defaults.incoming;
        app->outgoing = defaults.outgoing;
        return Commit(name);
    }
    ChosenDefaults defaults = chosen;
    if (settings_.Mode == SecurityMode::kNormal)
        defaults = level >= 0 && level < kPresetLevels
            ? ChosenDefaults {PresetLevel(level).incoming, PresetLevel(level).outgoing}
            : ChosenDefaults {};
    SetGeneralDefaults(defaults.incoming, defaults.outgoing, settings_.ApplySettingsMode);
    const bool saved = Save();
    // Every running program follows the system settings, and with
    // "ApplySettings" every program has them as its own.
    if (settings_.ApplySettingsMode)
        for (const rules::Application& app : rules_.Document().applications)
            if (app.name && !app.IsGeneral())
                updates_.Add(*app.name);
    PublishChange(name);
    changes_.Announce({Change::Kind::kApplicationChanged, std::string(name)});
    return saved;
}

bool PanelCore::SetDefault(std::string_view name, Direction direction, Permission permission)
{
    rules::Application* app = Changed(name, direction == Direction::kIncoming ? "RightPopupMenu : AllowIn_Click"
                                                                              : "RightPopupMenu : AllowOut_Click");
    if (!app)
        return false;
    (direction == Direction::kIncoming ? app->incoming : app->outgoing) = permission;
    return Commit(name);
}

bool PanelCore::SetContentCheck(std::string_view key, bool on)
{
    rules::Application* app = Changed(key, "ApplicationPane : ContentCheck");
    if (!app || !app->IsBound())
        return false;
    std::string digest;
    if (on) {
        digest = os::FileDigestText(app->path);
        if (digest.empty()) {
            WriteErrLog("ApplicationPane : ContentCheck", app->path + " cannot be read; no content check");
            return false;
        }
    }
    app->fileHash = digest;
    return Commit(key);
}

bool PanelCore::SetIgnoreLists(std::string_view key, bool on)
{
    rules::Application* app = Changed(key, "ApplicationPane : IgnoreLists");
    if (!app || app->IsGeneral())
        return false;
    app->ignoreLists = on;
    return Commit(key);
}

void PanelCore::ApplyPreset(int level)
{
    const SecurityLevel& preset = PresetLevel(level);
    // The mode first, and the defaults saved before they are told of: those
    // told of the change see the level as it now is.
    SetMode(SecurityMode::kNormal);
    SetGeneralDefaults(preset.incoming, preset.outgoing, false);
    Commit(rf::kGeneralApp);
}

bool PanelCore::ChooseLevel(int level)
{
    SetMode(SecurityMode::kNormal);
    return ApplyDefaults(rf::kGeneralApp, {}, false, level);
}

std::optional<Permission> PanelCore::DefaultToShow(std::string_view name, Direction direction) const
{
    return ForService(rules_.Find(name), GeneralDefault(direction));
}

rules::Application PanelCore::NewApplication(std::string name, std::string description, std::string path,
                                             bool service) const
{
    rules::Application app;
    app.description = ProgramDescription(description, name);
    app.name = std::move(name);
    app.path = std::move(path);
    BindToPath(app);
    app.service = service;
    app.incoming = ForService(&app, GeneralDefault(Direction::kIncoming));
    app.outgoing = ForService(&app, GeneralDefault(Direction::kOutgoing));
    return app;
}

bool PanelCore::AddApplication(rules::Application application)
{
    if (!application.name || rules_.Find(application.Key())) {
        WriteErrLog("MainForm : AddApplication",
                    application.name ? application.Key() + " has an entry already" : "an entry without a name");
        return false;
    }
    const std::string key = application.Key();
    rules_.Document().Add(std::move(application));
    return Commit(key);
}

bool PanelCore::RemoveApplication(std::string_view name)
{
    const rules::Application* app = Changed(name, "RightPopupMenu : DelApp_Click");
    if (!app)
        return false;
    const std::string removed(name);
    rules_.Document().Remove(static_cast<size_t>(rules_.Document().IndexOf(*app)));
    return Commit(removed);
}

bool PanelCore::RestoreApplication(const rules::Application& saved)
{
    rules::Application* app = saved.name ? Changed(saved.Key(), "AdvancedForm : CmdCancel_Click") : nullptr;
    if (!app)
        return false;
    // The answers for a time are the alerts' and the clock's, not the
    // editor's: those given or ended while it was open stay so.
    std::vector<rules::TimedAnswer> timed = std::move(app->timed);
    *app = saved;
    app->timed = std::move(timed);
    return Commit(saved.Key());
}

bool PanelCore::SetRuleInForce(std::string_view name, size_t rule, bool inForce)
{
    rules::Application* app = Changed(name, "AppSettings : MainListView_ItemCheck");
    if (!app || rule >= app->rules.size())
        return false;
    app->rules[rule].inForce = inForce;
    return Commit(name);
}

bool PanelCore::RemoveRule(std::string_view name, size_t rule)
{
    rules::Application* app = Changed(name, "AppSettings : DeleteRule");
    if (!app || rule >= app->rules.size()) {
        WriteErrLog("AppSettings : DeleteRule", "no rule " + std::to_string(rule + 1) + " of " + std::string(name));
        return false;
    }
    app->rules.erase(app->rules.begin() + static_cast<long>(rule));
    return Commit(name);
}

bool PanelCore::MoveRule(std::string_view name, size_t rule, size_t to)
{
    rules::Application* app = Changed(name, "AdvancedForm : MoveCmd_Click");
    if (!app || rule >= app->rules.size() || to >= app->rules.size())
        return false;
    std::swap(app->rules[rule], app->rules[to]);
    return Commit(name);
}

bool PanelCore::PutRule(std::string_view name, std::optional<size_t> replaced, rules::Rule rule)
{
    rules::Application* app = Changed(name, "EditApp_Step4 : FinishCmd_Click");
    if (!app)
        return false;
    if (replaced && *replaced < app->rules.size())
        app->rules.erase(app->rules.begin() + static_cast<long>(*replaced));
    app->rules.push_back(std::move(rule));
    return Commit(name);
}

bool PanelCore::PutFirstRule(std::string_view name, rules::Rule rule)
{
    rules::Application* app = Changed(name, "LogRowMenu : MakeRuleFromLog");
    if (!app)
        return false;
    app->rules.insert(app->rules.begin(), std::move(rule));
    return Commit(name);
}

void PanelCore::PublishChange(std::string_view key)
{
    if (key == rf::kGeneralApp)
        PublishRunningPrograms(std::time(nullptr));
    else if (rules::IsPathKey(key))
        updates_.Add(rules::rules_format::CarrierExeName(key));
    else
        updates_.Add(key);
}

void PanelCore::PublishRunningPrograms(std::time_t now)
{
    for (const std::string& path : StartedProgramsRunning(settings_.LogFilePath, procRoot_, now, true))
        updates_.Add(rules::rules_format::CarrierExeName(rules::rules_format::CleanCarrierPath(path)));
}

bool PanelCore::StartHidden(uint32_t tickCount)
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

void PanelCore::SaveOnExit(uint32_t tickCount)
{
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kSecurityMode, WordOf(settings_.Mode));
    SaveString(RootKey::LocalMachine, kSettingsKey, names::kTimeEnd, std::to_string(tickCount));
}

}  // namespace panel
