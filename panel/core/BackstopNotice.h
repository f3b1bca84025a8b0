#pragma once

#include <optional>
#include <string>

namespace panel {

// What the user is told of a connection the kernel backstop reported: a
// program the hook is not in connected or was connected to (notify), was
// refused (deny, or a rule), or was refused because the rules say ASK
// (asked: the user answers).
struct BackstopNotice {
    bool denied = false; // refused, also when asked
    bool asked = false;
    bool incoming = false; // the peer connected (or sent) to the program
    std::string program; // the executable's path, or its file or command name
    std::string address; // the peer
    unsigned port = 0;   // the peer's; incoming, the program's own (what its rules name)
    std::string title;
    std::string text;    // what happened and what to do
    std::string summary; // one line for the side column
};

// From the message's data, "denied|passed|asked ADDRESS PORT PROGRAM", or for
// what came in, "denied-in|passed-in|asked-in ADDRESS LOCALPORT PROGRAM";
// nullopt for anything else (the data comes from another process).
std::optional<BackstopNotice> ParseBackstopNotice(const std::string& data);

}  // namespace panel
