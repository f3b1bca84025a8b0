// The log views, the statistics and the options dialog in the real window.
#include "editing/ToolsOption.h"
#include "settings/GeneralMdl.h"
#include "windows/MainForm.h"
#include "windows/WindowTools.h"

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
using testing_support::Sandbox;

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
        form = std::make_unique<MainForm>(state);
        form->OpenUrl = [this](const QUrl& url) {
            opened << url.toString();
            return true;
        };
        form->Form_Load();
        form->show();
    }
    void TearDown() override { panel::TheErrorLog().Close(); }
    QStringList Applications() const
    {
        QStringList names;
        for (int i = 0; i < form->MainListView->topLevelItemCount(); ++i)
            names << form->MainListView->topLevelItem(i)->text(2);
        return names;
    }

    Sandbox sandbox;
    panel::PanelState state;
    std::unique_ptr<MainForm> form;
    QStringList opened;
};

}  // namespace

TEST_F(LogWindow, LogMenuShowsTheViewWithItsCaptionAndNode)
{
    form->LogMenu()->findChild<QAction*>("Log3")->trigger();
    EXPECT_EQ(form->AppName->text(), "DENIED INCOMING CONNECTION");
    EXPECT_EQ(form->MainTreeView->currentItem()->text(0), "Denied incoming connection");
    EXPECT_EQ(Applications(), QStringList {"NC"}); // the service only with "Show services"
    form->ShowServicesCheck->click();
    EXPECT_EQ(Applications(), (QStringList {"SSHD", "NC"}));
    EXPECT_EQ(form->MainListView->topLevelItem(0)->text(5), "22(ssh)");
    EXPECT_EQ(form->StatText->text(), "Blocked intruders today : 2");
}

TEST_F(LogWindow, HalfMinuteRefreshShowsNewRecordsAndLeavesAnUnchangedLogBe)
{
    form->LogMenu()->findChild<QAction*>("Log4")->trigger();
    ASSERT_EQ(Applications(), QStringList {});
    const std::string today = platform::TrafficLogFileName(sandbox.logs, std::time(nullptr));
    testing_support::WriteText(today, ReadText(today) + Record("/usr/bin/nc", "NC", 1, 0, 25)
                                          + Record("/usr/bin/wget", "WGET", 1, 2, 443));
    emit form->HalfMinute();
    ASSERT_EQ(Applications(), (QStringList {"NC", "WGET"}));
    EXPECT_EQ(form->MainListView->topLevelItem(1)->text(5), "443"); // no name in this ports list

    panel::SortMainListView(3, 2, form.get()); // by application, descending
    form->MainListView->setCurrentItem(form->MainListView->topLevelItem(1));
    emit form->HalfMinute();
    EXPECT_EQ(Applications(), (QStringList {"WGET", "NC"}));
    EXPECT_EQ(form->MainListView->currentItem()->text(2), "NC");

    // Another view between two visits: the log is shown again, sorted as chosen.
    form->MainTreeView_NodeClick(form->MainTreeView->findItems("Curl", Qt::MatchExactly | Qt::MatchRecursive).first());
    form->LogMenu()->findChild<QAction*>("Log4")->trigger();
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
    form->LogMenu()->findChild<QAction*>("Log4")->trigger();
    const auto addresses = [&] {
        QStringList shown;
        for (int i = 0; i < form->MainListView->topLevelItemCount(); ++i)
            shown << form->MainListView->topLevelItem(i)->text(4);
        return shown;
    };
    panel::SortMainListView(5, 1, form.get());
    EXPECT_EQ(addresses(), (QStringList {"9.1.1.1", "10.0.0.9", "10.0.0.10", "2001:db8::2", "fd00::9", "fd00::10"}));
    panel::SortMainListView(5, 2, form.get());
    EXPECT_EQ(addresses(), (QStringList {"fd00::10", "fd00::9", "2001:db8::2", "10.0.0.10", "10.0.0.9", "9.1.1.1"}));
    // Other columns sort as they did.
    panel::SortMainListView(1, 1, form.get());
    EXPECT_EQ(addresses(), (QStringList {"fd00::10", "10.0.0.10", "2001:db8::2", "10.0.0.9", "fd00::9", "9.1.1.1"}));
}

TEST_F(LogWindow, AddingTheProgramOfALogRow)
{
    form->LogMenu()->findChild<QAction*>("Log3")->trigger();
    form->MainListView->setCurrentItem(form->MainListView->topLevelItem(0));
    form->AddNewLogMnu_Click();
    const panel::AppRecord nc = state.CurrBuffer.GetAppFromBuffer("NC");
    ASSERT_TRUE(nc);
    EXPECT_EQ(nc->InDef, "ASK");
    EXPECT_EQ(nc->OutDef, "PERMIT");
    EXPECT_EQ(nc->AppPath, "/usr/bin/nc");
    EXPECT_EQ(state.Pic2WindowText, " NC");
    EXPECT_NE(ReadText(sandbox.rulesFile).find("<EXENAME>NC</EXENAME>"), std::string::npos);
    EXPECT_TRUE(state.EnteredLogMenu);
    EXPECT_EQ(form->MainTreeView->currentItem()->text(0), "Nc");
}

TEST_F(LogWindow, ApplicationViewShowsItsStatistics)
{
    form->MainTreeView_NodeClick(form->MainTreeView->findItems("Curl", Qt::MatchExactly | Qt::MatchRecursive).first());
    EXPECT_TRUE(form->AppStatFrame->isVisibleTo(form.get()));
    EXPECT_EQ(form->AppStatText->text().toStdString(),
              "Application last time accessed : 08.12.2026 09:30:00\nRemote ports used : 80\nLocal ports used : \n");
}

