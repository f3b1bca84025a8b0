#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>

// The one clock the firewall's own timing runs by: zelconn's loop
// (zelconn/LoopSchedule), the control panel's timers
// (gui/Clock), the engine's retries and freshness, the tick
// count the shared block's beats are in. Real time, unless a test has put a
// ManualTime in its place: then every reading below stands still until the
// test moves it, all of them together, so that a test never waits for time
// to pass.
namespace os {

using TimePoint = std::chrono::steady_clock::time_point;

// The monotonic clock.
TimePoint MonotonicNow();

// Milliseconds since the system started, cut to 32 bits (wraps after 49.7 days).
uint32_t GetTickCount();

// A monotonic millisecond clock read without a system call, a few
// milliseconds coarse: for deciding when something is due for a fresh look.
long long CoarseMilliseconds();

// Seconds since the epoch, for what depends on the day (which day's log is
// followed); records are stamped with the real time.
std::time_t WallTime();

// While one lives, it is this process's time (one at a time, tests only).
class ManualTime {
public:
    ManualTime();  // from the real time now
    ~ManualTime(); // real time again
    ManualTime(const ManualTime&) = delete;
    ManualTime& operator=(const ManualTime&) = delete;

    // Read from any thread; moved by one (the test's) at a time.
    TimePoint Now() const { return now_.load(std::memory_order_acquire); }
    void Advance(std::chrono::milliseconds by) { now_.store(Now() + by, std::memory_order_release); }
    // The milliseconds it has moved on since it was made.
    long long Moved() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - start_).count(); }
    uint32_t StartTicks() const { return startTicks_; }
    long long StartCoarse() const { return startCoarse_; }
    std::time_t StartWall() const { return startWall_; }

private:
    TimePoint start_;
    std::atomic<TimePoint> now_;
    uint32_t startTicks_;
    long long startCoarse_;
    std::time_t startWall_;
};

// The user's short date (%x) and time (%X) in the locale the environment
// names, without touching the process's own locale. Return the length written.
size_t FormatLocalDate(const std::tm& time, char* buffer, size_t size);
size_t FormatLocalTime(const std::tm& time, char* buffer, size_t size);

}  // namespace os
