#include "gui/Clock.h"
#include "gui/ProgramIconDelegate.h"
#include "gui/ReadableLook.h"
#include "panel/control/FirstRunFlow.h"
#include "panel/control/MessageChannel.h"
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/core/RuleDescription.h"
#include "panel/core/RulesStore.h"
#include "panel/core/SessionCoverage.h"
#include "panel/core/SingleInstance.h"
#include "panel/dialogs/TrayNotice.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/MainForm.h"
#include "panel/windows/PageTable.h"
#include "panel/windows/ProtectionView.h"
#include "panel/windows/SecurityLevelBox.h"
#include "panel/windows/TrafficChart.h"
#include "panel/windows/TrayIcon.h"

#include "os/Processes.h"
#include "protocol/PanelMessages.h"
#include "protocol/Registry.h"
#include "protocol/Windows.h"
#include "rules/RulesFormat.h"
#include "tests/ChildProcess.h"
#include "tests/EventLoopWait.h"
#include "tests/PanelWindowDriver.h"
#include "tests/PrivateSessionBus.h"
#include "tests/Sandbox.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QThread>
#include <QDialog>
#include <QGroupBox>
#include <QLineSeries>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::Click;
using testing_support::Node;
using testing_support::Part;
using testing_support::Sandbox;
using testing_support::Tree;
using panel::MainForm;
using panel::MessageChannel;
using panel::SecurityLevelBox;
using panel::TrafficChart;
using panel::TrayIcon;
using panel::TrayNotice;

