#pragma once

#include "settings/PanelState.h"

#include <cstdint>
#include <optional>
#include <string>

// Security levels: a level is the general application's pair of defaults.
// High, Normal and Low are presets; Custom is a pair set by hand; Block all
// overrides whatever is shown without touching the defaults.
namespace panel {

struct SecurityLevel {
    const char* inDef;
    const char* outDef;
    const char* title;
    const char* description;
    uint32_t colour; // 0x00BBGGRR
};

// Slider positions 0, 1, 2: High, Normal, Low.
const SecurityLevel& PresetLevel(int slider);
inline constexpr int kPresetLevels = 3;

// What the main window's security panel shows.
struct SecurityDisplay {
    // The preset whose label is marked and where the slider goes; nullopt
    // when the general defaults are none of the presets (nothing is changed).
    std::optional<int> level;
    bool custom = false;
    bool blockAll = false;
    bool comboEnabled = true;
    std::string infoText; // empty: left as it is
    uint32_t infoColour = 0;
    std::string comboText;
    std::string comboTag;
    uint32_t comboBack = 0;
};

// Derives the level from the security mode, the general defaults and the
// block-all status.
SecurityDisplay SetMainInfoText(const PanelState& state);

// The title and description of a preset as the status text shows them.
std::string LevelInfoText(int slider);

// Sets the application's defaults; for "ANY" also the general defaults the
// window shows; with applyToAll every other application too (and each is
// published).
void ApplyNewSecurityToRule(PanelState& state, const std::string& exeName, bool applyToAll, const std::string& inDef,
                            const std::string& outDef);
void ChangeAllAppDefault(PanelState& state, const std::string& inDef, const std::string& outDef);

}  // namespace panel
