#pragma once

#include "panel/core/PanelSettings.h"
#include "protocol/FirewallMode.h"
#include "protocol/SettingNames.h"

#include <ctime>
#include <optional>
#include <string>

namespace panel {

// The general settings the options dialog shows and stores.

struct Options {
    std::string logDays;           // "LogFileCount": days of logs kept, as typed
    bool startAtLogin = false;     // the autostart entry
    bool decideEveryProgram = false;
    bool udpFullMode = false;      // "UpdFullMode"
    bool askBeforeApplyingToAll = false; // "ApplySettings"
    std::optional<int> alertTimeout; // "AlertTimeout": seconds before an alert answers Block; none: never
    // What answers a question nobody can see (the screen locked, no
    // display): "AwayAnswer" (Allow or Block) after "AwayTimeout" seconds.
    bool awayAllows = false;
    int awaySeconds = protocol::settings::kDefaultAwayTimeout;
    // "TimedAnswerMinutes": how long an alert's answer "for a time" lasts.
    int timedAnswerMinutes = protocol::settings::kDefaultTimedAnswerMinutes;
    bool journalRecords = false; // "JournalRecords": each log record also goes to the system journal
    // "FirewallMode": what becomes of a question; while learning, the days
    // it lasts (left of it, as shown; from OK on, when chosen).
    protocol::mode::Mode mode = protocol::mode::Mode::kAsk;
    int learnDays = protocol::settings::kDefaultLearnDays;

    // What the settings hold now.
    static Options Of(const PanelSettings& settings);
};

// The mode stored, as the options show it at now: learning that ran out
// as asking, learning under way with its whole days left.
void ShowMode(Options& options, const protocol::mode::State& stored, std::time_t now);
// Whether the mode chosen is to be stored: another mode, or learning for
// another number of days (OK alone never stretches learning under way).
bool ModeChosenAnew(const Options& shown, const Options& chosen);

struct OptionsStored {
    bool stored = false;         // false: the days are no number (written, and nothing after them)
    bool sessionChanged = false; // "Decide every program I start" was switched
};

// Stores the options in the documented order, and what follows from them:
// old logs deleted, the autostart entry written or removed, the session's
// start-up files made to follow "Decide every program I start".
OptionsStored StoreOptions(PanelSettings& settings, const Options& options, std::time_t now);

}  // namespace panel
