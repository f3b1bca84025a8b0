#pragma once

#include "platform/Processes.h"

#include <string>
#include <string_view>

namespace engine {

struct HostIdentity {
    std::string exePath;     // after the name clean-up
    std::string exeName;     // upper-cased file part: the key into the rules file
    bool isServiceHost = false;
    std::string description; // FileDescription, or exeName
    std::string company;     // CompanyName, or "Unknown"
    std::string icon;        // icon name or path for the alert; empty for none
    // The path and description as log records carry them: escaped once.
    std::string exePathForLog;
    std::string descriptionForLog;
    std::string recordHead; // the start of every connection record of the host
};

using platform::processes::CleanHostPath;
using platform::processes::HostExeName;

// Description, company and icon from the executable's desktop entry, with the
// fall-backs of an executable that has none.
void CompleteHostDescription(HostIdentity& host);

}  // namespace engine
