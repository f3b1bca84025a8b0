#include "control/PanelClock.h"

#include "control/PanelTimer.h"
#include "platform/Clock.h"

#include <chrono>
#include <limits>

PanelClock& PanelClock::Instance()
{
    static PanelClock clock;
    return clock;
}

PanelClock::PanelClock() = default;
PanelClock::~PanelClock() = default;

qint64 PanelClock::Now() const
{
    static const platform::TimePoint started = platform::MonotonicNow();
    return std::chrono::duration_cast<std::chrono::milliseconds>(platform::MonotonicNow() - started).count();
}

void PanelClock::UseManualTime()
{
    if (manual_)
        return;
    Now(); // the origin is taken in real time
    manual_ = std::make_unique<platform::ManualTime>();
}

void PanelClock::UseRealTime()
{
    manual_.reset();
    for (const QPointer<PanelTimer>& timer : timers_)
        if (timer)
            timer->active_ = false;
    timers_.clear();
}

void PanelClock::Register(PanelTimer* timer)
{
    if (!timers_.contains(timer))
        timers_.append(timer);
}

void PanelClock::Advance(qint64 ms)
{
    if (!manual_)
        return;
    const qint64 target = Now() + ms;
    const auto moveTo = [this](qint64 when) { manual_->Advance(std::chrono::milliseconds(when - Now())); };
    for (int fired = 0; fired < 100000; ++fired) {
        PanelTimer* next = nullptr;
        qint64 due = std::numeric_limits<qint64>::max();
        timers_.removeAll(nullptr);
        for (const QPointer<PanelTimer>& timer : timers_)
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
