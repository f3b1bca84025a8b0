#pragma once

#include <cstddef>

// The environment as the firewall trusts it. Part of the platform core: no
// C++ runtime, so that the hook loaded into every program can use it.
namespace os {

// The variables the firewall reads, and the only ones a start-up copy keeps.
extern const char* const kFirewallVariables[];

// A variable's value, or null. Never read in secure execution (a set-user-ID
// or file-capability program), where the caller chose the environment. When
// a start-up environment was handed over, it answers instead of the current
// one: a program may clear its environment when it drops its privileges, and
// must still be decided with the settings it started with.
const char* GetEnv(const char* name);

// From now on GetEnv answers from entries ("NAME=VALUE", ending with null),
// which must live as long as the process. Null goes back to the environment.
void UseStartupEnvironment(const char* const* entries);

// Copies the firewall's variables out of the current environment into store
// and list (list ends with null); returns false when they did not all fit.
bool CaptureStartupEnvironment(char* store, size_t storeSize, const char** list, size_t listSize);

// True in secure execution: the program runs with privileges its caller lacks.
bool IsSecureExecution();

}  // namespace os
