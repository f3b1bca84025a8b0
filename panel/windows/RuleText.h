#pragma once

#include "settings/AppBuffer.h"

#include <QString>

#include <string>

namespace panel {

// A rule as its row describes it: "PERMIT OUTGOING for : 80, 8080(10.0.0.1,10.0.0.2)".
std::string RuleDescription(const AppRules& rule);

}  // namespace panel

// An application's name in the tree: the description with its first
// character as it is and the rest in lower case ("Internet explorer").
QString NodeText(const std::string& description);
