#pragma once

#include "panel/core/PanelCore.h"

#include <optional>
#include <string>
#include <vector>

namespace panel {

// One application's defaults and rules changed in place, as the advanced
// window changes them: each change of a rule is saved and published at
// once; the defaults are applied on Accept. Cancel puts the application
// back as it was when the editing began, with the rules switched on or off
// since as they are now (that was saved and published at once, and says so);
// a part another writer changed meanwhile (its rules, a default) stays as
// that writer left it.
class ApplicationEditing {
public:
    // The application named name; "ANY" is the system settings. level: the
    // preset the system settings take in "Normal" mode.
    ApplicationEditing(PanelCore& core, std::string name, int level);

    const std::string& Name() const { return name_; }
    bool IsSystem() const;
    // The application now; nullptr when the rules have none of that name.
    const rules::Application* Application() const;
    const PanelSettings& Settings() const { return core_.Settings(); }
    // What a direction with no button chosen shows (see PanelCore::DefaultToShow).
    std::optional<rules::Permission> DefaultToShow(rules::Direction direction) const;
    // The ports list, for the rule editor's names of ports.
    std::vector<std::pair<std::string, int>> PortNames() const;

    // A program follows the system settings (no defaults of its own), or
    // takes the general ones as its own ("ASK" made "DENY" for a service).
    // Applied by Accept, or by the next change that saves.
    void FollowSystem(bool follow);

    bool SwitchRule(size_t rule, bool inForce);
    bool MoveRule(size_t rule, size_t to);
    bool RemoveRule(size_t rule);
    // The rule goes last, in place of the one at replaced when there is one.
    bool PutRule(std::optional<size_t> replaced, rules::Rule rule);

    // OK: the chosen defaults applied. ticked is the window's check box:
    // for the system settings "Apply custom settings" ("Custom" mode), for a
    // program "Apply system rules" (no defaults of its own).
    bool Accept(const ChosenDefaults& chosen, bool ticked);
    // Cancel: the application as it was, its rules' switches as they are.
    bool Cancel();

private:
    PanelCore& core_;
    std::string name_;
    int level_;
    // What a change of another writer since the last change here touched.
    void NoteOthers();
    void Remember();

    std::optional<rules::Application> saved_;
    // The application as this window's last change left it.
    std::optional<rules::Application> last_;
    bool othersRules_ = false, othersIncoming_ = false, othersOutgoing_ = false;
    // For each rule of the application now, its place among the saved ones; -1 for a new one.
    std::vector<long> origin_;
};

}  // namespace panel
