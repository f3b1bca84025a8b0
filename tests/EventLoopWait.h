#pragma once

#include "tests/EventWait.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace testing_support {

// Runs the event loop until done() holds, for at most milliseconds: true
// when it came to hold. done() is looked at again after each event the
// loop handles, and, given wake (a descriptor such as a ProcessDescriptor),
// when it turns readable: nothing is slept.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 3000, int wake = -1)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(milliseconds);
    std::unique_ptr<QSocketNotifier> woken;
    if (wake >= 0)
        woken = std::make_unique<QSocketNotifier>(wake, QSocketNotifier::Read);
    QAbstractEventDispatcher* dispatcher = QCoreApplication::eventDispatcher();
    // done() is asked once per wake: it may take what it looks for (a child reaped).
    bool held = done();
    while (!held && deadline.isActive()) {
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        held = done();
    }
    return held;
}

inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit, int wake = -1)
{
    return WaitUntil(done, static_cast<int>(limit.count()), wake);
}

}  // namespace testing_support
