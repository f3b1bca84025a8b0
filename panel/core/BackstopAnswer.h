#pragma once

#include "panel/core/AlertAnswers.h"
#include "panel/core/PanelCore.h"

#include <optional>
#include <string>

namespace panel {

// The user's answer to a question the kernel backstop raised for a program
// the hook is not in (its rules said ASK, and the kernel refused the
// connection meanwhile).
struct BackstopAnswer {
    std::string program; // its path, or its file name when it ended before the backstop looked
    std::string address; // the peer
    unsigned port = 0;   // the peer's; incoming, the program's own
    bool permit = false;
    bool forAll = false; // ticked: for all its traffic that way
    bool incoming = false; // the peer connected (or sent) to the program
};

// Stores the answer so that the backstop decides the next attempt without
// asking, as an alert's answer is stored: ticked, the program's default for
// that direction (its rules kept); otherwise a rule, first among its rules,
// that permits or blocks its outgoing connections to that address and port,
// or what that address sends to that port of the program's. A program without
// an entry gets one with the general defaults; a rule an earlier answer made
// for the same peer gives way. Saved and published. nullopt (logged) when
// the program or peer is not one a rule can name.
std::optional<AlertedApp> StoreBackstopAnswer(PanelCore& core, const BackstopAnswer& answer);

}  // namespace panel
