#pragma once

#include <QObject>

#include <sys/types.h>

class QSocketNotifier;
namespace gui {
class Timer;
}

namespace panel {

class InterceptorLibrary;

// Keeps the interceptor's process (zelconn) running while the panel runs:
// when it ends it is logged and started again at once (after a second when
// it ended soon after its start, less and less often when starting fails).
// Costs nothing while it runs: the kernel tells of its end (a pidfd), or,
// where the system cannot, a look once a second.
class InterceptorWatch : public QObject {
    Q_OBJECT
public:
    explicit InterceptorWatch(QObject* parent);
    ~InterceptorWatch() override;

    // The library that starts and stops it; the watch starts with Watch.
    void SetLibrary(panel::InterceptorLibrary* library) { library_ = library; }
    // Watches the process that runs now, or the last one that ran.
    void Watch();
    // No more starting: the panel ends.
    void Stop();

signals:
    // A new process runs: what was published meanwhile is to reach it.
    void Restarted();

private:
    void StopWatching();
    void Ended();
    void Restart();

    panel::InterceptorLibrary* library_ = nullptr;
    QSocketNotifier* end_ = nullptr;
    gui::Timer* check_;
    gui::Timer* restart_;
    pid_t watched_ = 0;
    qint64 startedAt_ = -(qint64(1) << 40); // long ago: a first end is no quick end
    int failures_ = 0;
    bool stopped_ = false;
};

}  // namespace panel
