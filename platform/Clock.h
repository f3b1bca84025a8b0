#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace platform {

// Milliseconds since the system started, cut to 32 bits (wraps after 49.7 days).
uint32_t GetTickCount();

// A monotonic millisecond clock read without a system call, a few
// milliseconds coarse: for deciding when something is due for a fresh look.
long long CoarseMilliseconds();

// The user's short date (%x) and time (%X) in the locale the environment
// names, without touching the process's own locale. Return the length written.
size_t FormatLocalDate(const std::tm& time, char* buffer, size_t size);
size_t FormatLocalTime(const std::tm& time, char* buffer, size_t size);

}  // namespace platform
