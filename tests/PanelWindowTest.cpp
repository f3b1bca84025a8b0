#include "settings/GeneralMdl.h"
#include "settings/PanelState.h"
#include "settings/SingleInstance.h"
#include "windows/MainForm.h"
#include "windows/TrafficChart.h"
#include "windows/WindowTools.h"
#include "gui/ProgramIconDelegate.h"

#include "ChildProcess.h"
#include "Sandbox.h"
#include "platform/Constants.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Windows.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineSeries>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::Sandbox;

namespace {

std::string Setting(const char* name)
{
    return platform::registry::GetString(platform::registry::RootKey::LocalMachine, platform::registry::kSettingsKey, name);
}

// A sandbox with every setting the installation makes.
class PanelWindow : public ::testing::Test {
protected:
    PanelWindow()
    {
        errors = sandbox.root + "/errors";
        ::mkdir(errors.c_str(), 0700);
        sandbox.SetSetting("ErrLogs", errors);
        sandbox.SetSetting("LogFileCount", "30");
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("VRNFolder", sandbox.root + "/install/");
        sandbox.SetSetting("ApplySettings", "False");
        sandbox.SetSetting("FirstClose", "1");
        sandbox.SetSetting("DebugPrint", "0");
        sandbox.SetSetting("UpdFullMode", "0");
    }
    ~PanelWindow() override { panel::TheErrorLog().Close(); }

    Sandbox sandbox;
    std::string errors;
};

QAction* ToolButton(MainForm& form, const char* key) { return form.findChild<QAction*>(key); }

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QTest::qWait(10);
    }
    return true;
}

}  // namespace

// With thousands of programs the window opens without looking their icons
// up: only the rows drawn get theirs, a few at a time afterwards.
TEST_F(PanelWindow, ProgramIconsAreLookedUpOnlyForRowsDrawn)
{
    std::string applications;
    ::mkdir((sandbox.root + "/bin").c_str(), 0700);
    for (int i = 0; i < 600; ++i) {
        const std::string name = "PROGRAM" + std::to_string(i);
        testing_support::WriteText(sandbox.root + "/bin/" + name, "");
        applications += "<APPLICATION><EXENAME>" + name + "</EXENAME><APPPATH>" + sandbox.root + "/bin/" + name
            + "</APPPATH><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>";
    }
    sandbox.WriteRules(testing_support::RulesDocument(applications + "<APPLICATION><EXENAME>ANY</EXENAME>"
                                                                     "<INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"));
    panel::PanelState state;
    MainForm form(state);
    const int before = gui::ProgramIconDelegate::LookUps();
    form.Form_Load();
    form.resize(880, 640);
    form.show();
    EXPECT_EQ(gui::ProgramIconDelegate::LookUps(), before); // none on the way to the window
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // The rows drawn get theirs; the look-ups settle.
    int seen = -1;
    ASSERT_TRUE(WaitFor([&] {
        const int now = gui::ProgramIconDelegate::LookUps();
        const bool settled = now == seen && now > before;
        seen = now;
        QTest::qWait(50);
        return settled;
    }));
    const int rows = form.MainTreeView->viewport()->height() / form.MainTreeView->sizeHintForRow(0) + 1;
    EXPECT_GT(seen - before, 0);
    EXPECT_LE(seen - before, rows);
    // Scrolled to the end: those rows get theirs.
    form.MainTreeView->scrollToBottom();
    EXPECT_TRUE(WaitFor([&] { return gui::ProgramIconDelegate::LookUps() > seen; }));
    EXPECT_LT(gui::ProgramIconDelegate::LookUps() - before, 2 * rows + 2);
}

