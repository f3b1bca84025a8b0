// The alert window under the offscreen platform.
#include "alert/AlertDialog.h"
#include "gui/Clock.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTranslator>
#include <QWheelEvent>
#include <functional>
#include <gtest/gtest.h>

namespace {

using alert::AlertContent;
using alert::AlertDialog;


AlertContent Content(bool outgoing)
{
    AlertContent content;
    content.caption = "TOOL.EXE - TCP Connection Alert!";
    content.message = "TOOL.EXE created by Unknown is trying to accept TCP incoming connection from host1 through port:139";
    content.checkBox = "Apply my decision to all TOOL.EXE incoming traffic";
    content.peer = "host1";
    content.outgoing = outgoing;
    content.path = "/usr/lib/git-core/git-remote-http";
    content.pid = 4242;
    content.user = "alice (1000)";
    content.commandLine = "git-remote-http origin https://example.org/repo.git";
    content.parentPid = 4240;
    content.parentPath = "/usr/bin/git";
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

// The arm delay passed on the clock: armed then, and not a millisecond before.
bool ArmedAfterTheDelay(gui::ManualClock& clock, const AlertDialog& dialog)
{
    clock.Advance(AlertDialog::kArmDelayMs - 1);
    if (dialog.IsArmed())
        return false;
    clock.Advance(1);
    return dialog.IsArmed();
}

}  // namespace

TEST(AlertWindow, ShowsItsTextsWithOnlyTheLeftArrow)
{
    AlertDialog dialog(Content(false));
    EXPECT_EQ(dialog.windowTitle(), "TOOL.EXE - TCP Connection Alert!");
    EXPECT_EQ(Child<QLabel>(dialog, "1004")->text(), Content(false).message);
    EXPECT_EQ(Child<QLabel>(dialog, "1008")->text(), "host1");
    EXPECT_EQ(Child<QLabel>(dialog, "path")->text(), "/usr/lib/git-core/git-remote-http");
    // For this connection only unless chosen otherwise.
    EXPECT_EQ(dialog.ChosenLength(), AlertDialog::kOnce);
    EXPECT_FALSE(Child<QComboBox>(dialog, "1012")->isEnabled());
    // The captions as they were, with their keys marked.
    EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "&Allow");
    EXPECT_EQ(Child<QPushButton>(dialog, "2")->text(), "&Block");
    for (const char* icon : {"1002", "1003", "1005"})
        EXPECT_FALSE(Child<QLabel>(dialog, icon)->pixmap().isNull()) << icon;
    EXPECT_TRUE(dialog.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.VisibleArrow(), "1007");
    EXPECT_EQ(dialog.Step(), 3);
    EXPECT_TRUE(Child<QLabel>(dialog, "moreWaiting")->isHidden());
    EXPECT_TRUE(Child<QCheckBox>(dialog, "alsoWaiting")->isHidden());
    EXPECT_FALSE(dialog.DetailsShown());
}

