// The control panel and a real program under the firewall: what the user
// does in the window reaches the program's next connection.
#include "settings/GeneralMdl.h"
#include "settings/SingleInstance.h"
#include "windows/MainForm.h"

#include "InterceptorFixture.h"
#include "platform/SharedBlock.h"

#include <QAction>
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
