#pragma once

// A lock file held for a process's whole life says that the process runs.
// Open file description locks: queried without being taken, and released
// when the last descriptor of the holder closes, also when it crashes.
// Files are opened without following symbolic links and without waiting.
// Part of the platform core: no C++ runtime.
namespace os {

// Takes the lock; returns the descriptor to keep open, or -1 when another
// process holds it (or the file cannot be made).
int HoldLockFile(const char* path);
bool IsLockFileHeld(const char* path);
bool IsHeldByOther(int fd);

}  // namespace os