TEST_F(PanelWindow, BlockAllFollowsTheSecurityStatusAndWritesIt)
{
    for (const char* status : {"0", "1", "7"}) {
        sandbox.SetSetting("SecurityStatus", status);
        panel::PanelState state;
        MainForm form(state);
        form.Form_Load();
        QAction* blockAll = ToolButton(form, "BlockAll");
        ASSERT_TRUE(blockAll);
        EXPECT_EQ(blockAll->isChecked(), std::string(status) == "0") << status;
    }

    sandbox.SetSetting("SecurityStatus", "1");
    panel::PanelState state;
    MainForm form(state);
    form.Form_Load();
    EXPECT_EQ(form.windowTitle().toStdString(), platform::kMainWindowTitle);
    auto* label = form.findChild<QLabel*>("BlockActive");
    ToolButton(form, "BlockAll")->trigger();
    EXPECT_EQ(Setting("SecurityStatus"), "0");
    EXPECT_EQ(label->text(), "Block all is now active.");
    ToolButton(form, "BlockAll")->trigger();
    EXPECT_EQ(Setting("SecurityStatus"), "1");
    EXPECT_EQ(label->text(), "");
}

TEST_F(PanelWindow, RestoreCodeBringsTheWindowBack)
{
    panel::PanelState state;
    MainForm form(state);
    form.Form_Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.showMinimized();
    form.hide();
    ASSERT_TRUE(panel::RestorePreviousInstance());
    EXPECT_TRUE(WaitFor([&] { return form.isVisible(); }));
    EXPECT_FALSE(form.isMinimized());
}

TEST(PanelWindowTools, SortingTwiceByTheSameColumnFlips)
{
    QWidget window;
    auto* list = new QTreeWidget(&window);
    list->setObjectName("MainListView");
    list->setColumnCount(2);
    for (const char* name : {"b", "c", "a"})
        new QTreeWidgetItem(list, QStringList {name, "x"});
    const auto first = [&] { return list->topLevelItem(0)->text(0).toStdString(); };
    panel::SortMainListView(1, 0, &window);
    EXPECT_EQ(first(), "a");
    panel::SortMainListView(1, 0, &window);
    EXPECT_EQ(first(), "c");
    panel::SortMainListView(2, 0, &window); // another column keeps the direction
    panel::SortMainListView(1, 1, &window);
    EXPECT_EQ(first(), "a");
    panel::SortMainListView(1, 2, &window);
    EXPECT_EQ(first(), "c");
    panel::SortMainListView(9, 0, &window); // no such column: nothing happens
    EXPECT_EQ(first(), "c");
}

TEST(PanelWindowTools, CenteredOnTheScreensWorkArea)
{
    QWidget window;
    window.resize(300, 200);
    panel::CenterForm(&window);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(window.frameGeometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(window.frameGeometry().center().y() - area.center().y()), 1);
}