// A description from a desktop entry, a path or a peer's name could hold
// markup that hides the port or fakes a look: every text shows as it stands,
// and characters that would hide or reorder a path are spelled out.
TEST(AlertWindow, TextsShowAsTheyStandNeverAsMarkup)
{
    AlertContent content = Content(true);
    content.message = "<b>Trusted</b> <font color=white>created by R&amp;D</font> is trying to connect through port:22";
    content.peer = "<img src=x>peer";
    content.checkBox = "Apply my decision to all R&D Tool outgoing traffic";
    content.path = QString("/tmp/<b>x</b>/evil") + QChar(0x202e) + "txt.sh";
    content.commandLine = "evil '<i>arg</i>'";
    AlertDialog dialog(content);
    for (const char* name : {"1004", "1008", "myComputerLabel", "path"})
        EXPECT_EQ(Child<QLabel>(dialog, name)->textFormat(), Qt::PlainText) << name;
    EXPECT_EQ(Child<QLabel>(dialog, "1004")->text(), content.message);
    EXPECT_EQ(Child<QLabel>(dialog, "1008")->text(), content.peer);
    EXPECT_EQ(Child<QLabel>(dialog, "path")->text(), "/tmp/<b>x</b>/evil\\u{202e}txt.sh");
    const QString details = Child<QPlainTextEdit>(dialog, "details")->toPlainText();
    EXPECT_TRUE(details.contains("Command line: evil '<i>arg</i>'")) << details.toStdString();
    EXPECT_TRUE(details.contains("\\u{202e}")) << details.toStdString();
    // Choices show their texts as they stand too (a combo box's items are plain).
    content.timedMinutes = 60;
    content.port = 22;
    dialog.SetQuestion(content);
    EXPECT_EQ(Child<QComboBox>(dialog, "1012")->itemText(0), content.peer + ", port 22");
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

TEST(AlertWindow, SlidesIntoTheBottomRightCornerOfTheAvailableAreaThenAnimates)
{
    gui::ManualClock clock;
    AlertDialog dialog(Content(true));
    dialog.Start();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(dialog.ScreenArea(), area);
    EXPECT_EQ(dialog.geometry().right(), area.right());
    EXPECT_GT(dialog.geometry().top(), area.bottom());
    EXPECT_TRUE(dialog.IsSliding());
    // About 300 pixels at 20 per 50 ms: about 0.75 s.
    clock.Advance(500);
    EXPECT_TRUE(dialog.IsSliding());
    EXPECT_GT(dialog.geometry().bottom(), area.bottom());
    clock.Advance(5000);
    EXPECT_FALSE(dialog.IsSliding());
    EXPECT_TRUE(dialog.IsAnimating());
    // It ends wholly inside, on the corner: never partly off the screen.
    EXPECT_EQ(dialog.geometry().bottom(), area.bottom());
    EXPECT_EQ(dialog.geometry().right(), area.right());
    EXPECT_TRUE(area.contains(dialog.geometry()));

    // Details open: the window grows upwards and stays inside.
    QTest::mouseClick(Child<QToolButton>(dialog, "detailsToggle"), Qt::LeftButton);
    EXPECT_TRUE(dialog.DetailsShown());
    EXPECT_TRUE(area.contains(dialog.geometry()));
    EXPECT_EQ(dialog.geometry().bottom(), area.bottom());
    const QRect details = Child<QPlainTextEdit>(dialog, "details")->geometry();
    EXPECT_GT(Child<QPushButton>(dialog, "1")->geometry().top(), details.bottom());
}

TEST(AlertWindow, DetailsNameTheProcessItsUserCommandLineAndWhoStartedIt)
{
    AlertDialog dialog(Content(true));
    const QString details = Child<QPlainTextEdit>(dialog, "details")->toPlainText();
    EXPECT_EQ(details.toStdString(),
              "Program: /usr/lib/git-core/git-remote-http\n"
              "Process: 4242, run by alice (1000)\n"
              "Command line: git-remote-http origin https://example.org/repo.git\n"
              "Started by: /usr/bin/git (process 4240)\n"
              "\n"
              "The program asking is git-remote-http, started by git. Your answer is for git-remote-http: a rule "
              "for git does not cover it.");
    // Started by a program of the same name, or by one that cannot be read:
    // nothing to warn about.
    AlertContent content = Content(true);
    content.parentPath = "/usr/lib/git-core/git-remote-http";
    EXPECT_TRUE(content.Details().endsWith("\nThe program asking is git-remote-http."));
    content.ancestors = {"/usr/bin/bash", ""};
    EXPECT_TRUE(content.Details().contains(QString::fromUtf8("Started by: /usr/lib/git-core/git-remote-http (process 4240) "
                                                             "\u2190 bash \u2190 ?\n")));
    content.ancestors.clear();
    content.parentPath.clear();
    EXPECT_TRUE(content.Details().contains("Started by: (process 4240)"));
    EXPECT_TRUE(content.Details().endsWith("\nThe program asking is git-remote-http."));
}

// Keys typed for another window must never answer: nothing answers until
// the user has chosen the alert, and then only once the question has shown
// for a moment. No key but A, B and Escape answers.
TEST(AlertWindow, NoKeyAnswersUntilTheUserHasChosenTheAlert)
{
    gui::ManualClock clock;
    struct Case {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int answer; // 0: none
    };
    const Case cases[] = {
        {"return", Qt::Key_Return, Qt::NoModifier, 0},
        {"enter", Qt::Key_Enter, Qt::KeypadModifier, 0},
        {"space", Qt::Key_Space, Qt::NoModifier, 0},
        {"ctrl+a selects, never allows", Qt::Key_A, Qt::ControlModifier, 0},
        {"a", Qt::Key_A, Qt::NoModifier, 1},
        {"alt+a", Qt::Key_A, Qt::AltModifier, 1},
        {"b", Qt::Key_B, Qt::NoModifier, 2},
        {"escape", Qt::Key_Escape, Qt::NoModifier, 2},
    };
    for (const Case& c : cases) {
        AlertDialog dialog(Content(true));
        QSignalSpy answered(&dialog, &AlertDialog::Answered);
        dialog.Start();
        // Focused as it appears, as a window manager that ignores the hint
        // would do: not the user's choice.
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog)) << c.name;
        ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog)) << c.name;
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Space, Qt::Key_A, Qt::Key_Escape, c.key})
            QTest::keyClick(&dialog, key, key == c.key ? c.modifiers : Qt::NoModifier);
        EXPECT_EQ(answered.count(), 0) << c.name;
        EXPECT_FALSE(dialog.IsChosen()) << c.name;
        // Clicked: chosen.
        QTest::mouseClick(Child<QLabel>(dialog, "1004"), Qt::LeftButton);
        EXPECT_TRUE(dialog.IsChosen()) << c.name;
        QTest::keyClick(&dialog, c.key, c.modifiers);
        ASSERT_EQ(answered.count(), c.answer ? 1 : 0) << c.name;
        if (c.answer) {
            EXPECT_EQ(answered.at(0).at(0).toInt(), c.answer) << c.name;
        }
    }
}

