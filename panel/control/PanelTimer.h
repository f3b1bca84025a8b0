#pragma once

#include <QObject>

class QTimer;

// A timer on the panel's clock: a QTimer in real time; fired by
// PanelClock::Advance in manual time.
class PanelTimer : public QObject {
    Q_OBJECT
public:
    explicit PanelTimer(QObject* parent, int intervalMs = 0, bool singleShot = false);

    void setInterval(int ms);
    int interval() const { return interval_; }
    void setSingleShot(bool singleShot);
    void start();
    void start(int ms);
    void stop();
    bool isActive() const;

signals:
    void timeout();

private:
    friend class PanelClock;
    int interval_;
    bool singleShot_;
    QTimer* timer_ = nullptr; // in real time, made when first started
    bool active_ = false;     // in manual time
    qint64 due_ = 0;
};
