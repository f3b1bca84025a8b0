#pragma once

#include "panel/core/ChangeFeed.h"
#include "panel/core/PanelSettings.h"
#include "panel/core/RulesStore.h"
#include "panel/core/SecurityLevels.h"
#include "panel/core/Selection.h"
#include "panel/core/UpdateList.h"
#include "protocol/FirewallMode.h"
#include "rules/Words.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace panel {

// The control panel without its windows: the settings, the rules, the list
// of programs whose rules changed, and what the window shows; with every
// operation the windows (and a command-line tool) call. Each operation that
// changes the rules saves them and then publishes the programs concerned,
// so that an engine told of its change reads the new file.

// The defaults chosen on a window for an application; none where no button
// of the direction is chosen.
struct ChosenDefaults {
    std::optional<rules::Permission> incoming;
    std::optional<rules::Permission> outgoing;
};

class PanelCore {
public:
    PanelSettings& Settings() { return settings_; }
    const PanelSettings& Settings() const { return settings_; }
    RulesStore& Rules() { return rules_; }
    const RulesStore& Rules() const { return rules_; }
    UpdateList& Updates() { return updates_; }
    const UpdateList& Updates() const { return updates_; }
    Selection& Selected() { return selection_; }
    const Selection& Selected() const { return selection_; }
    // Every change of an application, of the rules as a whole (a load) and of
    // a setting the windows show is announced here, after it is made.
    ChangeFeed& Changes() { return changes_; }

    // Where the process table is read (tests give one of their own).
    const std::string& ProcRoot() const { return procRoot_; }
    void SetProcRoot(std::string root) { procRoot_ = std::move(root); }
    // The service manager's executable file (upper case), which starts services.
    const std::string& ServiceManager() const;

    // Settings, the rules-file check, the error log, the deletion of old
    // traffic and error logs, and of what saves killed midway left beside
    // the rules file, in that order.
    void LoadSettings(std::time_t now);
    // The rules from the rules file. A file that cannot be read changes
    // nothing (the outcome says so, and saving is refused until it has been).
    RulesStore::LoadResult LoadRules();
    // Whether the rules are held as the file has them: false while the file
    // could not be read, when nothing may be saved over it.
    bool RulesReadable() const { return rules_.ReadProblem().empty(); }
    // Writes the whole document to the rules file; every save goes through here.
    bool Save();

    // The system settings: the general application's defaults, the mode and
    // level they are shown as, and Block All.
    std::optional<rules::Permission> GeneralDefault(rules::Direction direction) const;
    SecurityDisplay Security() const;
    SecurityMode Mode() const { return settings_.Mode; }
    void SetMode(SecurityMode mode);
    // Whether "Block All" shows pressed; nullopt (logged) when "SecurityStatus" is no number.
    std::optional<bool> BlockAll() const;
    // Stores "SecurityStatus" ("0" blocks all).
    void SetBlockAll(bool on);
    // The firewall's mode ("FirewallMode", "LearnUntil") as the engines read it.
    protocol::mode::State FirewallMode() const { return protocol::mode::Read(); }
    // Stores a mode, learning for learnDays from now, and announces it;
    // false (logged) when the setting could not be written.
    bool SetFirewallMode(protocol::mode::Mode mode, std::time_t now, int learnDays);
    // Learning that ran out puts the firewall back to asking: stored and
    // announced, once (the stored mode is the mark). True when it did so now.
    bool EndLearningIfOver(std::time_t now);
    // Stores "FirstClose": whether the notice shows when the window goes to the tray.
    void SetTrayNoticeShown(bool shown);
    // Stores "FirstRunShown": the first-run window does not show again.
    void SetFirstRunShown();

