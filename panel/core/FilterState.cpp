#include "panel/core/FilterState.h"

#include "os/Clock.h"
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

// The user's short date and time of a moment.
std::string LocalDateTime(std::time_t when)
{
    std::tm local {};
    if (!::localtime_r(&when, &local))
        return std::to_string(when);
    char date[64], time[64];
    const size_t dateLength = os::FormatLocalDate(local, date, sizeof date);
    const size_t timeLength = os::FormatLocalTime(local, time, sizeof time);
    return std::string(date, dateLength) + " " + std::string(time, timeLength);
}

std::string ModeLine(const protocol::mode::State& mode, protocol::mode::Mode effective)
{
    using protocol::mode::Mode;
    switch (effective) {
    case Mode::kQuietAllow: return text::Tr("FilterState", "Quiet mode: allowing");
    case Mode::kQuietBlock: return text::Tr("FilterState", "Quiet mode: blocking");
    case Mode::kLearn:
        return text::Arg(text::Tr("FilterState", "Learning until %1"), {LocalDateTime(mode.learnUntil)});
    case Mode::kAsk: break;
    }
    return {};
}

}  // namespace

FilterState DescribeFiltering(const SecurityDisplay& display, bool stopped, const protocol::mode::State& mode,
                              std::time_t now)
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
    state.mode = protocol::mode::Effective(mode, now);
    const std::string head = std::string(kProduct) + "\n";
    if (stopped) {
        state.filtering = Filtering::kStopped;
        state.tip = head + text::Tr("FilterState", "Not filtering: shut down");
    } else if (display.blockAll) {
        state.filtering = Filtering::kBlockAll;
        state.tip = head + text::Tr("FilterState", "Block All: every connection is blocked");
    } else {
        state.tip = head + text::Arg(text::Tr("FilterState", "Filtering at level %1"), {state.level});
        // Block All and the shutdown leave nothing for a mode to decide.
        if (const std::string line = ModeLine(mode, state.mode); !line.empty())
            state.tip += "\n" + line;
    }
    return state;
}

}  // namespace panel
