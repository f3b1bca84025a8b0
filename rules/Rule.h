#pragma once

#include "rules/Port.h"
#include "rules/Words.h"

#include <optional>
#include <string>
#include <vector>

namespace rules {

// One rule of an application: a permission for a direction on its ports,
// first match wins.
struct Rule {
    std::string name; // RULENAME, shown only
    // DIRECTION and PERMISSION; nullopt when missing (see MeaningOf).
    std::optional<Direction> direction;
    std::optional<Permission> permission;
    // STATE: true for "1" (in force), false for any other text (switched
    // off); nullopt when missing (see MeaningOf).
    std::optional<bool> inForce;
    // ENABLE: listed in the control panel's rule lists (kept out of sight
    // otherwise, still in force); the engine never looks at it.
    bool listed = true;
    std::vector<Port> ports; // none: the rule covers nothing

    bool operator==(const Rule&) const = default;
};

// What a rule means to every reader. One that holds what it must (STATE;
// in force, PERMISSION and DIRECTION) means what it says. One that lacks a
// piece means no more than it could have meant: passed over when it
// permits, else a denial in force, both ways when it names no direction.
// Nothing after it is lost, and a broken denial never lets its program
// fall through to a rule or a default that permits.
struct RuleMeaning {
    bool decides = false; // false: switched off, or a broken rule that permits
    Permission permission = Permission::kDeny;
    std::optional<Direction> direction; // nullopt: both directions
    const char* missing = nullptr;      // the element it lacks (STATE, PERMISSION, DIRECTION), if any
};
RuleMeaning MeaningOf(const Rule& rule);

// What a port of a rule that decides covers, by the rule's permission: its
// number as written. A NUMBER that is missing or none covers no port in a
// rule that permits, and every port, denied, in any other (a rule that
// asks included: its question might have permitted).
struct PortMeaning {
    std::optional<int> number; // nullopt: no port; 0: every port
    Permission permission = Permission::kDeny;
    bool unreadable = false;   // the NUMBER was missing or none
};
PortMeaning MeaningOf(const Port& port, Permission rulePermission);

}  // namespace rules