    // Applies the defaults shown on a window to the application: for a
    // program, the chosen ones (none chosen: the general ones, "ASK" made
    // "DENY" for a service), or none at all with followSystem; for "ANY" in
    // "Normal" mode the preset level (and, with "ApplySettings", to every
    // application), in "Custom" mode the chosen ones. False when the
    // application is not in the rules (nothing changes then) or the file
    // could not be written.
    bool ApplyDefaults(std::string_view name, const ChosenDefaults& chosen, bool followSystem, int level);
    // One default of a program, as its menu in the tree sets it.
    bool SetDefault(std::string_view name, rules::Direction direction, rules::Permission permission);
    // Switches the content check of an entry bound to its program's file on
    // (the digest of the file at its path now) or off. False when the entry
    // is not bound or the file cannot be read (nothing changes then) or the
    // rules file could not be written.
    bool SetContentCheck(std::string_view key, bool on);
    // Leaves the host lists out for a program's own entry (on) or applies
    // them again. False for the system settings, whose mark would leave them
    // out for every program, for an entry not in the rules (nothing changes
    // then) or when the rules file could not be written.
    bool SetIgnoreLists(std::string_view key, bool on);
    // The preset level on the system settings alone, in "Normal" mode.
    void ApplyPreset(int level);
    // A preset level chosen as the system settings' page takes it: "Normal"
    // mode, the level's defaults on the system settings and, with
    // "ApplySettings", on every application. False as ApplyDefaults.
    bool ChooseLevel(int level);
    // What a group of the window with no button chosen shows for a
    // direction: the general default ("ASK" made "DENY" for a service).
    std::optional<rules::Permission> DefaultToShow(std::string_view name, rules::Direction direction) const;

    // Applications are known by their key (rules::Application::Key): the
    // path of an entry bound to its program's file, the name otherwise.

    // A new entry for a program, bound to its path (BindToPath), with the general defaults ("ASK" made
    // "DENY" for a service): what the wizard and the log add.
    rules::Application NewApplication(std::string name, std::string description, std::string path,
                                      bool service) const;
    // Adds the application where the engine reads it for its program; false
    // when the program has an entry already (nothing is added then).
    bool AddApplication(rules::Application application);
    bool RemoveApplication(std::string_view name);
    // Puts an application back as it was (kept from before a change), in its
    // place; its answers for a time stay as they are now.
    bool RestoreApplication(const rules::Application& saved);

    // The rules of an application, by their position (0-based).
    bool SetRuleInForce(std::string_view name, size_t rule, bool inForce);
    bool RemoveRule(std::string_view name, size_t rule);
    // Swaps the rule with the one at position to.
    bool MoveRule(std::string_view name, size_t rule, size_t to);
    // The rule goes last among the application's rules, in place of the one
    // at replaced when there is one.
    bool PutRule(std::string_view name, std::optional<size_t> replaced, rules::Rule rule);
    // The rule goes first, before every rule of the application: a rule
    // made for one connection seen in the log decides it, whatever the
    // broader rules after it say.
    bool PutFirstRule(std::string_view name, rules::Rule rule);

    // Tells the running engines that an application's rules changed: its
    // name goes on the update list; for the system settings ("ANY"), which
    // apply to every program, the names of the programs running now do.
    void PublishChange(std::string_view name);
    // Every program today's log says was started and still runs goes on the list.
    void PublishRunningPrograms(std::time_t now);

    // Whether the window starts hidden: "VRNTIMEEND" holds a tick count
    // above the current one (the machine restarted since the panel last
    // ended). The value is deleted in every case.
    bool StartHidden(uint32_t tickCount);
    // What every end of the program writes: the security mode and the tick
    // count at the end.
    void SaveOnExit(uint32_t tickCount);

private:
    rules::Application* Changed(std::string_view name, const char* label);
    // Saves, then tells the engines of name.
    bool Commit(std::string_view name);
    void SetGeneralDefaults(std::optional<rules::Permission> incoming, std::optional<rules::Permission> outgoing,
                            bool applyToAll);

    PanelSettings settings_;
    RulesStore rules_;
    UpdateList updates_;
    Selection selection_;
    ChangeFeed changes_;
    std::string procRoot_ = "/proc";
    mutable std::string serviceManager_;
};

}  // namespace panel
