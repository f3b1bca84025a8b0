// The main window used every day without a mouse: the tree's current node
// shows its page, the shortcuts, the tray's state and menu, the Block All
// banner, the shutdown that asks, the help page without a browser, and the
// window within a small screen.
#include "core/ErrorLog.h"
#include "core/FilterState.h"
#include "core/PanelCore.h"
#include "dialogs/HelpWindow.h"
#include "widgets/WindowTools.h"
#include "windows/BlockAllBanner.h"
#include "windows/MainForm.h"
#include "windows/TrayIcon.h"

#include "PanelWindowDriver.h"
#include "Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <cstdlib>

#include <gtest/gtest.h>

using testing_support::Part;
using testing_support::Sandbox;
using testing_support::Tree;
using testing_support::WithModal;

namespace {

constexpr const char* kRules =
    "<APPLICATIONS>"
    "<APPLICATION><EXENAME>ALLOWED</EXENAME><DESCRIPTION>ALLOWED</DESCRIPTION><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>BLOCKED</EXENAME><DESCRIPTION>BLOCKED</DESCRIPTION><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION>"
    "<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION>"
    "</APPLICATIONS>";

class Everyday : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string errors = sandbox.root + "/errors";
        ::mkdir(errors.c_str(), 0700);
        sandbox.SetSetting("ErrLogs", errors);
        sandbox.SetSetting("LogFileCount", "30");
        sandbox.SetSetting("SecurityMode", "Normal");
        sandbox.SetSetting("VRNFolder", sandbox.root + "/install/");
        sandbox.SetSetting("FirstClose", "0");
        sandbox.SetSetting("SecurityStatus", "1");
        sandbox.WriteRules(kRules);
        form = std::make_unique<MainForm>(core);
        form->Form_Load();
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        panel::SetUrlOpener(nullptr);
        panel::TheErrorLog().Close();
    }
    TrayIcon* Tray() const { return Part<TrayIcon>(*form); }
    BlockAllBanner* Banner() const { return Part<BlockAllBanner>(*form); }
    void Keys(QWidget* to, std::initializer_list<Qt::Key> keys)
    {
        for (const Qt::Key key : keys)
            QTest::keyClick(to, key);
    }

    Sandbox sandbox;
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
};

}  // namespace

TEST(FilterState, SaysWhatTheFirewallDoes)
{
    using panel::Filtering;
    struct Case {
        std::optional<int> level;
        bool custom;
        bool blockAll;
        bool stopped;
        Filtering filtering;
        const char* levelName;
        const char* tip;
    };
    const Case cases[] = {
        {0, false, false, false, Filtering::kAtLevel, "High", "Korvel Firewall\nFiltering at level High"},
        {1, false, false, false, Filtering::kAtLevel, "Normal", "Korvel Firewall\nFiltering at level Normal"},
        {2, false, false, false, Filtering::kAtLevel, "Low", "Korvel Firewall\nFiltering at level Low"},
        {std::nullopt, true, false, false, Filtering::kAtLevel, "Custom", "Korvel Firewall\nFiltering at level Custom"},
        // The rules file unreadable: no level is known, and none is made up.
        {std::nullopt, false, false, false, Filtering::kAtLevel, "unknown", "Korvel Firewall\nFiltering at level unknown"},
        {7, false, false, false, Filtering::kAtLevel, "unknown", "Korvel Firewall\nFiltering at level unknown"},
        {1, false, true, false, Filtering::kBlockAll, "Normal", "Korvel Firewall\nBlock All: every connection is blocked"},
        // Shutting down wins over everything else.
        {1, false, true, true, Filtering::kStopped, "Normal", "Korvel Firewall\nNot filtering: shut down"},
        {0, false, false, true, Filtering::kStopped, "High", "Korvel Firewall\nNot filtering: shut down"},
    };
    for (const Case& c : cases) {
        panel::SecurityDisplay display;
        display.level = c.level;
        display.custom = c.custom;
        display.blockAll = c.blockAll;
        const panel::FilterState state = panel::DescribeFiltering(display, c.stopped);
        EXPECT_EQ(state.filtering, c.filtering) << c.tip;
        EXPECT_EQ(state.level, c.levelName) << c.tip;
        EXPECT_EQ(state.tip, c.tip);
    }
}

