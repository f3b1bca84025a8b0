#pragma once

#include "panel/core/PanelCore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace panel {

// What the alerts' answers make of the rules.

// What an alert's answer made of a program: the key (Application::Key) and
// description the window selects.
struct AlertedApp {
    std::string key;
    std::string description;
};

// One alert answer that the rules keep (codes 1 to 4, 7 and 8), as the
// message channel delivers it, with the program's path found on arrival.
struct AlertAnswer {
    int code = 0;
    uint32_t processId = 0;
    std::string path;     // AnsweringProgramPath
    std::string hostName; // codes 7 and 8: the host the answer is for; 12: the answer (rules::AnswerText)
};

// The program's own entry: the one the engine reads for the program named
// exeName at path (its name's, or the one bound to that path; a description
// that reads like it, the system settings' or another program's, never
// stands in for it); a new one bound to path, with the general defaults,
// when it has none.
rules::Application& ProgramEntry(PanelCore& core, const std::string& exeName, const std::string& description,
                                 const std::string& path);
// An answer "for all" of codes 1 to 4 in the program's entry: the answered
// direction's default becomes the answer, and the other direction keeps the
// default that decided it until then (with an incoming default the engine
// reads the program's entry alone; without one it goes on to the system
// settings, whose defaults win). The rules stay.
void SetAnsweredDefault(const PanelCore& core, rules::Application& app, int alertCode);

// Whether the rules keep answers of this code (1 to 4, 7, 8).
bool IsStoredAnswer(int alertCode);

// The program that answered: its process asked first, the path its engine
// sent with the answer (pathHint) when it has ended since. Empty (logged for
// caller) when neither tells: such an answer changes nothing.
std::string AnsweringProgramPath(uint32_t processId, const std::string& procRoot, const std::string& pathHint,
                                 const char* caller);

// Stores answers in their order, each in the entry of its program (found by
// its name alone, made with the general defaults when it has none), then
// saves once; every changed program is published. Codes 1 to 4 set the
// answered direction's default and leave the program's rules and its other
// direction as they decided until then. Codes 7 and 8 put a rule first among
// the program's rules that blocks (7) or permits (8) its outgoing
// connections to the host on every port; a rule made so earlier for the same
// host gives way (a host name must be a normalised exact name; anything else
// changes nothing, logged). Code 12 (an answer for a peer, a port or both)
// puts a timed answer first among the program's timed answers, or, for one
// that lasts always, a rule first among its rules; an earlier one of the same
// scope gives way. Returns the last program stored, for the window
// to show; nullopt when none was.
std::optional<AlertedApp> StoreAnswers(PanelCore& core, const std::vector<AlertAnswer>& answers);

// One answer of codes 1 to 4 stored and saved (StoreAnswers), or code 5
// (the program ended): endedExeName leaves the update list. nullopt when
// nothing was stored: a process that cannot be examined changes nothing
// (logged). pathHint is the program's path as its engine sent it, used
// when the process has ended.
std::optional<AlertedApp> SetNewApp(PanelCore& core, int alertCode, uint32_t processId, const std::string& procRoot,
                                    const std::string& endedExeName = "", const std::string& pathHint = "");

// One answer of codes 7 and 8 stored and saved (StoreAnswers).
std::optional<AlertedApp> SetHostRule(PanelCore& core, int alertCode, uint32_t processId, const std::string& procRoot,
                                      const std::string& hostName, const std::string& pathHint = "");

}  // namespace panel
