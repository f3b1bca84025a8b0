#pragma once

#include "rules/TimedAnswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace panel {

// The alerts' answers for a time, as the rules file keeps them: listed,
// ended by the user, and taken out of the file once they end.

class PanelCore;

struct TimedEntry {
    std::string exeName;     // the program's entry: its name
    std::string key;         // and what the panel knows it by (rules::Application::Key)
    std::string description; // its description, as the tree shows it
    rules::TimedAnswer answer;
};

// Every timed answer of every program, the first to end first.
std::vector<TimedEntry> ListTimedAnswers(const PanelCore& core);
// The earliest end of any timed answer; nullopt when there is none.
std::optional<int64_t> NextAnswerEnd(const PanelCore& core);

// Takes one answer out, saves and tells its program; false when it is no
// longer there (ended meanwhile) or the rules could not be saved (logged).
bool EndTimedAnswer(PanelCore& core, const TimedEntry& entry);
// Takes every answer that has ended by now out of the rules, saves once and
// tells the programs concerned (which read their rules again, as after any
// change). Returns how many were taken out.
int RemoveEndedAnswers(PanelCore& core, int64_t now);

// "Allow outgoing to example.com, port 443", "Block incoming on port 22, any peer".
std::string DescribeAnswer(const rules::TimedAnswer& answer);
// "1 h 05 min", "12 min", "40 s"; "ended" at or past the end.
std::string TimeLeftText(int64_t secondsLeft);
// The time left of answer at now, and for one whose end lies further away
// than any answer may last (a file written by hand) what the engines make
// of it: an Allow answers nothing, a Block blocks.
std::string TimeLeftText(const rules::TimedAnswer& answer, int64_t now);

}  // namespace panel
