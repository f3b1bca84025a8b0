#pragma once

#include <cstddef>

// How a program is named to the rules. Part of the platform core: no C++
// runtime, so that the hook names its program the way the engine does.
namespace rules {

// A copy's file name such as "SETUP (2).EXE" names the program SETUP.EXE:
// when the file part holds " (" with a "." after it, the text from " (" up
// to the "." is removed. Works in place; returns the new length.
size_t CleanCarrierPathInPlace(char* path);

// The upper-cased file part of path (after the last '/'), cut to fit.
void UpperFileName(const char* path, char* name, size_t size);

// Host names as rules compare them: lower case, without a trailing dot, in
// ASCII (an international name travels as punycode, "xn--..."). 253
// characters at most, labels of 1 to 63 letters, digits, '-' or '_'.
inline constexpr size_t kMaxHostName = 253;

// Writes the normalised form of name into out (kMaxHostName + 1 bytes at
// least) and returns its length, or 0 when name is no host name: empty,
// too long, an empty label, a character outside the set above, or an IPv4
// address written out (an address names no host).
size_t NormalizeHostName(const char* name, size_t length, char* out, size_t size);

}  // namespace rules
