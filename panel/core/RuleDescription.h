#pragma once

#include "rules/Rule.h"

#include <string>

namespace panel {

// A rule as its row describes it: "PERMIT OUTGOING for : 80, 8080(10.0.0.1,10.0.0.2)".
std::string RuleDescription(const rules::Rule& rule);

}  // namespace panel
