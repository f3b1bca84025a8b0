// The control panel and a real program under the firewall: what the user
// does in the window reaches the program's next connection.
#include "settings/GeneralMdl.h"
#include "settings/SingleInstance.h"
#include "windows/AwayDecisionsWindow.h"
#include "windows/AwayNotice.h"
#include "windows/MainForm.h"

#include "InterceptorFixture.h"
#include "platform/AwayDecisions.h"
#include "platform/SharedBlock.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using testing_support::App;
using testing_support::ChildProcess;

namespace {

class PanelWithHost : public testing_support::InterceptorTest {
protected:
    void SetUp() override
    {
        sandbox.SetSetting("ErrLogs", sandbox.logs);
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("LogFileCount", "30");
        ASSERT_TRUE(instance.Acquire());
        zelconn = std::make_unique<ChildProcess>(
            std::vector<std::string> {testing_support::TestLibrary("ZEL_TEST_ZELCONN", ZELCONN)});
        for (int i = 0; i < 200 && !platform::SharedBlock::Open(platform::SharedBlock::DefaultPath()); ++i)
            std::this_thread::sleep_for(10ms);
    }
    void TearDown() override { panel::TheErrorLog().Close(); }

    // The next result line of the program, letting the window work meanwhile.
    std::string NextResult(ChildProcess& program)
    {
        QTest::qWait(10);
        return program.ReadLine(5s).value_or("none");
    }

    panel::SingleInstance instance;
    std::unique_ptr<ChildProcess> zelconn;
};

}  // namespace

TEST_F(PanelWithHost, AppliedDefaultsAndBlockAllReachTheRunningProgram)
{
    WriteRules(App("NETPEER", "DENY", "PERMIT") + App("ANY", "ASK", "PERMIT"));
    panel::PanelState state;
    MainForm form(state);
    form.Form_Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    auto server = Server({"tcp-server", "127.0.0.2", "21300"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21300", "40", "150"}, hooked);
    EXPECT_EQ(NextResult(program), "ok");

    // The user blocks the program's outgoing connections.
    const auto nodes = form.MainTreeView->findItems("Netpeer", Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(nodes.size(), 1);
    form.MainTreeView_NodeClick(nodes.first());
    form.OutBlock->click();
    EXPECT_EQ(state.Pic2WindowText, " NETPEER");
    std::string result;
    for (int i = 0; i < 10 && (result = NextResult(program)) == "ok"; ++i) {
    }
    EXPECT_EQ(result, "refused");

    // Allowed again, then everything blocked from the toolbar.
    form.OutAllow->click();
    for (int i = 0; i < 10 && (result = NextResult(program)) == "refused"; ++i) {
    }
    EXPECT_EQ(result, "ok");
    form.findChild<QAction*>("BlockAll")->trigger();
    for (int i = 0; i < 10 && (result = NextResult(program)) == "ok"; ++i) {
    }
    EXPECT_EQ(result, "refused");
}

// The whole journey of an alert: the program asks, the user allows with the
// box ticked, the panel stores the answer as the program's own default,
// saves and publishes, and the program's next connection is permitted by
// its own entry without asking again.
TEST_F(PanelWithHost, TickedAllowInAnAlertBecomesTheProgramsDefault)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    panel::PanelState state;
    MainForm form(state);
    form.Form_Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    auto server = Server({"tcp-server", "127.0.0.2", "21301"});
    ChildProcess program({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21301", "12", "300"},
                         Hooked(Alerting("answer=1,ticked=1")));
    EXPECT_EQ(NextResult(program), "ok");
    // The answer reaches the window as a message: let it work until it is stored.
    for (int i = 0; i < 100 && !state.CurrBuffer.GetAppFromBuffer("NETPEER"); ++i)
        QTest::qWait(20);
    const panel::AppRecord stored = state.CurrBuffer.GetAppFromBuffer("NETPEER");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->OutDef, "PERMIT");
    EXPECT_EQ(stored->InDef, "ASK");
    EXPECT_EQ(stored->AppPath, NETPEER);
    EXPECT_EQ(state.Pic2WindowText, " NETPEER");
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>NETPEER</EXENAME>"), std::string::npos);
    // A new process of the program: decided by its own entry, never asked.
    ChildProcess again({NETPEER, "tcp-repeat", "127.0.0.3", "127.0.0.2", "21301", "3", "50"},
                       Hooked(Alerting("answer=2,ticked=0")));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(NextResult(again), "ok");
    EXPECT_EQ(AlertsShown(), 1u);
}

// Nobody can see a question (no display): the away setting answers it at
// once, the panel lists it afterwards, and Allow there makes it a rule, so
// that the program's next connection is not asked about again.
TEST_F(PanelWithHost, QuestionNobodyCouldSeeIsListedAndBecomesARule)
{
    WriteRules(App("ANY", "ASK", "ASK"));
    sandbox.SetSetting("AwayAnswer", "2");
    sandbox.SetSetting("AwayTimeout", "30");
    panel::PanelState state;
    MainForm form(state);
    form.Form_Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.show();
    EXPECT_FALSE(form.AwayNoticeButton->isVisible());
    auto server = Server({"tcp-server", "127.0.0.2", "21302"});
    const std::map<std::string, std::string> noDisplay = Hooked(
        {{"ZEL_ALERT_PROGRAM", ZEL_ALERT}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}});
    const auto start = std::chrono::steady_clock::now();
    ChildProcess blocked({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21302"}, noDisplay);
    EXPECT_EQ(blocked.ReadLine(), std::optional<std::string>("refused"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s); // at once, not after the 30 s for a locked screen

    form.AwayNoticeButton->Check();
    ASSERT_TRUE(form.AwayNoticeButton->isVisible());
    EXPECT_EQ(form.AwayNoticeButton->text(), "1 connection was decided while you were away: review");
    AwayDecisionsWindow window(form, platform::away::ListPath(), &form);
    ASSERT_EQ(window.AwayList->topLevelItemCount(), 1);
    EXPECT_EQ(window.AwayList->topLevelItem(0)->text(1), "netpeer");
    EXPECT_EQ(window.AwayList->topLevelItem(0)->text(2), "TCP to 127.0.0.2 port 21302");
    EXPECT_EQ(window.AwayList->topLevelItem(0)->text(3), "Blocked");
    window.findChild<QPushButton*>("AllowAway0")->click();
    const panel::AppRecord stored = state.CurrBuffer.GetAppFromBuffer("NETPEER");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->OutDef, "PERMIT");
    EXPECT_EQ(window.AwayList->topLevelItemCount(), 0);
    EXPECT_TRUE(window.EmptyNote->isVisibleTo(&window));
    form.AwayNoticeButton->Check();
    EXPECT_FALSE(form.AwayNoticeButton->isVisible());

    ChildProcess again({NETPEER, "tcp-client", "127.0.0.3", "127.0.0.2", "21302"}, noDisplay);
    EXPECT_EQ(again.ReadLine(), std::optional<std::string>("connected ok"));
    EXPECT_TRUE(platform::away::ReadAll(platform::away::ListPath()).empty());
}
