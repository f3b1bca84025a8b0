#include "core/FilterState.h"

namespace panel {

namespace {

constexpr const char* kLevelNames[kPresetLevels] = {"High", "Normal", "Low"};
constexpr const char* kProduct = "Korvel Firewall";

}  // namespace

FilterState DescribeFiltering(const SecurityDisplay& display, bool stopped)
{
    FilterState state;
    if (display.custom)
        state.level = "Custom";
    else if (display.level && *display.level >= 0 && *display.level < kPresetLevels)
        state.level = kLevelNames[*display.level];
    else
        state.level = "unknown";
    const std::string head = std::string(kProduct) + "\n";
    if (stopped) {
        state.filtering = Filtering::kStopped;
        state.tip = head + "Not filtering: shut down";
    } else if (display.blockAll) {
        state.filtering = Filtering::kBlockAll;
        state.tip = head + "Block All: every connection is blocked";
    } else {
        state.tip = head + "Filtering at level " + state.level;
    }
    return state;
}

}  // namespace panel
