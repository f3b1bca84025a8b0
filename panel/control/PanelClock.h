#pragma once

#include <QObject>
#include <QPointer>
#include <QVector>

class PanelTimer;

// The clock the control panel's periodic work runs by: the statistics tick,
// the rules file's retry, the interceptor's supervision and the Protection
// page's refresh. Real time; or, in tests, a clock that stands still until
// it is moved, firing what falls due on the way, so that a test never
// waits for time to pass.
class PanelClock : public QObject {
    Q_OBJECT
public:
    static PanelClock& Instance();

    // Milliseconds on a monotonic clock.
    qint64 Now() const;
    // Tests: time stands still from now on, and moves by Advance; timers
    // started from then on run by it. UseRealTime goes back.
    void UseManualTime();
    void UseRealTime();
    bool Manual() const { return manual_; }
    // Moves the time on by ms, firing each timer that falls due, in the
    // order they fall due (manual time only).
    void Advance(qint64 ms);

private:
    friend class PanelTimer;
    void Register(PanelTimer* timer);

    bool manual_ = false;
    qint64 now_ = 0;
    QVector<QPointer<PanelTimer>> timers_;
};
