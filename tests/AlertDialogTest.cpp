// The alert window under the offscreen platform.
#include "AlertDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

AlertContent Content(bool outgoing)
{
    AlertContent content;
    content.caption = "TOOL.EXE - TCP Connection Alert!";
    content.message = "TOOL.EXE created by Unknown is trying to accept TCP incoming connection from host1 through port:139";
    content.checkBox = "Apply my decision to all TOOL.EXE incoming traffic";
    content.peer = "host1";
    content.outgoing = outgoing;
    return content;
}

template <typename T>
T* Child(QWidget& dialog, const char* name)
{
    T* child = dialog.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

std::vector<std::pair<int, QString>> Animate(AlertDialog& dialog, int steps)
{
    std::vector<std::pair<int, QString>> seen;
    for (int i = 0; i < steps; ++i) {
        const int step = dialog.Step();
        dialog.AdvanceArrow();
        seen.emplace_back(step, dialog.VisibleArrow());
    }
    return seen;
}

}  // namespace

TEST(AlertWindow, ShowsItsTextsWithOnlyTheLeftArrow)
{
    AlertDialog dialog(Content(false));
    EXPECT_EQ(dialog.windowTitle(), "TOOL.EXE - TCP Connection Alert!");
    EXPECT_EQ(Child<QLabel>(dialog, "1004")->text(), Content(false).message);
    EXPECT_EQ(Child<QLabel>(dialog, "1008")->text(), "host1");
    EXPECT_EQ(Child<QCheckBox>(dialog, "1009")->text(), Content(false).checkBox);
    EXPECT_FALSE(Child<QCheckBox>(dialog, "1009")->isChecked());
    EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "Allow");
    EXPECT_TRUE(Child<QPushButton>(dialog, "1")->isDefault());
    EXPECT_EQ(Child<QPushButton>(dialog, "2")->text(), "Block");
    for (const char* icon : {"1002", "1003", "1005"})
        EXPECT_FALSE(Child<QLabel>(dialog, icon)->pixmap().isNull()) << icon;
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.VisibleArrow(), "1007");
    EXPECT_EQ(dialog.Step(), 3);
}

// A description from a desktop entry or a peer's name could hold markup that
// hides the port or fakes a look: every text shows as it stands.
TEST(AlertWindow, TextsShowAsTheyStandNeverAsMarkup)
{
    AlertContent content = Content(true);
    content.message = "<b>Trusted</b> <font color=white>created by R&amp;D</font> is trying to connect through port:22";
    content.peer = "<img src=x>peer";
    content.checkBox = "Apply my decision to all R&D Tool outgoing traffic";
    AlertDialog dialog(content);
    for (const char* name : {"1004", "1008", "myComputerLabel"})
        EXPECT_EQ(Child<QLabel>(dialog, name)->textFormat(), Qt::PlainText) << name;
    EXPECT_EQ(Child<QLabel>(dialog, "1004")->text(), content.message);
    EXPECT_EQ(Child<QLabel>(dialog, "1008")->text(), content.peer);
    // "&" would turn the next letter into a shortcut and vanish from the text.
    EXPECT_EQ(Child<QCheckBox>(dialog, "1009")->text(), "Apply my decision to all R&&D Tool outgoing traffic");
}

TEST(AlertWindow, OutgoingArrowWalksTowardsTheRemoteParty)
{
    AlertDialog dialog(Content(true));
    const auto seen = Animate(dialog, 4);
    const std::vector<std::pair<int, QString>> expected = {{3, "1001"}, {2, "1006"}, {1, "1007"}, {3, "1001"}};
    EXPECT_EQ(seen, expected);
}

TEST(AlertWindow, IncomingArrowWalksTowardsTheLocalComputer)
{
    AlertDialog dialog(Content(false));
    const auto seen = Animate(dialog, 4);
    const std::vector<std::pair<int, QString>> expected = {{3, "1006"}, {1, "1001"}, {2, "1007"}, {3, "1006"}};
    EXPECT_EQ(seen, expected);
}

TEST(AlertWindow, SlidesInFromBelowTheBottomRightCornerThenAnimates)
{
    AlertDialog dialog(Content(true));
    dialog.Start();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(dialog.geometry().right(), screen.right());
    EXPECT_GT(dialog.geometry().top(), screen.bottom());
    EXPECT_TRUE(dialog.IsSliding());
    QElapsedTimer timer;
    timer.start();
    while (dialog.IsSliding() && timer.elapsed() < 5000)
        QTest::qWait(20);
    EXPECT_FALSE(dialog.IsSliding());
    EXPECT_TRUE(dialog.IsAnimating());
    EXPECT_LE(dialog.geometry().bottom(), screen.bottom());
    EXPECT_GT(dialog.geometry().bottom(), screen.bottom() - AlertDialog::kSlideStepPixels);
    EXPECT_EQ(dialog.geometry().right(), screen.right());
    // 263 pixels at 20 per 50 ms: about 0.7 s.
    EXPECT_GE(timer.elapsed(), 500);
}

