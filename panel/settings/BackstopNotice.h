#pragma once

#include <optional>
#include <string>

namespace panel {

// What the user is told of a connection the kernel backstop reported: a
// program the hook is not in connected (notify) or was refused (deny).
struct BackstopNotice {
    bool denied = false;
    std::string program; // the executable's path, or its command name
    std::string title;
    std::string text;    // what happened and what to do
    std::string summary; // one line for the side column
};

// From the message's data, "denied|passed ADDRESS PORT PROGRAM"; nullopt for
// anything else (the data comes from another process).
std::optional<BackstopNotice> ParseBackstopNotice(const std::string& data);

}  // namespace panel