namespace {

std::string Setting(const char* name)
{
    return protocol::registry::GetString(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey, name);
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

QLabel* Label(QWidget& form, const char* name) { return form.findChild<QLabel*>(name); }

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3s)
{
    return testing_support::WaitUntil(done, limit);
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
    panel::PanelCore core;
    MainForm form(core);
    const int before = gui::ProgramIconDelegate::LookUps();
    form.Load();
    form.resize(880, 640);
    form.show();
    EXPECT_EQ(gui::ProgramIconDelegate::LookUps(), before); // none on the way to the window
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    // The rows drawn get theirs; the look-ups settle: the delegate's next
    // round is not due, and nothing the window has still to handle starts one.
    const auto* delegate = dynamic_cast<gui::ProgramIconDelegate*>(Tree(form)->itemDelegate());
    ASSERT_TRUE(delegate);
    const QTimer* nextRound = delegate->findChild<QTimer*>();
    ASSERT_TRUE(nextRound);
    ASSERT_TRUE(WaitFor([&] {
        QCoreApplication::processEvents();
        return gui::ProgramIconDelegate::LookUps() > before && !nextRound->isActive();
    }));
    const int seen = gui::ProgramIconDelegate::LookUps();
    const int rows = Tree(form)->viewport()->height() / Tree(form)->sizeHintForRow(0) + 1;
    EXPECT_GT(seen - before, 0);
    EXPECT_LE(seen - before, rows);
    // Scrolled to the end: those rows get theirs.
    Tree(form)->scrollToBottom();
    EXPECT_TRUE(WaitFor([&] { return gui::ProgramIconDelegate::LookUps() > seen; }));
    EXPECT_LT(gui::ProgramIconDelegate::LookUps() - before, 2 * rows + 2);
}

TEST_F(PanelWindow, BlockAllFollowsTheSecurityStatusAndWritesIt)
{
    for (const char* status : {"0", "1", "7"}) {
        sandbox.SetSetting("SecurityStatus", status);
        panel::PanelCore core;
        MainForm form(core);
        form.Load();
        QAction* blockAll = ToolButton(form, "BlockAll");
        ASSERT_TRUE(blockAll);
        EXPECT_EQ(blockAll->isChecked(), std::string(status) == "0") << status;
    }

    sandbox.SetSetting("SecurityStatus", "1");
    panel::PanelCore core;
    MainForm form(core);
    form.Load();
    EXPECT_EQ(form.windowTitle().toStdString(), protocol::kMainWindowTitle);
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
    panel::PanelCore core;
    MainForm form(core);
    form.Load();
    ASSERT_TRUE(form.RegisterWindow());
    form.showMinimized();
    form.hide();
    ASSERT_TRUE(panel::RestorePreviousInstance());
    EXPECT_TRUE(WaitFor([&] { return form.isVisible(); }));
    EXPECT_FALSE(form.isMinimized());
}

TEST(PanelWindowTools, SortingTwiceByTheSameColumnFlips)
{
    QTreeWidget list;
    list.setColumnCount(2);
    for (const char* name : {"b", "c", "a"})
        new QTreeWidgetItem(&list, QStringList {name, "x"});
    const auto first = [&] { return list.topLevelItem(0)->text(0).toStdString(); };
    panel::SortList(&list, 1, 0);
    EXPECT_EQ(first(), "a");
    panel::SortList(&list, 1, 0);
    EXPECT_EQ(first(), "c");
    panel::SortList(&list, 2, 0); // another column keeps the direction
    panel::SortList(&list, 1, 1);
    EXPECT_EQ(first(), "a");
    panel::SortList(&list, 1, 2);
    EXPECT_EQ(first(), "c");
    panel::SortList(&list, 9, 0); // no such column: nothing happens
    EXPECT_EQ(first(), "c");
    // Filled again, it is sorted as before.
    new QTreeWidgetItem(&list, QStringList {"d", "x"});
    panel::SortAsBefore(&list);
    EXPECT_EQ(first(), "d");
}

TEST(RuleDescriptions, AddressesOfEveryFormAsWrittenWhereverTheFileKeepsThem)
{
    // A denying rule's IPv6 items and prefixes go under ADDRESSES in the
    // file; read back, the rule reads as it was written.
    panel::RulesStore store;
    ASSERT_TRUE(store.LoadText(
        "<APPLICATIONS><APPLICATION><EXENAME>CURL</EXENAME><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
        "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><PORTS>"
        "<PORT><NUMBER>443</NUMBER><IPS><IP>2001:db8::1</IP><IP>10.0.0.0/8</IP></IPS></PORT>"
        "<PORT><NUMBER>8080</NUMBER><IPS><IP>fd00::1-fd00::ff</IP></IPS><HOSTS><HOST>x.example.org</HOST></HOSTS></PORT>"
        "</PORTS></RULE></RULES></APPLICATION></APPLICATIONS>"));
    const std::string written = "Block outgoing for : 443(2001:db8::1,10.0.0.0/8), 8080(fd00::1-fd00::ff,x.example.org)";
    ASSERT_TRUE(store.Find("CURL"));
    EXPECT_EQ(panel::RuleDescription(store.Find("CURL")->rules.at(0)), written);
    panel::RulesStore again;
    const std::string saved = store.Text();
    ASSERT_NE(saved.find("<ADDRESSES>"), std::string::npos);
    ASSERT_TRUE(again.LoadText(saved));
    // The port of names and addresses is written as two, as before.
    EXPECT_EQ(panel::RuleDescription(again.Find("CURL")->rules.at(0)),
              "Block outgoing for : 443(2001:db8::1,10.0.0.0/8), 8080(fd00::1-fd00::ff), 8080(x.example.org)");
}

// What a rule's row says it covers: "all ports" for port 0 alone, and a
// rule or port that covers nothing says so.
TEST(RuleDescriptions, SayWhatTheRuleCovers)
{
    const auto port = [](std::optional<std::string> number, std::optional<std::vector<std::string>> addresses = std::nullopt,
                         std::optional<std::vector<std::string>> hosts = std::nullopt) {
        rules::Port entry;
        entry.number = std::move(number);
        entry.addresses = std::move(addresses);
        entry.hosts = std::move(hosts);
        return entry;
    };
    const struct {
        rules::Permission permission;
        rules::Direction direction;
        std::vector<rules::Port> ports;
        const char* description;
    } cases[] = {
        {rules::Permission::kPermit, rules::Direction::kOutgoing, {}, "Allow outgoing for : nothing (no port)"},
        {rules::Permission::kDeny, rules::Direction::kIncoming, {port("0")}, "Block incoming for : all ports"},
        {rules::Permission::kPermit, rules::Direction::kOutgoing, {port("80"), port("0", {{"10.0.0.1"}})},
         "Allow outgoing for : 80, all ports(10.0.0.1)"},
        {rules::Permission::kAsk, rules::Direction::kOutgoing, {port("http")}, "Ask outgoing for : no port (\"http\")"},
        {rules::Permission::kPermit, rules::Direction::kOutgoing, {port("443", std::vector<std::string> {})},
         "Allow outgoing for : 443(no address)"},
        {rules::Permission::kPermit, rules::Direction::kOutgoing,
         {port("443", {{rules::rules_format::kNoAddress}}, {{"*.example.org"}})},
         "Allow outgoing for : 443(*.example.org)"},
    };
    for (const auto& c : cases) {
        rules::Rule rule;
        rule.permission = c.permission;
        rule.direction = c.direction;
        rule.ports = c.ports;
        EXPECT_EQ(panel::RuleDescription(rule), c.description);
    }
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

// The panel's palette, from a light desktop (Qt's own) and a dark one (the
// colours of KDE's Breeze Dark, which keep Qt's half-transparent hint and
// white on a light blue selection): text of every role used reads at 4.5,
// control edges and focus marks at 3, on every background they meet.
TEST(PanelWindowTools, PaletteReadsInLightAndDark)
{
    QPalette dark(QColor(239, 240, 241), QColor(49, 54, 59), QColor(70, 76, 82), QColor(30, 33, 36), QColor(60, 65, 70),
                  QColor(239, 240, 241), Qt::white, QColor(35, 38, 41), QColor(49, 54, 59));
    dark.setColor(QPalette::Highlight, QColor(61, 174, 233));
    dark.setColor(QPalette::HighlightedText, QColor(252, 252, 252));
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create("fusion"));
    const QPalette light = fusion->standardPalette();
    const auto drawn = [](const QPalette& palette, QPalette::ColorRole role, QPalette::ColorRole on) {
        const QColor colour = palette.color(role);
        const QColor background = palette.color(on);
        const double a = colour.alphaF();
        return QColor::fromRgbF(static_cast<float>(background.redF() * (1 - a) + colour.redF() * a),
                                static_cast<float>(background.greenF() * (1 - a) + colour.greenF() * a),
                                static_cast<float>(background.blueF() * (1 - a) + colour.blueF() * a));
    };
    EXPECT_LT(gui::Contrast(drawn(dark, QPalette::PlaceholderText, QPalette::Base), dark.color(QPalette::Base)), 4.5);
    for (const QPalette& given : {light, dark}) {
        const QPalette palette = gui::ReadablePalette(given);
        using R = QPalette::ColorRole;
        const std::pair<R, R> texts[] = {{R::Text, R::Base}, {R::WindowText, R::Window}, {R::ButtonText, R::Button},
                                         {R::PlaceholderText, R::Base}, {R::HighlightedText, R::Highlight}, {R::Link, R::Base}};
        for (const auto& [text, on] : texts)
            EXPECT_GE(gui::Contrast(drawn(palette, text, on), palette.color(on)), 4.5) << text << " on " << on;
        for (const R on : {R::Window, R::Base}) {
            EXPECT_GE(gui::Contrast(gui::EdgeColour(palette), palette.color(on)), 3.0) << on;
            EXPECT_GE(gui::Contrast(gui::FocusColour(palette), palette.color(on)), 3.0) << on;
        }
        // What read already stays as the desktop gave it.
        EXPECT_EQ(palette.color(R::Text), given.color(R::Text));
        EXPECT_EQ(palette.color(R::Base), given.color(R::Base));
    }
}

// The real program: a second copy asks the running one to show itself and ends.
TEST_F(PanelWindow, SecondCopyPostsTheRestoreCodeAndEnds)
{
    const std::map<std::string, std::string> env {{"QT_QPA_PLATFORM", "offscreen"}};
    {
        // The first copy here is this test: it holds the lock and has the window.
        panel::SingleInstance first;
        ASSERT_TRUE(first.Acquire());
        auto window = protocol::windows::Window::Register(protocol::kMainWindowTitle, {protocol::kPictureBoxClass});
        ASSERT_TRUE(window);
        const auto start = std::chrono::steady_clock::now();
        ChildProcess second({ZEL_PROGRAM}, env);
        EXPECT_EQ(second.Wait(5s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        const auto message = protocol::windows::ReceiveMessage(window->ChildSocket(0));
        ASSERT_TRUE(message);
        EXPECT_EQ(protocol::windows::ParamCode(message->lParam), protocol::kCodeRestoreWindow);

        // With no matching window it ends all the same, posting nothing.
        window.reset();
        auto other = protocol::windows::Window::Register(protocol::kMainWindowTitle, {"SomethingElse"});
        ChildProcess third({ZEL_PROGRAM}, env);
        EXPECT_EQ(third.Wait(5s), 0);
        EXPECT_FALSE(protocol::windows::ReceiveMessage(other->ChildSocket(0)));
    }
    // The real first copy answers the real second one.
    ChildProcess first({ZEL_PROGRAM}, env);
    ASSERT_TRUE(WaitFor([] { return !protocol::windows::FindWindow(protocol::kMainWindowTitle).empty(); }, 10s));
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

// The real main window over a rules file with one application of each
// kind, on the panel's clock standing still until a test moves it.
class MainWindow : public PanelWindow {
protected:
    void TearDown() override { gui::Clock::Instance().UseRealTime(); }
    void SetUp() override
    {
        gui::Clock::Instance().UseManualTime();
        sandbox.WriteRules(kWindowRules);
        sandbox.SetSetting("SecurityStatus", "1");
        form = std::make_unique<MainForm>(core);
        form->Load();
        form->show();
    }
    QTreeWidgetItem* Node(const QString& text) const { return testing_support::Node(*form, text); }
    QStringList Children(const QString& text) const
    {
        QStringList names;
        if (QTreeWidgetItem* group = Node(text))
            for (int i = 0; i < group->childCount(); ++i)
                names << group->child(i)->text(0);
        return names;
    }
    void Click(const QString& text) { testing_support::Click(*form, text); }
    template <typename T>
    T* Control(const char* name) const { return form->findChild<T*>(name); }
    QRadioButton* Button(const char* name) const { return Control<QRadioButton>(name); }
    QTreeWidget* Rules() const { return Control<QTreeWidget>("MainListView"); }
    std::optional<rules::Permission> Default(const char* app, rules::Direction direction) const
    {
        const rules::Application* found = core.Rules().Find(app);
        return direction == rules::Direction::kIncoming ? found->incoming : found->outgoing;
    }
    // A message as another process posts it to the window's message box.
    void Post(uint16_t code, uint32_t argument, const std::string& data = {})
    {
        Part<MessageChannel>(*form)->Handle(0, protocol::windows::MakeCodedParam(code, argument), data);
    }

    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
};

using rules::Direction;
using rules::Permission;

}  // namespace

TEST_F(MainWindow, TreeGroupsApplicationsByTheirDefaults)
{
    EXPECT_EQ(Children("Allowed Applications"), QStringList {"Internet explorer"});
    EXPECT_EQ(Children("Blocked Applications"), QStringList {"None"});
    // ASK/PERMIT, ASK/ASK, PERMIT/DENY, and empty defaults that follow ASK/PERMIT.
    EXPECT_EQ(Children("Combined Applications"), (QStringList {"Asker", "All ask", "Mixed", "Follower", "Sshd"}));
    // "ANY" is never an application node: its only node is the root.
    EXPECT_EQ(Tree(*form)->findItems("System settings", Qt::MatchFixedString | Qt::MatchRecursive).size(), 1);
    EXPECT_FALSE(Node("System settings")->parent());
    EXPECT_EQ(Children("Logs"), (QStringList {"Allowed incoming connection", "Allowed outgoing connection",
                                              "Blocked incoming connection", "Blocked outgoing connection"}));
    // By the application's name, or by the node's text in any case.
    EXPECT_EQ(Tree(*form)->FindNode("BOTH.EXE"), Node("Internet explorer"));
    EXPECT_EQ(Tree(*form)->FindNode("internet EXPLORER"), Node("Internet explorer"));
    EXPECT_EQ(Tree(*form)->FindNode("nothing"), nullptr);
}

// Every row of the page table has its node in the tree, under its parent's,
// and its entry on the toolbar where it has a slot; either shows the row's
// page alone on the right-hand side (the Logs root shows nothing of its own).
TEST_F(MainWindow, EveryPageOfTheTableIsInTheTreeAndOnTheToolbar)
{
    QWidget* column = Control<QScrollArea>("PageScroller")->widget();
    const auto shown = [&] {
        QStringList pages;
        for (QWidget* page : column->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (page->isVisible())
                pages << page->metaObject()->className();
        return pages;
    };
    // A part of the window's own views that only the row's page shows.
    const std::map<std::string, const char*> partOf {{"Sys", "SystemFrame"}, {"App", "AppListView"},
        {"Log1", "LogListView"}, {"Log2", "LogListView"}, {"Log3", "LogListView"}, {"Log4", "LogListView"}};
    for (const panel::PageRow& row : panel::PageTable()) {
        SCOPED_TRACE(row.key);
        QTreeWidgetItem* node = Tree(*form)->FindNode(row.key);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->text(0).toStdString(), row.title);
        EXPECT_EQ(panel::NavigationTree::NodeKey(node->parent()).toStdString(), row.parent ? row.parent : "");
        const std::unique_ptr<QWidget> own(row.factory ? row.factory(core, nullptr) : nullptr);
        const auto showsPage = [&] {
            if (own)
                return shown() == QStringList {own->metaObject()->className()};
            return shown().size() == 1 && Control<QWidget>(partOf.at(row.key))->isVisible()
                && (row.slot != panel::ToolSlot::kLogMenu || core.Selected().logKey == row.key);
        };
        Click("Blocked Applications");
        const QStringList before = shown();
        Click(row.title);
        EXPECT_TRUE(own || partOf.count(row.key) ? showsPage() : shown() == before);
        if (row.slot == panel::ToolSlot::kNone)
            continue;
        const char* holder = row.slot == panel::ToolSlot::kLogMenu ? "LogMnu" : "MainToolBar";
        QAction* entry = Part<QWidget>(*form, holder)->findChild<QAction*>(row.key);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->text().toStdString(), row.toolText);
        Click("Blocked Applications");
        entry->trigger();
        EXPECT_TRUE(showsPage());
        // Reached from the toolbar or the tree, the same title, in the words' own
        // case (a page of its own takes the place of the pane that shows it).
        if (!own) {
            EXPECT_EQ(Control<QLabel>("AppName")->text().toStdString(), row.title);
        }
    }
}

TEST_F(MainWindow, LogNodesShowTheirPortColumn)
{
    auto* log = Control<QTreeWidget>("LogListView");
    const auto headers = [&] {
        QStringList names;
        for (int i = 0; i < log->columnCount(); ++i)
            names << log->headerItem()->text(i);
        return names;
    };
    Click("Allowed outgoing connection");
    EXPECT_EQ(headers(), (QStringList {"ID", "Date", "Application", "Protocol", "Ip", "Remote port", "Reason", "Host"}));
    EXPECT_TRUE(log->isColumnHidden(0));
    EXPECT_TRUE(log->isVisible());
    EXPECT_FALSE(Rules()->isVisible());
    Click("Blocked incoming connection");
    EXPECT_EQ(headers()[5], "Local port");
    EXPECT_TRUE(Control<QGroupBox>("SystemFrame")->isHidden());
}

TEST_F(MainWindow, ApplicationViewShowsDefaultsAndListedRulesWithoutApplying)
{
    const std::string rulesBefore = testing_support::ReadText(sandbox.rulesFile);
    Click("Asker");
    EXPECT_TRUE(Button("InAsk")->isChecked());
    EXPECT_TRUE(Button("OutAllow")->isChecked());
    EXPECT_FALSE(Control<QCheckBox>("ApplyCustomCheck")->isChecked());
    // Setting the buttons from the rules applied nothing.
    EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), rulesBefore);
    EXPECT_EQ(core.Updates().Text(), "");

