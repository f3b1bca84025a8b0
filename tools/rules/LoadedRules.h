#pragma once

#include "os/Files.h"
#include "panel/core/PanelCore.h"
#include "tools/rules/Commands.h"

#include <functional>
#include <string>

namespace tools::zel_rules {

// The rules file, read as the engine reads it, with the panel's core on it.
struct LoadedRules {
    panel::PanelCore core;
    os::FileStamp stamp;
};

// The settings, and the rules file read whole; a missing file holds the
// default rules, as the panel starts one (no entry at all with
// missingIsEmpty). 0, or the status when it cannot be read or does not
// parse (told): nothing is then changed.
int Load(const Target& target, LoadedRules& rules, bool missingIsEmpty = false);

// Saves the rules changed by change(rules) on the file as it was read: read
// again when another writer replaced it meanwhile, so nobody's change is
// lost. While the panel runs, returns once the running programs concerned
// have the change. 0, or the status (told); change returns a status too.
int Change(const Target& target, const std::function<int(LoadedRules&)>& change, bool missingIsEmpty = false);

}  // namespace tools::zel_rules
