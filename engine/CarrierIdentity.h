#pragma once

#include "os/Processes.h"
#include "protocol/hooksafe/HookLink.h"
#include "rules/RulesFormat.h"

#include <functional>
#include <string>
#include <string_view>

namespace engine {

// The program this copy of the engine was loaded into: its carrier. In this
// code "carrier" is always that program, and "host" (a host name, a host
// rule) always the name of a peer, as the rules file's HOSTS have it.
struct CarrierIdentity {
    // A script an interpreter runs is the program: exePath is the script's
    // absolute path ("INTERPRETER -m MODULE" or "INTERPRETER CLASS" for one
    // run by name), and an entry for it never applies to the interpreter.
    std::string exePath;         // after the name clean-up
    std::string exeName;         // upper-cased file part: the key into the rules file
    std::string interpreterPath; // the interpreter running the script; empty for any other program
    std::string scriptFile;      // the script's file, whose content an entry may check; empty for none
    bool isServiceCarrier = false;
    std::string description; // FileDescription, or exeName
    std::string company;     // CompanyName, or "Unknown"
    std::string icon;        // icon name or path for the alert; empty for none
    // The path and description as log records carry them: escaped once.
    std::string exePathForLog;
    std::string descriptionForLog;
    std::string recordHead; // the start of every connection record of the carrier
    // The process that started the carrier, named as its own carrier
    // identity would name it (a script it runs included); both empty: no
    // known parent (gone, another user's, unreadable, or in doubt).
    std::string parentPath;
    std::string parentName;
};

using rules::rules_format::CleanCarrierPath;
using rules::rules_format::CarrierExeName;

// The carrier's path, name and kind from the process table; exePath (empty:
// the process's own) the file it runs. The arguments and working folder are
// the hook's copy from the program's start (start), else read here, once:
// later the program may have changed both, or forbidden itself to read them.
void IdentifyCarrier(CarrierIdentity& carrier, const std::string& procRoot, pid_t pid, const std::string& exePath,
                     const protocol::HookStart* start = nullptr);

// The carrier's parent, read once when the engine starts, before a sandbox
// may close the process table, and kept across fork: the identity is that of
// the process that ran exec. parent: its parent when it started; parentNow
// gives its parent now (getppid). What is read counts only when parentNow
// gives parent before and after, and the process there started at one time.
void IdentifyParent(CarrierIdentity& carrier, const std::string& procRoot, pid_t parent,
                    const std::function<pid_t()>& parentNow);

// Description, company and icon from the executable's desktop entry, with the
// fall-backs of an executable that has none.
void CompleteCarrierDescription(CarrierIdentity& carrier);

}  // namespace engine