    // Rule 2 is kept out of sight; rule 3 is still called 3.
    ASSERT_EQ(Rules()->topLevelItemCount(), 2);
    QTreeWidgetItem* first = Rules()->topLevelItem(0);
    QTreeWidgetItem* third = Rules()->topLevelItem(1);
    EXPECT_EQ(first->text(0), "1");
    EXPECT_EQ(third->text(0), "3");
    EXPECT_EQ(first->text(2), "Allow outgoing for : 80, 8080(10.0.0.1,10.0.0.2)");
    EXPECT_EQ(third->text(2), "Block incoming for : nothing (no port)");
    EXPECT_EQ(first->checkState(0), Qt::Checked);
    EXPECT_TRUE(first->font(1).bold());
    EXPECT_EQ(first->foreground(2).color(), panel::Readable(QColor(0, 0, 255), Rules()->palette().color(QPalette::Base)));
    EXPECT_EQ(third->checkState(0), Qt::Unchecked);
    EXPECT_EQ(Label(*form, "AdditionalRuleNote")->text(), "There are additional rules at the advanced mode.");

    // Unticking writes the rule's state to the file at once, and publishes it.
    first->setCheckState(0, Qt::Unchecked);
    const std::string rules = testing_support::ReadText(sandbox.rulesFile);
    EXPECT_NE(rules.find("<RULENAME>first</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION>"
                         "<STATE>0</STATE>"),
              std::string::npos);
    EXPECT_FALSE(first->font(1).bold());
    EXPECT_EQ(core.Updates().Text(), " ASKER");

