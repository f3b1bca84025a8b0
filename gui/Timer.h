#pragma once

#include <QObject>

class QTimer;

namespace gui {

// A timer on the panel's clock: a QTimer in real time; fired by
// Clock::Advance in manual time.
class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent, int intervalMs = 0, bool singleShot = false);

    void setInterval(int ms);
    int interval() const { return interval_; }
    void setSingleShot(bool singleShot);
    // Qt::PreciseTimer for a delay that must never end early (real time).
    void setTimerType(Qt::TimerType type);
    void start();
    void start(int ms);
    void stop();
    bool isActive() const;

signals:
    void timeout();

private:
    friend class Clock;
    int interval_;
    bool singleShot_;
    Qt::TimerType type_ = Qt::CoarseTimer;
    QTimer* timer_ = nullptr; // in real time, made when first started
    bool active_ = false;     // in manual time
    qint64 due_ = 0;
};

}  // namespace gui
