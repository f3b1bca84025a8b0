#pragma once

#include "panel/core/PanelCore.h"
#include "panel/core/TrafficStats.h"

#include <QObject>

#include <string>
#include <vector>

namespace gui {
class Timer;
}

namespace panel {

class MessageChannel;

// What the side column shows and what runs on the panel's clock: every
// second the traffic rates (the amounts the interceptor posts) and the
// carriers remembered; every few seconds which of today's started programs
// still run; every half minute the rest (HalfMinute).
class PeriodicWork : public QObject {
    Q_OBJECT
public:
    PeriodicWork(panel::PanelCore& core, MessageChannel* channel, QObject* parent);

    void Start();
    int Interval() const;
    // The programs started today and still running, the intruders blocked
    // today, and the programs on an engine replaced since they started.
    void Refresh();
    // The profile in force as last shown (escaped; empty: none).
    QString ProfileName() const { return QString::fromStdString(profile_); }

signals:
    void Traffic(const panel::TrafficStats::Tick& tick);
    void Running(const std::vector<std::string>& paths);
    void BlockedIntruders(int count);
    // The name of the profile in force (empty: none), escaped; at a change.
    void Profile(const QString& name);
    void ReplacedEngine(const std::vector<std::string>& names);
    void HalfMinute();

private:
    void Tick();
    void LookAtProfile();

    panel::PanelCore& core_;
    MessageChannel* channel_;
    gui::Timer* tick_;
    panel::TrafficStats traffic_;
    int ticks_ = 0;
    // The programs today's log says were started and were running at the last look.
    std::vector<std::string> startedRunning_;
    std::string profile_;
    bool profileShown_ = false;
};

}  // namespace panel
