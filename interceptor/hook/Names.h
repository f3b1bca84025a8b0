#pragma once

#include <sys/socket.h>

// The host names the program looked up, by address: for rules by host name,
// the log and the alert. Bounded: when an address's neighbourhood of places
// is full, one of them gives way. Read without a lock or an allocation.
namespace hook {

// Remembers name for the address (IPv4-mapped addresses under their IPv4 form).
void RememberName(const char* name, const sockaddr* address);
// The name remembered for an address text into name (normalised); false
// when none: never another address's name.
bool NameOf(const char* address, char* name, unsigned size);
void LockNamesForFork();
void UnlockNamesAfterFork();

}  // namespace hook