// The real program: a second copy asks the running one to show itself and ends.
TEST_F(PanelWindow, SecondCopyPostsTheRestoreCodeAndEnds)
{
    const std::map<std::string, std::string> env {{"QT_QPA_PLATFORM", "offscreen"}};
    {
        // The first copy here is this test: it holds the lock and has the window.
        panel::SingleInstance first;
        ASSERT_TRUE(first.Acquire());
        auto window = platform::windows::Window::Register(platform::kMainWindowTitle, {platform::kPictureBoxClass});
        ASSERT_TRUE(window);
        const auto start = std::chrono::steady_clock::now();
        ChildProcess second({ZEL_PROGRAM}, env);
        EXPECT_EQ(second.Wait(5s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        const auto message = platform::windows::ReceiveMessage(window->ChildSocket(0));
        ASSERT_TRUE(message);
        EXPECT_EQ(platform::windows::ParamCode(message->lParam), platform::kCodeRestoreWindow);

        // With no matching window it ends all the same, posting nothing.
        window.reset();
        auto other = platform::windows::Window::Register(platform::kMainWindowTitle, {"SomethingElse"});
        ChildProcess third({ZEL_PROGRAM}, env);
        EXPECT_EQ(third.Wait(5s), 0);
        EXPECT_FALSE(platform::windows::ReceiveMessage(other->ChildSocket(0)));
    }
    // The real first copy answers the real second one.
    ChildProcess first({ZEL_PROGRAM}, env);
    ASSERT_TRUE(WaitFor([] { return !platform::windows::FindWindow(platform::kMainWindowTitle).empty(); }, 10s));
    ChildProcess second({ZEL_PROGRAM}, env);
    EXPECT_EQ(second.Wait(5s), 0);
    ::kill(first.Pid(), SIGTERM);
    EXPECT_EQ(first.Wait(5s), 0);
    // Its end went through the exit path.
    EXPECT_FALSE(Setting("VRNTIMEEND").empty());
    EXPECT_EQ(Setting("SecurityMode"), "Normal");
}

namespace {

constexpr const char* kWindowRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>BOTH.EXE</EXENAME><DESCRIPTION>INTERNET EXPLORER</DESCRIPTION><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>NONE</EXENAME><DESCRIPTION>NONE</DESCRIPTION><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ASKER</EXENAME><DESCRIPTION>ASKER</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
    "<RULE><RULENAME>first</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE>"
    "<PORTS><PORT><NUMBER>80</NUMBER></PORT><PORT><NUMBER>8080</NUMBER><IPS><IP>10.0.0.1</IP><IP>10.0.0.2</IP></IPS></PORT></PORTS></RULE>"
    "<RULE><RULENAME>hidden</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>0</ENABLE></RULE>"
    "<RULE><RULENAME>third</RULENAME><DIRECTION>INCOMING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>0</STATE><ENABLE>1</ENABLE></RULE>"
    "</RULES></APPLICATION>"
    "<APPLICATION><EXENAME>ALLASK</EXENAME><DESCRIPTION>ALL ASK</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>MIXED</EXENAME><DESCRIPTION>MIXED</DESCRIPTION><INDEF>PERMIT</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>FOLLOWER</EXENAME><DESCRIPTION>FOLLOWER</DESCRIPTION><INDEF></INDEF><OUTDEF></OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>SSHD</EXENAME><DESCRIPTION>SSHD</DESCRIPTION><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

// The real main window over a rules file with one application of each kind.
class MainWindow : public PanelWindow {
protected:
    void SetUp() override
    {
        sandbox.WriteRules(kWindowRules);
        sandbox.SetSetting("SecurityStatus", "1");
        form = std::make_unique<MainForm>(state);
        form->Form_Load();
        form->show();
    }
    QTreeWidgetItem* Node(const QString& text) const
    {
        const auto found = form->MainTreeView->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    QStringList Children(const QString& text) const
    {
        QStringList names;
        if (QTreeWidgetItem* group = Node(text))
            for (int i = 0; i < group->childCount(); ++i)
                names << group->child(i)->text(0);
        return names;
    }
    void Click(const QString& text) { form->MainTreeView_NodeClick(Node(text)); }
    template <typename T>
    T* Control(const char* name) const { return form->findChild<T*>(name); }

    panel::PanelState state;
    std::unique_ptr<MainForm> form;
};

}  // namespace

TEST_F(MainWindow, TreeGroupsApplicationsByTheirDefaults)
{
    EXPECT_EQ(Children("Approved Applications"), QStringList {"Internet explorer"});
    EXPECT_EQ(Children("Denied Applications"), QStringList {"None"});
    // ASK/PERMIT, ASK/ASK, PERMIT/DENY, and empty defaults that follow ASK/PERMIT.
    EXPECT_EQ(Children("Combined Applications"), (QStringList {"Asker", "All ask", "Mixed", "Follower", "Sshd"}));
    // "ANY" is never an application node: its only node is the root.
    EXPECT_EQ(form->MainTreeView->findItems("System settings", Qt::MatchFixedString | Qt::MatchRecursive).size(), 1);
    EXPECT_FALSE(Node("System settings")->parent());
    EXPECT_EQ(Children("Logs"), (QStringList {"Permitted incoming connection", "Permitted outgoing connection",
                                              "Denied incoming connection", "Denied outgoing connection"}));
    // By the node's text, or by the executable name through its description.
    EXPECT_EQ(form->NodeAt(form->GetNodeNoByName("BOTH.EXE")), Node("Internet explorer"));
    EXPECT_EQ(form->NodeAt(form->GetNodeNoByName("internet EXPLORER")), Node("Internet explorer"));
    EXPECT_EQ(form->GetNodeNoByName("nothing"), 0);
}

TEST_F(MainWindow, LogNodesShowTheirPortColumn)
{
    const auto headers = [&] {
        QStringList names;
        for (int i = 0; i < form->MainListView->columnCount(); ++i)
            names << form->MainListView->headerItem()->text(i);
        return names;
    };
    Click("Permitted outgoing connection");
    EXPECT_EQ(headers(), (QStringList {"ID", "Date", "Application", "Protocol", "Ip", "Remote port", "Host"}));
    EXPECT_TRUE(form->MainListView->isColumnHidden(0));
    Click("Denied incoming connection");
    EXPECT_EQ(headers()[5], "Local port");
    EXPECT_TRUE(form->SystemFrame->isHidden());
}

TEST_F(MainWindow, ApplicationViewShowsDefaultsAndListedRulesWithoutApplying)
{
    const std::string rulesBefore = testing_support::ReadText(sandbox.rulesFile);
    Click("Asker");
    EXPECT_TRUE(form->InAsk->isChecked());
    EXPECT_TRUE(form->OutAllow->isChecked());
    EXPECT_FALSE(form->ApplyCustomCheck->isChecked());
    // Setting the buttons from the rules applied nothing.
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), rulesBefore);
    EXPECT_EQ(state.Pic2WindowText, "");

    // Rule 2 is kept out of sight; rule 3 is still called 3.
    ASSERT_EQ(form->MainListView->topLevelItemCount(), 2);
    QTreeWidgetItem* first = form->MainListView->topLevelItem(0);
    QTreeWidgetItem* third = form->MainListView->topLevelItem(1);
    EXPECT_EQ(first->text(0), "1");
    EXPECT_EQ(third->text(0), "3");
    EXPECT_EQ(first->text(2), "PERMIT OUTGOING for : 80, 8080(10.0.0.1,10.0.0.2)");
    EXPECT_EQ(third->text(2), "DENY INCOMING");
    EXPECT_EQ(first->checkState(0), Qt::Checked);
    EXPECT_TRUE(first->font(1).bold());
    EXPECT_EQ(first->foreground(2).color(), QColor(0, 0, 255));
    EXPECT_EQ(third->checkState(0), Qt::Unchecked);
    EXPECT_EQ(form->AdditionalRuleNote->text(), "There are additional rules at the advanced mode.");

    // Unticking writes the rule's state to the file at once.
    first->setCheckState(0, Qt::Unchecked);
    const std::string rules = testing_support::ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<RULENAME>first</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
                         "<STATE>0</STATE>"),
              std::string::npos);
    EXPECT_FALSE(first->font(1).bold());

    Click("Follower");
    EXPECT_FALSE(form->InAllow->isChecked() || form->InAsk->isChecked() || form->InBlock->isChecked());
    EXPECT_TRUE(form->ApplyCustomCheck->isChecked());
    Click("Sshd");
    EXPECT_FALSE(form->InAsk->isEnabled());
    EXPECT_FALSE(form->OutAsk->isEnabled());
    EXPECT_EQ(form->BlockActive->text(), "");
}