TEST_F(LogWindow, HelpMenuOpensThePagesAndTheMail)
{
    for (const char* item : {"HelpSiteMnu", "HXSiteMnu", "ContactMnu"})
        form->HelpMenu()->findChild<QAction*>(item)->trigger();
    ASSERT_EQ(opened.size(), 3);
    EXPECT_TRUE(opened[0].startsWith("file:///")) << opened[0].toStdString();
    EXPECT_EQ(opened[1], "https://tessary.org/");
    EXPECT_EQ(opened[2], "mailto:support@tessary.org?subject=Korvel Personal Firewall");
}

TEST_F(LogWindow, OptionsLoadAndStoreInTheirOrder)
{
    ASSERT_TRUE(platform::autostart::Enable("/usr/local/bin/zel"));
    state.Settings.LoadAtStartup = "/usr/local/bin/zel";
    {
        ToolsOption options(*form, form.get());
        EXPECT_EQ(options.windowTitle(), "  General Settings");
        EXPECT_TRUE(options.SecondOpt->isChecked());
        EXPECT_EQ(options.LogFiles->text(), "30");
        EXPECT_TRUE(options.StartupCheck->isChecked());
        EXPECT_FALSE(options.UdpModeCheck->isChecked());
        EXPECT_FALSE(options.ApplySettingsCheck->isChecked());
        // Unchanged ApplySettings is not written; autostart goes with its entry.
        sandbox.DeleteSetting("ApplySettings");
        options.LogFiles->setText("7");
        options.UdpModeCheck->setChecked(true);
        options.StartupCheck->setChecked(false);
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("LogFileCount"), "7");
    EXPECT_EQ(Setting("UpdFullMode"), "1");
    EXPECT_EQ(Setting("ApplySettings"), "");
    EXPECT_EQ(platform::autostart::Program(), "");
    EXPECT_NE(::access(platform::autostart::EntryPath().c_str(), F_OK), 0);

    // A number of days that is not a number: written, and nothing after it.
    ToolsOption options(*form, form.get());
    options.LogFiles->setText("a week");
    options.UdpModeCheck->setChecked(false);
    options.ApplySettingsCheck->setChecked(true);
    options.OkBtn->click();
    EXPECT_EQ(Setting("LogFileCount"), "a week");
    EXPECT_EQ(Setting("UpdFullMode"), "1");
    EXPECT_EQ(Setting("ApplySettings"), "");
    EXPECT_NE(options.result(), QDialog::Accepted); // the dialog stays
}

// What answers a question nobody can see: shown as zel-setup made it
// (Block after 30 s), written when the user changes it.
TEST_F(LogWindow, AwayAnswerIsChosenWithItsSeconds)
{
    sandbox.SetSetting("AwayAnswer", "2");
    sandbox.SetSetting("AwayTimeout", "30");
    {
        ToolsOption options(*form, form.get());
        EXPECT_EQ(options.AwayAnswerCombo->currentText(), "Block");
        EXPECT_EQ(options.AwayTimeoutSeconds->value(), 30);
        options.AwayAnswerCombo->setCurrentIndex(1);
        options.AwayTimeoutSeconds->setValue(0);
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("AwayAnswer"), "1");
    EXPECT_EQ(Setting("AwayTimeout"), "0");
    ToolsOption options(*form, form.get());
    EXPECT_EQ(options.AwayAnswerCombo->currentText(), "Allow");
    EXPECT_EQ(options.AwayTimeoutSeconds->value(), 0);
}

TEST_F(LogWindow, JournalRecordsAreOffUntilChosen)
{
    {
        ToolsOption options(*form, form.get());
        EXPECT_FALSE(options.JournalRecordsCheck->isChecked());
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("JournalRecords"), ""); // nothing chosen, nothing written
    {
        ToolsOption options(*form, form.get());
        options.JournalRecordsCheck->setChecked(true);
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("JournalRecords"), "1");
    ToolsOption options(*form, form.get());
    EXPECT_TRUE(options.JournalRecordsCheck->isChecked());
    options.JournalRecordsCheck->setChecked(false);
    options.OkBtn->click();
    EXPECT_EQ(Setting("JournalRecords"), "0");
}

TEST_F(LogWindow, AlertTimeOutIsOffUntilChosenAndKeptAsSeconds)
{
    {
        ToolsOption options(*form, form.get());
        EXPECT_FALSE(options.AlertTimeoutCheck->isChecked());
        EXPECT_FALSE(options.AlertTimeoutSeconds->isEnabled());
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("AlertTimeout"), ""); // nothing chosen, nothing written
    {
        ToolsOption options(*form, form.get());
        options.AlertTimeoutCheck->setChecked(true);
        options.AlertTimeoutSeconds->setValue(45);
        options.OkBtn->click();
    }
    EXPECT_EQ(Setting("AlertTimeout"), "45");
    ToolsOption options(*form, form.get());
    EXPECT_TRUE(options.AlertTimeoutCheck->isChecked());
    EXPECT_EQ(options.AlertTimeoutSeconds->value(), 45);
    options.AlertTimeoutCheck->setChecked(false);
    options.OkBtn->click();
    EXPECT_EQ(Setting("AlertTimeout"), "0");
}
