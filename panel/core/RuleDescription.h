#pragma once

#include "rules/Rule.h"

#include <string>

namespace panel {

// The words users read for a permission ("Allow", "Block", "Ask") and a
// direction ("Incoming", "Outgoing"), in the user's language; the rules
// file keeps its own.
std::string ShownWord(rules::Permission permission);
std::string ShownWord(rules::Direction direction);

// A rule as its row describes it, in the user's language: "Allow outgoing
// for : 80, all ports(10.0.0.1,10.0.0.2)"; port 0 reads "all ports", a rule
// without ports "for : nothing (no port)".
std::string RuleDescription(const rules::Rule& rule);

}  // namespace panel