TEST(AlertWindow, SwitchingToTheAlertOnceItShowsChoosesIt)
{
    gui::ManualClock clock;
    AlertDialog dialog(Content(true));
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.Start();
    // The user works in another window while the alert shows...
    QWidget editor;
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    EXPECT_FALSE(dialog.IsChosen());
    // ...and then switches to it.
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    EXPECT_TRUE(dialog.IsChosen());
    QTest::keyClick(&dialog, Qt::Key_B);
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered.at(0).at(0).toInt(), AlertDialog::kBlock);
}

// A double click on Allow, or a key held down, must not answer the question
// that replaces the one answered: a new question waits a moment.
TEST(AlertWindow, ANewQuestionIgnoresAnswersForAMoment)
{
    gui::ManualClock clock;
    AlertDialog dialog(Content(true));
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.Start();
    auto* allow = Child<QPushButton>(dialog, "1");
    EXPECT_FALSE(allow->isEnabled());
    dialog.Press(AlertDialog::kAllow);
    EXPECT_EQ(answered.count(), 0);
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    EXPECT_TRUE(allow->isEnabled());
    QTest::mouseClick(allow, Qt::LeftButton);
    ASSERT_EQ(answered.count(), 1);
    dialog.Press(AlertDialog::kBlock); // a second answer is ignored
    EXPECT_EQ(answered.count(), 1);

    AlertContent next = Content(false);
    next.peer = "host2";
    dialog.SetQuestion(next);
    EXPECT_FALSE(dialog.IsArmed());
    QTest::mouseClick(allow, Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_A);
    EXPECT_EQ(answered.count(), 1);
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    QTest::keyClick(&dialog, Qt::Key_A); // chosen before: still chosen
    ASSERT_EQ(answered.count(), 2);
    EXPECT_EQ(answered.at(1).at(0).toInt(), AlertDialog::kAllow);
    EXPECT_EQ(dialog.result(), 0); // answering never closes the window: its owner decides
}

