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
