#pragma once

#include <cstddef>

// How a program is named to the rules. Part of the platform core: no C++
// runtime, so that the hook names its program the way the engine does.
namespace platform {

// A copy's file name such as "SETUP (2).EXE" names the program SETUP.EXE:
// when the file part holds " (" with a "." after it, the text from " (" up
// to the "." is removed. Works in place; returns the new length.
size_t CleanHostPathInPlace(char* path);

// The upper-cased file part of path (after the last '/'), cut to fit.
void UpperFileName(const char* path, char* name, size_t size);

}  // namespace platform
