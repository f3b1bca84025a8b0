#pragma once

#include "rules/Rule.h"
#include "rules/TimedAnswer.h"
#include "platform/RulesFormat.h"

#include <optional>
#include <string>
#include <vector>

namespace rules {

// One APPLICATION: a program's entry, or the general application "ANY"
// whose entry applies to every program.
struct Application {
    // EXENAME as platform::rules_format names programs (see EntryName);
    // nullopt when it is missing, which stops the engine's reading there
    // for every program.
    std::optional<std::string> name;
    std::string description; // DESCRIPTION, shown only
    std::string path;        // APPPATH, decoded
    bool service = false;    // ISSERVICE "1": a system service, never asked
    // INDEF and OUTDEF; nullopt when empty or missing: no default of its own
    // for that direction. An INDEF ends the engine's reading after this
    // application.
    std::optional<Permission> incoming;
    std::optional<Permission> outgoing;
    std::vector<Rule> rules;
    // TIMED: answers for a time, in the order given; readers drop those
    // that lack a direction, a permission or an end.
    std::vector<TimedAnswer> timed;

    // Whether exactName is this entry's name.
    bool IsNamed(std::string_view exactName) const { return name && *name == exactName; }
    // The general application, named "ANY".
    bool IsGeneral() const { return IsNamed(platform::rules_format::kGeneralApp); }

    bool operator==(const Application&) const = default;
};

}  // namespace rules
