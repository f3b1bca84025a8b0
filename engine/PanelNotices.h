#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace engine {

// Posts a notice to the control panel's message box: the code, the asking
// process, and as data firstLine (a host name, an answer) and the program's
// path, which the panel can no longer ask a process that ended meanwhile.
void NotifyControlPanel(int alertCode, pid_t pid, const std::string& exePath, std::string_view firstLine = {});

}  // namespace engine