// Arrow keys alone: every node they reach shows its page at once.
TEST_F(Everyday, ArrowKeysInTheTreeShowThePageOfTheCurrentNode)
{
    NavigationTree* tree = Tree(*form);
    tree->setFocus();
    tree->setCurrentItem(tree->SystemNode());
    // System settings, Protection, Applications, Allowed Applications, ALLOWED.
    Keys(tree, {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kApplication);
    EXPECT_EQ(core.Selected().application, "ALLOWED");
    Keys(tree, {Qt::Key_Down, Qt::Key_Down});
    EXPECT_EQ(core.Selected().application, "BLOCKED");
    QTest::keyClick(tree, Qt::Key_End);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kLog);
    EXPECT_EQ(core.Selected().logKey, "Log4");
    QTest::keyClick(tree, Qt::Key_Home);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kSystem);
}

TEST_F(Everyday, BlockAllByShortcutShowsTheBannerAndTheTrayAndTheBannerTurnsItOff)
{
    ASSERT_TRUE(Tray());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level High");
    EXPECT_FALSE(Banner()->isVisible());

    QTest::keyClick(form.get(), Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(core.Settings().SecurityStatus, "0");
    EXPECT_TRUE(Banner()->isVisible());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kBlockAll);
    EXPECT_TRUE(Tray()->Menu()->findChild<QAction*>("BlockAllMnu")->isChecked());
    EXPECT_TRUE(form->findChild<QAction*>("BlockAll")->isChecked());

    Part<QPushButton>(*form, "BlockAllOff")->click();
    EXPECT_EQ(core.Settings().SecurityStatus, "1");
    EXPECT_FALSE(Banner()->isVisible());
    EXPECT_FALSE(form->findChild<QAction*>("BlockAll")->isChecked());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);

    // From the tray's menu, both ways.
    QAction* trayBlockAll = Tray()->Menu()->findChild<QAction*>("BlockAllMnu");
    trayBlockAll->trigger();
    EXPECT_EQ(core.Settings().SecurityStatus, "0");
    EXPECT_TRUE(form->findChild<QAction*>("BlockAll")->isChecked());
    EXPECT_TRUE(Banner()->isVisible());
    trayBlockAll->trigger();
    EXPECT_EQ(core.Settings().SecurityStatus, "1");
    EXPECT_FALSE(Banner()->isVisible());
}

TEST_F(Everyday, TrayIconDiffersBetweenTheStates)
{
    const auto image = [this](panel::Filtering filtering) { return Tray()->StateIcon(filtering).pixmap(32).toImage(); };
    EXPECT_NE(image(panel::Filtering::kAtLevel), image(panel::Filtering::kBlockAll));
    EXPECT_NE(image(panel::Filtering::kAtLevel), image(panel::Filtering::kStopped));
    EXPECT_NE(image(panel::Filtering::kBlockAll), image(panel::Filtering::kStopped));
    // For the documentation: the three side by side at the tray's size (the
    // last is seen only while the panel shuts down).
    if (const char* folder = std::getenv("ZEL_PICTURES")) {
        QImage row(3 * 32, 32, QImage::Format_ARGB32);
        row.fill(QColor(51, 51, 51));
        QPainter painter(&row);
        int x = 0;
        for (const auto state : {panel::Filtering::kAtLevel, panel::Filtering::kBlockAll, panel::Filtering::kStopped}) {
            painter.drawPixmap(x + 5, 5, Tray()->StateIcon(state).pixmap(22));
            x += 32;
        }
        painter.end();
        EXPECT_TRUE(row.scaled(row.size() * 2).save(QString(folder) + "/tray-states.png"));
    }
}