TEST_F(MainWindow, ChoosingADefaultAppliesPublishesAndMovesTheApplication)
{
    Click("Internet explorer");
    form->InBlock->click();
    ASSERT_TRUE(form->InBlock->isChecked());
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("BOTH.EXE"), "DENY");
    EXPECT_EQ(state.Pic2WindowText, " BOTH.EXE");
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>BOTH.EXE</EXENAME><DESCRIPTION>INTERNET EXPLORER"
                                                                "</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF>"),
              std::string::npos);
    EXPECT_TRUE(Children("Combined Applications").contains("Internet explorer"));
    EXPECT_EQ(form->MainTreeView->currentItem(), Node("Internet explorer"));
    // Applying it again publishes it once.
    form->OutBlock->click();
    EXPECT_EQ(state.Pic2WindowText, " BOTH.EXE");
    EXPECT_TRUE(Children("Denied Applications").contains("Internet explorer"));
}

TEST_F(MainWindow, SecurityLevelsAndBlockAllShowTheirStatus)
{
    Click("System settings");
    EXPECT_EQ(form->SecSlider->value(), 1);
    EXPECT_EQ(form->SecurityCombo->currentText(), "NORMAL");
    EXPECT_TRUE(form->SecInfoText->text().startsWith("Status : Normal security "));
    // Choosing High from the combo box stores its defaults on the system settings.
    form->SecurityCombo->setCurrentIndex(0);
    emit form->SecurityCombo->activated(0);
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("ANY"), "DENY");
    EXPECT_EQ(state.CurrBuffer.GetExeOutDef("ANY"), "ASK");
    EXPECT_EQ(form->SecSlider->value(), 0);
    EXPECT_TRUE(form->SecInfoText->text().startsWith("Status : High security "));
    EXPECT_EQ(state.Pic2WindowText, "");

    QAction* blockAll = form->findChild<QAction*>("BlockAll");
    blockAll->trigger();
    EXPECT_EQ(form->SecurityCombo->placeholderText(), "BLOCK ALL");
    EXPECT_FALSE(form->SecurityCombo->isEnabled());
    EXPECT_TRUE(form->SecInfoText->text().startsWith("Status : BLOCK ALL NETWORK "));
    Click("Asker");
    EXPECT_EQ(form->BlockActive->text(), "Block all is now active.");
    blockAll->trigger();
    Click("System settings");
    EXPECT_TRUE(form->SecurityCombo->isEnabled());
    EXPECT_TRUE(form->SecInfoText->text().startsWith("Status : High security "));
}

