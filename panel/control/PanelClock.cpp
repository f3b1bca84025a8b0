#include "control/PanelClock.h"

#include "control/PanelTimer.h"

#include <QElapsedTimer>

#include <limits>

PanelClock& PanelClock::Instance()
{
    static PanelClock clock;
    return clock;
}

qint64 PanelClock::Now() const
{
    if (manual_)
        return now_;
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

void PanelClock::UseManualTime()
{
    if (manual_)
        return;
    now_ = Now();
    manual_ = true;
}

void PanelClock::UseRealTime()
{
    manual_ = false;
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
    const qint64 target = now_ + ms;
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
        now_ = due;
        if (next->singleShot_)
            next->active_ = false;
        else
            next->due_ = due + std::max(next->interval_, 1);
        emit next->timeout();
    }
    now_ = target;
}
