#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>

namespace os {
class ManualTime;
}

namespace gui {

class Timer;

// The clock the Qt programs' periodic work runs by: in the control panel
// the statistics tick, the rules file's retry, the interceptor's
// supervision, the away notice and the Protection page's refresh; in the
// alert the "alive" beat, the questions' time-outs, the linger and the look
// at the screen. Its time is the firewall's one clock (os::MonotonicNow,
// which zelconn's loop runs by too); in tests a clock that stands still
// until it is moved (an os::ManualTime), firing what falls due on the way,
// so that a test never waits for time to pass.
class Clock : public QObject {
    Q_OBJECT
public:
    ~Clock() override;
    static Clock& Instance();

    // Milliseconds on a monotonic clock.
    qint64 Now() const;
    // Tests: time stands still from now on, and moves by Advance; timers
    // started from then on run by it. UseRealTime goes back.
    void UseManualTime();
    void UseRealTime();
    bool Manual() const { return manual_ != nullptr; }
    // Moves the time on by ms, firing each timer that falls due, in the
    // order they fall due (manual time only).
    void Advance(qint64 ms);

private:
    Clock();
    friend class Timer;
    void Register(Timer* timer);

    std::unique_ptr<os::ManualTime> manual_;
    QVector<QPointer<Timer>> timers_;
};

// While one lives, the clock stands still and moves only by Advance (tests).
class ManualClock {
public:
    ManualClock() { Clock::Instance().UseManualTime(); }
    ~ManualClock() { Clock::Instance().UseRealTime(); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;
    void Advance(qint64 ms) { Clock::Instance().Advance(ms); }
};

}  // namespace gui
