// Whether anyone can see the alerts, asked of a screen saver on a session
// bus of the test's own (served by this process, so its event loop runs
// while the test waits).
#include "alert/ScreenPresence.h"
#include "gui/Clock.h"
#include "tests/ChildProcess.h"
#include "tests/EventLoopWait.h"
#include "tests/PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

using alert::ScreenPresence;

using testing_support::ChildProcess;
using testing_support::WaitUntil;

// org.freedesktop.ScreenSaver's GetActive, answering what the test says.
class ScreenSaver : public QDBusVirtualObject {
public:
    bool active = false;
    int asked = 0;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != "org.freedesktop.ScreenSaver" || message.member() != "GetActive")
            return false;
        ++asked;
        connection.send(message.createReply(QVariant(active)));
        return true;
    }
};

class Presence : public testing::Test {
protected:
    testing_support::PrivateSessionBus bus {"screen-saver"};
    ScreenSaver saver;

    void SetUp() override
    {
        if (!bus.Available())
            GTEST_SKIP() << "no /usr/bin/dbus-daemon (Debian package dbus-daemon)";
        QDBusConnection service = bus.Services();
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/ScreenSaver", &saver));
        ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
    }
};

}  // namespace

TEST_F(Presence, ALockedScreenMeansNobodyIsThereUntilItUnlocks)
{
    constexpr int kIntervalMs = 100;
    gui::ManualClock clock;
    ScreenPresence presence(nullptr, kIntervalMs);
    QSignalSpy changes(&presence, &ScreenPresence::Changed);
    // Its questions on their way: each waits for its answer in a watcher of its own.
    const auto asking = [&] { return !presence.findChildren<QDBusPendingCallWatcher*>().isEmpty(); };
    presence.Watch(true);
    ASSERT_TRUE(WaitUntil([this] { return saver.asked >= 1; }));
    ASSERT_TRUE(WaitUntil([&] { return !asking(); }));
    EXPECT_FALSE(presence.Away());
    saver.active = true;
    clock.Advance(kIntervalMs);
    EXPECT_TRUE(asking());
    ASSERT_TRUE(WaitUntil([&] { return presence.Away(); }));
    ASSERT_EQ(changes.count(), 1);
    EXPECT_TRUE(changes.at(0).at(0).toBool());
    saver.active = false;
    clock.Advance(kIntervalMs);
    EXPECT_TRUE(WaitUntil([&] { return !presence.Away(); }));
    // Not watching, nothing is asked.
    ASSERT_TRUE(WaitUntil([&] { return !asking(); }));
    presence.Watch(false);
    const int asked = saver.asked;
    clock.Advance(kIntervalMs * 3);
    EXPECT_FALSE(asking());
    EXPECT_EQ(saver.asked, asked);
}

// The alert program on a locked screen: the question shows, and the away
// setting its engine sent answers it after its seconds.
TEST_F(Presence, AlertProgramOnALockedScreenAnswersWithTheAwaySetting)
{
    saver.active = true;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(ZEL_ALERT, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    program.write("caption\tA - TCP Connection Alert!\npeer\thost1\ndirection\toutgoing\npath\t/usr/bin/a\npid\t77\n"
                  "away\t1 1\nend\n");
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    // The event loop runs meanwhile: this process answers for the screen saver.
    WaitUntil([&] {
        output += program.readAllStandardOutput();
        return output.contains("answer");
    }, 8000);
    EXPECT_TRUE(output.contains("shown\n")) << output.toStdString();
    EXPECT_TRUE(output.endsWith("answer 1 0 away\n")) << output.toStdString();
    EXPECT_GE(waited.elapsed(), 900);
    EXPECT_GT(saver.asked, 0);
    // It ends once nothing is left to ask (it may have already).
    EXPECT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(5000));
    EXPECT_EQ(program.exitCode(), 0);
}
