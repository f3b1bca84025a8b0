// The log views, the statistics and the options dialog in the real window.
#include "panel/core/ErrorLog.h"
#include "panel/core/PanelCore.h"
#include "panel/dialogs/ToolsOption.h"
#include "panel/widgets/WindowTools.h"
#include "panel/windows/MainForm.h"

#include "tests/PanelWindowDriver.h"

#include "os/Files.h"
#include "protocol/LogFiles.h"
#include "protocol/Registry.h"
#include "session/Autostart.h"
#include "tests/Sandbox.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDate>
#include <QLocale>
#include <QTest>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

#include <ctime>

using testing_support::ReadText;
using testing_support::Part;
using testing_support::Sandbox;
using testing_support::WithModal;
using panel::MainForm;

namespace {

std::string Record(const std::string& path, const std::string& application, int direction, int permission, int port,
                   int service = 0)
{
    return "<DATE>08.12.2026</DATE><TIME>09:30:00</TIME><EXEPATH>" + path + "</EXEPATH><APPLICATION>" + application
        + "</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>" + std::to_string(direction)
        + "</DIRECTION><IP>10.0.0.9</IP><LOCALPORT>" + std::to_string(direction == 0 ? port : 0)
        + "</LOCALPORT><REMOTEPORT>" + std::to_string(direction == 0 ? 40000 : port) + "</REMOTEPORT><PERMISSION>"
        + std::to_string(permission) + "</PERMISSION><SERVICE>" + std::to_string(service) + "</SERVICE>\r\n";
}

std::string Setting(const char* name)
{
    return protocol::registry::GetString(protocol::registry::RootKey::LocalMachine, protocol::registry::kSettingsKey, name);
}

// The main window over today's log of a few programs.
class LogWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.InstallPanel("ssh 22\r\nhttp 80\r\n");
        sandbox.WriteRules("<APPLICATIONS><APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>CURL</DESCRIPTION>"
                           "<APPPATH>/usr/bin/curl</APPPATH><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
                           "<APPLICATION><EXENAME>ANY</EXENAME><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION>"
                           "</APPLICATIONS>");
        testing_support::WriteText(protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr)),
                                   Record("/usr/bin/curl", "CURL", 1, 1, 80) + Record("/usr/sbin/sshd", "SSHD", 0, 0, 22, 1)
                                       + Record("/usr/bin/nc", "NC", 0, 2, 5000));
        panel::SetUrlOpener([this](const QUrl& url) {
            opened << url.toString();
            return true;
        });
        form = std::make_unique<MainForm>(core);
        form->Load();
        form->show();
    }
    void TearDown() override
    {
        panel::SetUrlOpener(nullptr);
        panel::TheErrorLog().Close();
    }
    QTreeWidget* Log() const { return Part<QTreeWidget>(*form, "LogListView"); }
    QStringList Applications() const
    {
        QStringList names;
        for (int i = 0; i < Log()->topLevelItemCount(); ++i)
            names << Log()->topLevelItem(i)->text(2);
        return names;
    }
    void ChooseLog(const char* key) { Part<QMenu>(*form, "LogMnu")->findChild<QAction*>(key)->trigger(); }
    QTreeWidgetItem* Current() const { return testing_support::Tree(*form)->currentItem(); }
    // The options dialog, opened from the toolbar.
    void Options(const std::function<void(QDialog*)>& handle)
    {
        ASSERT_TRUE(WithModal([&] { form->findChild<QAction*>("ToolsSet")->trigger(); }, handle));
    }

    Sandbox sandbox;
    panel::PanelCore core;
    std::unique_ptr<MainForm> form;
    QStringList opened;
};

}  // namespace