TEST_F(MainWindow, SecurityMenuChecksTheLevelAndSetsOnlyTheSystemSettings)
{
    QMenu* menu = form->SecurityMenu();
    form->UpdateSecurityMenuChecks();
    EXPECT_TRUE(menu->findChild<QAction*>("NormalMenu")->isChecked());
    EXPECT_FALSE(menu->findChild<QAction*>("HighMenu")->isChecked());
    menu->findChild<QAction*>("LowMenu")->trigger();
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("ANY"), "PERMIT");
    EXPECT_EQ(state.CurrBuffer.GetExeOutDef("ANY"), "PERMIT");
    EXPECT_EQ(state.CurrBuffer.GetExeInDef("NONE"), "DENY"); // others keep theirs
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS"
                                                                "</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>PERMIT</INDEF>"),
              std::string::npos);
    EXPECT_TRUE(form->SecInfoText->text().startsWith("Status : Low security "));
    state.Settings.SecurityMode = "Custom";
    form->UpdateSecurityMenuChecks();
    for (QAction* item : menu->actions())
        EXPECT_FALSE(item->isChecked());
}

TEST_F(MainWindow, TrafficMessagesBecomeRatesAndTheRingWraps)
{
    const auto post = [&](uint16_t code, uint32_t argument) {
        form->Picture2_MouseMove(0, platform::windows::MakeCodedParam(code, argument));
    };
    post(platform::kCodeIncomingTraffic, 100);
    EXPECT_EQ(form->Traffic.Incoming(), 1000);
    post(platform::kCodeOutgoingTraffic, 65535);
    EXPECT_EQ(form->Traffic.Outgoing(), 655350);
    form->Traffic = panel::TrafficStats();
    for (int i = 0; i < 1024; ++i)
        post(platform::kCodeIncomingTraffic, 10); // 102,400 bytes in a second
    form->Timer1_Timer();
    EXPECT_EQ(form->IncomingLabel->text(), "Incoming traffic : \n100.00 Kb/sec");
    EXPECT_EQ(form->OutgoingLabel->text(), "Outgoing traffic : \n0.00 Kb/sec");
    form->Timer1_Timer();
    EXPECT_EQ(form->IncomingLabel->text(), "Incoming traffic : \n0.00 Kb/sec");
    EXPECT_EQ(form->TChart1->NewestPosition(), 3);
    EXPECT_DOUBLE_EQ(form->TChart1->Series(0)->at(1).y(), 100.0);
    for (int i = 0; i < 58; ++i)
        form->Timer1_Timer();
    EXPECT_EQ(form->TChart1->NewestPosition(), 1);
    EXPECT_EQ(form->TChart1->Series(0)->count(), 60);
}

