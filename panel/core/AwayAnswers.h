#pragma once

#include "panel/core/AlertAnswers.h"
#include "protocol/AwayDecisions.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace panel {

// What was decided while nobody was at the screen, as the control panel
// offers it afterwards: each decision can be allowed, which stores it as an
// alert's answer is stored (a rule for the host when the program knew the
// peer by name, else the program's default for the direction), and leaves
// the list with every other decision that rule now covers.

// One line of the list, as the window shows it.
struct AwayLine {
    std::time_t time = 0;   // when it was decided
    bool today = false;     // on the day of now: the window shows the time alone
    std::string program;    // the program as shown (ProgramDisplayName)
    std::string connection; // "TCP to www.example.org (93.184.216.34) port 443"
    std::string decided;    // "Blocked" or "Allowed"
};
AwayLine DescribeAway(const protocol::away::Decision& decision, std::time_t now);

// Makes decision a rule (see above); the program is named by the path its
// engine recorded. nullopt when nothing could be stored (logged).
std::optional<AlertedApp> AllowAwayDecision(PanelCore& core, const protocol::away::Decision& decision,
                                            const std::string& listPath);
// Empties the list.
bool ClearAwayDecisions(const std::string& listPath);

}  // namespace panel
