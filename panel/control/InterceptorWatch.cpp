#include "panel/control/InterceptorWatch.h"

#include "gui/Clock.h"
#include "gui/Timer.h"
#include "panel/core/InterceptorLibrary.h"

#include <QSocketNotifier>

#include <algorithm>
#include <unistd.h>

namespace panel {

InterceptorWatch::InterceptorWatch(QObject* parent) : QObject(parent)
{
    check_ = new gui::Timer(this, 1000);
    connect(check_, &gui::Timer::timeout, this, &InterceptorWatch::Ended);
    restart_ = new gui::Timer(this, 0, true);
    connect(restart_, &gui::Timer::timeout, this, &InterceptorWatch::Restart);
}

InterceptorWatch::~InterceptorWatch() { StopWatching(); }

void InterceptorWatch::Watch()
{
    StopWatching();
    if (!library_ || stopped_)
        return;
    // Only one that ran is kept running: without the library there is none.
    const pid_t running = library_->RunningPid();
    if (running == 0 && watched_ == 0)
        return;
    if (running != 0)
        watched_ = running;
    if (const int fd = library_->WatchEnd(); fd >= 0) {
        end_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(end_, &QSocketNotifier::activated, this, &InterceptorWatch::Ended);
        return;
    }
    check_->start();
}

void InterceptorWatch::Stop()
{
    stopped_ = true;
    StopWatching();
    restart_->stop();
}

void InterceptorWatch::StopWatching()
{
    if (end_) {
        const int fd = static_cast<int>(end_->socket());
        delete end_;
        end_ = nullptr;
        ::close(fd);
    }
    check_->stop();
}

void InterceptorWatch::Ended()
{
    const pid_t running = library_ ? library_->RunningPid() : 0;
    if (running != 0 && running == watched_)
        return; // looked at by the clock: still there
    StopWatching();
    if (running != 0) {
        Watch(); // another one took over
        return;
    }
    // One that keeps ending at once is not started again in a tight loop;
    // one that cannot be started is tried less and less often.
    const bool soon = gui::Clock::Instance().Now() - startedAt_ < 10000;
    const int delay = failures_ > 0 ? std::min(60000, 1000 << std::min(failures_, 6)) : soon ? 1000 : 0;
    restart_->start(delay);
}

void InterceptorWatch::Restart()
{
    if (!library_ || stopped_)
        return;
    startedAt_ = gui::Clock::Instance().Now();
    const bool started = (failures_ == 0 ? library_->Restart(watched_) : library_->StartListen()) == 0;
    failures_ = started ? 0 : failures_ + 1;
    if (started) {
        emit Restarted();
        Watch();
    } else {
        Ended();
    }
}

}  // namespace panel