TEST(AlertWindow, TheWindowManagersCloseBlocks)
{
    AlertDialog dialog(Content(true));
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.Start();
    dialog.close();
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered.at(0).at(0).toInt(), AlertDialog::kBlock);
    EXPECT_EQ(answered.at(0).at(1).toInt(), AlertDialog::kOnce);
}

TEST(AlertWindow, ShowsHowManyWaitAndOffersTheSameAnswerForTheProgramsOwn)
{
    gui::ManualClock clock;
    AlertDialog dialog(Content(true));
    auto* more = Child<QLabel>(dialog, "moreWaiting");
    auto* also = Child<QCheckBox>(dialog, "alsoWaiting");
    const int plainHeight = dialog.height();
    dialog.SetWaiting(4, 3);
    EXPECT_FALSE(more->isHidden());
    EXPECT_EQ(more->text(), "4 more waiting");
    EXPECT_FALSE(also->isHidden());
    EXPECT_EQ(also->text(), "Also for the 3 &waiting from this program");
    EXPECT_GT(dialog.height(), plainHeight);
    EXPECT_GT(Child<QPushButton>(dialog, "1")->geometry().top(), also->geometry().bottom());
    EXPECT_GT(also->geometry().top(), Child<QComboBox>(dialog, "1012")->geometry().bottom());

    // Only another program's wait: the count, no offer.
    also->setChecked(true);
    dialog.SetWaiting(1, 0);
    EXPECT_EQ(more->text(), "1 more waiting");
    EXPECT_TRUE(also->isHidden());
    EXPECT_FALSE(also->isChecked());
    EXPECT_EQ(dialog.height(), plainHeight);
    dialog.SetWaiting(0, 0);
    EXPECT_TRUE(more->isHidden());

    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.SetWaiting(2, 2);
    also->setChecked(true);
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    dialog.Press(AlertDialog::kBlock);
    ASSERT_EQ(answered.count(), 1);
    EXPECT_TRUE(answered.at(0).at(3).toBool());
}

// How long and for what: this connection, until the program quits, for the
// options' time, always; the peer and port, the named host, the port, or
// any connection. The scope counts only for an answer that lasts; an engine
// that predates them is offered what it takes (this connection or always,
// for any connection or the named host).
TEST(AlertWindow, OffersLengthsAndScopesTheAskingEngineTakes)
{
    gui::ManualClock clock;
    const auto items = [](QComboBox* box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts << box->itemText(i);
        return texts.join(" | ").toStdString();
    };
    AlertContent content = Content(true);
    content.host = "api.example.org";
    content.port = 443;
    content.timedMinutes = 60;
    AlertDialog dialog(content);
    auto* length = Child<QComboBox>(dialog, "1011");
    auto* scope = Child<QComboBox>(dialog, "1012");
    EXPECT_EQ(items(length), "this connection only | until the program quits | for 1 hour | always");
    EXPECT_EQ(items(scope), "api.example.org, port 443 | api.example.org, any port | port 443, any host | "
                            "any connection of git-remote-http");
    EXPECT_GT(Child<QPushButton>(dialog, "1")->geometry().top(), scope->geometry().bottom());
    EXPECT_FALSE(scope->isEnabled());
    length->setCurrentIndex(2);
    EXPECT_TRUE(scope->isEnabled());
    scope->setCurrentIndex(2);
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    dialog.Press(AlertDialog::kAllow);
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered.at(0).at(1).toInt(), AlertDialog::kTimed);
    EXPECT_EQ(answered.at(0).at(2).toInt(), AlertDialog::kPort);

    // The next question starts over, without a name: no host-only scope.
    content.host.clear();
    content.peer = "10.0.0.5";
    content.timedMinutes = 90;
    dialog.SetQuestion(content);
    EXPECT_EQ(length->currentIndex(), 0);
    EXPECT_FALSE(scope->isEnabled());
    EXPECT_EQ(items(length), "this connection only | until the program quits | for 90 minutes | always");
    EXPECT_EQ(items(scope), "10.0.0.5, port 443 | port 443, any host | any connection of git-remote-http");
    EXPECT_EQ(AlertDialog::TimedWords(120), "for 2 hours");
    EXPECT_EQ(AlertDialog::TimedWords(1), "for 1 minute");

    // An older engine.
    content.host = "api.example.org";
    content.timedMinutes = 0;
    dialog.SetQuestion(content);
    EXPECT_EQ(items(length), "this connection only | always");
    EXPECT_EQ(items(scope), "api.example.org, any port | any connection of git-remote-http");

    // A long name is cut in its middle.
    content.host = QString(60, 'a') + ".tracker." + QString(60, 'b') + ".example";
    content.timedMinutes = 60;
    dialog.SetQuestion(content);
    const QString shown = scope->itemText(0);
    EXPECT_LT(shown.size(), content.host.size());
    EXPECT_TRUE(shown.endsWith("example, port 443")) << shown.toStdString();
}