    Click("Follower");
    EXPECT_FALSE(Button("InAllow")->isChecked() || Button("InAsk")->isChecked() || Button("InBlock")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("ApplyCustomCheck")->isChecked());
    Click("Sshd");
    EXPECT_FALSE(Button("InAsk")->isEnabled());
    EXPECT_FALSE(Button("OutAsk")->isEnabled());
    EXPECT_EQ(Label(*form, "BlockActive")->text(), "");
}

TEST_F(MainWindow, ChoosingADefaultAppliesPublishesAndMovesTheApplication)
{
    Click("Internet explorer");
    Button("InBlock")->click();
    ASSERT_TRUE(Button("InBlock")->isChecked());
    EXPECT_EQ(Default("BOTH.EXE", Direction::kIncoming), Permission::kDeny);
    EXPECT_EQ(core.Updates().Text(), " BOTH.EXE");
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>BOTH.EXE</EXENAME><DESCRIPTION>INTERNET EXPLORER"
                                                                "</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF>"),
              std::string::npos);
    EXPECT_TRUE(Children("Combined Applications").contains("Internet explorer"));
    EXPECT_EQ(Tree(*form)->currentItem(), Node("Internet explorer"));
    // Applying it again publishes it once.
    Button("OutBlock")->click();
    EXPECT_EQ(core.Updates().Text(), " BOTH.EXE");
    EXPECT_TRUE(Children("Blocked Applications").contains("Internet explorer"));
    // "Apply system rules": the application follows the system settings.
    Control<QCheckBox>("ApplyCustomCheck")->click();
    EXPECT_FALSE(Default("BOTH.EXE", Direction::kIncoming));
    EXPECT_TRUE(Children("Combined Applications").contains("Internet explorer"));
    // "Ignore host lists" marks the entry at once; the system settings have no such box.
    Control<QCheckBox>("IgnoreListsCheck")->click();
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<IGNORELISTS>1</IGNORELISTS>"), std::string::npos);
    Click("System settings");
    EXPECT_TRUE(Control<QCheckBox>("IgnoreListsCheck")->isHidden());
}

