#pragma once

#include "tools/rules/LoadedRules.h"

#include <string>

namespace tools::zel_rules {

// The program's entry, by what the user typed (a path or a file name, ANY
// for the system settings), made when it has none (as the panel's wizard
// makes one, bound to the file, with the system's defaults): its key. Empty
// (told) when there is no such program.
std::string Entry(const Target& target, LoadedRules& rules, const std::string& program);

// An existing entry, by what the user typed; nullptr (told) when there is none.
const rules::Application* Existing(LoadedRules& rules, const std::string& program);

}  // namespace tools::zel_rules