// Once chosen, L and T reach the two choices by keyboard; before, no key
// changes them.
TEST(AlertWindow, LengthAndScopeAreChosenByKeyboardOnceTheAlertIsChosen)
{
    gui::ManualClock clock;
    AlertContent content = Content(true);
    content.port = 443;
    content.timedMinutes = 60;
    AlertDialog dialog(content);
    QSignalSpy answered(&dialog, &AlertDialog::Answered);
    dialog.Start();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ASSERT_TRUE(ArmedAfterTheDelay(clock, dialog));
    QTest::keyClick(&dialog, Qt::Key_L);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, Qt::Key_Down);
    EXPECT_EQ(dialog.ChosenLength(), AlertDialog::kOnce);
    // Nor does a wheel turned over it.
    auto* lengths = Child<QComboBox>(dialog, "1011");
    QWheelEvent wheel(QPointF(5, 5), lengths->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(lengths, &wheel);
    EXPECT_EQ(dialog.ChosenLength(), AlertDialog::kOnce);
    QTest::mouseClick(Child<QLabel>(dialog, "1004"), Qt::LeftButton);
    ASSERT_TRUE(dialog.IsChosen());
    QTest::keyClick(&dialog, Qt::Key_L);
    ASSERT_EQ(QApplication::focusWidget(), Child<QComboBox>(dialog, "1011"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(dialog.ChosenLength(), AlertDialog::kTimed);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_T);
    ASSERT_EQ(QApplication::focusWidget(), Child<QComboBox>(dialog, "1012"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(dialog.ChosenScope(), AlertDialog::kPort);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); // never answers
    EXPECT_EQ(answered.count(), 0);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A);
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered.at(0).at(1).toInt(), AlertDialog::kTimed);
    EXPECT_EQ(answered.at(0).at(2).toInt(), AlertDialog::kPort);
}