// The parts follow the core's changes, whoever made them: the tree loads
// again where what it shows changed and stays as the user left it otherwise.
TEST_F(MainWindow, ChangesMadeOnTheCoreReachTheWindowsParts)
{
    Node("Combined Applications")->setExpanded(false);
    ASSERT_TRUE(core.SetRuleInForce("ASKER", 0, false));
    EXPECT_FALSE(Node("Combined Applications")->isExpanded());
    ASSERT_TRUE(core.SetDefault("BOTH.EXE", Direction::kIncoming, Permission::kDeny));
    EXPECT_TRUE(Children("Combined Applications").contains("Internet explorer"));
    EXPECT_FALSE(Children("Allowed Applications").contains("Internet explorer"));
    core.ApplyPreset(2); // a follower's group moves with the system settings
    EXPECT_EQ(Children("Allowed Applications"), QStringList {"Follower"});
    core.SetBlockAll(true);
    EXPECT_TRUE(ToolButton(*form, "BlockAll")->isChecked());
    EXPECT_TRUE(Control<QWidget>("BlockAllBanner")->isVisible());
    EXPECT_EQ(Label(*form, "BlockActive")->text(), "Block all is now active.");
}

TEST_F(MainWindow, SecurityLevelsAndBlockAllShowTheirStatus)
{
    auto* slider = Control<QSlider>("SecSlider");
    auto* combo = Control<QComboBox>("SecurityCombo");
    QLabel* info = Label(*form, "SecInfoText");
    Click("System settings");
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(combo->currentText(), "NORMAL");
    EXPECT_TRUE(info->text().startsWith("Status : Normal security "));
    // Choosing High from the combo box stores its defaults on the system settings.
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_EQ(Default("ANY", Direction::kIncoming), Permission::kDeny);
    EXPECT_EQ(Default("ANY", Direction::kOutgoing), Permission::kAsk);
    EXPECT_EQ(slider->value(), 0);
    EXPECT_TRUE(info->text().startsWith("Status : High security "));
    EXPECT_EQ(core.Updates().Text(), "");
    // The slider moved by the user: Low.
    slider->setValue(2);
    EXPECT_EQ(Default("ANY", Direction::kIncoming), Permission::kPermit);
    EXPECT_TRUE(info->text().startsWith("Status : Low security "));
    combo->setCurrentIndex(0);
    emit combo->activated(0);

    QAction* blockAll = form->findChild<QAction*>("BlockAll");
    blockAll->trigger();
    EXPECT_EQ(combo->placeholderText(), "BLOCK ALL");
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_TRUE(info->text().startsWith("Status : BLOCK ALL NETWORK "));
    Click("Asker");
    EXPECT_EQ(Label(*form, "BlockActive")->text(), "Block all is now active.");
    blockAll->trigger();
    Click("System settings");
    EXPECT_TRUE(combo->isEnabled());
    EXPECT_TRUE(info->text().startsWith("Status : High security "));
}

TEST_F(MainWindow, SecurityMenuChecksTheLevelAndSetsOnlyTheSystemSettings)
{
    auto* box = Part<SecurityLevelBox>(*form);
    QMenu* menu = Control<QMenu>("SecMEnu");
    emit box->customContextMenuRequested(QPoint(10, 10));
    menu->hide();
    EXPECT_TRUE(menu->findChild<QAction*>("NormalMenu")->isChecked());
    EXPECT_FALSE(menu->findChild<QAction*>("HighMenu")->isChecked());
    menu->findChild<QAction*>("LowMenu")->trigger();
    EXPECT_EQ(Default("ANY", Direction::kIncoming), Permission::kPermit);
    EXPECT_EQ(Default("ANY", Direction::kOutgoing), Permission::kPermit);
    EXPECT_EQ(Default("NONE", Direction::kIncoming), Permission::kDeny); // others keep theirs
    EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find("<EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS"
                                                                "</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>PERMIT</INDEF>"),
              std::string::npos);
    EXPECT_TRUE(Label(*form, "SecInfoText")->text().startsWith("Status : Low security "));
    core.SetMode(panel::SecurityMode::kCustom);
    emit box->customContextMenuRequested(QPoint(10, 10));
    menu->hide();
    for (QAction* item : menu->actions())
        EXPECT_FALSE(item->isChecked());
}

