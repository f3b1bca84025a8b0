#pragma once

#include "panel/core/PanelCore.h"

#include <functional>
#include <optional>
#include <string>

namespace panel {

// What the wizard for a new application is given.
struct WizardInput {
    // The running programs: full paths as they are, a system service's
    // after "+" (those only with showSystem), one per line.
    std::function<std::string(bool showSystem)> runningPrograms;
    // Whether an entry applies to the program named name at path already.
    std::function<bool(const std::string& name, const std::string& path)> hasEntry;
    // The defaults of the new application ("ASK" made "DENY" for a service).
    std::optional<rules::Permission> incoming;
    std::optional<rules::Permission> outgoing;
};

// A new application as the user makes it with the wizard: with the defaults
// of where it was asked for (the toolbar: the general ones; the tree's menu:
// its group's), added to the rules when the wizard ends with one.
class WizardFlow {
public:
    // The wizard as the window shows it; nothing when cancelled.
    using Wizard = std::function<std::optional<rules::Application>(WizardInput)>;

    WizardFlow(PanelCore& core, Wizard wizard) : core_(core), wizard_(std::move(wizard)) {}

    // The defaults the next new application starts with; none given: the general ones.
    void SetDefaults(std::optional<rules::Permission> incoming, std::optional<rules::Permission> outgoing);
    void UseGeneralDefaults();
    // The key of the application added, to be shown; nothing when none was
    // made or the rules cannot be changed now (the window says why).
    std::optional<std::string> Run();

private:
    PanelCore& core_;
    Wizard wizard_;
    std::optional<rules::Permission> incoming_;
    std::optional<rules::Permission> outgoing_;
};

}  // namespace panel