// An answer applied to one host reaches the window with the host's name and
// shows the program with its new rule.
TEST_F(MainWindow, AnswerForOneHostShowsTheProgramWithItsNewRule)
{
    const uint32_t self = static_cast<uint32_t>(::getpid());
    const std::string exeName = platform::processes::HostExeName(
        platform::processes::CleanHostPath(platform::processes::ExecutablePath("/proc", ::getpid())));
    form->Picture2_MouseMove(0, platform::windows::MakeCodedParam(platform::kCodeOutgoingHostPermitted, self),
                             "api.example.org");
    const panel::AppRecord app = state.CurrBuffer.GetAppFromBuffer(exeName);
    ASSERT_TRUE(app);
    ASSERT_EQ(app->RULES.size(), 1u);
    ASSERT_EQ(app->RULES[0]->PORTS.size(), 1u);
    EXPECT_EQ(app->RULES[0]->PORTS[0]->Hosts, std::vector<std::string> {"api.example.org"});
    EXPECT_EQ(state.SelectedNode, exeName);
    // A pattern is never taken from a message.
    form->Picture2_MouseMove(0, platform::windows::MakeCodedParam(platform::kCodeOutgoingHostBlocked, self), "*.org");
    EXPECT_EQ(app->RULES.size(), 1u);
}

TEST_F(MainWindow, TrayBringsTheWindowBackAndShutsDown)
{
    form->showMinimized();
    form->hide();
    EXPECT_EQ(form->MouseMoveSub(0x0202), 0);
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(form->MouseMoveSub(0x0205), 1);
    EXPECT_EQ(form->MouseMoveSub(0x0203), 0);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    state.CurrBuffer.GetAppFromBuffer("MIXED")->OutDef = "ASK";
    state.Settings.SecurityMode = "Custom";
    QAction* shutDown = form->findChild<QAction*>("ExitMnu");
    ASSERT_TRUE(shutDown);
    // The shutdown ends the program's event loop.
    QTimer::singleShot(0, shutDown, &QAction::trigger);
    QTimer limit; // gone with the test
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    limit.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>MIXED</EXENAME><DESCRIPTION>MIXED</DESCRIPTION>"
                                                                "<ISSERVICE>0</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>ASK"),
              std::string::npos);
    EXPECT_EQ(Setting("SecurityMode"), "Custom");
    EXPECT_FALSE(Setting("VRNTIMEEND").empty());
}

TEST_F(MainWindow, NoticeRemembersNotToShowAgain)
{
    for (const bool tick : {false, true}) {
        QTimer::singleShot(0, [&] {
            auto* notice = form->findChild<QDialog*>("SysTrayMessage");
            ASSERT_TRUE(notice);
            EXPECT_EQ(notice->windowTitle(), "  Closing ZEL");
            notice->findChild<QCheckBox*>("CheckNotToShow")->setChecked(tick);
            notice->findChild<QPushButton*>("OkCmd")->click();
        });
        form->ShowTrayNotice();
        EXPECT_EQ(Setting("FirstClose"), tick ? "0" : "1");
    }
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