// The first start explains itself, once: each choice sets the level it names
// as the system settings' page does, chosen by keyboard alone; Skip and
// Escape change nothing. Every way out marks the window shown, and the next
// start does not show it.
TEST_F(MainWindow, FirstRunWindowShowsOnceAndSetsTheLevelChosen)
{
    const struct {
        const char* choice;            // clicked first, when any
        std::vector<const char*> keys; // then typed where the focus is (the first choice at the start)
        const char* button;            // clicked after the keys, when any
        std::optional<Permission> incoming; // the system settings' after; none: the file unchanged
        std::optional<Permission> outgoing;
    } cases[] = {
        {nullptr, {"Space", "Return"}, nullptr, Permission::kDeny, Permission::kAsk},
        {"AskIncoming", {"Return"}, nullptr, Permission::kAsk, Permission::kPermit},
        {nullptr, {"Space", "Escape"}, nullptr, std::nullopt, std::nullopt},
        {"AskIncoming", {}, "FirstRunSkip", std::nullopt, std::nullopt},
    };
    form->Protection()->SetSession(sandbox.root + "/install/", false);
    for (const auto& c : cases) {
        core.ApplyPreset(2); // Low: neither choice is in force
        sandbox.SetSetting("FirstRunShown", "0");
        core.Settings().FirstRunShown = false;
        const std::string before = testing_support::ReadText(sandbox.rulesFile);
        const bool shown = testing_support::WithModal([&] { form->OfferFirstRun(); }, [&](QDialog* window) {
            EXPECT_EQ(window->objectName(), "FirstRunWindow");
            EXPECT_EQ(window->focusWidget(), window->findChild<QRadioButton*>("AskEveryProgram"));
            EXPECT_FALSE(window->findChild<QPushButton*>("FirstRunDone")->isEnabled()) << "nothing chosen yet";
            // The side column's words for the same facts.
            EXPECT_EQ(window->findChild<QLabel*>("CoverageNow")->text(), Label(*form, "CoverageText")->text());
            EXPECT_EQ(window->findChild<QLabel*>("CoverageNextLogin")->text().toStdString(),
                      panel::CoverageText(panel::AtNextLogin(form->Protection()->Session())));
            if (c.choice)
                window->findChild<QRadioButton*>(c.choice)->click();
            for (const char* key : c.keys)
                QTest::keySequence(window->focusWidget(), QKeySequence(key));
            if (c.button)
                window->findChild<QPushButton*>(c.button)->click();
        });
        ASSERT_TRUE(shown);
        EXPECT_EQ(Setting("FirstRunShown"), "1");
        if (!c.incoming) {
            EXPECT_EQ(testing_support::ReadText(sandbox.rulesFile), before);
            continue;
        }
        EXPECT_EQ(Default("ANY", Direction::kIncoming), c.incoming);
        EXPECT_EQ(Default("ANY", Direction::kOutgoing), c.outgoing);
        EXPECT_EQ(core.Mode(), panel::SecurityMode::kNormal);
        // Written to the file the engines read, and shown on the system settings' page.
        EXPECT_NE(testing_support::ReadText(sandbox.rulesFile).find(
                      std::string("<INDEF>") + (*c.incoming == Permission::kDeny ? "DENY" : "ASK") + "</INDEF>"),
                  std::string::npos);
        EXPECT_EQ(Control<QSlider>("SecSlider")->value(), *c.incoming == Permission::kDeny ? 0 : 1);
    }
    // The next start reads that it was shown.
    panel::PanelCore next;
    next.LoadSettings(std::time(nullptr));
    int opened = 0;
    panel::FirstRunFlow flow(next, [&](const panel::FirstRunInput&) {
        ++opened;
        return std::nullopt;
    });
    EXPECT_FALSE(flow.Run(form->Protection()->Session()));
    EXPECT_EQ(opened, 0);
}

TEST_F(MainWindow, TrafficMessagesBecomeRatesAndTheRingWraps)
{
    QLabel* incoming = Label(*form, "IncomingLabel");
    QLabel* outgoing = Label(*form, "OutgoingLabel");
    auto* chart = Part<TrafficChart>(*form, "TChart1");
    const int start = chart->NewestPosition();
    for (int i = 0; i < 1024; ++i)
        Post(protocol::kCodeIncomingTraffic, 10); // 102,400 bytes in a second
    Post(protocol::kCodeOutgoingTraffic, 65535);  // 655,350 bytes
    gui::Clock::Instance().Advance(1000);
    EXPECT_EQ(incoming->text(), "Incoming traffic : \n100.00 Kb/sec");
    EXPECT_EQ(outgoing->text(), "Outgoing traffic : \n639.99 Kb/sec");
    const int position = chart->NewestPosition();
    EXPECT_EQ(position, start % 60 + 1);
    EXPECT_DOUBLE_EQ(chart->Series(0)->at(position - 1).y(), 100.0);
    gui::Clock::Instance().Advance(1000);
    EXPECT_EQ(incoming->text(), "Incoming traffic : \n0.00 Kb/sec");
    EXPECT_EQ(chart->NewestPosition(), position % 60 + 1);
    gui::Clock::Instance().Advance(59 * 1000);
    EXPECT_EQ(chart->NewestPosition(), position);
    EXPECT_EQ(chart->Series(0)->count(), 60);
}

// The profile in force shows in the status area within a second, its name
// escaped (anyone who writes the settings names it); none: nothing shows.
TEST_F(MainWindow, StatusAreaShowsTheProfileInForce)
{
    QLabel* profile = Label(*form, "ProfileText");
    EXPECT_FALSE(profile->isVisible());
    sandbox.SetSetting("ActiveProfile", "Caf\xc3\xa9\x1b[2J");
    gui::Clock::Instance().Advance(1000);
    EXPECT_TRUE(profile->isVisible());
    EXPECT_EQ(profile->text().toStdString(), "Profile: Caf\xc3\xa9\\x1b[2J");
    const panel::TrayIcon* tray = form->findChild<panel::TrayIcon*>();
    ASSERT_TRUE(tray);
    EXPECT_TRUE(tray->Tip().endsWith("\nProfile: Caf\u00e9\\x1b[2J")) << tray->Tip().toStdString();
    sandbox.SetSetting("ActiveProfile", "");
    gui::Clock::Instance().Advance(1000);
    EXPECT_FALSE(profile->isVisible());
    EXPECT_FALSE(tray->Tip().contains("Profile")) << tray->Tip().toStdString();
}

