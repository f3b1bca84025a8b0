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
    // DIRECTION and PERMISSION; nullopt when missing, which stops the
    // engine's reading at a rule in force.
    std::optional<Direction> direction;
    std::optional<Permission> permission;
    // STATE: true for "1" (in force), false for any other text (switched
    // off); nullopt when missing, which stops the engine's reading.
    std::optional<bool> inForce;
    // ENABLE: listed in the control panel's rule lists (kept out of sight
    // otherwise, still in force); the engine never looks at it.
    bool listed = true;
    std::vector<Port> ports; // none: the rule covers nothing

    bool operator==(const Rule&) const = default;
};

}  // namespace rules