// The alert in the user's language: its own texts and the question's from
// the parts the engine sends, plurals by their number. In English the
// question reads exactly as the engine words it; an engine that sends only
// the English is shown as it sends it.
TEST(AlertWindow, SpeaksTheTranslationAndEnglishAsTheEngineWordsIt)
{
    AlertContent content = Content(true);
    content.program = "curl";
    content.company = "Unknown";
    content.protocol = "TCP";
    content.peer = "api.example.com";
    content.port = 443;
    EXPECT_EQ(content.ShownMessage(),
              "curl created by Unknown is trying to create TCP outgoing connection to api.example.com through port:443");
    content.outgoing = false;
    EXPECT_EQ(content.ShownMessage(),
              "curl created by Unknown is trying to accept TCP incoming connection from api.example.com through port:443");
    const AlertContent older = Content(false);
    EXPECT_EQ(older.ShownMessage(), older.message);
    EXPECT_EQ(AlertDialog::TimedWords(120), "for 2 hours");

    QTranslator german;
    ASSERT_TRUE(german.load(":/translations/zel-alert_de.qm"));
    ASSERT_TRUE(QCoreApplication::installTranslator(&german));
    EXPECT_EQ(content.ShownMessage(),
              "curl von Unbekannt versucht, eine eingehende TCP-Verbindung von api.example.com über Port 443 anzunehmen");
    EXPECT_EQ(older.ShownMessage(), older.message);
    struct Words {
        int minutes;
        const char* shown;
    };
    for (const Words& words : {Words {1, "für 1 Minute"}, Words {5, "für 5 Minuten"}, Words {60, "für 1 Stunde"},
                               Words {120, "für 2 Stunden"}})
        EXPECT_EQ(AlertDialog::TimedWords(words.minutes), QString::fromUtf8(words.shown)) << words.minutes;
    {
        AlertDialog dialog;
        dialog.SetQuestion(content);
        dialog.SetWaiting(1, 1);
        EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "Zul&assen");
        EXPECT_EQ(Child<QLabel>(dialog, "moreWaiting")->text(), "1 weitere wartet");
        dialog.SetWaiting(3, 2);
        EXPECT_EQ(Child<QLabel>(dialog, "moreWaiting")->text(), "3 weitere warten");
        EXPECT_EQ(Child<QCheckBox>(dialog, "alsoWaiting")->text(),
                  QString::fromUtf8("Auch für die 2 &wartenden Fragen dieses Programms"));
    }
    // A peer the engine knows as an encrypted DNS service, said in the details.
    content.Set("encrypteddns", std::string("1"));
    EXPECT_TRUE(content.Details().contains(QString::fromUtf8(
        "Dies ist ein verschlüsselter DNS-Dienst: Namen, die dieses Programm über ihn nachschlägt, bleiben der "
        "Firewall verborgen.")));
    QCoreApplication::removeTranslator(&german);
    EXPECT_EQ(AlertDialog::TimedWords(120), "for 2 hours");
}

TEST(AlertProgram, AnswersOnItsOutputAndWithoutADisplayByTheAwaySetting)
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
                  "direction\tincoming\npath\t/usr/bin/a\npid\t77\nend\n");
    // It speaks at once ("alive"), then says when the question shows.
    QByteArray output;
    QElapsedTimer waited;
    waited.start();
    while (!output.contains("shown\n") && waited.elapsed() < 5000) {
        program.waitForReadyRead(100);
        output += program.readAll();
    }
    ASSERT_TRUE(output.startsWith("alive\n")) << output.toStdString();
    ASSERT_TRUE(output.contains("shown\n")) << output.toStdString();
    RecordProperty("alert_visible_ms", std::to_string(started.elapsed()));
    std::printf("alert window shown %lld ms after the start\n", static_cast<long long>(started.elapsed()));
    program.write("press 1\n");
    ASSERT_TRUE(program.waitForFinished(5000));
    output += program.readAll();
    EXPECT_TRUE(output.endsWith("shown\nanswer 1 0\n") || output.endsWith("shown\nalive\nanswer 1 0\n"))
        << output.toStdString();

    // Nobody can see a question without a display: the away setting answers
    // at once; a question without one (an older engine's) fails fast.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        bare.remove(name);
    for (const auto& [away, answer] : {std::pair<const char*, const char*> {"away\t1 30\n", "answer 1 0 away\n"},
                                       {"away\t2 0\n", "answer 2 0 away\n"},
                                       {"", ""}}) {
        SCOPED_TRACE(away);
        QProcess headless;
        headless.setProcessEnvironment(bare);
        QElapsedTimer timer;
        timer.start();
        headless.start(ZEL_ALERT, {});
        ASSERT_TRUE(headless.waitForStarted(5000));
        headless.write(QByteArray("caption\tA\npeer\thost1\n") + away + "end\n");
        ASSERT_TRUE(headless.waitForFinished(5000));
        EXPECT_EQ(headless.exitCode(), *answer ? 0 : 2);
        EXPECT_EQ(headless.readAllStandardOutput(), QByteArray(answer));
        EXPECT_LT(timer.elapsed(), 2000);
    }
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