TEST_F(Everyday, TrayLevelMenuSetsThePresetAndShowsIt)
{
    QMenu* levels = Tray()->Menu()->findChild<QMenu*>("LevelMnu");
    ASSERT_TRUE(levels);
    EXPECT_TRUE(levels->findChild<QAction*>("LevelMnu0")->isChecked()); // DENY incoming: High
    levels->findChild<QAction*>("LevelMnu2")->trigger();
    EXPECT_EQ(core.GeneralDefault(rules::Direction::kIncoming), rules::Permission::kPermit);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nFiltering at level Low");
    EXPECT_TRUE(levels->findChild<QAction*>("LevelMnu2")->isChecked());
    EXPECT_FALSE(levels->findChild<QAction*>("LevelMnu0")->isChecked());
    // Written to the rules file, for the engines.
    sandbox.WriteRules(kRules);
    panel::PanelCore reread;
    reread.LoadSettings(0);
    reread.LoadRules();
    EXPECT_EQ(core.Rules().Find("ANY")->incoming, rules::Permission::kPermit);
}

TEST_F(Everyday, ShutDownAsksAndCancelKeepsFiltering)
{
    QAction* shutDown = Tray()->Menu()->findChild<QAction*>("ExitMnu");
    ASSERT_TRUE(WithModal([&] { shutDown->trigger(); }, [&](QDialog* question) {
        EXPECT_EQ(question->objectName(), "ShutDownQuestion");
        // Escape is Cancel, and so is Return: the safe answer is the default.
        QTest::keyClick(question, Qt::Key_Return);
    }));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kAtLevel);

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    limit.start(5000);
    QTimer::singleShot(0, shutDown, [&] {
        WithModal([&] { shutDown->trigger(); }, [](QDialog* question) {
            question->findChild<QPushButton*>("ShutDownYes")->click();
        });
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(Tray()->State().filtering, panel::Filtering::kStopped);
    EXPECT_EQ(Tray()->State().tip, "Korvel Firewall\nNot filtering: shut down");
}

TEST_F(Everyday, F1ShowsTheHelpPageInTheWindowWhenNoBrowserOpensIt)
{
    QStringList tried;
    panel::SetUrlOpener([&](const QUrl& url) {
        tried << url.toString();
        return false;
    });
    QTest::keyClick(form.get(), Qt::Key_F1);
    ASSERT_EQ(tried.size(), 1);
    EXPECT_TRUE(tried[0].endsWith("/share/tessary/help.html")) << tried[0].toStdString();
    auto* help = form->findChild<HelpWindow*>("HelpWindow");
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isVisible());
    // A second F1 brings the same window forward.
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(form->findChildren<HelpWindow*>().size(), 1);

    panel::SetUrlOpener([&](const QUrl&) { return true; });
    help->close();
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_TRUE(!form->findChild<HelpWindow*>() || !form->findChild<HelpWindow*>()->isVisible());
}

TEST_F(Everyday, ShortcutsAddAndFindInLogs)
{
    ASSERT_TRUE(WithModal([&] { QTest::keyClick(form.get(), Qt::Key_N, Qt::ControlModifier); },
                          [](QDialog* wizard) { EXPECT_EQ(wizard->objectName(), "CreateNewApp_Step1"); }));
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(core.Selected().view, panel::Selection::View::kLog);
    EXPECT_EQ(Tree(*form)->currentItem(), Tree(*form)->LogNode("Log4"));
}

TEST_F(Everyday, ToolbarCannotBeHiddenAndIsReachedByTab)
{
    auto* bar = form->findChild<QToolBar*>("MainToolBar");
    ASSERT_TRUE(bar);
    EXPECT_FALSE(bar->toggleViewAction()->isVisible());
    EXPECT_EQ(bar->contextMenuPolicy(), Qt::PreventContextMenu);
    QWidget* add = bar->widgetForAction(form->findChild<QAction*>("App"));
    ASSERT_TRUE(add);
    EXPECT_TRUE(add->focusPolicy() & Qt::TabFocus);
}

// However large the parts would like to be, the window fits the screen and
// opens on it: what does not fit scrolls.
TEST_F(Everyday, WindowFitsTheScreen)
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(form->minimumSizeHint().width(), area.width());
    EXPECT_LE(form->minimumSizeHint().height(), area.height());
    EXPECT_LE(form->width(), area.width());
    EXPECT_LE(form->height(), area.height());
    EXPECT_TRUE(area.contains(form->geometry().topLeft()));
}
