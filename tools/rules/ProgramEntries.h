#pragma once

#include "tools/rules/LoadedRules.h"

#include <optional>
#include <string>
#include <vector>

namespace tools::zel_rules {

// The program's entry, by what the user typed (a path or a file name, ANY
// for the system settings), made when it has none (as the panel's wizard
// makes one, bound to the file, with the system's defaults): its key. Empty
// (told) when there is no such program.
std::string Entry(const Target& target, LoadedRules& rules, const std::string& program);

// An existing entry, by what the user typed; nullptr (told) when there is none.
const rules::Application* Existing(LoadedRules& rules, const std::string& program);

// "--parent P" taken out of args: the parent as an entry limited to it names
// it (a path with its links resolved, else the program name the rules know
// it by); nullopt when args has none. false (told) for a parent that is none.
bool TakeParent(std::vector<std::string>& args, std::optional<std::string>& parent);

// The same as Entry and Existing for program's entry limited to parent.
std::string LimitedEntry(const Target& target, LoadedRules& rules, const std::string& program,
                         const std::string& parent);
const rules::Application* ExistingLimited(LoadedRules& rules, const std::string& program, const std::string& parent);

}  // namespace tools::zel_rules
