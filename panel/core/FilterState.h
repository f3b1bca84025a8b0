#pragma once

#include "core/SecurityLevels.h"

#include <string>

// What the firewall is doing, in the words the tray and the window show:
// filtering at a level, blocking everything, or not filtering (the panel is
// shutting down; the engine lets everything pass once it has).
namespace panel {

enum class Filtering { kAtLevel, kBlockAll, kStopped };

struct FilterState {
    Filtering filtering = Filtering::kAtLevel;
    // "High", "Normal", "Low", "Custom", or "unknown" when the rules file
    // could not be read and no level is known.
    std::string level;
    // The tray's tip: the product's name, then what it does.
    std::string tip;

    bool operator==(const FilterState&) const = default;
};

FilterState DescribeFiltering(const SecurityDisplay& display, bool stopped);

}  // namespace panel
