#pragma once

#include "protocol/DecisionList.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// What was decided about connections while nobody was at the screen (the
// screen locked, no display to ask on): the setting the user chose
// answered, and the control panel lists these afterwards so that the user
// can make a rule of one. One line per decision in the runtime folder's
// "away-decisions", appended by the engines and rewritten only by the panel,
// both under a lock of the file. Bounded: past kMaxBytes nothing more is
// kept (the traffic log has every decision).
namespace protocol::away {

struct Decision : decision_list::Peer {
    std::time_t time = 0;
    pid_t pid = 0;
    std::string path; // the program

    bool operator==(const Decision&) const = default;
};

inline constexpr size_t kMaxBytes = 256 * 1024;

// The list in the runtime folder; empty when the folder is not safe to use.
std::string ListPath();

std::string FormatLine(const Decision& decision);
std::optional<Decision> ParseLine(std::string_view line);

// Adds one at the end; false when it could not be written or the list is full.
bool Append(const std::string& path, const Decision& decision);
// Every decision in the list, oldest first; lines that do not read are left out.
std::vector<Decision> ReadAll(const std::string& path);
// Takes out the decisions drop says; false when the list could not be rewritten.
bool Remove(const std::string& path, const std::function<bool(const Decision&)>& drop);

}  // namespace protocol::away
