#pragma once

#include "settings/PanelState.h"

#include <string>

// Applying an application's defaults, saving, and telling the running
// engines which programs must read their rules again.
namespace panel {

// The defaults chosen on a window: "PERMIT", "ASK", "DENY", or empty when no
// button of the group is selected.
struct ChosenDefaults {
    std::string inDef;
    std::string outDef;
};

// Applies the defaults shown on the window to the application, publishes it
// and saves. For "ANY" in "Normal" mode the slider's preset applies (and,
// with "ApplySettings", to every application); for "ANY" in "Custom" mode
// the chosen buttons do. clearOwnDefaults makes the application follow the
// system settings. False when the application is not in the rules (nothing
// is published or saved then) or the file could not be written.
bool SaveNewSettings(PanelState& state, const std::string& exeName, const ChosenDefaults& chosen, bool clearOwnDefaults,
                     int sliderValue);

// Adds the application's name to the update list (mode 1) or removes it
// (any other mode), then publishes the list. Names are compared whole.
void UpdateAppChanges(PanelState& state, const std::string& exeName, int mode);

// Tells the running engines that an application's rules changed: its name
// goes on the update list; for the system settings ("ANY"), which apply to
// every program, the names of the programs running now do.
void PublishChange(PanelState& state, const std::string& exeName);

// After the user chose a button in one direction ("IN" or "OUT"): when the
// other group has no button selected, the default that group should show,
// the inherited general one ("ASK" becomes "DENY" for a service); empty
// when nothing is to be selected.
std::string SetPermissionAfterSystemSettings(const PanelState& state, const std::string& direction,
                                             const std::string& otherGroupSelection, const std::string& exeName);

}  // namespace panel
