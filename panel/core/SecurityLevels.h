#pragma once

#include "panel/core/PanelSettings.h"
#include "rules/Words.h"

#include <cstdint>
#include <optional>
#include <string>

namespace panel {

// Security levels: a level is the general application's pair of defaults.
// High, Normal and Low are presets; Custom is a pair set by hand; Block all
// overrides whatever is shown without touching the defaults.

struct SecurityLevel {
    rules::Permission incoming;
    rules::Permission outgoing;
    const char* title;
    const char* description;
    uint32_t colour; // 0x00BBGGRR
};

// Slider positions 0, 1, 2: High, Normal, Low.
inline constexpr int kPresetLevels = 3;
const SecurityLevel& PresetLevel(int slider);

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

// The level from the security mode, the general application's defaults
// and the "SecurityStatus" (block all).
SecurityDisplay DescribeSecurity(SecurityMode mode, std::optional<rules::Permission> generalIncoming,
                                 std::optional<rules::Permission> generalOutgoing, const std::string& securityStatus);

// The title and description of a preset as the status text shows them.
std::string LevelInfoText(int slider);

}  // namespace panel
