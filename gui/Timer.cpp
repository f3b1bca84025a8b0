#include "gui/Timer.h"

#include "gui/Clock.h"

#include <QTimer>

namespace gui {

Timer::Timer(QObject* parent, int intervalMs, bool singleShot)
    : QObject(parent), interval_(intervalMs), singleShot_(singleShot)
{
}

void Timer::setInterval(int ms)
{
    interval_ = ms;
    if (timer_)
        timer_->setInterval(ms);
}

void Timer::setSingleShot(bool singleShot)
{
    singleShot_ = singleShot;
    if (timer_)
        timer_->setSingleShot(singleShot);
}

void Timer::setTimerType(Qt::TimerType type)
{
    type_ = type;
    if (timer_)
        timer_->setTimerType(type);
}

void Timer::start() { start(interval_); }

void Timer::start(int ms)
{
    // As a QTimer started with a delay: the delay is its interval from now on.
    interval_ = ms;
    if (Clock::Instance().Manual()) {
        if (timer_)
            timer_->stop();
        active_ = true;
        due_ = Clock::Instance().Now() + ms;
        Clock::Instance().Register(this);
        return;
    }
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setTimerType(type_);
        connect(timer_, &QTimer::timeout, this, &Timer::timeout);
    }
    timer_->setSingleShot(singleShot_);
    timer_->start(ms);
}

void Timer::stop()
{
    if (timer_)
        timer_->stop();
    active_ = false;
}

bool Timer::isActive() const { return active_ || (timer_ && timer_->isActive()); }

}  // namespace gui
