#pragma once

#include "os/Files.h"
#include "panel/core/RulesStore.h"

#include <optional>
#include <string>
#include <vector>

namespace panel {

class PanelCore;

// Changes other programs make to the rules file while the panel holds its
// copy (zel-rules, configuration management, an editor): the panel takes
// the file's rules and tells the engines of the programs whose entries
// changed, as it does for its own changes, so that it never writes its
// older copy over them and the window shows what is in force.
class OutsideChanges {
public:
    // When the file changed since the last look: loaded as the panel loads
    // it (PanelCore::LoadRules), and the programs whose entries differ from
    // the rules held published. nullopt when the rules held did not change
    // (the file is the panel's own last save, or did not change at all).
    std::optional<RulesStore::LoadResult> Take(PanelCore& core);

private:
    os::FileStamp stamp_;
    bool looked_ = false;
};

// The names of the entries that differ between two documents, the general
// application's ("ANY") among them; "ANY" too when only their order
// differs, which can change what the engines read for any program.
std::vector<std::string> ChangedEntries(const rules::Document& before, const rules::Document& after);

}  // namespace panel