TEST(AlertWindow, EnterAllowsEscapeBlocksAndThePressRequestAnswers)
{
    struct Case {
        const char* name;
        std::function<void(AlertDialog&)> act;
        int button;
        bool ticked;
    };
    const Case cases[] = {
        {"enter", [](AlertDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }, 1, false},
        {"escape", [](AlertDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, 2, false},
        {"press 2 ticked", [](AlertDialog& d) { d.findChild<QCheckBox*>("1009")->setChecked(true); d.Press(2); }, 2, true},
        {"click allow", [](AlertDialog& d) { QTest::mouseClick(d.findChild<QPushButton*>("1"), Qt::LeftButton); }, 1, false},
        {"press 1", [](AlertDialog& d) { d.Press(7); d.Press(1); }, 1, false},
    };
    for (const Case& c : cases) {
        AlertDialog dialog(Content(true));
        QSignalSpy answered(&dialog, &AlertDialog::Answered);
        dialog.Start();
        QApplication::setActiveWindow(&dialog);
        c.act(dialog);
        ASSERT_EQ(answered.count(), 1) << c.name;
        EXPECT_EQ(answered.at(0).at(0).toInt(), c.button) << c.name;
        EXPECT_EQ(answered.at(0).at(1).toBool(), c.ticked) << c.name;
        EXPECT_EQ(dialog.result(), c.button) << c.name;
        dialog.Press(1); // a second answer is ignored
        EXPECT_EQ(answered.count(), 1) << c.name;
    }
}

TEST(AlertWindow, UnansweredAlertBlocksWhenItsTimeRunsOutUnlessTheUserIsThere)
{
    AlertContent content = Content(true);
    EXPECT_EQ(AlertDialog(content).findChild<QLabel*>("timeLeft"), nullptr); // no time-out: waits

    content.timeoutSeconds = 2;
    AlertDialog dialog(content);
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.Start();
    auto* timeLeft = dialog.findChild<QLabel*>("timeLeft");
    ASSERT_NE(timeLeft, nullptr);
    EXPECT_EQ(timeLeft->text(), "Block in 2 s");
    dialog.findChild<QCheckBox*>("1009")->setChecked(true); // not by the user's hand
    dialog.CountDown();
    EXPECT_EQ(timeLeft->text(), "Block in 1 s");
    EXPECT_EQ(answered.count(), 0);
    dialog.CountDown();
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered.at(0).at(0).toInt(), AlertDialog::kBlock);
    EXPECT_FALSE(answered.at(0).at(1).toBool()); // never applied to all
    EXPECT_TRUE(dialog.TimedOut());

    // The user clicking the box is there: the count stops.
    AlertDialog present(content);
    QSignalSpy presentAnswered(&present, &AlertDialog::Answered);
    present.Start();
    QTest::mouseClick(present.findChild<QCheckBox*>("1009"), Qt::LeftButton, {}, QPoint(5, 5));
    present.CountDown();
    present.CountDown();
    EXPECT_EQ(presentAnswered.count(), 0);
    EXPECT_FALSE(present.TimedOut());
    EXPECT_TRUE(present.findChild<QLabel*>("timeLeft")->isHidden());
}

// A named outgoing peer adds "this host only", which means something only
// once the answer applies beyond this connection.
TEST(AlertWindow, OffersTheNamedHostOnlyWhenTheAnswerIsAppliedToAll)
{
    AlertContent content = Content(false);
    content.host = "api.example.org";
    EXPECT_EQ(AlertDialog(content).findChild<QCheckBox*>("1010"), nullptr); // incoming: no name
    EXPECT_EQ(AlertDialog(Content(true)).findChild<QCheckBox*>("1010"), nullptr);

    content.outgoing = true;
    AlertDialog dialog(content);
    auto* hostOnly = Child<QCheckBox>(dialog, "1010");
    auto* applyToAll = Child<QCheckBox>(dialog, "1009");
    ASSERT_TRUE(hostOnly && applyToAll);
    EXPECT_EQ(hostOnly->text(), "Only for connections to api.example.org");
    EXPECT_GT(dialog.height(), AlertDialog(Content(true)).height());
    EXPECT_GT(Child<QPushButton>(dialog, "1")->geometry().top(), hostOnly->geometry().bottom());
    EXPECT_FALSE(hostOnly->isEnabled());
    hostOnly->setChecked(true);
    EXPECT_FALSE(dialog.HostOnly());
    applyToAll->setChecked(true);
    EXPECT_TRUE(hostOnly->isEnabled());
    EXPECT_TRUE(dialog.HostOnly());
    applyToAll->setChecked(false);
    EXPECT_FALSE(dialog.HostOnly());

    // A long name is cut in its middle, whole in the tip.
    content.host = QString(60, 'a') + ".tracker." + QString(60, 'b') + ".example";
    AlertDialog longName(content);
    const QString shown = Child<QCheckBox>(longName, "1010")->text();
    EXPECT_LT(shown.size(), content.host.size());
    EXPECT_TRUE(shown.endsWith("example"));
    EXPECT_TRUE(Child<QCheckBox>(longName, "1010")->toolTip().endsWith(content.host));
}

TEST(AlertProgram, AnswersOnItsOutputAndFailsFastWithoutADisplay)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    QElapsedTimer started;
    started.start();
    program.start(ZEL_ALERT, {});
    ASSERT_TRUE(program.waitForStarted(5000));
    program.write("caption\tA - TCP Connection Alert!\nmessage\tline one\\nline two\npeer\thost1\n"
                  "direction\tincoming\nend\n");
    ASSERT_TRUE(program.waitForReadyRead(5000));
    QByteArray output = program.readLine();
    EXPECT_EQ(output, "shown\n");
    RecordProperty("alert_visible_ms", std::to_string(started.elapsed()));
    std::printf("alert window shown %lld ms after the start\n", static_cast<long long>(started.elapsed()));
    program.write("press 1\n");
    ASSERT_TRUE(program.waitForFinished(5000));
    output += program.readAll();
    EXPECT_EQ(output, "shown\nanswer 1 0\n");

    QProcess headless;
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(name);
    headless.setProcessEnvironment(bare);
    QElapsedTimer timer;
    timer.start();
    headless.start(ZEL_ALERT, {});
    ASSERT_TRUE(headless.waitForFinished(5000));
    EXPECT_NE(headless.exitCode(), 0);
    EXPECT_TRUE(headless.readAllStandardOutput().isEmpty());
    EXPECT_LT(timer.elapsed(), 2000);
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
