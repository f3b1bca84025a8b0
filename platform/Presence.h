#pragma once

#include <string>

// Whether the control panel runs. The running panel holds an exclusive lock
// on a file in the runtime folder for its whole life, so the question costs
// one open and one lock attempt instead of a walk over every process.
namespace platform::presence {

std::string ControlPanelLockPath();

// Takes the lock for the calling process; returns the descriptor to keep
// open, or -1 when another control panel holds it (or it cannot be made).
int HoldControlPanelLock(const std::string& lockPath);

bool IsControlPanelRunning(const std::string& lockPath);

}  // namespace platform::presence
