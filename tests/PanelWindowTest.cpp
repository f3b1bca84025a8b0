#include "settings/GeneralMdl.h"
#include "settings/PanelState.h"
#include "settings/SingleInstance.h"
#include "windows/MainForm.h"
#include "windows/WindowTools.h"

#include "ChildProcess.h"
#include "Sandbox.h"
#include "platform/Constants.h"
#include "platform/Registry.h"
#include "platform/Windows.h"

#include <QAction>
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

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
