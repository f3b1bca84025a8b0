#pragma once

#include "rules/hooksafe/Names.h"

#include <sys/socket.h>

// The host names the program looked up, by address: for rules by host name,
// the log and the alert. Learnt from the program's resolver calls and from
// the DNS answers it receives itself. An address keeps the last few names it
// was known by (a CDN's address serves many), so that a decision can look at
// every one of them whatever the order in which threads looked them up.
// Bounded: when an address's neighbourhood of places is full, one of them
// gives way. Read without an allocation, and without a lock unless a slot
// is being rewritten throughout the read.
namespace hook {

constexpr unsigned kNamesPerAddress = 4;
constexpr unsigned kNameSize = rules::kMaxHostName + 1;

// The names known for one address, the most recently learnt first.
struct KnownNames {
    unsigned count = 0;
    char names[kNamesPerAddress][kNameSize];
};

// Remembers name for the address (IPv4-mapped addresses under their IPv4 form).
void RememberName(const char* name, const sockaddr* address);
// The same for a name already in normal form.
void RememberNormalName(const char* name, const sockaddr* address);
// The names remembered for an address text (normalised); none when the
// address is not known: never another address's name.
void NamesOf(const char* address, KnownNames& known);
// The most recently learnt of them into name; false when none.
bool NameOf(const char* address, char* name, unsigned size);
// Whether name is "use-application-dns.net" (any case, with or without its
// final dot): browsers that find it does not resolve keep to the system's
// resolver. Only that name: not one under it, nor one it begins.
bool IsDnsCanary(const char* name);
void LockNamesForFork();
void UnlockNamesAfterFork();

}  // namespace hook
