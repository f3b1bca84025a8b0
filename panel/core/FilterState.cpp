#include "panel/core/FilterState.h"

#include "text/Translate.h"

namespace panel {

namespace {

constexpr const char* kLevelNames[kPresetLevels] = {
    ZEL_TEXT_NOOP("FilterState", "High"),
    ZEL_TEXT_NOOP("FilterState", "Normal"),
    ZEL_TEXT_NOOP("FilterState", "Low"),
};
// A name: the same in every language.
constexpr const char* kProduct = "Korvel Firewall";

}  // namespace

FilterState DescribeFiltering(const SecurityDisplay& display, bool stopped)
{
    FilterState state;
    state.custom = display.custom;
    if (!display.custom && display.level && *display.level >= 0 && *display.level < kPresetLevels)
        state.preset = *display.level;
    if (state.custom)
        state.level = text::Tr("FilterState", "Custom");
    else if (state.preset)
        state.level = text::Tr("FilterState", kLevelNames[*state.preset]);
    else
        state.level = text::Tr("FilterState", "unknown");
    const std::string head = std::string(kProduct) + "\n";
    if (stopped) {
        state.filtering = Filtering::kStopped;
        state.tip = head + text::Tr("FilterState", "Not filtering: shut down");
    } else if (display.blockAll) {
        state.filtering = Filtering::kBlockAll;
        state.tip = head + text::Tr("FilterState", "Block All: every connection is blocked");
    } else {
        state.tip = head + text::Arg(text::Tr("FilterState", "Filtering at level %1"), {state.level});
    }
    return state;
}

}  // namespace panel
