#pragma once

#include <QElapsedTimer>
#include <QTest>

#include <functional>

namespace testing_support {

// Runs the event loop until done() holds, for at most milliseconds: true
// when it came to hold.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 3000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QTest::qWait(10);
    return done();
}

}  // namespace testing_support
