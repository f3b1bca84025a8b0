#include "gui/Clock.h"

#include "gui/Timer.h"
#include "os/Clock.h"

#include <chrono>
#include <limits>

namespace gui {

Clock& Clock::Instance()
{
    static Clock clock;
    return clock;
}

Clock::Clock() = default;
Clock::~Clock() = default;

qint64 Clock::Now() const
{
    static const os::TimePoint started = os::MonotonicNow();
    return std::chrono::duration_cast<std::chrono::milliseconds>(os::MonotonicNow() - started).count();
}

void Clock::UseManualTime()
{
    if (manual_)
        return;
    Now(); // the origin is taken in real time
    manual_ = std::make_unique<os::ManualTime>();
}

void Clock::UseRealTime()
{
    manual_.reset();
    for (const QPointer<Timer>& timer : timers_)
        if (timer)
            timer->active_ = false;
    timers_.clear();
}

void Clock::Register(Timer* timer)
{
    if (!timers_.contains(timer))
        timers_.append(timer);
}

void Clock::Advance(qint64 ms)
{
    if (!manual_)
        return;
    const qint64 target = Now() + ms;
    const auto moveTo = [this](qint64 when) { manual_->Advance(std::chrono::milliseconds(when - Now())); };
    for (int fired = 0; fired < 100000; ++fired) {
        Timer* next = nullptr;
        qint64 due = std::numeric_limits<qint64>::max();
        timers_.removeAll(nullptr);
        for (const QPointer<Timer>& timer : timers_)
            if (timer && timer->active_ && timer->due_ <= target && timer->due_ < due) {
                next = timer;
                due = timer->due_;
            }
        if (!next)
            break;
        if (due > Now())
            moveTo(due);
        if (next->singleShot_)
            next->active_ = false;
        else
            next->due_ = due + std::max(next->interval_, 1);
        emit next->timeout();
    }
    moveTo(target);
}

}  // namespace gui