TEST_F(LogWindow, LogMenuShowsTheViewWithItsCaptionAndNode)
{
    ChooseLog("Log3");
    EXPECT_EQ(Part<QLabel>(*form, "AppName")->text(), "Blocked incoming connection");
    EXPECT_EQ(Current()->text(0), "Blocked incoming connection");
    EXPECT_EQ(Applications(), QStringList {"nc"}); // the service only with "Show services"
    // With them, the services' own records, where the user may read them.
    const std::string machine = sandbox.root + "/machine";
    os::MakeDirectories(machine + "/var/log/korvel/services");
    testing_support::WriteText(protocol::TrafficLogFileName(machine + "/var/log/korvel/services", std::time(nullptr)),
                               Record("/usr/sbin/ntpd", "NTPD", 0, 0, 123));
    ::setenv("ZEL_SERVICES_ROOT", machine.c_str(), 1);
    Part<QCheckBox>(*form, "ShowServicesCheck")->click();
    ::unsetenv("ZEL_SERVICES_ROOT");
    EXPECT_EQ(Applications(), (QStringList {"nc", "sshd", "ntpd"})); // newest first, the user's first at a tie
    EXPECT_EQ(Log()->topLevelItem(1)->text(5), "22(ssh)");
    EXPECT_EQ(Part<QLabel>(*form, "StatText")->text(), "Blocked intruders today : 2");
    // A service's row makes nothing in the user's rules: the menu says where its rules are.
    Log()->setCurrentItem(Log()->topLevelItem(2));
    QTest::keyClick(Log(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(Part<QMenu>(*form, "LogRowMenu")->isVisible());
    EXPECT_TRUE(form->findChild<QAction*>("MachineRowFromLog")->isVisible());
    for (const char* action : {"MakeRuleFromLog", "AddProgramFromLog"})
        EXPECT_FALSE(form->findChild<QAction*>(action)->isVisible()) << action;
    Part<QMenu>(*form, "LogRowMenu")->hide();
    const std::string before = ReadText(sandbox.rulesFile);
    form->findChild<QAction*>("AddNewLogMnu")->trigger();
    EXPECT_FALSE(core.Rules().Find("/usr/sbin/ntpd"));
    EXPECT_EQ(ReadText(sandbox.rulesFile), before);
}

TEST_F(LogWindow, HalfMinuteRefreshShowsNewRecordsAndLeavesAnUnchangedLogBe)
{
    ChooseLog("Log4");
    ASSERT_EQ(Applications(), QStringList {});
    const std::string today = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    testing_support::WriteText(today, ReadText(today) + Record("/usr/bin/nc", "NC", 1, 0, 25)
                                          + Record("/usr/bin/wget", "WGET", 1, 2, 443));
    emit form->HalfMinute();
    ASSERT_EQ(Applications(), (QStringList {"wget", "nc"}));
    EXPECT_EQ(Log()->topLevelItem(0)->text(5), "443"); // no name in this ports list

    panel::SortList(Log(), 3, 2); // by application, descending
    Log()->setCurrentItem(Log()->topLevelItem(1));
    emit form->HalfMinute();
    EXPECT_EQ(Applications(), (QStringList {"wget", "nc"}));
    EXPECT_EQ(Log()->currentItem()->text(2), "nc");

    // Another view between two visits: the log is shown again, sorted as chosen.
    testing_support::Click(*form, "curl");
    ChooseLog("Log4");
    EXPECT_EQ(Applications(), (QStringList {"wget", "nc"}));
}

TEST_F(LogWindow, AddressColumnSortsByFamilyThenValue)
{
    const std::string today = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    std::string log;
    for (const char* address : {"fd00::10", "10.0.0.10", "2001:db8::2", "10.0.0.9", "fd00::9", "9.1.1.1"}) {
        std::string record = Record("/usr/bin/wget", "WGET", 1, 0, 443);
        record.replace(record.find("10.0.0.9"), 8, address);
        log += record;
    }
    testing_support::WriteText(today, log);
    ChooseLog("Log4");
    const auto addresses = [&] {
        QStringList shown;
        for (int i = 0; i < Log()->topLevelItemCount(); ++i)
            shown << Log()->topLevelItem(i)->text(4);
        return shown;
    };
    panel::SortList(Log(), 5, 1);
    EXPECT_EQ(addresses(), (QStringList {"9.1.1.1", "10.0.0.9", "10.0.0.10", "2001:db8::2", "fd00::9", "fd00::10"}));
    panel::SortList(Log(), 5, 2);
    EXPECT_EQ(addresses(), (QStringList {"fd00::10", "fd00::9", "2001:db8::2", "10.0.0.10", "10.0.0.9", "9.1.1.1"}));
    // Other columns sort as they did: the hidden first one is the order shown at first, newest first.
    panel::SortList(Log(), 1, 1);
    EXPECT_EQ(addresses(), (QStringList {"9.1.1.1", "fd00::9", "10.0.0.9", "2001:db8::2", "10.0.0.10", "fd00::10"}));
    // The date column sorts by when, oldest first when ascending.
    panel::SortList(Log(), 2, 1);
    EXPECT_EQ(addresses(), (QStringList {"fd00::10", "10.0.0.10", "2001:db8::2", "10.0.0.9", "fd00::9", "9.1.1.1"}));
}

// The date column in the user's locale, German or British, never the
// writer's; sorted by when the records were written, not by that text; a
// date that cannot be read shown as it was written.
TEST_F(LogWindow, DatesAreShownInTheUsersLocaleAndSortByWhen)
{
    const std::time_t now = std::time(nullptr);
    std::tm today {};
    ::localtime_r(&now, &today);
    char written[16];
    std::strftime(written, sizeof written, "%m/%d/%Y", &today); // as an American locale writes it
    std::string log;
    for (const char* time : {"09:30:05", "02:00:00 PM", "09:45:00", "someday"}) {
        std::string record = Record("/usr/bin/wget", "WGET", 1, 0, 443);
        record.replace(record.find("08.12.2026"), 10, std::string(time) == "someday" ? time : written);
        record.replace(record.find("09:30:00"), 8, std::string(time) == "someday" ? "09:30:00" : time);
        log += record;
    }
    testing_support::WriteText(protocol::TrafficLogFileName(sandbox.logs, now), log);
    const QLocale before;
    const QDate day = QDate::currentDate();
    const auto dates = [&] {
        QStringList shown;
        for (int i = 0; i < Log()->topLevelItemCount(); ++i)
            shown << Log()->topLevelItem(i)->text(1);
        return shown;
    };
    for (const auto& [locale, date] : {std::pair {"de_DE", day.toString("dd.MM.yy")}, std::pair {"en_GB", day.toString("dd/MM/yyyy")}}) {
        QLocale::setDefault(QLocale(locale));
        ChooseLog("Log4");
        EXPECT_EQ(dates(), (QStringList {"someday 09:30:00", date + " 09:45:00", date + " 14:00:00", date + " 09:30:05"}))
            << locale;
        panel::SortList(Log(), 2, 1);
        EXPECT_EQ(dates(), (QStringList {"someday 09:30:00", date + " 09:30:05", date + " 09:45:00", date + " 14:00:00"}))
            << locale;
        panel::SortList(Log(), 1, 1); // as shown at first again
    }
    QLocale::setDefault(before);
}

TEST_F(LogWindow, AddingTheProgramOfALogRow)
{
    ChooseLog("Log3");
    Log()->setCurrentItem(Log()->topLevelItem(0));
    form->findChild<QAction*>("AddNewLogMnu")->trigger();
    const rules::Application* nc = core.Rules().Find("/usr/bin/nc");
    ASSERT_TRUE(nc);
    EXPECT_EQ(nc->incoming, rules::Permission::kAsk);
    EXPECT_EQ(nc->outgoing, rules::Permission::kPermit);
    EXPECT_EQ(nc->path, "/usr/bin/nc");
    EXPECT_EQ(core.Updates().Text(), " NC");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>NC</EXENAME>"), std::string::npos);
    EXPECT_EQ(Current()->text(0), "nc");
    // The row's menu: adding only for a program without an entry; no
    // internal names in any menu of the log.
    ChooseLog("Log3");
    auto* log = Log();
    auto* menu = Part<QMenu>(*form, "LogRowMenu");
    const QPoint at = log->visualItemRect(log->topLevelItem(0)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, log->viewport()->mapToGlobal(at));
    QApplication::sendEvent(log->viewport(), &click);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_FALSE(form->findChild<QAction*>("AddProgramFromLog")->isVisible());
    EXPECT_TRUE(form->findChild<QAction*>("MakeRuleFromLog")->isVisible());
    menu->hide();
    for (const QMenu* shown : {menu, Part<QMenu>(*form, "AddNewMenu")})
        for (const QAction* action : shown->actions())
            EXPECT_FALSE(action->text().contains("AddNew") || action->text().contains("Mnu")) << action->text().toStdString();
    EXPECT_EQ(Part<QMenu>(*form, "AddFromLogMnu")->title(), "From the selected log row");
}

// Newest first, a reason for each decision, a search and a day chooser;
// Ctrl+F reaches the search, Down the list.
TEST_F(LogWindow, SearchDaysAndReasonsInTheLog)
{
    const auto with = [](std::string record, const std::string& address, const std::string& tail) {
        record.replace(record.find("10.0.0.9"), 8, address);
        return record.insert(record.find("\r\n"), tail);
    };
    const std::string today = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    testing_support::WriteText(protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr) - 86400),
                               Record("/usr/bin/wget", "WGET", 1, 0, 21));
    testing_support::WriteText(today, Record("/usr/bin/nc", "NC", 1, 0, 25)
                                          + with(Record("/usr/bin/wget", "WGET", 1, 0, 443), "192.0.2.8",
                                                 "<HOST>ads.example.net</HOST><REASON>rule</REASON>")
                                          + with(Record("/usr/bin/curl", "CURL", 1, 2, 80), "198.51.100.3",
                                                 "<REASON>timeout</REASON>")
                                          + Record("/usr/bin/nc", "NC", 0, 0, 4444));
    ChooseLog("Log4");
    EXPECT_EQ(Applications(), (QStringList {"curl", "wget", "nc", "wget"}));
    EXPECT_EQ(Log()->headerItem()->text(6), "Reason");
    EXPECT_EQ(Log()->topLevelItem(0)->text(6), "Time-out");
    EXPECT_EQ(Log()->topLevelItem(1)->text(6), "Rule");
    EXPECT_EQ(Log()->topLevelItem(2)->text(6), ""); // an older record
    EXPECT_EQ(Log()->topLevelItem(1)->text(7), "ads.example.net");

    auto* search = Part<QLineEdit>(*form, "LogSearch");
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Log()->setFocus();
    QTest::keyClick(Log(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(search->hasFocus());
    const std::pair<const char*, QStringList> searches[] = {
        {"example.net", {"wget"}}, {"198.51", {"curl"}}, {"25", {"nc"}}, {"wget", {"wget", "wget"}}, {"", {"curl", "wget", "nc", "wget"}}};
    for (const auto& [text, found] : searches) {
        search->selectAll();
        QTest::keyClicks(search, text);
        if (!*text)
            QTest::keyClick(search, Qt::Key_Delete);
        QTest::keyClick(search, Qt::Key_Return);
        EXPECT_EQ(Applications(), found) << text;
    }
    EXPECT_TRUE(Log()->hasFocus());
    // Each view keeps its own search: one made here does not empty another.
    QTest::keyClicks(search, "wget");
    QTest::keyClick(search, Qt::Key_Return);
    ChooseLog("Log3");
    EXPECT_EQ(search->text(), "");
    EXPECT_EQ(Applications(), QStringList {"nc"});
    ChooseLog("Log4");
    EXPECT_EQ(search->text(), "wget");
    EXPECT_EQ(Applications(), (QStringList {"wget", "wget"}));
    search->clear();

    auto* day = Part<QComboBox>(*form, "LogDay");
    ASSERT_EQ(day->count(), 3); // all days, today, yesterday
    EXPECT_EQ(day->itemText(0), "All days");
    day->setCurrentIndex(2);
    emit day->activated(2);
    EXPECT_EQ(Applications(), QStringList {"wget"});
    // The day stays chosen across the refresh.
    emit form->HalfMinute();
    EXPECT_EQ(day->currentIndex(), 2);
    EXPECT_EQ(Applications(), QStringList {"wget"});
}

// The row's menu from the keyboard (the Menu key, Shift+F10), and a rule
// made from a row: the editor opens with the row's direction, decision,
// port and peer; OK puts the rule first (adding the program), Cancel
// changes nothing.
TEST_F(LogWindow, MakeARuleFromARowFillsTheEditor)
{
    const std::string today = protocol::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    std::string named = Record("/usr/bin/wget", "WGET", 1, 0, 80);
    named.insert(named.find("\r\n"), "<HOST>ads.example.net</HOST>");
    testing_support::WriteText(today, ReadText(today) + named);
    ChooseLog("Log4");
    ASSERT_EQ(Applications(), QStringList {"wget"});
    auto* log = Log();
    log->setFocus();
    log->setCurrentItem(log->topLevelItem(0));
    auto* menu = Part<QMenu>(*form, "LogRowMenu");
    for (const auto& [key, modifiers] : {std::pair {Qt::Key_Menu, Qt::NoModifier}, std::pair {Qt::Key_F10, Qt::ShiftModifier}}) {
        if (key == Qt::Key_Menu) {
            // What the Menu key sends to the focused list.
            QContextMenuEvent press(QContextMenuEvent::Keyboard, QPoint(1, 1), log->viewport()->mapToGlobal(QPoint(1, 1)));
            QApplication::sendEvent(log->viewport(), &press);
        } else {
            QTest::keyClick(log, key, modifiers);
        }
        EXPECT_TRUE(menu->isVisible()) << key;
        EXPECT_TRUE(form->findChild<QAction*>("AddProgramFromLog")->isVisible());
        menu->hide();
    }

    const auto editor = [&](const std::function<void(QDialog*)>& handle) {
        ASSERT_TRUE(WithModal([&] { form->findChild<QAction*>("MakeRuleFromLog")->trigger(); }, handle));
    };
    // Cancelled: nothing added.
    editor([](QDialog* dialog) { dialog->reject(); });
    EXPECT_FALSE(core.Rules().Find("/usr/bin/wget"));
    editor([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Add rule");
        EXPECT_EQ(dialog->findChild<QLineEdit*>("AppNameLabel")->text(), "wget");
        EXPECT_EQ(dialog->findChild<QLineEdit*>("RuleName")->text(), "Block ads.example.net port 80");
        EXPECT_EQ(dialog->findChild<QComboBox*>("PermissionCombo")->currentText(), "Block");
        EXPECT_EQ(dialog->findChild<QComboBox*>("DirectionCombo")->currentText(), "Outgoing");
        auto* ports = dialog->findChild<QTreeWidget*>("PortsListView");
        ASSERT_EQ(ports->topLevelItemCount(), 1);
        EXPECT_EQ(ports->topLevelItem(0)->text(0), "80");
        // Adjusted before saving: permitted instead.
        auto* permission = dialog->findChild<QComboBox*>("PermissionCombo");
        permission->setCurrentIndex(permission->findText("Allow"));
        dialog->findChild<QPushButton*>("FinishCmd")->click();
    });
    const rules::Application* wget = core.Rules().Find("/usr/bin/wget");
    ASSERT_TRUE(wget);
    ASSERT_EQ(wget->rules.size(), 1u);
    const rules::Rule& rule = wget->rules[0];
    EXPECT_EQ(rule.direction, rules::Direction::kOutgoing);
    EXPECT_EQ(rule.permission, rules::Permission::kPermit);
    ASSERT_FALSE(rule.ports.empty());
    EXPECT_EQ(rule.ports[0].number, "80");
    ASSERT_TRUE(rule.ports[0].hosts);
    EXPECT_EQ(*rule.ports[0].hosts, std::vector<std::string> {"ads.example.net"});
    EXPECT_NE(ReadText(sandbox.rulesFile).find("ads.example.net"), std::string::npos);

    // An incoming row of a program with rules: by its address, first among them.
    ChooseLog("Log3");
    ASSERT_EQ(Applications(), QStringList {"nc"});
    Log()->setCurrentItem(Log()->topLevelItem(0));
    editor([](QDialog* dialog) { dialog->findChild<QPushButton*>("FinishCmd")->click(); });
    // Saved, the program's page shows its new rule; back to the log for another.
    EXPECT_EQ(Current()->text(0), "nc");
    ChooseLog("Log3");
    Log()->setCurrentItem(Log()->topLevelItem(0));
    editor([](QDialog* dialog) {
        EXPECT_EQ(dialog->findChild<QLineEdit*>("RuleName")->text(), "Block 10.0.0.9 port 5000");
        EXPECT_EQ(dialog->findChild<QComboBox*>("DirectionCombo")->currentText(), "Incoming");
        dialog->findChild<QLineEdit*>("RuleName")->setText("second");
        dialog->findChild<QPushButton*>("FinishCmd")->click();
    });
    const rules::Application* nc = core.Rules().Find("/usr/bin/nc");
    ASSERT_TRUE(nc);
    ASSERT_EQ(nc->rules.size(), 2u);
    EXPECT_EQ(nc->rules[0].name, "second");
    EXPECT_EQ(nc->rules[0].direction, rules::Direction::kIncoming);
    EXPECT_EQ(nc->rules[0].ports[0].number, "5000");
    EXPECT_EQ(nc->rules[0].ports[0].addresses, std::vector<std::string> {"10.0.0.9"});
}

TEST_F(LogWindow, ApplicationViewShowsItsStatistics)
{
    testing_support::Click(*form, "curl");
    EXPECT_TRUE(Part<QGroupBox>(*form, "AppStatFrame")->isVisibleTo(form.get()));
    EXPECT_EQ(Part<QLabel>(*form, "AppStatText")->text().toStdString(),
              "Application last time accessed : 08.12.2026 09:30:00\nRemote ports used : 80\nLocal ports used : \n");
}

TEST_F(LogWindow, HelpMenuOpensThePagesAndTheMail)
{
    for (const char* item : {"HelpSiteMnu", "HXSiteMnu", "ContactMnu"})
        Part<QMenu>(*form, "HelpMnu")->findChild<QAction*>(item)->trigger();
    // The user guide is the panel's own window; the web site and the mail the desktop's.
    EXPECT_TRUE(form->findChild<QDialog*>("HelpWindow") && form->findChild<QDialog*>("HelpWindow")->isVisible());
    EXPECT_EQ(opened, QStringList({"https://tessary.org/", "mailto:support@tessary.org?subject=Korvel Personal Firewall"}));
}

TEST_F(LogWindow, OptionsLoadAndStoreInTheirOrder)
{
    ASSERT_TRUE(session::autostart::Enable("/usr/local/bin/zel"));
    core.Settings().LoadAtStartup = "/usr/local/bin/zel";
    Options([&](QDialog* options) {
        EXPECT_EQ(options->windowTitle(), "  General Settings");
        EXPECT_TRUE(options->findChild<QRadioButton*>("SecondOpt")->isChecked());
        EXPECT_EQ(options->findChild<QLineEdit*>("LogFiles")->text(), "30");
        EXPECT_TRUE(options->findChild<QCheckBox*>("StartupCheck")->isChecked());
        EXPECT_FALSE(options->findChild<QCheckBox*>("UdpModeCheck")->isChecked());
        EXPECT_FALSE(options->findChild<QCheckBox*>("ApplySettingsCheck")->isChecked());
        // Choices that change nothing are not offered; their settings stay as stored.
        EXPECT_FALSE(options->findChild<QCheckBox*>("UdpModeCheck")->isVisibleTo(options));
        EXPECT_FALSE(options->findChild<QRadioButton*>("SecondOpt")->isVisibleTo(options));
        // Unchanged ApplySettings is not written; autostart goes with its entry.
        sandbox.DeleteSetting("ApplySettings");
        options->findChild<QLineEdit*>("LogFiles")->setText("7");
        options->findChild<QCheckBox*>("UdpModeCheck")->setChecked(true);
        options->findChild<QCheckBox*>("StartupCheck")->setChecked(false);
        options->findChild<QPushButton*>("OkBtn")->click();
    });
    EXPECT_EQ(Setting("LogFileCount"), "7");
    EXPECT_EQ(Setting("UpdFullMode"), "1");
    EXPECT_EQ(Setting("ApplySettings"), "");
    EXPECT_EQ(session::autostart::Program(), "");
    EXPECT_NE(::access(session::autostart::EntryPath().c_str(), F_OK), 0);

    // A number of days that is not a number: written, and nothing after it.
    Options([&](QDialog* options) {
        options->findChild<QLineEdit*>("LogFiles")->setText("a week");
        options->findChild<QCheckBox*>("UdpModeCheck")->setChecked(false);
        options->findChild<QCheckBox*>("ApplySettingsCheck")->setChecked(true);
        options->findChild<QPushButton*>("OkBtn")->click();
        EXPECT_TRUE(options->isVisible()); // the dialog stays
    });
    EXPECT_EQ(Setting("LogFileCount"), "a week");
    EXPECT_EQ(Setting("UpdFullMode"), "1");
    EXPECT_EQ(Setting("ApplySettings"), "");
}

// What answers a question nobody can see: shown as zel-setup made it
// (Block after 30 s), written when the user changes it.
TEST_F(LogWindow, AwayAnswerIsChosenWithItsSeconds)
{
    sandbox.SetSetting("AwayAnswer", "2");
    sandbox.SetSetting("AwayTimeout", "30");
    Options([&](QDialog* options) {
        auto* answer = options->findChild<QComboBox*>("AwayAnswerCombo");
        auto* seconds = options->findChild<QSpinBox*>("AwayTimeoutSeconds");
        EXPECT_EQ(answer->currentText(), "Block");
        EXPECT_EQ(seconds->value(), 30);
        answer->setCurrentIndex(1);
        seconds->setValue(0);
        options->findChild<QPushButton*>("OkBtn")->click();
    });
    EXPECT_EQ(Setting("AwayAnswer"), "1");
    EXPECT_EQ(Setting("AwayTimeout"), "0");
    Options([&](QDialog* options) {
        EXPECT_EQ(options->findChild<QComboBox*>("AwayAnswerCombo")->currentText(), "Allow");
        EXPECT_EQ(options->findChild<QSpinBox*>("AwayTimeoutSeconds")->value(), 0);
    });
}

TEST_F(LogWindow, JournalRecordsAreOffUntilChosen)
{
    const auto check = [](QDialog* options) { return options->findChild<QCheckBox*>("JournalRecordsCheck"); };
    const auto ok = [](QDialog* options) { options->findChild<QPushButton*>("OkBtn")->click(); };
    Options([&](QDialog* options) {
        EXPECT_FALSE(check(options)->isChecked());
        ok(options);
    });
    EXPECT_EQ(Setting("JournalRecords"), ""); // nothing chosen, nothing written
    Options([&](QDialog* options) {
        check(options)->setChecked(true);
        ok(options);
    });
    EXPECT_EQ(Setting("JournalRecords"), "1");
    Options([&](QDialog* options) {
        EXPECT_TRUE(check(options)->isChecked());
        check(options)->setChecked(false);
        ok(options);
    });
    EXPECT_EQ(Setting("JournalRecords"), "0");
}

TEST_F(LogWindow, AlertTimeOutIsOffUntilChosenAndKeptAsSeconds)
{
    Options([&](QDialog* options) {
        EXPECT_FALSE(options->findChild<QCheckBox*>("AlertTimeoutCheck")->isChecked());
        EXPECT_FALSE(options->findChild<QSpinBox*>("AlertTimeoutSeconds")->isEnabled());
        options->findChild<QPushButton*>("OkBtn")->click();
    });
    EXPECT_EQ(Setting("AlertTimeout"), ""); // nothing chosen, nothing written
    Options([&](QDialog* options) {
        options->findChild<QCheckBox*>("AlertTimeoutCheck")->setChecked(true);
        options->findChild<QSpinBox*>("AlertTimeoutSeconds")->setValue(45);
        options->findChild<QPushButton*>("OkBtn")->click();
    });
    EXPECT_EQ(Setting("AlertTimeout"), "45");
    Options([&](QDialog* options) {
        EXPECT_TRUE(options->findChild<QCheckBox*>("AlertTimeoutCheck")->isChecked());
        EXPECT_EQ(options->findChild<QSpinBox*>("AlertTimeoutSeconds")->value(), 45);
        options->findChild<QCheckBox*>("AlertTimeoutCheck")->setChecked(false);
        options->findChild<QPushButton*>("OkBtn")->click();
    });
    EXPECT_EQ(Setting("AlertTimeout"), "0");
}
