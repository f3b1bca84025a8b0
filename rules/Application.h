#pragma once

#include "rules/Rule.h"
#include "rules/RulesFormat.h"
#include "rules/TimedAnswer.h"

#include <optional>
#include <string>
#include <vector>

namespace rules {

// Whether an application's key (Application::Key) is a path.
inline bool IsPathKey(std::string_view key) { return !key.empty() && key.front() == '/'; }

// One APPLICATION: a program's entry, or the general application "ANY"
// whose entry applies to every program.
struct Application {
    // EXENAME as rules::rules_format names programs (see EntryName);
    // nullopt when it is missing: the entry applies to no program.
    std::optional<std::string> name;
    std::string description; // DESCRIPTION, shown only
    std::string path;        // APPPATH, decoded
    // BYPATH "1" with a path: the entry is the program at path alone; a
    // program of the same name elsewhere is another program. Otherwise the
    // entry applies to every program of its name.
    bool byPath = false;
    // FILEHASH (os::DigestText of the file) of a bound entry; empty:
    // no content check.
    std::string fileHash;
    // PARENT: the parent's name or path (rules_format::kParent) when the
    // entry applies only to its program started by that parent; the name
    // is then rules_format::LimitedEntryName. Empty: any parent, or none.
    std::string parent;
    bool service = false;    // ISSERVICE "1": a system service, never asked
    // IGNORELISTS "1": the host lists are not applied to the program, its
    // own rules decide. Never set on the general application (readers and
    // writers leave it out there).
    bool ignoreLists = false;
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
    bool IsGeneral() const { return IsNamed(rules::rules_format::kGeneralApp); }
    // Whether the entry applies only to its program started by parent.
    bool IsLimited() const { return !parent.empty(); }
    // Whether the entry is bound to the program at its path.
    bool IsBound() const { return byPath && IsPathKey(path); }
    // Whether the entry applies to the program named programName (as
    // rules_format::ProgramName gives it) whose executable is programPath.
    bool AppliesTo(std::string_view programName, std::string_view programPath) const
    {
        return name && rules::rules_format::EntryApplies(*name, programName)
            && (!IsBound() || path == programPath);
    }
    // What the control panel knows the entry by: its path when it is bound
    // (a path always starts with '/', a name never holds one), its name
    // otherwise; empty for an entry without a name.
    // An entry limited to a parent is known by its name, which holds the parent.
    std::string Key() const { return IsBound() && !IsLimited() ? path : name.value_or(std::string()); }

    bool operator==(const Application&) const = default;
};

}  // namespace rules