// An answer applied to one host reaches the window with the host's name and
// stores the program with its new rule, leaving the user's page and the
// keyboard where they were.
TEST_F(MainWindow, AnswerForOneHostStoresTheProgramWithItsNewRule)
{
    const uint32_t self = static_cast<uint32_t>(::getpid());
    const panel::Selection before = core.Selected();
    const QString page = Tree(*form)->currentItem()->text(0);
    // The new entry is bound to the program's file: known by its path.
    const std::string exePath
        = rules::rules_format::CleanCarrierPath(os::processes::ExecutablePath("/proc", ::getpid()));
    Post(protocol::kCodeOutgoingHostPermitted, self, "api.example.org");
    const rules::Application* app = core.Rules().Find(exePath);
    ASSERT_TRUE(app);
    ASSERT_EQ(app->rules.size(), 1u);
    ASSERT_EQ(app->rules[0].ports.size(), 1u);
    EXPECT_EQ(app->rules[0].ports[0].hosts, std::vector<std::string> {"api.example.org"});
    EXPECT_EQ(core.Selected().application, before.application);
    EXPECT_EQ(core.Selected().view, before.view);
    EXPECT_EQ(Tree(*form)->currentItem()->text(0), page);
    EXPECT_TRUE(Tree(*form)->ApplicationNode(exePath));
    // A pattern is never taken from a message.
    Post(protocol::kCodeOutgoingHostBlocked, self, "*.org");
    EXPECT_EQ(core.Rules().Find(exePath)->rules.size(), 1u);
}

namespace {

// org.freedesktop.Notifications' Notify and CloseNotification, as a desktop's
// notification server answers them: from a thread of its own, since the
// panel waits for the answer.
class NotificationServer : public QDBusVirtualObject {
public:
    NotificationServer()
    {
        thread_.start();
        moveToThread(&thread_);
    }
    ~NotificationServer() override
    {
        thread_.quit();
        thread_.wait();
    }
    QVariantList Notified() const
    {
        QMutexLocker lock(&mutex_);
        return notified_;
    }
    QList<uint> Closed() const
    {
        QMutexLocker lock(&mutex_);
        return closed_;
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != "org.freedesktop.Notifications")
            return false;
        QMutexLocker lock(&mutex_);
        if (message.member() == "Notify") {
            notified_ = message.arguments();
            connection.send(message.createReply(QVariant(7u)));
        } else if (message.member() == "CloseNotification") {
            closed_ << message.arguments().value(0).toUInt();
            connection.send(message.createReply());
        } else {
            return false;
        }
        return true;
    }

private:
    QThread thread_;
    mutable QMutex mutex_;
    QVariantList notified_;
    QList<uint> closed_;
};

}  // namespace

// Shut down, the panel leaves a notice that stays (the tray icon is gone
// with it); the next start takes it away.
TEST_F(MainWindow, TrayBringsTheWindowBackAndShutsDown)
{
    testing_support::PrivateSessionBus bus("notifications");
    NotificationServer server;
    if (bus.Available()) {
        QDBusConnection services = bus.Services();
        ASSERT_TRUE(services.registerVirtualObject("/org/freedesktop/Notifications", &server));
        ASSERT_TRUE(services.registerService("org.freedesktop.Notifications"));
    }
    auto* tray = Part<TrayIcon>(*form);
    ASSERT_TRUE(tray);
    form->showMinimized();
    form->hide();
    EXPECT_EQ(tray->MouseMessage(0x0202), 0);
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(tray->MouseMessage(0x0205), 1);
    EXPECT_EQ(tray->MouseMessage(0x0203), 0);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMinimized());

    core.Rules().Find("MIXED")->outgoing = Permission::kAsk;
    core.SetMode(panel::SecurityMode::kCustom);
    QAction* shutDown = form->findChild<QAction*>("ExitMnu");
    ASSERT_TRUE(shutDown);
    // The shutdown, once said yes to, ends the program's event loop.
    QTimer::singleShot(0, shutDown, [shutDown] {
        testing_support::WithModal([shutDown] { shutDown->trigger(); },
                                   [](QDialog* question) { question->findChild<QPushButton*>("ShutDownYes")->click(); });
    });
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
    // The notice's number (0 without a notification server) and the time of the shutdown.
    const QList<QByteArray> kept = QByteArray::fromStdString(testing_support::ReadText(sandbox.runtime + "/stopped-notice")).split('\n');
    ASSERT_EQ(kept.size(), 3);
    EXPECT_EQ(kept[0], bus.Available() ? "7" : "0");
    const qint64 at = kept[1].toLongLong();
    EXPECT_LE(std::abs(at - static_cast<qint64>(std::time(nullptr))), 5);
    if (bus.Available()) {
        const QVariantList notified = server.Notified();
        ASSERT_EQ(notified.size(), 8);
        EXPECT_EQ(notified.at(3).toString(), "Korvel Firewall is shut down");
        EXPECT_EQ(notified.at(7).toInt(), 0); // never expires
    }
    // The next start takes the notice away and says, on the Protection page
    // and in the side column, when and what went undecided; the one after says nothing.
    {
        MainForm again(core);
        if (bus.Available()) {
            // Sent without waiting for an answer: the start is not held by the server.
            EXPECT_TRUE(testing_support::WaitUntil([&server] { return !server.Closed().isEmpty(); }));
            EXPECT_EQ(server.Closed(), QList<uint> {7u});
        }
        EXPECT_NE(::access((sandbox.runtime + "/stopped-notice").c_str(), F_OK), 0);
        const QString said = QString("The firewall was shut down at %1. Connections made until it started again were "
                                     "neither decided by your rules nor logged.")
                                 .arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(at), QLocale::ShortFormat));
        EXPECT_EQ(Label(again, "EarlierShutdown")->text(), said);
        EXPECT_FALSE(Label(again, "EarlierShutdown")->isHidden());
        EXPECT_EQ(Label(again, "EarlierShutdownNotice")->text(), said);
        EXPECT_FALSE(Label(again, "EarlierShutdownNotice")->isHidden());
    }
    MainForm third(core);
    EXPECT_TRUE(Label(third, "EarlierShutdown")->isHidden());
    EXPECT_TRUE(Label(third, "EarlierShutdownNotice")->isHidden());
    if (!bus.Available())
        GTEST_SKIP() << "no /usr/bin/dbus-daemon: the notice is not tried";
}

