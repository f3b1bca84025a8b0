#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace engine {

// Who asks, as the alert's details show it: read from /proc only when an
// alert is about to show, never on the decision path.
struct AskingProcess {
    pid_t pid = 0;
    std::string user;        // "name (uid)" of the effective user
    std::string commandLine; // the arguments, quoted where a shell would need it
    pid_t parentPid = 0;
    std::string parentPath;  // empty when the parent's executable cannot be read
    // The parent's own parent and up, at most kAncestors, for display:
    // executables' paths, empty where one cannot be read.
    static constexpr size_t kAncestors = 3;
    std::vector<std::string> ancestors;
};

// The process pid as procRoot shows it (tests pass a folder of their own).
AskingProcess DescribeAskingProcess(const std::string& procRoot, pid_t pid);

// /proc's command line (arguments ended by NUL bytes) as one line to read:
// arguments that hold blanks or shell characters are quoted, control
// characters spelled out, so that an argument can never fake a line of its
// own. Longer than limit bytes: cut, ending with "...".
std::string FormatCommandLine(std::string_view raw, size_t limit = 4096);

}  // namespace engine
