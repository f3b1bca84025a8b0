// The log views, the statistics and the options dialog in the real window.
#include "core/ErrorLog.h"
#include "core/PanelCore.h"
#include "dialogs/ToolsOption.h"
#include "windows/MainForm.h"
#include "widgets/WindowTools.h"

#include "PanelWindowDriver.h"

#include "Sandbox.h"
#include "platform/Autostart.h"
#include "platform/Files.h"
#include "platform/LogFiles.h"
#include "platform/Registry.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
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

using testing_support::ReadText;
using testing_support::Part;
using testing_support::Sandbox;
using testing_support::WithModal;

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
    return platform::registry::GetString(platform::registry::RootKey::LocalMachine, platform::registry::kSettingsKey, name);
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
        testing_support::WriteText(platform::TrafficLogFileName(sandbox.logs, std::time(nullptr)),
                                   Record("/usr/bin/curl", "CURL", 1, 1, 80) + Record("/usr/sbin/sshd", "SSHD", 0, 0, 22, 1)
                                       + Record("/usr/bin/nc", "NC", 0, 2, 5000));
        panel::SetUrlOpener([this](const QUrl& url) {
            opened << url.toString();
            return true;
        });
        form = std::make_unique<MainForm>(core);
        form->Form_Load();
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
    EXPECT_EQ(Part<QLabel>(*form, "AppName")->text(), "BLOCKED INCOMING CONNECTION");
    EXPECT_EQ(Current()->text(0), "Blocked incoming connection");
    EXPECT_EQ(Applications(), QStringList {"NC"}); // the service only with "Show services"
    Part<QCheckBox>(*form, "ShowServicesCheck")->click();
    EXPECT_EQ(Applications(), (QStringList {"SSHD", "NC"}));
    EXPECT_EQ(Log()->topLevelItem(0)->text(5), "22(ssh)");
    EXPECT_EQ(Part<QLabel>(*form, "StatText")->text(), "Blocked intruders today : 2");
}

TEST_F(LogWindow, HalfMinuteRefreshShowsNewRecordsAndLeavesAnUnchangedLogBe)
{
    ChooseLog("Log4");
    ASSERT_EQ(Applications(), QStringList {});
    const std::string today = platform::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    testing_support::WriteText(today, ReadText(today) + Record("/usr/bin/nc", "NC", 1, 0, 25)
                                          + Record("/usr/bin/wget", "WGET", 1, 2, 443));
    emit form->HalfMinute();
    ASSERT_EQ(Applications(), (QStringList {"NC", "WGET"}));
    EXPECT_EQ(Log()->topLevelItem(1)->text(5), "443"); // no name in this ports list

    panel::SortList(Log(), 3, 2); // by application, descending
    Log()->setCurrentItem(Log()->topLevelItem(1));
    emit form->HalfMinute();
    EXPECT_EQ(Applications(), (QStringList {"WGET", "NC"}));
    EXPECT_EQ(Log()->currentItem()->text(2), "NC");

    // Another view between two visits: the log is shown again, sorted as chosen.
    testing_support::Click(*form, "Curl");
    ChooseLog("Log4");
    EXPECT_EQ(Applications(), (QStringList {"WGET", "NC"}));
}

TEST_F(LogWindow, AddressColumnSortsByFamilyThenValue)
{
    const std::string today = platform::TrafficLogFileName(sandbox.logs, std::time(nullptr));
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
    // Other columns sort as they did.
    panel::SortList(Log(), 1, 1);
    EXPECT_EQ(addresses(), (QStringList {"fd00::10", "10.0.0.10", "2001:db8::2", "10.0.0.9", "fd00::9", "9.1.1.1"}));
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
    EXPECT_EQ(Current()->text(0), "Nc");
    // A row of a program with an entry has no menu.
    ChooseLog("Log3");
    auto* log = Log();
    emit log->customContextMenuRequested(log->visualItemRect(log->topLevelItem(0)).center());
    EXPECT_FALSE(Part<QMenu>(*form, "AddNewMenu")->isVisible());
}

TEST_F(LogWindow, ApplicationViewShowsItsStatistics)
{
    testing_support::Click(*form, "Curl");
    EXPECT_TRUE(Part<QGroupBox>(*form, "AppStatFrame")->isVisibleTo(form.get()));
    EXPECT_EQ(Part<QLabel>(*form, "AppStatText")->text().toStdString(),
              "Application last time accessed : 08.12.2026 09:30:00\nRemote ports used : 80\nLocal ports used : \n");
}

TEST_F(LogWindow, HelpMenuOpensThePagesAndTheMail)
{
    for (const char* item : {"HelpSiteMnu", "HXSiteMnu", "ContactMnu"})
        Part<QMenu>(*form, "HelpMnu")->findChild<QAction*>(item)->trigger();
    ASSERT_EQ(opened.size(), 3);
    EXPECT_TRUE(opened[0].startsWith("file:///")) << opened[0].toStdString();
    EXPECT_EQ(opened[1], "https://tessary.org/");
    EXPECT_EQ(opened[2], "mailto:support@tessary.org?subject=Korvel Personal Firewall");
}

TEST_F(LogWindow, OptionsLoadAndStoreInTheirOrder)
{
    ASSERT_TRUE(platform::autostart::Enable("/usr/local/bin/zel"));
    core.Settings().LoadAtStartup = "/usr/local/bin/zel";
    Options([&](QDialog* options) {
        EXPECT_EQ(options->windowTitle(), "  General Settings");
        EXPECT_TRUE(options->findChild<QRadioButton*>("SecondOpt")->isChecked());
        EXPECT_EQ(options->findChild<QLineEdit*>("LogFiles")->text(), "30");
        EXPECT_TRUE(options->findChild<QCheckBox*>("StartupCheck")->isChecked());
        EXPECT_FALSE(options->findChild<QCheckBox*>("UdpModeCheck")->isChecked());
        EXPECT_FALSE(options->findChild<QCheckBox*>("ApplySettingsCheck")->isChecked());
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
    EXPECT_EQ(platform::autostart::Program(), "");
    EXPECT_NE(::access(platform::autostart::EntryPath().c_str(), F_OK), 0);

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
