#pragma once

#include <chrono>

// The one clock the firewall's own periodic work runs by: zelconn's loop
// (interceptor/LoopSchedule) and the control panel's timers
// (panel/control/PanelClock). Real monotonic time, unless a test has put a
// ManualTime in its place: that time stands still until the test moves it,
// so that a test never waits for time to pass.
namespace platform {

using TimePoint = std::chrono::steady_clock::time_point;

TimePoint MonotonicNow();

// While one lives, MonotonicNow is its time (one at a time, tests only).
class ManualTime {
public:
    ManualTime();  // from the real time now
    ~ManualTime(); // real time again
    ManualTime(const ManualTime&) = delete;
    ManualTime& operator=(const ManualTime&) = delete;

    TimePoint Now() const { return now_; }
    void Advance(std::chrono::milliseconds by) { now_ += by; }

private:
    TimePoint now_;
};

}  // namespace platform