// The runtime folder's "stopped-notice" is any program's of the user to
// write: what it holds shows at most as a wrong time, a FIFO is never waited
// on, a link never followed, and the next start says nothing of it.
using AttackStoppedNoticeFile = PanelWindow;
TEST_F(AttackStoppedNoticeFile, ShowsNoMoreThanAWrongTimeAndNeverWaits)
{
    const std::string file = sandbox.runtime + "/stopped-notice";
    const qint64 now = std::time(nullptr);
    const std::string unknown = "The firewall was shut down before this start.";
    const std::string elsewhere = sandbox.root + "/elsewhere";
    testing_support::WriteText(elsewhere, "0\n" + std::to_string(now - 60) + "\n");
    const struct {
        std::string content; // "fifo", "link": made as such
        const char* said;    // the start of the page's line; nullptr: nothing shown
    } cases[] = {
        {"7\nnot a time\n", unknown.c_str()},
        {"0\n99999999999999999999999\n", unknown.c_str()},
        {"0\n" + std::to_string(now + 86400 * 365) + "\n", unknown.c_str()},
        {"0\n-5\n", unknown.c_str()},
        {"0\n" + std::to_string(now - 60) + " <b>hello</b>\n", unknown.c_str()},
        {std::string("\xff\0\n\x01", 4), unknown.c_str()},
        {"0\n" + std::to_string(now - 60) + "\n" + std::string(1 << 20, '9'), unknown.c_str()},
        {"4294967296999\n" + std::to_string(now - 60) + "\n", "The firewall was shut down at "},
        {"fifo", nullptr},
        {"link", nullptr},
    };
    for (const auto& c : cases) {
        if (c.content == "fifo")
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        else if (c.content == "link")
            ASSERT_EQ(::symlink(elsewhere.c_str(), file.c_str()), 0);
        else
            testing_support::WriteText(file, c.content);
        const auto start = std::chrono::steady_clock::now();
        panel::PanelCore state;
        MainForm form(state);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
        const QLabel* page = Label(form, "EarlierShutdown");
        EXPECT_EQ(page->isHidden(), c.said == nullptr) << c.content.substr(0, 40);
        if (c.said) {
            EXPECT_TRUE(page->text().startsWith(c.said)) << page->text().toStdString();
        }
        EXPECT_EQ(Label(form, "EarlierShutdownNotice")->text(), page->text());
        struct stat left {};
        EXPECT_NE(::lstat(file.c_str(), &left), 0) << "gone after one start";
        EXPECT_EQ(testing_support::ReadText(elsewhere).substr(0, 2), "0\n") << "a link's target is left alone";
    }
}

TEST_F(MainWindow, NoticeRemembersNotToShowAgain)
{
    for (const bool tick : {false, true}) {
        TrayNotice notice(form.get());
        EXPECT_EQ(notice.windowTitle(), "  Closing Korvel Firewall");
        notice.findChild<QCheckBox*>("CheckNotToShow")->setChecked(tick);
        notice.show();
        notice.findChild<QPushButton*>("OkCmd")->click();
        EXPECT_EQ(notice.result(), QDialog::Accepted);
        EXPECT_EQ(notice.ShowAgain(), !tick);
        core.SetTrayNoticeShown(notice.ShowAgain());
        EXPECT_EQ(Setting("FirstClose"), tick ? "0" : "1");
    }
}

// On a 1366x768 screen (the offscreen platform told so by the two ctest
// entries of this test; skipped on any other): at scale 1 the status area
// is whole without scrolling; at scale 2 the log list shows ten rows.
TEST_F(MainWindow, FitsASmallScreen)
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const bool scale2 = screen == QSize(683, 384);
    if (screen != QSize(1366, 768) && !scale2)
        GTEST_SKIP() << "the screen is " << screen.width() << "x" << screen.height();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QApplication::processEvents();
    EXPECT_LE(form->frameGeometry().height(), screen.height());
    if (!scale2) {
        auto* status = Control<QScrollArea>("StatusScroller");
        EXPECT_EQ(status->verticalScrollBar()->maximum(), 0) << status->widget()->height() << " in " << status->height();
        return;
    }
    Part<QMenu>(*form, "LogMnu")->findChild<QAction*>("Log4")->trigger();
    auto* list = Control<QTreeWidget>("LogListView");
    for (int i = 0; i < 12; ++i)
        list->addTopLevelItem(new QTreeWidgetItem(QStringList {"row"}));
    QApplication::processEvents();
    const int row = list->visualItemRect(list->topLevelItem(0)).height();
    ASSERT_GT(row, 0);
    EXPECT_GE(list->viewport()->height() / row, 10);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
