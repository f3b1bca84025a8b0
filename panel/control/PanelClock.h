#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

#include <memory>

namespace platform {
class ManualTime;
}

class PanelTimer;

// The clock the control panel's periodic work runs by: the statistics tick,
// the rules file's retry, the interceptor's supervision, the away notice and
// the Protection page's refresh. Its time is the firewall's one clock
// (platform::MonotonicNow, which zelconn's loop runs by too); in tests a
// clock that stands still until it is moved (a platform::ManualTime),
// firing what falls due on the way, so that a test never waits for time to
// pass.
class PanelClock : public QObject {
    Q_OBJECT
public:
    ~PanelClock() override;
    static PanelClock& Instance();

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
    PanelClock();
    friend class PanelTimer;
    void Register(PanelTimer* timer);

    std::unique_ptr<platform::ManualTime> manual_;
    QVector<QPointer<PanelTimer>> timers_;
};
