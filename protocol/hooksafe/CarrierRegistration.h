#pragma once

#include <sys/types.h>

// How a process with a rule engine registers itself for the interceptor's
// process: a file "hosts/<pid>" in the runtime folder holding the program's
// name, locked for as long as the process lives. Part of the platform core:
// no C++ runtime (the hook registers).
namespace protocol::carriers {

// Returns the descriptor that holds the registration, or -1.
int Register(const char* runtimeFolder, pid_t pid, const char* exeName);
// Removes a registration (its process is ending, or has ended).
void Unregister(const char* runtimeFolder, pid_t pid);
// Removes the registrations of processes that have ended; returns how many.
int RemoveEnded(const char* runtimeFolder);

}  // namespace protocol::carriers
