#pragma once

#include "panel/core/SecurityLevels.h"
#include "protocol/FirewallMode.h"

#include <ctime>
#include <optional>
#include <string>

namespace panel {

// What the firewall is doing, in the words the tray and the window show:
// filtering at a level, blocking everything, or not filtering (the panel is
// shutting down; the engine lets everything pass once it has).

enum class Filtering { kAtLevel, kBlockAll, kStopped };

struct FilterState {
    Filtering filtering = Filtering::kAtLevel;
    // The preset in force (slider position 0, 1, 2: High, Normal, Low), or
    // defaults set by hand; neither when the rules file could not be read
    // and no level is known. What code compares: level is in the user's language.
    std::optional<int> preset;
    bool custom = false;
    // "High", "Normal", "Low", "Custom" or "unknown", as shown.
    std::string level;
    // The mode stored, as the engines take it (ask once learning ran out);
    // it decides only while filtering at a level.
    protocol::mode::Mode mode = protocol::mode::Mode::kAsk;
    // The tray's tip: the product's name, then what it does, then the mode
    // when it does not ask.
    std::string tip;

    bool operator==(const FilterState&) const = default;
};

FilterState DescribeFiltering(const SecurityDisplay& display, bool stopped, const protocol::mode::State& mode = {},
                              std::time_t now = 0);

}  // namespace panel
