#include "control/PanelTimer.h"

#include "control/PanelClock.h"

#include <QTimer>

PanelTimer::PanelTimer(QObject* parent, int intervalMs, bool singleShot)
    : QObject(parent), interval_(intervalMs), singleShot_(singleShot)
{
}

void PanelTimer::setInterval(int ms)
{
    interval_ = ms;
    if (timer_)
        timer_->setInterval(ms);
}

void PanelTimer::setSingleShot(bool singleShot)
{
    singleShot_ = singleShot;
    if (timer_)
        timer_->setSingleShot(singleShot);
}

void PanelTimer::start() { start(interval_); }

void PanelTimer::start(int ms)
{
    // As a QTimer started with a delay: the delay is its interval from now on.
    interval_ = ms;
    if (PanelClock::Instance().Manual()) {
        if (timer_)
            timer_->stop();
        active_ = true;
        due_ = PanelClock::Instance().Now() + ms;
        PanelClock::Instance().Register(this);
        return;
    }
    if (!timer_) {
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &PanelTimer::timeout);
    }
    timer_->setSingleShot(singleShot_);
    timer_->start(ms);
}

void PanelTimer::stop()
{
    if (timer_)
        timer_->stop();
    active_ = false;
}

bool PanelTimer::isActive() const { return active_ || (timer_ && timer_->isActive()); }
