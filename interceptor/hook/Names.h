#pragma once

#include <sys/socket.h>

// The host names the program looked up, by address, so that an alert names
// the peer as the program knows it. Bounded: the oldest names give way.
namespace hook {

// Remembers name for the address (IPv4-mapped addresses under their IPv4 form).
void RememberName(const char* name, const sockaddr* address);
// The name remembered for an address text into name; false when none.
bool NameOf(const char* address, char* name, unsigned size);
void LockNamesForFork();
void UnlockNamesAfterFork();

}  // namespace hook
